#include "Design.h"
#include "core/editor/ElementParameters.h"
#include "core/io/LatticeFile.h"
#include "core/optics/BetaFunctions.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace kestrune::python {
namespace {

Design example(const std::string& name)
{
    return openDesign(std::string(KESTRUNE_EXAMPLES) + "/" + name);
}

std::pair<double, double> ringTunes(const State& state)
{
    State ring = state;
    QuietMessages quiet;
    if (!betaFunctions(ring, quiet, nullptr))
        return {std::numeric_limits<double>::quiet_NaN(), 0.0};
    return {ring.lf.tuneX, ring.lf.tuneY};
}

// What a user does in the element panel for the same change: the type button clicked (0: none) and the
// text typed into a cell, in the panel's unit.
struct PanelEdit
{
    const char* file;
    int element;
    const char* attribute;
    double value;
    int button;
    int column, row;
    const char* typed;
};

// The example with every stored field at the panel's five decimals, so that accepting the panel as it
// shows the element changes only what was typed.
Design shownAsStored(const std::string& name)
{
    Design design = example(name);
    for (int i = 1; i <= design.state.line.count; ++i) {
        LatticeElement& e = design.state.line.at(i);
        e.curvature = std::round(e.curvature * 1e5) / 1e5;
    }
    return design;
}

TEST(ElementPanel, AnAttributeChangesTheDesignAsTheValueTypedIntoThePanel)
{
    const PanelEdit edits[] = {
        {"fodo-cell.lat", 1, "k", 3.25, 0, 1, 4, "3.25"},
        {"fodo-cell.lat", 5, "k", -2.75, 0, 1, 4, "2.75"},  // the defocusing button shows the sign
        {"fodo-cell.lat", 5, "k", 0.5, 1, 1, 4, "0.5"},     // a positive k: the focusing button
        {"fodo-cell.lat", 3, "gap", 0.025, 0, 1, 7, "2.5"}, // the panel's gap is in cm
        {"fodo-cell.lat", 3, "curvature", 0.17, 0, 1, 4, "0.17"},
        {"fodo-cell.lat", 2, "length", 0.45, 0, 1, 3, "0.45"}, // the elements behind move
        {"dba-cell.lat", 16, "m", 12.5, 0, 1, 4, "12.5"},
        {"dba-cell.lat", 2, "pump_speed", 250, 0, 1, 4, "250"},
        {"ion-line.lat", 2, "k", 1500, 0, 1, 4, "1.5"}, // an einzel lens's voltage is in kV
    };
    for (const PanelEdit& edit : edits) {
        SCOPED_TRACE(std::string(edit.file) + " " + std::to_string(edit.element) + " " + edit.attribute);
        Design byAttribute = shownAsStored(edit.file);
        setElementParameter(byAttribute.state, edit.element, edit.attribute, edit.value);

        Design byPanel = shownAsStored(edit.file);
        PanelSettings settings;
        PanelView view = showParameter(byPanel.state, edit.element, settings);
        if (edit.button)
            view = rbMTypeClick(byPanel.state, edit.element, edit.button, settings);
        view.grid.cell(edit.column, edit.row) = edit.typed;
        RecordingMessages messages;
        ASSERT_TRUE(acceptData(byPanel.state, edit.element, view.grid, settings, messages));

        // the same record and the same passes: the same numbers, not merely close ones
        EXPECT_EQ(designText(byAttribute.state), designText(byPanel.state));
        const auto [qx, qy] = ringTunes(byAttribute.state);
        const auto [px, py] = ringTunes(byPanel.state);
        EXPECT_EQ(qx, px);
        EXPECT_EQ(qy, py);
    }
}

TEST(ElementPanel, ARefusedValueThrowsThePanelsMessageAndKeepsTheDesign)
{
    const struct
    {
        int element;
        const char* attribute;
        double value;
        const char* message;
    } refusals[] = {
        {2, "length", -1, "the path length must not be negative!"},
        {1, "k", 2e9, "the gradient strength must be at most 1000000000!"},
        {3, "gap", 20, "the full magnet gap must be at most 10 m!"},
        {3, "curvature", 2e4, "the curvature must be at most 10000 1/m!"},
        {3, "ain", 0.1, "element 3 (bending magnet): its type sets 'ain', the panel does not take it"},
        {1, "m", 1, "element 1 (quadrupole) has no parameter 'm'"},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.attribute);
        Design design = example("fodo-cell.lat");
        const std::string before = designText(design.state);
        try {
            setElementParameter(design.state, r.element, r.attribute, r.value);
            ADD_FAILURE() << "accepted";
        } catch (const DesignError& e) {
            EXPECT_EQ(e.what(), std::string(r.message));
        }
        EXPECT_EQ(designText(design.state), before);
    }
}

TEST(ElementPanel, InsertedElementsTakeTheEditorsDefaultsAndRemoveClosesUp)
{
    Design design = example("fodo-cell.lat");
    const int count = design.state.line.count;
    const double length = design.state.line.length;
    insertElement(design.state, 2, "sextupole");
    EXPECT_EQ(design.state.line.count, count + 1);
    EXPECT_EQ(elementKind(design.state.line.at(2)), "sextupole");
    EXPECT_NEAR(design.state.line.at(3).s, design.state.line.at(2).s + design.state.line.at(2).length, 1e-12);
    removeElement(design.state, 2);
    EXPECT_EQ(design.state.line.count, count);
    EXPECT_NEAR(design.state.line.length, length, 1e-12);
    EXPECT_THROW(insertElement(design.state, 1, "wiggler"), DesignError);
    EXPECT_THROW(insertElement(design.state, count + 2, "drift space"), std::out_of_range);
}

TEST(ElementPanel, FieldsOfTheNewKindsAreAttributesInSIUnits)
{
    // each attribute set through the panel reaches its field at full precision and reads back; a value
    // the panel refuses raises and keeps the design
    const struct
    {
        const char* kind;
        const char* attribute;
        double value;
        double (*field)(const LatticeElement&);
    } rows[] = {
        {"thin multipole", "knl2", 1.0 / 3, [](const LatticeElement& e) { return e.knl.at(2); }},
        {"rf cavity", "voltage", 1.234567891e6, [](const LatticeElement& e) { return e.voltage; }},
        {"kicker", "vkick", 1e-4, [](const LatticeElement& e) { return e.vkick; }},
        {"marker", "aperture_b", 0.0125, [](const LatticeElement& e) { return e.aperture.a[1]; }},
        {"rf cavity", "voltage", -1, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.kind) + " " + row.attribute);
        Design design = example("fodo-cell.lat");
        insertElement(design.state, 2, row.kind);
        if (!row.field) {
            const std::string before = designText(design.state);
            EXPECT_THROW(setElementParameter(design.state, 2, row.attribute, row.value), DesignError);
            EXPECT_EQ(designText(design.state), before);
            continue;
        }
        setElementParameter(design.state, 2, row.attribute, row.value);
        EXPECT_EQ(row.field(design.state.line.at(2)), row.value);
        bool listed = false;
        for (const ElementParameter& p : elementParameters(design.state, 2))
            listed = listed || (p.name == row.attribute && p.value == row.value);
        EXPECT_TRUE(listed);
    }
}

} // namespace
} // namespace kestrune::python

#include "core/editor/ElementParameters.h"

#include "core/Kinematics.h"
#include "core/NumberInput.h"
#include "support/FakeMessages.h"

#include <gtest/gtest.h>
#include <tuple>

using namespace kestrune;

namespace {

// A line of drifts of 0.5 m with chained positions; tests give single elements their kind.
State lineOf(int count)
{
    State state;
    state.line.count = count;
    for (int i = 1; i <= count; ++i) {
        LatticeElement& el = state.line.at(i);
        el.code = code::kDrift;
        el.name = "D" + std::to_string(i);
        el.length = 0.5;
    }
    state.line.chainPositions();
    return state;
}

LatticeElement& bend(State& state, int e, int elementCode, double length, double h)
{
    LatticeElement& el = state.line.at(e);
    el.code = elementCode;
    el.length = length;
    el.curvature = h;
    state.line.chainPositions();
    return el;
}

} // namespace

TEST(ElementParameters, CommonRowsAndUnknownCodeOfAFamily)
{
    State state = lineOf(3);
    state.line.at(2).name = "";
    PanelSettings settings;
    PanelView view = showParameter(state, 2, settings);
    EXPECT_EQ(view.grid.cell(0, 0), " running index");
    EXPECT_EQ(view.grid.cell(1, 0), "2");
    EXPECT_EQ(view.grid.cell(0, 1), " drift space");
    EXPECT_EQ(view.grid.cell(1, 1), "Name");
    EXPECT_EQ(view.grid.cell(0, 2), " ID   ");
    EXPECT_EQ(view.grid.cell(1, 2), "1");
    EXPECT_EQ(view.grid.cell(1, 3), "   0.50000");
    EXPECT_EQ(view.grid.cell(2, 3), " m");
    EXPECT_TRUE(view.grid.cell(0, 4).empty());
    EXPECT_FALSE(view.typeButtonVisible[0] || view.typeButtonVisible[1] || view.typeButtonVisible[2]);
    EXPECT_FALSE(view.scrollVisible);
    EXPECT_FALSE(view.unitsVisible);

    // a family-1 code outside the table: drift label, the family's buttons, none checked, no type applied
    bend(state, 3, 14, 1.0, 0.1);
    view = showParameter(state, 3, settings);
    EXPECT_EQ(view.rowOneLabel, " drift space");
    EXPECT_EQ(view.typeButtonCaption[0], " rect.Magnet");
    EXPECT_EQ(view.checkedButton, 0);
    EXPECT_EQ(settings.typeChoice, 0);
    EXPECT_EQ(view.grid.cell(0, 8), " deflection angle");
    getData(state, 3, view.grid, settings);
    EXPECT_EQ(state.line.at(3).code, 14);
}

TEST(ElementParameters, SectorMagnetShowsDeflectionAndRectangularSetsPoleFaces)
{
    State state = lineOf(2);
    bend(state, 1, code::kSectorBend, 1.0, 0.1).gap = 0.03;
    PanelSettings settings;
    PanelView view = showParameter(state, 1, settings);
    EXPECT_EQ(view.rowOneLabel, " sector magnet ");
    EXPECT_EQ(view.grid.cell(1, 8), "   5.72958");
    EXPECT_EQ(view.grid.cell(2, 8), " degrees");
    EXPECT_EQ(view.grid.cell(1, 7), "   3.00000");
    EXPECT_EQ(view.grid.cell(0, 6), " pole face angles: Ain/Aout(rad)");
    EXPECT_EQ(view.checkedButton, 2);
    EXPECT_EQ(settings.typeChoice, 2); // the check moved from button 1 and acted as a click
    EXPECT_TRUE(view.unitsVisible);
    EXPECT_EQ(view.typeButtonCaption[1], " sector Magnet");

    view = rbMTypeClick(state, 1, 1, settings);
    EXPECT_EQ(state.line.at(1).code, code::kRectangularBend);
    EXPECT_NEAR(state.line.at(1).ain, 0.05, 1e-15);
    EXPECT_NEAR(state.line.at(1).aout, 0.05, 1e-15);
    EXPECT_EQ(view.grid.cell(1, 6), "   0.05000");
    EXPECT_EQ(view.rowOneLabel, " rect. magnet ");
    EXPECT_EQ(view.checkedButton, 1);

    view = rbMTypeClick(state, 1, 3, settings);
    EXPECT_EQ(state.line.at(1).code, code::kWedgeBend);
    EXPECT_NEAR(state.line.at(1).ain, 0.05, 1e-15); // wedge keeps its angles
    view = rbMTypeClick(state, 1, 2, settings);
    EXPECT_EQ(state.line.at(1).ain, 0.0);
}

TEST(ElementParameters, FillRunsTheTypeHandlerOnlyWhenTheCheckChanges)
{
    State state = lineOf(1);
    bend(state, 1, code::kRectangularBend, 1.0, 0.2);
    PanelSettings settings; // button 1 is checked when the window starts
    showParameter(state, 1, settings);
    EXPECT_EQ(state.line.at(1).ain, 0.0);

    settings.checkedButton = 3;
    showParameter(state, 1, settings);
    EXPECT_NEAR(state.line.at(1).ain, 0.1, 1e-15);
    EXPECT_EQ(settings.typeChoice, 1);
}

TEST(ElementParameters, PoleFaceAnglesInDegreesRoundTrip)
{
    State state = lineOf(1);
    LatticeElement& el = bend(state, 1, code::kWedgeBend, 1.0, 0.1);
    el.ain = 0.05;
    el.aout = -0.02;
    PanelSettings settings;
    PanelView view = showParameter(state, 1, settings);

    cbUnitsChange(state, 1, true, settings, view.grid);
    EXPECT_EQ(view.grid.cell(0, 6), " Pole Face Angles: Ain/Aout(deg)");
    EXPECT_EQ(view.grid.cell(1, 6), "   2.86479");
    EXPECT_EQ(view.grid.cell(2, 6), "  -1.14592");
    EXPECT_FALSE(settings.anglesInRadians);

    el.ain = 0;
    el.aout = 0;
    getData(state, 1, view.grid, settings);
    // 2.86479 degrees carries 6 digits: 0.05 rad to within 1e-7
    EXPECT_NEAR(el.ain, 0.05, 1e-7);
    EXPECT_NEAR(el.aout, -0.02, 1e-7);
    EXPECT_EQ(el.code, code::kWedgeBend);

    // the fill follows the unit, and switching back rewrites the cells from the record
    view = showParameter(state, 1, settings);
    EXPECT_EQ(view.grid.cell(1, 6), "   2.86479");
    view.grid.cell(1, 6) = "9.9";
    cbUnitsChange(state, 1, false, settings, view.grid);
    EXPECT_EQ(view.grid.cell(1, 6), "   0.05000");
    EXPECT_EQ(view.grid.cell(0, 6), " pole face angles: Ain/Aout(rad)");
    EXPECT_DOUBLE_EQ(settings.angleFactor, 1.0);
}

TEST(ElementParameters, BendReadsCurvatureGapAndType)
{
    State state = lineOf(1);
    bend(state, 1, code::kSectorBend, 2.0, 0.1);
    PanelSettings settings;
    PanelView view = showParameter(state, 1, settings);
    view.grid.cell(1, 4) = "0";
    view.grid.cell(1, 5) = "-0.5";
    view.grid.cell(1, 7) = "4.0";
    view.grid.cell(1, 6) = "0.3";
    settings.typeChoice = 3;
    getData(state, 1, view.grid, settings);
    const LatticeElement& el = state.line.at(1);
    EXPECT_EQ(el.curvature, 1e-10);
    EXPECT_EQ(el.k, -0.5);
    EXPECT_NEAR(el.gap, 0.04, 1e-15);
    EXPECT_EQ(el.code, code::kWedgeBend);
    EXPECT_EQ(el.ain, 0.3);

    view.grid.cell(1, 4) = "0.25";
    settings.typeChoice = 1;
    getData(state, 1, view.grid, settings);
    EXPECT_EQ(el.code, code::kRectangularBend);
    EXPECT_NEAR(el.ain, 0.25, 1e-15); // L h / 2 replaces the typed angle
}

TEST(ElementParameters, QuadrupoleSignFollowsTheTypeButton)
{
    State state = lineOf(2);
    state.drawScale = 2.0;
    LatticeElement& el = state.line.at(2);
    el.code = code::kQuadrupole;
    el.k = 1.0;
    PanelSettings settings;
    PanelView view = showParameter(state, 2, settings);
    EXPECT_EQ(view.rowOneLabel, " foc. quadrupole ");
    EXPECT_TRUE(view.scrollVisible);
    EXPECT_FALSE(view.typeButtonVisible[2]);
    EXPECT_EQ(view.checkedButton, 1);
    EXPECT_EQ(view.grid.cell(0, 4), " quadrupole strength ");

    view.grid.cell(1, 4) = "-2.5";
    getData(state, 2, view.grid, settings);
    const ElementShape& shape = state.line.shape(2);
    EXPECT_EQ(el.k, 2.5);
    EXPECT_EQ(shape.colour, colour::kRed);
    EXPECT_DOUBLE_EQ(shape.y0, -120.0);
    EXPECT_DOUBLE_EQ(shape.y1, -104.0); // above the baseline

    view = rbMTypeClick(state, 2, 2, settings);
    EXPECT_EQ(el.k, -2.5);
    EXPECT_EQ(view.rowOneLabel, " defoc. quadrupole ");
    view.grid.cell(1, 4) = "-2.5";
    getData(state, 2, view.grid, settings);
    EXPECT_EQ(el.k, -2.5);
    EXPECT_EQ(shape.colour, colour::kGreen);
    EXPECT_DOUBLE_EQ(shape.y0, -120.0);
    EXPECT_DOUBLE_EQ(shape.y1, -136.0); // below the baseline

    // the type handler enforces the quadrupole's conventions
    el.code = code::kQuadrupoleOld1;
    el.m = 3;
    el.ain = 0.1;
    rbMTypeClick(state, 2, 1, settings);
    EXPECT_EQ(el.code, code::kQuadrupole);
    EXPECT_EQ(el.k, 2.5);
    EXPECT_EQ(el.m, 0.0);
    EXPECT_EQ(el.ain, 0.0);
    EXPECT_EQ(shape.colour, colour::kRed);
}

TEST(ElementParameters, SextupoleSigns)
{
    State state = lineOf(1);
    LatticeElement& el = state.line.at(1);
    el.code = code::kSextupoleD;
    el.m = -7;
    PanelSettings settings;
    PanelView view = showParameter(state, 1, settings);
    EXPECT_EQ(view.checkedButton, 2);
    EXPECT_EQ(view.grid.cell(0, 4), " sextupole Strength ");
    EXPECT_EQ(view.grid.cell(2, 4), "1/m^3");
    view.grid.cell(1, 4) = "4.0";
    getData(state, 1, view.grid, settings);
    EXPECT_EQ(el.m, 4.0); // as typed, though SD
    EXPECT_EQ(el.code, code::kSextupoleD);

    rbMTypeClick(state, 1, 1, settings);
    EXPECT_EQ(el.code, code::kSextupoleF);
    EXPECT_EQ(el.m, 4.0);
    el.k = 0.3;
    rbMTypeClick(state, 1, 2, settings);
    EXPECT_EQ(el.code, code::kSextupoleD);
    EXPECT_EQ(el.m, -4.0);
    EXPECT_EQ(el.k, 0.0);
    rbMTypeClick(state, 1, 3, settings);
    EXPECT_EQ(el.code, code::kSextupoleSpecial);
    EXPECT_EQ(el.m, -4.0);
}

TEST(ElementParameters, LinacEinzelLensAndElectrostaticUnits)
{
    State state = lineOf(3);
    LatticeElement& linac = state.line.at(1);
    linac.code = code::kLinac;
    linac.length = 2.0;
    linac.linacField = 1e7;
    state.line.chainPositions();
    PanelSettings settings;
    PanelView view = showParameter(state, 1, settings);
    EXPECT_EQ(view.rowOneLabel, " linac section");
    EXPECT_EQ(view.grid.cell(1, 4), "     10.00");
    EXPECT_EQ(view.grid.cell(0, 5), " energy gain ");
    EXPECT_EQ(view.grid.cell(1, 5), "  20.000");
    EXPECT_EQ(view.grid.cell(2, 5), " MeV");
    linac.linacField = 0;
    getData(state, 1, view.grid, settings);
    EXPECT_DOUBLE_EQ(linac.linacField, 1e7);

    LatticeElement& lens = state.line.at(2);
    lens.code = code::kEinzelLens;
    lens.k = 1234.567;
    view = showParameter(state, 2, settings);
    EXPECT_EQ(view.grid.cell(1, 4), "      1.23");
    EXPECT_EQ(view.grid.cell(2, 4), " kVolt");
    getData(state, 2, view.grid, settings);
    EXPECT_DOUBLE_EQ(lens.k, 1230.0);

    LatticeElement& acc = state.line.at(3);
    acc.code = code::kElectrostatic;
    view = showParameter(state, 3, settings);
    EXPECT_EQ(view.grid.cell(0, 5), " number of electrodes");
    view.grid.cell(1, 4) = "100";
    view.grid.cell(1, 5) = "5";
    getData(state, 3, view.grid, settings);
    EXPECT_DOUBLE_EQ(acc.energyGain, 1e5);
    EXPECT_EQ(acc.electrodes, 5.0);
    EXPECT_DOUBLE_EQ(acc.k, 25000.0);
    view.grid.cell(1, 5) = "1.4";
    getData(state, 3, view.grid, settings);
    EXPECT_EQ(acc.electrodes, 10.0);
    EXPECT_NEAR(acc.k, 1e5 / 9, 1e-9);
    view = showParameter(state, 3, settings);
    EXPECT_EQ(view.grid.cell(1, 4), " 100.000");
    EXPECT_EQ(view.grid.cell(1, 5), "  10.000");
}

TEST(ElementParameters, VacuumPumpShowsZeroLength)
{
    State state = lineOf(2);
    LatticeElement& pump = state.line.at(2);
    pump.code = code::kPump;
    pump.pumpSpeed = 100;
    pump.length = 0.2;
    PanelSettings settings;
    roundTripPanel(state, 2, settings);
    EXPECT_EQ(pump.length, 0.0);
    EXPECT_EQ(pump.pumpSpeed, 100.0);
    PanelView view = showParameter(state, 2, settings);
    EXPECT_EQ(view.rowOneLabel, " vacuum pump ");
    EXPECT_EQ(view.grid.cell(1, 3), " 0.0");
    EXPECT_EQ(view.grid.cell(1, 4), "    100.00");
    EXPECT_EQ(view.grid.cell(2, 4), " lt/sec");
    EXPECT_FALSE(view.typeButtonVisible[0]);
    // the shape of a pump is centred on s
    EXPECT_NEAR(state.line.shape(2).x0, 0.5 - 0.015, 1e-12);
    EXPECT_NEAR(state.line.shape(2).x1, 0.5 + 0.015, 1e-12);
}

TEST(ElementParameters, AlphaMagnetGradientAndMomentum)
{
    State state = lineOf(1);
    updateKinematics(state.beam, EnergyKind::Momentum, 1e9);
    state.beam.referenceMomentum = 1e9;
    LatticeElement& el = state.line.at(1);
    el.code = code::kAlphaFull;
    el.k = 360;
    PanelSettings settings;
    PanelView view = showParameter(state, 1, settings);
    EXPECT_EQ(view.checkedButton, 3);
    EXPECT_EQ(view.grid.cell(1, 3), "0.0");
    view.grid.cell(1, 4) = "250";
    view.grid.cell(1, 5) = "2.5";
    getData(state, 1, view.grid, settings);
    EXPECT_NEAR(el.k, 300.0, 1e-12);
    EXPECT_DOUBLE_EQ(state.beam.momentum, 2.5e6);
    EXPECT_DOUBLE_EQ(state.beam.referenceMomentum, 2.5e6);

    view = showParameter(state, 1, settings);
    EXPECT_EQ(view.grid.cell(1, 4), " 250.000");
    EXPECT_EQ(view.grid.cell(1, 5), "   2.500");
    // sqrt(cp0/mc2/k) = 0.12770 for 2.5 MeV electrons and k = 300
    EXPECT_EQ(view.grid.cell(1, 6), "  24.475");
    EXPECT_EQ(view.grid.cell(1, 7), "   9.584");
    EXPECT_EQ(view.grid.cell(1, 8), "   0.122");
    EXPECT_EQ(view.grid.cell(2, 8), " cm/%");

    view.grid.cell(1, 5) = "-1";
    view.grid.cell(1, 4) = "0";
    settings.typeChoice = 1;
    getData(state, 1, view.grid, settings);
    EXPECT_DOUBLE_EQ(state.beam.referenceMomentum, 2.5e6);
    EXPECT_EQ(el.code, code::kAlphaFirstHalf);
    // no orbit without a gradient: no inf or nan in the panel
    view = showParameter(state, 1, settings);
    EXPECT_EQ(view.grid.cell(1, 6), "");
    EXPECT_EQ(view.grid.cell(1, 8), "");
}

TEST(ElementParameters, NameIsKeptWholeAndLengthChangeMovesLaterElements)
{
    State state = lineOf(10);
    state.line.at(7).code = code::kPump;
    for (int i = 1; i <= 10; ++i)
        state.line.shape(i) = ElementShape{state.line.at(i).s, state.line.at(i).s + 0.5, 0, 0, {}, {}, ""};
    PanelSettings settings;
    PanelView view = showParameter(state, 3, settings);
    view.grid.cell(1, 1) = "QUADRUPOLE";
    view.grid.cell(1, 3) = "1.25";
    getData(state, 3, view.grid, settings);
    EXPECT_EQ(state.line.at(3).name, "QUADRUPOLE");
    EXPECT_EQ(state.line.at(3).length, 1.25);
    EXPECT_DOUBLE_EQ(state.line.at(3).s, 1.0);
    EXPECT_DOUBLE_EQ(state.line.at(4).s, 2.25);
    EXPECT_DOUBLE_EQ(state.line.at(10).s, 5.25);
    EXPECT_DOUBLE_EQ(state.line.shape(4).x0, 2.25);
    EXPECT_DOUBLE_EQ(state.line.shape(4).x1, 2.75);
    EXPECT_DOUBLE_EQ(state.line.shape(7).x0, 3.75 - 0.015);
    EXPECT_DOUBLE_EQ(state.line.shape(2).x0, 0.5); // in front of the element: untouched
    EXPECT_DOUBLE_EQ(state.line.length, 5.75);

    // the same length typed again moves nothing
    state.line.at(5).s = 99;
    view = showParameter(state, 3, settings);
    getData(state, 3, view.grid, settings);
    EXPECT_EQ(state.line.at(5).s, 99.0);
}

TEST(ElementParameters, NonNumberStopsReadingAndKeepsEarlierFields)
{
    State state = lineOf(3);
    LatticeElement& el = bend(state, 2, code::kWedgeBend, 0.5, 0.1);
    el.k = 0.7;
    el.gap = 0.02;
    PanelSettings settings;
    PanelView view = showParameter(state, 2, settings);
    view.grid.cell(1, 1) = "BENDING";
    view.grid.cell(1, 3) = "1.0";
    view.grid.cell(1, 4) = "0.2";
    view.grid.cell(1, 5) = "x";
    view.grid.cell(1, 7) = "9";
    settings.unitsBoxDegrees = true;
    try {
        getData(state, 2, view.grid, settings);
        FAIL() << "no conversion error";
    } catch (const ConversionError& error) {
        EXPECT_STREQ(error.what(), "'x' is not a valid floating point value");
    }
    EXPECT_EQ(el.name, "BENDING");
    EXPECT_EQ(el.length, 1.0);
    EXPECT_DOUBLE_EQ(state.line.at(3).s, 1.5);
    EXPECT_EQ(el.curvature, 0.2);
    EXPECT_EQ(el.k, 0.7);
    EXPECT_EQ(el.gap, 0.02);
    EXPECT_TRUE(settings.anglesInRadians); // the unit is taken only after the gradient
    EXPECT_DOUBLE_EQ(state.line.length, 2.0);
}

TEST(ElementParameters, RoundTripStoresWhatThePanelShows)
{
    State state = lineOf(3);
    LatticeElement& el = state.line.at(2);
    el.code = code::kQuadrupole;
    el.length = 0.123456789;
    el.k = -1.234567891;
    el.name = "";
    state.line.chainPositions();
    PanelSettings settings;
    const PanelView view = roundTripPanel(state, 2, settings);
    EXPECT_EQ(view.checkedButton, 2);
    EXPECT_EQ(el.name, "Name");
    EXPECT_DOUBLE_EQ(el.length, 0.12346);
    EXPECT_DOUBLE_EQ(el.k, -1.23457);
    EXPECT_DOUBLE_EQ(state.line.at(3).s, 0.62346);
    EXPECT_EQ(state.line.shape(2).colour, colour::kGreen);
    test::FakeMessages messages;
    EXPECT_TRUE(acceptData(state, 2, view.grid, settings, messages));
    EXPECT_DOUBLE_EQ(state.line.length, 1.12346);
    EXPECT_TRUE(messages.errors.empty());
}

TEST(ElementParameters, NegativeLengthIsRefusedBeforeAnythingIsStored)
{
    State state = lineOf(3);
    state.line.at(2).code = code::kQuadrupole;
    state.line.at(2).k = 1.5;
    state.line.length = state.line.endPosition();
    PanelSettings settings;
    PanelView view = showParameter(state, 2, settings);
    const LatticeElement before = state.line.at(2);
    const double s3 = state.line.at(3).s;
    const double length = state.line.length;
    view.grid.cell(1, 1) = "QNEW";
    view.grid.cell(1, 3) = "-1.0";
    view.grid.cell(1, 4) = "3.5";
    test::FakeMessages messages;
    EXPECT_FALSE(acceptData(state, 2, view.grid, settings, messages));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0], "the path length must not be negative!");
    EXPECT_EQ(state.line.at(2).name, before.name);
    EXPECT_DOUBLE_EQ(state.line.at(2).length, before.length);
    EXPECT_DOUBLE_EQ(state.line.at(2).k, before.k);
    EXPECT_DOUBLE_EQ(state.line.at(3).s, s3);
    EXPECT_DOUBLE_EQ(state.line.length, length);

    // a length of 0 is a thin element, and a length that is no number stops at its cell as before
    view.grid.cell(1, 3) = "0";
    EXPECT_TRUE(acceptData(state, 2, view.grid, settings, messages));
    view.grid.cell(1, 3) = "abc";
    EXPECT_THROW(acceptData(state, 2, view.grid, settings, messages), ConversionError);
    EXPECT_EQ(messages.errors.size(), 1u);

    // values no lattice file would take back are refused with the field's words, nothing stored
    view = showParameter(state, 2, settings);
    const LatticeElement accepted = state.line.at(2);
    for (const auto& [cell, text, refusal] :
         {std::tuple{3, "1e6", "the path length must be at most 100000 m!"},
          std::tuple{4, "1e300", "the gradient strength must be at most 1000000000!"},
          std::tuple{1, "Q\x1b[1m", "the element name 'Q\\x1B[1m' holds a control character"}}) {
        PanelView edited = view;
        edited.grid.cell(1, cell) = text;
        EXPECT_FALSE(acceptData(state, 2, edited.grid, settings, messages));
        EXPECT_EQ(messages.errors.back(), refusal);
        EXPECT_DOUBLE_EQ(state.line.at(2).length, accepted.length);
        EXPECT_DOUBLE_EQ(state.line.at(2).k, accepted.k);
        EXPECT_EQ(state.line.at(2).name, accepted.name);
    }
    // a name of any length is kept whole, without the blanks around it
    view.grid.cell(1, 1) = " QF1.Arc_Long_Name ";
    EXPECT_TRUE(acceptData(state, 2, view.grid, settings, messages));
    EXPECT_EQ(state.line.at(2).name, "QF1.Arc_Long_Name");
}

TEST(ElementParameters, RowsOfTheNewKindsStoreTheirFieldOrRefuseNamingTheBox)
{
    // a value typed into the row of its label reaches its field in SI units; one outside the box's range
    // (or an aperture that is none of the five words, or a circle of no radius) is refused with the
    // box's words and leaves the element as it was
    const struct
    {
        int code;
        const char* label;
        int column;
        const char* typed;
        double (*field)(const LatticeElement&);
        double expected;
        const char* refusal;
    } rows[] = {
        {code::kThinMultipole, " knl / ksl order 2 (1/m^2)", 1, "3.5",
         [](const LatticeElement& e) { return e.knl.at(2); }, 3.5, ""},
        {code::kThinMultipole, " knl / ksl order 9 (1/m^9)", 2, "-2",
         [](const LatticeElement& e) { return e.ksl.at(9); }, -2, ""},
        {code::kThinMultipole, " knl / ksl order 1 (1/m)", 1, "2e15", nullptr, 0, "the multipole strength"},
        {code::kOctupole, " octupole strength k3", 1, "120", [](const LatticeElement& e) { return e.k3; },
         120, ""},
        {code::kKicker, " vertical kick", 1, "1e-3", [](const LatticeElement& e) { return e.vkick; }, 1e-3,
         ""},
        {code::kHorizontalKicker, " horizontal kick", 1, "2", nullptr, 0, "the kick"},
        {code::kRfCavity, " cavity voltage", 1, "1.5e6", [](const LatticeElement& e) { return e.voltage; },
         1.5e6, ""},
        {code::kRfCavity, " cavity voltage", 1, "-1", nullptr, 0, "the cavity voltage"},
        {code::kRfCavity, " harmonic number", 1, "2.5", nullptr, 0, "the harmonic number"},
        {code::kQuadrupole, " skew gradient k1s", 1, "0.2", [](const LatticeElement& e) { return e.k1s; },
         0.2, ""},
        {code::kSectorBend, " roll angle (tilt)", 1, "7", nullptr, 0, "the roll angle"},
        {code::kMarker, " aperture a / b (m)", 2, "0.02",
         [](const LatticeElement& e) { return e.aperture.a[1]; }, 0.02, ""},
        {code::kDrift, " aperture type", 1, "ellipse", nullptr, 0, "the aperture must be above"},
        {code::kDrift, " aperture type", 1, "hexagon", nullptr, 0, "the aperture type"},
    };
    for (const auto& row : rows) {
        State state = lineOf(3);
        LatticeElement& el = state.line.at(2);
        el.code = row.code;
        el.harmonic = row.code == code::kRfCavity ? 10 : 0;
        PanelSettings settings;
        PanelView view = showParameter(state, 2, settings);
        int r = 4;
        while (r < ParameterGrid::kRows && view.grid.cell(0, r) != row.label)
            ++r;
        ASSERT_LT(r, ParameterGrid::kRows) << row.label;
        view.grid.cell(row.column, r) = row.typed;
        const LatticeElement before = state.line.at(2);
        test::FakeMessages messages;
        const bool accepted = acceptData(state, 2, view.grid, settings, messages);
        if (row.field) {
            ASSERT_TRUE(accepted) << row.label << ": " << messages.errors.front();
            EXPECT_DOUBLE_EQ(row.field(state.line.at(2)), row.expected) << row.label;
            continue;
        }
        EXPECT_FALSE(accepted) << row.label;
        ASSERT_EQ(messages.errors.size(), 1u);
        EXPECT_EQ(messages.errors[0].rfind(row.refusal, 0), 0u) << messages.errors[0];
        EXPECT_EQ(state.line.at(2).k3, before.k3);
        EXPECT_EQ(state.line.at(2).voltage, before.voltage);
        EXPECT_EQ(state.line.at(2).knl, before.knl);
        EXPECT_EQ(state.line.at(2).aperture, before.aperture);
    }
}

TEST(ElementParameters, PlaneButtonsOfKickersAndMonitors)
{
    State state = lineOf(2);
    LatticeElement& el = state.line.at(1);
    el.code = code::kKicker;
    el.hkick = 1e-3;
    el.vkick = 2e-3;
    PanelSettings settings;
    PanelView view = showParameter(state, 1, settings);
    EXPECT_EQ(view.checkedButton, 3);
    // the horizontal button drops the vertical kick, which the panel no longer shows
    view = rbMTypeClick(state, 1, 1, settings);
    EXPECT_EQ(el.code, code::kHorizontalKicker);
    EXPECT_EQ(el.hkick, 1e-3);
    EXPECT_EQ(el.vkick, 0);
    state.line.at(2).code = code::kMarker;
    view = showParameter(state, 2, settings);
    EXPECT_FALSE(view.typeButtonVisible[0]);
}

TEST(ElementParameters, AcceptingTheNewKindsRowsKeepsEveryDigit)
{
    State state = lineOf(2);
    LatticeElement& el = state.line.at(1);
    el.code = code::kRfCavity;
    el.frequency = 1e9 / 3;
    el.lag = 1.0 / 7;
    el.aperture = ElementAperture{ApertureType::Ellipse, {0.1 / 3, 0.2 / 3, 0, 0}, 1e-3 / 9, 0};
    const LatticeElement before = el;
    PanelSettings settings;
    test::FakeMessages messages;
    ASSERT_TRUE(acceptData(state, 1, showParameter(state, 1, settings).grid, settings, messages));
    EXPECT_EQ(el.frequency, before.frequency);
    EXPECT_EQ(el.lag, before.lag);
    EXPECT_EQ(el.aperture, before.aperture);
}

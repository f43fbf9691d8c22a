#include "cli/Validation.h"

#include "cli/CouplingReport.h"
#include "cli/RingReport.h"
#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/Messages.h"
#include "core/chromaticity/Chromaticity.h"
#include "core/coupling/CoupledOptics.h"
#include "core/io/JsonInput.h"
#include "core/io/LatticeFile.h"
#include "core/optics/BetaFunctions.h"
#include "core/orbit/OrbitOptics.h"
#include "core/ring/Parameter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace kestrune {

namespace {

using Values = std::map<std::string, double>;

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

const char* const kRings[] = {"fodo-gradient",         "rect-wedge-gap",      "double-bend-sextupoles",
                              "reverse-bend-gradient", "coupled-double-bend", "double-bend-thin-sextupoles",
                              "double-bend-errors"};

Json readJson(const std::string& fileName)
{
    std::string problem;
    std::optional<Json> json = readJsonFile(fileName, problem);
    if (!json)
        throw std::runtime_error("cannot read " + fileName + ": " + problem);
    return std::move(*json);
}

// The misalignments of a ring's "errors" (by element name: dx, dy, ds, dtheta, dphi, dpsi, as MAD-X's
// EALIGN on every element of that name) put into its line.
void applyErrors(BeamLine& line, const Json& errors)
{
    for (const auto& [name, fields] : errors.items())
        for (int i = 1; i <= line.count; ++i) {
            LatticeElement& e = line.at(i);
            if (e.name != name)
                continue;
            for (const auto& [key, member] : {std::pair{"dx", &ElementErrors::dx},
                                              {"dy", &ElementErrors::dy},
                                              {"ds", &ElementErrors::ds},
                                              {"dtheta", &ElementErrors::dtheta},
                                              {"dphi", &ElementErrors::dphi},
                                              {"dpsi", &ElementErrors::dpsi}})
                if (fields.contains(key))
                    e.errors.*member = fields.at(key).get<double>();
        }
}

// The closed orbit at the monitors, x_m_at_monitor_N and y_m_at_monitor_N (N from 1 in ring order, over
// every superperiod), and the eigentunes tune_1, tune_2 of the optics about the orbit.
void addOrbitValues(const State& state, Values& v)
{
    const OrbitOptics optics = orbitOptics(state);
    if (!optics.computed)
        return;
    v["tune_1"] = optics.tune1;
    v["tune_2"] = optics.tune2;
    int n = 0;
    for (int p = 0; p < state.line.superPeriods; ++p)
        for (int i = 1; i <= state.line.count; ++i) {
            const int c = state.line.at(i).code;
            if (c < code::kHorizontalMonitor || c > code::kMonitor)
                continue;
            const PhaseVector& at = optics.orbit.orbit[static_cast<std::size_t>(i)];
            ++n;
            v["x_m_at_monitor_" + std::to_string(n)] = at.x;
            v["y_m_at_monitor_" + std::to_string(n)] = at.y;
        }
}

// What the program gives for the reference's names, computed as the ring window does: the periodic
// solution at the start of the cell, then geometry, ring pass, radiation integrals and equilibrium; for a
// ring with errors the closed orbit and the optics about it.
Values programValues(const std::string& latticeFile, const Json& ringReference)
{
    State state;
    startParticle(state);
    QuietMessages messages;
    if (!readLatticeFile(state, messages, latticeFile))
        throw std::runtime_error("cannot read " + latticeFile);
    if (ringReference.contains("errors")) {
        applyErrors(state.line, ringReference.at("errors"));
        Values v;
        addOrbitValues(state, v);
        return v;
    }
    Values v;
    State cell = state;
    if (periodicSolution(cell, messages) && cell.run.periodicStable) {
        const RunSettings& run = cell.run;
        v = {{"beta_x_m", run.betaX0}, {"alpha_x", run.alphaX0}, {"beta_y_m", run.betaY0},
             {"alpha_y", run.alphaY0}, {"eta_x_m", run.etaX0},   {"eta_px", run.etaPX0}};
    }
    if (lineCouples(state.line)) {
        // the coupled optics: eigentunes and Edwards-Teng functions at the cell start, as MAD-X's TWISS
        const CoupledRing ring = coupledRing(state);
        if (ring.computed) {
            const EdwardsTeng& et = ring.functions.front().et;
            for (const auto& [name, value] : Values{{"tune_1", ring.tune1},
                                                    {"tune_2", ring.tune2},
                                                    {"beta_1_m", et.betaX},
                                                    {"alpha_1", et.alphaX},
                                                    {"beta_2_m", et.betaY},
                                                    {"alpha_2", et.alphaY},
                                                    {"r11", et.r11},
                                                    {"r12", et.r12},
                                                    {"r21", et.r21},
                                                    {"r22", et.r22}})
                v[name] = value;
        }
        // the mode emittances of the equilibrium, as the report's coupling section gives them
        const Json coupling = couplingSection(state);
        for (const char* key : {"emittance_1_m", "emittance_2_m", "emittance_3_m"})
            if (coupling.contains(key) && coupling.at(key).is_number())
                v[key] = coupling.at(key).get<double>();
    }
    BatchInputs inputs;
    inputs.couplingPercent = 0;
    if (!computeRing(state, messages, inputs))
        return v;
    const RingParameters& r = state.ringParams;
    for (const auto& [name, value] : Values{{"tune_x", r.tuneX},
                                            {"tune_y", r.tuneY},
                                            {"circumference_m", r.circumference},
                                            {"momentum_compaction", r.momentumCompaction},
                                            {"i1", r.i1},
                                            {"i2", r.i2},
                                            {"i3", r.i3},
                                            {"i4", r.i4},
                                            {"i5", r.i5},
                                            {"natural_chromaticity_x", r.chromaticityX},
                                            {"natural_chromaticity_y", r.chromaticityY},
                                            {"damping_partition_x", dampingPartitionX(r)},
                                            {"natural_emittance_m", r.emittanceX + r.emittanceY},
                                            {"energy_loss_ev", r.energyLoss}})
        v[name] = value;
    if (const std::optional<ChromaticityCorrection> c = latticeChromaticity(state, messages)) {
        v["chromaticity_with_sextupoles_x"] = c->correctedX;
        v["chromaticity_with_sextupoles_y"] = c->correctedY;
    }
    return v;
}

// Sources of reference.json's numbers, as its README names them.
std::string referenceSource(const std::string& quantity)
{
    if (quantity.size() == 2 && quantity[0] == 'i')
        return "integration of MAD-X functions";
    if (quantity == "damping_partition_x" || quantity == "natural_emittance_m" ||
        quantity == "energy_loss_ev")
        return "formulas on those integrals";
    if (quantity.find("_at_monitor_") != std::string::npos)
        return "MAD-X TWISS (closed orbit)";
    for (const char* coupled :
         {"tune_1", "tune_2", "beta_1_m", "alpha_1", "beta_2_m", "alpha_2", "r11", "r12", "r21", "r22"})
        if (quantity == coupled)
            return "MAD-X TWISS (coupled)";
    return "MAD-X TWISS, CHROM";
}

// Tolerances: tunes and lattice functions to MAD-X's printed digits; the radiation integrals to the
// reference's own integration (400 Simpson slices per bend, below 1e-9); the chromaticities to 1e-4
// (MAD-X's one-sided difference with CHROM moves them by up to 3e-5); emittance and energy loss to
// 1e-4, as the reference rounds C_q and C_gamma to five digits. Alphas and the slope of the dispersion
// vanish at symmetric cell starts: below 1 they are compared by their absolute difference.
void setTolerance(ValidationRow& row)
{
    const std::string& q = row.quantity;
    row.scale = 0;
    row.tolerance = 1e-8;
    if (q == "alpha_x" || q == "alpha_y" || q == "eta_px" || q == "alpha_1" || q == "alpha_2" ||
        (q.size() == 3 && q[0] == 'r'))
        row.scale = 1;
    else if (q == "circumference_m")
        row.tolerance = 1e-12;
    else if (q.find("_at_monitor_") != std::string::npos) {
        // the closed orbit to 1e-6 of its size, and to 1e-9 m where it is below 1 mm
        row.scale = 1e-3;
        row.tolerance = 1e-6;
    } else if (q.find("chromaticity") != std::string::npos || q == "natural_emittance_m" ||
               q == "energy_loss_ev")
        row.tolerance = 1e-4;
    else if (q.rfind("emittance_", 0) == 0)
        // the mode emittances of the linear envelope; a tracking code's envelope about its closed orbit
        // with the energy loss (the sawtooth) stands about 1e-4 from it
        row.tolerance = 2e-4;
}

double valueOf(const Values& values, const std::string& name)
{
    const auto found = values.find(name);
    return found != values.end() ? found->second : kNone;
}

ValidationRow makeRow(const std::string& ring, const std::string& quantity, const std::string& source,
                      double reference, const Values& program, const Json& differences, const Json& notes)
{
    ValidationRow row;
    row.ring = ring;
    row.quantity = quantity;
    row.source = source;
    row.reference = reference;
    row.kestrune = valueOf(program, quantity);
    setTolerance(row);
    const Json* noteName = differences.contains(ring) && differences[ring].contains(quantity)
                               ? &differences[ring][quantity]
                               : nullptr;
    if (noteName != nullptr && noteName->contains(source))
        row.note = notes.at(noteName->at(source).get<std::string>()).get<std::string>();
    return row;
}

} // namespace

double ValidationRow::difference() const
{
    return (kestrune - reference) / std::max(std::fabs(reference), scale);
}

bool ValidationRow::agrees() const
{
    return std::fabs(difference()) <= tolerance;
}

std::vector<ValidationRow> validationRows(const std::string& folder)
{
    const Json reference = readJson(folder + "/reference.json");
    const Json extra = readJson(folder + "/extra-reference.json");
    const Json& differences = extra.at("differences");
    const Json& notes = extra.at("notes");
    std::vector<ValidationRow> rows;
    for (const char* ring : kRings) {
        const Values program = programValues(folder + "/" + ring + ".lat", reference.at(ring));
        for (const auto& [quantity, value] : reference.at(ring).items()) {
            if (!value.is_number() || quantity == "momentum_eV" || quantity == "superperiods")
                continue;
            rows.push_back(makeRow(ring, quantity, referenceSource(quantity), value.get<double>(), program,
                                   differences, notes));
        }
        if (!extra.at("values").contains(ring))
            continue;
        for (const auto& [quantity, sources] : extra.at("values").at(ring).items())
            for (const auto& [source, value] : sources.items())
                rows.push_back(
                    makeRow(ring, quantity, source, value.get<double>(), program, differences, notes));
    }
    return rows;
}

std::string validationMarkdown(const std::vector<ValidationRow>& rows)
{
    std::vector<std::string> notes;
    std::string text =
        "# Cross-code validation\n\n"
        "Generated by `scripts/validation` (`kestrune-cli --validation validation`) from the rings in\n"
        "[`validation/`](../validation/): small rings as lattice files and as MAD-X input, with the results\n"
        "of MAD-X 5.09.03, radiation integrals integrated independently and the Accelerator Toolbox's mode\n"
        "emittances of the coupled ring (`README.md`,\n"
        "`reference.json` and `extra-reference.json` there say what each number is). Kestrune's numbers "
        "come\n"
        "from the core as the ring window computes them; the test "
        "`Validation.EveryNumberAgreesWithinItsTolerance`\n"
        "checks the same rows. The difference is (Kestrune - reference) / |reference|, or the absolute\n"
        "difference (abs.) for a reference below 1 of a dimensionless quantity. A row whose reference comes\n"
        "from another model than the program's is shown with a note and not checked.\n";
    std::string ring;
    for (const ValidationRow& row : rows) {
        if (row.ring != ring) {
            ring = row.ring;
            text += "\n## " + ring +
                    "\n\n| quantity | reference | source | Kestrune | difference | tolerance | "
                    "agrees |\n|---|---:|---|---:|---:|---:|---|\n";
        }
        const bool absolute = std::fabs(row.reference) < row.scale;
        std::string verdict = row.agrees() ? "yes" : "**no**";
        if (!row.note.empty()) {
            std::size_t n = 0;
            while (n < notes.size() && notes[n] != row.note)
                ++n;
            if (n == notes.size())
                notes.push_back(row.note);
            verdict = "**no**, model differs (note " + std::to_string(n + 1) + ")";
        }
        text += "| " + row.quantity + " | " + fmt("%.10g", row.reference) + " | " + row.source + " | " +
                fmtOrNa("%.10g", row.kestrune) + " | " + fmtOrNa("%.1e", row.difference()) +
                (absolute ? " (abs.)" : "") + " | " + fmt("%.0e", row.tolerance) + " | " + verdict + " |\n";
    }
    if (!notes.empty())
        text += "\n## Notes\n\n";
    for (std::size_t n = 0; n < notes.size(); ++n)
        text += std::to_string(n + 1) + ". " + notes[n] + "\n";
    return text;
}

} // namespace kestrune

#include "cli/Report.h"

#include "cli/BatchRf.h"
#include "cli/CouplingReport.h"
#include "cli/NonlinearReport.h"
#include "cli/OrbitBatch.h"
#include "cli/RingReport.h"
#include "cli/VacuumLifetimeBatch.h"
#include "core/coupling/CoupledPass.h"
#include "core/optics/BetaFunctions.h"

#include <cctype>
#include <cmath>

namespace kestrune {

namespace {

std::string trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

Json matrixRows(const double (&m)[6][6])
{
    Json rows = Json::array();
    for (const auto& row : m) {
        Json values = Json::array();
        for (double v : row)
            values.push_back(reportNumber(v));
        rows.push_back(values);
    }
    return rows;
}

// The kinds of the editor's element list the line holds, in list order, each with its count: keys are
// the kinds' names in snake_case ("thin_multipole", "rf_cavity").
Json kindCounts(const BeamLine& line)
{
    int counts[kKindCount] = {};
    for (int i = 1; i <= line.count; ++i)
        ++counts[kindOf(line.at(i).code)];
    Json kinds = Json::object();
    for (int kind = 0; kind < kKindCount; ++kind)
        if (counts[kind] > 0)
            kinds[kindKey(kind)] = counts[kind];
    return kinds;
}

void showBetaFunctionsOnly(RunSettings& run)
{
    run.showBetaFunctions = true;
    run.showBeamSize = false;
    run.showTrajectory = false;
}

} // namespace

std::string kindKey(int kind)
{
    std::string key;
    for (const char* c = kindName(kind); *c; ++c) {
        const auto u = static_cast<unsigned char>(*c);
        if (std::isalnum(u))
            key += static_cast<char>(std::tolower(u));
        else if (!key.empty() && key.back() != '_')
            key += '_';
    }
    return key;
}

Json reportNumber(double value)
{
    if (!std::isfinite(value))
        return nullptr;
    return value;
}

Json particleSection(const BeamParameters& beam)
{
    return {{"name", trimmed(beam.name)},
            {"charge", beam.charge},
            {"rest_energy_ev", reportNumber(beam.restEnergy)},
            {"momentum_ev", reportNumber(beam.momentum)},
            {"kinetic_energy_ev", reportNumber(beam.kineticEnergy)},
            {"total_energy_ev", reportNumber(beam.totalEnergy)},
            {"gamma", reportNumber(beam.gamma)},
            {"beta", reportNumber(beam.beta)}};
}

Json lineSection(const State& state, Messages& messages)
{
    State pass = state;
    showBetaFunctionsOnly(pass.run);
    pass.run.recomputePeriodic = false;
    linePass(pass, messages, nullptr, nullptr);
    const LatticeFunctions& lf = pass.lf;
    const Json end = {{"beta_x_m", reportNumber(lf.betaX)},
                      {"alpha_x", reportNumber(lf.alphaX)},
                      {"phase_advance_x", reportNumber(lf.phiX)},
                      {"beta_y_m", reportNumber(lf.betaY)},
                      {"alpha_y", reportNumber(lf.alphaY)},
                      {"phase_advance_y", reportNumber(lf.phiY)},
                      {"eta_x_m", reportNumber(lf.eta)},
                      {"eta_px", reportNumber(lf.etaP)},
                      {"momentum_ev", reportNumber(pass.beam.momentum)}};

    // M of one pass, sliced as the periodic solution slices; its start values are not used here
    State matrixPass = state;
    QuietMessages quiet;
    periodicSolution(matrixPass, quiet);

    return {{"element_count", state.line.count},
            {"length_m", reportNumber(state.line.length)},
            {"end", end},
            {"total_matrix", matrixRows(matrixPass.matrix.m)},
            {"kinds", kindCounts(state.line)}};
}

Json periodicSection(const State& state, Messages& messages)
{
    if (coupledPassApplies(state.line))
        return coupledPeriodicSection(state);
    State cell = state;
    if (!periodicSolution(cell, messages))
        return nullptr;
    const RunSettings& run = cell.run;
    const bool stable = run.periodicStable;
    const auto betatron = [stable](double value) { return stable ? reportNumber(value) : nullptr; };
    Json section = {{"stable", stable},
                    {"beta_x_m", betatron(run.betaX0)},
                    {"alpha_x", betatron(run.alphaX0)},
                    {"beta_y_m", betatron(run.betaY0)},
                    {"alpha_y", betatron(run.alphaY0)},
                    {"eta_x_m", reportNumber(run.etaX0)},
                    {"eta_px", reportNumber(run.etaPX0)},
                    {"tune_x", nullptr},
                    {"tune_y", nullptr}};
    if (stable && betaFunctions(cell, messages, nullptr)) {
        section["tune_x"] = reportNumber(cell.lf.tuneX);
        section["tune_y"] = reportNumber(cell.lf.tuneY);
    }
    return section;
}

Json buildReport(const std::string& latticeFile, const State& outputs, const State& asSet,
                 const BatchInputs& inputs, StderrMessages& messages)
{
    Json report;
    report["lattice_file"] = latticeFile;
    report["particle"] = particleSection(outputs.beam);
    report["line"] = lineSection(outputs, messages);
    report["periodic"] = periodicSection(asSet, messages);
    addRingSections(report, asSet, inputs, messages);
    report["rf"] = rfSection(asSet, inputs, messages);
    report["vacuum"] = vacuumSection(asSet, inputs, messages);
    report["lifetime"] = lifetimeSection(asSet, inputs, messages);
    report["coupling"] = couplingSection(asSet);
    report["orbit"] = orbitSection(asSet);
    report["closed_orbit"] = closedOrbitSection(asSet);
    report["nonlinear"] = nonlinearSection(asSet);
    report["messages"] = messages.shown();
    return report;
}

} // namespace kestrune

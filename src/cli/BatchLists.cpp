#include "cli/BatchLists.h"

#include "cli/BatchRf.h"
#include "cli/RingReport.h"
#include "cli/StderrMessages.h"
#include "cli/VacuumLifetimeBatch.h"
#include "core/Format.h"
#include "core/io/Listing.h"
#include "core/optics/BetaFunctions.h"

#include <vector>

namespace kestrune {

namespace {

void showBetaFunctionsOnly(RunSettings& run)
{
    run.showBetaFunctions = true;
    run.showBeamSize = false;
    run.showTrajectory = false;
}

bool periodicList(State& state, Messages& messages)
{
    RunSettings& run = state.run;
    run.recomputePeriodic = true;
    if (!periodicSolution(state, messages))
        return false;
    LatticeFunctionList list(state);
    LatticeFunctions start;
    startFunctions(run, start);
    list.row(0, 0, start);
    showBetaFunctionsOnly(run);
    // the beam-dynamics update that follows solves again before its pass, as recomputePeriodic asks
    periodicSolution(state, messages);
    linePass(state, messages, nullptr, &list);
    messages.showList();
    return true;
}

/// Collects the samples of a pass: every plot point reads the running values, and the list row that
/// ends element i names the points collected since the row before.
class TwissCollector : public PlotSink, public ListSink
{
public:
    explicit TwissCollector(const State& state) : m_state(state) {}

    void point(double s, const LatticeFunctions& lf) override
    {
        m_pending.push_back({s, lf.betaX, lf.alphaX, lf.phiX, lf.betaY, lf.alphaY, lf.phiY, lf.eta, lf.etaP});
        if (!m_started) {
            // the pass plots its start point before the first element
            flush(0);
            m_started = true;
        }
    }

    void row(int index, double, const LatticeFunctions&) override
    {
        if (index > 0)
            flush(index);
    }

    std::string text()
    {
        flush(m_state.line.count);
        return m_text;
    }

private:
    void flush(int index)
    {
        const bool element = index >= 1 && index <= kMaxLineElements;
        std::string name = element ? m_state.line.at(index).name : std::string("Start");
        if (name.find_first_of(",\"") != std::string::npos)
            name = "\"" + name + "\"";
        const int elementCode = element ? m_state.line.at(index).code : 0;
        for (const auto& v : m_pending) {
            m_text += fmt("%.12g,%d,%s,%d", v[0], index, name.c_str(), elementCode);
            for (std::size_t j = 1; j < v.size(); ++j)
                m_text += fmt(",%.12g", v[j]);
            m_text += '\n';
        }
        m_pending.clear();
    }

    const State& m_state;
    std::vector<std::array<double, 9>> m_pending;
    std::string m_text = "s,element,name,code,betax,alphax,phix,betay,alphay,phiy,eta,etap\n";
    bool m_started = false;
};

} // namespace

std::optional<BatchList> batchListNamed(const std::string& name)
{
    if (name == "magnets")
        return BatchList::Magnets;
    if (name == "lattice")
        return BatchList::Lattice;
    if (name == "beta")
        return BatchList::Beta;
    if (name == "periodic")
        return BatchList::Periodic;
    if (name == "matrix")
        return BatchList::Matrix;
    if (name == "beam")
        return BatchList::Beam;
    if (name == "ring")
        return BatchList::Ring;
    if (name == "vacuum")
        return BatchList::Vacuum;
    if (name == "rf")
        return BatchList::Rf;
    return std::nullopt;
}

bool appendBatchList(State& state, Messages& messages, BatchList list, const BatchInputs& inputs)
{
    switch (list) {
    case BatchList::Magnets:
        setListTitle(state, kMagnetListTitle);
        magnetList(state, messages);
        return true;
    case BatchList::Lattice:
        latticeList(state, messages);
        return true;
    case BatchList::Beta: {
        showBetaFunctionsOnly(state.run);
        state.run.recomputePeriodic = false;
        LatticeFunctionList rows(state);
        linePass(state, messages, nullptr, &rows);
        messages.showList();
        return true;
    }
    case BatchList::Periodic:
        return periodicList(state, messages);
    case BatchList::Matrix: {
        // M of one pass; the start values the periodic solution would overwrite stay as they are
        State pass = state;
        QuietMessages quiet;
        periodicSolution(pass, quiet);
        state.matrix = pass.matrix;
        matrixList(state, messages);
        return true;
    }
    case BatchList::Beam:
        beamParameterList(state, messages);
        return true;
    case BatchList::Ring:
        return ringParameterBatchList(state, messages, inputs);
    case BatchList::Vacuum:
        return vacuumPumpList(state, inputs, messages);
    case BatchList::Rf:
        return appendRfList(state, messages, inputs);
    }
    return false;
}

bool startFromPeriodicSolution(State& state, Messages& messages)
{
    State solved = state;
    if (!periodicSolution(solved, messages) || !solved.run.periodicStable) {
        messages.error("--periodic: the cell has no periodic solution");
        return false;
    }
    state = solved;
    return true;
}

std::string twissCsv(const State& state, Messages& messages)
{
    State pass = state;
    showBetaFunctionsOnly(pass.run);
    TwissCollector collector(pass);
    linePass(pass, messages, &collector, &collector);
    return collector.text();
}

} // namespace kestrune

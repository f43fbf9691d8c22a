#include "GeneratedRing.h"
#include "core/matching/Matcher.h"
#include "core/optics/BetaFunctions.h"

#include <benchmark/benchmark.h>
#include <cmath>

namespace kestrune {

namespace {

MatchVariable family(const char* name)
{
    MatchVariable v;
    v.element = elementRef(name);
    return v;
}

MatchConstraint target(MatchQuantity quantity, double value, const char* at = "end")
{
    MatchConstraint c;
    c.quantity = quantity;
    c.value = value;
    c.at = elementRef(at);
    return c;
}

// A whole match from its start (the copy of the state, the element matrices) to its end, as the batch
// tool runs one; the counters say how many iterations and optics passes it took.
MatchResult runToEnd(benchmark::State& bench, const State& state, const MatchDefinition& d)
{
    QuietMessages messages;
    MatchResult result;
    for (auto _ : bench) {
        const std::unique_ptr<Matcher> matcher = Matcher::start(state, d, messages);
        if (!matcher) {
            bench.SkipWithError("match refused");
            break;
        }
        while (matcher->iterate()) {
        }
        result = matcher->result();
        benchmark::DoNotOptimize(result.residual);
    }
    bench.counters["iterations"] = result.iterations;
    bench.counters["optics_passes"] = result.opticsPasses;
    if (!result.converged)
        bench.SkipWithError("the match did not converge");
    return result;
}

// The tunes of the generated 868-element ring (one period) moved by +0.1 and -0.1 with the two outer
// quadrupole families, each 56 magnets, to |dQ| < 1e-9.
void BM_TuneMatchGeneratedRing(benchmark::State& bench)
{
    State ring;
    benchsupport::makeGeneratedRing(ring, benchsupport::kRingCells);
    for (int i = 1; i <= ring.line.count; ++i) {
        LatticeElement& e = ring.line.at(i);
        if (e.code == code::kQuadrupole && e.k == 1.2)
            e.name = "QF";
        else if (e.code == code::kQuadrupole && e.k == -1.8)
            e.name = "QD";
    }
    QuietMessages messages;
    State design = ring;
    if (!betaFunctions(design, messages, nullptr))
        bench.SkipWithError("the generated ring has no periodic solution");
    const double qx = design.lf.tuneX + 0.1, qy = design.lf.tuneY - 0.1;
    MatchDefinition d;
    d.variables = {family("QF"), family("QD")};
    d.constraints = {target(MatchQuantity::TuneX, qx), target(MatchQuantity::TuneY, qy)};
    const MatchResult result = runToEnd(bench, ring, d);

    // the tunes by the program's own ring pass with the strengths found
    State matched = ring;
    std::optional<MatchResult> applied = matchDesign(matched, d, messages);
    betaFunctions(matched, messages, nullptr);
    const double dq = std::max(std::fabs(matched.lf.tuneX - qx), std::fabs(matched.lf.tuneY - qy));
    bench.counters["dQ"] = dq;
    if (!applied || !(dq < 1e-9))
        bench.SkipWithError("tunes not within 1e-9");
    (void)result;
}
BENCHMARK(BM_TuneMatchGeneratedRing)->Unit(benchmark::kMillisecond);

// A matching section of six quadrupoles between drifts from given start values: beta and alpha of both
// planes at its end and the phase advances through it, from strengths 10 % off the solution.
void BM_LineMatchSixBySix(benchmark::State& bench)
{
    State line;
    startParticle(line);
    const double k[6] = {0.9, -1.2, 1.1, -0.8, 1.3, -1.0};
    const char* names[6] = {"Q1", "Q2", "Q3", "Q4", "Q5", "Q6"};
    for (int q = 0; q < 6; ++q) {
        benchsupport::appendElement(line, code::kDrift, 1.0 + 0.2 * q);
        LatticeElement& quad = benchsupport::appendElement(line, code::kQuadrupole, 0.3, k[q]);
        quad.name = names[q];
    }
    benchsupport::appendElement(line, code::kDrift, 2.0);
    line.line.chainPositions();
    line.run.betaX0 = 12;
    line.run.alphaX0 = -1.5;
    line.run.gammaX0 = (1 + 2.25) / 12;
    line.run.betaY0 = 6;
    line.run.alphaY0 = 0.8;
    line.run.gammaY0 = (1 + 0.64) / 6;
    line.run.showBetaFunctions = true;

    QuietMessages messages;
    State design = line;
    linePass(design, messages, nullptr, nullptr);
    const LatticeFunctions& end = design.lf;
    MatchDefinition d;
    d.start = MatchStart::Initial;
    for (const char* name : names)
        d.variables.push_back(family(name));
    d.constraints = {target(MatchQuantity::BetaX, end.betaX), target(MatchQuantity::AlphaX, end.alphaX),
                     target(MatchQuantity::BetaY, end.betaY), target(MatchQuantity::AlphaY, end.alphaY),
                     target(MatchQuantity::PhaseX, end.phiX), target(MatchQuantity::PhaseY, end.phiY)};
    for (int q = 0; q < 6; ++q)
        line.line.at(2 * q + 2).k *= q % 2 == 0 ? 1.1 : 0.9;
    runToEnd(bench, line, d);
}
BENCHMARK(BM_LineMatchSixBySix)->Unit(benchmark::kMillisecond);

} // namespace

} // namespace kestrune

#include "GeneratedRing.h"
#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "core/rf/EnergyScan.h"
#include "core/rf/PhaseSpace.h"
#include "core/rf/RfParameter.h"
#include "core/ring/Parameter.h"
#include "core/ring/RingGeometry.h"

#include <benchmark/benchmark.h>
#include <string>

namespace kestrune {

namespace {

using benchsupport::YesMessages;

/// The example DBA ring with geometry, radiation integrals, equilibrium and rf parameters computed.
State dbaRing()
{
    State state;
    YesMessages quiet;
    startParticle(state);
    readLatticeFile(state, quiet, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat");
    ringGeometry(state, quiet, GeometryInput{std::to_string(state.line.superPeriods), "0"});
    radiationIntegrals(state, quiet);
    equilibriumParameters(state);
    calcRfParameters(state, quiet);
    return state;
}

// An energy scan: 101 momenta, each with the kinematics, the equilibrium from the integrals and the rf
// parameters; the integrals are not recomputed. Target: below 1 ms.
void BM_EnergyScan(benchmark::State& bench)
{
    State state = dbaRing();
    YesMessages quiet;
    const double limit = momentumLimitGeV(state);
    for (auto _ : bench) {
        auto scan = energyScan(state, quiet, ScanQuantity::QuantumLifetime, 0.5, limit);
        benchmark::DoNotOptimize(scan);
    }
}
BENCHMARK(BM_EnergyScan)->Unit(benchmark::kMicrosecond);

// The 23 curves of the phase-space graph.
void BM_PhaseSpaceCurves(benchmark::State& bench)
{
    const State state = dbaRing();
    for (auto _ : bench) {
        auto curves = phaseSpaceCurves(state.rf);
        benchmark::DoNotOptimize(curves);
    }
}
BENCHMARK(BM_PhaseSpaceCurves)->Unit(benchmark::kMicrosecond);

} // namespace

} // namespace kestrune

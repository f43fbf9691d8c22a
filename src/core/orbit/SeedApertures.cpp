#include "core/orbit/SeedApertures.h"

#include "core/orbit/ClosedOrbit.h"
#include "core/orbit/OrbitOptics.h"
#include "core/tracking/SymplecticLattice.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>

namespace kestrune {

namespace {

std::optional<double> finite(double v)
{
    return std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}

// The design's ring with the elements of machine, cavities aside: the scans' start values stay those of
// the design, and the tracker finds the machine's closed orbit about which each scan runs.
ApertureRing withMachineElements(ApertureRing ring, const State& machine)
{
    QuietMessages quiet;
    const SymplecticLattice cell = buildSymplecticLattice(machine, quiet, RfCavity{});
    for (std::size_t i = 0; i < cell.cell.size() && i < ring.lattice.cell.size(); ++i)
        if (machine.line.at(static_cast<int>(i) + 1).code != code::kRfCavity)
            ring.lattice.cell[i] = cell.cell[i];
    return ring;
}

} // namespace

std::vector<std::string> seedApertureNames(const SeedApertureScans& scans)
{
    std::vector<std::string> names;
    if (scans.dynamicAperture)
        names.insert(names.end(), {"da_area_mm2", "da_radius_min_mm"});
    if (scans.momentumAcceptance)
        names.emplace_back("ma_smallest");
    return names;
}

std::optional<ApertureRing> seedScanRing(const State& design, Messages& messages)
{
    State ring = design;
    ring.line = designLine(design.line);
    return apertureRing(ring, messages);
}

std::optional<ApertureRing> apertureScanRing(const State& state, Messages& messages)
{
    if (!lineKicks(state.line))
        return apertureRing(state, messages);
    std::optional<ApertureRing> design = seedScanRing(state, messages);
    if (!design)
        return std::nullopt;
    const ClosedOrbit orbit = closedOrbit(state);
    if (!orbit.found) {
        messages.error(orbit.refusal);
        return std::nullopt;
    }
    return withMachineElements(std::move(*design), state);
}

void measureSeedApertures(const State& machine, SeedOutcome& outcome, const ApertureRing& design,
                          const SeedApertureScans& scans, const ScanControl& control)
{
    const ApertureRing ring = withMachineElements(design, machine);
    if (scans.dynamicAperture) {
        DynamicApertureSettings settings = scans.radial;
        settings.part = ScanPart{};
        const DynamicAperture da = dynamicAperture(ring, settings, control);
        std::optional<double> smallest;
        for (double r : da.radius)
            smallest = std::min(smallest.value_or(r), r);
        if (std::any_of(da.radius.begin(), da.radius.end(), [](double r) { return !std::isfinite(r); }))
            smallest.reset();
        outcome.measured.push_back({"da_area_mm2", finite(apertureArea(da.angles, da.radius) * 1e6)});
        outcome.measured.push_back({"da_radius_min_mm", smallest ? finite(*smallest * 1000) : std::nullopt});
    }
    if (scans.momentumAcceptance) {
        FirstErrorMessages messages;
        std::optional<double> smallest;
        if (checkAcceptanceRing(ring, messages)) {
            MomentumAcceptanceSettings settings = scans.acceptance;
            settings.part = ScanPart{};
            const MomentumAcceptance ma = momentumAcceptance(ring, settings, control);
            double least = std::numeric_limits<double>::infinity();
            for (std::size_t k = 0; k < ma.deltaPlus.size(); ++k)
                least = std::min({least, ma.deltaPlus[k], -ma.deltaMinus[k]});
            smallest = ma.deltaPlus.empty() || ma.cancelled ? std::nullopt : finite(least);
        }
        outcome.measured.push_back({"ma_smallest", smallest});
        if (outcome.measureRefusal.empty())
            outcome.measureRefusal = messages.first;
    }
}

std::function<void(const State&, SeedOutcome&)> seedApertureMeasure(std::optional<ApertureRing> design,
                                                                    const std::string& refusal,
                                                                    const SeedApertureScans& scans,
                                                                    const ScanControl& control)
{
    auto ring = std::make_shared<const std::optional<ApertureRing>>(std::move(design));
    return [ring, refusal, scans, control](const State& machine, SeedOutcome& outcome) {
        if (*ring)
            measureSeedApertures(machine, outcome, **ring, scans, control);
        else
            outcome.measureRefusal = refusal;
    };
}

} // namespace kestrune

#include "core/nonlinear/TrackedCell.h"

#include "core/coupling/CoupledOptics.h"
#include "core/optics/BetaFunctions.h"

#include <algorithm>

namespace kestrune {

std::optional<TrackedCell> trackedCell(const State& state, std::string& refusal)
{
    if (state.line.count < 1) {
        refusal = "define a beam line first!";
        return std::nullopt;
    }
    TrackedCell cell;
    cell.pass = state;
    cell.pass.run.showBetaFunctions = true;
    cell.pass.run.showBeamSize = false;
    cell.pass.run.showTrajectory = false;
    FirstErrorMessages messages;
    cell.coupled = lineCouples(state.line);
    for (int i = 1; i <= state.line.count && !cell.errors; ++i)
        cell.errors = state.line.at(i).errors.any();
    if (cell.coupled) {
        const CoupledRing ring = coupledRing(state);
        if (!ring.computed) {
            refusal = ring.refusal;
            return std::nullopt;
        }
        const int superPeriods = std::max(1, state.line.superPeriods);
        cell.cellTune1 = ring.tune1 / superPeriods;
        cell.cellTune2 = ring.tune2 / superPeriods;
    } else {
        if (const std::optional<std::string> r = lineOpticsRefusal(state.line)) {
            refusal = *r;
            return std::nullopt;
        }
        if (!betaFunctions(cell.pass, messages, nullptr) || !cell.pass.run.periodicStable) {
            refusal = messages.first.empty() ? "the cell has no stable periodic solution!" : messages.first;
            return std::nullopt;
        }
        cell.cellTune1 = cell.pass.lf.phiX;
        cell.cellTune2 = cell.pass.lf.phiY;
    }
    cell.lattice = buildSymplecticLattice(cell.pass, messages, RfCavity{});
    if (!messages.first.empty()) {
        refusal = messages.first;
        return std::nullopt;
    }
    switchRfOff(cell.lattice);
    // the cells are identical: the ring's periodic orbit is the cell's, its tune N times the cell's
    cell.cells = std::max(1, cell.lattice.superPeriods);
    cell.lattice.superPeriods = 1;
    return cell;
}

bool takeNonlinearStrengths(TrackedCell& cell, const BeamLine& line)
{
    std::vector<ElementMap>& maps = cell.lattice.cell;
    if (cell.errors || line.count != static_cast<int>(maps.size()) || line.count != cell.pass.line.count)
        return false;
    for (int i = 1; i <= line.count; ++i) {
        const LatticeElement& e = line.at(i);
        ElementMap& map = maps[static_cast<std::size_t>(i - 1)];
        if (map.kind == StepKind::Sextupole)
            map.m = e.m;
        else if (map.kind == StepKind::Octupole)
            map.m = e.k3;
        map.aperture = e.aperture;
        LatticeElement& kept = cell.pass.line.at(i);
        kept.m = e.m;
        kept.k3 = e.k3;
        kept.aperture = e.aperture;
    }
    return true;
}

} // namespace kestrune

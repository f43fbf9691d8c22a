#include "core/nonlinear/TrackedCell.h"

#include "core/coupling/CoupledOptics.h"
#include "core/optics/BetaFunctions.h"
#include "core/orbit/OrbitOptics.h"

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
    for (int i = 1; i <= state.line.count && !cell.errors; ++i)
        cell.errors = state.line.at(i).errors.any();
    // the linear optics of a line whose correctors kick are those of its design about the orbit they
    // make: the periodic solution without the kicks gives the start values and the tunes near which the
    // turn about the closed orbit has its own
    for (int i = 1; i <= state.line.count && !cell.kicked; ++i) {
        const LatticeElement& e = state.line.at(i);
        cell.kicked = familyOf(e.code) == static_cast<int>(Family::Kicker) && (e.hkick != 0 || e.vkick != 0);
    }
    State design;
    if (cell.kicked) {
        design = state;
        design.line = designLine(state.line);
        cell.errors = true;
    }
    State& periodic = cell.kicked ? design : cell.pass;
    cell.coupled = lineCouples(periodic.line);
    if (cell.coupled) {
        const CoupledRing ring = coupledRing(periodic);
        if (!ring.computed) {
            refusal = ring.refusal;
            return std::nullopt;
        }
        const int superPeriods = std::max(1, state.line.superPeriods);
        cell.cellTune1 = ring.tune1 / superPeriods;
        cell.cellTune2 = ring.tune2 / superPeriods;
    } else {
        if (const std::optional<std::string> r = lineOpticsRefusal(periodic.line)) {
            refusal = *r;
            return std::nullopt;
        }
        if (!betaFunctions(periodic, messages, nullptr) || !periodic.run.periodicStable) {
            refusal = messages.first.empty() ? "the cell has no stable periodic solution!" : messages.first;
            return std::nullopt;
        }
        cell.cellTune1 = periodic.lf.phiX;
        cell.cellTune2 = periodic.lf.phiY;
        if (cell.kicked) {
            cell.pass.run = periodic.run;
            cell.pass.lf = periodic.lf;
        }
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

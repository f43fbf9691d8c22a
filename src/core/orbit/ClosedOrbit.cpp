#include "core/orbit/ClosedOrbit.h"

#include "core/tracking/ElementKernels.h"
#include "core/tracking/SymplecticLattice.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <utility>

namespace kestrune {

namespace {

// Why the tracker cannot give this line's orbit: an element it has no map of.
std::optional<std::string> orbitRefusal(const BeamLine& line)
{
    if (std::optional<std::string> refusal = trackingRefusal(line))
        return "no closed orbit: " + *refusal;
    return std::nullopt;
}

// The particles of block through one turn of the lattice; the element index of the first loss, 0 if none.
int turn(const SymplecticLattice& lattice, ParticleBlock& block)
{
    int position = 0;
    for (int p = 0; p < lattice.superPeriods; ++p) {
        for (const ElementMap& e : lattice.cell) {
            ++position;
            pushElement(e, block);
            for (int j = 0; j < block.count; ++j)
                if (!(std::fabs(block.x[j]) < kTrackingLossLimit &&
                      std::fabs(block.y[j]) < kTrackingLossLimit))
                    return position;
        }
    }
    return 0;
}

using Vector4 = Eigen::Vector4d;

PhaseVector phase(const Vector4& z, double delta)
{
    PhaseVector p;
    p.x = z(0);
    p.px = z(1);
    p.y = z(2);
    p.py = z(3);
    p.delta = delta;
    return p;
}

SymplecticLattice orbitLattice(const State& state)
{
    QuietMessages quiet(true);
    RfCavity off;
    SymplecticLattice lattice = buildSymplecticLattice(state, quiet, off);
    switchRfOff(lattice);
    return lattice;
}

// The orbit from its point at the cell start along one cell: there and after each element.
std::vector<PhaseVector> orbitAlongCell(const SymplecticLattice& lattice, const PhaseVector& start)
{
    ParticleBlock block;
    block.add(start, 0);
    std::vector<PhaseVector> orbit;
    orbit.reserve(lattice.cell.size() + 1);
    orbit.push_back(block.at(0));
    for (const ElementMap& e : lattice.cell) {
        pushElement(e, block);
        orbit.push_back(block.at(0));
    }
    return orbit;
}

ClosedOrbit findOrbit(const SymplecticLattice& lattice, double delta)
{
    ClosedOrbit result;
    // Newton on F(z) = T(z) - z: the turn of the centre and of z +- h e_k in one block
    constexpr double kStep = 1e-8;
    Vector4 z = Vector4::Zero();
    for (int iteration = 1; iteration <= 50; ++iteration) {
        ParticleBlock block;
        block.add(phase(z, delta), 0);
        for (int k = 0; k < 4; ++k)
            for (const double sign : {1.0, -1.0}) {
                Vector4 shifted = z;
                shifted(k) += sign * kStep;
                block.add(phase(shifted, delta), block.count);
            }
        if (const int lostAt = turn(lattice, block)) {
            result.refusal = "no closed orbit: lost at element " + std::to_string(lostAt);
            return result;
        }
        const auto out = [&](int j) {
            const PhaseVector p = block.at(j);
            return Vector4(p.x, p.px, p.y, p.py);
        };
        Eigen::Matrix4d jacobian;
        for (int k = 0; k < 4; ++k)
            jacobian.col(k) = (out(1 + 2 * k) - out(2 + 2 * k)) / (2 * kStep);
        for (int i = 0; i < 4; ++i)
            for (int k = 0; k < 4; ++k)
                result.jacobian[i][k] = jacobian(i, k);
        const Vector4 f = out(0) - z;
        const Vector4 step = (jacobian - Eigen::Matrix4d::Identity()).partialPivLu().solve(-f);
        if (!step.allFinite()) {
            result.refusal = "no closed orbit: the turn has no fixed point (on an integer resonance)";
            return result;
        }
        z += step;
        result.iterations = iteration;
        if (step.cwiseAbs().maxCoeff() < kClosedOrbitTolerance) {
            result.found = true;
            break;
        }
    }
    if (!result.found) {
        result.refusal = "no closed orbit: not converged in 50 steps";
        return result;
    }
    result.orbit = orbitAlongCell(lattice, phase(z, delta));
    return result;
}

using Vector6 = Eigen::Matrix<double, 6, 1>;
using Matrix6 = Eigen::Matrix<double, 6, 6>;

PhaseVector phase6(const Vector6& z)
{
    return {z(0), z(1), z(2), z(3), z(4), z(5)};
}

Vector6 vector6(const PhaseVector& p)
{
    Vector6 z;
    z << p.x, p.px, p.y, p.py, p.delta, p.l;
    return z;
}

// The whole turn with the rf on: the cells with the lag after each (cavities in the cell) or the lag and
// the kick of the rf window's cavity at the turn's end; the position of the first loss, 0 if none.
int turnWithRf(const SymplecticLattice& lattice, ParticleBlock& block)
{
    int position = 0;
    for (int p = 0; p < lattice.superPeriods; ++p) {
        for (const ElementMap& e : lattice.cell) {
            ++position;
            pushElement(e, block);
            for (int j = 0; j < block.count; ++j)
                if (!(std::fabs(block.x[j]) < kTrackingLossLimit &&
                      std::fabs(block.y[j]) < kTrackingLossLimit))
                    return position;
        }
        if (lattice.cavityElements)
            pushCellEnd(lattice, block);
    }
    pushTurnEnd(lattice, block);
    for (int j = 0; j < block.count; ++j)
        if (!(std::fabs(block.x[j]) < kTrackingLossLimit && std::isfinite(block.delta[j])))
            return position;
    return 0;
}

// Newton on F(z) = T(z) - z in six dimensions, as findOrbit in four: the synchrotron motion makes
// T - 1 regular in the longitudinal plane, so the momentum deviation and the phase of the fixed point
// (where the cavities give back what the orbit's length costs in time) come with the transverse orbit.
ClosedOrbit findOrbit6D(const SymplecticLattice& lattice)
{
    ClosedOrbit result;
    constexpr double kStep = 1e-8;
    Vector6 z = Vector6::Zero();
    for (int iteration = 1; iteration <= 50; ++iteration) {
        ParticleBlock block;
        block.add(phase6(z), 0);
        for (int k = 0; k < 6; ++k)
            for (const double sign : {1.0, -1.0}) {
                Vector6 shifted = z;
                shifted(k) += sign * kStep;
                block.add(phase6(shifted), block.count);
            }
        if (const int lostAt = turnWithRf(lattice, block)) {
            result.refusal = "no closed orbit: lost at element " + std::to_string(lostAt);
            return result;
        }
        Matrix6 jacobian;
        for (int k = 0; k < 6; ++k)
            jacobian.col(k) = (vector6(block.at(1 + 2 * k)) - vector6(block.at(2 + 2 * k))) / (2 * kStep);
        for (int i = 0; i < 4; ++i)
            for (int k = 0; k < 4; ++k)
                result.jacobian[i][k] = jacobian(i, k);
        const Vector6 step = (jacobian - Matrix6::Identity()).partialPivLu().solve(z - vector6(block.at(0)));
        if (!step.allFinite()) {
            result.refusal = "no closed orbit: the turn has no fixed point with the rf on";
            return result;
        }
        z += step;
        result.iterations = iteration;
        if (step.cwiseAbs().maxCoeff() < kClosedOrbitTolerance) {
            result.found = true;
            break;
        }
    }
    if (!result.found) {
        result.refusal = "no closed orbit: not converged in 50 steps";
        return result;
    }
    result.orbit = orbitAlongCell(lattice, phase6(z));
    return result;
}

} // namespace

ClosedOrbit closedOrbit(const State& state, double delta)
{
    if (std::optional<std::string> refusal = orbitRefusal(state.line)) {
        ClosedOrbit result;
        result.refusal = *refusal;
        return result;
    }
    return findOrbit(orbitLattice(state), delta);
}

ClosedOrbit closedOrbit6D(const State& state)
{
    ClosedOrbit result;
    if (std::optional<std::string> refusal = orbitRefusal(state.line)) {
        result.refusal = *refusal;
        return result;
    }
    QuietMessages quiet(true);
    const SymplecticLattice lattice = buildSymplecticLattice(state, quiet, trackingRfCavity(state, quiet));
    if (!lattice.cavityElements && !lattice.rf.on) {
        result.refusal = "no closed orbit: the ring has no rf cavity";
        return result;
    }
    return findOrbit6D(lattice);
}

bool lineKicks(const BeamLine& line)
{
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i) {
        const LatticeElement& e = line.at(i);
        if (e.hkick != 0 || e.vkick != 0 || (!e.knl.empty() && e.knl[0] != 0) ||
            (!e.ksl.empty() && e.ksl[0] != 0))
            return true;
    }
    return false;
}

bool lineHasErrors(const BeamLine& line)
{
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i)
        if (line.at(i).errors.any())
            return true;
    return false;
}

OrbitSpread orbitSpread(const BeamLine& line, const ClosedOrbit& orbit)
{
    std::vector<std::pair<double, double>> points;
    for (int i = 1;
         i <= line.count && i <= kMaxLineElements && static_cast<std::size_t>(i) < orbit.orbit.size(); ++i) {
        const int c = line.at(i).code;
        const std::size_t k = static_cast<std::size_t>(i);
        if (c >= code::kHorizontalMonitor && c <= code::kMonitor)
            points.emplace_back((orbit.orbit[k - 1].x + orbit.orbit[k].x) / 2,
                                (orbit.orbit[k - 1].y + orbit.orbit[k].y) / 2);
    }
    if (points.empty())
        for (std::size_t k = 1; k < orbit.orbit.size(); ++k)
            points.emplace_back(orbit.orbit[k].x, orbit.orbit[k].y);
    OrbitSpread spread;
    double sumX = 0, sumY = 0;
    for (const auto& [x, y] : points) {
        sumX += x * x;
        sumY += y * y;
        spread.xMax = std::max(spread.xMax, std::fabs(x));
        spread.yMax = std::max(spread.yMax, std::fabs(y));
    }
    const double n = static_cast<double>(std::max<std::size_t>(points.size(), 1));
    spread.xRms = std::sqrt(sumX / n);
    spread.yRms = std::sqrt(sumY / n);
    return spread;
}

} // namespace kestrune

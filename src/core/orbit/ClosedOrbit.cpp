#include "core/orbit/ClosedOrbit.h"

#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/optics/BetaFunctions.h"
#include "core/ring/Parameter.h"
#include "core/tracking/ElementKernels.h"
#include "core/tracking/SymplecticLattice.h"

#include <Eigen/Dense>
#include <cmath>

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
    // the orbit along one cell
    ParticleBlock block;
    block.add(phase(z, delta), 0);
    result.orbit.reserve(lattice.cell.size() + 1);
    result.orbit.push_back(block.at(0));
    for (const ElementMap& e : lattice.cell) {
        pushElement(e, block);
        result.orbit.push_back(block.at(0));
    }
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
    ParticleBlock block;
    block.add(phase6(z), 0);
    result.orbit.reserve(lattice.cell.size() + 1);
    result.orbit.push_back(block.at(0));
    for (const ElementMap& e : lattice.cell) {
        pushElement(e, block);
        result.orbit.push_back(block.at(0));
    }
    return result;
}

bool isMonitor(int elementCode)
{
    return elementCode >= code::kHorizontalMonitor && elementCode <= code::kMonitor;
}

// The monitors and the kicker columns of line.
OrbitResponse responseLayout(const BeamLine& line)
{
    OrbitResponse r;
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i) {
        const int c = line.at(i).code;
        if (isMonitor(c))
            r.monitors.push_back(i);
        if (c == code::kHorizontalKicker || c == code::kKicker) {
            r.kickers.push_back(i);
            r.horizontalKick.push_back(true);
        }
        if (c == code::kVerticalKicker || c == code::kKicker) {
            r.kickers.push_back(i);
            r.horizontalKick.push_back(false);
        }
    }
    r.matrix.assign(2 * r.monitors.size(), std::vector<double>(r.kickers.size(), 0.0));
    return r;
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

std::optional<OrbitResponse> trackedOrbitResponse(const State& state, std::string& refusal)
{
    if (std::optional<std::string> r = orbitRefusal(state.line)) {
        refusal = *r;
        return std::nullopt;
    }
    OrbitResponse response = responseLayout(state.line);
    if (response.monitors.empty() || response.kickers.empty()) {
        refusal = "the orbit response needs monitors and kickers";
        return std::nullopt;
    }
    constexpr double kKick = 1e-6;
    State work = state;
    for (std::size_t c = 0; c < response.kickers.size(); ++c) {
        LatticeElement& kicker = work.line.at(response.kickers[c]);
        double& kick = response.horizontalKick[c] ? kicker.hkick : kicker.vkick;
        const double design = kick;
        ClosedOrbit sides[2];
        for (int side = 0; side < 2; ++side) {
            kick = design + (side == 0 ? kKick : -kKick);
            sides[side] = findOrbit(orbitLattice(work), 0);
            if (!sides[side].found) {
                refusal = sides[side].refusal;
                return std::nullopt;
            }
        }
        kick = design;
        const std::size_t n = response.monitors.size();
        for (std::size_t m = 0; m < n; ++m) {
            // the reading at the monitor's centre: the mean of its entrance and exit
            const auto reading = [&](const ClosedOrbit& o, bool horizontal) {
                const std::size_t i = static_cast<std::size_t>(response.monitors[m]);
                const PhaseVector& a = o.orbit[i - 1];
                const PhaseVector& b = o.orbit[i];
                return horizontal ? (a.x + b.x) / 2 : (a.y + b.y) / 2;
            };
            response.matrix[m][c] = (reading(sides[0], true) - reading(sides[1], true)) / (2 * kKick);
            response.matrix[n + m][c] = (reading(sides[0], false) - reading(sides[1], false)) / (2 * kKick);
        }
    }
    return response;
}

std::optional<OrbitResponse> closedFormOrbitResponse(const State& state, bool fixedFrequency,
                                                     std::string& refusal)
{
    OrbitResponse response = responseLayout(state.line);
    if (response.monitors.empty() || response.kickers.empty()) {
        refusal = "the orbit response needs monitors and kickers";
        return std::nullopt;
    }
    // the uncoupled optics on the design orbit, with the kicks and dipole components taken out
    State work = state;
    for (int i = 1; i <= work.line.count; ++i) {
        LatticeElement& e = work.line.at(i);
        e.hkick = e.vkick = 0;
        for (std::vector<double>* dipole : {&e.knl, &e.ksl})
            if (!dipole->empty())
                (*dipole)[0] = 0;
    }
    QuietMessages quiet(true);
    if (!ringStart(work, quiet, nullptr) || !work.run.periodicStable) {
        refusal = "the orbit response needs a stable periodic solution";
        return std::nullopt;
    }
    // the functions at the centre of every element; only those of monitors and kickers are used, which
    // are drifts in the optics, so the drift's formulas from the entrance values are exact
    struct Centre
    {
        double betaX, phiX, betaY, phiY, eta;
    };
    std::vector<Centre> centres(static_cast<std::size_t>(work.line.count) + 1);
    for (int i = 1; i <= work.line.count; ++i) {
        const LatticeElement& e = work.line.at(i);
        const LatticeFunctions before = work.lf;
        ringTrace(work, quiet, i, nullptr);
        // drift-like: beta at the centre from the entrance values, the phase halfway by the drift formula
        const double l = e.length / 2;
        const auto centre = [l](double beta, double alpha, double gamma, double phi) {
            const double b = beta - 2 * alpha * l + gamma * l * l;
            const double dphi = std::atan2(l, beta - alpha * l) / kTwoPi;
            return std::pair{b, phi + dphi};
        };
        const auto [bx, px] = centre(before.betaX, before.alphaX, before.gammaX, before.phiX);
        const auto [by, py] = centre(before.betaY, before.alphaY, before.gammaY, before.phiY);
        centres[static_cast<std::size_t>(i)] = {bx, px, by, py, before.eta + l * before.etaP};
    }
    const double nsp = work.line.superPeriods;
    const double qx = nsp * work.lf.phiX, qy = nsp * work.lf.phiY;
    if (nsp != 1) {
        refusal = "the orbit response is computed for a ring of one superperiod";
        return std::nullopt;
    }
    double alphaC = 0, circumference = work.line.length;
    if (fixedFrequency) {
        radiationIntegrals(work, quiet);
        alphaC = work.ringParams.i1 / circumference;
    }
    const std::size_t n = response.monitors.size();
    for (std::size_t c = 0; c < response.kickers.size(); ++c) {
        const Centre& k = centres[static_cast<std::size_t>(response.kickers[c])];
        const bool horizontal = response.horizontalKick[c];
        const double q = horizontal ? qx : qy;
        for (std::size_t m = 0; m < n; ++m) {
            const Centre& b = centres[static_cast<std::size_t>(response.monitors[m])];
            const double dmu = kTwoPi * std::fabs(horizontal ? b.phiX - k.phiX : b.phiY - k.phiY);
            const double beta = horizontal ? std::sqrt(b.betaX * k.betaX) : std::sqrt(b.betaY * k.betaY);
            double r = beta * std::cos(dmu - kPi * q) / (2 * std::sin(kPi * q));
            if (horizontal && fixedFrequency && alphaC != 0)
                r -= b.eta * k.eta / (alphaC * circumference);
            response.matrix[horizontal ? m : n + m][c] = r;
        }
    }
    return response;
}

namespace {

// The monitors' readings of a closed orbit: horizontal ones, then vertical ones.
Eigen::VectorXd readings(const ClosedOrbit& orbit, const std::vector<int>& monitors)
{
    const Eigen::Index n = static_cast<Eigen::Index>(monitors.size());
    Eigen::VectorXd r(2 * n);
    for (Eigen::Index m = 0; m < n; ++m) {
        const std::size_t i = static_cast<std::size_t>(monitors[static_cast<std::size_t>(m)]);
        r(m) = (orbit.orbit[i - 1].x + orbit.orbit[i].x) / 2;
        r(n + m) = (orbit.orbit[i - 1].y + orbit.orbit[i].y) / 2;
    }
    return r;
}

double rms(const Eigen::VectorXd& v, Eigen::Index from, Eigen::Index count)
{
    return count > 0 ? std::sqrt(v.segment(from, count).squaredNorm() / static_cast<double>(count)) : 0.0;
}

} // namespace

OrbitCorrection correctOrbit(State& state, int count, int iterations)
{
    OrbitCorrection result;
    std::string refusal;
    const std::optional<OrbitResponse> response = trackedOrbitResponse(state, refusal);
    if (!response) {
        result.refusal = refusal;
        return result;
    }
    const Eigen::Index rows = static_cast<Eigen::Index>(response->matrix.size());
    const Eigen::Index columns = static_cast<Eigen::Index>(response->kickers.size());
    Eigen::MatrixXd r(rows, columns);
    for (Eigen::Index i = 0; i < rows; ++i)
        for (Eigen::Index j = 0; j < columns; ++j)
            r(i, j) = response->matrix[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
    const Eigen::JacobiSVD<Eigen::MatrixXd> svd(r, Eigen::ComputeThinU | Eigen::ComputeThinV);
    const Eigen::VectorXd& sigma = svd.singularValues();
    for (Eigen::Index k = 0; k < sigma.size(); ++k)
        result.singularValues.push_back(sigma(k));
    int used = 0;
    for (Eigen::Index k = 0; k < sigma.size(); ++k)
        if (sigma(k) > 1e-12 * sigma(0) && (count <= 0 || used < count))
            ++used;
    result.used = used;
    // the pseudo-inverse of the kept singular values
    const Eigen::MatrixXd inverse = svd.matrixV().leftCols(used) *
                                    sigma.head(used).cwiseInverse().asDiagonal() *
                                    svd.matrixU().leftCols(used).transpose();
    State work = state;
    const Eigen::Index n = static_cast<Eigen::Index>(response->monitors.size());
    for (int pass = 0; pass <= iterations; ++pass) {
        const ClosedOrbit orbit = closedOrbit(work, 0);
        if (!orbit.found) {
            result.refusal = orbit.refusal;
            return result;
        }
        const Eigen::VectorXd x = readings(orbit, response->monitors);
        if (pass == 0) {
            result.rmsBeforeX = rms(x, 0, n);
            result.rmsBeforeY = rms(x, n, n);
        }
        result.rmsAfterX = rms(x, 0, n);
        result.rmsAfterY = rms(x, n, n);
        if (pass == iterations)
            break;
        const Eigen::VectorXd dk = -inverse * x;
        for (Eigen::Index j = 0; j < columns; ++j) {
            LatticeElement& kicker = work.line.at(response->kickers[static_cast<std::size_t>(j)]);
            double& kick =
                response->horizontalKick[static_cast<std::size_t>(j)] ? kicker.hkick : kicker.vkick;
            kick += dk(j);
            if (std::optional<std::string> out = rangeRefusal(ranges::kKickAngle, kick)) {
                result.refusal = "element '" + excerpt(kicker.name) + "' (" +
                                 std::to_string(response->kickers[static_cast<std::size_t>(j)]) +
                                 "): " + *out;
                return result;
            }
        }
        result.iterations = pass + 1;
    }
    for (int kicker : response->kickers) {
        state.line.at(kicker).hkick = work.line.at(kicker).hkick;
        state.line.at(kicker).vkick = work.line.at(kicker).vkick;
    }
    result.done = true;
    return result;
}

} // namespace kestrune

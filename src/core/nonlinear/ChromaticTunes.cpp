#include "core/nonlinear/ChromaticTunes.h"

#include "core/coupling/CoupledOptics.h"
#include "core/nonlinear/TrackedCell.h"
#include "core/optics/BetaFunctions.h"
#include "core/tracking/ParticleTracker.h"
#include "core/tracking/SymplecticLattice.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kestrune {

// The tunes of an off-momentum particle are those of the linearised one-turn map T of the tracker
// around the periodic solution z* = T(z*) at that delta (rf off: delta is a constant of the motion and
// the path length l does not act back on x, px, y, py). Newton's method solves T(z) - z = 0 with the
// Jacobian J of T: z <- z - (J - 1)^-1 (T(z) - z), J by central differences of step eps (their error
// eps^2 T''' / 6 and rounding 1e-16 |z| / eps both far below the tunes' 1e-9). In each uncoupled plane
// the 2 x 2 block [[a, b], [c, d]] of J is symplectic: cos mu = (a + d) / 2 and, as b = beta sin mu with
// beta > 0, sin mu takes the sign of b; mu / 2 pi is the fractional tune of the turn. The turn is one
// cell: the ring of N identical cells has the cell's periodic orbit and N times its tune, and a scan
// costs one cell's tracking. The cell tune's integer part follows the linear optics' phase advance of
// the cell at delta = 0 and, out from there, each tune lies nearest the one before.
// A scan that follows one before it at the same momenta (a knob's next step) starts Newton at every delta
// from the orbit found there and tracks the momenta together, the 9 particles of each in one run of the
// tracker; the orbits and tunes it finds are those of the scan outwards, to Newton's tolerance.
// The fit is the least-squares polynomial of degree 3 in delta (QR with column pivoting).

namespace {

constexpr double kDifferenceStep = 1e-7; // m and rad
constexpr double kOrbitTolerance = 1e-12;
constexpr int kNewtonSteps = 30;

using Vector4 = Eigen::Matrix<double, 4, 1>;
using Matrix4 = Eigen::Matrix<double, 4, 4>;

PhaseVector phase(const Vector4& z, double delta)
{
    PhaseVector p;
    p.x = z[0];
    p.px = z[1];
    p.y = z[2];
    p.py = z[3];
    p.delta = delta;
    return p;
}

Vector4 vector4(const PhaseVector& p)
{
    return {p.x, p.px, p.y, p.py};
}

// One turn of every orbit z[k] (at its delta[k]) and of the eight points around each, all in one run of
// the tracker; lost[k] when a particle of k is lost or its turn is no number.
void turnsAround(const SymplecticLattice& lattice, const std::vector<Vector4>& z,
                 const std::vector<double>& delta, std::vector<Vector4>& image,
                 std::vector<Matrix4>& jacobian, std::vector<bool>& lost)
{
    const std::size_t n = z.size();
    std::vector<PhaseVector> start;
    start.reserve(9 * n);
    for (std::size_t k = 0; k < n; ++k) {
        start.push_back(phase(z[k], delta[k]));
        for (int j = 0; j < 4; ++j)
            for (int sign : {1, -1}) {
                Vector4 shifted = z[k];
                shifted[j] += sign * kDifferenceStep;
                start.push_back(phase(shifted, delta[k]));
            }
    }
    TrackingOptions options;
    options.turns = 1;
    options.threads = 1;
    const TrackingOutcome out = trackParticles(lattice, start, options);
    image.resize(n);
    jacobian.resize(n);
    lost.assign(n, false);
    for (std::size_t k = 0; k < n; ++k) {
        const ParticleFate* f = &out.particles[9 * k];
        for (int j = 0; j < 9; ++j)
            lost[k] = lost[k] || f[j].lost;
        if (lost[k])
            continue;
        image[k] = vector4(f[0].final);
        for (int j = 0; j < 4; ++j)
            jacobian[k].col(j) =
                (vector4(f[1 + 2 * j].final) - vector4(f[2 + 2 * j].final)) / (2 * kDifferenceStep);
        lost[k] = !image[k].allFinite() || !jacobian[k].allFinite();
    }
}

// The fractional tune of a 2 x 2 block, in [0, 1); false when the motion is not stable.
bool blockTune(double a, double b, double d, double& tune)
{
    const double c = (a + d) / 2;
    if (!(std::fabs(c) < 1))
        return false;
    double mu = std::atan2(std::copysign(std::sqrt(1 - c * c), b), c);
    if (mu < 0)
        mu += kTwoPi;
    tune = mu / kTwoPi;
    return true;
}

// The whole tune with this fractional part nearest to near.
double nearestTune(double fraction, double near)
{
    return fraction + std::round(near - fraction);
}

std::string deltaText(double delta)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.6g", delta);
    return text;
}

std::array<double, 4> cubicFit(const std::vector<double>& delta, const std::vector<double>& q)
{
    const int n = static_cast<int>(delta.size());
    Eigen::MatrixXd a(n, 4);
    Eigen::VectorXd b(n);
    for (int i = 0; i < n; ++i) {
        double p = 1;
        for (int k = 0; k < 4; ++k, p *= delta[i])
            a(i, k) = p;
        b[i] = q[i];
    }
    const Eigen::Vector4d c = a.colPivHouseholderQr().solve(b);
    return {c[0], c[1], c[2], c[3]};
}

double polynomial(const std::array<double, 4>& c, double delta)
{
    return c[0] + delta * (c[1] + delta * (c[2] + delta * c[3]));
}

// Why the scan cannot run, into why; false when it can.
bool scanRefusal(const ChromaticScan& scan, std::string& why)
{
    if (!(scan.range > 0 && scan.range <= 0.5))
        why = "the momentum range must be above 0 and at most 0.5!";
    else if (scan.points < 5 || scan.points > kMostScanPoints)
        why = "the number of momentum points must be 5 .. " + std::to_string(kMostScanPoints) + "!";
    else
        return false;
    return true;
}

} // namespace

namespace {

enum class OrbitSearch { Found, Lost, NotFound };

// The closed orbits and the Jacobians about them at the momenta deltas, all together, each from its start
// in z; Lost when a particle of one is lost, NotFound when one has none within the Newton steps.
OrbitSearch closedOrbitsTogether(const SymplecticLattice& lattice, const std::vector<double>& deltas,
                                 std::vector<Vector4>& z, std::vector<Matrix4>& jacobian)
{
    std::vector<std::size_t> open(deltas.size());
    for (std::size_t k = 0; k < open.size(); ++k)
        open[k] = k;
    jacobian.resize(deltas.size());
    std::vector<Vector4> at, image;
    std::vector<double> delta;
    std::vector<Matrix4> j;
    std::vector<bool> lost;
    for (int step = 0; step < kNewtonSteps && !open.empty(); ++step) {
        at.clear();
        delta.clear();
        for (std::size_t k : open) {
            at.push_back(z[k]);
            delta.push_back(deltas[k]);
        }
        turnsAround(lattice, at, delta, image, j, lost);
        std::vector<std::size_t> still;
        for (std::size_t a = 0; a < open.size(); ++a) {
            const std::size_t k = open[a];
            if (lost[a])
                return OrbitSearch::Lost;
            const Vector4 miss = image[a] - at[a];
            if (miss.cwiseAbs().maxCoeff() < kOrbitTolerance) {
                jacobian[k] = j[a];
                continue;
            }
            z[k] = at[a] - (j[a] - Matrix4::Identity()).fullPivLu().solve(miss);
            if (!z[k].allFinite())
                return OrbitSearch::NotFound;
            still.push_back(k);
        }
        open = std::move(still);
    }
    return open.empty() ? OrbitSearch::Found : OrbitSearch::NotFound;
}

} // namespace

std::optional<ChromaticTunes> chromaticTunes(const State& state, const ChromaticScan& scan,
                                             std::string* refusal)
{
    std::string why;
    std::optional<TrackedCell> cell = scanRefusal(scan, why) ? std::nullopt : trackedCell(state, why);
    if (!cell) {
        if (refusal != nullptr)
            *refusal = why;
        return std::nullopt;
    }
    return chromaticTunes(*cell, scan, nullptr, refusal);
}

std::optional<ChromaticTunes> chromaticTunes(const TrackedCell& cell, const ChromaticScan& scan,
                                             const ChromaticTunes* start, std::string* refusal)
{
    const auto refuse = [&](const std::string& text) -> std::optional<ChromaticTunes> {
        if (refusal != nullptr)
            *refusal = text;
        return std::nullopt;
    };
    std::string why;
    if (scanRefusal(scan, why))
        return refuse(why);
    const SymplecticLattice& lattice = cell.lattice;
    const int cells = cell.cells;

    ChromaticTunes result;
    const int n = scan.points;
    result.delta.resize(static_cast<std::size_t>(n));
    result.tuneX.resize(static_cast<std::size_t>(n));
    result.tuneY.resize(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        result.delta[i] = -scan.range + 2 * scan.range * i / (n - 1);
    // from the point nearest delta = 0 outwards, each orbit and tune starting from its neighbour's
    const int centre = (n - 1) / 2;
    std::vector<int> order{centre};
    for (int k = 1; k < n; ++k) {
        if (centre + k < n)
            order.push_back(centre + k);
        if (centre - k >= 0)
            order.push_back(centre - k);
    }
    const auto neighbour = [centre](int i) { return i == centre ? centre : (i > centre ? i - 1 : i + 1); };
    std::vector<Vector4> orbit(static_cast<std::size_t>(n), Vector4::Zero());
    std::vector<Matrix4> jacobians(static_cast<std::size_t>(n));
    bool together =
        start != nullptr && start->delta == result.delta && start->orbit.size() == result.delta.size();
    if (together) {
        for (int i = 0; i < n; ++i)
            for (int c = 0; c < 4; ++c)
                orbit[i][c] = start->orbit[i][static_cast<std::size_t>(c)];
        together = closedOrbitsTogether(lattice, result.delta, orbit, jacobians) == OrbitSearch::Found;
    }
    if (!together) {
        for (int i : order) {
            const double delta = result.delta[i];
            std::vector<Vector4> z{orbit[neighbour(i)]};
            std::vector<Matrix4> jacobian;
            const OrbitSearch found = closedOrbitsTogether(lattice, {delta}, z, jacobian);
            if (found == OrbitSearch::Lost)
                return refuse("the particle of delta = " + deltaText(delta) + " is lost in one cell");
            if (found == OrbitSearch::NotFound)
                return refuse("no closed orbit found at delta = " + deltaText(delta));
            orbit[i] = z[0];
            jacobians[i] = jacobian[0];
        }
    }
    for (int i : order) {
        const int from = neighbour(i);
        const double delta = result.delta[i];
        const Matrix4& jacobian = jacobians[i];
        double fx = 0, fy = 0;
        if (cell.coupled || cell.errors) {
            // the eigentunes of the turn's map, mode 1 the one mostly in x, by the coupled optics'
            // decomposition of the one map: a machine with errors couples about its closed orbit (a
            // rolled magnet, a sextupole off centre in y) though its design does not
            Map5 turn = identityMap();
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 4; ++c)
                    turn[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = jacobian(r, c);
            const CoupledRing modes = coupledRing({turn}, {1.0}, 1);
            if (!modes.computed)
                return refuse("the motion at delta = " + deltaText(delta) + ": " + modes.refusal);
            fx = modes.tune1 - std::floor(modes.tune1);
            fy = modes.tune2 - std::floor(modes.tune2);
        } else if (!blockTune(jacobian(0, 0), jacobian(0, 1), jacobian(1, 1), fx) ||
                   !blockTune(jacobian(2, 2), jacobian(2, 3), jacobian(3, 3), fy)) {
            return refuse("the motion at delta = " + deltaText(delta) + " is not stable");
        }
        const double nearX = i == centre ? cell.cellTune1 : result.tuneX[from] / cells;
        const double nearY = i == centre ? cell.cellTune2 : result.tuneY[from] / cells;
        result.tuneX[i] = cells * nearestTune(fx, nearX);
        result.tuneY[i] = cells * nearestTune(fy, nearY);
    }
    result.orbit.resize(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        result.orbit[i] = {orbit[i][0], orbit[i][1], orbit[i][2], orbit[i][3]};
    result.qx = cubicFit(result.delta, result.tuneX);
    result.qy = cubicFit(result.delta, result.tuneY);
    for (int i = 0; i < n; ++i)
        result.residual =
            std::max({result.residual, std::fabs(polynomial(result.qx, result.delta[i]) - result.tuneX[i]),
                      std::fabs(polynomial(result.qy, result.delta[i]) - result.tuneY[i])});
    return result;
}

} // namespace kestrune

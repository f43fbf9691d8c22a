#include "core/aperture/DynamicAperture.h"

#include "core/Constants.h"
#include "core/aperture/Bisection.h"
#include "core/tracking/ParticleTracker.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>

namespace kestrune {

namespace {

// Newton's method on the one-turn map: the step of the difference quotients and the iterations.
constexpr double kOrbitStep = 1e-7;
constexpr int kOrbitIterations = 20;
constexpr double kOrbitTolerance = 1e-15; // m

double nan()
{
    return std::numeric_limits<double>::quiet_NaN();
}

// Solves a x = b (4 x 4) by Gaussian elimination with partial pivoting; false when singular.
bool solve4(double a[4][4], double b[4])
{
    for (int c = 0; c < 4; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 4; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[pivot][c]))
                pivot = r;
        if (!(std::fabs(a[pivot][c]) > 0))
            return false;
        std::swap(a[c], a[pivot]);
        std::swap(b[c], b[pivot]);
        for (int r = c + 1; r < 4; ++r) {
            const double f = a[r][c] / a[c][c];
            for (int k = c; k < 4; ++k)
                a[r][k] -= f * a[c][k];
            b[r] -= f * b[c];
        }
    }
    for (int c = 3; c >= 0; --c) {
        for (int k = c + 1; k < 4; ++k)
            b[c] -= a[c][k] * b[k];
        b[c] /= a[c][c];
    }
    return true;
}

double* coordinate(PhaseVector& p, int i)
{
    double* q[4] = {&p.x, &p.px, &p.y, &p.py};
    return q[i];
}

// The edge of the aperture at the start along a ray from the orbit point (m); 0 when the orbit lies
// outside.
double edgeAlong(double angle, const PhaseVector& orbit, const Aperture& aperture)
{
    const double c = std::cos(angle), s = std::sin(angle);
    double edge = std::numeric_limits<double>::infinity();
    if (std::fabs(c) > 1e-12)
        edge = std::min(edge, (aperture.x - (c > 0 ? orbit.x : -orbit.x)) / std::fabs(c));
    if (std::fabs(s) > 1e-12)
        edge = std::min(edge, (aperture.y - (s > 0 ? orbit.y : -orbit.y)) / std::fabs(s));
    return std::max(edge, 0.0);
}

} // namespace

std::vector<double> rayAngles(int n)
{
    std::vector<double> angles;
    angles.reserve(static_cast<std::size_t>(std::max(n, 0)));
    for (int i = 0; i < n; ++i)
        angles.push_back(n > 1 ? kPi * i / (n - 1) : 0.0);
    return angles;
}

PhaseVector closedOrbit(const SymplecticLattice& lattice, double delta, int startElement)
{
    PhaseVector z{0, 0, 0, 0, delta, 0};
    SymplecticLattice flat = lattice;
    switchRfOff(flat);
    for (int iteration = 0; iteration < kOrbitIterations; ++iteration) {
        std::vector<PhaseVector> start(5, z);
        for (int i = 0; i < 4; ++i)
            *coordinate(start[static_cast<std::size_t>(i) + 1], i) += kOrbitStep;
        TrackingOptions options;
        options.startElement = startElement;
        const TrackingOutcome out = trackParticles(flat, start, options);
        for (const ParticleFate& f : out.particles)
            if (f.lost)
                return {nan(), nan(), nan(), nan(), delta, 0};
        PhaseVector m0 = out.particles[0].final;
        // on momentum the maps of a ring without errors or kicks keep the zero vector exactly: it is the
        // orbit, as it is, with no rounding of a Newton step; a misaligned element, a field error or a
        // corrector's kick moves it, and the orbit is searched for as off momentum
        if (delta == 0 && iteration == 0 && m0.x == 0 && m0.px == 0 && m0.y == 0 && m0.py == 0)
            return z;
        // (J - 1) dz = z - M(z)
        double a[4][4], b[4];
        for (int r = 0; r < 4; ++r) {
            b[r] = *coordinate(z, r) - *coordinate(m0, r);
            for (int c = 0; c < 4; ++c) {
                PhaseVector mc = out.particles[static_cast<std::size_t>(c) + 1].final;
                a[r][c] = (*coordinate(mc, r) - *coordinate(m0, r)) / kOrbitStep - (r == c ? 1 : 0);
            }
        }
        if (!solve4(a, b))
            return {nan(), nan(), nan(), nan(), delta, 0};
        double step = 0;
        for (int r = 0; r < 4; ++r) {
            *coordinate(z, r) += b[r];
            step = std::max(step, std::fabs(b[r]));
        }
        if (step < kOrbitTolerance)
            break;
    }
    z.l = 0;
    return z;
}

DynamicAperture dynamicAperture(const ApertureRing& ring, const DynamicApertureSettings& settings,
                                const ScanControl& control)
{
    DynamicAperture da;
    da.angles = rayAngles(settings.angles);
    da.radius.assign(da.angles.size(), nan());
    da.sigmaX = std::sqrt(ring.emittanceX * ring.betaX0);
    da.sigmaY = std::sqrt(ring.emittanceY * ring.betaY0);
    SymplecticLattice lattice = ring.lattice;
    switchRfOff(lattice);
    da.orbit = closedOrbit(lattice, settings.delta);
    PhaseVector origin = da.orbit;
    origin.y += kRayOffsetY;

    std::vector<Bisection> rays;
    long long planned = 0;
    for (int i = 0; i < settings.angles; ++i) {
        if (!settings.part.holds(i))
            continue;
        Bisection search;
        search.item = i;
        search.hi = std::isfinite(da.orbit.x)
                        ? edgeAlong(da.angles[static_cast<std::size_t>(i)], origin, settings.aperture)
                        : 0.0;
        search.done = !(search.hi > 0);
        planned += plannedTrials(search.hi, settings.resolution);
        rays.push_back(search);
    }
    const int groups = scanThreads(control.threads, static_cast<int>(rays.size()));
    std::atomic<long long> testsDone{0};
    std::unique_ptr<std::atomic<double>[]> running(new std::atomic<double>[static_cast<std::size_t>(groups)]);
    for (int g = 0; g < groups; ++g)
        running[static_cast<std::size_t>(g)] = 0;
    std::atomic<bool> stopped{false};

    const auto searchGroup = [&](int g) {
        std::vector<Bisection*> mine;
        for (std::size_t j = static_cast<std::size_t>(g); j < rays.size();
             j += static_cast<std::size_t>(groups))
            mine.push_back(&rays[j]);
        std::vector<PhaseVector> start;
        std::vector<Bisection*> asked;
        while (true) {
            start.clear();
            asked.clear();
            for (Bisection* r : mine) {
                if (r->done)
                    continue;
                const double angle = da.angles[static_cast<std::size_t>(r->item)];
                PhaseVector p = origin;
                p.x += r->trial() * std::cos(angle);
                p.y += r->trial() * std::sin(angle);
                start.push_back(p);
                asked.push_back(r);
            }
            if (asked.empty())
                return;
            const double size = static_cast<double>(asked.size());
            std::atomic<double>& now = running[static_cast<std::size_t>(g)];
            const TrackingOutcome out =
                trackTogether(lattice, start, settings.turns, settings.aperture, 1, control.cancel,
                              [&now, size](double f) { now = f * size; });
            now = 0;
            if (out.cancelled) {
                stopped = true;
                return;
            }
            for (std::size_t k = 0; k < asked.size(); ++k)
                asked[k]->take(!out.particles[k].lost, settings.resolution);
            testsDone += static_cast<long long>(asked.size());
        }
    };
    const auto report = [&] {
        if (!control.progress)
            return;
        double done = static_cast<double>(testsDone.load());
        for (int g = 0; g < groups; ++g)
            done += running[static_cast<std::size_t>(g)].load();
        control.progress(planned > 0 ? std::min(1.0, done / static_cast<double>(planned)) : 1.0);
    };
    runTasks(groups, groups, searchGroup, report);
    for (const Bisection& r : rays)
        if (r.done)
            da.radius[static_cast<std::size_t>(r.item)] = r.lo;
    da.cancelled = stopped;
    if (control.progress)
        control.progress(1);
    return da;
}

double apertureArea(const std::vector<double>& angles, const std::vector<double>& radius)
{
    // twice the fan of triangles between neighbouring rays
    double area = 0;
    for (std::size_t i = 0; i + 1 < radius.size() && i + 1 < angles.size(); ++i)
        area += radius[i] * radius[i + 1] * std::sin(angles[i + 1] - angles[i]);
    for (double r : radius)
        if (!std::isfinite(r))
            return nan();
    return area;
}

ApertureGrid apertureGrid(const ApertureRing& ring, const ApertureGridSettings& settings,
                          const ScanControl& control)
{
    ApertureGrid grid;
    SymplecticLattice lattice = ring.lattice;
    switchRfOff(lattice);
    grid.orbit = closedOrbit(lattice, settings.delta);
    const int n = settings.nx * settings.ny;
    grid.turns.assign(static_cast<std::size_t>(n), -1);
    grid.lost.assign(static_cast<std::size_t>(n), false);
    std::vector<PhaseVector> start;
    std::vector<int> index;
    for (int j = 0; j < settings.ny; ++j) {
        for (int i = 0; i < settings.nx; ++i) {
            const double x = settings.nx > 1 ? settings.xMax * (2.0 * i / (settings.nx - 1) - 1) : 0.0;
            const double y = settings.yMax * (j + 1) / settings.ny;
            grid.x.push_back(x);
            grid.y.push_back(y);
            const int k = j * settings.nx + i;
            if (!settings.part.holds(k) || !std::isfinite(grid.orbit.x))
                continue;
            PhaseVector p = grid.orbit;
            p.x += x;
            p.y += y;
            start.push_back(p);
            index.push_back(k);
        }
    }
    TrackingOptions options;
    options.turns = settings.turns;
    options.aperture = settings.aperture;
    options.threads = control.threads;
    options.cancel = control.cancel;
    options.progress = control.progress;
    const TrackingOutcome out = trackParticles(lattice, start, options);
    grid.cancelled = out.cancelled;
    for (std::size_t k = 0; k < index.size(); ++k) {
        const ParticleFate& f = out.particles[k];
        if (out.cancelled && !f.lost && f.turn < settings.turns)
            continue; // not finished
        const auto at = static_cast<std::size_t>(index[k]);
        grid.lost[at] = f.lost;
        grid.turns[at] = f.lost ? f.turn - 1 : f.turn;
    }
    if (control.progress && start.empty())
        control.progress(1);
    return grid;
}

double gridArea(const ApertureGrid& grid, const ApertureGridSettings& settings)
{
    const double cellX = settings.nx > 1 ? 2 * settings.xMax / (settings.nx - 1) : 0.0;
    const double cellY = settings.yMax / settings.ny;
    int kept = 0;
    for (std::size_t k = 0; k < grid.turns.size(); ++k) {
        if (grid.turns[k] < 0)
            return nan();
        kept += grid.lost[k] ? 0 : 1;
    }
    return 2 * kept * cellX * cellY;
}

} // namespace kestrune

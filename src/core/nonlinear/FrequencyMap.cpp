#include "core/nonlinear/FrequencyMap.h"

#include "core/Threads.h"
#include "core/aperture/DynamicAperture.h"
#include "core/tracking/ElementKernels.h"
#include "core/tracking/ParticleTracker.h"
#include "core/tracking/TuneAnalysis.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <optional>

namespace kestrune {

// The frequency map (Laskar's frequency map analysis): a regular orbit has fixed tunes, so the tunes of
// the first N turns and of the next N agree to the precision of the tune analysis (for the windowed,
// refined spectrum of TuneAnalysis better than 1e-9 at 512 turns); a chaotic one drifts, and the change
// ΔQ = sqrt(ΔQx^2 + ΔQy^2) between the halves measures how fast. The diffusion index is log10 ΔQ (the
// Accelerator Toolbox's and elegant's "diffusion"), or log10(ΔQ / N), the change per turn, when asked.
// A tune change is taken across the wrap of the fractional tunes (0.999 to 0.001 is 0.002).

double diffusionIndex(double dqx, double dqy, int turns, bool perTurn)
{
    dqx -= std::round(dqx);
    dqy -= std::round(dqy);
    double change = std::hypot(dqx, dqy);
    if (perTurn && turns > 0)
        change /= turns;
    if (!(change > 0))
        return kLeastDiffusion;
    return std::max(std::log10(change), kLeastDiffusion);
}

namespace {

// The particles of one task: a block of the tracker, so that each task tracks as the kernels like, or
// fewer when their turn data would pass kTaskBytes.
constexpr std::size_t kTaskBytes = std::size_t{16} << 20;
int taskParticles(int turns)
{
    const std::size_t perParticle = static_cast<std::size_t>(std::max(turns, 1)) * 2 * 4 * sizeof(double);
    return static_cast<int>(std::clamp<std::size_t>(kTaskBytes / perParticle, 1, ParticleBlock::kCapacity));
}

struct Start
{
    int point = 0; // index in the map
    PhaseVector at;
};

// The coordinates x, px, y, py after every turn, turn-major per particle.
struct TurnData
{
    int turns = 0;
    std::vector<double> values;
    double* at(int particle, int turn)
    {
        return &values[(static_cast<std::size_t>(particle) * turns + turn) * 4];
    }
};

double tuneOf(const TurnData& data, int particle, int first, int count, int coordinate)
{
    std::vector<double> q(static_cast<std::size_t>(count)), p(static_cast<std::size_t>(count));
    for (int t = 0; t < count; ++t) {
        const double* v = &data.values[(static_cast<std::size_t>(particle) * data.turns + first + t) * 4];
        q[static_cast<std::size_t>(t)] = v[coordinate];
        p[static_cast<std::size_t>(t)] = v[coordinate + 1];
    }
    return fractionalTune(q, p);
}

void analyse(FrequencyMapPoint& point, const TurnData& data, int particle,
             const FrequencyMapSettings& settings)
{
    const int n = settings.turns;
    point.qx1 = tuneOf(data, particle, 0, n, 0);
    point.qy1 = tuneOf(data, particle, 0, n, 2);
    point.qx2 = tuneOf(data, particle, n, n, 0);
    point.qy2 = tuneOf(data, particle, n, n, 2);
    point.tunesFound = std::isfinite(point.qx1) && std::isfinite(point.qy1) && std::isfinite(point.qx2) &&
                       std::isfinite(point.qy2);
    if (!point.tunesFound) {
        point.qx1 = point.qy1 = point.qx2 = point.qy2 = 0;
        return;
    }
    point.diffusion = diffusionIndex(point.qx2 - point.qx1, point.qy2 - point.qy1, n, settings.perTurn);
}

} // namespace

FrequencyMap frequencyMap(const ApertureRing& ring, const FrequencyMapSettings& settings,
                          const ScanControl& control)
{
    FrequencyMap map;
    SymplecticLattice lattice = ring.lattice;
    switchRfOff(lattice);
    const bool xy = settings.plane == FrequencyMapPlane::XY;
    const int nx = std::max(settings.nx, 1);
    const int ny = std::max(settings.ny, 1);
    map.points.resize(static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny));

    std::vector<Start> starts;
    std::optional<PhaseVector> planeOrbit; // the x-y plane's one orbit, found once
    for (int j = 0; j < ny; ++j) {
        const double delta = xy ? settings.delta : (ny > 1 ? settings.yMax * (2.0 * j / (ny - 1) - 1) : 0.0);
        const bool needed = [&] {
            for (int i = 0; i < nx; ++i)
                if (settings.part.holds(j * nx + i))
                    return true;
            return false;
        }();
        if (needed && xy && !planeOrbit)
            planeOrbit = closedOrbit(lattice, delta);
        const PhaseVector orbit = !needed ? PhaseVector{} : xy ? *planeOrbit : closedOrbit(lattice, delta);
        for (int i = 0; i < nx; ++i) {
            const int k = j * nx + i;
            FrequencyMapPoint& point = map.points[static_cast<std::size_t>(k)];
            point.x = settings.xMax * (i + 1) / nx;
            point.y = xy ? settings.yMax * (j + 1) / ny : delta;
            if (!settings.part.holds(k))
                continue;
            if (!std::isfinite(orbit.x)) { // no closed orbit at this momentum: nothing to oscillate about
                point.computed = point.lost = true;
                continue;
            }
            PhaseVector at = orbit;
            at.x += point.x;
            at.y += xy ? point.y : kRayOffsetY;
            starts.push_back({k, at});
        }
    }

    const int perTask = taskParticles(settings.turns);
    const int tasks = (static_cast<int>(starts.size()) + perTask - 1) / perTask;
    std::unique_ptr<std::atomic<double>[]> done(
        new std::atomic<double>[static_cast<std::size_t>(std::max(tasks, 1))]);
    for (int t = 0; t < tasks; ++t)
        done[static_cast<std::size_t>(t)] = 0;
    std::atomic<bool> anyCancelled{false};
    const auto task = [&](int t) {
        const int first = t * perTask;
        const int count = std::min(perTask, static_cast<int>(starts.size()) - first);
        const auto from = static_cast<std::size_t>(first);
        std::vector<PhaseVector> start;
        start.reserve(static_cast<std::size_t>(count));
        for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i)
            start.push_back(starts[from + i].at);
        TurnData data;
        data.turns = 2 * settings.turns;
        data.values.assign(static_cast<std::size_t>(count) * data.turns * 4, 0.0);
        TrackingOptions options;
        options.turns = data.turns;
        options.aperture = settings.aperture;
        options.threads = 1;
        options.cancel = control.cancel;
        options.progress = [&done, t](double f) { done[static_cast<std::size_t>(t)] = f; };
        options.turnRecorder = [&data](int particle, int turn, const PhaseVector& z) {
            double* v = data.at(particle, turn - 1);
            v[0] = z.x;
            v[1] = z.px;
            v[2] = z.y;
            v[3] = z.py;
        };
        const TrackingOutcome out = trackParticles(lattice, start, options);
        if (out.cancelled)
            anyCancelled = true;
        for (int i = 0; i < count; ++i) {
            const ParticleFate& fate = out.particles[static_cast<std::size_t>(i)];
            FrequencyMapPoint& point =
                map.points[static_cast<std::size_t>(starts[from + static_cast<std::size_t>(i)].point)];
            if (fate.lost) {
                point.computed = point.lost = true;
                point.lostTurn = fate.turn;
            } else if (fate.turn >= data.turns) {
                point.computed = true;
                analyse(point, data, i, settings);
            }
        }
        done[static_cast<std::size_t>(t)] = 1;
    };
    const auto report = [&] {
        if (!control.progress || tasks == 0)
            return;
        double sum = 0;
        for (int t = 0; t < tasks; ++t)
            sum += done[static_cast<std::size_t>(t)];
        control.progress(std::min(sum / tasks, 1.0));
    };
    runTasks(tasks, scanThreads(control.threads, tasks), task, report);
    map.cancelled = anyCancelled || (control.cancel && control.cancel->load());
    if (control.progress)
        control.progress(1);
    return map;
}

} // namespace kestrune

#include "core/orbit/OrbitResponse.h"

#include "core/Constants.h"
#include "core/optics/BetaFunctions.h"
#include "core/orbit/ClosedOrbit.h"
#include "core/ring/Parameter.h"
#include "core/tracking/ElementKernels.h"
#include "core/tracking/SymplecticLattice.h"

#include <cmath>

namespace kestrune {

namespace {

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

SymplecticLattice orbitLattice(const State& state)
{
    QuietMessages quiet(true);
    RfCavity off;
    SymplecticLattice lattice = buildSymplecticLattice(state, quiet, off);
    switchRfOff(lattice);
    return lattice;
}

// One pass of the line from the start values.
std::optional<std::vector<PhaseVector>> trajectory(const State& state, std::string& refusal)
{
    if (std::optional<std::string> r = trackingRefusal(state.line)) {
        refusal = "no trajectory: " + *r;
        return std::nullopt;
    }
    const SymplecticLattice lattice = orbitLattice(state);
    PhaseVector start;
    start.x = state.run.x0 / 1000;
    start.px = state.run.xp0 / 1000;
    start.y = state.run.y0 / 1000;
    start.py = state.run.yp0 / 1000;
    ParticleBlock block;
    block.add(start, 0);
    std::vector<PhaseVector> orbit{start};
    orbit.reserve(lattice.cell.size() + 1);
    for (const ElementMap& e : lattice.cell) {
        pushElement(e, block);
        const PhaseVector p = block.at(0);
        if (!(std::fabs(p.x) < kTrackingLossLimit && std::fabs(p.y) < kTrackingLossLimit)) {
            refusal = "no trajectory: lost at element " + std::to_string(orbit.size());
            return std::nullopt;
        }
        orbit.push_back(p);
    }
    return orbit;
}

// The lag of one turn of the whole ring from the start of the closed orbit: the cells with their path
// lengths, then the speed's part (pushCellEnd, pushTurnEnd), as the tracker's turn has it.
double turnLag(const SymplecticLattice& lattice, const PhaseVector& start)
{
    ParticleBlock block;
    block.add(start, 0);
    for (int p = 0; p < lattice.superPeriods; ++p) {
        for (const ElementMap& e : lattice.cell)
            pushElement(e, block);
        if (lattice.cavityElements)
            pushCellEnd(lattice, block);
    }
    pushTurnEnd(lattice, block);
    return block.at(0).l;
}

// The closed orbit at a fixed rf frequency: the momentum deviation whose turn has no lag (the revolution
// time of the reference kept), by the secant method on the lag, which is linear in delta up to terms of
// order delta^2.
std::optional<std::vector<PhaseVector>> fixedFrequencyOrbit(const State& state, std::string& refusal)
{
    const SymplecticLattice lattice = orbitLattice(state);
    double d0 = 0, d1 = 1e-7, lag0 = 0;
    for (int step = 0; step < 12; ++step) {
        const ClosedOrbit orbit = closedOrbit(state, d1);
        if (!orbit.found) {
            refusal = orbit.refusal;
            return std::nullopt;
        }
        const double lag1 = turnLag(lattice, orbit.orbit.front());
        if (step == 0) {
            const ClosedOrbit centre = closedOrbit(state, d0);
            if (!centre.found) {
                refusal = centre.refusal;
                return std::nullopt;
            }
            lag0 = turnLag(lattice, centre.orbit.front());
        }
        if (lag1 == lag0 || std::fabs(d1 - d0) < 1e-15)
            return orbit.orbit;
        const double next = d1 - lag1 * (d1 - d0) / (lag1 - lag0);
        d0 = d1;
        lag0 = lag1;
        d1 = next;
    }
    refusal = "no closed orbit at a fixed rf frequency: the momentum does not converge";
    return std::nullopt;
}

double reading(const std::vector<PhaseVector>& orbit, int monitor, bool horizontal)
{
    const PhaseVector& a = orbit[static_cast<std::size_t>(monitor) - 1];
    const PhaseVector& b = orbit[static_cast<std::size_t>(monitor)];
    return horizontal ? (a.x + b.x) / 2 : (a.y + b.y) / 2;
}

// The uncoupled optics on the design orbit: kicks, dipole components and errors taken out; the first
// element they still cannot compute.
std::optional<std::string> designOptics(State& work)
{
    for (int i = 1; i <= work.line.count && i <= kMaxLineElements; ++i) {
        LatticeElement& e = work.line.at(i);
        e.hkick = e.vkick = 0;
        for (std::vector<double>* dipole : {&e.knl, &e.ksl})
            if (!dipole->empty())
                (*dipole)[0] = 0;
        e.errors = ElementErrors{};
        if (std::optional<std::string> r = uncoupledOpticsRefusal(e, i))
            return "the closed-form orbit response needs uncoupled optics: " + *r;
    }
    work.run.showBetaFunctions = true;
    return std::nullopt;
}

struct Centre
{
    double betaX, phiX, betaY, phiY, eta;
};

// The functions at the centre of every element from the running values at the start; only those of
// monitors and kickers are used, which are drifts in the optics, so the drift's formulas from the
// entrance values are exact there. A kicker's kick spread evenly over its length L moves the orbit at its
// exit by (theta L / 2, theta), as the same kick at its centre does: beyond the kicker the two are one
// response, which the centre's beta and phase give (the tracker kicks at the centre too).
std::vector<Centre> centres(State& work)
{
    QuietMessages quiet(true);
    std::vector<Centre> result(static_cast<std::size_t>(work.line.count) + 1);
    for (int i = 1; i <= work.line.count; ++i) {
        const LatticeElement& e = work.line.at(i);
        const LatticeFunctions before = work.lf;
        ringTrace(work, quiet, i, nullptr);
        const double l = e.length / 2;
        const auto centre = [l](double beta, double alpha, double gamma, double phi) {
            const double b = beta - 2 * alpha * l + gamma * l * l;
            const double dphi = std::atan2(l, beta - alpha * l) / kTwoPi;
            return std::pair{b, phi + dphi};
        };
        const auto [bx, px] = centre(before.betaX, before.alphaX, before.gammaX, before.phiX);
        const auto [by, py] = centre(before.betaY, before.alphaY, before.gammaY, before.phiY);
        result[static_cast<std::size_t>(i)] = {bx, px, by, py, before.eta + l * before.etaP};
    }
    return result;
}

} // namespace

std::optional<std::vector<PhaseVector>> trackedOrbit(const State& state, OrbitKind kind, std::string& refusal)
{
    if (kind == OrbitKind::Trajectory)
        return trajectory(state, refusal);
    ClosedOrbit orbit = closedOrbit(state, 0);
    if (!orbit.found) {
        refusal = orbit.refusal;
        return std::nullopt;
    }
    return std::move(orbit.orbit);
}

std::optional<OrbitResponse> trackedOrbitResponse(const State& state, std::string& refusal, OrbitKind kind,
                                                  ResponseMomentum momentum)
{
    if (std::optional<std::string> r = trackingRefusal(state.line)) {
        refusal = (kind == OrbitKind::Closed ? "no closed orbit: " : "no trajectory: ") + *r;
        return std::nullopt;
    }
    OrbitResponse response = responseLayout(state.line);
    if (response.monitors.empty() || response.kickers.empty()) {
        refusal = "the orbit response needs monitors and kickers";
        return std::nullopt;
    }
    const bool fixedFrequency = kind == OrbitKind::Closed && momentum == ResponseMomentum::FixedFrequency;
    constexpr double kKick = 1e-6;
    State work = state;
    for (std::size_t c = 0; c < response.kickers.size(); ++c) {
        LatticeElement& kicker = work.line.at(response.kickers[c]);
        double& kick = response.horizontalKick[c] ? kicker.hkick : kicker.vkick;
        const double design = kick;
        std::vector<PhaseVector> sides[2];
        for (int side = 0; side < 2; ++side) {
            kick = design + (side == 0 ? kKick : -kKick);
            std::optional<std::vector<PhaseVector>> orbit =
                fixedFrequency ? fixedFrequencyOrbit(work, refusal) : trackedOrbit(work, kind, refusal);
            if (!orbit)
                return std::nullopt;
            sides[side] = std::move(*orbit);
        }
        kick = design;
        const std::size_t n = response.monitors.size();
        for (std::size_t m = 0; m < n; ++m) {
            const int i = response.monitors[m];
            response.matrix[m][c] = (reading(sides[0], i, true) - reading(sides[1], i, true)) / (2 * kKick);
            response.matrix[n + m][c] =
                (reading(sides[0], i, false) - reading(sides[1], i, false)) / (2 * kKick);
        }
    }
    return response;
}

std::optional<OrbitResponse> closedFormOrbitResponse(const State& state, ResponseMomentum momentum,
                                                     std::string& refusal, OrbitKind kind)
{
    OrbitResponse response = responseLayout(state.line);
    if (response.monitors.empty() || response.kickers.empty()) {
        refusal = "the orbit response needs monitors and kickers";
        return std::nullopt;
    }
    State work = state;
    if (std::optional<std::string> r = designOptics(work)) {
        refusal = *r;
        return std::nullopt;
    }
    QuietMessages quiet(true);
    const bool ring = kind == OrbitKind::Closed;
    if (ring) {
        if (work.line.superPeriods != 1) {
            refusal = "the orbit response is computed for a ring of one superperiod";
            return std::nullopt;
        }
        if (!ringStart(work, quiet, nullptr) || !work.run.periodicStable) {
            refusal = "the orbit response needs a stable periodic solution";
            return std::nullopt;
        }
    } else {
        startFunctions(work.run, work.lf);
    }
    const std::vector<Centre> at = centres(work);
    const double qx = work.lf.phiX, qy = work.lf.phiY;
    // a fixed rf frequency keeps the revolution time: the kick theta lengthens the orbit by eta_k theta,
    // the momentum deviation delta changes the time by eta_c delta T, so eta_c delta = -eta_k theta / C and
    // the orbit moves by eta_m delta at the monitor
    double slipLength = 0; // eta_c C, m
    if (ring && momentum == ResponseMomentum::FixedFrequency) {
        radiationIntegrals(work, quiet);
        const double gamma = work.beam.gamma;
        slipLength = work.ringParams.i1 - work.line.length / (gamma * gamma);
        if (!(std::fabs(slipLength) > 1e-12 * work.line.length)) {
            refusal = "the orbit response at a fixed rf frequency has no solution at the transition energy";
            return std::nullopt;
        }
    }
    const std::size_t n = response.monitors.size();
    for (std::size_t c = 0; c < response.kickers.size(); ++c) {
        const Centre& k = at[static_cast<std::size_t>(response.kickers[c])];
        const bool horizontal = response.horizontalKick[c];
        const double q = horizontal ? qx : qy;
        for (std::size_t m = 0; m < n; ++m) {
            const Centre& b = at[static_cast<std::size_t>(response.monitors[m])];
            const double beta = horizontal ? std::sqrt(b.betaX * k.betaX) : std::sqrt(b.betaY * k.betaY);
            const double dphi = horizontal ? b.phiX - k.phiX : b.phiY - k.phiY;
            double r = 0;
            if (ring) {
                r = beta * std::cos(kTwoPi * std::fabs(dphi) - kPi * q) / (2 * std::sin(kPi * q));
                if (horizontal && slipLength != 0)
                    r -= b.eta * k.eta / slipLength;
            } else if (response.monitors[m] > response.kickers[c]) {
                r = beta * std::sin(kTwoPi * dphi);
            }
            response.matrix[horizontal ? m : n + m][c] = r;
        }
    }
    return response;
}

} // namespace kestrune

#include "core/orbit/OrbitResponse.h"

#include "core/Constants.h"
#include "core/optics/BetaFunctions.h"
#include "core/orbit/ClosedOrbit.h"
#include "core/ring/Parameter.h"
#include "core/tracking/SymplecticLattice.h"

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
            sides[side] = closedOrbit(work, 0);
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

} // namespace kestrune

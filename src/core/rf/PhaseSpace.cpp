#include "core/rf/PhaseSpace.h"

#include "core/Constants.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace kestrune {

namespace {

constexpr int kMostSamples = 201;
constexpr int kBuckets = 3;
constexpr int kTrajectories = 20;

double degrees(double phi)
{
    return phi * 180 / kPi;
}

/// The upper branch of a curve, in sampling order.
struct Branch
{
    std::vector<double> x; // deg
    std::vector<double> y; // %
};

class Sampler
{
public:
    explicit Sampler(const RfParameters& rf)
        : m_phiS(rf.synchronousPhase), m_fS(rf.synchrotronFrequency),
          // phase velocity dphi/dt = 2 pi f_rf eta_c dE/E, and dE/E in per cent
          m_k(-kTwoPi * rf.slipFactor * rf.frequency / 100),
          // H is computed to rounding; a point on the level itself must not end the curve
          m_tolerance(1e-12 * std::pow(kTwoPi * rf.synchrotronFrequency, 2))
    {
    }

    double h(double phi) const { return longitudinalPotential(phi, m_phiS, m_fS); }

    /// The curve of level h0 sampled at phi = first + j step, j = 0..200, until it leaves the phase
    /// space; when it left early, a point on the axis at the last phase closes it.
    Branch branch(double h0, double first, double step) const
    {
        Branch b;
        for (int j = 0; j < kMostSamples; ++j) {
            const double phi = first + j * step;
            const double twice = 2 * (h0 - h(phi));
            if (twice < -m_tolerance)
                break;
            b.x.push_back(degrees(phi));
            b.y.push_back(std::sqrt(std::fmax(twice, 0.0)) / m_k);
        }
        if (!b.x.empty() && b.x.size() < kMostSamples - 1) {
            b.x.push_back(b.x.back());
            b.y.push_back(0);
        }
        return b;
    }

private:
    double m_phiS;
    double m_fS;
    double m_k;
    double m_tolerance;
};

void addPoint(GraphCurve& curve, double x, double y)
{
    if (x >= kPhaseCut)
        return;
    curve.x.push_back(x);
    curve.y.push_back(y);
}

/// Upper branch in sampling order, then the lower branch back.
GraphCurve forwardThenBack(const Branch& b)
{
    GraphCurve c;
    for (std::size_t j = 0; j < b.x.size(); ++j)
        addPoint(c, b.x[j], b.y[j]);
    for (std::size_t j = b.x.size(); j-- > 0;)
        addPoint(c, b.x[j], -b.y[j]);
    return c;
}

/// Upper branch against the sampling order, then the lower branch along it.
GraphCurve backThenForward(const Branch& b)
{
    GraphCurve c;
    for (std::size_t j = b.x.size(); j-- > 0;)
        addPoint(c, b.x[j], b.y[j]);
    for (std::size_t j = 0; j < b.x.size(); ++j)
        addPoint(c, b.x[j], -b.y[j]);
    return c;
}

/// The unstable fixed point of bucket i = 1, 2, 3: (2i - 1) pi - phi_s.
double unstablePhase(int i, double phiS)
{
    return (2 * i - 1) * kPi - phiS;
}

} // namespace

bool trajectoryDrawn(double phi0, double phiS)
{
    return phi0 < kPi - phiS || (phiS < phi0 && phi0 < 3 * kPi - phiS) ||
           (kTwoPi + phiS < phi0 && phi0 < 5 * kPi - phiS) ||
           (2 * kTwoPi + phiS < phi0 && phi0 < 7 * kPi - phiS);
}

std::vector<double> trajectoryStarts(double phiS)
{
    std::vector<double> starts;
    double phi0 = 0;
    for (int n = 0; n < kTrajectories; ++n) {
        const double previous = phi0;
        phi0 += kTwoPi / kTrajectories;
        for (const double barrier : {kPi - phiS, 3 * kPi - phiS}) {
            if (previous < barrier && phi0 > barrier) {
                phi0 += 2 * phiS - kPi;
                break;
            }
        }
        starts.push_back(phi0);
    }
    return starts;
}

double longitudinalPotential(double phi, double phiS, double fS)
{
    const double omega = kTwoPi * fS;
    return -omega * omega * (std::tan(phiS) * (phi - phiS) + std::cos(phi) / std::cos(phiS) - 1);
}

std::vector<PhaseCurve> phaseSpaceCurves(const RfParameters& rf)
{
    const Sampler sampler(rf);
    const double phiS = rf.synchronousPhase;
    std::vector<PhaseCurve> curves;
    curves.reserve(kPhaseCurveCount);

    std::array<double, kBuckets> level{};
    for (int i = 1; i <= kBuckets; ++i) {
        level[static_cast<std::size_t>(i - 1)] = sampler.h(unstablePhase(i, phiS));
        const Branch b = sampler.branch(level[static_cast<std::size_t>(i - 1)], 0, kTwoPi * i / 200);
        curves.push_back({PhaseCurveKind::Separatrix, forwardThenBack(b)});
    }

    for (const double phi0 : trajectoryStarts(phiS)) {
        PhaseCurve curve;
        if (trajectoryDrawn(phi0, phiS)) {
            const double h0 = sampler.h(phi0);
            const double first = phi0 >= 2 * kTwoPi ? 2 * kTwoPi : phi0;
            curve.points = backThenForward(sampler.branch(h0, first, -first / 200));
            // inside bucket i: on the bucket's side of its unstable point and below its separatrix;
            // the bucket lies above the unstable point above transition and below it below transition
            for (int i = 1; i <= kBuckets; ++i) {
                const double barrier = unstablePhase(i, phiS);
                const bool bucketSide = rf.slipFactor < 0 ? phi0 > barrier : phi0 < barrier;
                if (bucketSide && h0 < level[static_cast<std::size_t>(i - 1)]) {
                    curve.kind = PhaseCurveKind::Stable;
                    break;
                }
            }
        }
        curves.push_back(std::move(curve));
    }
    return curves;
}

GraphCurve rfPotentialCurve(const RfParameters& rf)
{
    GraphCurve curve;
    const double unit =
        longitudinalPotential(kPi - rf.synchronousPhase, rf.synchronousPhase, rf.synchrotronFrequency);
    if (!std::isfinite(unit) || unit == 0)
        return curve;
    for (int k = 0; k <= 144; ++k) {
        curve.x.push_back(5.0 * k);
        curve.y.push_back(longitudinalPotential(k * kPi / 36, rf.synchronousPhase, rf.synchrotronFrequency) /
                          unit);
    }
    return curve;
}

ProposedLimits curveLimits(const std::vector<const GraphCurve*>& curves)
{
    const auto range = [&curves](std::vector<double> GraphCurve::*axis, double& low, double& high) {
        low = std::numeric_limits<double>::infinity();
        high = -low;
        for (const GraphCurve* curve : curves)
            for (double v : curve->*axis)
                if (std::isfinite(v)) {
                    low = std::min(low, v);
                    high = std::max(high, v);
                }
        if (!(low <= high)) {
            low = 0;
            high = 1;
        }
    };
    ProposedLimits limits;
    range(&GraphCurve::x, limits.xMin, limits.xMax);
    range(&GraphCurve::y, limits.yMin, limits.yMax);
    return limits;
}

} // namespace kestrune

#include "core/lifetime/Lifetime.h"

#include "core/Constants.h"

#include <cmath>

namespace kestrune {

namespace {

constexpr double kQuantumLimit = 15; // n sigma above which the lifetime is taken at 15 sigma

} // namespace

double chamberShapeFactor(double ratio)
{
    const double angle = std::atan(ratio);
    return kPi + (ratio * ratio + 1) * std::sin(2 * angle) + 2 * (ratio * ratio - 1) * angle;
}

double elasticLifetime(double totalEnergy, double ratio, double acceptanceY, double averageBetaY,
                       double pressureNTorr)
{
    const double energyGeV = totalEnergy / 1e9;
    return energyGeV * energyGeV * (73800 * kPi / chamberShapeFactor(ratio)) * acceptanceY / averageBetaY /
           pressureNTorr;
}

double bremsstrahlungLifetime(double energyAcceptancePercent, double pressureNTorr)
{
    return 551160 / -std::log(energyAcceptancePercent / 100) / pressureNTorr;
}

QuantumPlane quantumPlane(double n, double dampingTime)
{
    QuantumPlane plane;
    plane.n = n;
    plane.bounded = n >= kQuantumLimit;
    const double xi = plane.bounded ? kQuantumLimit * kQuantumLimit / 2 : n * n / 2;
    plane.lifetime = dampingTime / 2 * std::exp(xi) / xi;
    return plane;
}

QuantumLifetime quantumLifetime(const QuantumInput& in)
{
    QuantumLifetime q;
    q.couplingDefault = in.emittanceY == 0;
    q.emittanceY = q.couplingDefault ? in.emittanceX * kDefaultCoupling : in.emittanceY;
    q.energy = quantumPlane(in.energyAcceptancePercent / (in.energySpread * 100), in.dampingTimeS);
    q.x = quantumPlane(std::sqrt(in.acceptanceX / (in.emittanceX * 1e6)), in.dampingTimeX);
    q.y = quantumPlane(std::sqrt(in.acceptanceY / (q.emittanceY * 1e6)), in.dampingTimeY);
    q.total = 1 / (1 / q.energy.lifetime + 1 / q.x.lifetime + 1 / q.y.lifetime);
    return q;
}

double touschekFunction(double zeta)
{
    constexpr double h = 0.02;
    double a0 = 0, b0 = 0, u0 = zeta;
    const double lnZeta = std::log(zeta);
    if (zeta < 0.1) {
        // the integrals from zeta to 0.1 from the series of e^-u
        a0 = 2.9742011 - lnZeta * lnZeta / 2 + (lnZeta - 1) * zeta - (lnZeta - 0.5) * zeta * zeta / 4;
        b0 = -2.4000851 - lnZeta + zeta - zeta * zeta / 4;
        u0 = 0.1;
    }
    // e^-40 relative to the integrands at zeta: the tail beyond zeta + 40 does not count
    const double end = zeta + 40;
    const int n = static_cast<int>((end - u0) / h) + 1;
    double sum1 = 0, sum2 = 0, first1 = 0, first2 = 0, last1 = 0, last2 = 0;
    for (int k = 1; k <= n; ++k) {
        const double u = u0 + (k - 1) * h;
        const double f2 = std::exp(-u) / u;
        const double f1 = std::log(u) * f2;
        sum1 += f1;
        sum2 += f2;
        if (k == 1) {
            first1 = f1;
            first2 = f2;
        }
        last1 = f1;
        last2 = f2;
    }
    const double i1 = h * (sum1 - (first1 + last1) / 2) + a0;
    const double i2 = h * (sum2 - (first2 + last2) / 2) + b0;
    return std::sqrt(zeta) *
           (-1.5 * std::exp(-zeta) + zeta * i1 / 2 + (3 * zeta - zeta * lnZeta + 2) * i2 / 2);
}

TouschekLifetime touschekLifetime(const TouschekInput& in)
{
    TouschekLifetime t;
    t.particles = in.bunchCurrentMa / 1000 / kElementaryCharge / in.revolutionFrequency;
    t.volume = in.bunchLengthMm * 8 * kPi / 1000 * in.emittanceX *
               std::sqrt(in.coupling * in.averageBetaX * in.averageBetaY);
    const double e = in.energyAcceptance;
    t.rate = kElectronRadius * kElectronRadius * kSpeedOfLight * t.particles / (in.gamma * in.gamma) /
             (e * e * e) / t.volume;
    t.zeta = e * e * in.averageBetaX / (in.gamma * in.gamma) / in.emittanceX;
    t.c = touschekFunction(t.zeta);
    if (t.c > 0 && std::isfinite(t.c))
        t.lifetime = 1 / t.rate / t.c;
    return t;
}

// The lifetime window's rate written with the sizes of the place: 8 pi sigma_s sigma_x sigma_y is its
// volume and (acceptance / (gamma sigma_x'))^2 its zeta, with the betatron size sqrt(eps beta) and
// divergence sqrt(eps / beta) of one average beta there. A place with dispersion takes the size with
// the energy spread's share and keeps the betatron divergence.
double touschekRate(const TouschekSegment& place, double acceptance, const TouschekBunch& bunch)
{
    const double e = acceptance;
    const double g2 = bunch.gamma * bunch.gamma;
    const double volume = 8 * kPi * bunch.bunchLength * place.sigmaX * place.sigmaY;
    const double q =
        kElectronRadius * kElectronRadius * kSpeedOfLight * bunch.particles / g2 / (e * e * e) / volume;
    const double zeta = e * e / (g2 * place.divergenceX * place.divergenceX);
    const double c = touschekFunction(zeta);
    return c > 0 && std::isfinite(c) && std::isfinite(q) ? q * c : std::nan("");
}

std::optional<double> localTouschekLifetime(const std::vector<TouschekSegment>& ring,
                                            const TouschekBunch& bunch)
{
    double length = 0, rate = 0;
    for (const TouschekSegment& place : ring) {
        const double plus = touschekRate(place, place.deltaPlus, bunch);
        const double minus = touschekRate(place, -place.deltaMinus, bunch);
        if (place.length > 0)
            rate += place.length * (plus + minus) / 2;
        length += place.length;
    }
    const double tau = length / rate;
    if (!(length > 0) || !std::isfinite(tau) || !(tau > 0))
        return std::nullopt;
    return tau;
}

} // namespace kestrune

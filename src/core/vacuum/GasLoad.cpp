#include "core/vacuum/GasLoad.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kestrune {

namespace {

// photoelectron-yield factor against 1/sin(psi) = 2^m, m = 0..8
constexpr std::array<double, 9> kYieldTable = {1.0, 1.6, 2.3, 3.1, 4.0, 4.9, 6.2, 6.8, 7.0};
constexpr double kSmallestSinPsi = 0.004;
// the fit of the desorbing part of the photon spectrum changes form at 1560 eV
constexpr double kSpectrumKnee = 1560; // eV

} // namespace

double criticalPhotonEnergy(double totalEnergy, double restEnergy, double rho)
{
    const double gamma = totalEnergy / restEnergy;
    const double mass = 511000 / restEnergy;
    return 2.955e-7 * gamma * gamma * gamma / rho * mass * mass * mass;
}

double photoelectronYield(double sinPsi)
{
    if (sinPsi < kSmallestSinPsi)
        return kYieldTable.back();
    // m = log2(1 / sin psi), truncated; 1.4427 = 1 / ln 2
    const int m = std::clamp(static_cast<int>(-std::log(sinPsi) * 1.4427), 0, 7);
    const double lower = std::ldexp(1.0, m);
    const auto k = static_cast<std::size_t>(m);
    return kYieldTable[k] + (kYieldTable[k + 1] - kYieldTable[k]) / lower * (1 / sinPsi - lower);
}

double desorptionSpectrum(double criticalEnergy)
{
    const double g = criticalEnergy >= kSpectrumKnee
                         ? (std::pow(kSpectrumKnee, -0.797) - std::pow(criticalEnergy, -0.797)) * 554.45
                         : 0.0;
    const double a = 1.063 - 4.3 * std::pow(kSpectrumKnee, -0.607);
    return 8.412e18 * (a + g) / std::pow(criticalEnergy, 4.0 / 3.0);
}

double gasLoad(double flux, double sinPsi, double criticalEnergy)
{
    return flux * photoelectronYield(sinPsi) * desorptionSpectrum(criticalEnergy);
}

double photonFlux(double wallFlux, double totalEnergy, double restEnergy, double current)
{
    const double energyGeV = totalEnergy / 1e9;
    const double mass = 511000 / restEnergy;
    return wallFlux * 14140 * energyGeV * energyGeV * current * mass * mass;
}

} // namespace kestrune

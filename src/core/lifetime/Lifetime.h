#pragma once

#include <optional>
#include <vector>

namespace kestrune {

/// Chamber shape factor of elastic scattering for an aspect ratio R = height / width:
/// G(R) = pi + (R^2 + 1) sin(2 atan R) + 2 (R^2 - 1) atan R.
double chamberShapeFactor(double ratio);

/// Elastic (Coulomb) scattering lifetime (s) on residual air for a particle of total energy E (eV),
/// chamber aspect ratio R, vertical acceptance (mm mrad), average vertical beta (m) and pressure (nTorr).
double elasticLifetime(double totalEnergy, double ratio, double acceptanceY, double averageBetaY,
                       double pressureNTorr);

/// Bremsstrahlung lifetime (s) on residual air for an energy acceptance in per cent (0 < e < 100) and a
/// pressure in nTorr: 551160 / (-ln(e / 100)) / p.
double bremsstrahlungLifetime(double energyAcceptancePercent, double pressureNTorr);

/// Quantum lifetime of one plane, with n the acceptance in units of the beam's rms size.
struct QuantumPlane
{
    double n = 0;         // acceptance / rms size
    double lifetime = 0;  // s
    bool bounded = false; // n >= 15: the value at n = 15, a lower bound
};

/// The lifetime of a plane with acceptance n sigma and damping time (s): (tau/2) e^xi / xi with
/// xi = n^2 / 2, taken at n = 15 for every larger n.
QuantumPlane quantumPlane(double n, double dampingTime);

/// Inputs of the quantum lifetime.
struct QuantumInput
{
    double energyAcceptancePercent = 0;                          // %
    double acceptanceX = 0;                                      // mm mrad
    double acceptanceY = 0;                                      // mm mrad
    double energySpread = 0;                                     // relative, sigma_E / E
    double emittanceX = 0;                                       // m rad
    double emittanceY = 0;                                       // m rad; 0 takes 1 % coupling
    double dampingTimeX = 0, dampingTimeY = 0, dampingTimeS = 0; // s
};

/// The quantum lifetimes of the three planes and their combination.
struct QuantumLifetime
{
    QuantumPlane energy, x, y;
    double total = 0;             // s, 1 / (1/tau_e + 1/tau_x + 1/tau_y)
    double emittanceY = 0;        // m rad, the vertical emittance used
    bool couplingDefault = false; // the vertical emittance was 0: 1 % coupling was taken
};

/// The default coupling taken when the vertical emittance is 0.
constexpr double kDefaultCoupling = 0.01;

/// Quantum lifetimes from the energy acceptance and the transverse acceptances; a vertical emittance of
/// 0 is replaced by 1 % of the horizontal one.
QuantumLifetime quantumLifetime(const QuantumInput& in);

/// The Touschek loss function C(zeta) = sqrt(zeta) (-3/2 e^-zeta + zeta I1 / 2 + (3 zeta - zeta ln zeta
/// + 2) I2 / 2) with I1 = int ln(u) e^-u / u du and I2 = int e^-u / u du from zeta up to zeta + 40
/// (trapezoid rule, step 0.02; below 0.1 the stretch up to 0.1 from series). zeta > 0.
double touschekFunction(double zeta);

/// Inputs of the Touschek lifetime.
struct TouschekInput
{
    double energyAcceptance = 0; // relative
    double coupling = 0;         // relative, epsilon_y / epsilon_x
    double bunchCurrentMa = 0;   // mA
    double bunchLengthMm = 0;    // mm, rms
    double averageBetaX = 0;     // m
    double averageBetaY = 0;     // m
    double gamma = 0;
    double emittanceX = 0;          // m rad
    double revolutionFrequency = 0; // Hz
};

/// The Touschek lifetime and the pieces it is made of.
struct TouschekLifetime
{
    double particles = 0; // per bunch
    double volume = 0;    // m^3 (with the factor 8 pi)
    double rate = 0;      // Q, 1/s
    double zeta = 0;
    double c = 0;                   // C(zeta)
    std::optional<double> lifetime; // s; nothing when C(zeta) <= 0
};

/// Touschek lifetime 1 / (Q C(zeta)) with Q = r_e^2 c N / gamma^2 / e^3 / V and
/// zeta = e^2 <beta_x> / gamma^2 / epsilon_x.
TouschekLifetime touschekLifetime(const TouschekInput& in);

/// The beam at one place of the ring, for the local Touschek rate.
struct TouschekSegment
{
    double length = 0;      // m of the ring the place stands for
    double sigmaX = 0;      // m, rms horizontal size (betatron and dispersion)
    double sigmaY = 0;      // m, rms vertical size
    double divergenceX = 0; // rad, rms horizontal betatron divergence sqrt(eps_x / beta_x)
    double deltaPlus = 0;   // momentum acceptance above the reference
    double deltaMinus = 0;  // below it (<= 0)
};

/// The bunch of the Touschek rate.
struct TouschekBunch
{
    double particles = 0;   // per bunch
    double bunchLength = 0; // m, rms
    double gamma = 0;
};

/// Bruck's Touschek rate (1/s) of particles scattered beyond an acceptance (relative) at a place with
/// rms sizes sigmaX, sigmaY (m) and horizontal divergence (rad):
/// r_e^2 c N C(zeta) / (8 pi gamma^2 sigma_s sigma_x sigma_y acceptance^3), zeta = (acceptance /
/// (gamma divergence))^2. NaN where C(zeta) <= 0.
double touschekRate(const TouschekSegment& place, double acceptance, const TouschekBunch& bunch);

/// The Touschek lifetime (s) of a ring from its places: 1 / tau = <(R(delta+) + R(|delta-|)) / 2>,
/// the average weighted by length; nothing where a rate is not available or there is no length.
std::optional<double> localTouschekLifetime(const std::vector<TouschekSegment>& ring,
                                            const TouschekBunch& bunch);

} // namespace kestrune

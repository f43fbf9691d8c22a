#pragma once

namespace kestrune {

// The program's physical constants, with exactly the precision every computation uses.
constexpr double kSpeedOfLight = 299792458.0;      // m/s
constexpr double kElementaryCharge = 1.602189e-19; // C
constexpr double kHbarC = 1.9732858e-07;           // eV·m
constexpr double kFineStructure = 0.0072973504;
constexpr double kElectronRadius = 2.817938e-15; // m, classical electron radius r_e
constexpr double kParticleRadius = 2.817938e-15; // m, the radius used for C_gamma
constexpr double kAtomicMassUnit = 931501630.0;  // eV
constexpr double kElectronRestEnergy = 511003.4; // eV
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 2.0 * kPi;

/// Radiation constants of the electron.
struct RadiationConstants
{
    double cGamma = 0;   // m/GeV^3, C_gamma = (4 pi / 3) r_e / (mc^2)^3 * 1e27
    double cQuantum = 0; // m, C_q = (55/32) / sqrt(3) * hbar c / mc^2
};

/// The electron's C_gamma and C_q computed from the constants above.
RadiationConstants electronRadiationConstants();

/// 1 for x > 0, otherwise -1.
double sign(double x);
/// Largest of four numbers.
double largest(double a, double b, double c, double d);
/// Smallest of four numbers.
double smallest(double a, double b, double c, double d);
/// x raised to the real power y; 0 when x = 0.
double realPower(double x, double y);
/// x raised to the whole power n >= 0 by repeated multiplication; 0 when x = 0.
double wholePower(double x, int n);

} // namespace kestrune

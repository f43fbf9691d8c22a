#pragma once

namespace kestrune {

/// Critical photon energy (eV) of a bend of radius rho (m) for a particle of total energy E and rest
/// energy mc^2 (eV): 2.955e-7 (E/mc^2)^3 / rho (511000/mc^2)^3.
double criticalPhotonEnergy(double totalEnergy, double restEnergy, double rho);

/// Photoelectron-yield factor at grazing angle psi: the gas-yield table read at 1/sin(psi) = 2^m,
/// interpolated linearly in 1/sin(psi); 7.0 below sin(psi) = 0.004.
double photoelectronYield(double sinPsi);

/// The light's desorbing strength per photoelectron-yield unit for critical energy epsC (eV):
/// 8.412e18 (A + G(epsC)) / epsC^(4/3), with G = 0 below 1560 eV.
double desorptionSpectrum(double criticalEnergy);

/// Gas load of one wall step (molecules per second in the units of the photodesorption conversion)
/// for a photon flux factor F at grazing angle psi from light of critical energy epsC (eV):
/// F Y 8.412e18 (A + G(epsC)) / epsC^(4/3).
double gasLoad(double flux, double sinPsi, double criticalEnergy);

/// Photon flux factor F of a wall point with flux factor sin(psi) / (d rho) (1/m^2), for a beam of
/// total energy E, rest energy mc^2 (eV) and current I (A): 14140 (E/GeV)^2 I (511000/mc^2)^2 times it.
double photonFlux(double wallFlux, double totalEnergy, double restEnergy, double current);

} // namespace kestrune

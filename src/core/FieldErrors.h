#pragma once

#include "core/BeamLine.h"

namespace kestrune {

/// The integrated normal field component K_n L of order n (1/m^n) of an element's design: a bend's
/// angle (n = 0) and k L (n = 1), a quadrupole's k L, a sextupole's m L, an octupole's k3 L, a thin
/// multipole's knl[n]; 0 for what an element does not have.
double integratedNormalStrength(const LatticeElement& e, int order);

/// The main field order of an element: 0 bend, 1 quadrupole, 2 sextupole, 3 octupole, the highest order
/// of a thin multipole with a normal component (0 without one); -1 for elements without a main field.
int mainFieldOrder(const LatticeElement& e);

/// The absolute integrated error dK_n L (1/m^n) of a relative field error b_n given at the reference
/// radius r (m) of a magnet whose field of order m has the integrated strength kRef = K_m L (MAD-X
/// EFCOMP's DKNR, DKSR).
double absoluteFieldError(double relative, double kRef, int m, int n, double radius);

/// dkn (or dks) with dk added at order n, grown as needed and without trailing zeros.
void addFieldError(std::vector<double>& components, int n, double dk);

/// components without trailing zeros.
void trimFieldErrors(std::vector<double>& components);

} // namespace kestrune

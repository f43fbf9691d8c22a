#pragma once

#include "core/Constants.h"

#include <cmath>

namespace kestrune::benchsupport {

/// The lattice functions of one plane, carried by the floor benchmarks' bare slice arithmetic.
struct Plane
{
    double beta, alpha, gamma, phi;
};

/// Carries beta, alpha, gamma and the phase advance (units of 2 pi) of one plane through the 2 x 2
/// matrix (r11 r12; r21 r22): the arithmetic every slice of a pass does, without the state around it.
inline void carryPlane(double r11, double r12, double r21, double r22, Plane& p)
{
    const double beta1 = r11 * r11 * p.beta - 2 * r11 * r12 * p.alpha + r12 * r12 * p.gamma;
    const double alpha1 = -r11 * r21 * p.beta + (r11 * r22 + r12 * r21) * p.alpha - r12 * r22 * p.gamma;
    const double root = std::sqrt(beta1 * p.beta);
    const double sinMu = r12 / root;
    const double cosMu = p.beta / root * r11 - p.alpha * sinMu;
    double dphi = std::asin(sinMu) / kTwoPi;
    if (cosMu < 0)
        dphi = 0.5 - dphi;
    p.beta = beta1;
    p.alpha = alpha1;
    p.gamma = (1 + alpha1 * alpha1) / beta1;
    p.phi += dphi;
}

} // namespace kestrune::benchsupport

#include "core/FieldErrors.h"

#include <cmath>

namespace kestrune {

double integratedNormalStrength(const LatticeElement& e, int order)
{
    switch (familyOf(e.code)) {
    case static_cast<int>(Family::Bend):
        return order == 0 ? e.curvature * e.length : order == 1 ? e.k * e.length : 0;
    case static_cast<int>(Family::Quadrupole):
        return order == 1 ? e.k * e.length : 0;
    case static_cast<int>(Family::Sextupole):
        return order == 2 ? e.m * e.length : 0;
    default:
        break;
    }
    if (e.code == code::kOctupole)
        return order == 3 ? e.k3 * e.length : 0;
    if (e.code == code::kThinMultipole && order >= 0 && static_cast<std::size_t>(order) < e.knl.size())
        return e.knl[static_cast<std::size_t>(order)];
    return 0;
}

int mainFieldOrder(const LatticeElement& e)
{
    switch (familyOf(e.code)) {
    case static_cast<int>(Family::Bend):
        return 0;
    case static_cast<int>(Family::Quadrupole):
        return 1;
    case static_cast<int>(Family::Sextupole):
        return 2;
    default:
        break;
    }
    if (e.code == code::kOctupole)
        return 3;
    if (e.code == code::kThinMultipole) {
        for (std::size_t n = e.knl.size(); n > 0; --n)
            if (e.knl[n - 1] != 0)
                return static_cast<int>(n - 1);
        return 0;
    }
    return -1;
}

// The field of a magnet in the mid-plane, B_y(x) = B rho sum_n K_n x^n / n! (MAD-X's expansion, with the
// factorial). A relative error b_n at the reference radius r compares the field of order n with the main
// field of order m there: dK_n r^n / n! = b_n K_m r^m / m!, so that dK_n L = b_n (K_m L) r^(m - n) n! / m!
// (MAD-X's user guide, EFCOMP: DKNR(j) k_ref R^(n-j) j!/n! in its letters). r^(m - n) is taken as a
// product, so that a negative power is exact where it can be.
double absoluteFieldError(double relative, double kRef, int m, int n, double radius)
{
    double scale = 1;
    for (int k = n; k < m; ++k)
        scale *= radius;
    for (int k = m; k < n; ++k)
        scale /= radius;
    // n! / m!
    for (int k = m + 1; k <= n; ++k)
        scale *= k;
    for (int k = n + 1; k <= m; ++k)
        scale /= k;
    return relative * kRef * scale;
}

void addFieldError(std::vector<double>& components, int n, double dk)
{
    const auto order = static_cast<std::size_t>(n);
    if (components.size() <= order)
        components.resize(order + 1, 0.0);
    components[order] += dk;
    trimFieldErrors(components);
}

void trimFieldErrors(std::vector<double>& components)
{
    while (!components.empty() && components.back() == 0)
        components.pop_back();
}

} // namespace kestrune

#include "core/Constants.h"

#include <cmath>

namespace kestrune {

RadiationConstants electronRadiationConstants()
{
    const double mc2 = kElectronRestEnergy;
    RadiationConstants c;
    c.cGamma = (4.0 * kPi / 3.0) * kParticleRadius / (mc2 * mc2 * mc2) * 1e27;
    c.cQuantum = 1.71875 / std::sqrt(3.0) * kHbarC / mc2;
    return c;
}

double sign(double x)
{
    return x > 0 ? 1.0 : -1.0;
}

double largest(double a, double b, double c, double d)
{
    return std::fmax(std::fmax(a, b), std::fmax(c, d));
}

double smallest(double a, double b, double c, double d)
{
    return std::fmin(std::fmin(a, b), std::fmin(c, d));
}

double realPower(double x, double y)
{
    if (x == 0)
        return 0;
    return std::pow(x, y);
}

double wholePower(double x, int n)
{
    if (x == 0)
        return 0;
    double result = 1;
    for (int i = 0; i < n; ++i)
        result *= x;
    return result;
}

} // namespace kestrune

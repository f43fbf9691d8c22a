#include "core/vacuum/VacuumChamber.h"

#include <algorithm>
#include <cmath>

namespace kestrune {

namespace {

int cyclic(int i, int n)
{
    return ((i % n) + n) % n;
}

/// 1 - cos(x), without the cancellation of the direct form.
double oneMinusCos(double x)
{
    const double h = std::sin(x / 2);
    return 2 * h * h;
}

/// Light from bend `source` (orbit radius rho, exit at the origin heading along +a) at a wall point
/// a ahead of its exit and b from its centre; (b - rho) is passed separately so that huge radii keep
/// their precision. The wall there is turned by `tilt` against the source's exit direction.
WallLight fromBendBefore(const VacuumChamber& chamber, int source, double a, double b, double bMinusRho,
                         double tilt)
{
    WallLight light;
    light.source = source;
    light.rho = chamber.rho[static_cast<std::size_t>(source)];
    const double r2 = a * a + b * b;
    const double d2 = a * a + bMinusRho * (b + light.rho);
    if (d2 <= 0 || r2 <= 0)
        return light; // the point lies inside the source orbit: no tangent ray reaches it
    light.distance = std::sqrt(d2);
    // c: sine of the ray's angle against the source's exit direction
    const double c = std::clamp((b * light.distance - a * light.rho) / r2, -1.0, 1.0);
    light.sinPsi = std::cos(tilt) * c + std::sin(tilt) * std::sqrt(1 - c * c);
    return light;
}

WallLight inBend(const VacuumChamber& chamber, int g, double l)
{
    const int j = (g - 1) / 2;
    const double w = chamber.radius;
    const double bigR = chamber.outerRadius[static_cast<std::size_t>(j)];
    const double rho = chamber.rho[static_cast<std::size_t>(j)];
    const double phi = l / bigR;
    const double sagitta = oneMinusCos(phi) * bigR;
    if (sagitta >= w) {
        // the tangent point lies inside this bend
        WallLight light;
        light.source = j;
        light.rho = rho;
        light.distance = std::sqrt(w * (2 * rho + w));
        light.sinPsi = light.distance / bigR;
        return light;
    }
    const int source = chamber.bend(j - 1);
    const double rhoSource = chamber.rho[static_cast<std::size_t>(source)];
    const double a = bigR * std::sin(phi) + chamber.wallSegment(g - 1);
    const double b = rhoSource + w - sagitta;
    return fromBendBefore(chamber, source, a, b, w - sagitta, phi);
}

WallLight inStraight(const VacuumChamber& chamber, int g, double l)
{
    const int i = chamber.bend(g / 2 - 1);
    const double w = chamber.radius;
    const double bigR = chamber.outerRadius[static_cast<std::size_t>(i)];
    const double rho = chamber.rho[static_cast<std::size_t>(i)];
    const double alpha = chamber.wallSegment(g - 1) / bigR;
    // distance from the wall of the ray leaving the bend's entrance; a bend of 90 degrees or more
    // lights the whole straight itself
    const double cosAlpha = std::cos(alpha);
    const double x = cosAlpha > 0 ? std::tan(alpha) * l + oneMinusCos(alpha) * bigR / cosAlpha : w;
    if (x >= w) {
        WallLight light;
        light.source = i;
        light.rho = rho;
        light.distance = std::sqrt(l * l + 2 * rho * w + w * w);
        light.sinPsi = std::min(1.0, (bigR * light.distance - rho * l) / (bigR * bigR + l * l));
        return light;
    }
    const int source = chamber.bend(i - 1);
    const double rhoSource = chamber.rho[static_cast<std::size_t>(source)];
    // the point seen from bend i's centre: e sin(alpha + beta) and R - e cos(alpha + beta) with
    // e = sqrt(l^2 + R^2), tan(beta) = l / R, written without the cancellation of the direct form
    const double along = bigR * std::sin(alpha) + l * cosAlpha;
    const double inward = oneMinusCos(alpha) * bigR + l * std::sin(alpha);
    const double a = along + chamber.wallSegment(g - 2);
    const double b = rhoSource + w - inward;
    return fromBendBefore(chamber, source, a, b, w - inward, alpha);
}

} // namespace

double VacuumChamber::wallSegment(int g) const
{
    return wallLength[static_cast<std::size_t>(cyclic(g, segmentCount()))];
}

int VacuumChamber::bend(int j) const
{
    return cyclic(j, bendCount());
}

VacuumChamber vacuumChamber(const BeamLine& line, double chamberRadius)
{
    VacuumChamber chamber;
    chamber.radius = chamberRadius;
    std::vector<double>& segment = chamber.length;
    segment.push_back(0);
    bool previousBend = false;
    double s = 0;
    for (int i = 1; i <= line.count; ++i) {
        const LatticeElement& e = line.at(i);
        s += e.length;
        if (familyOf(e.code) == static_cast<int>(Family::Bend)) {
            if (previousBend)
                segment.push_back(0); // two bends in a row: an empty straight between them
            segment.push_back(e.length);
            const bool radiates = e.curvature != 0;
            chamber.rho.push_back(radiates ? std::fabs(1 / e.curvature) : kStraightRadius);
            chamber.radiates.push_back(radiates);
            previousBend = true;
            continue;
        }
        if (previousBend)
            segment.push_back(e.length);
        else
            segment.back() += e.length;
        previousBend = false;
        if (e.code == code::kPump) {
            const int g = static_cast<int>(segment.size()) - 1;
            chamber.pumps.push_back({i, g, segment.back(), e.pumpSpeed, s});
        }
    }
    if (!previousBend) {
        // every period ends with a bend
        segment.push_back(kClosingBendLength);
        chamber.rho.push_back(kStraightRadius);
        chamber.radiates.push_back(false);
        chamber.closingBend = true;
    }

    chamber.lightSources =
        static_cast<int>(std::count(chamber.radiates.begin(), chamber.radiates.end(), true));
    for (double rho : chamber.rho)
        chamber.outerRadius.push_back(rho + chamberRadius);
    chamber.wallLength = segment;
    double z = 0;
    for (int g = 0; g < chamber.segmentCount(); ++g) {
        if (g % 2 == 1) {
            const auto j = static_cast<std::size_t>(g / 2);
            chamber.wallLength[static_cast<std::size_t>(g)] *= chamber.outerRadius[j] / chamber.rho[j];
        }
        z += chamber.wallLength[static_cast<std::size_t>(g)];
        chamber.end.push_back(z);
    }
    return chamber;
}

WallLight wallLight(const VacuumChamber& chamber, int g, double l)
{
    WallLight light = g % 2 == 1 ? inBend(chamber, g, l) : inStraight(chamber, g, l);
    light.sinPsi = std::min(light.sinPsi, 1.0);
    light.lit =
        light.distance > 0 && light.sinPsi > 0 && chamber.radiates[static_cast<std::size_t>(light.source)];
    return light;
}

} // namespace kestrune

#include "core/resonance/Resonance.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace kestrune {

namespace {

constexpr double kOneThird = 1.0 / 3.0;
constexpr double kTwoThirds = 2.0 / 3.0;

// Integer part toward zero; a tune that is no number (a ring without a periodic solution) or beyond any
// ring's takes the square at 0.
int integerPart(double tune)
{
    return std::isfinite(tune) && std::fabs(tune) < 1e6 ? static_cast<int>(std::trunc(tune)) : 0;
}

// The i-th sample (i = 1..100) of a line, from 0.1 below the integer n.
double sample(int i, int n)
{
    return i * kResonanceStep + (n - 0.1);
}

void verticalLine(std::vector<TunePoint>& series, double qx, int ny)
{
    for (int i = 1; i <= kResonancePoints; ++i)
        series.push_back({qx, sample(i, ny)});
}

void horizontalLine(std::vector<TunePoint>& series, int nx, double qy)
{
    for (int i = 1; i <= kResonancePoints; ++i)
        series.push_back({sample(i, nx), qy});
}

// A coupled line qy = v(qx), kept where it runs inside the square's band of vertical tunes.
void coupledLine(std::vector<TunePoint>& series, int nx, int ny, const std::function<double(double)>& v)
{
    for (int i = 1; i <= kResonancePoints; ++i) {
        const double a = sample(i, nx);
        const double qy = v(a);
        if (ny - 0.1 < qy && qy < ny + 1.1)
            series.push_back({a, qy});
    }
}

void thirdOrder(ResonanceDiagram& d)
{
    const int nx = d.nx;
    const int ny = d.ny;
    std::vector<TunePoint>& s = d.third;
    verticalLine(s, nx + kOneThird, ny);
    verticalLine(s, nx + kTwoThirds, ny);
    horizontalLine(s, nx, ny + kOneThird);
    horizontalLine(s, nx, ny + kTwoThirds);
    const double sumY = 2 * ny + nx;  // qx + 2 qy = sumY + ...
    const double diffY = 2 * ny - nx; // 2 qy - qx = diffY + ...
    const double sumX = 2 * nx + ny;  // 2 qx + qy = sumX + ...
    const double diffX = ny - 2 * nx; // qy - 2 qx = diffX + ...
    coupledLine(s, nx, ny, [&](double a) { return (sumY - a) / 2 + 1; });
    coupledLine(s, nx, ny, [&](double a) { return (diffY + a) / 2; });
    coupledLine(s, nx, ny, [&](double a) { return sumX - 2 * a + 1; });
    coupledLine(s, nx, ny, [&](double a) { return 2 * a + diffX; });
    coupledLine(s, nx, ny, [&](double a) { return (sumY - a) / 2 + 0.5; });
    coupledLine(s, nx, ny, [&](double a) { return (diffY + a) / 2 + 0.5; });
    coupledLine(s, nx, ny, [&](double a) { return sumX - 2 * a + 2; });
    coupledLine(s, nx, ny, [&](double a) { return 2 * a + diffX - 1; });
}

} // namespace

ResonanceDiagram resonanceDiagram(double tuneX, double tuneY)
{
    ResonanceDiagram d;
    d.working = {tuneX, tuneY};
    d.nx = integerPart(tuneX);
    d.ny = integerPart(tuneY);
    const int nx = d.nx;
    const int ny = d.ny;

    verticalLine(d.first, nx, ny);
    verticalLine(d.first, nx + 1, ny);
    horizontalLine(d.first, nx, ny);
    horizontalLine(d.first, nx, ny + 1);

    verticalLine(d.second, nx + 0.5, ny);
    horizontalLine(d.second, nx, ny + 0.5);
    // the difference line qx - qy = nx - ny and the sum line qx + qy = nx + ny + 1
    for (int i = 1; i <= kResonancePoints; ++i)
        d.second.push_back({sample(i, nx), sample(i, ny)});
    for (int i = 1; i <= kResonancePoints; ++i)
        d.second.push_back({sample(i, nx), (ny + 1.1) - i * kResonanceStep});

    thirdOrder(d);
    return d;
}

std::string tuneLabel(double value)
{
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.2f", std::fabs(value));
    std::string number(digits);
    while (number.back() == '0')
        number.pop_back();
    if (number.back() == '.')
        number.pop_back();
    const std::size_t point = std::min(number.find('.'), number.size());
    for (std::size_t at = point; at > 3; at -= 3)
        number.insert(at - 3, ",");
    // a value that rounds to zero shows no sign
    const bool negative = value < 0 && number != "0";
    return negative ? "-" + number : number;
}

// A tracked cell's spectrum gives only the fractional part f of its tune; the ring tune is the
// superperiods S times the cell tune n + f, with the whole n that puts the cell tune nearest to the one of
// the periodic solution, Q / S: n = round(Q / S - f).
double ringTune(double fraction, double tune, int cells)
{
    if (!std::isfinite(tune) || !std::isfinite(fraction) || cells < 1)
        return std::nan("");
    return cells * (std::round(tune / cells - fraction) + fraction);
}

} // namespace kestrune

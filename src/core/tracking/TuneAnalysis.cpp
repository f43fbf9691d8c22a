#include "core/tracking/TuneAnalysis.h"

#include "core/Constants.h"

#include <cmath>
#include <complex>
#include <limits>

namespace kestrune {

namespace {

using Complex = std::complex<double>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Bisection steps of the refinement: the bracket of two FFT lines shrinks to the last bits.
constexpr int kRefinementSteps = 60;

// In-place radix-2 FFT, X_k = sum_n x_n exp(-2 pi i k n / M), M a power of two.
void fft(std::vector<Complex>& a)
{
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const double angle = -kTwoPi / static_cast<double>(len);
        for (std::size_t k = 0; k < len / 2; ++k) {
            const Complex w = std::polar(1.0, angle * static_cast<double>(k));
            for (std::size_t i = 0; i < n; i += len) {
                const Complex u = a[i + k];
                const Complex v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
}

// The slope of the power |S(f)|^2 of S(f) = sum_n s_n exp(-2 pi i f n), up to the factor 4 pi:
// d|S|^2/df = 2 Re(conj(S) dS/df) with dS/df = -2 pi i sum_n n s_n exp(-2 pi i f n), so its sign is that
// of Im(conj(S) T), T = sum_n n s_n exp(...). The peak is where it changes sign: a root is found to the
// last bits, where the largest value of |S|^2 itself is flat to rounding over about 1e-10 of a line at
// 512 turns. The phase factor is taken afresh every 64 turns so that rounding does not pile up.
double powerSlope(const std::vector<Complex>& s, double f)
{
    Complex sum = 0, weighted = 0;
    const Complex step = std::polar(1.0, -kTwoPi * f);
    Complex phase = 1;
    for (std::size_t n = 0; n < s.size(); ++n) {
        if (n % 64 == 0)
            phase = std::polar(1.0, -kTwoPi * f * static_cast<double>(n));
        const Complex term = s[n] * phase;
        sum += term;
        weighted += static_cast<double>(n) * term;
        phase *= step;
    }
    return (std::conj(sum) * weighted).imag();
}

// The normalised signal q/sqrt(beta) - i (alpha q + beta p)/sqrt(beta), with beta and alpha from the
// second moments of the turn data (an ellipse <q^2> = eps beta / 2, <q p> = -eps alpha / 2,
// <p^2> = eps gamma / 2): a circle turning once per period, its line at +Q; without a conjugate momentum
// that varies the real signal q alone.
std::vector<Complex> normalisedSignal(const std::vector<double>& q, const std::vector<double>& p,
                                      std::size_t n)
{
    double mq = 0, mp = 0;
    for (std::size_t i = 0; i < n; ++i) {
        mq += q[i];
        mp += p[i];
    }
    mq /= static_cast<double>(n);
    mp /= static_cast<double>(n);
    double sqq = 0, spp = 0, sqp = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sqq += (q[i] - mq) * (q[i] - mq);
        spp += (p[i] - mp) * (p[i] - mp);
        sqp += (q[i] - mq) * (p[i] - mp);
    }
    std::vector<Complex> s;
    // rounding of a constant is no oscillation
    if (!(sqq > 1e-24 * mq * mq * static_cast<double>(n)))
        return s;
    s.resize(n);
    const double det = sqq * spp - sqp * sqp;
    const bool ellipse = det > 1e-12 * sqq * spp && sqq > 0;
    const double root = ellipse ? std::sqrt(det) : 1;
    const double beta = sqq / root, alpha = -sqp / root;
    const double scale = ellipse ? 1 / std::sqrt(beta) : 1;
    for (std::size_t i = 0; i < n; ++i) {
        const double dq = q[i] - mq;
        const double dp = ellipse ? p[i] - mp : 0;
        // Hann window of the second order: the side lobes of one line fall off fast enough not to move
        // another line a few FFT lines away
        const double hann = 1 - std::cos(kTwoPi * static_cast<double>(i) / static_cast<double>(n));
        const double w = hann * hann;
        s[i] = w * scale * Complex(dq, -(alpha * dq + beta * dp));
    }
    return s;
}

} // namespace

double fractionalTune(const std::vector<double>& q, const std::vector<double>& p)
{
    const std::size_t n = std::min(q.size(), p.size());
    if (n < static_cast<std::size_t>(kFewestTuneTurns))
        return kNaN;
    for (std::size_t i = 0; i < n; ++i)
        if (!std::isfinite(q[i]) || !std::isfinite(p[i]))
            return kNaN;
    const std::vector<Complex> s = normalisedSignal(q, p, n);
    if (s.empty())
        return kNaN;
    std::size_t m = 1;
    while (m < 2 * n)
        m <<= 1;
    std::vector<Complex> spectrum(s);
    spectrum.resize(m);
    fft(spectrum);
    std::size_t peak = 0;
    for (std::size_t k = 1; k < m; ++k)
        if (std::norm(spectrum[k]) > std::norm(spectrum[peak]))
            peak = k;
    if (!(std::norm(spectrum[peak]) > 0))
        return kNaN;
    // the root of the power's slope between the neighbouring lines, inside the window's main lobe
    const double line = 1 / static_cast<double>(m);
    double a = (static_cast<double>(peak) - 1) * line;
    double b = (static_cast<double>(peak) + 1) * line;
    for (int i = 0; i < kRefinementSteps && b - a > 1e-15; ++i) {
        const double c = (a + b) / 2;
        if (powerSlope(s, c) > 0)
            a = c;
        else
            b = c;
    }
    const double f = (a + b) / 2;
    return f - std::floor(f);
}

namespace {

// The part of a transverse coordinate that follows delta (the dispersion times the momentum deviation
// of a synchrotron oscillation) taken out by least squares, so that the betatron line is the largest.
std::vector<double> withoutDispersion(std::vector<double> v, const std::vector<double>& delta)
{
    const std::size_t n = v.size();
    double mv = 0, md = 0;
    for (std::size_t i = 0; i < n; ++i) {
        mv += v[i];
        md += delta[i];
    }
    mv /= static_cast<double>(n);
    md /= static_cast<double>(n);
    double cov = 0, var = 0;
    for (std::size_t i = 0; i < n; ++i) {
        cov += (v[i] - mv) * (delta[i] - md);
        var += (delta[i] - md) * (delta[i] - md);
    }
    if (!(var > 0))
        return v;
    const double slope = cov / var;
    for (std::size_t i = 0; i < n; ++i)
        v[i] -= slope * delta[i];
    return v;
}

} // namespace

TrackedTunes trackedTunes(const std::vector<PhaseVector>& turns, bool longitudinal)
{
    const std::size_t n = turns.size();
    const auto column = [&](double PhaseVector::*coordinate) {
        std::vector<double> v(n);
        for (std::size_t i = 0; i < n; ++i)
            v[i] = turns[i].*coordinate;
        return v;
    };
    const std::vector<double> delta = column(&PhaseVector::delta);
    TrackedTunes tunes;
    tunes.x = fractionalTune(withoutDispersion(column(&PhaseVector::x), delta),
                             withoutDispersion(column(&PhaseVector::px), delta));
    tunes.y = fractionalTune(column(&PhaseVector::y), column(&PhaseVector::py));
    tunes.synchrotron = kNaN;
    if (longitudinal) {
        const double qs = fractionalTune(delta, column(&PhaseVector::l));
        tunes.synchrotron = qs > 0.5 ? 1 - qs : qs;
    }
    return tunes;
}

} // namespace kestrune

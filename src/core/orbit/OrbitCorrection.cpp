#include "core/orbit/OrbitCorrection.h"

#include "core/Constants.h"
#include "core/Format.h"
#include "core/InputRanges.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>

namespace kestrune {

double GaussianNoise::next()
{
    if (m_hasSpare) {
        m_hasSpare = false;
        return m_spare;
    }
    constexpr double kUnit = 1.0 / 9007199254740992.0; // 2^-53
    const double u1 = static_cast<double>((m_engine() >> 11) + 1) * kUnit;
    const double u2 = static_cast<double>(m_engine() >> 11) * kUnit;
    const double r = std::sqrt(-2 * std::log(u1));
    m_spare = r * std::sin(kTwoPi * u2);
    m_hasSpare = true;
    return r * std::cos(kTwoPi * u2);
}

namespace {

using Eigen::Index;

// The rows of the response that are read: a monitor not switched off, in the planes it reads (code 81
// horizontal, 82 vertical, 83 both), with its offset.
struct Readings
{
    std::vector<Index> rows;
    std::vector<double> offsets; // m, per row
    Index horizontal = 0;        // the first rows are horizontal
    int monitors = 0;
};

std::optional<Readings> readRows(const BeamLine& line, const OrbitResponse& response,
                                 const std::vector<std::string>& off, std::string& refusal)
{
    for (const std::string& name : off) {
        const bool known = std::any_of(response.monitors.begin(), response.monitors.end(),
                                       [&](int i) { return line.at(i).name == name; });
        if (!known) {
            refusal = "no monitor named '" + excerpt(name) + "'";
            return std::nullopt;
        }
    }
    Readings r;
    const std::size_t n = response.monitors.size();
    for (int plane = 0; plane < 2; ++plane) {
        for (std::size_t m = 0; m < n; ++m) {
            const LatticeElement& e = line.at(response.monitors[m]);
            if (std::find(off.begin(), off.end(), e.name) != off.end())
                continue;
            const int reads = plane == 0 ? code::kHorizontalMonitor : code::kHorizontalMonitor + 1;
            if (e.code != code::kMonitor && e.code != reads)
                continue;
            r.rows.push_back(static_cast<Index>(plane * n + m));
            r.offsets.push_back(plane == 0 ? e.errors.dx : e.errors.dy);
            if (plane == 0)
                ++r.horizontal;
        }
    }
    for (int i : response.monitors)
        if (std::find(off.begin(), off.end(), line.at(i).name) == off.end())
            ++r.monitors;
    if (r.rows.empty())
        refusal = "the orbit correction has no monitor to read";
    return r.rows.empty() ? std::nullopt : std::optional<Readings>(r);
}

// The orbit at the monitors of the rows, less their offsets.
Eigen::VectorXd readOrbit(const std::vector<PhaseVector>& orbit, const OrbitResponse& response,
                          const Readings& readings)
{
    const std::size_t n = response.monitors.size();
    Eigen::VectorXd v(static_cast<Index>(readings.rows.size()));
    for (std::size_t k = 0; k < readings.rows.size(); ++k) {
        const std::size_t row = static_cast<std::size_t>(readings.rows[k]);
        const std::size_t i = static_cast<std::size_t>(response.monitors[row % n]);
        const bool horizontal = row < n;
        const double a = horizontal ? orbit[i - 1].x : orbit[i - 1].y;
        const double b = horizontal ? orbit[i].x : orbit[i].y;
        v(static_cast<Index>(k)) = (a + b) / 2 - readings.offsets[k];
    }
    return v;
}

struct Spread
{
    double rmsX = 0, rmsY = 0, maxX = 0, maxY = 0;
};

Spread spread(const Eigen::VectorXd& v, Index horizontal)
{
    Spread s;
    const Index vertical = v.size() - horizontal;
    if (horizontal > 0) {
        s.rmsX = std::sqrt(v.head(horizontal).squaredNorm() / static_cast<double>(horizontal));
        s.maxX = v.head(horizontal).cwiseAbs().maxCoeff();
    }
    if (vertical > 0) {
        s.rmsY = std::sqrt(v.tail(vertical).squaredNorm() / static_cast<double>(vertical));
        s.maxY = v.tail(vertical).cwiseAbs().maxCoeff();
    }
    return s;
}

// The kicks -A+ x of the pseudo-inverse from the largest singular values: at most count (0 for all),
// none below cut times the largest.
Eigen::VectorXd svdKicks(const Eigen::MatrixXd& a, const Eigen::VectorXd& x, int count, double cut,
                         std::vector<double>* values, int* used)
{
    // the passes of a correction, and the seeds of an error study that share one response, decompose the
    // same matrix again and again: the last decomposition of this thread is kept for it
    thread_local Eigen::MatrixXd lastMatrix;
    thread_local Eigen::JacobiSVD<Eigen::MatrixXd> lastSvd;
    if (lastMatrix.rows() != a.rows() || lastMatrix.cols() != a.cols() || lastMatrix != a) {
        lastSvd.compute(a, Eigen::ComputeThinU | Eigen::ComputeThinV);
        lastMatrix = a;
    }
    const Eigen::JacobiSVD<Eigen::MatrixXd>& svd = lastSvd;
    const Eigen::VectorXd& sigma = svd.singularValues();
    int kept = 0;
    for (Index k = 0; k < sigma.size(); ++k)
        if (sigma(k) > cut * sigma(0) && (count <= 0 || kept < count))
            ++kept;
    if (values != nullptr)
        *values = std::vector<double>(sigma.data(), sigma.data() + sigma.size());
    if (used != nullptr)
        *used = kept;
    return -(svd.matrixV().leftCols(kept) *
             (sigma.head(kept).cwiseInverse().asDiagonal() * (svd.matrixU().leftCols(kept).transpose() * x)));
}

// MICADO's choice: count columns of a, one at a time, each the one that together with those chosen
// before leaves the smallest residual of the least-squares fit to x. The columns not chosen are kept
// orthogonal to the chosen ones (Gram-Schmidt), so the reduction of the squared residual a column gives
// is (w.r)^2 / |w|^2 of its orthogonal part w and the residual r.
std::vector<Index> micadoChoice(const Eigen::MatrixXd& a, Eigen::VectorXd r, int count)
{
    Eigen::MatrixXd w = a;
    std::vector<bool> taken(static_cast<std::size_t>(a.cols()), false);
    std::vector<Index> chosen;
    while (static_cast<int>(chosen.size()) < count) {
        Index best = -1;
        double gain = 0;
        for (Index j = 0; j < a.cols(); ++j) {
            const double norm2 = w.col(j).squaredNorm();
            // a column in the span of the chosen ones adds nothing
            if (taken[static_cast<std::size_t>(j)] || !(norm2 > 1e-20 * a.col(j).squaredNorm()))
                continue;
            const double p = w.col(j).dot(r);
            if (p * p / norm2 > gain) {
                gain = p * p / norm2;
                best = j;
            }
        }
        if (best < 0)
            break;
        const Eigen::VectorXd q = w.col(best).normalized();
        r -= q * q.dot(r);
        for (Index j = 0; j < a.cols(); ++j)
            if (!taken[static_cast<std::size_t>(j)])
                w.col(j) -= q * q.dot(w.col(j));
        taken[static_cast<std::size_t>(best)] = true;
        chosen.push_back(best);
    }
    return chosen;
}

std::optional<std::string> settingsRefusal(const OrbitCorrectionSettings& s)
{
    if (s.singularValues < 0)
        return "the number of singular values must not be negative";
    if (!(s.cut >= 0 && s.cut < 1))
        return "the relative cut of the singular values must lie in [0, 1)";
    if (s.method == CorrectionMethod::Micado && s.kickers < 1)
        return "MICADO needs at least one kicker";
    if (s.iterations < 1)
        return "the orbit correction needs at least one pass";
    if (!(s.kickLimit >= 0 && std::isfinite(s.kickLimit)))
        return "the kick limit must be a number not below 0";
    if (!(s.readNoise >= 0 && std::isfinite(s.readNoise)))
        return "the read noise must be a number not below 0";
    return std::nullopt;
}

// The matrix of the rows read and the given columns.
Eigen::MatrixXd block(const OrbitResponse& response, const Readings& readings,
                      const std::vector<Index>& columns)
{
    Eigen::MatrixXd a(static_cast<Index>(readings.rows.size()), static_cast<Index>(columns.size()));
    for (Index i = 0; i < a.rows(); ++i)
        for (Index j = 0; j < a.cols(); ++j)
            a(i, j) = response.matrix[static_cast<std::size_t>(readings.rows[static_cast<std::size_t>(i)])]
                                     [static_cast<std::size_t>(columns[static_cast<std::size_t>(j)])];
    return a;
}

// MICADO's kicker columns: the best settings.kickers of each plane among the columns free, against the
// readings of that plane.
std::vector<Index> micadoColumns(const OrbitResponse& response, const Readings& readings,
                                 const std::vector<Index>& free, const Eigen::VectorXd& x, int count)
{
    std::vector<Index> chosen;
    for (int plane = 0; plane < 2; ++plane) {
        std::vector<Index> candidates;
        for (Index c : free)
            if (response.horizontalKick[static_cast<std::size_t>(c)] == (plane == 0))
                candidates.push_back(c);
        const Index from = plane == 0 ? 0 : readings.horizontal;
        const Index rows = plane == 0 ? readings.horizontal : x.size() - readings.horizontal;
        if (candidates.empty() || rows == 0)
            continue;
        const Eigen::MatrixXd a = block(response, readings, candidates).middleRows(from, rows);
        for (Index k : micadoChoice(a, x.segment(from, rows), count))
            chosen.push_back(candidates[static_cast<std::size_t>(k)]);
    }
    std::sort(chosen.begin(), chosen.end());
    return chosen;
}

} // namespace

OrbitCorrection correctOrbit(State& state, const OrbitCorrectionSettings& settings)
{
    OrbitCorrection result;
    result.method = settings.method;
    if (std::optional<std::string> r = settingsRefusal(settings)) {
        result.refusal = "orbit correction: " + *r;
        return result;
    }
    std::string refusal;
    const std::optional<OrbitResponse> response = settings.response
                                                      ? std::optional<OrbitResponse>(*settings.response)
                                                      : trackedOrbitResponse(state, refusal, settings.orbit);
    const std::optional<Readings> readings =
        response ? readRows(state.line, *response, settings.monitorsOff, refusal) : std::nullopt;
    if (!readings) {
        result.refusal = refusal;
        return result;
    }
    result.monitors = readings->monitors;
    const std::size_t columns = response->kickers.size();
    for (std::size_t c = 0; c < columns; ++c) {
        const LatticeElement& e = state.line.at(response->kickers[c]);
        KickerKick k;
        k.element = response->kickers[c];
        k.name = e.name;
        k.horizontal = response->horizontalKick[c];
        k.before = k.after = k.horizontal ? e.hkick : e.vkick;
        result.kicks.push_back(k);
    }
    GaussianNoise noise(settings.seed);
    std::vector<Index> chosen;
    State work = state;
    for (int pass = 0; pass <= settings.iterations; ++pass) {
        const std::optional<std::vector<PhaseVector>> orbit = trackedOrbit(work, settings.orbit, refusal);
        if (!orbit) {
            result.refusal = refusal;
            return result;
        }
        Eigen::VectorXd x = readOrbit(*orbit, *response, *readings);
        const Spread s = spread(x, readings->horizontal);
        if (pass == 0) {
            result.rmsBeforeX = s.rmsX;
            result.rmsBeforeY = s.rmsY;
            result.maxBeforeX = s.maxX;
            result.maxBeforeY = s.maxY;
        }
        result.rmsAfterX = s.rmsX;
        result.rmsAfterY = s.rmsY;
        result.maxAfterX = s.maxX;
        result.maxAfterY = s.maxY;
        if (pass == settings.iterations)
            break;
        if (settings.readNoise > 0)
            for (Index i = 0; i < x.size(); ++i)
                x(i) += settings.readNoise * noise.next();
        std::vector<Index> free;
        for (std::size_t c = 0; c < columns; ++c)
            if (!result.kicks[c].capped)
                free.push_back(static_cast<Index>(c));
        if (settings.method == CorrectionMethod::Micado) {
            if (pass == 0)
                chosen = micadoColumns(*response, *readings, free, x, settings.kickers);
            std::vector<Index> still;
            for (Index c : chosen)
                if (!result.kicks[static_cast<std::size_t>(c)].capped)
                    still.push_back(c);
            free = still;
        }
        Eigen::VectorXd dk = Eigen::VectorXd::Zero(static_cast<Index>(free.size()));
        if (!free.empty()) {
            const Eigen::MatrixXd a = block(*response, *readings, free);
            if (settings.method == CorrectionMethod::Svd)
                dk = svdKicks(a, x, settings.singularValues, settings.cut,
                              pass == 0 ? &result.singularValues : nullptr,
                              pass == 0 ? &result.used : nullptr);
            else
                dk = svdKicks(a, x, 0, 1e-12, nullptr, nullptr);
        }
        for (std::size_t j = 0; j < free.size(); ++j) {
            KickerKick& k = result.kicks[static_cast<std::size_t>(free[j])];
            k.used = true;
            LatticeElement& kicker = work.line.at(k.element);
            double& kick = k.horizontal ? kicker.hkick : kicker.vkick;
            kick += dk(static_cast<Index>(j));
            if (settings.kickLimit > 0 && std::fabs(kick) > settings.kickLimit) {
                kick = std::copysign(settings.kickLimit, kick);
                k.capped = true;
            }
            if (std::optional<std::string> out = rangeRefusal(ranges::kKickAngle, kick)) {
                result.refusal =
                    "element '" + excerpt(kicker.name) + "' (" + std::to_string(k.element) + "): " + *out;
                return result;
            }
            k.after = kick;
        }
        if (settings.method == CorrectionMethod::Micado && pass == 0)
            result.used = static_cast<int>(chosen.size());
        result.iterations = pass + 1;
    }
    double sum = 0;
    for (const KickerKick& k : result.kicks) {
        LatticeElement& e = state.line.at(k.element);
        (k.horizontal ? e.hkick : e.vkick) = k.after;
        sum += k.after * k.after;
        result.kickMax = std::max(result.kickMax, std::fabs(k.after));
    }
    result.kickRms = columns > 0 ? std::sqrt(sum / static_cast<double>(columns)) : 0.0;
    result.done = true;
    return result;
}

} // namespace kestrune

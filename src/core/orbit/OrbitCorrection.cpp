#include "core/orbit/OrbitCorrection.h"

#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/orbit/ClosedOrbit.h"
#include "core/orbit/OrbitResponse.h"

#include <Eigen/Dense>
#include <cmath>

namespace kestrune {

namespace {

// The monitors' readings of a closed orbit: horizontal ones, then vertical ones.
Eigen::VectorXd readings(const ClosedOrbit& orbit, const std::vector<int>& monitors)
{
    const Eigen::Index n = static_cast<Eigen::Index>(monitors.size());
    Eigen::VectorXd r(2 * n);
    for (Eigen::Index m = 0; m < n; ++m) {
        const std::size_t i = static_cast<std::size_t>(monitors[static_cast<std::size_t>(m)]);
        r(m) = (orbit.orbit[i - 1].x + orbit.orbit[i].x) / 2;
        r(n + m) = (orbit.orbit[i - 1].y + orbit.orbit[i].y) / 2;
    }
    return r;
}

double rms(const Eigen::VectorXd& v, Eigen::Index from, Eigen::Index count)
{
    return count > 0 ? std::sqrt(v.segment(from, count).squaredNorm() / static_cast<double>(count)) : 0.0;
}

} // namespace

OrbitCorrection correctOrbit(State& state, int count, int iterations)
{
    OrbitCorrection result;
    std::string refusal;
    const std::optional<OrbitResponse> response = trackedOrbitResponse(state, refusal);
    if (!response) {
        result.refusal = refusal;
        return result;
    }
    const Eigen::Index rows = static_cast<Eigen::Index>(response->matrix.size());
    const Eigen::Index columns = static_cast<Eigen::Index>(response->kickers.size());
    Eigen::MatrixXd r(rows, columns);
    for (Eigen::Index i = 0; i < rows; ++i)
        for (Eigen::Index j = 0; j < columns; ++j)
            r(i, j) = response->matrix[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
    const Eigen::JacobiSVD<Eigen::MatrixXd> svd(r, Eigen::ComputeThinU | Eigen::ComputeThinV);
    const Eigen::VectorXd& sigma = svd.singularValues();
    for (Eigen::Index k = 0; k < sigma.size(); ++k)
        result.singularValues.push_back(sigma(k));
    int used = 0;
    for (Eigen::Index k = 0; k < sigma.size(); ++k)
        if (sigma(k) > 1e-12 * sigma(0) && (count <= 0 || used < count))
            ++used;
    result.used = used;
    // the pseudo-inverse of the kept singular values
    const Eigen::MatrixXd inverse = svd.matrixV().leftCols(used) *
                                    sigma.head(used).cwiseInverse().asDiagonal() *
                                    svd.matrixU().leftCols(used).transpose();
    State work = state;
    const Eigen::Index n = static_cast<Eigen::Index>(response->monitors.size());
    for (int pass = 0; pass <= iterations; ++pass) {
        const ClosedOrbit orbit = closedOrbit(work, 0);
        if (!orbit.found) {
            result.refusal = orbit.refusal;
            return result;
        }
        const Eigen::VectorXd x = readings(orbit, response->monitors);
        if (pass == 0) {
            result.rmsBeforeX = rms(x, 0, n);
            result.rmsBeforeY = rms(x, n, n);
        }
        result.rmsAfterX = rms(x, 0, n);
        result.rmsAfterY = rms(x, n, n);
        if (pass == iterations)
            break;
        const Eigen::VectorXd dk = -inverse * x;
        for (Eigen::Index j = 0; j < columns; ++j) {
            LatticeElement& kicker = work.line.at(response->kickers[static_cast<std::size_t>(j)]);
            double& kick =
                response->horizontalKick[static_cast<std::size_t>(j)] ? kicker.hkick : kicker.vkick;
            kick += dk(j);
            if (std::optional<std::string> out = rangeRefusal(ranges::kKickAngle, kick)) {
                result.refusal = "element '" + excerpt(kicker.name) + "' (" +
                                 std::to_string(response->kickers[static_cast<std::size_t>(j)]) +
                                 "): " + *out;
                return result;
            }
        }
        result.iterations = pass + 1;
    }
    for (int kicker : response->kickers) {
        state.line.at(kicker).hkick = work.line.at(kicker).hkick;
        state.line.at(kicker).vkick = work.line.at(kicker).vkick;
    }
    result.done = true;
    return result;
}

} // namespace kestrune

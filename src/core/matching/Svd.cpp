#include "core/matching/Svd.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace kestrune {

namespace {

// Sweeps after which the rotations are taken as converged; a few (6 to 10) are needed in practice.
constexpr int kMaxSweeps = 60;
// Two columns count as orthogonal when their inner product is below this fraction of their norms.
constexpr double kOrthogonal = 1e-15;

// One rotation of columns p and q of u and v that makes the two columns of u orthogonal. With
// alpha = |u_p|^2, beta = |u_q|^2, gamma = u_p . u_q, the angle solves the 2 x 2 symmetric eigenproblem
// of [[alpha, gamma], [gamma, beta]]: zeta = (beta - alpha) / (2 gamma), t = tan(theta) the smaller root
// of t^2 + 2 zeta t - 1 = 0 (Golub and Van Loan, section 8.4). True when a rotation was made.
bool rotate(DenseMatrix& u, DenseMatrix& v, int p, int q)
{
    double alpha = 0, beta = 0, gamma = 0;
    for (int i = 0; i < u.rows; ++i) {
        const double up = u(i, p);
        const double uq = u(i, q);
        alpha += up * up;
        beta += uq * uq;
        gamma += up * uq;
    }
    if (gamma == 0 || std::fabs(gamma) <= kOrthogonal * std::sqrt(alpha * beta))
        return false;
    const double zeta = (beta - alpha) / (2 * gamma);
    const double t = std::copysign(1.0, zeta) / (std::fabs(zeta) + std::hypot(1.0, zeta));
    const double c = 1 / std::sqrt(1 + t * t);
    const double s = c * t;
    const auto turn = [c, s](DenseMatrix& m, int p1, int q1) {
        for (int i = 0; i < m.rows; ++i) {
            const double mp = m(i, p1);
            const double mq = m(i, q1);
            m(i, p1) = c * mp - s * mq;
            m(i, q1) = s * mp + c * mq;
        }
    };
    turn(u, p, q);
    turn(v, p, q);
    return true;
}

} // namespace

Svd singularValueDecomposition(const DenseMatrix& a)
{
    const int n = a.cols;
    DenseMatrix u = a;
    DenseMatrix v(n, n);
    for (int j = 0; j < n; ++j)
        v(j, j) = 1;
    for (int sweep = 0; sweep < kMaxSweeps; ++sweep) {
        bool rotated = false;
        for (int p = 0; p + 1 < n; ++p)
            for (int q = p + 1; q < n; ++q)
                rotated = rotate(u, v, p, q) || rotated;
        if (!rotated)
            break;
    }

    // the columns of u are now orthogonal: their norms are the singular values
    std::vector<double> norms(static_cast<std::size_t>(n));
    for (int j = 0; j < n; ++j) {
        double sum = 0;
        for (int i = 0; i < u.rows; ++i)
            sum += u(i, j) * u(i, j);
        norms[static_cast<std::size_t>(j)] = std::sqrt(sum);
    }
    std::vector<int> order(static_cast<std::size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&norms](int x, int y) {
        return norms[static_cast<std::size_t>(x)] > norms[static_cast<std::size_t>(y)];
    });

    Svd result{DenseMatrix(u.rows, n), std::vector<double>(static_cast<std::size_t>(n)), DenseMatrix(n, n)};
    for (int k = 0; k < n; ++k) {
        const int j = order[static_cast<std::size_t>(k)];
        const double sigma = norms[static_cast<std::size_t>(j)];
        result.sigma[static_cast<std::size_t>(k)] = sigma;
        for (int i = 0; i < u.rows; ++i)
            result.u(i, k) = sigma > 0 ? u(i, j) / sigma : 0.0;
        for (int i = 0; i < n; ++i)
            result.v(i, k) = v(i, j);
    }
    return result;
}

} // namespace kestrune

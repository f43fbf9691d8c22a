#include "core/matching/Svd.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>

namespace kestrune {

namespace {

DenseMatrix randomMatrix(int rows, int cols, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> uniform(-1, 1);
    DenseMatrix a(rows, cols);
    for (double& v : a.a)
        v = uniform(generator);
    return a;
}

// Multiplies a from the left (rows p, q) or the right (columns p, q) by a rotation: orthogonal factors
// of known effect, for matrices with singular values chosen in advance.
void rotateRows(DenseMatrix& a, int p, int q, double angle)
{
    const double c = std::cos(angle), s = std::sin(angle);
    for (int j = 0; j < a.cols; ++j) {
        const double x = a(p, j), y = a(q, j);
        a(p, j) = c * x - s * y;
        a(q, j) = s * x + c * y;
    }
}

void rotateColumns(DenseMatrix& a, int p, int q, double angle)
{
    const double c = std::cos(angle), s = std::sin(angle);
    for (int i = 0; i < a.rows; ++i) {
        const double x = a(i, p), y = a(i, q);
        a(i, p) = c * x - s * y;
        a(i, q) = s * x + c * y;
    }
}

double largest(const DenseMatrix& a)
{
    double m = 0;
    for (double v : a.a)
        m = std::max(m, std::fabs(v));
    return m;
}

// A = U diag(sigma) V^T to rounding, V orthogonal, the columns of U orthonormal where sigma > 0, sigma
// falling.
void expectDecomposition(const DenseMatrix& a)
{
    const Svd svd = singularValueDecomposition(a);
    const int n = a.cols;
    ASSERT_EQ(static_cast<int>(svd.sigma.size()), n);
    const double scale = std::max(1.0, largest(a));
    for (int i = 0; i < a.rows; ++i)
        for (int j = 0; j < n; ++j) {
            double sum = 0;
            for (int k = 0; k < n; ++k)
                sum += svd.u(i, k) * svd.sigma[static_cast<std::size_t>(k)] * svd.v(j, k);
            EXPECT_NEAR(sum, a(i, j), 1e-14 * scale * n);
        }
    for (int p = 0; p < n; ++p) {
        if (p > 0) {
            EXPECT_LE(svd.sigma[static_cast<std::size_t>(p)], svd.sigma[static_cast<std::size_t>(p - 1)]);
        }
        for (int q = 0; q < n; ++q) {
            double vv = 0, uu = 0;
            for (int k = 0; k < n; ++k)
                vv += svd.v(k, p) * svd.v(k, q);
            for (int i = 0; i < a.rows; ++i)
                uu += svd.u(i, p) * svd.u(i, q);
            EXPECT_NEAR(vv, p == q ? 1.0 : 0.0, 1e-14 * n);
            if (svd.sigma[static_cast<std::size_t>(p)] > 1e-12 * scale &&
                svd.sigma[static_cast<std::size_t>(q)] > 1e-12 * scale) {
                EXPECT_NEAR(uu, p == q ? 1.0 : 0.0, 1e-13 * n);
            }
        }
    }
}

TEST(Svd, DecomposesEveryShape)
{
    const struct
    {
        int rows, cols;
    } shapes[] = {{1, 1}, {6, 6}, {10, 3}, {3, 10}, {50, 50}, {2, 7}, {4, 0}};
    unsigned seed = 1;
    for (const auto& shape : shapes) {
        SCOPED_TRACE(std::to_string(shape.rows) + " x " + std::to_string(shape.cols));
        expectDecomposition(randomMatrix(shape.rows, shape.cols, seed++));
    }
}

TEST(Svd, RankDeficientAndZeroMatrices)
{
    // two equal columns: one singular value 0
    DenseMatrix a = randomMatrix(5, 4, 7);
    for (int i = 0; i < 5; ++i)
        a(i, 3) = a(i, 1);
    expectDecomposition(a);
    EXPECT_LT(singularValueDecomposition(a).sigma[3], 1e-15);

    const Svd zero = singularValueDecomposition(DenseMatrix(3, 2));
    EXPECT_EQ(zero.sigma, (std::vector<double>{0, 0}));
}

TEST(Svd, FindsSingularValuesChosenInAdvance)
{
    // diag(sigma) turned by rotations on both sides: the singular values stay, spread over 12 decades
    const std::vector<double> sigma{3e2, 7.5, 1.0, 2e-3, 4e-10};
    DenseMatrix a(6, 5);
    for (int k = 0; k < 5; ++k)
        a(k, k) = sigma[static_cast<std::size_t>(k)];
    for (int p = 0; p < 6; ++p)
        for (int q = p + 1; q < 6; ++q)
            rotateRows(a, p, q, 0.3 + 0.17 * p - 0.05 * q);
    for (int p = 0; p < 5; ++p)
        for (int q = p + 1; q < 5; ++q)
            rotateColumns(a, p, q, -0.2 + 0.11 * q + 0.07 * p);
    const Svd svd = singularValueDecomposition(a);
    for (std::size_t k = 0; k < sigma.size(); ++k)
        EXPECT_NEAR(svd.sigma[k], sigma[k], 1e-13 * sigma.front()) << k;
}

} // namespace

} // namespace kestrune

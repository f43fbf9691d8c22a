#pragma once

#include <cstddef>
#include <vector>

namespace kestrune {

/// A dense matrix, row-major, for the small systems of the matcher (tens of rows and columns).
struct DenseMatrix
{
    DenseMatrix() = default;
    DenseMatrix(int rowCount, int columnCount)
        : rows(rowCount), cols(columnCount), a(static_cast<std::size_t>(rowCount) * columnCount, 0.0)
    {
    }
    double& operator()(int row, int col) { return a[static_cast<std::size_t>(row) * cols + col]; }
    double operator()(int row, int col) const { return a[static_cast<std::size_t>(row) * cols + col]; }

    int rows = 0;
    int cols = 0;
    std::vector<double> a;
};

/// The thin singular value decomposition A = U diag(sigma) V^T of an m x n matrix: U is m x n with
/// orthonormal columns where sigma > 0 (zero columns where sigma = 0), V is n x n orthogonal, sigma
/// holds n values, largest first.
struct Svd
{
    DenseMatrix u;
    std::vector<double> sigma;
    DenseMatrix v;
};

/// The decomposition of a by Eigen's Jacobi SVD: accurate to rounding in every singular value, for any
/// shape. The matrix must hold finite numbers.
Svd singularValueDecomposition(const DenseMatrix& a);

} // namespace kestrune

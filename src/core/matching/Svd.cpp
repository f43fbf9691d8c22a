#include "core/matching/Svd.h"

#include <Eigen/SVD>

namespace kestrune {

// Eigen's two-sided Jacobi decomposition, after a QR decomposition with column pivoting: accurate to
// rounding in every singular value relative to the largest, for any shape. Eigen gives min(m, n)
// singular values with a thin U; a wide matrix (m < n) gets n - m zeros more, their columns of U zero
// and those of the full V the null space.
Svd singularValueDecomposition(const DenseMatrix& a)
{
    const int m = a.rows;
    const int n = a.cols;
    Svd result{DenseMatrix(m, n), std::vector<double>(static_cast<std::size_t>(n), 0.0), DenseMatrix(n, n)};
    if (m == 0 || n == 0) { // nothing to decompose (Eigen takes no empty matrix): V the identity
        for (int k = 0; k < n; ++k)
            result.v(k, k) = 1;
        return result;
    }
    const Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>> matrix(
        a.a.data(), m, n);
    const Eigen::JacobiSVD<Eigen::MatrixXd> svd(matrix, Eigen::ComputeThinU | Eigen::ComputeFullV);
    const Eigen::VectorXd& sigma = svd.singularValues();
    const Eigen::MatrixXd& u = svd.matrixU();
    const Eigen::MatrixXd& v = svd.matrixV();

    for (int k = 0; k < static_cast<int>(sigma.size()); ++k) {
        result.sigma[static_cast<std::size_t>(k)] = sigma[k];
        if (sigma[k] > 0)
            for (int i = 0; i < m; ++i)
                result.u(i, k) = u(i, k);
    }
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < n; ++k)
            result.v(i, k) = v(i, k);
    return result;
}

} // namespace kestrune

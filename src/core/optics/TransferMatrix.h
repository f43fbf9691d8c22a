#pragma once

#include "core/Messages.h"
#include "core/State.h"

namespace kestrune {

// Indices of the six coordinates in R and M.
constexpr int kX = 0;
constexpr int kXp = 1;
constexpr int kY = 2;
constexpr int kYp = 3;
constexpr int kL = 4;
constexpr int kDelta = 5;

/// M <- identity.
void resetTotal(TransferMatrix& t);
/// R <- the drift matrix of length (m).
void driftMatrix(TransferMatrix& t, double length);
/// R <- matrix of element i (1-based) for a slice of sliceLength (m); linac and electrostatic elements
/// change state.beam and state.lf (emittances, delta). Einzel lens and electrostatic gap need a kinetic
/// energy > 0: otherwise "Specify Ion energy!", the particle window, and the drift matrix.
void elementMatrix(State& state, Messages& messages, int i, double sliceLength);
/// R <- the body matrix of a bend (family 1, curvature h 1/m, gradient k 1/m^2) or a quadrupole (family 2,
/// strength k) for a slice of sliceLength (m), as elementMatrix computes it; the drift for other codes.
void magnetMatrix(TransferMatrix& t, int elementCode, double h, double k, double sliceLength);
/// Angle (rad) by which the fringe field of a pole face weakens its vertical focusing, for a magnet of
/// curvature h (1/m), face angle psi (rad) and full gap (m): phi = (h gap / 3) (1 + sin^2 psi) / cos psi.
/// This is K. Brown's correction with the fringe-field integral 1/6 of the full gap, MAD-X's
/// phi = 2 h HGAP FINT (1 + sin^2 psi) / cos psi with HGAP = gap / 2 and FINT = 1/3.
double fringeAngle(double h, double psi, double gap);
/// R <- the thin pole-face matrix of a magnet of curvature h (1/m), face angle psi (rad), full gap (m):
/// R21 = h tan(psi), R43 = -h tan(psi - fringeAngle(h, psi, gap)); positive psi focuses vertically.
void edgeMatrix(TransferMatrix& t, double h, double psi, double gap);

/// Which face of a magnet: the field rises at the entrance and falls at the exit.
enum class Face { Entrance, Exit };

/// The thin pole face of a magnet with the body field h + k x (curved frame) to second order, in the
/// canonical coordinates x, px, y, py (momenta normalised to the design momentum): the hard edge of the
/// TRANSPORT second-order map with the fringe-field correction in the linear vertical term only. In
/// canonical coordinates the map has no term in delta. Coordinate i changes by the sum of tijk z_j z_k
/// over the pairs j <= k (each pair once, so t212 multiplies x px); coordinates 1..4 are x, px, y, py.
struct EdgeMap
{
    double r21 = 0, r43 = 0;   // 1/m: px += r21 x, py += r43 y
    double t111 = 0, t133 = 0; // 1/m
    double t211 = 0, t233 = 0; // 1/m^2
    double t212 = 0, t234 = 0; // 1/m
    double t313 = 0;           // 1/m
    double t413 = 0;           // 1/m^2
    double t414 = 0, t423 = 0; // 1/m
};
/// The second-order map of one face of angle psi (rad), full gap (m), of a magnet of curvature h (1/m) and
/// gradient k (1/m^2); a face normal to the orbit (psi = 0, gap 0) still turns a horizontal slope into
/// vertical focusing (t423 = -h at the entrance).
EdgeMap edgeMap(double h, double k, double psi, double gap, Face face);
/// Applies an edge map to one particle (m, and momenta normalised to the design momentum).
void applyEdgeMap(const EdgeMap& map, double& x, double& px, double& y, double& py);
/// M <- R * M, block-wise from the old M; rows and columns of l keep their identity values.
void multiplyTotal(TransferMatrix& t);
/// M <- edge R * M, added directly: M[x'][j] += R21 M[x][j], M[y'][j] += R43 M[y][j].
void addEdgeToTotal(TransferMatrix& t);

} // namespace kestrune

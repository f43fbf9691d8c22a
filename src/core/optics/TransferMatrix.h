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
/// R <- the thin pole-face matrix of a magnet of curvature h (1/m), face angle psi (rad), full gap (m).
void edgeMatrix(TransferMatrix& t, double h, double psi, double gap);
/// M <- R * M, block-wise from the old M; rows and columns of l keep their identity values.
void multiplyTotal(TransferMatrix& t);
/// M <- edge R * M, added directly: M[x'][j] += R21 M[x][j], M[y'][j] += R43 M[y][j].
void addEdgeToTotal(TransferMatrix& t);

} // namespace kestrune

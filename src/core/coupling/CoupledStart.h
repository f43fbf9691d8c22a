#pragma once

#include "core/State.h"
#include "core/coupling/CoupledOptics.h"

#include <array>
#include <complex>
#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// A mode's eigenvector on (x, px, y, py), normalised to v^H S v = 2i (S the symplectic form).
using ModeVector = std::array<std::complex<double>, 4>;
/// Modes 1 (mostly in x) and 2 (mostly in y).
using ModePair = std::array<ModeVector, 2>;

/// The modes of Edwards-Teng values: beta, alpha of modes 1 and 2 (betaX .. alphaY) and MAD-X's coupling
/// matrix R; the gamma field is not read. Nothing when a beta is not positive or det R <= -1.
std::optional<ModePair> edwardsTengModes(const EdwardsTeng& et);

/// The Edwards-Teng values of two normalised modes, whatever their phases; nothing when the x part of
/// mode 1 or the y part of mode 2 carries no invariant (the modes cannot be told apart).
std::optional<EdwardsTeng> edwardsTengOf(const ModePair& modes);

/// The Mais-Ripken betas and alphas of two normalised modes.
MaisRipken maisRipkenOf(const ModePair& modes);

/// The Mais-Ripken values of two normalised modes with the phases that they leave: nu1 the phase of
/// mode 1's y part ahead of its x part, nu2 that of mode 2's x part ahead of its y part (rad), so that a
/// particle of mode 1 alone moves as x = sqrt(2 J beta11) cos(psi), y = sqrt(2 J beta21) cos(psi + nu1).
struct MaisRipkenStart
{
    MaisRipken mr;           // betas and alphas; the gammas are not read
    double nu1 = 0, nu2 = 0; // rad
};

/// The Mais-Ripken start of two normalised modes (whatever their phases).
MaisRipkenStart maisRipkenStartOf(const ModePair& modes);

/// The Edwards-Teng values of the modes of a Mais-Ripken start; nothing, with the reason in refusal, for
/// values that are no two modes of a beam: a beta not positive (beta11, beta22) or negative, one of the
/// cross-plane betas beta12, beta21 zero and not the other, or values whose modes are not symplectically
/// orthogonal to 1e-5 of their terms ("the Mais-Ripken values are not those of two modes of a beam").
std::optional<EdwardsTeng> edwardsTengOfMaisRipken(const MaisRipkenStart& start, std::string& refusal);

/// A beam matrix on (x, px, y, py): <x x> in m^2, <x px> in m, <px px> in 1, symmetric.
using BeamMatrix = std::array<std::array<double, 4>, 4>;

/// The beam matrix of a beam whose modes have the Edwards-Teng values et and the emittances eps1, eps2
/// (m rad): Sigma = eps1 Re(v1 v1^H) + eps2 Re(v2 v2^H).
BeamMatrix beamMatrix(const EdwardsTeng& et, double eps1, double eps2);

/// The start values of a beam given by its beam matrix: the Edwards-Teng values of its modes and their
/// emittances (m rad).
struct BeamStart
{
    EdwardsTeng et;
    double emittance1 = 0, emittance2 = 0;
};
/// Nothing, with the reason in refusal, for a matrix that is no beam: not symmetric, not positive
/// definite ("the beam matrix is not positive definite: its leading 2 x 2 part (up to box S22) has no
/// positive determinant"), or with modes that cannot be told apart (equal emittances, or both modes
/// sharing the planes equally).
std::optional<BeamStart> beamStart(const BeamMatrix& sigma, std::string& refusal);

/// The coupled functions along a line from the start values of run (modes 1 and 2 from beta, alpha of
/// the planes and the start coupling R; the four dispersions): index 0 the start, then the end of each of
/// the maps (lengths in m). Nothing, with the reason in refusal, for start values without modes or a
/// place where the modes cannot be told apart (the element named by its index).
std::optional<std::vector<CoupledFunctions>> coupledLineFunctions(const std::vector<Map5>& maps,
                                                                  const std::vector<double>& lengths,
                                                                  const RunSettings& run,
                                                                  std::string& refusal);

} // namespace kestrune

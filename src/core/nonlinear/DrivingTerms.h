#pragma once

#include "core/Messages.h"
#include "core/State.h"

#include <array>
#include <complex>
#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// The first-order resonance driving terms the ring's sextupoles, quadrupoles and bend gradients drive:
/// five geometric terms of the sextupoles and five chromatic terms, in this order.
enum class DrivingTerm { H21000, H30000, H10110, H10020, H10200, H11001, H00111, H20001, H00201, H10002 };
constexpr int kDrivingTermCount = 10;

/// "h21000", ..., "h10002".
const char* drivingTermName(DrivingTerm term);

using DrivingTermValues = std::array<std::complex<double>, kDrivingTermCount>;

/// A point of the sextupole integrals: the weight k2 w (1/m^2) of its share and the periodic
/// functions there, the phases in units of 2 pi from the cell start.
struct SextupolePoint
{
    double k2 = 0;
    double betaX = 0, betaY = 0;
    double phiX = 0, phiY = 0;
};

/// The driving terms of the whole ring of superPeriods cells, and their build-up along the cell.
struct DrivingTerms
{
    std::vector<SextupolePoint> sextupoles; // the points of the cell's sextupole integrals
    int cells = 1;                          // the superperiods
    DrivingTermValues ring{};               // the sums over the whole ring
    DrivingTermValues cell{};               // the sums over one cell
    std::vector<double> s;                  // m, end of every element 1..N of the cell
    std::vector<DrivingTermValues> buildUp; // the running sums of the cell at those ends
    double tuneX = 0, tuneY = 0;            // ring tunes of the linear optics
    /// The value of one term over the whole ring.
    std::complex<double> operator[](DrivingTerm t) const { return ring[static_cast<int>(t)]; }
};

/// The driving terms of the ring of state.line (one cell, state.line.superPeriods of them), from the
/// uncoupled lattice functions of the periodic solution, computed on a copy of the state. Nothing, with
/// the reason in refusal when it is given, for an empty line, a line the uncoupled optics refuse or a
/// cell without a stable periodic solution.
std::optional<DrivingTerms> drivingTerms(const State& state, std::string* refusal = nullptr);

} // namespace kestrune

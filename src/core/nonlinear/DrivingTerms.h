#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/tracking/Detuning.h"

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
    std::vector<SextupolePoint> sextupoles;      // the points of the cell's sextupole integrals
    int cells = 1;                               // the superperiods
    DrivingTermValues ring{};                    // the sums over the whole ring
    DrivingTermValues cell{};                    // the sums over one cell
    std::vector<double> s;                       // m, end of every element 1..N of the cell
    std::vector<DrivingTermValues> buildUp;      // the running sums of the cell at those ends
    double tuneX = 0, tuneY = 0;                 // ring tunes of the linear optics
    double chromaticityX = 0, chromaticityY = 0; // of the ring from its sextupole components alone
    OctupoleDetuning octupoles;                  // the first-order detuning of the ring's octupole components
    /// The value of one term over the whole ring.
    std::complex<double> operator[](DrivingTerm t) const { return ring[static_cast<int>(t)]; }
};

/// A point of the integrals over an element of the cell: its weight (m; 1 for a thin kick) and the
/// periodic functions there, the phases in units of 2 pi from the cell start with their phase factors.
struct OpticsPoint
{
    double weight = 0;
    double betaX = 0, betaY = 0, rootBetaX = 0; // m, m, sqrt(m)
    double eta = 0;                             // m
    double phiX = 0, phiY = 0;
    std::complex<double> ex, ey; // exp(2 pi i phiX), exp(2 pi i phiY)
};

/// The linear optics of the cell at the points of the driving-term and detuning integrals: Simpson's
/// points of the magnets with a gradient and of every thick sextupole, Gauss's points of the octupoles
/// and the centres of the thin multipoles. Sextupole and octupole strengths change none of it (at
/// delta = 0 they act on no linear motion), so designs that differ in those alone share one.
struct DrivingTermOptics
{
    std::vector<OpticsPoint> points; // in line order
    std::vector<std::size_t> ends;   // points of element i: ends[i - 1] .. ends[i] - 1 (ends[0] = 0)
    std::vector<double> s;           // m, end of every element 1..N of the cell
    int cells = 1;                   // the superperiods
    double muX = 0, muY = 0;         // phase advances of the cell, units of 2 pi
};

/// The optics of the driving terms of state.line's ring, computed on a copy of the state; nothing, with
/// the reason in refusal when it is given, where drivingTerms(state) has none.
std::optional<DrivingTermOptics> drivingTermOptics(const State& state, std::string* refusal = nullptr);

/// The driving terms of line, the cell optics was computed for, with the strengths it has now.
DrivingTerms drivingTerms(const DrivingTermOptics& optics, const BeamLine& line);

/// The driving terms of the ring of state.line (one cell, state.line.superPeriods of them), from the
/// uncoupled lattice functions of the periodic solution, computed on a copy of the state. Nothing, with
/// the reason in refusal when it is given, for an empty line, a line the uncoupled optics refuse or a
/// cell without a stable periodic solution.
std::optional<DrivingTerms> drivingTerms(const State& state, std::string* refusal = nullptr);

} // namespace kestrune

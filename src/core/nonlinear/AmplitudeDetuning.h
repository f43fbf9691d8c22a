#pragma once

#include "core/State.h"
#include "core/nonlinear/DrivingTerms.h"

#include <optional>
#include <string>

namespace kestrune {

/// The amplitude-dependent tune shifts of the full ring per unit action J = (gamma x^2 + 2 alpha x x' +
/// beta x'^2) / 2 (1/m); dQy/dJx equals dQx/dJy to the order they are taken at.
struct DetuningCoefficients
{
    double xx = 0; // dQx/dJx
    double xy = 0; // dQx/dJy
    double yy = 0; // dQy/dJy
};

/// The detuning of the ring from its sextupoles to second order in their strengths and its octupoles
/// (thick k3 and thin knl[3]) to first order, from the periodic solution. Nothing, with the reason in
/// refusal when it is given, where the driving terms have none, or on a resonance 3 Qx, Qx, Qx +- 2 Qy
/// of whole numbers where the second-order terms have no finite value.
std::optional<DetuningCoefficients> detuning(const State& state, std::string* refusal = nullptr);
/// The same from the driving terms of state already computed.
std::optional<DetuningCoefficients> detuning(const State& state, const DrivingTerms& terms,
                                             std::string* refusal = nullptr);

/// The actions of the tracked detuning: four particles per plane at J = k largestAction / 4.
struct DetuningScan
{
    double largestAction = 2e-9; // m
    int turns = 1024;
};

/// The detuning from the symplectic tracker (rf off): particles started at the cell start at actions of
/// one plane (the other plane at a 1e-6 of it, so that its tune is there), their tunes by the tune
/// analysis, and the slope at J = 0 of the least-squares parabola Q(J) through the five points with
/// J = 0. Nothing, with the reason in refusal when it is given, for an empty line, a line the uncoupled
/// optics refuse, a cell without a stable periodic solution, a particle lost or without a clear line.
std::optional<DetuningCoefficients> trackedDetuning(const State& state, const DetuningScan& scan = {},
                                                    std::string* refusal = nullptr);

} // namespace kestrune

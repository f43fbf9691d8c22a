#pragma once

#include "core/Messages.h"

#include <optional>
#include <string>

namespace kestrune {

/// Inputs of the pressure calculation.
struct VacuumInput
{
    int steps = 2000;                   // M, equal steps along one period
    int iterations = 100;               // bisection iterations of the flow divides
    double chamberRadius = 0.03;        // m, W
    double thermalDesorption = 1e-12;   // Torr l/s/cm^2, theta
    double photodesorptionYield = 1e-6; // molecules per photoelectron, eta
};

/// Most steps the calculation takes; a larger count is cut to this.
constexpr int kMaxVacuumSteps = 10000;
/// Most bisection iterations; a larger count is cut to this (the bisection stops earlier anyway once
/// no divide moves any more).
constexpr int kMaxVacuumIterations = 10000;

/// The texts of the window's five input boxes, as typed.
struct VacuumBoxes
{
    std::string steps = "2000";      // edM
    std::string iterations = "100";  // edMrep
    std::string radiusCm = "3.0";    // edW, cm
    std::string thermal = "1.0E-12"; // edThD
    std::string yield = "1.0E-6";    // edEta
};

/// Reads the boxes in the order M, radius, iterations, theta, eta. An empty box gets its default
/// written into it; a step count above kMaxVacuumSteps (iterations above kMaxVacuumIterations) becomes
/// that count, also in its box. The radius, theta and eta must lie in their ranges (core/InputRanges.h).
/// Throws ConversionError at the first box that is not a number (boxes filled before it keep their text). A
/// value outside its domain (M or iterations below 1, radius not positive, a negative coefficient) is refused
/// with a message naming the box: nothing, then.
std::optional<VacuumInput> readVacuumInput(VacuumBoxes& boxes, Messages& messages);

} // namespace kestrune

#pragma once

#include "core/State.h"

#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace kestrune {

/// Title line, foot line and left-axis caption of the lattice chart for one graph mode.
struct PlotTexts
{
    std::vector<std::string> title; // one line per mode flag that is set
    std::vector<std::string> foot;
    std::string leftAxis; // empty: keep the caption
};

/// Series title of the plot the graph mode asks for: "beam", "beta" or "traj" in that order of
/// precedence; empty when no mode is set.
std::string plotKind(const RunSettings& run);

/// The three curve values the chart plots for one sample of a pass in the graph mode of run: lattice
/// functions: betaX, betaY (m), 10 eta (m); beam size: the horizontal envelope (betatron size plus the
/// dispersive offset of the momentum deviation) and minus the vertical size (mm), 10 eta; trajectory: x,
/// y (mm), 10 D.
inline std::array<double, 3> curveValues(const RunSettings& run, const LatticeFunctions& lf)
{
    // the pass carries the lattice functions unless only the trajectory is asked for
    if (!run.showBetaFunctions && run.showBeamSize)
        return {(std::sqrt(lf.betaX * lf.epsX) + lf.eta * lf.delta) * 1000,
                -std::sqrt(lf.betaY * lf.epsY) * 1000, 10 * lf.eta};
    if (!run.showBetaFunctions && run.showTrajectory)
        return {lf.x, lf.y, 10 * lf.d};
    return {lf.betaX, lf.betaY, 10 * lf.eta};
}

/// The chart texts of the graph mode: a line each for the beta and the trajectory flag, in that order;
/// the beam-size flag replaces them by its own line.
PlotTexts plotTexts(const RunSettings& run);

/// The chart's line saying that the curves are no periodic solution, after the periodic solution of an
/// update found the cell unstable (the curves start from the previous start values) or could not solve
/// the dispersion (it starts from 0); empty when the solution was found.
std::string notPeriodicLine(const RunSettings& run, bool dispersionSolved);

/// "Yes" of the z-step group: MaxStep from the step box (cm), MaxSteps from the step-count box, then
/// one sample per element when "end of elements" is chosen (MaxSteps 1). Throws ConversionError at
/// the first box that is not a number; MaxStep read before a failing count stays stored.
void applyStepSettings(RunSettings& run, const std::string& stepCm, const std::string& maxSteps,
                       bool endOfElements);

/// The step box text for MaxStep: centimetres in "%8.3f".
std::string stepBoxText(const RunSettings& run);

/// On activation with short steps: a MaxStep that is not positive becomes 0.1 m.
void ensurePositiveStep(RunSettings& run);

} // namespace kestrune

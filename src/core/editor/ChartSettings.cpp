#include "core/editor/ChartSettings.h"

#include "core/Format.h"
#include "core/NumberInput.h"

#include <cmath>

namespace kestrune {

std::string plotKind(const RunSettings& run)
{
    if (run.showBeamSize)
        return "beam";
    if (run.showBetaFunctions)
        return "beta";
    if (run.showTrajectory)
        return "traj";
    return {};
}

PlotTexts plotTexts(const RunSettings& run)
{
    PlotTexts texts;
    if (run.showBetaFunctions) {
        texts.title.push_back("Betatron Functions");
        texts.foot.push_back("beta_x (red); beta_y (green); dispersion*10 (blue)");
        texts.leftAxis = "beta_x,y (m), eta*10 (m)";
    }
    if (run.showTrajectory) {
        texts.title.push_back("Particle Trajectories");
        texts.foot.push_back("RED: x(s); GREEN: y(s); BLUE: dispersion*10");
        texts.leftAxis = "x(mm), y(mm), 10*disp(m)";
    }
    if (run.showBeamSize) {
        texts.title = {"Beam Sizes"};
        texts.foot = {"RED: sig_x; GREEN: sig_y; BLUE: dispersion*10"};
        texts.leftAxis = "sig_x(mm), sig_y(mm), 10*disp(m)";
    }
    return texts;
}

std::string notPeriodicLine(const RunSettings& run, bool dispersionSolved)
{
    if (!run.periodicStable)
        return "not periodic: unstable cell, curves from previous values";
    if (!dispersionSolved)
        return "not periodic: no dispersion solution, eta from 0";
    return {};
}

void applyStepSettings(RunSettings& run, const std::string& stepCm, const std::string& maxSteps,
                       bool endOfElements)
{
    run.maxStep = parseDouble(stepCm) / 100;
    const int steps = parseInt(maxSteps);
    run.maxSteps = steps;
    run.maxStepsBox = steps;
    run.stepAtElementEnds = false;
    if (endOfElements) {
        run.stepAtElementEnds = true;
        run.maxSteps = 1;
    }
}

std::string stepBoxText(const RunSettings& run)
{
    return fmt("%8.3f", run.maxStep * 100);
}

void ensurePositiveStep(RunSettings& run)
{
    if (run.maxStep <= 0)
        run.maxStep = 0.1;
}

} // namespace kestrune

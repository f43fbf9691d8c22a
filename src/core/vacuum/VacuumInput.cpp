#include "core/vacuum/VacuumInput.h"

#include "core/InputRanges.h"
#include "core/NumberInput.h"

#include <utility>

namespace kestrune {

namespace {

bool blank(const std::string& text)
{
    return text.find_first_not_of(" \t") == std::string::npos;
}

/// The number in box, or the default (written into the box, in the toolkit's general format) when
/// the box is empty.
double readOrDefault(std::string& box, const char* name, double value, const char* shown)
{
    if (blank(box)) {
        box = shown;
        return value;
    }
    return parseDouble(name, box);
}

int readOrDefault(std::string& box, const char* name, int value)
{
    if (blank(box)) {
        box = std::to_string(value);
        return value;
    }
    return parseInt(name, box);
}

} // namespace

std::optional<VacuumInput> readVacuumInput(VacuumBoxes& boxes, Messages& messages)
{
    VacuumInput input;
    input.steps = readOrDefault(boxes.steps, "# of steps along beam line", 2000);
    if (input.steps > kMaxVacuumSteps) {
        input.steps = kMaxVacuumSteps;
        boxes.steps = std::to_string(kMaxVacuumSteps);
    }
    input.chamberRadius = readOrDefault(boxes.radiusCm, "chamber radius, cm", 3.0, "3") / 100;
    input.iterations = readOrDefault(boxes.iterations, "# of iterations", 100);
    if (input.iterations > kMaxVacuumIterations) {
        input.iterations = kMaxVacuumIterations;
        boxes.iterations = std::to_string(kMaxVacuumIterations);
    }
    input.thermalDesorption = readOrDefault(boxes.thermal, "therm.desorpt.coeff.", 1e-12, "1E-12");
    input.photodesorptionYield = readOrDefault(boxes.yield, "eta", 1e-6, "1E-6");

    if (input.steps < 1) {
        messages.error("# of steps along beam line must be at least 1!");
        return std::nullopt;
    }
    if (input.chamberRadius <= 0) {
        messages.error("the chamber radius must be larger than 0 cm!");
        return std::nullopt;
    }
    if (input.iterations < 1) {
        messages.error("# of iterations must be at least 1!");
        return std::nullopt;
    }
    if (input.thermalDesorption < 0) {
        messages.error("the thermal desorption coefficient must not be negative!");
        return std::nullopt;
    }
    if (input.photodesorptionYield < 0) {
        messages.error("the photodesorption yield eta must not be negative!");
        return std::nullopt;
    }
    // the upper limits of the ranges: a value far beyond any vacuum system overflows the pressures
    for (const auto& [range, value] :
         {std::pair{&ranges::kChamberRadiusCm, input.chamberRadius * 100},
          std::pair{&ranges::kThermalDesorption, input.thermalDesorption},
          std::pair{&ranges::kPhotodesorptionYield, input.photodesorptionYield}}) {
        if (const std::optional<std::string> refusal = rangeRefusal(*range, value)) {
            messages.error(*refusal);
            return std::nullopt;
        }
    }
    return input;
}

} // namespace kestrune

#include "core/editor/Tuning.h"

#include "core/Format.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kestrune {

namespace {

constexpr int kPrecision = 5; // significant digits of the tuning value
constexpr int kDigits = 3;    // decimals of the tuning value
constexpr int kResetLimit = 40;

double strength(const State& state, int e)
{
    return e >= 1 && e <= state.line.count ? state.line.at(e).k : 0.0;
}

TuningView view(const TuningState& tuning, const std::string& valueText)
{
    return TuningView{tuning.tuneLabel, valueText, tuning.position};
}

} // namespace

std::string tuneText(double value)
{
    if (!std::isfinite(value))
        return fmt("%g", value);
    // the value rounded to kPrecision significant digits tells how many integer digits it has
    const std::string scientific = fmt("%.*e", kPrecision - 1, value);
    const std::size_t e = scientific.find('e');
    const int exponent = std::atoi(scientific.c_str() + e + 1);
    const int integerDigits = exponent + 1;
    std::string text;
    if (integerDigits > kPrecision) {
        std::string mantissa = scientific.substr(0, e);
        mantissa.erase(mantissa.find_last_not_of('0') + 1);
        if (mantissa.back() == '.')
            mantissa.pop_back();
        text = mantissa + "E" + std::to_string(exponent);
    } else {
        // rounded once, to whichever is coarser: kDigits decimals or kPrecision significant digits;
        // the decimals beyond the precision are shown as zeros
        const int decimals = std::min(kDigits, kPrecision - integerDigits);
        text = fmt("%.*f", decimals, value);
        if (decimals == 0)
            text += '.';
        text.append(static_cast<std::size_t>(kDigits - decimals), '0');
    }
    if (text.find_first_not_of("-0.") == std::string::npos && text.front() == '-')
        text.erase(0, 1);
    return text;
}

TuningView startTuning(const State& state, TuningState& tuning, int e)
{
    tuning.element = e;
    tuning.open = true;
    tuning.tuneLabel = "scrolled strength for magnet " + state.line.at(e).name + " is: ";
    // the "Q-strength, k" selector: bar at 0, the start value from the element
    tuning.position = 0;
    tuning.tuneStartValue = strength(state, e);
    tuning.tuneBase = tuning.tuneStartValue;
    // leaving the bar before moving it must keep the start value as the base
    tuning.tuneValue = tuning.tuneStartValue;
    return view(tuning, fmt("%.15g", tuning.tuneStartValue));
}

TuningView scrollTo(State& state, TuningState& tuning, int position, bool fine)
{
    tuning.position = std::clamp(position, kScrollMin, kScrollMax);
    const double f = fine ? 0.02 : 1.0;
    tuning.tuneValue = tuning.tuneStartValue * f * tuning.position / 100.0 + tuning.tuneBase;
    if (tuning.element >= 1 && tuning.element <= state.line.count)
        state.line.at(tuning.element).k = tuning.tuneValue;
    return view(tuning, tuneText(tuning.tuneValue));
}

void leaveBar(TuningState& tuning)
{
    tuning.tuneBase = tuning.tuneValue;
}

bool resetScrollBar(TuningState& tuning, TuningView& shown)
{
    if (tuning.position >= -kResetLimit && tuning.position <= kResetLimit)
        return false;
    tuning.position = 0;
    tuning.tuneBase = tuning.tuneValue;
    shown = view(tuning, tuneText(tuning.tuneBase));
    return true;
}

TuningView restoreOriginal(State& state, TuningState& tuning)
{
    if (tuning.element >= 1 && tuning.element <= state.line.count)
        state.line.at(tuning.element).k = tuning.tuneStartValue;
    tuning.tuneBase = tuning.tuneStartValue;
    tuning.tuneValue = tuning.tuneStartValue;
    tuning.position = 0;
    return view(tuning, tuneText(tuning.tuneStartValue));
}

void abortTuning(TuningState& tuning)
{
    tuning.open = false;
}

bool elementClicked(const State& state, TuningState& tuning, int e, TuningView& shown)
{
    tuning.position = 0;
    tuning.tuneStartValue = strength(state, e);
    if (!tuning.open)
        return false;
    // the bar must not add offsets of one element's start value to another element's base
    shown = startTuning(state, tuning, e);
    return true;
}

} // namespace kestrune

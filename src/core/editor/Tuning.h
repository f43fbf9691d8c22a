#pragma once

#include "core/State.h"

#include <string>

namespace kestrune {

/// The scroll-bar tuning of a quadrupole's strength (panel pnScroll).
struct TuningState
{
    int element = 0;           // the element the bar varies (0: none)
    bool open = false;         // pnScroll is shown
    int position = 0;          // ScrollBar1, -50 .. 50
    double tuneStartValue = 0; // TuneStartValue: k when the element was clicked or its tuning started
    double tuneBase = 0;       // TuneBase: the value the bar's offsets are added to
    double tuneValue = 0;      // TuneValue: the current tuned value
    std::string tuneLabel;     // TuneLabel
};

/// What the tuning panel shows.
struct TuningView
{
    std::string label;     // lScrollVal
    std::string valueText; // ScrollParam
    int position = 0;      // ScrollBar1
};

constexpr int kScrollMin = -50;
constexpr int kScrollMax = 50;

/// The tuning value text: fixed point with 3 decimals after rounding to at most 5 significant digits
/// ("2.208", "12.346", "123.460"); a value with more than 5 integer digits is shown in scientific
/// form with up to 5 significant digits ("1.2346E5"). Negative zero shows as "0.000".
std::string tuneText(double value);

/// "vary/scroll quad strength" for element e: TuneLabel from its name, the "Q-strength, k" selector
/// checked (k shown in general format), bar at 0, TuneStartValue = TuneBase = TuneValue = k.
TuningView startTuning(const State& state, TuningState& tuning, int e);

/// The bar moved to position (clamped to -50..50): TuneValue = TuneStartValue*f*P/100 + TuneBase with
/// f = 0.02 fine, 1.0 coarse, stored as k of the tuned element. The caller then runs the beam-dynamics
/// update when the curves exist.
TuningView scrollTo(State& state, TuningState& tuning, int position, bool fine);

/// The focus left the bar: TuneBase = TuneValue.
void leaveBar(TuningState& tuning);

/// "reset scroll bar": nothing for -40 <= P <= 40 (returns false); else bar to 0, TuneBase = TuneValue,
/// and true with the view to show in shown.
bool resetScrollBar(TuningState& tuning, TuningView& shown);

/// "restore original value?": k = TuneStartValue, TuneBase = TuneValue = TuneStartValue, bar to 0.
/// The caller then runs the beam-dynamics update when the curves exist.
TuningView restoreOriginal(State& state, TuningState& tuning);

/// Abort: the tuning panel closes; the tuned k stays in the element.
void abortTuning(TuningState& tuning);

/// A click on element e's shape: bar to 0 and TuneStartValue = k of e. While the tuning panel is open
/// the tuning restarts for e (as startTuning) with the view to show in shown; returns whether it did.
bool elementClicked(const State& state, TuningState& tuning, int e, TuningView& shown);

} // namespace kestrune

#pragma once

#include "cli/BatchSettings.h"
#include "cli/Report.h"
#include "cli/StderrMessages.h"
#include "core/State.h"
#include "core/chromaticity/Chromaticity.h"
#include "core/tracking/TuneAnalysis.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kestrune {

/// What the command line asks of the chromaticity window, as typed.
struct ChromaticityRequest
{
    std::vector<std::string> wanted;          // --chromaticity XI_X XI_Y
    std::string saveFile;                     // --save FILE.lat
    std::vector<std::string> track;           // --track TURNS X XP Y YP [DELTA L]
    std::string trackingModel = "symplectic"; // --tracking-model symplectic|linear
    std::string offMomentumPercent;           // --off-momentum PERCENT
    std::string apertureMm;                   // --aperture MM
    bool sigmas = false;                      // --sigmas: X XP Y YP are numbers of standard deviations
};

/// What a --track run leaves for the report's "tracking" section.
struct TrackingSummary
{
    std::string model;    // "symplectic" or "linear"
    int turns = 0;        // asked for
    int turnsTracked = 0; // completed
    bool lost = false;
    int lostTurn = 0;    // turn of the loss
    int lostElement = 0; // position in the full ring of the element after which it was lost
    bool rf = false;     // the rf cavity was on
    TrackedTunes tunes;  // fractional tunes of the run; NaN where not available
};

/// Checks what needs no file: the numbers typed, the tracking model and that the tracking options come
/// with --track. Throws BatchUsageError with a clear text.
void checkChromaticityUsage(const ChromaticityRequest& request);

/// --chromaticity: the natural chromaticities of the ring (radiation integrals), then the sextupole
/// correction, which writes the SF and SD strengths into state.line. Returns the correction; nothing after
/// its message when it was refused.
std::optional<ChromaticityCorrection> runChromaticityCorrection(State& state, Messages& messages,
                                                                const ChromaticityRequest& request);

/// --track: one particle over the ring, written to out as CSV row by row as the turns are computed (the
/// start as turn 0, one row per turn survived, 12 significant digits) and, when it was lost, a last line
/// "# particle was lost during turn # T after element E". The linear model writes
/// "turn,x_mm,xp_mrad,y_mm,yp_mrad" as it always has; the symplectic model
/// "turn,x_mm,px_mrad,y_mm,py_mrad,delta_percent,l_mm" with the rf cavity of a closed ring whose rf
/// record has a voltage. --aperture limits x. --sigmas takes the equilibrium emittances of the ring with
/// the coupling of inputs. False when the run was refused; summary gets the run's tunes and fate.
bool runTrackingCsv(State& state, Messages& messages, const ChromaticityRequest& request,
                    const BatchInputs& inputs, std::ostream& out, TrackingSummary& summary);

/// The report's "tracking" section: model, turns, turns_tracked, lost, lost_turn, lost_element, rf,
/// tune_x, tune_y, synchrotron_tune; null without --track.
Json trackingSection(const std::optional<TrackingSummary>& summary);

/// The report's "chromaticity" section: the ring's natural and corrected chromaticities, their parts and
/// the strengths of the correction; for a ring whose planes couple those of its modes
/// (coupledChromaticitySection).
Json chromaticitySection(const State& state, const std::optional<ChromaticityCorrection>& correction,
                         const std::vector<std::string>& wanted, Messages& messages);

/// The report's "resonance" section: the working point (the ring tunes) and the unit tune square around
/// it; null without a stable periodic solution.
Json resonanceSection(const State& state, Messages& messages);

/// Adds the chromaticity, resonance and tracking sections to a report, keeping its messages last.
void addChromaticitySections(Json& report, const State& state,
                             const std::optional<ChromaticityCorrection>& correction,
                             const ChromaticityRequest& request,
                             const std::optional<TrackingSummary>& tracking, StderrMessages& messages);

} // namespace kestrune

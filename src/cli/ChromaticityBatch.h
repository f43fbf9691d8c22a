#pragma once

#include "cli/BatchSettings.h"
#include "cli/Report.h"
#include "cli/StderrMessages.h"
#include "core/State.h"
#include "core/chromaticity/Chromaticity.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kestrune {

/// What the command line asks of the chromaticity window, as typed.
struct ChromaticityRequest
{
    std::vector<std::string> wanted; // --chromaticity XI_X XI_Y
    std::string saveFile;            // --save FILE.lat
    std::vector<std::string> track;  // --track TURNS X XP Y YP
    std::string offMomentumPercent;  // --off-momentum PERCENT
    std::string apertureMm;          // --aperture MM
    bool sigmas = false;             // --sigmas: X XP Y YP are numbers of standard deviations
};

/// Checks what needs no file: the numbers typed and that the tracking options come with --track. Throws
/// BatchUsageError with a clear text.
void checkChromaticityUsage(const ChromaticityRequest& request);

/// --chromaticity: the natural chromaticities of the ring (radiation integrals), then the sextupole
/// correction, which writes the SF and SD strengths into state.line. Returns the correction; nothing after
/// its message when it was refused.
std::optional<ChromaticityCorrection> runChromaticityCorrection(State& state, Messages& messages,
                                                                const ChromaticityRequest& request);

/// --track: one particle over the ring, written to out as CSV (header "turn,x_mm,xp_mrad,y_mm,yp_mrad",
/// the start as turn 0, one row per turn survived, 12 significant digits) and, when it was lost, a last
/// line "# particle was lost during turn # T after element E". --aperture limits x. --sigmas takes the
/// equilibrium emittances of the ring with the coupling of inputs. False when the run was refused.
bool runTrackingCsv(State& state, Messages& messages, const ChromaticityRequest& request,
                    const BatchInputs& inputs, std::ostream& out);

/// The report's "chromaticity" section: the correction's values, or without one those of the lattice with
/// its sextupoles now; null without a stable periodic solution.
Json chromaticitySection(const State& state, const std::optional<ChromaticityCorrection>& correction,
                         const std::vector<std::string>& wanted, Messages& messages);

/// The report's "resonance" section: the working point (the ring tunes) and the unit tune square around
/// it; null without a stable periodic solution.
Json resonanceSection(const State& state, Messages& messages);

/// Adds the chromaticity and resonance sections to a report, keeping its messages last.
void addChromaticitySections(Json& report, const State& state,
                             const std::optional<ChromaticityCorrection>& correction,
                             const ChromaticityRequest& request, StderrMessages& messages);

} // namespace kestrune

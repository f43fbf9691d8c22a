#pragma once

#include "core/Messages.h"
#include "core/State.h"

#include <optional>
#include <string>

namespace kestrune {

/// Weights of the sextupoles of one cell, the integrals over each sextupole's length divided by 4 pi
/// (written "w eta betaX" below): SF and SD per unit strength, special sextupoles with their own
/// strength m.
struct SextupoleSums
{
    double aFx = 0, aFy = 0; // m^3: sum of w eta betaX, w eta betaY over the SF sextupoles
    double aDx = 0, aDy = 0; // m^3: the same over the SD sextupoles
    double sx = 0;           // sum of w eta m betaX over the special sextupoles
    double sy = 0;           // minus the sum of w eta m betaY over the special sextupoles
    double fx = 0;           // sum of w eta m betaX over the SF and SD sextupoles with their strengths now
    double fy = 0;           // minus the sum of w eta m betaY over them
    // scales that tell a sum from rounding: sums of w |eta| betaX and of w betaX per family
    double magnitudeF = 0, magnitudeD = 0; // m^3
    double weightF = 0, weightD = 0;       // m^2
};

/// The chromaticities of the whole ring around one correction, and the strengths it found.
struct ChromaticityCorrection
{
    double naturalX = 0, naturalY = 0;
    double specialX = 0, specialY = 0; // Nsp Sx, Nsp Sy
    double sextupoleX = 0,
           sextupoleY = 0; // of the SF and SD families: Nsp (aFx mF + aDx mD), -Nsp (aFy mF + aDy mD)
    double correctedX = 0, correctedY = 0; // natural + special + SF and SD
    double mF = 0, mD = 0;                 // 1/m^3
    SextupoleSums sums;
};

/// A wanted chromaticity as typed: the number in text, 0 for a box that is empty or blank. Throws
/// ConversionError for anything else.
double wantedChromaticity(const std::string& text);

/// Ring pass over the cell from its periodic solution, every sextupole split at its centre, with the
/// sums of the sextupole weights (from their ends and centres). Nothing (after the periodic solution's
/// message) when the cell has no stable periodic solution.
std::optional<SextupoleSums> sextupoleSums(State& state, Messages& messages);

/// The SF and SD strengths that give the wanted ring chromaticities (natural ones and wanted ones for
/// the whole ring of superPeriods cells), with the contributions. Nothing, after the message about SF
/// and SD sextupoles, when the system has no solution (no SF or no SD where there is dispersion).
std::optional<ChromaticityCorrection> solveChromaticity(const SextupoleSums& sums, double naturalX,
                                                        double naturalY, int superPeriods, double wantedX,
                                                        double wantedY, Messages& messages);

/// The sextupole correction as one action on the state: the sums, the solution, then mF into every SF
/// and mD into every SD of the cell and of the copies of the full ring that exist in the table, and the
/// corrected chromaticities into ringParams. The natural chromaticities are those of ringParams; natural
/// ones that are not available refuse the correction. A refused correction changes no strength.
std::optional<ChromaticityCorrection> correctChromaticity(State& state, Messages& messages, double wantedX,
                                                          double wantedY);

/// The chromaticities of the ring with the sextupole strengths it has now (natural ones from ringParams);
/// mF and mD are NaN. Nothing, after the periodic solution's message, without a stable periodic solution.
std::optional<ChromaticityCorrection> latticeChromaticity(State& state, Messages& messages);

/// Last record of the full ring's copies that the table holds: ringElementCount, kept to the table and
/// never below the cell.
int lastRingRecord(const State& state);

} // namespace kestrune

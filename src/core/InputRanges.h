#pragma once

// The ranges of the values a user can enter: one table for the boxes of the windows, the batch tool's
// --set names, and the readers of lattice and MAD-X files, so that a value refused in one is refused in
// all, with the same words. The limits lie far outside what any machine needs and far inside what the
// computations carry without overflow.

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

namespace kestrune {

struct LatticeElement;

/// The values a box takes, in the box's unit.
struct InputRange
{
    const char* name; // as messages call the box: "the rf frequency"
    double min;
    double max;
    const char* unit;      // the box's unit ("MHz"); empty for a count or a ratio
    bool aboveMin = false; // min itself is refused
    bool wholeNumber = false;
    double smallest = 0; // with aboveMin: the smallest value taken, so that no result overflows
};

/// The refusal of value for range's box, or nothing when it is inside: "the rf frequency must be above
/// 0 MHz!", "the beam current must not be negative!", "the number of superperiods must be at least 1!",
/// "the rf frequency must be at most 100000 MHz!", "the number of cavity cells must be a whole number!",
/// "the rf frequency must be at least 0.001 MHz!" (above 0, but below the smallest value taken).
/// NaN and infinities are refused.
std::optional<std::string> rangeRefusal(const InputRange& range, double value);

/// The refusal of the first value outside its range, in the order given; nothing when all are inside.
std::optional<std::string> firstRefusal(std::initializer_list<std::pair<const InputRange*, double>> values);

/// True when value is inside range.
inline bool inRange(const InputRange& range, double value)
{
    return !rangeRefusal(range, value);
}

namespace ranges {

// ----- the particle and the beam (particle window, ring window)
constexpr InputRange kMomentumMeV{"the momentum", 0, 1e9, "MeV", true, false, 1e-6};
constexpr InputRange kMomentumGeV{"the momentum", 0, 1e6, "GeV", true, false, 1e-9};
constexpr InputRange kKineticEnergyMeV{"the kinetic energy", 0, 1e9, "MeV", true, false, 1e-6};
constexpr InputRange kChargeState{"the charge", 1, 200, "", false, true};
constexpr InputRange kMassNumber{"the mass number", 1e-4, 1e4, "", true};
constexpr InputRange kRestEnergyMeV{"the rest energy", 0, 1e7, "MeV", true, false, 0.1};
constexpr InputRange kBeamCurrentMa{"the beam current", 0, 1e5, "mA"};
constexpr InputRange kCouplingPercent{"the coupling", 0, 100, "%"};

// ----- the ring and its rf system (ring window, rf window)
constexpr InputRange kSuperperiods{"the number of superperiods", 1, 1000, "", false, true};
constexpr InputRange kRfFrequencyMHz{"the rf frequency", 0, 1e5, "MHz", true, false, 1e-3};
constexpr InputRange kRfVoltageKv{"the rf voltage", 0, 1e7, "kV"};
constexpr InputRange kRfPowerKw{"the rf power", 0, 1e6, "kW"};
constexpr InputRange kCavityCells{"the number of cavity cells", 1, 10000, "", false, true};
constexpr InputRange kMiscLossPercent{"the miscellaneous loss", 0, 100, "%"};
constexpr InputRange kAdditionalLossKev{"the additional loss", 0, 1e7, "keV"};
constexpr InputRange kShuntImpedanceMohm{"the shunt impedance", 1e-6, 1e4, "MOhm"};
constexpr InputRange kScanMomentumGeV{"the scan momentum", 0, 1e6, "GeV", true, false, 1e-6};

// ----- vacuum and lifetime windows (the lower limits are the windows' own checks)
constexpr InputRange kVacuumIterations{"# of iterations", 1, 10000, "", false, true};
constexpr InputRange kChamberRadiusCm{"the chamber radius", 0, 1000, "cm", true, false, 0.01};
constexpr InputRange kThermalDesorption{"the thermal desorption coefficient", 0, 1e-3, "Torr l/s/cm^2"};
constexpr InputRange kPhotodesorptionYield{"the photodesorption yield eta", 0, 10, ""};
constexpr InputRange kAspectRatio{"the aspect ratio", 0, 1e3, "", true, false, 1e-3};
constexpr InputRange kGasPressureNtorr{"the gas pressure", 0, 1e9, "nTorr", true, false, 1e-6};
constexpr InputRange kAcceptanceMmMrad{"the acceptance", 0, 1e6, "mm mrad", true, false, 1e-6};
constexpr InputRange kAverageBetaM{"the average beta", 0, 1e5, "m", true, false, 1e-3};
constexpr InputRange kBunchCurrentMa{"the bunch current", 0, 1e5, "mA", true, false, 1e-6};
constexpr InputRange kBunchLengthMm{"the bunch length", 0, 1e6, "mm", true, false, 1e-3};

constexpr InputRange kEnergyAcceptancePercent{"the energy acceptance", 0, 100, "%", true, false, 1e-6};

// ----- chromaticity and the beam-size panel
constexpr InputRange kWantedChromaticityX{"the wanted chromaticity x", -1000, 1000, ""};
constexpr InputRange kWantedChromaticityY{"the wanted chromaticity y", -1000, 1000, ""};
constexpr InputRange kEmittanceXMmMrad{"the horizontal emittance", 0, 1e6, "mm mrad", true, false, 1e-12};
constexpr InputRange kEmittanceYMmMrad{"the vertical emittance", 0, 1e6, "mm mrad", true, false, 1e-12};
constexpr InputRange kBeamSizeXMm{"the horizontal beam size", 0, 1e6, "mm", true, false, 1e-9};
constexpr InputRange kBeamSizeYMm{"the vertical beam size", 0, 1e6, "mm", true, false, 1e-9};

// ----- tracking (chromaticity window)
constexpr InputRange kTrackingTurns{"the number of turns", 1, 1e6, "", false, true};

// ----- an element (element panel), in the units stored
constexpr InputRange kElementLength{"the path length", 0, 1e5, "m"};
constexpr InputRange kCurvature{"the curvature", -1e4, 1e4, "1/m"};
constexpr InputRange kPoleFaceAngle{"the pole face angle", -1.57, 1.57, "rad"};
constexpr InputRange kMagnetGap{"the full magnet gap", 0, 10, "m"};
constexpr InputRange kStrength{"the gradient strength", -1e9, 1e9, ""};
constexpr InputRange kSextupoleStrength{"the sextupole strength", -1e12, 1e12, "1/m^3"};
constexpr InputRange kPumpingSpeed{"the pumping speed", 0, 1e9, "l/s"};
constexpr InputRange kLinacField{"the accelerating field", -1e10, 1e10, "V/m"};
constexpr InputRange kElectrodes{"the number of electrodes", 0, 1e6, ""};
constexpr InputRange kEnergyGain{"the energy gain", -1e10, 1e10, "eV"};
constexpr InputRange kMultipoleStrength{"the multipole strength", -1e15, 1e15, "1/m^n"};
constexpr InputRange kOctupoleStrength{"the octupole strength", -1e15, 1e15, "1/m^4"};
constexpr InputRange kSkewStrength{"the skew gradient strength", -1e9, 1e9, "1/m^2"};
constexpr InputRange kSolenoidStrength{"the solenoid strength", -1e6, 1e6, "1/m"};
constexpr InputRange kRollAngle{"the roll angle", -6.3, 6.3, "rad"};
constexpr InputRange kKickAngle{"the kick", -1, 1, "rad"};
constexpr InputRange kMisalignment{"the misalignment", -1, 1, "m"};
constexpr InputRange kMisalignmentAngle{"the misalignment angle", -1, 1, "rad"};
constexpr InputRange kCavityVoltage{"the cavity voltage", 0, 1e10, "V"};
constexpr InputRange kCavityLag{"the cavity phase", -1000, 1000, "2 pi"};
constexpr InputRange kCavityHarmonic{"the harmonic number", 0, 1e9, "", false, true};
constexpr InputRange kCavityFrequency{"the cavity frequency", 0, 1e12, "Hz"};
constexpr InputRange kApertureSize{"the aperture", 0, 1e3, "m", true, false, 1e-9};
constexpr InputRange kApertureOffset{"the aperture offset", -1e3, 1e3, "m"};

// ----- matching (match window, match files): targets by quantity, weights, steps, tolerance
constexpr InputRange kMatchTuneTarget{"the target", 0, 1e4, "", true, false, 1e-3};
constexpr InputRange kMatchBetaTarget{"the target", 0, 1e6, "m", true, false, 1e-6};
constexpr InputRange kMatchAlphaTarget{"the target", -1e6, 1e6, ""};
constexpr InputRange kMatchEtaTarget{"the target", -1e4, 1e4, "m"};
constexpr InputRange kMatchEtaPTarget{"the target", -1e3, 1e3, "rad"};
constexpr InputRange kMatchPhaseTarget{"the target", -1e5, 1e5, ""};
constexpr InputRange kMatchChromaticityTarget{"the target", -1e5, 1e5, ""};
constexpr InputRange kMatchDrivingTermTarget{"the target", 0, 1e8, ""}; // |h|: m^-1/2, 1 or m^1/2
constexpr InputRange kMatchDetuningTarget{"the target", -1e12, 1e12, "1/m"};
constexpr InputRange kMatchChromaticTuneTarget{"the target", -1e12, 1e12, ""};
constexpr InputRange kMatchCouplingAbsTarget{"the target", 0, 1e4, ""}; // |C-|
constexpr InputRange kMatchCouplingTarget{"the target", -1e4, 1e4, ""}; // Re C-, Im C-
constexpr InputRange kMatchCrossBetaTarget{"the target", 0, 1e6, "m"};  // beta_12, beta_21: 0 uncoupled
constexpr InputRange kMatchWeight{"the weight", 0, 1e6, "", true, false, 1e-9};
constexpr InputRange kMatchStep{"the step", 0, 1, "", true, false, 1e-12};
constexpr InputRange kMatchTolerance{"the tolerance", 0, 1e-3, "", true, false, 1e-16};

} // namespace ranges

/// The refusal of a name with a control character or of the first field of e outside the element panel's
/// ranges, of a multipole or field error of order above kMaxMultipoleOrder, of an rf cavity with neither
/// a frequency nor a harmonic number, of an aperture whose sizes are not all above 0 and of a misalignment
/// beyond 1 m or 1 rad; nothing when all pass.
std::optional<std::string> elementRefusal(const LatticeElement& e);

} // namespace kestrune

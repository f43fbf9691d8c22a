#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/nonlinear/AmplitudeDetuning.h"
#include "core/nonlinear/ChromaticTunes.h"
#include "core/nonlinear/DrivingTerms.h"
#include "core/nonlinear/TrackedCell.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// Sextupoles of the cell that a knob varies together: one strength k2 (element field m) for all.
struct SextupoleFamily
{
    std::string name;         // the sextupoles' name, the pattern, or the names chosen joined by ", "
    std::vector<int> members; // thick sextupoles of the cell, elements 1..N in line order
};

/// True for the thick sextupoles a family holds (codes 31..33).
bool isKnobSextupole(const LatticeElement& e);

/// The distinct names of the cell's sextupoles in the order they first appear.
std::vector<std::string> sextupoleNames(const BeamLine& line);

/// One family per sextupole name of the cell, in the order the names first appear.
std::vector<SextupoleFamily> familiesByName(const BeamLine& line);

/// The sextupoles whose names the pattern (core/NamePattern) matches; nothing with the reason in problem
/// for a pattern that does not compile or matches no sextupole.
std::optional<SextupoleFamily> familyByPattern(const BeamLine& line, const std::string& pattern,
                                               std::string& problem);

/// The sextupoles of the names chosen; nothing with the reason in problem when none is chosen or no
/// sextupole has one of them.
std::optional<SextupoleFamily> familyOfNames(const BeamLine& line, const std::vector<std::string>& names,
                                             std::string& problem);

/// The members that are still thick sextupoles of the cell (a family kept while the line changed).
bool familyIsCurrent(const BeamLine& line, const SextupoleFamily& family);

/// k2 of the family's first member (1/m^3); 0 for an empty family.
double familyStrength(const BeamLine& line, const SextupoleFamily& family);

/// Sets k2 (1/m^3) of every member and of its copies in the full ring the table holds. Refuses, with a
/// message naming the sextupole strength and nothing changed, a value out of its range or an empty family.
bool setFamilyStrength(State& state, const SextupoleFamily& family, double k2, Messages& messages);

/// What the knob window draws of one design: each result, or the reason it is missing.
struct KnobOptics
{
    std::optional<DrivingTerms> terms;
    std::string termsRefusal;
    std::optional<DetuningCoefficients> detuning; // closed form
    std::string detuningRefusal;
    bool chromaticityKnown = false;
    double chromaticityX = 0, chromaticityY = 0; // of the full ring, natural and sextupoles
    std::string chromaticityRefusal;
    std::optional<ChromaticTunes> tunes; // the tracked momentum scan
    std::string tunesRefusal;
};

/// What the steps of a knob share: what depends on the linear lattice alone, which a change of sextupole
/// or octupole strengths leaves as it is, and the last momentum scan, whose orbits start the next.
struct KnobCache
{
    std::uint64_t key = 0; // of the linear lattice, the particle and the optics settings; 0: nothing kept
    std::optional<DrivingTermOptics> optics;
    std::string opticsRefusal;
    bool naturalKnown = false;
    double naturalX = 0, naturalY = 0; // natural chromaticities of the ring
    std::string naturalRefusal;
    std::optional<TrackedCell> cell;
    std::string cellRefusal;
    std::optional<ChromaticTunes> tunes; // of the step before
};

/// The driving terms, the closed-form detuning, the ring's chromaticities and the tracked scan over the
/// momenta of scan of state, on copies of it without its undo history (set aside meanwhile: state is left
/// as it was), taking from cache what belongs to the same linear lattice and keeping there what the next
/// step can take. The natural chromaticities are those of state.ringParams when they belong to this
/// lattice (its latticeStamp), else computed on a copy.
KnobOptics knobOptics(State& state, const ChromaticScan& scan, KnobCache& cache);

} // namespace kestrune

#pragma once

#include "core/BeamLine.h"
#include "core/Messages.h"
#include "core/State.h"

#include <optional>
#include <string>

namespace kestrune {

/// Total deflection of the cell, sum of h L over its elements, in degrees.
double deflSup(const BeamLine& line);
/// Length of the cell, sum of L over its elements, in m.
double lSup(const BeamLine& line);

/// Cells of a full ring, trunc(360 / |deflection| + 0.5); nullopt for a cell without deflection.
std::optional<int> fullRingCells(const BeamLine& line);

/// Revolution frequency beta c / C (Hz) of a particle of velocity beta on a circumference C (m).
double revolutionFrequency(double beta, double circumference);

/// What the geometry group of the ring window shows; the window copies it into its boxes and labels.
struct GeometryView
{
    std::string superPeriods;    // edNumSup
    std::string rfFrequency;     // edRFF, MHz
    std::string fullRing;        // lFull
    std::string totalDeflection; // lTotDefl
    std::string circumference;   // lCircum
    std::string revolution;      // lFrev
    std::string harmonic;        // lHarm
    std::string perfectRing;     // lPerfectRing
    bool perfect = false;        // lPerfectRing in teal
};

/// The typed boxes the geometry reads.
struct GeometryInput
{
    std::string superPeriods; // edNumSup, empty: the full-ring cell count is filled in
    std::string rfFrequency;  // edRFF, MHz
};

/// The ring geometry: offers to close the ring by scaling every curvature or the bend lengths, then
/// circumference, revolution frequency and harmonic number (offering to adjust the rf frequency to an
/// integer one, asked only of a ring that closes), and the perfect-ring test. Writes superPeriods,
/// ringParams, rf.frequency, ringClosed and, for a perfect ring, expands the cell and sets
/// ringElementCount. Returns nullopt, with a message and nothing changed, for fewer than one superperiod,
/// a ring of no length or an rf frequency that is not positive; throws ConversionError for a box that is
/// not a number.
std::optional<GeometryView> ringGeometry(State& state, Messages& messages, const GeometryInput& input);

/// The labels of a ring that does not close (total deflection and the frequencies not available).
void showNotClosed(GeometryView& view, const State& state);

/// "study full ring?": takes the rf frequency (the stored one while the box shows it rounded), runs the
/// geometry and expands the cell superPeriods
/// times after itself in the table. Returns the geometry's view; nullopt when the geometry refused.
/// The expansion refuses with a message for an empty cell or one that would not fit the table.
std::optional<GeometryView> studyFullRing(State& state, Messages& messages, const GeometryInput& input);

/// Repeats the cell superPeriods times after itself (positions chained) and sets ringElementCount;
/// refuses with a message, ringElementCount then the cell's count, when the line is empty or
/// count * superPeriods reaches the table's size.
bool expandToFullRing(State& state, int superPeriods, Messages& messages);

/// "study superperiod?": the ring is one cell again (ringElementCount = count, not closed); the labels.
GeometryView studySuperperiod(State& state);

} // namespace kestrune

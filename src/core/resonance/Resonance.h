#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrune {

/// A point of the tune diagram: horizontal and vertical tune.
struct TunePoint
{
    double qx = 0;
    double qy = 0;
};

/// The resonance diagram around a working point: the lines of first, second and third order as dotted
/// point series inside the unit tune square that holds the working point.
struct ResonanceDiagram
{
    TunePoint working;
    int nx = 0; // integer parts of the tunes, truncated toward zero (0 for a tune that is no number)
    int ny = 0;
    std::vector<TunePoint> first;
    std::vector<TunePoint> second;
    std::vector<TunePoint> third;
};

/// Points per resonance line and the tune step between them.
constexpr int kResonancePoints = 100;
constexpr double kResonanceStep = 0.012;

/// The diagram for the ring tunes tuneX, tuneY. Every straight line has kResonancePoints points from 0.088
/// below to 1.1 above the integers; a coupled third-order line keeps only its points strictly between
/// ny - 0.1 and ny + 1.1.
ResonanceDiagram resonanceDiagram(double tuneX, double tuneY);

/// Tunes of a frequency map shown on the diagram: the fractional tunes of the ring as tracked, each with
/// the diffusion index of its point.
struct TuneFootprint
{
    std::vector<TunePoint> fractional; // fractional tunes of the ring, 0 .. 1
    std::vector<double> diffusion;     // log10 of the tune change, one per point
    std::uint64_t lattice = 0;         // trackingFingerprint of the design the tunes belong to
};

/// The ring tune of a cell whose fractional tune is fraction, with the cell's whole part that brings it
/// nearest to the ring tune tune of the linear optics: cells * (n + fraction). NaN when tune is no number.
double ringTune(double fraction, double tune, int cells);

/// A tick label of the tune axes in the mask "#,##0.##": rounded to two decimals without trailing zeros,
/// the whole part in groups of three digits ("6.25", "7", "-0.5", "1,234.5").
std::string tuneLabel(double value);

} // namespace kestrune

#pragma once

#include "core/Constants.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// Element families: code / 10. The passes written for families 0..5 treat the others as drifts unless
/// they name the code.
enum class Family {
    Drift = 0,
    Bend = 1,
    Quadrupole = 2,
    Sextupole = 3,
    Pump = 4,
    AlphaMagnet = 5,
    Multipole = 6,  // thin multipole, octupole, solenoid
    Kicker = 7,     // orbit correctors
    Diagnostic = 8, // markers and monitors
    Cavity = 9
};

/// Element codes of the beam line.
namespace code {
constexpr int kDrift = 1;
constexpr int kLinac = 5;
constexpr int kEinzelLens = 6;
constexpr int kElectrostatic = 7;
constexpr int kRectangularBend = 11;
constexpr int kSectorBend = 12;
constexpr int kWedgeBend = 13;
constexpr int kQuadrupole = 20;
constexpr int kQuadrupoleOld1 = 21;
constexpr int kQuadrupoleOld2 = 22;
constexpr int kSextupoleF = 31;
constexpr int kSextupoleD = 32;
constexpr int kSextupoleSpecial = 33;
constexpr int kPump = 40;
constexpr int kAlphaFirstHalf = 51;
constexpr int kAlphaSecondHalf = 52;
constexpr int kAlphaFull = 53;
constexpr int kThinMultipole = 60; // knl, ksl; length 0 (MAD-X MULTIPOLE, thin QUADRUPOLE/SEXTUPOLE)
constexpr int kOctupole = 61;      // k3, thick
constexpr int kSolenoid = 62;      // ks
constexpr int kHorizontalKicker = 70;
constexpr int kVerticalKicker = 71;
constexpr int kKicker = 72; // both planes
constexpr int kMarker = 80;
constexpr int kHorizontalMonitor = 81;
constexpr int kVerticalMonitor = 82;
constexpr int kMonitor = 83; // both planes
constexpr int kRfCavity = 90;
} // namespace code

/// True for the codes of the kinds the first lattice file versions cannot hold (families 6..9).
inline bool isExtendedCode(int elementCode)
{
    return elementCode >= 60 && elementCode < 100;
}

/// The family of an element code (code div 10, as an integer; codes from files may be outside 0..5).
inline int familyOf(int elementCode)
{
    return elementCode / 10;
}

/// The words the element editor shows for a code (" foc. quadrupole " / " defoc. quadrupole " by k);
/// empty for codes outside the table.
std::string editorWords(int elementCode, double k);

/// The element kinds of the editor's element list, in list order (kind 0..15): the nine of the first
/// versions, then thin multipole, octupole, solenoid, kicker, monitor, marker, rf cavity.
constexpr int kKindCount = 16;
/// List text of a kind ("drift space", "bending magnet", ..., "rf cavity").
const char* kindName(int kind);
/// Code a new element of a kind gets (1, 12, 20, 31, 40, 53, 5, 6, 7, 60, 61, 62, 72, 83, 80, 90).
int kindCode(int kind);
/// Kind of the editor's element list that draws a code (drift space for codes of no kind).
int kindOf(int elementCode);

/// Highest multipole order a thin multipole holds (n = 0 dipole .. 9 twenty-pole).
constexpr int kMaxMultipoleOrder = 9;

/// Shape of an element's own aperture (MAD-X APERTYPE); None: the aperture window's half apertures.
enum class ApertureType { None = 0, Circle = 1, Rectangle = 2, Ellipse = 3, RectEllipse = 4 };

/// An element's own aperture, MAD-X's APERTURE values in m: circle {r}, rectangle and ellipse {a, b} (half
/// widths, half heights), rectellipse {a, b, c, d} (the rectangle a, b cut by the ellipse c, d); the
/// offsets move its centre (MAD-X APER_OFFSET).
struct ElementAperture
{
    ApertureType type = ApertureType::None;
    double a[4] = {0, 0, 0, 0};
    double dx = 0;
    double dy = 0;
    bool operator==(const ElementAperture& o) const
    {
        return type == o.type && a[0] == o.a[0] && a[1] == o.a[1] && a[2] == o.a[2] && a[3] == o.a[3] &&
               dx == o.dx && dy == o.dy;
    }
    bool operator!=(const ElementAperture& o) const { return !(*this == o); }
};

/// The errors of an element: a misalignment and field errors, permanent (stored with the element) or
/// applied from an error set. The misalignment follows MAD-X's EALIGN: the element is displaced by dx, dy,
/// ds (m) and rotated by dtheta about the vertical axis, dphi about the horizontal axis and dpsi about
/// the beam axis (rad), in that order, about its entrance, in its own frame (a curved bend in the frame of
/// its entrance). The field errors are integrated normal and skew components dkn[n] = dK_n L, dks[n]
/// (1/m^n, MAD-X EFCOMP's DKN, DKS, with relative ones converted at the main field when they are set),
/// added to the magnet's field as a thin multipole at its centre; the vectors hold orders
/// 0..size-1 (at most kMaxMultipoleOrder), empty for none.
struct ElementErrors
{
    double dx = 0;
    double dy = 0;
    double ds = 0;
    double dtheta = 0;
    double dphi = 0;
    double dpsi = 0;
    std::vector<double> dkn{};
    std::vector<double> dks{};
    bool misaligned() const { return dx != 0 || dy != 0 || ds != 0 || dtheta != 0 || dphi != 0 || dpsi != 0; }
    bool fieldErrors() const;
    bool any() const { return misaligned() || fieldErrors(); }
};

/// One element of the beam line. Lengths m, angles rad, curvature 1/m.
struct LatticeElement
{
    std::string name;      // as given, any length, case kept
    int code = 0;          // ElementCode
    double s = 0;          // m, entrance position
    double length = 0;     // m
    double curvature = 0;  // 1/m, h = 1/rho
    double ain = 0;        // rad, entrance pole-face angle
    double aout = 0;       // rad, exit pole-face angle
    double gap = 0;        // m, full magnet gap
    double k = 0;          // 1/m^2 (quadrupole, bend gradient, alpha magnet) or V (einzel lens, gap voltage)
    double m = 0;          // 1/m^3, sextupole strength
    double linacField = 0; // V/m (eV per metre)
    double pumpSpeed = 0;  // l/s
    double electrodes = 0; // number of electrodes, a whole number held as a float
    double energyGain = 0; // eV, total energy gain of an electrostatic accelerator
    // The kinds of families 6..9 and what every magnet may carry. MAD-X's conventions: a thin multipole's
    // knl[n] = K_n L (1/m^n), its kick px - i py += -sum (knl[n] + i ksl[n]) (x + i y)^n / n!; the
    // vectors hold orders 0..size-1 (at most kMaxMultipoleOrder), empty for other elements.
    std::vector<double> knl{};
    std::vector<double> ksl{};
    double k3 = 0;    // 1/m^4, octupole strength (MAD-X K3: px -= k3/6 (x^3 - 3 x y^2) per metre)
    double k1s = 0;   // 1/m^2, skew quadrupole component of a quadrupole or bend
    double ks = 0;    // 1/m, solenoid strength (MAD-X KS = Bs / B rho)
    double tilt = 0;  // rad, roll of a magnet about the orbit (MAD-X TILT)
    double hkick = 0; // rad, horizontal kick of a kicker
    double vkick = 0; // rad, vertical kick of a kicker
    double voltage =
        0;          // V, peak voltage of an rf cavity (never negative: a negative one is |V| at lag + 1/2)
    double lag = 0; // phase of an rf cavity in units of 2 pi (MAD-X LAG)
    double harmonic = 0;  // harmonic number of an rf cavity, a whole number; 0: taken from frequency
    double frequency = 0; // Hz, frequency of an rf cavity; 0: taken from harmonic
    ElementAperture aperture{};
    ElementErrors errors{};
};

/// "element 'QS1' (12) has a skew quadrupole component k1s, ...": why the uncoupled optics on the design
/// orbit cannot compute element i (a kick, a skew or solenoid field, a roll, a dipole component of a
/// thin multipole); nothing when they can.
std::optional<std::string> uncoupledOpticsRefusal(const LatticeElement& e, int i);

/// Most slices a pass cuts one element into, and most for all the elements of a line together: a pass
/// over any line, whatever its lengths and step settings, stays bounded.
constexpr int kMaxElementSlices = 10000;
constexpr int kMaxLineSlices = 1000000;

/// The name an element keeps of a typed one: the text without the blanks around it.
std::string elementName(const std::string& typed);
/// "the element name 'Q\x01' holds a control character", or nothing for a name an element may have.
std::optional<std::string> nameRefusal(const std::string& name);
/// Characters of a name (UTF-8 sequences count once).
std::size_t nameLength(const std::string& name);
/// name followed by blanks up to width characters (a longer name whole).
std::string nameField(const std::string& name, std::size_t width);
/// Most characters of a name the lists keep in the five-character layout of their name column.
constexpr std::size_t kShortNameLength = 5;

enum class ShapeStyle { Rectangle, Diamond, Triangle, InvertedTriangle };

struct Rgb
{
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator!=(const Rgb& o) const { return !(*this == o); }
};

namespace colour {
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kGreen{0, 128, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr Rgb kMaroon{128, 0, 0};
constexpr Rgb kOlive{128, 128, 0};
constexpr Rgb kTeal{0, 128, 128};
constexpr Rgb kSilver{192, 192, 192};
constexpr Rgb kGrey{128, 128, 128};
constexpr Rgb kNavy{0, 0, 128};
} // namespace colour

/// Drawing rectangle of one element: x along the line (m), y in left-axis units.
struct ElementShape
{
    double x0 = 0;
    double x1 = 0;
    double y0 = 0;
    double y1 = 0;
    Rgb colour;
    ShapeStyle style = ShapeStyle::Rectangle;
    std::string title; // decimal text of the element index
};

/// Drawing box of one element as a lattice file stores it.
struct DrawingBox
{
    double x0 = 0;
    double x1 = 0;
    double y0 = 0;
    double y1 = 0;
};

/// Most elements a beam line holds. Memory per element: one LatticeElement and one ElementShape in the
/// table (about 220 bytes), its DrawingBox (32 bytes) and the undo history's shadow of both (about 220
/// bytes), and while a ring pass is kept its optics record, slice matrix and entrance functions (about
/// 240 bytes), so a full line takes about 0.7 GB and a line of 100 000 elements about 70 MB.
constexpr int kMaxLineElements = 1000000;

/// The beam line: a 1-based table of element records with one drawing shape per record. The table grows
/// in blocks as records are written and never moves a record once made, so a reference to a record stays
/// valid while others are added; slots beyond count keep what they held. Reading a slot that was never
/// made gives a fresh record.
class BeamLine
{
public:
    int count = 0;        // ElementCount, records 1..count are valid
    double length = 0;    // LineLength, m: where the next appended element starts
    int superPeriods = 1; // SuperPeriods

    /// Element i, 1 <= i <= kMaxLineElements, made when it did not exist; throws std::out_of_range otherwise.
    LatticeElement& at(int i) { return block(i).elements[offset(i)]; }
    const LatticeElement& at(int i) const
    {
        const std::size_t b = static_cast<std::size_t>(i) >> kBlockBits;
        if (i >= 1 && b < m_blocks.size())
            return m_blocks[b].elements[offset(i)];
        return freshElement(i);
    }
    /// Shape of element i, 1 <= i <= kMaxLineElements, made when it did not exist; throws otherwise.
    ElementShape& shape(int i) { return block(i).shapes[offset(i)]; }
    const ElementShape& shape(int i) const
    {
        const std::size_t b = static_cast<std::size_t>(i) >> kBlockBits;
        if (i >= 1 && b < m_blocks.size())
            return m_blocks[b].shapes[offset(i)];
        return freshShape(i);
    }
    /// Highest slot that exists (at least count); every slot beyond it reads as fresh.
    int slotCount() const;

    /// Replaces the table by a fresh one (shapes too, the memory given back); count and length become 0.
    void makeFreshTable();
    /// s of every element from `from` to count chained from the one before; length = end of the last.
    void chainPositions(int from = 1);
    /// s(count) + length(count), 0 for an empty line.
    double endPosition() const;
    /// Most slices a pass may cut one element of this line into: kMaxLineSlices shared among the
    /// elements, at most kMaxElementSlices.
    int sliceCap() const;

private:
    static constexpr int kBlockBits = 12;
    static constexpr int kBlockSize = 1 << kBlockBits;
    struct Block
    {
        std::vector<LatticeElement> elements;
        std::vector<ElementShape> shapes;
    };
    static std::size_t offset(int i) { return static_cast<std::size_t>(i & (kBlockSize - 1)); }
    Block& block(int i)
    {
        const std::size_t b = static_cast<std::size_t>(i) >> kBlockBits;
        if (i >= 1 && b < m_blocks.size())
            return m_blocks[b];
        return grow(i);
    }
    Block& grow(int i);
    // what a slot beyond the table reads as; throws for an index outside 1..kMaxLineElements
    static const LatticeElement& freshElement(int i);
    static const ElementShape& freshShape(int i);

    std::vector<Block> m_blocks; // slot i in block i / kBlockSize; slot 0 unused
};

/// The refusal of the first element of line 1..count that uncoupledOpticsRefusal refuses.
std::optional<std::string> lineOpticsRefusal(const BeamLine& line);

/// Widest name column of the lists: a longer name keeps its row long without making every row of a
/// long list long.
constexpr std::size_t kWidestNameColumn = 48;

/// Width of the lists' name column: kShortNameLength while every name of elements 1..count fits it,
/// else the longest name's length, at most 48 (a longer name is shown whole on its row).
std::size_t nameColumnWidth(const BeamLine& line);

} // namespace kestrune

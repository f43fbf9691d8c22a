#pragma once

#include "core/Messages.h"
#include "core/State.h"

#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrune {

/// Where the lattice functions of a match start: the periodic solution of the cell, or the line's
/// initial values (run.betaX0, ...).
enum class MatchStart { Periodic, Initial };

/// The element field a variable changes.
enum class MatchField {
    K,      // quadrupole strength or bend gradient, 1/m^2
    M,      // sextupole strength, 1/m^3
    H,      // bend curvature, 1/m (the angle h L changes with it)
    Length, // m
    K3,     // octupole strength, 1/m^4
    K1s,    // skew gradient of quadrupoles and bends, 1/m^2; ksl[1] of a thin multipole that has it, 1/m
    Ks,     // solenoid strength Bs / (B rho), 1/m
    Tilt    // roll angle of a magnet, rad
};

enum class MatchRelation { Equal, AtMost, AtLeast };

/// What a constraint holds to its target.
enum class MatchQuantity {
    BetaX,         // m, at a place
    AlphaX,        // at a place
    BetaY,         // m, at a place
    AlphaY,        // at a place
    EtaX,          // m, at a place
    EtaPX,         // rad, at a place
    TuneX,         // ring tune: superperiods times the phase advance of the cell from its periodic solution
    TuneY,         //
    PhaseX,        // units of 2 pi, from one place to another, every turn counted
    PhaseY,        //
    ChromaticityX, // of the ring with its sextupoles (natural plus the sextupoles' part)
    ChromaticityY, //
    NaturalChromaticityX, // of the ring without sextupoles
    NaturalChromaticityY, //
    MaxBetaX,             // m, the largest beta anywhere along the line, inside the magnets too
    MaxBetaY,             //
    // |h_jklmp| of the ring's first-order driving terms (DrivingTerms.h), in their order: m^-1/2 for the
    // five geometric terms, 1 for h11001 .. h00201, m^1/2 for h10002
    H21000,
    H30000,
    H10110,
    H10020,
    H10200,
    H11001,
    H00111,
    H20001,
    H00201,
    H10002,
    DetuningXX, // 1/m, dQx/dJx of the ring (AmplitudeDetuning.h)
    DetuningXY, // 1/m, dQx/dJy
    DetuningYY, // 1/m, dQy/dJy
    TuneX2,     // q2 of the tracked Q(delta) of the ring (ChromaticTunes.h, its default scan)
    TuneX3,     // q3
    TuneY2,     //
    TuneY3,     //
    // the coupled optics (CoupledOptics.h): C- of the ring from its skew quadrupole parts, the eigentunes,
    // and at a place the Edwards-Teng beta, alpha of modes 1 and 2 with MAD-X's coupling matrix R and the
    // Mais-Ripken betas beta_kj (plane k, mode j)
    CMinusAbs,
    CMinusRe,
    CMinusIm,
    Tune1,
    Tune2,
    Beta1,  // m
    Alpha1, //
    Beta2,  // m
    Alpha2, //
    R11,    // 1
    R12,    // m
    R21,    // 1/m
    R22,    // 1
    Beta11, // m
    Beta12, // m
    Beta21, // m
    Beta22  // m
};

/// A place along the line: its start, its end, the end of the last element of a name, or the end of
/// the element of an index (0 is the start).
struct ElementRef
{
    enum class Kind { Start, End, Name, Index };
    Kind kind = Kind::End;
    std::string name; // Kind::Name
    int index = 0;    // Kind::Index
};

/// The place as typed: "start", "end", a whole number (an element index) or an element name.
ElementRef elementRef(const std::string& text);
/// The text elementRef reads back: "start", "end", the index, the name.
std::string refText(const ElementRef& ref);

constexpr double kNoBound = std::numeric_limits<double>::infinity();

/// A variable: one field of every element of a name (they change together) or of one element.
struct MatchVariable
{
    ElementRef element; // a name or an index
    MatchField field = MatchField::K;
    double min = -kNoBound; // lower bound, -infinity: none
    double max = kNoBound;  // upper bound, +infinity: none
    double step = 0;        // finite-difference step in the field's unit; 0: 1e-7 max(1, |value|)
};

/// A constraint: quantity relation value, with a weight on its deviation.
struct MatchConstraint
{
    MatchQuantity quantity = MatchQuantity::TuneX;
    ElementRef at; // beta, alpha, eta, eta': the place; phases: where they end
    ElementRef from{ElementRef::Kind::Start, "", 0}; // phases: where they begin
    MatchRelation relation = MatchRelation::Equal;
    double value = 0;
    double weight = 1;
};

/// A whole match as the window and the match file state it.
struct MatchDefinition
{
    MatchStart start = MatchStart::Periodic;
    std::vector<MatchVariable> variables;
    std::vector<MatchConstraint> constraints;
    double tolerance = 1e-10; // on the norm of the weighted deviations
    int maxIterations = 100;
};

/// The largest numbers of variables and constraints a match takes.
constexpr int kMaxMatchVariables = 50;
constexpr int kMaxMatchConstraints = 200;
constexpr int kMaxMatchIterations = 100000;

/// Names of the file format and the report: "beta_x_m", "k", "<=".
const char* quantityName(MatchQuantity quantity);
const char* fieldName(MatchField field);
const char* relationText(MatchRelation relation);
/// The quantity, field or relation of a name; nothing for an unknown one.
std::optional<MatchQuantity> quantityNamed(const std::string& name);
std::optional<MatchField> fieldNamed(const std::string& name);
std::optional<MatchRelation> relationNamed(const std::string& text);
/// Every quantity and field in the order of the file format's description.
std::vector<MatchQuantity> allQuantities();
std::vector<MatchField> allFields();

/// The quantity is taken at one place (beta, alpha, eta, eta').
bool takesPlace(MatchQuantity quantity);
/// A phase advance between two places.
bool isPhase(MatchQuantity quantity);
/// A quantity of the whole ring, from the periodic solution whatever the start (tunes, chromaticities).
bool isRingQuantity(MatchQuantity quantity);
bool isChromaticity(MatchQuantity quantity);
bool isMaxBeta(MatchQuantity quantity);
/// The magnitude of a driving term; the place of its term in DrivingTerm's order (0 .. 9).
bool isDrivingTerm(MatchQuantity quantity);
int drivingTermIndex(MatchQuantity quantity);
/// A coefficient of the amplitude detuning (it needs the driving terms too).
bool isDetuning(MatchQuantity quantity);
/// A coefficient of the tracked Q(delta).
bool isChromaticTune(MatchQuantity quantity);
/// A quantity of the coupled optics: C-, the eigentunes, the modes' functions at a place.
bool isCoupledQuantity(MatchQuantity quantity);
/// A part of C-.
bool isCouplingCoefficient(MatchQuantity quantity);
/// A field that couples the planes (k1s, ks, tilt).
bool couplesPlanes(MatchField field);

/// "variable 2 (QF k)", "constraint 1 (beta_x_m at QD)": how messages and summaries name an entry.
std::string variableLabel(const MatchDefinition& definition, int index);
std::string constraintLabel(const MatchDefinition& definition, int index);

/// The bounds a variable moves in: its own, narrowed to the element panel's range of its field, so that
/// no match makes a length negative or a strength larger than a box takes. Crossed (first > second) when
/// the variable's bounds lie outside that range.
std::pair<double, double> variableBounds(const MatchVariable& v);

/// The field of an element a variable changes.
double& fieldOf(LatticeElement& e, MatchField field);
double fieldOf(const LatticeElement& e, MatchField field);

/// Sets the field of an element to value; the pole faces of a rectangular magnet follow its angle (each
/// half of h L) when its curvature or length changes.
void setField(LatticeElement& e, MatchField field, double value);

/// A variable found in the line: its elements (1..count) and its value there.
struct ResolvedVariable
{
    std::vector<int> elements;
    std::vector<double> designValues; // the field of each element in the design
    MatchField field = MatchField::K;
    double start = 0; // the design's value of the first element, which all of them start from
    double min = -kNoBound, max = kNoBound;
    double step = 0; // > 0
};

/// A constraint found in the line: places as element ends 0..count (0 the start of the line).
struct ResolvedConstraint
{
    MatchQuantity quantity = MatchQuantity::TuneX;
    int at = 0;
    int from = 0;
    MatchRelation relation = MatchRelation::Equal;
    double value = 0;
    double weight = 1;
};

/// A definition checked against a line.
struct MatchSetup
{
    MatchDefinition definition;
    std::vector<ResolvedVariable> variables;
    std::vector<ResolvedConstraint> constraints;
    int elementCount = 0;        // of the line the setup was resolved against
    bool ringQuantities = false; // tunes or chromaticities: the periodic solution is needed
    bool chromaticity = false;
    bool maxBeta = false;
    bool drivingTerms = false;   // driving terms or detuning: the driving terms once per evaluation
    bool chromaticTunes = false; // the tracked Q(delta)
    // the lattice functions come from the coupled maps: the line couples the planes, a variable is a
    // field that couples them, or a line match starts with a coupled beam; the planes' own quantities
    // are then refused
    bool coupled = false;
    bool couplingCoefficient = false; // C-
    bool coupledFunctions = false;    // the eigentunes or the modes' functions at a place
};

/// The refusal of the first value of a definition outside its range in core/InputRanges.h (targets by
/// quantity, weights, steps, the tolerance), naming the entry: "constraint 2 (tune_x): the target must be
/// above 0!"; nothing when every value is inside. The match window and the match files check with it
/// before a match; resolveMatch takes any finite target, so that a setup also evaluates quantities.
std::optional<std::string> matchValueRefusal(const MatchDefinition& definition);

/// Checks a definition against the state's line: every element found, every field one that the element
/// has, no field varied twice, bounds that hold the start value, finite targets, positive weights,
/// tolerance and iterations in range, no quantity of the uncoupled optics in a coupled match. Nothing,
/// after a message naming the entry ("variable 2 (QX k): there is no element named QX"), when any is
/// wrong.
std::optional<MatchSetup> resolveMatch(const State& state, const MatchDefinition& definition,
                                       Messages& messages);

} // namespace kestrune

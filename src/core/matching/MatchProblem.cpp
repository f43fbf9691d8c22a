#include "core/matching/MatchProblem.h"

#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/NamePattern.h"
#include "core/coupling/CoupledOptics.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <tuple>

namespace kestrune {

namespace {

struct QuantityEntry
{
    MatchQuantity quantity;
    const char* name;
};

constexpr QuantityEntry kQuantities[] = {
    {MatchQuantity::BetaX, "beta_x_m"},
    {MatchQuantity::AlphaX, "alpha_x"},
    {MatchQuantity::BetaY, "beta_y_m"},
    {MatchQuantity::AlphaY, "alpha_y"},
    {MatchQuantity::EtaX, "eta_x_m"},
    {MatchQuantity::EtaPX, "eta_px"},
    {MatchQuantity::TuneX, "tune_x"},
    {MatchQuantity::TuneY, "tune_y"},
    {MatchQuantity::PhaseX, "phase_x"},
    {MatchQuantity::PhaseY, "phase_y"},
    {MatchQuantity::ChromaticityX, "chromaticity_x"},
    {MatchQuantity::ChromaticityY, "chromaticity_y"},
    {MatchQuantity::NaturalChromaticityX, "natural_chromaticity_x"},
    {MatchQuantity::NaturalChromaticityY, "natural_chromaticity_y"},
    {MatchQuantity::MaxBetaX, "max_beta_x_m"},
    {MatchQuantity::MaxBetaY, "max_beta_y_m"},
    {MatchQuantity::H21000, "h21000_abs"},
    {MatchQuantity::H30000, "h30000_abs"},
    {MatchQuantity::H10110, "h10110_abs"},
    {MatchQuantity::H10020, "h10020_abs"},
    {MatchQuantity::H10200, "h10200_abs"},
    {MatchQuantity::H11001, "h11001_abs"},
    {MatchQuantity::H00111, "h00111_abs"},
    {MatchQuantity::H20001, "h20001_abs"},
    {MatchQuantity::H00201, "h00201_abs"},
    {MatchQuantity::H10002, "h10002_abs"},
    {MatchQuantity::DetuningXX, "dqx_djx"},
    {MatchQuantity::DetuningXY, "dqx_djy"},
    {MatchQuantity::DetuningYY, "dqy_djy"},
    {MatchQuantity::TuneX2, "q2_x"},
    {MatchQuantity::TuneX3, "q3_x"},
    {MatchQuantity::TuneY2, "q2_y"},
    {MatchQuantity::TuneY3, "q3_y"},
    {MatchQuantity::CMinusAbs, "c_minus_abs"},
    {MatchQuantity::CMinusRe, "c_minus_re"},
    {MatchQuantity::CMinusIm, "c_minus_im"},
    {MatchQuantity::Tune1, "tune_1"},
    {MatchQuantity::Tune2, "tune_2"},
    {MatchQuantity::Beta1, "beta_1_m"},
    {MatchQuantity::Alpha1, "alpha_1"},
    {MatchQuantity::Beta2, "beta_2_m"},
    {MatchQuantity::Alpha2, "alpha_2"},
    {MatchQuantity::R11, "r11"},
    {MatchQuantity::R12, "r12"},
    {MatchQuantity::R21, "r21"},
    {MatchQuantity::R22, "r22"},
    {MatchQuantity::Beta11, "beta_11_m"},
    {MatchQuantity::Beta12, "beta_12_m"},
    {MatchQuantity::Beta21, "beta_21_m"},
    {MatchQuantity::Beta22, "beta_22_m"},
};

struct FieldEntry
{
    MatchField field;
    const char* name;
};

constexpr FieldEntry kFields[] = {
    {MatchField::K, "k"},   {MatchField::M, "m"},     {MatchField::H, "h"},   {MatchField::Length, "length"},
    {MatchField::K3, "k3"}, {MatchField::K1s, "k1s"}, {MatchField::Ks, "ks"}, {MatchField::Tilt, "tilt"}};

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool sameName(const std::string& a, const std::string& b)
{
    return lowered(trimmed(a)) == lowered(trimmed(b));
}

bool isFamily(int elementCode, Family family)
{
    return familyOf(elementCode) == static_cast<int>(family);
}

// Which elements have the field: k the quadrupoles and the gradient of bends, m the sextupoles, h the
// bends, k3 the thick octupoles; a length is varied in drift spaces and magnets only (accelerating elements
// keep theirs, so that the particle's energy along the line stays what it was). Of the fields that couple
// the planes: k1s the quadrupoles and bends, and thin multipoles whose record holds a skew quadrupole
// component ksl[1]; ks the solenoids; tilt the magnets whose roll changes the linear optics (bends,
// quadrupoles, thin multipoles).
bool hasField(const LatticeElement& e, MatchField field)
{
    const int elementCode = e.code;
    switch (field) {
    case MatchField::K1s:
        return isFamily(elementCode, Family::Bend) || isFamily(elementCode, Family::Quadrupole) ||
               (elementCode == code::kThinMultipole && e.ksl.size() > 1);
    case MatchField::Ks:
        return elementCode == code::kSolenoid;
    case MatchField::Tilt:
        return isFamily(elementCode, Family::Bend) || isFamily(elementCode, Family::Quadrupole) ||
               elementCode == code::kThinMultipole;
    case MatchField::K:
        return isFamily(elementCode, Family::Bend) || isFamily(elementCode, Family::Quadrupole);
    case MatchField::M:
        return isFamily(elementCode, Family::Sextupole);
    case MatchField::H:
        return isFamily(elementCode, Family::Bend);
    case MatchField::Length:
        return elementCode == code::kDrift || isFamily(elementCode, Family::Bend) ||
               isFamily(elementCode, Family::Quadrupole) || isFamily(elementCode, Family::Sextupole);
    case MatchField::K3:
        return elementCode == code::kOctupole;
    }
    return false;
}

const char* fieldOwners(MatchField field)
{
    switch (field) {
    case MatchField::K:
        return "quadrupoles and bending magnets";
    case MatchField::M:
        return "sextupoles";
    case MatchField::H:
        return "bending magnets";
    case MatchField::Length:
        return "drift spaces, magnets and sextupoles";
    case MatchField::K3:
        return "octupoles";
    case MatchField::K1s:
        return "quadrupoles, bending magnets and thin multipoles with a skew quadrupole component ksl[1]";
    case MatchField::Ks:
        return "solenoids";
    case MatchField::Tilt:
        return "quadrupoles, bending magnets and thin multipoles";
    }
    return "";
}

// The last element of the name, 0 when there is none.
int lastNamed(const BeamLine& line, const std::string& name)
{
    for (int i = line.count; i >= 1; --i)
        if (sameName(line.at(i).name, name))
            return i;
    return 0;
}

// The element end a place means, 0..count; nothing after the message when it is not in the line.
std::optional<int> placeOf(const BeamLine& line, const ElementRef& ref, const std::string& label,
                           Messages& messages)
{
    switch (ref.kind) {
    case ElementRef::Kind::Start:
        return 0;
    case ElementRef::Kind::End:
        return line.count;
    case ElementRef::Kind::Index:
        if (ref.index < 0 || ref.index > line.count) {
            messages.error(label + ": there is no element " + std::to_string(ref.index) + "; the line has " +
                           std::to_string(line.count));
            return std::nullopt;
        }
        return ref.index;
    case ElementRef::Kind::Name: {
        const int i = lastNamed(line, ref.name);
        if (i == 0) {
            messages.error(label + ": there is no element named " + ref.name);
            return std::nullopt;
        }
        return i;
    }
    }
    return std::nullopt;
}

std::optional<std::vector<int>> variableElements(const BeamLine& line, const MatchVariable& v,
                                                 const std::string& label, Messages& messages)
{
    std::vector<int> elements;
    bool byPattern = false;
    if (v.element.kind == ElementRef::Kind::Name) {
        for (int i = 1; i <= line.count; ++i)
            if (sameName(line.at(i).name, v.element.name))
                elements.push_back(i);
        // a name no element has that holds one of ^ $ . [ * \ is a pattern of names, as MAD-X's SELECT
        // takes them: the family of an imported machine's placements ("^qf4\." takes QF4.1 .. QF4.353)
        std::string problem;
        const bool patternText = v.element.name.find_first_of("^$.[*\\") != std::string::npos;
        if (const std::optional<NamePattern> pattern = elements.empty() && patternText
                                                           ? compileNamePattern(v.element.name, problem)
                                                           : std::nullopt) {
            for (int i = 1; i <= line.count; ++i)
                if (matchesName(*pattern, line.at(i).name))
                    elements.push_back(i);
            byPattern = true;
        }
        if (elements.empty()) {
            messages.error(label + ": there is no element named " + v.element.name +
                           (problem.empty() ? "" : ", nor is it a pattern of names: " + problem));
            return std::nullopt;
        }
    } else if (v.element.kind == ElementRef::Kind::Index) {
        if (v.element.index < 1 || v.element.index > line.count) {
            messages.error(label + ": there is no element " + std::to_string(v.element.index) +
                           "; the line has " + std::to_string(line.count));
            return std::nullopt;
        }
        elements.push_back(v.element.index);
    } else {
        messages.error(label + ": a variable needs an element name or index");
        return std::nullopt;
    }
    for (int i : elements) {
        const LatticeElement& e = line.at(i);
        if (!hasField(e, v.field)) {
            messages.error(label + ": element " + std::to_string(i) + " (" + kindName(kindOf(e.code)) +
                           ") has no field " + fieldName(v.field) + "; it belongs to " +
                           fieldOwners(v.field));
            return std::nullopt;
        }
        // the variable sets every element it takes alike: elements a pattern takes that differ would lose
        // their own values
        const LatticeElement& first = line.at(elements.front());
        if (byPattern && fieldOf(e, v.field) != fieldOf(first, v.field)) {
            messages.error(label + ": the elements the pattern takes hold different values of " +
                           fieldName(v.field) + " (" + first.name + " " +
                           shortestFloat(fieldOf(first, v.field)) + ", " + e.name + " " +
                           shortestFloat(fieldOf(e, v.field)) + "): a variable sets them all alike");
            return std::nullopt;
        }
    }
    return elements;
}

const InputRange& fieldRange(MatchField field)
{
    switch (field) {
    case MatchField::M:
        return ranges::kSextupoleStrength;
    case MatchField::H:
        return ranges::kCurvature;
    case MatchField::Length:
        return ranges::kElementLength;
    case MatchField::K3:
        return ranges::kOctupoleStrength;
    case MatchField::K1s:
        return ranges::kSkewStrength;
    case MatchField::Ks:
        return ranges::kSolenoidStrength;
    case MatchField::Tilt:
        return ranges::kRollAngle;
    case MatchField::K:
        break;
    }
    return ranges::kStrength;
}

bool checkBounds(const MatchVariable& v, const std::string& label, Messages& messages)
{
    if (std::isnan(v.min) || std::isnan(v.max) || v.min == kNoBound || v.max == -kNoBound) {
        messages.error(label + ": the bounds must be numbers");
        return false;
    }
    if (v.min > v.max) {
        messages.error(label + ": the lower bound " + shortestFloat(v.min) + " is above the upper bound " +
                       shortestFloat(v.max));
        return false;
    }
    if (!(v.step >= 0) || !std::isfinite(v.step)) {
        messages.error(label + ": the step must be a positive number (0 for the default)");
        return false;
    }
    const auto [lower, upper] = variableBounds(v);
    if (lower > upper) {
        const InputRange& range = fieldRange(v.field);
        messages.error(label + ": the bounds " + shortestFloat(v.min) + " to " + shortestFloat(v.max) +
                       " lie outside the range of " + range.name + ", " + fmt("%.10g", range.min) + " to " +
                       fmt("%.10g", range.max) + (*range.unit ? " " : "") + range.unit);
        return false;
    }
    return true;
}

bool tracks(const MatchDefinition& d)
{
    return std::any_of(d.constraints.begin(), d.constraints.end(),
                       [](const MatchConstraint& c) { return isChromaticTune(c.quantity); });
}

std::optional<ResolvedVariable> resolveVariable(const BeamLine& line, const MatchDefinition& d, int n,
                                                Messages& messages)
{
    const MatchVariable& v = d.variables[static_cast<std::size_t>(n)];
    const std::string label = variableLabel(d, n);
    const std::optional<std::vector<int>> elements = variableElements(line, v, label, messages);
    if (!elements || !checkBounds(v, label, messages))
        return std::nullopt;
    ResolvedVariable r;
    r.elements = *elements;
    for (int i : r.elements)
        r.designValues.push_back(fieldOf(line.at(i), v.field));
    r.field = v.field;
    r.start = fieldOf(line.at(r.elements.front()), v.field);
    std::tie(r.min, r.max) = variableBounds(v);
    if (r.start < r.min || r.start > r.max) {
        const bool below = r.start < r.min;
        messages.error(label + ": the start value " + shortestFloat(r.start) + " lies " +
                       (below ? "below the lower bound " : "above the upper bound ") +
                       shortestFloat(below ? r.min : r.max));
        return std::nullopt;
    }
    // a step of 1e-7 of the value keeps the difference quotient's error near 1e-7 relative, well above the
    // rounding of the optics (1e-15 relative) divided by the step; the tracked Q(delta) carries the
    // closed orbits' and the map's differences (about 1e-11 in the tunes, 1e-4 in q3 over the scan's
    // delta^3 of 1e-7), so a match of it takes 1e-4 of the value
    const double relative = tracks(d) ? 1e-4 : 1e-7;
    r.step = v.step > 0 ? v.step : relative * std::max(1.0, std::fabs(r.start));
    return r;
}

std::optional<ResolvedConstraint> resolveConstraint(const BeamLine& line, const MatchDefinition& d, int n,
                                                    Messages& messages)
{
    const MatchConstraint& c = d.constraints[static_cast<std::size_t>(n)];
    const std::string label = constraintLabel(d, n);
    if (!std::isfinite(c.value)) {
        messages.error(label + ": the target must be a number");
        return std::nullopt;
    }
    if (!(c.weight > 0) || !std::isfinite(c.weight)) {
        messages.error(label + ": the weight must be a positive number");
        return std::nullopt;
    }
    ResolvedConstraint r;
    r.quantity = c.quantity;
    r.relation = c.relation;
    r.value = c.value;
    r.weight = c.weight;
    if (takesPlace(c.quantity) || isPhase(c.quantity)) {
        const std::optional<int> at = placeOf(line, c.at, label, messages);
        if (!at)
            return std::nullopt;
        r.at = *at;
    }
    if (isPhase(c.quantity)) {
        const std::optional<int> from = placeOf(line, c.from, label, messages);
        if (!from)
            return std::nullopt;
        r.from = *from;
    }
    return r;
}

// The values a target of the quantity takes: tunes and beta functions above 0, the others signed.
const InputRange& targetRange(MatchQuantity quantity)
{
    switch (quantity) {
    case MatchQuantity::TuneX:
    case MatchQuantity::TuneY:
    case MatchQuantity::Tune1:
    case MatchQuantity::Tune2:
        return ranges::kMatchTuneTarget;
    case MatchQuantity::BetaX:
    case MatchQuantity::BetaY:
    case MatchQuantity::MaxBetaX:
    case MatchQuantity::MaxBetaY:
    case MatchQuantity::Beta1:
    case MatchQuantity::Beta2:
    case MatchQuantity::Beta11:
    case MatchQuantity::Beta22:
        return ranges::kMatchBetaTarget;
    case MatchQuantity::Beta12:
    case MatchQuantity::Beta21:
        return ranges::kMatchCrossBetaTarget;
    case MatchQuantity::AlphaX:
    case MatchQuantity::AlphaY:
    case MatchQuantity::Alpha1:
    case MatchQuantity::Alpha2:
    case MatchQuantity::R11:
    case MatchQuantity::R12:
    case MatchQuantity::R21:
    case MatchQuantity::R22:
        return ranges::kMatchAlphaTarget;
    case MatchQuantity::CMinusAbs:
        return ranges::kMatchCouplingAbsTarget;
    case MatchQuantity::CMinusRe:
    case MatchQuantity::CMinusIm:
        return ranges::kMatchCouplingTarget;
    case MatchQuantity::EtaX:
        return ranges::kMatchEtaTarget;
    case MatchQuantity::EtaPX:
        return ranges::kMatchEtaPTarget;
    case MatchQuantity::PhaseX:
    case MatchQuantity::PhaseY:
        return ranges::kMatchPhaseTarget;
    case MatchQuantity::DetuningXX:
    case MatchQuantity::DetuningXY:
    case MatchQuantity::DetuningYY:
        return ranges::kMatchDetuningTarget;
    case MatchQuantity::TuneX2:
    case MatchQuantity::TuneX3:
    case MatchQuantity::TuneY2:
    case MatchQuantity::TuneY3:
        return ranges::kMatchChromaticTuneTarget;
    default:
        return isDrivingTerm(quantity) ? ranges::kMatchDrivingTermTarget : ranges::kMatchChromaticityTarget;
    }
}

bool checkSizes(const State& state, const MatchDefinition& d, Messages& messages)
{
    if (state.line.count < 1) {
        messages.error("define a beam line first!");
        return false;
    }
    if (d.variables.empty() || d.constraints.empty()) {
        messages.error(d.variables.empty() ? "the match has no variables" : "the match has no constraints");
        return false;
    }
    if (d.variables.size() > static_cast<std::size_t>(kMaxMatchVariables) ||
        d.constraints.size() > static_cast<std::size_t>(kMaxMatchConstraints)) {
        messages.error("a match takes at most " + std::to_string(kMaxMatchVariables) + " variables and " +
                       std::to_string(kMaxMatchConstraints) + " constraints");
        return false;
    }
    if (!(d.tolerance > 0) || !std::isfinite(d.tolerance)) {
        messages.error("the tolerance must be a positive number");
        return false;
    }
    if (d.maxIterations < 1 || d.maxIterations > kMaxMatchIterations) {
        messages.error("the number of iterations must be between 1 and " +
                       std::to_string(kMaxMatchIterations));
        return false;
    }
    return true;
}

// Two variables that change the same field of one element would fight over it.
bool checkOverlaps(const MatchDefinition& d, const std::vector<ResolvedVariable>& variables,
                   Messages& messages)
{
    for (std::size_t a = 0; a < variables.size(); ++a)
        for (std::size_t b = 0; b < a; ++b) {
            if (variables[a].field != variables[b].field)
                continue;
            for (int i : variables[a].elements)
                if (std::find(variables[b].elements.begin(), variables[b].elements.end(), i) !=
                    variables[b].elements.end()) {
                    messages.error(variableLabel(d, static_cast<int>(a)) + ": element " + std::to_string(i) +
                                   " is varied by variable " + std::to_string(b + 1) + " already");
                    return false;
                }
        }
    return true;
}

// The planes are coupled for the match: by the line, by a variable that moves a coupling field, or by the
// coupled start beam of a line match.
bool coupledMatch(const State& state, const MatchDefinition& d)
{
    const RunSettings& run = state.run;
    const bool coupledStart =
        d.start == MatchStart::Initial &&
        (run.r11 != 0 || run.r12 != 0 || run.r21 != 0 || run.r22 != 0 || run.etaY0 != 0 || run.etaPY0 != 0);
    return coupledStart || lineCouples(state.line) ||
           std::any_of(d.variables.begin(), d.variables.end(),
                       [](const MatchVariable& v) { return couplesPlanes(v.field); });
}

} // namespace

ElementRef elementRef(const std::string& text)
{
    const std::string t = trimmed(text);
    const std::string lower = lowered(t);
    if (lower.empty() || lower == "end")
        return ElementRef{};
    if (lower == "start")
        return ElementRef{ElementRef::Kind::Start, "", 0};
    if (t.size() <= 9 && t.find_first_not_of("0123456789") == std::string::npos)
        return ElementRef{ElementRef::Kind::Index, "", std::stoi(t)};
    return ElementRef{ElementRef::Kind::Name, t, 0};
}

std::string refText(const ElementRef& ref)
{
    switch (ref.kind) {
    case ElementRef::Kind::Start:
        return "start";
    case ElementRef::Kind::End:
        return "end";
    case ElementRef::Kind::Index:
        return std::to_string(ref.index);
    case ElementRef::Kind::Name:
        return ref.name;
    }
    return {};
}

const char* quantityName(MatchQuantity quantity)
{
    for (const QuantityEntry& e : kQuantities)
        if (e.quantity == quantity)
            return e.name;
    return "";
}

const char* fieldName(MatchField field)
{
    for (const FieldEntry& e : kFields)
        if (e.field == field)
            return e.name;
    return "";
}

const char* relationText(MatchRelation relation)
{
    switch (relation) {
    case MatchRelation::Equal:
        return "=";
    case MatchRelation::AtMost:
        return "<=";
    case MatchRelation::AtLeast:
        return ">=";
    }
    return "";
}

std::optional<MatchQuantity> quantityNamed(const std::string& name)
{
    for (const QuantityEntry& e : kQuantities)
        if (name == e.name)
            return e.quantity;
    return std::nullopt;
}

std::optional<MatchField> fieldNamed(const std::string& name)
{
    for (const FieldEntry& e : kFields)
        if (name == e.name)
            return e.field;
    return std::nullopt;
}

std::optional<MatchRelation> relationNamed(const std::string& text)
{
    for (MatchRelation r : {MatchRelation::Equal, MatchRelation::AtMost, MatchRelation::AtLeast})
        if (text == relationText(r))
            return r;
    return std::nullopt;
}

std::vector<MatchQuantity> allQuantities()
{
    std::vector<MatchQuantity> all;
    for (const QuantityEntry& e : kQuantities)
        all.push_back(e.quantity);
    return all;
}

std::vector<MatchField> allFields()
{
    std::vector<MatchField> all;
    for (const FieldEntry& e : kFields)
        all.push_back(e.field);
    return all;
}

bool takesPlace(MatchQuantity quantity)
{
    switch (quantity) {
    case MatchQuantity::BetaX:
    case MatchQuantity::AlphaX:
    case MatchQuantity::BetaY:
    case MatchQuantity::AlphaY:
    case MatchQuantity::EtaX:
    case MatchQuantity::EtaPX:
        return true;
    default:
        return isCoupledQuantity(quantity) && !isCouplingCoefficient(quantity) &&
               quantity != MatchQuantity::Tune1 && quantity != MatchQuantity::Tune2;
    }
}

bool isPhase(MatchQuantity quantity)
{
    return quantity == MatchQuantity::PhaseX || quantity == MatchQuantity::PhaseY;
}

bool isChromaticity(MatchQuantity quantity)
{
    return quantity == MatchQuantity::ChromaticityX || quantity == MatchQuantity::ChromaticityY ||
           quantity == MatchQuantity::NaturalChromaticityX || quantity == MatchQuantity::NaturalChromaticityY;
}

bool isRingQuantity(MatchQuantity quantity)
{
    return quantity == MatchQuantity::TuneX || quantity == MatchQuantity::TuneY || isChromaticity(quantity) ||
           isDrivingTerm(quantity) || isDetuning(quantity) || isChromaticTune(quantity) ||
           isCouplingCoefficient(quantity) || quantity == MatchQuantity::Tune1 ||
           quantity == MatchQuantity::Tune2;
}

bool isMaxBeta(MatchQuantity quantity)
{
    return quantity == MatchQuantity::MaxBetaX || quantity == MatchQuantity::MaxBetaY;
}

bool isDrivingTerm(MatchQuantity quantity)
{
    return drivingTermIndex(quantity) >= 0;
}

int drivingTermIndex(MatchQuantity quantity)
{
    const int n = static_cast<int>(quantity) - static_cast<int>(MatchQuantity::H21000);
    return n >= 0 && n < 10 ? n : -1;
}

bool isDetuning(MatchQuantity quantity)
{
    return quantity == MatchQuantity::DetuningXX || quantity == MatchQuantity::DetuningXY ||
           quantity == MatchQuantity::DetuningYY;
}

bool isChromaticTune(MatchQuantity quantity)
{
    return quantity == MatchQuantity::TuneX2 || quantity == MatchQuantity::TuneX3 ||
           quantity == MatchQuantity::TuneY2 || quantity == MatchQuantity::TuneY3;
}

bool isCoupledQuantity(MatchQuantity quantity)
{
    return static_cast<int>(quantity) >= static_cast<int>(MatchQuantity::CMinusAbs);
}

bool isCouplingCoefficient(MatchQuantity quantity)
{
    return quantity == MatchQuantity::CMinusAbs || quantity == MatchQuantity::CMinusRe ||
           quantity == MatchQuantity::CMinusIm;
}

bool couplesPlanes(MatchField field)
{
    return field == MatchField::K1s || field == MatchField::Ks || field == MatchField::Tilt;
}

std::string variableLabel(const MatchDefinition& definition, int index)
{
    const MatchVariable& v = definition.variables[static_cast<std::size_t>(index)];
    return "variable " + std::to_string(index + 1) + " (" + refText(v.element) + " " + fieldName(v.field) +
           ")";
}

std::string constraintLabel(const MatchDefinition& definition, int index)
{
    const MatchConstraint& c = definition.constraints[static_cast<std::size_t>(index)];
    std::string text = quantityName(c.quantity);
    if (takesPlace(c.quantity))
        text += " at " + refText(c.at);
    else if (isPhase(c.quantity))
        text += " from " + refText(c.from) + " to " + refText(c.at);
    return "constraint " + std::to_string(index + 1) + " (" + text + ")";
}

std::pair<double, double> variableBounds(const MatchVariable& v)
{
    const InputRange& range = fieldRange(v.field);
    return {std::max(v.min, range.min), std::min(v.max, range.max)};
}

double& fieldOf(LatticeElement& e, MatchField field)
{
    switch (field) {
    case MatchField::K1s:
        // hasField admits only the thin multipoles whose record holds ksl[1]
        return e.code == code::kThinMultipole && e.ksl.size() > 1 ? e.ksl[1] : e.k1s;
    case MatchField::Ks:
        return e.ks;
    case MatchField::Tilt:
        return e.tilt;
    case MatchField::M:
        return e.m;
    case MatchField::H:
        return e.curvature;
    case MatchField::Length:
        return e.length;
    case MatchField::K3:
        return e.k3;
    case MatchField::K:
        break;
    }
    return e.k;
}

double fieldOf(const LatticeElement& e, MatchField field)
{
    return fieldOf(const_cast<LatticeElement&>(e), field);
}

void setField(LatticeElement& e, MatchField field, double value)
{
    fieldOf(e, field) = value;
    if (e.code == code::kRectangularBend && (field == MatchField::H || field == MatchField::Length))
        e.ain = e.aout = e.length * e.curvature / 2;
}

std::optional<std::string> matchValueRefusal(const MatchDefinition& definition)
{
    for (int n = 0; n < static_cast<int>(definition.variables.size()); ++n) {
        const double step = definition.variables[static_cast<std::size_t>(n)].step;
        if (step != 0)
            if (const std::optional<std::string> refusal = rangeRefusal(ranges::kMatchStep, step))
                return variableLabel(definition, n) + ": " + *refusal;
    }
    for (int n = 0; n < static_cast<int>(definition.constraints.size()); ++n) {
        const MatchConstraint& c = definition.constraints[static_cast<std::size_t>(n)];
        if (const std::optional<std::string> refusal =
                firstRefusal({{&targetRange(c.quantity), c.value}, {&ranges::kMatchWeight, c.weight}}))
            return constraintLabel(definition, n) + ": " + *refusal;
    }
    return rangeRefusal(ranges::kMatchTolerance, definition.tolerance);
}

std::optional<MatchSetup> resolveMatch(const State& state, const MatchDefinition& definition,
                                       Messages& messages)
{
    if (!checkSizes(state, definition, messages))
        return std::nullopt;
    MatchSetup setup;
    setup.definition = definition;
    setup.elementCount = state.line.count;
    for (int n = 0; n < static_cast<int>(definition.variables.size()); ++n) {
        std::optional<ResolvedVariable> v = resolveVariable(state.line, definition, n, messages);
        if (!v)
            return std::nullopt;
        setup.variables.push_back(std::move(*v));
    }
    if (!checkOverlaps(definition, setup.variables, messages))
        return std::nullopt;
    setup.coupled = coupledMatch(state, definition);
    for (int n = 0; n < static_cast<int>(definition.constraints.size()); ++n) {
        const std::optional<ResolvedConstraint> c = resolveConstraint(state.line, definition, n, messages);
        if (!c)
            return std::nullopt;
        if (setup.coupled && !isCoupledQuantity(c->quantity)) {
            messages.error(
                constraintLabel(definition, n) +
                ": the planes are coupled here (by the line's skew quadrupoles, solenoids or rolls, "
                "a variable k1s, ks or tilt, or the coupled start), and this is a quantity of the "
                "uncoupled optics: take the modes' tune_1, tune_2, beta_1_m ... r22 instead");
            return std::nullopt;
        }
        setup.couplingCoefficient = setup.couplingCoefficient || isCouplingCoefficient(c->quantity);
        setup.coupledFunctions =
            setup.coupledFunctions || (isCoupledQuantity(c->quantity) && !isCouplingCoefficient(c->quantity));
        setup.constraints.push_back(*c);
        setup.ringQuantities = setup.ringQuantities || isRingQuantity(c->quantity);
        setup.chromaticity = setup.chromaticity || isChromaticity(c->quantity);
        setup.maxBeta = setup.maxBeta || isMaxBeta(c->quantity);
        setup.drivingTerms = setup.drivingTerms || isDrivingTerm(c->quantity) || isDetuning(c->quantity);
        setup.chromaticTunes = setup.chromaticTunes || isChromaticTune(c->quantity);
    }
    if (setup.ringQuantities && state.line.superPeriods < 1) {
        messages.error("the number of superperiods must be at least 1!");
        return std::nullopt;
    }
    return setup;
}

} // namespace kestrune

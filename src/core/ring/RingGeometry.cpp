#include "core/ring/RingGeometry.h"

#include "core/Drawing.h"
#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/NumberInput.h"

#include <cmath>

namespace kestrune {

namespace {

constexpr double kDegrees = 180 / kPi;
// the ring closes when its deflection is within this of 360 degrees
constexpr double kClosingTolerance = 0.01; // deg
// the harmonic number counts as a whole number within this
constexpr double kIntegerTolerance = 1e-4;

bool isBend(const LatticeElement& e)
{
    return familyOf(e.code) == static_cast<int>(Family::Bend);
}

// A rectangular magnet's faces are half its bending angle each, whatever changed the angle.
void rectangularFacesFollow(LatticeElement& e)
{
    if (e.code == code::kRectangularBend)
        e.ain = e.aout = e.length * e.curvature / 2;
}

void scaleCurvatures(BeamLine& line, double c)
{
    for (int i = 1; i <= line.count; ++i) {
        LatticeElement& e = line.at(i);
        e.curvature /= c;
        rectangularFacesFollow(e);
    }
}

// Shorter bends move every element after them: positions and the drawing follow.
void scaleBendLengths(BeamLine& line, double c)
{
    for (int i = 1; i <= line.count; ++i) {
        LatticeElement& e = line.at(i);
        if (!isBend(e))
            continue;
        e.length /= c;
        rectangularFacesFollow(e);
    }
    line.chainPositions();
    for (int i = 1; i <= line.count; ++i)
        placeShape(line, i);
}

// a rescaling beyond this is offered with No as the default answer
constexpr double kLargeRescaling = 0.1;

// The closing divides every h (or every bend length) by c: the change applied is 1/c - 1.
double appliedChange(double c)
{
    return 1 / c - 1;
}

bool askClosing(Messages& messages, const std::string& question, double c)
{
    return std::fabs(appliedChange(c)) > kLargeRescaling ? messages.confirmDefaultNo(question)
                                                         : messages.confirm(question);
}

// The closing questions; true when the user let the dipoles be scaled.
bool offerClosing(BeamLine& line, Messages& messages, double c)
{
    const std::string percent = fmt("%8.3f", appliedChange(c) * 100);
    if (askClosing(messages,
                   "To close ring, you may change all dipole strengths by " + percent +
                       " % [Yes] or ... [No].",
                   c)) {
        scaleCurvatures(line, c);
        return true;
    }
    if (askClosing(messages, "To close ring, you may change all dipole lengths by " + percent + " %", c)) {
        scaleBendLengths(line, c);
        return true;
    }
    return false;
}

std::string fullRingText(const BeamLine& line)
{
    const std::optional<int> cells = fullRingCells(line);
    if (!cells)
        return {};
    return "(full ring: " + std::to_string(*cells) + (*cells == 1 ? " cell)" : " cells)");
}

std::string harmonicText(double h)
{
    return "harmonic number is " + fmt("%8.3f", h);
}

struct CheckedInput
{
    int superPeriods = 1;
    double rfFrequency = 0; // Hz
    GeometryView view;
};

// Reads and checks the boxes before anything changes; nullopt after a message.
std::optional<CheckedInput> checkInput(const State& state, Messages& messages, const GeometryInput& input)
{
    CheckedInput checked;
    GeometryView& view = checked.view;
    const std::optional<int> cells = fullRingCells(state.line);
    view.superPeriods = input.superPeriods;
    if (input.superPeriods.find_first_not_of(' ') == std::string::npos)
        view.superPeriods = std::to_string(cells.value_or(1));
    view.rfFrequency = input.rfFrequency;
    if (state.rf.frequency != 0)
        view.rfFrequency = fmt("%10.5f", state.rf.frequency / 1e6);

    checked.superPeriods = parseInt(view.superPeriods);
    // the box shows a stored frequency rounded: the stored one keeps its digits
    checked.rfFrequency = state.rf.frequency != 0 ? state.rf.frequency : parseDouble(view.rfFrequency) * 1e6;
    if (const std::optional<std::string> refusal =
            rangeRefusal(ranges::kSuperperiods, checked.superPeriods)) {
        messages.error(*refusal);
        return std::nullopt;
    }
    if (!(lSup(state.line) * checked.superPeriods > 0)) {
        messages.error("the ring has no circumference: define a beam line first!");
        return std::nullopt;
    }
    if (const std::optional<std::string> refusal =
            rangeRefusal(ranges::kRfFrequencyMHz, checked.rfFrequency / 1e6)) {
        messages.error(*refusal);
        return std::nullopt;
    }
    return checked;
}

} // namespace

double deflSup(const BeamLine& line)
{
    double angle = 0;
    for (int i = 1; i <= line.count; ++i)
        angle += line.at(i).curvature * line.at(i).length;
    return angle * kDegrees;
}

double lSup(const BeamLine& line)
{
    double length = 0;
    for (int i = 1; i <= line.count; ++i)
        length += line.at(i).length;
    return length;
}

std::optional<int> fullRingCells(const BeamLine& line)
{
    const double deflection = std::fabs(deflSup(line));
    const double cells = 360 / deflection + 0.5;
    // a cell of almost no deflection would need more cells than any count holds
    if (!(deflection > 0) || !(cells < 2e9))
        return std::nullopt;
    return static_cast<int>(cells);
}

double revolutionFrequency(double beta, double circumference)
{
    return beta * kSpeedOfLight / circumference;
}

void showNotClosed(GeometryView& view, const State& state)
{
    view.totalDeflection = "this is not a closed ring!";
    view.perfectRing.clear();
    view.perfect = false;
    view.circumference =
        "tot. deflection angle = " + fmt("%8.3f", deflSup(state.line) * state.line.superPeriods) + " deg";
    view.revolution = "revolution frequency = N/A";
    view.harmonic = "harmonic number = N/A";
}

std::optional<GeometryView> ringGeometry(State& state, Messages& messages, const GeometryInput& input)
{
    std::optional<CheckedInput> checked = checkInput(state, messages, input);
    if (!checked)
        return std::nullopt;
    GeometryView& view = checked->view;
    const int nsp = checked->superPeriods;

    // a ring bending the other way round closes just as well: the closing compares magnitudes
    state.line.superPeriods = nsp;
    double total = std::fabs(deflSup(state.line)) * nsp;
    if (std::fabs(total - 360) > kClosingTolerance) {
        state.ringClosed = false;
        if (total > 0 && offerClosing(state.line, messages, total / 360))
            state.ringClosed = true;
    }

    // the cells of a full ring follow the deflection the closing left
    view.fullRing = fullRingText(state.line);
    const double circumference = lSup(state.line) * nsp;
    total = deflSup(state.line) * nsp;
    view.totalDeflection = "now total defl.angle is " + fmt("%8.3f", total) + " deg";
    view.circumference = "ring circumference = " + fmt("%8.3f", circumference) + " m";
    const double fRev = revolutionFrequency(state.beam.beta, circumference);
    view.revolution = "revolution frequency = " + fmt("%10.5f", fRev / 1e6) + " MHz";

    double fRf = checked->rfFrequency;
    double harmonic = fRf / fRev;
    view.harmonic = harmonicText(harmonic);
    // the rf frequency of a line that is no ring is not asked about
    const bool closed = std::fabs(std::fabs(total) - 360) < kClosingTolerance;
    if (closed && std::fabs(harmonic - std::nearbyint(harmonic)) > kIntegerTolerance &&
        messages.confirm("harmonic number is not yet integer. Adjust rf-frequency ?")) {
        harmonic = std::nearbyint(harmonic);
        fRf = harmonic * fRev;
        view.harmonic = harmonicText(harmonic);
    }
    view.rfFrequency = fmt("%10.5f", fRf / 1e6);

    RingParameters& ring = state.ringParams;
    ring.totalDeflection = total;
    ring.circumference = circumference;
    ring.revolutionFrequency = fRev;
    ring.harmonicNumber = harmonic;
    state.rf.frequency = fRf;

    if (closed && std::fabs(fRf / fRev - std::nearbyint(harmonic)) < kIntegerTolerance) {
        view.perfectRing = "perfect ring with integer harmonic number!";
        view.perfect = true;
        state.ringClosed = true;
        // the full ring is in the table wherever the ring's element count says so
        expandToFullRing(state, nsp, messages);
        return view;
    }
    showNotClosed(view, state);
    return view;
}

bool expandToFullRing(State& state, int superPeriods, Messages& messages)
{
    BeamLine& line = state.line;
    const int n = line.count;
    state.ringElementCount = n;
    if (n < 1) {
        messages.error("define a beam line first!");
        return false;
    }
    if (superPeriods < 1 || static_cast<long long>(n) * superPeriods >= kMaxLineElements) {
        messages.error("cannot expand: beam line would exceed max of" + std::to_string(kMaxLineElements) +
                       " elements!");
        return false;
    }
    for (int cell = 1; cell < superPeriods; ++cell) {
        for (int j = 1; j <= n; ++j) {
            const int previous = state.ringElementCount++;
            LatticeElement& copy = line.at(state.ringElementCount);
            copy = line.at(j);
            copy.s = line.at(previous).s + line.at(previous).length;
        }
    }
    return true;
}

std::optional<GeometryView> studyFullRing(State& state, Messages& messages, const GeometryInput& input)
{
    double typed = parseDouble(input.rfFrequency) * 1e6;
    // a box that still shows the stored frequency, rounded, was not edited: the stored one holds
    if (state.rf.frequency != 0 && typed == parseDouble(fmt("%10.5f", state.rf.frequency / 1e6)) * 1e6)
        typed = state.rf.frequency;
    parseInt(input.superPeriods.find_first_not_of(' ') == std::string::npos ? "1" : input.superPeriods);
    if (const std::optional<std::string> refusal = rangeRefusal(ranges::kRfFrequencyMHz, typed / 1e6)) {
        messages.error(*refusal);
        return std::nullopt;
    }
    const double previous = state.rf.frequency;
    state.rf.frequency = typed;
    std::optional<GeometryView> view = ringGeometry(state, messages, input);
    if (!view) {
        state.rf.frequency = previous;
        return std::nullopt;
    }
    expandToFullRing(state, state.line.superPeriods, messages);
    if (!state.ringClosed)
        showNotClosed(*view, state);
    return view;
}

GeometryView studySuperperiod(State& state)
{
    GeometryView view;
    state.ringElementCount = state.line.count;
    state.ringClosed = false;
    view.superPeriods = "1";
    view.circumference = "superperiod length= " + fmt("%8.3f", lSup(state.line)) + " m";
    view.totalDeflection = "deflection/superperiod= " + fmt("%8.3f", deflSup(state.line)) + " degrees";
    view.perfectRing = "this is not a perfect ring!";
    return view;
}

} // namespace kestrune

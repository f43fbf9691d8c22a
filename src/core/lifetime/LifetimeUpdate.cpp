#include "core/lifetime/LifetimeUpdate.h"

#include "core/Design.h"
#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/NumberInput.h"
#include "core/rf/RfUpdate.h"
#include "core/ring/Parameter.h"

#include <cmath>
#include <stdexcept>
#include <utility>
#include <vector>

namespace kestrune {

namespace {

constexpr double kDefaultAverageBeta = 10.0; // m
constexpr double kDefaultPressure = 1e-9;    // Torr
constexpr double kDefaultEnergyAcceptance = 0.01;

bool blank(const std::string& text)
{
    return text.find_first_not_of(" \t") == std::string::npos;
}

void fillIfEmpty(std::string& box, const std::string& text)
{
    if (blank(box))
        box = text;
}

/// What a box holds: a value above 0, or a percentage inside 0..100.
enum class Domain { Positive, Percentage };

struct BoxRule
{
    std::string LifetimeBoxes::*box;
    const char* label;
    Domain domain;
    bool filledWhenEmpty;    // the update writes a value into the empty box
    const InputRange* range; // the upper limit of a positive value (core/InputRanges.h)
};

const BoxRule kRules[] = {
    {&LifetimeBoxes::ratio, "ratio height/width", Domain::Positive, true, &ranges::kAspectRatio},
    {&LifetimeBoxes::gasPressure1, "gas pressure, nTorr", Domain::Positive, false,
     &ranges::kGasPressureNtorr},
    {&LifetimeBoxes::acceptance, "vert.accept., mm*mr", Domain::Positive, false, &ranges::kAcceptanceMmMrad},
    {&LifetimeBoxes::averageBetaY, "avg.beta_y, m", Domain::Positive, true, &ranges::kAverageBetaM},
    {&LifetimeBoxes::energyAcceptance, "energy acceptance, %", Domain::Percentage, false, nullptr},
    {&LifetimeBoxes::gasPressure2, "gas pressure, nTorr", Domain::Positive, false,
     &ranges::kGasPressureNtorr},
    {&LifetimeBoxes::energyAcceptance1, "energy acc,%", Domain::Percentage, false, nullptr},
    {&LifetimeBoxes::acceptanceX, "horiz. accept., mm*mr", Domain::Positive, false,
     &ranges::kAcceptanceMmMrad},
    {&LifetimeBoxes::acceptanceY, "vert.  accept., mm*mr", Domain::Positive, false,
     &ranges::kAcceptanceMmMrad},
    {&LifetimeBoxes::energyAcceptance2, "energy acceptance, %", Domain::Percentage, true, nullptr},
    {&LifetimeBoxes::bunchCurrent, "bunch current, mA", Domain::Positive, false, &ranges::kBunchCurrentMa},
    {&LifetimeBoxes::averageBetaX, "beta_x avg, m", Domain::Positive, false, &ranges::kAverageBetaM},
    {&LifetimeBoxes::averageBetaY1, "beta_y avg, m", Domain::Positive, false, &ranges::kAverageBetaM},
    {&LifetimeBoxes::coupling, "coupling, %", Domain::Positive, true, &ranges::kCouplingPercent},
    {&LifetimeBoxes::bunchLength, "bunch length, mm", Domain::Positive, true, &ranges::kBunchLengthMm},
};

const BoxRule& ruleOf(std::string LifetimeBoxes::*box)
{
    for (const BoxRule& rule : kRules) {
        if (rule.box == box)
            return rule;
    }
    throw std::logic_error("lifetime box without a rule");
}

std::optional<std::string> refusal(const BoxRule& rule, double value)
{
    if (rule.domain == Domain::Percentage && !(value > 0 && value < 100))
        return std::string("\"") + rule.label + "\" must lie between 0 and 100 %!";
    if (rule.domain == Domain::Positive && !(value > 0))
        return std::string("\"") + rule.label + "\" must be larger than 0!";
    // beyond the window's own checks, the range table's limits (a smallest value too, so that no lifetime
    // overflows), named with the box's label
    const std::string label = std::string("\"") + rule.label + "\"";
    InputRange named = rule.range != nullptr ? *rule.range : ranges::kEnergyAcceptancePercent;
    named.name = label.c_str();
    return rangeRefusal(named, value);
}

/// The value of a box accepted by its rule; otherwise its refusal as a message.
bool accepted(std::string LifetimeBoxes::*box, double value, Messages& messages)
{
    const std::optional<std::string> text = refusal(ruleOf(box), value);
    if (text)
        messages.error(*text);
    return !text;
}

// A box that still shows a result of another design gets its start text back; one the user typed stays.
void forgetTaken(std::string& box, const std::string& taken, const std::string& start)
{
    if (box == taken)
        box = start;
}

std::string hours(double seconds, const char* format)
{
    return fmtOrNa(format, seconds / 3600);
}

std::string planeLabel(const char* name, const QuantumPlane& plane)
{
    return std::string(name) + (plane.bounded ? " > " : " = ") + fmtOrNa("%8.4g", plane.lifetime / 3600) +
           " hr";
}

} // namespace

std::optional<std::string> lifetimeBoxRefusal(std::string LifetimeBoxes::*box, const std::string& text)
{
    const BoxRule& rule = ruleOf(box);
    if (blank(text) && rule.filledWhenEmpty)
        return std::nullopt;
    // an empty bremsstrahlung acceptance reads 0; an empty vertical acceptance is filled with 0.0
    const bool readsZero = box == &LifetimeBoxes::energyAcceptance || box == &LifetimeBoxes::acceptance;
    return refusal(rule, blank(text) && readsZero ? 0.0 : parseDouble(text));
}

bool resultAvailable(double value)
{
    return std::isfinite(value) && value != 0;
}

void activateLifetime(State& state, LifetimeBoxes& boxes, Messages& messages)
{
    RingParameters& ring = state.ringParams;
    // results of another design (a lattice opened since, a step undone) are not taken
    const bool ringCurrent = ring.stamp == latticeStamp(state);
    const std::uint64_t beamStamp = designStamp(state);
    if (ringCurrent && resultAvailable(ring.averageBetaX) && resultAvailable(ring.averageBetaY)) {
        boxes.averageBetaY = fmt("%8.3f", ring.averageBetaY) + "0";
        boxes.averageBetaY1 = boxes.averageBetaY;
        boxes.averageBetaX = fmt("%8.3f", ring.averageBetaX) + "0";
    } else {
        messages.error("enter avg. betatronfunctions manually or run \"betatronfunction\"!");
        const LifetimeBoxes start;
        forgetTaken(boxes.averageBetaY, fmt("%8.3f", ring.averageBetaY) + "0", start.averageBetaY);
        forgetTaken(boxes.averageBetaY1, fmt("%8.3f", ring.averageBetaY) + "0", start.averageBetaY1);
        forgetTaken(boxes.averageBetaX, fmt("%8.3f", ring.averageBetaX) + "0", start.averageBetaX);
        ring.averageBetaX = kDefaultAverageBeta;
        ring.averageBetaY = kDefaultAverageBeta;
    }
    if (state.pressureStamp == beamStamp && resultAvailable(state.averagePressure)) {
        boxes.gasPressure1 = fmt("%8.4g", state.averagePressure * 1e9);
        boxes.gasPressure2 = boxes.gasPressure1;
    } else {
        messages.error("enter vacuum pressure manually or run \"vacuum\"!");
        const LifetimeBoxes start;
        const std::string taken = fmt("%8.4g", state.averagePressure * 1e9);
        forgetTaken(boxes.gasPressure1, taken, start.gasPressure1);
        forgetTaken(boxes.gasPressure2, taken, start.gasPressure2);
        state.averagePressure = kDefaultPressure;
    }
    if (state.rf.stamp == rfStamp(state) && resultAvailable(state.rf.energyAcceptance)) {
        if (resultAvailable(state.rf.bunchLength))
            boxes.bunchLength = fmt("%8.3f", state.rf.bunchLength * 1000);
        boxes.energyAcceptance = fmt("%8.3f", state.rf.energyAcceptance * 100);
        boxes.energyAcceptance1 = boxes.energyAcceptance;
        boxes.energyAcceptance2 = boxes.energyAcceptance;
    } else {
        messages.error("enter energy acceptance manually or run \"RF\"!");
        const LifetimeBoxes start;
        const std::string taken = fmt("%8.3f", state.rf.energyAcceptance * 100);
        forgetTaken(boxes.energyAcceptance, taken, start.energyAcceptance);
        forgetTaken(boxes.energyAcceptance1, taken, start.energyAcceptance1);
        forgetTaken(boxes.energyAcceptance2, taken, start.energyAcceptance2);
        // the Touschek update fills its box with more digits
        forgetTaken(boxes.energyAcceptance2, fmt("%8.5f", state.rf.energyAcceptance * 100),
                    start.energyAcceptance2);
        forgetTaken(boxes.bunchLength, fmt("%8.3f", state.rf.bunchLength * 1000), start.bunchLength);
        state.rf.energyAcceptance = kDefaultEnergyAcceptance;
        state.rf.stamp = 0; // the default is no result of any rf settings, also after an undo
    }
    state.lifetimes = Lifetimes{};
}

void touschekMenu(State& state, LifetimeBoxes& boxes)
{
    RingParameters& ring = state.ringParams;
    const auto fill = [](double& average, std::string& box) {
        if (!(average >= 1e-5) || !std::isfinite(average)) {
            average = kDefaultAverageBeta;
            box = "10.0";
        } else {
            box = fmt("%8.3f", average);
        }
    };
    fill(ring.averageBetaX, boxes.averageBetaX);
    fill(ring.averageBetaY, boxes.averageBetaY1);
}

std::optional<std::string> updateElastic(State& state, LifetimeBoxes& boxes, Messages& messages)
{
    fillIfEmpty(boxes.ratio, "1.0");
    fillIfEmpty(boxes.acceptance, "0.0");
    fillIfEmpty(boxes.averageBetaY, "10.0");
    const double ratio = parseDouble(boxes.ratio);
    const double acceptance = parseDouble(boxes.acceptance);
    const double betaY = parseDouble(boxes.averageBetaY);
    const double pressure = parseDouble(boxes.gasPressure1);
    if (!accepted(&LifetimeBoxes::ratio, ratio, messages) ||
        !accepted(&LifetimeBoxes::acceptance, acceptance, messages) ||
        !accepted(&LifetimeBoxes::averageBetaY, betaY, messages) ||
        !accepted(&LifetimeBoxes::gasPressure1, pressure, messages))
        return std::nullopt;
    const double energy = state.beam.totalEnergy;
    if (!(energy > 0)) {
        messages.error("choose beam energy!");
        return std::nullopt;
    }
    const double tau = elasticLifetime(energy, ratio, acceptance, betaY, pressure);
    state.lifetimes.elastic = tau;
    return "Coulomb scattering life time is " + hours(tau, "%8.4g") + " hours";
}

std::optional<std::string> updateBremsstrahlung(State& state, LifetimeBoxes& boxes, Messages& messages)
{
    const double acceptance = blank(boxes.energyAcceptance) ? 0.0 : parseDouble(boxes.energyAcceptance);
    const double pressure = parseDouble(boxes.gasPressure2);
    if (!accepted(&LifetimeBoxes::energyAcceptance, acceptance, messages) ||
        !accepted(&LifetimeBoxes::gasPressure2, pressure, messages))
        return std::nullopt;
    const double tau = bremsstrahlungLifetime(acceptance, pressure);
    state.lifetimes.bremsstrahlung = tau;
    return "Bremsstrahlungs lifetime is " + hours(tau, "%8.3f") + " hours";
}

std::optional<QuantumLabels> updateQuantum(State& state, LifetimeBoxes& boxes, Messages& messages)
{
    QuantumInput in;
    in.energyAcceptancePercent = parseDouble(boxes.energyAcceptance1);
    in.acceptanceX = parseDouble(boxes.acceptanceX);
    in.acceptanceY = parseDouble(boxes.acceptanceY);
    if (!accepted(&LifetimeBoxes::energyAcceptance1, in.energyAcceptancePercent, messages) ||
        !accepted(&LifetimeBoxes::acceptanceX, in.acceptanceX, messages) ||
        !accepted(&LifetimeBoxes::acceptanceY, in.acceptanceY, messages))
        return std::nullopt;
    RingParameters& ring = state.ringParams;
    in.energySpread = ring.energySpread;
    // a ring whose planes couple: the emittances of the planes' beam sizes from both modes, the damping
    // times and the energy spread of modes 1, 2 and 3
    const PlaneEmittances planes = planeEmittances(ring);
    in.emittanceX = planes.x;
    in.emittanceY = planes.y;
    in.dampingTimeX = ring.dampingTimeX;
    in.dampingTimeY = ring.dampingTimeY;
    in.dampingTimeS = ring.dampingTimeS;
    const bool ringKnown = resultAvailable(in.energySpread) && in.energySpread > 0 && in.emittanceX > 0 &&
                           std::isfinite(in.emittanceX) && std::isfinite(in.emittanceY) &&
                           in.emittanceY >= 0 && in.dampingTimeX > 0 && in.dampingTimeY > 0 &&
                           in.dampingTimeS > 0 &&
                           std::isfinite(in.dampingTimeX + in.dampingTimeY + in.dampingTimeS);
    if (!ringKnown) {
        messages.error("energy spread, emittances or damping times of the ring are not available!");
        return std::nullopt;
    }
    const QuantumLifetime q = quantumLifetime(in);

    QuantumLabels labels;
    labels.energySpread = "sig_e/E = " + fmtOrNa("%8.3f", in.energySpread * 100) + " %";
    labels.emittanceX = "eps_x = " + fmtOrNa("%8.4g", in.emittanceX * 1e6) + " mm*mr";
    labels.emittanceY = "eps_y = " + fmtOrNa("%8.4g", in.emittanceY * 1e6) + " mm*mr";
    labels.nE = "n_e = " + fmtOrNa("%8.3f", q.energy.n);
    labels.nX = "n_x = " + fmtOrNa("%8.3f", q.x.n);
    labels.nY = "n_y = " + fmtOrNa("%8.3f", q.y.n);
    labels.tauE = planeLabel("tau_e", q.energy);
    labels.tauX = planeLabel("tau_x", q.x);
    labels.tauY = planeLabel("tau_y", q.y);
    labels.total = "total quantum lifetime >= " + hours(q.total, "%8.4g") + " hr";
    labels.lifetime = q;
    if (q.couplingDefault && !ring.modes.coupled) {
        ring.coupling = kDefaultCoupling;
        ring.emittanceY = q.emittanceY;
    }
    state.lifetimes.quantum = q.total;
    return labels;
}

std::optional<TouschekUpdate> updateTouschek(State& state, LifetimeBoxes& boxes, Messages& messages)
{
    const RingParameters& ring = state.ringParams;
    const bool rfCurrent = state.rf.stamp == rfStamp(state);
    if (rfCurrent && resultAvailable(state.rf.energyAcceptance))
        fillIfEmpty(boxes.energyAcceptance2, fmt("%8.5f", state.rf.energyAcceptance * 100));
    if (rfCurrent && resultAvailable(state.rf.bunchLength))
        fillIfEmpty(boxes.bunchLength, fmt("%8.3f", state.rf.bunchLength * 1000));
    // the vertical size of a ring whose planes couple is that of its modes: the box shows their coupling
    const PlaneEmittances planes = planeEmittances(ring);
    if (ring.modes.coupled && resultAvailable(planes.x) && std::isfinite(planes.y))
        boxes.coupling = fmt("%8.5f", planes.y / planes.x * 100);
    else if (resultAvailable(ring.coupling))
        fillIfEmpty(boxes.coupling, fmt("%8.5f", ring.coupling * 100));
    // no default stands in for a missing rf result: the user types the value or runs the rf window
    for (std::string LifetimeBoxes::*box : {&LifetimeBoxes::energyAcceptance2, &LifetimeBoxes::bunchLength}) {
        if (blank(boxes.*box)) {
            messages.error(std::string("enter \"") + ruleOf(box).label + "\" or run \"RF\"!");
            return std::nullopt;
        }
    }
    TouschekInput in;
    const double acceptancePercent = parseDouble(boxes.energyAcceptance2);
    const double couplingPercent = parseDouble(boxes.coupling);
    in.bunchCurrentMa = parseDouble(boxes.bunchCurrent);
    in.bunchLengthMm = parseDouble(boxes.bunchLength);
    in.averageBetaX = parseDouble(boxes.averageBetaX);
    in.averageBetaY = parseDouble(boxes.averageBetaY1);
    if (!accepted(&LifetimeBoxes::energyAcceptance2, acceptancePercent, messages) ||
        !accepted(&LifetimeBoxes::bunchCurrent, in.bunchCurrentMa, messages) ||
        !accepted(&LifetimeBoxes::averageBetaX, in.averageBetaX, messages) ||
        !accepted(&LifetimeBoxes::averageBetaY1, in.averageBetaY, messages) ||
        !accepted(&LifetimeBoxes::coupling, couplingPercent, messages) ||
        !accepted(&LifetimeBoxes::bunchLength, in.bunchLengthMm, messages))
        return std::nullopt;
    in.energyAcceptance = acceptancePercent / 100;
    in.coupling = couplingPercent / 100;
    in.gamma = state.beam.gamma;
    in.emittanceX = planes.x;
    in.revolutionFrequency = ring.revolutionFrequency;
    if (!(in.emittanceX > 0) || !std::isfinite(in.emittanceX) || !(in.revolutionFrequency > 0) ||
        !std::isfinite(in.revolutionFrequency) || !(in.gamma > 0)) {
        messages.error("emittance or revolution frequency of the ring are not available!");
        return std::nullopt;
    }
    TouschekUpdate update{{}, in, touschekLifetime(in)};
    const TouschekLifetime& t = update.lifetime;
    state.lifetimes.touschek = t.lifetime ? *t.lifetime : 0.0;
    state.lifetimes.touschekUnavailable = !t.lifetime;
    update.label = t.lifetime ? "Touschek lifetime = " + hours(*t.lifetime, "%8.3f") + " hr"
                              : "Touschek lifetime not available: C(zeta) = " + fmt("%.4g", t.c) +
                                    " at zeta = " + fmt("%.4g", t.zeta);
    return update;
}

std::optional<TouschekUpdate> runTouschekUpdate(State& state, LifetimeBoxes& boxes, Messages& messages)
{
    updateRfParameters(state, messages);
    return updateTouschek(state, boxes, messages);
}

std::optional<double> combinedLifetime(const Lifetimes& lifetimes)
{
    const Lifetimes& l = lifetimes;
    if (l.elastic == 0 || l.bremsstrahlung == 0 || l.touschek == 0 || l.quantum == 0)
        return std::nullopt;
    return 1 / (1 / l.elastic + 1 / l.bremsstrahlung + 1 / l.touschek + 1 / l.quantum);
}

std::string combinedLifetimeText(const Lifetimes& lifetimes)
{
    if (const std::optional<double> tau = combinedLifetime(lifetimes))
        return "tot. combined beam lifetime =  " + hours(*tau, "%8.3f") + " hr";
    if (lifetimes.touschekUnavailable)
        return "no combined lifetime: the Touschek lifetime is not available";
    std::vector<std::string> missing;
    for (const auto& [tau, name] :
         {std::pair{lifetimes.elastic, "elastic"}, std::pair{lifetimes.bremsstrahlung, "bremsstrahlung"},
          std::pair{lifetimes.touschek, "Touschek"}, std::pair{lifetimes.quantum, "quantum"}})
        if (tau == 0)
            missing.emplace_back(name);
    std::string names = missing.front();
    for (std::size_t i = 1; i < missing.size(); ++i)
        names += (i + 1 == missing.size() ? " and " : ", ") + missing[i];
    return "no combined lifetime: the " + names + (missing.size() > 1 ? " lifetimes are" : " lifetime is") +
           " missing";
}

} // namespace kestrune

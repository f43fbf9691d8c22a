#include "cli/VacuumLifetimeBatch.h"

#include "cli/RingReport.h"
#include "cli/StderrMessages.h"
#include "core/Format.h"
#include "core/NumberInput.h"
#include "core/lifetime/LifetimeUpdate.h"
#include "core/rf/RfUpdate.h"
#include "core/ring/Parameter.h"
#include "core/vacuum/PressureProfile.h"

#include <algorithm>

namespace kestrune {

namespace {

/// Keeps every message shown, in order.
class CollectedMessages : public Messages
{
public:
    void error(const std::string& text) override { texts.push_back(text); }
    bool confirm(const std::string&, std::optional<ScreenPoint>) override { return false; }
    void askParticle() override {}

    std::vector<std::string> texts;
};

struct VacuumName
{
    const char* name;
    const char* help;
    std::string VacuumBoxes::*box;
};

const VacuumName kVacuumNames[] = {
    {"vacuum.steps", "steps along the period (vacuum window, empty: 2000, at most 10000)",
     &VacuumBoxes::steps},
    {"vacuum.iterations", "bisection iterations of the flow divides (vacuum window)",
     &VacuumBoxes::iterations},
    {"vacuum.chamber_radius_cm", "vacuum chamber radius in cm (vacuum window)", &VacuumBoxes::radiusCm},
    {"vacuum.thermal_desorption", "thermal desorption coefficient in Torr l/s/cm^2 (vacuum window)",
     &VacuumBoxes::thermal},
    {"vacuum.photodesorption_yield", "photodesorption yield, molecules per photoelectron (vacuum window)",
     &VacuumBoxes::yield},
};

struct LifetimeName
{
    const char* name;
    const char* help;
    std::string LifetimeBoxes::*box;
};

const LifetimeName kLifetimeNames[] = {
    {"lifetime.elastic.aspect_ratio", "chamber height/width (elastic scattering)", &LifetimeBoxes::ratio},
    {"lifetime.elastic.pressure_ntorr", "gas pressure in nTorr (elastic scattering)",
     &LifetimeBoxes::gasPressure1},
    {"lifetime.elastic.acceptance_mm_mrad", "vertical acceptance in mm mrad (elastic scattering)",
     &LifetimeBoxes::acceptance},
    {"lifetime.elastic.average_beta_y_m", "average vertical beta in m (elastic scattering)",
     &LifetimeBoxes::averageBetaY},
    {"lifetime.bremsstrahlung.energy_acceptance_percent", "energy acceptance in % (bremsstrahlung)",
     &LifetimeBoxes::energyAcceptance},
    {"lifetime.bremsstrahlung.pressure_ntorr", "gas pressure in nTorr (bremsstrahlung)",
     &LifetimeBoxes::gasPressure2},
    {"lifetime.quantum.energy_acceptance_percent", "energy acceptance in % (quantum lifetime)",
     &LifetimeBoxes::energyAcceptance1},
    {"lifetime.quantum.acceptance_x_mm_mrad", "horizontal acceptance in mm mrad (quantum lifetime)",
     &LifetimeBoxes::acceptanceX},
    {"lifetime.quantum.acceptance_y_mm_mrad", "vertical acceptance in mm mrad (quantum lifetime)",
     &LifetimeBoxes::acceptanceY},
    {"lifetime.touschek.energy_acceptance_percent", "energy acceptance in % (Touschek)",
     &LifetimeBoxes::energyAcceptance2},
    {"lifetime.touschek.coupling_percent", "emittance coupling in % (Touschek)", &LifetimeBoxes::coupling},
    {"lifetime.touschek.bunch_current_ma", "bunch current in mA (Touschek)", &LifetimeBoxes::bunchCurrent},
    {"lifetime.touschek.bunch_length_mm", "rms bunch length in mm (Touschek)", &LifetimeBoxes::bunchLength},
    {"lifetime.touschek.average_beta_x_m", "average horizontal beta in m (Touschek)",
     &LifetimeBoxes::averageBetaX},
    {"lifetime.touschek.average_beta_y_m", "average vertical beta in m (Touschek)",
     &LifetimeBoxes::averageBetaY1},
};

/// The vacuum calculation of the vacuum window with the boxes of inputs.
std::optional<VacuumResult> runVacuum(State& state, const BatchInputs& inputs, Messages& messages)
{
    VacuumBoxes boxes = inputs.vacuum;
    const std::optional<VacuumInput> input = readVacuumInput(boxes, messages);
    if (!input)
        return std::nullopt;
    std::optional<VacuumResult> result = calculateVacuum(state, *input, messages);
    if (result) {
        for (const std::string& warning : result->warnings)
            messages.error(warning);
    }
    return result;
}

bool hasPumps(const BeamLine& line)
{
    for (int i = 1; i <= line.count; ++i) {
        if (line.at(i).code == code::kPump)
            return true;
    }
    return false;
}

/// A box's number for the report: null for text that is not one.
Json boxNumber(const std::string& text)
{
    try {
        return reportNumber(parseDouble(text));
    } catch (const ConversionError&) {
        return nullptr;
    }
}

Json optionalNumber(double value, bool known)
{
    return known ? reportNumber(value) : Json(nullptr);
}

/// Runs one lifetime update; a box that is not a number is shown like the window's conversion error.
template <typename Update> auto guarded(Messages& messages, Update&& update) -> decltype(update())
{
    try {
        return update();
    } catch (const ConversionError& e) {
        messages.error(e.what());
        return std::nullopt;
    }
}

Json profileSummary(const VacuumResult& r)
{
    const auto [low, high] = std::minmax_element(r.pressure.begin(), r.pressure.end());
    const auto position = [&](std::vector<double>::const_iterator at) {
        return r.position(static_cast<int>(at - r.pressure.begin()) + 1);
    };
    return {{"steps", r.steps},
            {"step_m", reportNumber(r.stepLength)},
            {"period_m", reportNumber(r.period)},
            {"min_pressure_torr", reportNumber(*low)},
            {"min_at_m", reportNumber(position(low))},
            {"max_pressure_torr", reportNumber(*high)},
            {"max_at_m", reportNumber(position(high))}};
}

/// The inputs each lifetime used: the box values and the ring results.
Json lifetimeInputs(const State& s, const LifetimeBoxes& boxes, const std::optional<QuantumLabels>& quantum,
                    const std::optional<TouschekUpdate>& touschek)
{
    const RingParameters& ring = s.ringParams;
    // a ring whose planes couple: the emittances of the planes' beam sizes from its modes
    const PlaneEmittances planes = planeEmittances(ring);
    return {{"elastic",
             {{"total_energy_ev", reportNumber(s.beam.totalEnergy)},
              {"aspect_ratio", boxNumber(boxes.ratio)},
              {"pressure_ntorr", boxNumber(boxes.gasPressure1)},
              {"acceptance_mm_mrad", boxNumber(boxes.acceptance)},
              {"average_beta_y_m", boxNumber(boxes.averageBetaY)}}},
            {"bremsstrahlung",
             {{"energy_acceptance_percent", boxNumber(boxes.energyAcceptance)},
              {"pressure_ntorr", boxNumber(boxes.gasPressure2)}}},
            {"quantum",
             {{"energy_acceptance_percent", boxNumber(boxes.energyAcceptance1)},
              {"acceptance_x_mm_mrad", boxNumber(boxes.acceptanceX)},
              {"acceptance_y_mm_mrad", boxNumber(boxes.acceptanceY)},
              {"energy_spread", reportNumber(ring.energySpread)},
              {"emittance_x_m", reportNumber(planes.x)},
              {"emittance_y_m", reportNumber(quantum ? quantum->lifetime.emittanceY : planes.y)},
              {"damping_time_x_s", reportNumber(ring.dampingTimeX)},
              {"damping_time_y_s", reportNumber(ring.dampingTimeY)},
              {"damping_time_s_s", reportNumber(ring.dampingTimeS)}}},
            {"touschek",
             {{"energy_acceptance_percent", boxNumber(boxes.energyAcceptance2)},
              {"coupling_percent", boxNumber(boxes.coupling)},
              {"bunch_current_ma", boxNumber(boxes.bunchCurrent)},
              {"bunch_length_mm", boxNumber(boxes.bunchLength)},
              {"average_beta_x_m", boxNumber(boxes.averageBetaX)},
              {"average_beta_y_m", boxNumber(boxes.averageBetaY1)},
              {"gamma", reportNumber(s.beam.gamma)},
              {"emittance_x_m", reportNumber(planes.x)},
              {"revolution_frequency_hz", reportNumber(ring.revolutionFrequency)},
              {"zeta", touschek ? reportNumber(touschek->lifetime.zeta) : Json(nullptr)},
              {"loss_function", touschek ? reportNumber(touschek->lifetime.c) : Json(nullptr)}}}};
}

} // namespace

std::vector<SettingName> vacuumLifetimeSettingNames()
{
    std::vector<SettingName> names;
    for (const VacuumName& v : kVacuumNames) {
        const auto box = v.box;
        names.push_back({v.name, v.help, [box](State&, BatchInputs& inputs, const std::string& text) {
                             // the text as the calculation would read it, with the other boxes as they are
                             VacuumBoxes boxes = inputs.vacuum;
                             boxes.*box = text;
                             FirstErrorMessages refusal;
                             if (!readVacuumInput(boxes, refusal))
                                 throw BatchUsageError(refusal.first);
                             inputs.vacuum.*box = text;
                         }});
    }
    for (const LifetimeName& l : kLifetimeNames) {
        const auto box = l.box;
        names.push_back({l.name, l.help, [box](State&, BatchInputs& inputs, const std::string& text) {
                             if (const std::optional<std::string> refusal = lifetimeBoxRefusal(box, text))
                                 throw BatchUsageError(*refusal);
                             inputs.lifetimeTyped.emplace_back(box, text);
                         }});
    }
    return names;
}

bool vacuumPumpList(State& state, const BatchInputs& inputs, Messages& messages)
{
    const std::optional<VacuumResult> result = runVacuum(state, inputs, messages);
    if (!result)
        return false;
    pumpPressureList(state, *result);
    messages.showList();
    return true;
}

std::optional<std::string> pressureProfileCsv(const State& state, const BatchInputs& inputs,
                                              Messages& messages)
{
    State scratch = state;
    const std::optional<VacuumResult> result = runVacuum(scratch, inputs, messages);
    if (!result)
        return std::nullopt;
    std::string text = "s_m,pressure_torr\n";
    for (int k = 1; k <= result->steps; ++k)
        text += fmt("%.12g,%.12g\n", result->position(k), result->pressure[static_cast<std::size_t>(k - 1)]);
    return text;
}

Json vacuumSection(const State& state, const BatchInputs& inputs, Messages& messages)
{
    State scratch = state;
    VacuumBoxes boxes = inputs.vacuum;
    FirstErrorMessages quiet; // the boxes were checked when they were set
    const std::optional<VacuumInput> input = readVacuumInput(boxes, quiet);
    const std::optional<VacuumResult> r = runVacuum(scratch, inputs, messages);
    if (!input || !r)
        return nullptr;
    Json pressures = Json::array();
    Json pumps = Json::array();
    for (const PumpPressure& pump : r->pumps) {
        pressures.push_back(reportNumber(pump.pressure));
        pumps.push_back({{"element", pump.element},
                         {"name", state.line.at(pump.element).name},
                         {"speed_l_per_s", reportNumber(pump.speed)},
                         {"s_m", reportNumber(pump.s)},
                         {"pressure_torr", reportNumber(pump.pressure)}});
    }
    return {{"inputs",
             {{"steps", input->steps},
              {"iterations", input->iterations},
              {"chamber_radius_m", reportNumber(input->chamberRadius)},
              {"thermal_desorption_torr_l_per_s_cm2", reportNumber(input->thermalDesorption)},
              {"photodesorption_yield", reportNumber(input->photodesorptionYield)},
              {"beam_current_a", reportNumber(state.beamCurrent)}}},
            {"average_pressure_torr", reportNumber(r->averagePressure)},
            {"pump_pressures_torr", pressures},
            {"pumps", pumps},
            {"profile", profileSummary(*r)},
            {"warnings", r->warnings}};
}

State preparedLifetime(const State& state, const BatchInputs& inputs, LifetimeBoxes& boxes,
                       std::vector<std::string>& defaults)
{
    State s = state;
    {
        // the ring and rf sections show what their computations say; the rf parameters of a closed ring
        // are there as the rf window leaves them, for the activation to take
        QuietMessages quiet;
        if (computeRing(s, quiet, inputs) && s.ringClosed)
            updateRfParameters(s, quiet);
    }
    // the pressure of the vacuum calculation, where the line has pumps to compute it
    if (hasPumps(s.line)) {
        QuietMessages quiet; // the vacuum section says what the calculation found
        runVacuum(s, inputs, quiet);
    }
    // what the window says when it comes up (a result not computed, its default taken) is the section's
    CollectedMessages said;
    activateLifetime(s, boxes, said);
    touschekMenu(s, boxes);
    for (const auto& [box, text] : inputs.lifetimeTyped)
        boxes.*box = text;
    defaults = said.texts;
    return s;
}

Json lifetimeSection(const State& state, const BatchInputs& inputs, Messages& messages)
{
    LifetimeBoxes boxes;
    std::vector<std::string> defaults;
    State s = preparedLifetime(state, inputs, boxes, defaults);

    const bool elastic = guarded(messages, [&] { return updateElastic(s, boxes, messages); }).has_value();
    const bool brems =
        guarded(messages, [&] { return updateBremsstrahlung(s, boxes, messages); }).has_value();
    const std::optional<QuantumLabels> quantum =
        guarded(messages, [&] { return updateQuantum(s, boxes, messages); });
    const std::optional<TouschekUpdate> touschek = guarded(messages, [&] {
        if (s.ringClosed)
            return runTouschekUpdate(s, boxes, messages);
        // a ring that is not closed has no rf system (and no rf window) to bring up to date
        equilibriumParameters(s);
        return updateTouschek(s, boxes, messages);
    });
    const Lifetimes& l = s.lifetimes;
    const std::optional<double> total = combinedLifetime(l);

    Json section;
    section["elastic_s"] = optionalNumber(l.elastic, elastic);
    section["bremsstrahlung_s"] = optionalNumber(l.bremsstrahlung, brems);
    section["quantum_energy_s"] =
        optionalNumber(quantum ? quantum->lifetime.energy.lifetime : 0, quantum.has_value());
    section["quantum_x_s"] = optionalNumber(quantum ? quantum->lifetime.x.lifetime : 0, quantum.has_value());
    section["quantum_y_s"] = optionalNumber(quantum ? quantum->lifetime.y.lifetime : 0, quantum.has_value());
    section["quantum_total_s"] = optionalNumber(l.quantum, quantum.has_value());
    section["touschek_s"] = optionalNumber(l.touschek, touschek && touschek->lifetime.lifetime);
    section["touschek_local_acceptance_s"] = nullptr;
    section["total_s"] = optionalNumber(total.value_or(0), total.has_value());
    section["total_text"] = combinedLifetimeText(l);
    section["defaults"] = defaults;
    section["inputs"] = lifetimeInputs(s, boxes, quantum, touschek);
    return section;
}

} // namespace kestrune

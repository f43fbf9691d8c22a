#include "cli/CouplingReport.h"

#include "core/Format.h"
#include "core/coupling/CoupledOptics.h"
#include "core/coupling/ModeEmittances.h"
#include "core/rf/CavitySystem.h"
#include "core/ring/Parameter.h"
#include "core/ring/RingGeometry.h"

#include <cmath>

namespace kestrune {

namespace {

ModeEmittances ringModeEmittances(const State& state)
{
    ModeEmittances none;
    const std::optional<State> ring = modeEmittanceRing(state, none.refusal);
    return ring ? modeEmittances(*ring) : none;
}

void addModeEmittances(Json& section, const State& state)
{
    const ModeEmittances modes = ringModeEmittances(state);
    const char* const keys[3] = {"emittance_1_m", "emittance_2_m", "emittance_3_m"};
    const char* const partitions[3] = {"damping_partition_1", "damping_partition_2", "damping_partition_3"};
    for (std::size_t k = 0; k < 3; ++k) {
        section[keys[k]] = modes.emittance[k] ? reportNumber(*modes.emittance[k]) : Json(nullptr);
        section[partitions[k]] = modes.computed ? reportNumber(modes.partition[k]) : Json(nullptr);
    }
    section["emittance_y_source"] =
        modes.computed ? Json(modeEmittanceView(state, modes).verticalSource) : Json(nullptr);
    if (!modes.refusal.empty() && section["message"].is_null())
        section["message"] = modes.refusal;
}

} // namespace

std::optional<State> modeEmittanceRing(const State& state, std::string& refusal)
{
    if (!state.ringClosed) {
        refusal = "the mode emittances need a closed ring";
        return std::nullopt;
    }
    State ring = state;
    QuietMessages quiet;
    const std::string superPeriods = fmt("%5d", ring.line.superPeriods);
    const std::string rf = ring.rf.frequency != 0 ? fmt("%10.5f", ring.rf.frequency / 1e6) : "500.0";
    if (!ringGeometry(ring, quiet, {superPeriods, rf}) || !takeCavitySystem(ring, quiet)) {
        refusal = "the mode emittances need the ring's geometry and one rf system";
        return std::nullopt;
    }
    return ring;
}

Json coupledPeriodicSection(const State& state)
{
    // the keys of the uncoupled section first, the planes' own betatron values null: a coupled cell has
    // Edwards-Teng values of its modes instead
    Json section = {
        {"stable", false},    {"beta_x_m", nullptr},    {"alpha_x", nullptr}, {"beta_y_m", nullptr},
        {"alpha_y", nullptr}, {"eta_x_m", nullptr},     {"eta_px", nullptr},  {"tune_x", nullptr},
        {"tune_y", nullptr},  {"eta_y_m", nullptr},     {"eta_py", nullptr},  {"tune_1", nullptr},
        {"tune_2", nullptr},  {"beta_1_m", nullptr},    {"alpha_1", nullptr}, {"beta_2_m", nullptr},
        {"alpha_2", nullptr}, {"r11", nullptr},         {"r12", nullptr},     {"r21", nullptr},
        {"r22", nullptr},     {"c_minus_abs", nullptr}, {"message", nullptr}};
    const CoupledRing ring = coupledRing(state);
    if (!ring.computed) {
        section["message"] = ring.refusal;
        return section;
    }
    const CoupledFunctions& start = ring.functions.front();
    const EdwardsTeng& et = start.et;
    section["stable"] = true;
    const std::pair<const char*, double> values[] = {
        {"eta_x_m", start.eta[0]}, {"eta_px", start.eta[1]}, {"eta_y_m", start.eta[2]},
        {"eta_py", start.eta[3]},  {"tune_1", ring.tune1},   {"tune_2", ring.tune2},
        {"beta_1_m", et.betaX},    {"alpha_1", et.alphaX},   {"beta_2_m", et.betaY},
        {"alpha_2", et.alphaY},    {"r11", et.r11},          {"r12", et.r12},
        {"r21", et.r21},           {"r22", et.r22}};
    for (const auto& [key, value] : values)
        section[key] = reportNumber(value);
    const CouplingCoefficient c = couplingCoefficient(state);
    if (c.computed)
        section["c_minus_abs"] = reportNumber(c.abs);
    return section;
}

Json coupledChromaticitySection(const State& state, const Json& wantedX, const Json& wantedY, const Json& mF,
                                const Json& mD, Messages& messages)
{
    // the modes' chromaticities of the ring's integrals, with the sextupoles of the lattice as it is
    State ring = state;
    radiationIntegrals(ring, messages);
    const RingParameters& r = ring.ringParams;
    if (!std::isfinite(r.chromaticityX) || !std::isfinite(r.chromaticityY))
        return nullptr;
    return {{"wanted_x", wantedX},
            {"wanted_y", wantedY},
            {"natural_x", nullptr},
            {"natural_y", nullptr},
            {"special_sextupoles_x", nullptr},
            {"special_sextupoles_y", nullptr},
            {"sf_sd_x", nullptr},
            {"sf_sd_y", nullptr},
            {"corrected_x", nullptr},
            {"corrected_y", nullptr},
            {"mf_per_m3", mF},
            {"md_per_m3", mD},
            {"natural_1", reportNumber(r.chromaticityX)},
            {"natural_2", reportNumber(r.chromaticityY)},
            {"corrected_1", reportNumber(r.correctedChromaticityX)},
            {"corrected_2", reportNumber(r.correctedChromaticityY)}};
}

Json couplingSection(const State& state)
{
    if (!lineCouples(state.line))
        return {{"coupled", false}};
    const CoupledRing ring = coupledRing(state);
    Json section = {{"coupled", true},
                    {"tune_1", nullptr},
                    {"tune_2", nullptr},
                    {"c_minus_abs", nullptr},
                    {"c_minus_re", nullptr},
                    {"c_minus_im", nullptr},
                    {"delta_q_min", nullptr},
                    {"knob_families", nullptr},
                    {"edwards_teng", nullptr},
                    {"mais_ripken", nullptr},
                    {"emittance_1_m", nullptr},
                    {"emittance_2_m", nullptr},
                    {"emittance_3_m", nullptr},
                    {"damping_partition_1", nullptr},
                    {"damping_partition_2", nullptr},
                    {"damping_partition_3", nullptr},
                    {"emittance_y_source", nullptr},
                    {"message", nullptr}};
    if (!ring.computed) {
        section["message"] = ring.refusal;
        return section;
    }
    section["tune_1"] = reportNumber(ring.tune1);
    section["tune_2"] = reportNumber(ring.tune2);
    const CouplingCoefficient c = couplingCoefficient(state);
    section["c_minus_abs"] = reportNumber(c.abs);
    section["c_minus_re"] = reportNumber(c.re);
    section["c_minus_im"] = reportNumber(c.im);
    const TuneApproach approach = closestTuneApproach(state);
    if (approach.computed) {
        section["delta_q_min"] = reportNumber(approach.deltaQMin);
        section["knob_families"] = {approach.familyA, approach.familyB};
    } else {
        section["message"] = approach.refusal;
    }
    const CoupledFunctions& start = ring.functions.front();
    const EdwardsTeng& et = start.et;
    section["edwards_teng"] = {{"beta_x_m", reportNumber(et.betaX)}, {"alpha_x", reportNumber(et.alphaX)},
                               {"beta_y_m", reportNumber(et.betaY)}, {"alpha_y", reportNumber(et.alphaY)},
                               {"r11", reportNumber(et.r11)},        {"r12", reportNumber(et.r12)},
                               {"r21", reportNumber(et.r21)},        {"r22", reportNumber(et.r22)}};
    const MaisRipken& mr = start.mr;
    section["mais_ripken"] = {{"beta_11_m", reportNumber(mr.beta11)},
                              {"beta_12_m", reportNumber(mr.beta12)},
                              {"beta_21_m", reportNumber(mr.beta21)},
                              {"beta_22_m", reportNumber(mr.beta22)}};
    addModeEmittances(section, state);
    return section;
}

} // namespace kestrune

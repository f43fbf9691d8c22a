#include "cli/CouplingReport.h"

#include "core/Format.h"
#include "core/coupling/CoupledOptics.h"
#include "core/coupling/ModeEmittances.h"
#include "core/rf/CavitySystem.h"
#include "core/ring/RingGeometry.h"

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

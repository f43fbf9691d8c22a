#include "cli/CouplingReport.h"

#include "core/coupling/CoupledOptics.h"

namespace kestrune {

Json couplingSection(const State& state)
{
    if (!lineCouples(state.line))
        return {{"coupled", false}};
    const CoupledRing ring = coupledRing(state);
    Json section = {{"coupled", true},        {"tune_1", nullptr},        {"tune_2", nullptr},
                    {"c_minus_abs", nullptr}, {"c_minus_re", nullptr},    {"c_minus_im", nullptr},
                    {"delta_q_min", nullptr}, {"knob_families", nullptr}, {"edwards_teng", nullptr},
                    {"mais_ripken", nullptr}, {"message", nullptr}};
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
    return section;
}

} // namespace kestrune

#include "cli/NonlinearReport.h"

#include "core/nonlinear/AmplitudeDetuning.h"
#include "core/nonlinear/ChromaticTunes.h"
#include "core/nonlinear/DrivingTerms.h"

#include <algorithm>

namespace kestrune {

namespace {

Json coefficients(const std::array<double, 4>& q)
{
    Json values = Json::array();
    for (double v : q)
        values.push_back(reportNumber(v));
    return values;
}

Json detuningKeys(const std::optional<DetuningCoefficients>& d)
{
    if (!d)
        return nullptr;
    return {
        {"dqx_djx", reportNumber(d->xx)}, {"dqx_djy", reportNumber(d->xy)}, {"dqy_djy", reportNumber(d->yy)}};
}

} // namespace

Json nonlinearSection(const State& state)
{
    Json section = {{"driving_terms", nullptr},
                    {"detuning", nullptr},
                    {"detuning_tracked", nullptr},
                    {"chromatic_fit", nullptr},
                    {"message", nullptr}};
    std::string refusal;
    // Q(delta) is tracked, so a ring that couples its planes has it (its eigentunes) where the driving
    // terms and the detuning of the uncoupled optics are refused
    const ChromaticScan chromatic;
    std::string chromaticRefusal;
    if (const std::optional<ChromaticTunes> q = chromaticTunes(state, chromatic, &chromaticRefusal))
        section["chromatic_fit"] = {{"qx_coefficients", coefficients(q->qx)},
                                    {"qy_coefficients", coefficients(q->qy)},
                                    {"delta_range", chromatic.range},
                                    {"fit_residual", reportNumber(q->residual)}};
    const std::optional<DrivingTerms> h = drivingTerms(state, &refusal);
    if (h) {
        Json terms = Json::object();
        for (int t = 0; t < kDrivingTermCount; ++t) {
            const std::complex<double> v = h->ring[t];
            terms[drivingTermName(static_cast<DrivingTerm>(t))] = {{"re", reportNumber(v.real())},
                                                                   {"im", reportNumber(v.imag())},
                                                                   {"abs", reportNumber(std::abs(v))}};
        }
        section["driving_terms"] = terms;
    } else {
        section["message"] = refusal;
        return section;
    }
    std::string detuningRefusal;
    section["detuning"] = detuningKeys(detuning(state, *h, &detuningRefusal));
    // the tracked detuning follows 9 particles through one cell: its turns keep that work to about 1e8
    // element passes (a 100 000-element cell in 0.3 s), at least 64 turns, at most the scan's 1024
    DetuningScan scan;
    const double passes = 9.0 * std::max(state.line.count, 1);
    scan.turns = static_cast<int>(std::clamp(1e8 / passes, 64.0, static_cast<double>(scan.turns)));
    section["detuning_tracked"] = detuningKeys(trackedDetuning(state, scan, &detuningRefusal));
    if (!detuningRefusal.empty())
        section["message"] = detuningRefusal;
    if (!chromaticRefusal.empty())
        section["message"] = chromaticRefusal;
    return section;
}

} // namespace kestrune

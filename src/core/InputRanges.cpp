#include "core/InputRanges.h"

#include "core/BeamLine.h"
#include "core/Format.h"

#include <algorithm>
#include <cmath>

namespace kestrune {

namespace {

// A limit as a user would type it: "100000", "0.5", "1e+10"
std::string limitText(double value, const char* unit)
{
    const std::string number =
        value == std::floor(value) && std::fabs(value) < 1e10 ? fmt("%.0f", value) : shortestFloat(value);
    return unit[0] == '\0' ? number : number + " " + unit;
}

} // namespace

std::optional<std::string> firstRefusal(std::initializer_list<std::pair<const InputRange*, double>> values)
{
    for (const auto& [range, value] : values)
        if (std::optional<std::string> refusal = rangeRefusal(*range, value))
            return refusal;
    return std::nullopt;
}

std::optional<std::string> rangeRefusal(const InputRange& range, double value)
{
    // the message is made only for a value refused: the readers ask for every field of every element
    const bool belowMin = !(range.aboveMin ? value > range.min : value >= range.min);
    const bool belowSmallest = !belowMin && range.aboveMin && value < range.smallest;
    const bool aboveMax = !belowMin && !belowSmallest && !(value <= range.max);
    const bool fraction = range.wholeNumber && value != std::floor(value);
    if (!belowMin && !belowSmallest && !aboveMax && !fraction)
        return std::nullopt;
    const std::string name = range.name;
    if (belowMin) {
        if (range.aboveMin)
            return name + " must be above " + limitText(range.min, range.unit) + "!";
        if (range.min == 0)
            return name + " must not be negative!";
        return name + " must be at least " + limitText(range.min, range.unit) + "!";
    }
    if (belowSmallest)
        return name + " must be at least " + limitText(range.smallest, range.unit) + "!";
    if (aboveMax)
        return name + " must be at most " + limitText(range.max, range.unit) + "!";
    return name + " must be a whole number!";
}

std::optional<std::string> elementRefusal(const LatticeElement& e)
{
    if (std::optional<std::string> refusal = nameRefusal(e.name))
        return refusal;
    const struct
    {
        const InputRange& range;
        double value;
    } fields[] = {
        {ranges::kElementLength, e.length},
        {ranges::kCurvature, e.curvature},
        {ranges::kPoleFaceAngle, e.ain},
        {ranges::kPoleFaceAngle, e.aout},
        {ranges::kMagnetGap, e.gap},
        {ranges::kStrength, e.k},
        {ranges::kSextupoleStrength, e.m},
        {ranges::kPumpingSpeed, e.pumpSpeed},
        {ranges::kLinacField, e.linacField},
        {ranges::kElectrodes, e.electrodes},
        {ranges::kEnergyGain, e.energyGain},
        {ranges::kOctupoleStrength, e.k3},
        {ranges::kSkewStrength, e.k1s},
        {ranges::kSolenoidStrength, e.ks},
        {ranges::kRollAngle, e.tilt},
        {ranges::kKickAngle, e.hkick},
        {ranges::kKickAngle, e.vkick},
        {ranges::kCavityVoltage, e.voltage},
        {ranges::kCavityLag, e.lag},
        {ranges::kCavityHarmonic, e.harmonic},
        {ranges::kCavityFrequency, e.frequency},
    };
    for (const auto& field : fields) {
        if (std::optional<std::string> refusal = rangeRefusal(field.range, field.value))
            return refusal;
    }
    const std::size_t orders = kMaxMultipoleOrder + 1;
    if (e.knl.size() > orders || e.ksl.size() > orders)
        return "a thin multipole holds orders 0 to " + std::to_string(kMaxMultipoleOrder) + ", not " +
               std::to_string(std::max(e.knl.size(), e.ksl.size()) - 1);
    for (const std::vector<double>* strengths : {&e.knl, &e.ksl})
        for (double v : *strengths)
            if (std::optional<std::string> refusal = rangeRefusal(ranges::kMultipoleStrength, v))
                return refusal;
    const ElementErrors& err = e.errors;
    if (err.dkn.size() > orders || err.dks.size() > orders)
        return "field errors have orders 0 to " + std::to_string(kMaxMultipoleOrder) + ", not " +
               std::to_string(std::max(err.dkn.size(), err.dks.size()) - 1);
    for (const std::vector<double>* strengths : {&err.dkn, &err.dks})
        for (double v : *strengths)
            if (std::optional<std::string> refusal = rangeRefusal(ranges::kMultipoleStrength, v))
                return refusal;
    if (std::optional<std::string> refusal = firstRefusal({{&ranges::kMisalignment, err.dx},
                                                           {&ranges::kMisalignment, err.dy},
                                                           {&ranges::kMisalignment, err.ds},
                                                           {&ranges::kMisalignmentAngle, err.dtheta},
                                                           {&ranges::kMisalignmentAngle, err.dphi},
                                                           {&ranges::kMisalignmentAngle, err.dpsi}}))
        return refusal;
    if (e.code == code::kRfCavity && e.harmonic == 0 && e.frequency == 0)
        return std::string("an rf cavity needs a harmonic number or a frequency");
    const ElementAperture& a = e.aperture;
    const int sizes[] = {0, 1, 2, 2, 4};
    const int type = static_cast<int>(a.type);
    if (type < 0 || type > 4)
        return std::string("the aperture type must be circle, rectangle, ellipse or rectellipse");
    for (int k = 0; k < sizes[type]; ++k)
        if (std::optional<std::string> refusal = rangeRefusal(ranges::kApertureSize, a.a[k]))
            return refusal;
    return firstRefusal({{&ranges::kApertureOffset, a.dx}, {&ranges::kApertureOffset, a.dy}});
}

} // namespace kestrune

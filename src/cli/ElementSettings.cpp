#include "cli/ElementSettings.h"

#include "cli/BatchSettings.h"
#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/NumberInput.h"

#include <algorithm>
#include <optional>

namespace kestrune {

namespace {

enum class Holder { Cavity, Octupole, Solenoid, HorizontalKick, VerticalKick, Multipole, SkewQuad, Magnet };

struct ElementField
{
    std::string name;
    const InputRange* range;
    Holder holder;
    int order = -1;    // knl / ksl order
    bool skew = false; // ksl
};

std::vector<ElementField> makeFields()
{
    std::vector<ElementField> fields = {
        {"voltage", &ranges::kCavityVoltage, Holder::Cavity},
        {"lag", &ranges::kCavityLag, Holder::Cavity},
        {"harmonic", &ranges::kCavityHarmonic, Holder::Cavity},
        {"frequency", &ranges::kCavityFrequency, Holder::Cavity},
        {"k3", &ranges::kOctupoleStrength, Holder::Octupole},
        {"ks", &ranges::kSolenoidStrength, Holder::Solenoid},
        {"hkick", &ranges::kKickAngle, Holder::HorizontalKick},
        {"vkick", &ranges::kKickAngle, Holder::VerticalKick},
        {"k1s", &ranges::kSkewStrength, Holder::SkewQuad},
        {"tilt", &ranges::kRollAngle, Holder::Magnet},
    };
    for (int skew = 0; skew <= 1; ++skew)
        for (int n = 0; n <= kMaxMultipoleOrder; ++n)
            fields.push_back({(skew ? "ksl" : "knl") + std::to_string(n), &ranges::kMultipoleStrength,
                              Holder::Multipole, n, skew == 1});
    return fields;
}

const std::vector<ElementField>& fields()
{
    static const std::vector<ElementField> table = makeFields();
    return table;
}

bool holds(Holder holder, int c)
{
    switch (holder) {
    case Holder::Cavity:
        return c == code::kRfCavity;
    case Holder::Octupole:
        return c == code::kOctupole;
    case Holder::Solenoid:
        return c == code::kSolenoid;
    case Holder::HorizontalKick:
        return c == code::kHorizontalKicker || c == code::kKicker;
    case Holder::VerticalKick:
        return c == code::kVerticalKicker || c == code::kKicker;
    case Holder::Multipole:
        return c == code::kThinMultipole;
    case Holder::SkewQuad:
        return familyOf(c) == 1 || familyOf(c) == 2;
    case Holder::Magnet:
        return (familyOf(c) >= 1 && familyOf(c) <= 3) || c == code::kThinMultipole || c == code::kOctupole;
    }
    return false;
}

void store(LatticeElement& e, const ElementField& field, double value)
{
    if (field.holder == Holder::Multipole) {
        std::vector<double>& strengths = field.skew ? e.ksl : e.knl;
        const auto index = static_cast<std::size_t>(field.order);
        if (strengths.size() <= index)
            strengths.resize(index + 1, 0.0);
        strengths[index] = value;
        while (!strengths.empty() && strengths.back() == 0)
            strengths.pop_back();
        return;
    }
    double LatticeElement::*member = nullptr;
    if (field.name == "voltage")
        member = &LatticeElement::voltage;
    else if (field.name == "lag")
        member = &LatticeElement::lag;
    else if (field.name == "harmonic")
        member = &LatticeElement::harmonic;
    else if (field.name == "frequency")
        member = &LatticeElement::frequency;
    else if (field.name == "k3")
        member = &LatticeElement::k3;
    else if (field.name == "ks")
        member = &LatticeElement::ks;
    else if (field.name == "hkick")
        member = &LatticeElement::hkick;
    else if (field.name == "vkick")
        member = &LatticeElement::vkick;
    else if (field.name == "k1s")
        member = &LatticeElement::k1s;
    else
        member = &LatticeElement::tilt;
    e.*member = value;
}

std::string elementWords(const LatticeElement& e, int i)
{
    return "element '" + excerpt(e.name) + "' (" + std::to_string(i) + ")";
}

} // namespace

std::string elementFieldsHelp()
{
    return "ELEMENT.FIELD: a field of every element of that name: voltage (V), lag (2 pi), harmonic, "
           "frequency (Hz) of an rf cavity, k3, ks, hkick, vkick (rad), knl0..knl9, ksl0..ksl9, k1s, tilt "
           "(rad)";
}

bool applyElementSetting(State& state, const std::string& name, const std::string& text, bool checkOnly)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return false;
    const std::string elementName = name.substr(0, dot);
    const std::string fieldName = name.substr(dot + 1);
    const auto field = std::find_if(fields().begin(), fields().end(),
                                    [&](const ElementField& f) { return f.name == fieldName; });
    BeamLine& line = state.line;
    const int last = std::max(line.count, std::min(state.ringElementCount, line.slotCount()));
    std::vector<int> named;
    for (int i = 1; i <= last; ++i)
        if (line.at(i).name == elementName)
            named.push_back(i);
    if (checkOnly) {
        if (field == fields().end())
            return false;
        parseDouble(text);
        return true;
    }
    if (named.empty())
        return false;
    const LatticeElement& first = line.at(named.front());
    if (field == fields().end())
        throw BatchUsageError(elementWords(first, named.front()) + " has no field '" + excerpt(fieldName) +
                              "' (" + elementFieldsHelp() + ")");
    const double value = parseDouble(text);
    std::vector<LatticeElement> changed;
    for (int i : named) {
        LatticeElement e = line.at(i);
        if (!holds(field->holder, e.code))
            throw BatchUsageError(elementWords(e, i) + " is a " + kindName(kindOf(e.code)) +
                                  ", which has no " + field->name);
        if (const std::optional<std::string> refusal = rangeRefusal(*field->range, value))
            throw BatchUsageError(elementWords(e, i) + ": " + *refusal);
        store(e, *field, value);
        if (const std::optional<std::string> refusal = elementRefusal(e))
            throw BatchUsageError(elementWords(e, i) + ": " + *refusal);
        changed.push_back(std::move(e));
    }
    for (std::size_t k = 0; k < named.size(); ++k)
        line.at(named[k]) = std::move(changed[k]);
    return true;
}

} // namespace kestrune

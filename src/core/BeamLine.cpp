#include "core/BeamLine.h"

#include "core/Format.h"

#include <algorithm>
#include <stdexcept>

namespace kestrune {

std::string editorWords(int elementCode, double k)
{
    switch (elementCode) {
    case code::kDrift:
        return " drift space";
    case code::kLinac:
        return " linac section";
    case code::kEinzelLens:
        return " einzel lens";
    case code::kElectrostatic:
        return " el.stat.Accelerator";
    case code::kRectangularBend:
        return " rect. magnet ";
    case code::kSectorBend:
        return " sector magnet ";
    case code::kWedgeBend:
        return " wedge Magnet ";
    case code::kQuadrupole:
    case code::kQuadrupoleOld1:
    case code::kQuadrupoleOld2:
        return k >= 0 ? " foc. quadrupole " : " defoc. quadrupole ";
    case code::kSextupoleF:
        return " SF-sextupole ";
    case code::kSextupoleD:
        return " SD-sextupole ";
    case code::kSextupoleSpecial:
        return " special sextupole ";
    case code::kPump:
        return " vacuum pump ";
    case code::kAlphaFirstHalf:
        return " 1st half of alpha magnet ";
    case code::kAlphaSecondHalf:
        return " 2nd half of alpha magnet ";
    case code::kAlphaFull:
        return " full alpha magnet ";
    case code::kThinMultipole:
        return " thin multipole ";
    case code::kOctupole:
        return " octupole ";
    case code::kSolenoid:
        return " solenoid ";
    case code::kHorizontalKicker:
        return " horizontal kicker ";
    case code::kVerticalKicker:
        return " vertical kicker ";
    case code::kKicker:
        return " kicker ";
    case code::kMarker:
        return " marker ";
    case code::kHorizontalMonitor:
        return " horizontal monitor ";
    case code::kVerticalMonitor:
        return " vertical monitor ";
    case code::kMonitor:
        return " monitor ";
    case code::kRfCavity:
        return " rf cavity ";
    default:
        return {};
    }
}

const char* kindName(int kind)
{
    static const char* const kNames[kKindCount] = {"drift space",
                                                   "bending magnet",
                                                   "quadrupole",
                                                   "sextupole",
                                                   "vacuum pump",
                                                   "alpha-magnet",
                                                   "linear accelerator",
                                                   "Einzellens",
                                                   "el.stat Accelerator",
                                                   "thin multipole",
                                                   "octupole",
                                                   "solenoid",
                                                   "kicker",
                                                   "monitor",
                                                   "marker",
                                                   "rf cavity"};
    return kind >= 0 && kind < kKindCount ? kNames[kind] : "";
}

int kindCode(int kind)
{
    static const int kCodes[kKindCount] = {
        code::kDrift,         code::kSectorBend,    code::kQuadrupole, code::kSextupoleF,
        code::kPump,          code::kAlphaFull,     code::kLinac,      code::kEinzelLens,
        code::kElectrostatic, code::kThinMultipole, code::kOctupole,   code::kSolenoid,
        code::kKicker,        code::kMonitor,       code::kMarker,     code::kRfCavity};
    return kind >= 0 && kind < kKindCount ? kCodes[kind] : 0;
}

int kindOf(int elementCode)
{
    switch (elementCode) {
    case code::kLinac:
        return 6;
    case code::kEinzelLens:
        return 7;
    case code::kElectrostatic:
        return 8;
    case code::kThinMultipole:
        return 9;
    case code::kOctupole:
        return 10;
    case code::kSolenoid:
        return 11;
    case code::kHorizontalKicker:
    case code::kVerticalKicker:
    case code::kKicker:
        return 12;
    case code::kHorizontalMonitor:
    case code::kVerticalMonitor:
    case code::kMonitor:
        return 13;
    case code::kMarker:
        return 14;
    case code::kRfCavity:
        return 15;
    default:
        break;
    }
    switch (familyOf(elementCode)) {
    case static_cast<int>(Family::Bend):
        return 1;
    case static_cast<int>(Family::Quadrupole):
        return 2;
    case static_cast<int>(Family::Sextupole):
        return 3;
    case static_cast<int>(Family::Pump):
        return 4;
    case static_cast<int>(Family::AlphaMagnet):
        return 5;
    default:
        return 0;
    }
}

std::string elementName(const std::string& typed)
{
    const std::size_t first = typed.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return typed.substr(first, typed.find_last_not_of(' ') - first + 1);
}

std::optional<std::string> nameRefusal(const std::string& name)
{
    // bytes from 0x80 up are the parts of UTF-8 characters, which names may hold
    const bool control = std::any_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    });
    if (!control)
        return std::nullopt;
    return "the element name '" + excerpt(name) + "' holds a control character";
}

std::size_t nameLength(const std::string& name)
{
    // UTF-8 continuation bytes (10xxxxxx) do not start a character
    return static_cast<std::size_t>(std::count_if(
        name.begin(), name.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string nameField(const std::string& name, std::size_t width)
{
    const std::size_t n = nameLength(name);
    return n >= width ? name : name + std::string(width - n, ' ');
}

bool ElementErrors::fieldErrors() const
{
    const auto nonzero = [](double v) { return v != 0; };
    return std::any_of(dkn.begin(), dkn.end(), nonzero) || std::any_of(dks.begin(), dks.end(), nonzero);
}

std::optional<std::string> uncoupledOpticsRefusal(const LatticeElement& e, int i)
{
    const auto refusal = [&](const std::string& what) {
        return "element '" + excerpt(e.name) + "' (" + std::to_string(i) + ") " + what;
    };
    // the kick of a corrector or of a multipole's dipole component moves the closed orbit off the design
    if (e.hkick != 0 || e.vkick != 0)
        return refusal("has a kick: the optics on the design orbit cannot take it");
    if (!e.knl.empty() && e.knl[0] != 0)
        return refusal("has a dipole component knl[0]: the optics on the design orbit cannot take it");
    if (!e.ksl.empty() && e.ksl[0] != 0)
        return refusal("has a skew dipole component ksl[0]: the optics on the design orbit cannot take it");
    if (e.k1s != 0)
        return refusal("has a skew quadrupole component k1s: the uncoupled optics cannot take it");
    if (e.ks != 0)
        return refusal("is a solenoid with a field ks: the uncoupled optics cannot take it");
    // a roll turns the fields of a magnet whose linear optics are not a drift's; that of a corrector, a
    // sextupole or an octupole only turns what it does off the design orbit
    const int family = familyOf(e.code);
    const bool linearField = family == static_cast<int>(Family::Bend) ||
                             family == static_cast<int>(Family::Quadrupole) ||
                             e.code == code::kThinMultipole || e.code == code::kSolenoid;
    if (e.tilt != 0 && linearField)
        return refusal("is rolled (tilt): the uncoupled optics cannot take it");
    if (e.ksl.size() > 1 && e.ksl[1] != 0)
        return refusal("has a skew quadrupole component ksl[1]: the uncoupled optics cannot take it");
    return std::nullopt;
}

std::optional<std::string> lineOpticsRefusal(const BeamLine& line)
{
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i)
        if (std::optional<std::string> refusal = uncoupledOpticsRefusal(line.at(i), i))
            return refusal;
    return std::nullopt;
}

std::size_t nameColumnWidth(const BeamLine& line)
{
    std::size_t width = kShortNameLength;
    for (int i = 1; i <= line.count && i <= kMaxLineElements && width < kWidestNameColumn; ++i) {
        // a name has no more characters than bytes: only one longer in bytes can widen the column
        const std::string& name = line.at(i).name;
        if (name.size() > width)
            width = std::max(width, nameLength(name));
    }
    return std::min(width, kWidestNameColumn);
}

const LatticeElement& BeamLine::freshElement(int i)
{
    static const LatticeElement fresh;
    if (i < 1 || i > kMaxLineElements)
        throw std::out_of_range("beam-line index " + std::to_string(i));
    return fresh;
}

const ElementShape& BeamLine::freshShape(int i)
{
    static const ElementShape fresh;
    if (i < 1 || i > kMaxLineElements)
        throw std::out_of_range("shape index " + std::to_string(i));
    return fresh;
}

BeamLine::Block& BeamLine::grow(int i)
{
    if (i < 1 || i > kMaxLineElements)
        throw std::out_of_range("beam-line index " + std::to_string(i));
    const std::size_t needed = (static_cast<std::size_t>(i) >> kBlockBits) + 1;
    // the blocks move, the records they hold do not: each block's vectors keep their storage
    m_blocks.reserve(std::max(needed, 2 * m_blocks.size()));
    while (m_blocks.size() < needed) {
        Block& made = m_blocks.emplace_back();
        made.elements.resize(kBlockSize);
        made.shapes.resize(kBlockSize);
    }
    return m_blocks[needed - 1];
}

int BeamLine::slotCount() const
{
    const long long made = static_cast<long long>(m_blocks.size()) * kBlockSize - 1;
    return static_cast<int>(std::clamp<long long>(made, count, kMaxLineElements));
}

void BeamLine::makeFreshTable()
{
    m_blocks.clear();
    m_blocks.shrink_to_fit();
    count = 0;
    length = 0;
}

void BeamLine::chainPositions(int from)
{
    for (int j = from < 1 ? 1 : from; j <= count; ++j)
        at(j).s = j == 1 ? 0.0 : at(j - 1).s + at(j - 1).length;
    length = endPosition();
}

int BeamLine::sliceCap() const
{
    return std::clamp(kMaxLineSlices / std::max(count, 1), 1, kMaxElementSlices);
}

double BeamLine::endPosition() const
{
    return count > 0 ? at(count).s + at(count).length : 0.0;
}

} // namespace kestrune

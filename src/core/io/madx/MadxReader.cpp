#include "core/io/madx/MadxReader.h"

#include "core/Constants.h"
#include "core/Drawing.h"
#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/Kinematics.h"
#include "core/io/SafeFile.h"
#include "core/io/madx/MadxExport.h"
#include "core/io/madx/MadxInput.h"
#include "core/optics/BetaFunctions.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>
#include <unordered_map>

namespace kestrune {

namespace {

// Gaps and overlaps of sequence nodes below this are rounding, not drifts (MAD-X's own threshold).
constexpr double kPositionTolerance = 1e-6; // m
// Nodes a sequence may expand to before it is refused as far too long.
constexpr std::size_t kNodeLimit = 1000000;

// An element as messages name it: "qf (quadrupole)".
std::string where(const MadxElement& def)
{
    return def.name + " (" + def.base + ")";
}

// The kinds whose roll (TILT) the program keeps: magnets and correctors.
bool rollable(int elementCode)
{
    const int family = familyOf(elementCode);
    return family == static_cast<int>(Family::Bend) || family == static_cast<int>(Family::Quadrupole) ||
           family == static_cast<int>(Family::Sextupole) || family == static_cast<int>(Family::Multipole) ||
           family == static_cast<int>(Family::Kicker);
}

// A node of the expanded beam line: an element with its entrance (sequences) or in line order.
struct Node
{
    const MadxElement* element = nullptr; // nullptr: a drift made from the positions
    double entry = 0;
    double length = 0;
    int order = 0;
    bool reflected = false;             // by seqedit's reflect: the exit face comes first
    const MadxAttrs* offsets = nullptr; // the permanent misalignments given at the placement
    MadxOrigin origin;
};

/// Turns the chosen beam line of a read input into the program's beam line.
class LatticeBuilder
{
public:
    LatticeBuilder(MadxInput& in, MadxImportSummary& summary) : m_in(in), m_summary(summary) {}

    void build(State& state);

private:
    [[noreturn]] void fail(const std::string& text, int line) const { throw MadxError(text, line); }

    void sequenceNodes(const MadxSequence& seq, double offset, std::vector<Node>& out, int depth);
    std::vector<double> referencePositions(const MadxSequence& seq);
    std::vector<Node> beamLineNodes();
    void applyEdits(const MadxSequence& seq, std::vector<Node>& placed);
    bool mapElement(const MadxElement& def, LatticeElement& out);
    ElementAperture aperture(const MadxElement& def);
    void applyBeam(State& state);
    void applyRing(State& state, const std::vector<Node>& nodes);

    MadxInput& m_in;
    MadxImportSummary& m_summary;
    // the first HARMON and FREQ (Hz) of the line's cavities, for the cavities that give neither
    double m_cavityHarmonic = 0;
    double m_cavityFrequency = 0;
    std::unordered_map<const MadxSequence*, std::vector<Node>> m_expanded; // nested sequences, from 0
};

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string nodeName(const MadxPlacement& p)
{
    return lowerCase(p.element ? p.element->name : p.sequence->name);
}

// Positions of the reference points of a sequence's nodes, following from= chains without recursion: the
// first node of a name is the one from= refers to, found in a map.
std::vector<double> LatticeBuilder::referencePositions(const MadxSequence& seq)
{
    const std::size_t n = seq.nodes.size();
    // the names are needed only when a node gives from=
    std::unordered_map<std::string, std::size_t> byName;
    if (std::any_of(seq.nodes.begin(), seq.nodes.end(),
                    [](const MadxPlacement& p) { return !p.from.empty(); }))
        for (std::size_t j = 0; j < n; ++j)
            byName.emplace(nodeName(seq.nodes[j]), j);
    enum : char { New, Busy, Done };
    std::vector<char> state(n, New);
    std::vector<double> positions(n, 0);
    std::vector<std::size_t> chain;
    for (std::size_t i = 0; i < n; ++i) {
        // walk the from= chain down to a node that is placed, then place the chain back up
        for (std::size_t j = i; state[j] == New;) {
            state[j] = Busy;
            chain.push_back(j);
            const MadxPlacement& p = seq.nodes[j];
            if (p.from.empty())
                break;
            const auto target = byName.find(p.from);
            if (target == byName.end())
                fail("from=" + excerpt(p.from) + " names no node of sequence " + seq.name, p.origin.line);
            if (state[target->second] == Busy)
                fail("the positions of sequence " + seq.name +
                         " refer to each other in a circle (from=" + excerpt(p.from) + ")",
                     p.origin.line);
            j = target->second;
        }
        for (auto k = chain.rbegin(); k != chain.rend(); ++k) {
            const MadxPlacement& p = seq.nodes[*k];
            positions[*k] = m_in.value(p.at) + (p.from.empty() ? 0.0 : positions[byName.at(p.from)]);
            state[*k] = Done;
        }
        chain.clear();
    }
    return positions;
}

void LatticeBuilder::sequenceNodes(const MadxSequence& seq, double offset, std::vector<Node>& out, int depth)
{
    if (depth > 50)
        fail("sequence " + seq.name + " contains itself", seq.origin.line);
    const std::vector<double> positions = referencePositions(seq);
    for (std::size_t i = 0; i < seq.nodes.size(); ++i) {
        const MadxPlacement& p = seq.nodes[i];
        if (out.size() > kNodeLimit)
            fail("sequence " + seq.name + " expands to more than " + std::to_string(kNodeLimit) + " nodes",
                 seq.origin.line);
        if (p.sequence) {
            // the inner sequence is expanded once, from 0, then shifted into place: by its refer point, or
            // by the centre of its refpos element
            const MadxSequence& inner = *p.sequence;
            if (m_expanded.count(&inner) == 0) {
                std::vector<Node> nodes;
                sequenceNodes(inner, 0, nodes, depth + 1);
                m_expanded[&inner] = std::move(nodes);
            }
            std::vector<Node> innerNodes = m_expanded[&inner];
            double reference = seq.refer * m_in.value(inner.length);
            if (!inner.refpos.empty()) {
                const auto at = std::find_if(innerNodes.begin(), innerNodes.end(), [&](const Node& n) {
                    return n.element != nullptr && lowerCase(n.element->name) == inner.refpos;
                });
                if (at == innerNodes.end())
                    fail("refpos=" + excerpt(inner.refpos) + " names no element of sequence " + inner.name,
                         inner.origin.line);
                reference = at->entry + at->length / 2;
            }
            const double shift = offset + positions[i] - reference;
            for (Node& n : innerNodes) {
                n.entry += shift;
                out.push_back(n);
            }
            continue;
        }
        Node n;
        n.element = p.element.get();
        n.offsets = &p.offsets;
        n.length = m_in.elementLength(*p.element);
        n.entry = offset + positions[i] - seq.refer * n.length;
        n.origin = p.origin;
        out.push_back(n);
    }
}

// seqedit's reflect (s -> L - s, the order reversed) and cycle (the start element at s = 0, the nodes
// before it moved behind the end), in the order they were given.
void LatticeBuilder::applyEdits(const MadxSequence& seq, std::vector<Node>& placed)
{
    if (seq.edits.empty())
        return;
    const double length = m_in.value(seq.length);
    for (const MadxSequenceEdit& edit : seq.edits) {
        if (edit.kind == MadxSequenceEdit::Kind::Reflect) {
            std::reverse(placed.begin(), placed.end());
            for (Node& n : placed) {
                n.entry = length - n.entry - n.length;
                n.reflected = !n.reflected;
            }
            continue;
        }
        std::stable_sort(placed.begin(), placed.end(), [](const Node& a, const Node& b) {
            return std::llround(a.entry / kPositionTolerance) < std::llround(b.entry / kPositionTolerance);
        });
        const auto start = std::find_if(placed.begin(), placed.end(), [&](const Node& n) {
            return n.element != nullptr && lowerCase(n.element->name) == edit.start;
        });
        if (start == placed.end())
            throw MadxError("cycle: start=" + excerpt(edit.start) + " is not in sequence " + seq.name,
                            edit.origin.line, edit.origin.file);
        const double origin = start->entry;
        std::rotate(placed.begin(), start, placed.end());
        for (Node& n : placed) {
            n.entry -= origin;
            if (n.entry < -kPositionTolerance)
                n.entry += length;
        }
    }
}

std::vector<Node> LatticeBuilder::beamLineNodes()
{
    std::vector<Node> nodes;
    if (m_in.useSequence() == nullptr) {
        double s = 0;
        for (const MadxElement* e : m_in.useLine()) {
            Node n;
            n.element = e;
            n.length = m_in.elementLength(*e);
            n.entry = s;
            n.origin = e->origin;
            s += n.length;
            nodes.push_back(n);
        }
        return nodes;
    }
    const MadxSequence& seq = *m_in.useSequence();
    std::vector<Node> placed;
    sequenceNodes(seq, 0, placed, 0);
    applyEdits(seq, placed);
    for (std::size_t i = 0; i < placed.size(); ++i)
        placed[i].order = static_cast<int>(i);
    // nodes at one position (within rounding) keep the order in which they were written
    std::stable_sort(placed.begin(), placed.end(), [](const Node& a, const Node& b) {
        return std::llround(a.entry / kPositionTolerance) < std::llround(b.entry / kPositionTolerance);
    });
    double cursor = 0;
    const Node* previous = nullptr;
    for (const Node& n : placed) {
        const double gap = n.entry - cursor;
        if (gap < -kPositionTolerance)
            fail("negative drift: " + n.element->name + " starts at " + shortestFloat(n.entry) +
                     " m, before " +
                     (previous ? previous->element->name + " ends at "
                               : std::string("the sequence starts at ")) +
                     shortestFloat(cursor) + " m",
                 n.origin.line);
        if (gap > kPositionTolerance) {
            Node drift;
            drift.entry = cursor;
            drift.length = gap;
            nodes.push_back(drift);
        }
        nodes.push_back(n);
        // a node off by rounding starts where the one before ended
        cursor = gap > kPositionTolerance ? n.entry + n.length : cursor + n.length;
        previous = &n;
    }
    const double end = m_in.value(seq.length);
    if (cursor - end > kPositionTolerance)
        fail((previous ? previous->element->name : std::string("a node")) + " ends at " +
                 shortestFloat(cursor) + " m, beyond the length of sequence " + seq.name + " (" +
                 shortestFloat(end) + " m)",
             previous ? previous->origin.line : seq.origin.line);
    if (end - cursor > kPositionTolerance) {
        Node drift;
        drift.entry = cursor;
        drift.length = end - cursor;
        nodes.push_back(drift);
    }
    return nodes;
}

// ----- mapping onto the program's elements

// The element's own aperture: MAD-X's APERTYPE (circle when only APERTURE is given, rectcircle a
// rectellipse of equal half axes c = d), APERTURE in m and APER_OFFSET {dx, dy}. An aperture of zero
// sizes is no aperture, as MAD-X takes it.
ElementAperture LatticeBuilder::aperture(const MadxElement& def)
{
    ElementAperture a;
    const std::vector<double> sizes = m_in.array(def, "aperture");
    const std::vector<double> offsets = m_in.array(def, "aper_offset");
    a.dx = offsets.empty() ? 0.0 : offsets[0];
    a.dy = offsets.size() < 2 ? 0.0 : offsets[1];
    if (std::all_of(sizes.begin(), sizes.end(), [](double v) { return v == 0; }))
        return a;
    const auto type = def.attrs.find("apertype");
    const std::string name = type == def.attrs.end() ? "circle" : lowerCase(type->second.text);
    static const std::pair<const char*, ApertureType> kTypes[] = {{"circle", ApertureType::Circle},
                                                                  {"rectangle", ApertureType::Rectangle},
                                                                  {"ellipse", ApertureType::Ellipse},
                                                                  {"rectellipse", ApertureType::RectEllipse},
                                                                  {"rectcircle", ApertureType::RectEllipse}};
    const auto known =
        std::find_if(std::begin(kTypes), std::end(kTypes), [&](const auto& t) { return name == t.first; });
    if (known == std::end(kTypes) || sizes.size() > 4)
        throw MadxError((known == std::end(kTypes)
                             ? "the aperture type " + excerpt(name, 40) + " is not supported"
                             : std::string("an aperture has at most 4 sizes")) +
                            " (" + where(def) + ")",
                        def.origin.line, def.origin.file);
    a.type = known->second;
    std::copy(sizes.begin(), sizes.end(), a.a);
    if (name == "rectcircle")
        a.a[3] = a.a[2];
    return a;
}

// MAD-X's classes onto the program's kinds. Magnets keep their roll (TILT) and a quadrupole or bend its
// skew gradient K1S; the optics refuse them later by name. A quadrupole, sextupole or octupole of length
// 0 is MAD-X's thick element of no length: its integrated strength k l is 0 and it acts on nothing, so it
// becomes a thin multipole of that order with a zero component. Kickers take MAD-X's KICK (h/vkicker) or
// HKICK and VKICK (kicker, tkicker), cavities VOLT in MV, LAG in units of 2 pi, HARMON and FREQ in MHz.
bool LatticeBuilder::mapElement(const MadxElement& def, LatticeElement& out)
{
    const std::string& cls = def.base;
    const int line = def.origin.line;
    auto refuse = [&](const std::string& what) -> bool {
        throw MadxError(what + " (" + where(def) + ")", line, def.origin.file);
    };
    const bool skewGradient = cls == "quadrupole" || cls == "sbend" || cls == "rbend";
    if ((!skewGradient && m_in.number(def, "k1s") != 0) || m_in.number(def, "k2s") != 0 ||
        m_in.number(def, "k3s") != 0)
        refuse("skew components are not supported");
    out = LatticeElement{};
    out.name = def.name;
    const double l = m_in.elementLength(def);
    out.length = l;
    out.aperture = aperture(def);
    static const std::set<std::string> kRolled{"sbend",    "rbend",     "quadrupole", "sextupole",
                                               "octupole", "multipole", "solenoid",   "hkicker",
                                               "vkicker",  "kicker",    "tkicker"};
    if (kRolled.count(cls) > 0)
        out.tilt = m_in.number(def, "tilt");
    if (skewGradient)
        out.k1s = m_in.number(def, "k1s");
    // a thick lens of length 0: a thin multipole of its order whose component k l is 0
    const auto thinLens = [&](std::size_t order, double strength) {
        out.code = code::kThinMultipole;
        out.knl.assign(order + 1, 0.0);
        out.ksl.clear();
        out.tilt = m_in.number(def, "tilt");
        out.k = out.m = out.k3 = out.k1s = 0;
        if (strength != 0)
            ++m_summary.withoutEffect[cls];
        return true;
    };
    if (cls == "drift") {
        out.code = code::kDrift;
        return l != 0;
    }
    if (cls == "sbend" || cls == "rbend") {
        const double angle = m_in.number(def, "angle");
        if (l <= 0)
            refuse("a bending magnet needs a length");
        const double e1 = m_in.number(def, "e1");
        const double e2 = m_in.number(def, "e2");
        const double hgap = m_in.number(def, "hgap");
        // a bare FINT or FINTX stands for 0.5; FINTX defaults to FINT, as does a negative one
        const auto fringeIntegral = [&](const char* name, double fallback) {
            const auto a = def.attrs.find(name);
            if (a == def.attrs.end())
                return fallback;
            return a->second.kind == MadxAttr::Kind::Flag ? (a->second.on ? 0.5 : 0) : m_in.value(a->second);
        };
        const double fint = fringeIntegral("fint", 0);
        double fintx = fringeIntegral("fintx", fint);
        if (fintx < 0)
            fintx = fint;
        const bool fringe = hgap != 0 && (fint != 0 || fintx != 0);
        // MAD-X's field k0 apart from the geometry's angle/l would be a dipole error
        const double k0 = m_in.number(def, "k0");
        if (k0 != 0 && std::fabs(k0 * l - angle) > 1e-12 * std::max(std::fabs(angle), 1e-3))
            refuse("a bending magnet whose field k0 differs from angle/l is not supported");
        if (m_in.number(def, "k2") != 0)
            refuse("a bending magnet with a sextupole component k2 is not supported");
        out.curvature = angle / l;
        out.k = m_in.number(def, "k1");
        if (cls == "rbend") {
            out.ain = angle / 2 + e1;
            out.aout = angle / 2 + e2;
            out.code = e1 == 0 && e2 == 0 ? code::kRectangularBend : code::kWedgeBend;
        } else {
            out.ain = e1;
            out.aout = e2;
            out.code = e1 == 0 && e2 == 0 && !fringe ? code::kSectorBend : code::kWedgeBend;
        }
        // the program's fringe-field angle (h G / 3)(1 + sin^2 psi) / cos psi is MAD-X's
        // 2 h HGAP FINT (1 + sin^2 psi) / cos psi for G = 6 HGAP FINT. One gap serves both faces: where
        // FINT and FINTX differ, the mean, and the import says so. A sector magnet has no faces and keeps
        // its full gap.
        if (fringe) {
            out.gap = 3 * hgap * (fint + fintx);
            if (fint != fintx)
                m_summary.meanGaps.push_back(def.name);
        } else if (out.code == code::kSectorBend) {
            out.gap = 2 * hgap;
        }
        return true;
    }
    if (cls == "quadrupole") {
        out.code = code::kQuadrupole;
        out.k = m_in.number(def, "k1");
        return l != 0 || thinLens(1, out.k);
    }
    if (cls == "sextupole") {
        out.m = m_in.number(def, "k2");
        const auto type = def.attrs.find("type");
        const bool special = type != def.attrs.end() && type->second.text == "special";
        out.code = special ? code::kSextupoleSpecial : out.m >= 0 ? code::kSextupoleF : code::kSextupoleD;
        return l != 0 || thinLens(2, out.m);
    }
    if (cls == "octupole") {
        out.code = code::kOctupole;
        out.k3 = m_in.number(def, "k3");
        return l != 0 || thinLens(3, out.k3);
    }
    if (cls == "multipole") {
        out.code = code::kThinMultipole;
        out.knl = m_in.array(def, "knl");
        out.ksl = m_in.array(def, "ksl");
        const std::size_t orders = std::max(out.knl.size(), out.ksl.size());
        if (orders > kMaxMultipoleOrder + 1)
            refuse("a thin multipole holds orders 0 to " + std::to_string(kMaxMultipoleOrder) + ", not " +
                   std::to_string(orders - 1));
        return true;
    }
    if (cls == "solenoid") {
        if (l == 0 && m_in.number(def, "ksi") != 0)
            refuse("thin solenoids (ksi) are not supported");
        out.code = code::kSolenoid;
        out.ks = m_in.number(def, "ks");
        return true;
    }
    if (cls == "hkicker" || cls == "vkicker") {
        const bool horizontal = cls == "hkicker";
        out.code = horizontal ? code::kHorizontalKicker : code::kVerticalKicker;
        (horizontal ? out.hkick : out.vkick) = m_in.number(def, "kick");
        return true;
    }
    if (cls == "kicker" || cls == "tkicker") {
        out.code = code::kKicker;
        out.hkick = m_in.number(def, "hkick");
        out.vkick = m_in.number(def, "vkick");
        return true;
    }
    if (cls == "monitor" || cls == "hmonitor" || cls == "vmonitor" || cls == "instrument") {
        out.code = cls == "hmonitor"   ? code::kHorizontalMonitor
                   : cls == "vmonitor" ? code::kVerticalMonitor
                                       : code::kMonitor;
        return true;
    }
    if (cls == "rfcavity") {
        const auto type = def.attrs.find("type");
        // the rf system of a ring as the export writes it: no element of the line (applyRing reads it)
        if (type != def.attrs.end() && type->second.text == kMadxRfSystemType)
            return false;
        // V sin(2 pi lag - phi) = |V| sin(2 pi (lag + 1/2) - phi): a negative voltage is half a period later
        const double volt = m_in.number(def, "volt") * 1e6;
        out.code = code::kRfCavity;
        out.voltage = std::fabs(volt);
        out.lag = m_in.number(def, "lag") + (volt < 0 ? 0.5 : 0.0);
        out.harmonic = m_in.number(def, "harmon");
        out.frequency = m_in.number(def, "freq") * 1e6;
        if (out.harmonic == 0 && out.frequency == 0) {
            // the cavities of a ring run at one frequency: one without its own takes the line's
            out.harmonic = m_cavityHarmonic;
            out.frequency = m_cavityHarmonic == 0 ? m_cavityFrequency : 0;
        }
        return true;
    }
    if (cls == "marker") {
        const auto type = def.attrs.find("type");
        const std::string pumpMark = "vacuum pump";
        out.code = code::kMarker;
        if (type != def.attrs.end() && type->second.text.rfind(pumpMark, 0) == 0) {
            // the program's own vacuum pumps travel as markers: type="vacuum pump <speed> l/s"
            out.code = code::kPump;
            out.pumpSpeed = std::strtod(type->second.text.c_str() + pumpMark.size(), nullptr);
        }
        return true;
    }
    const auto type = def.attrs.find("type");
    if (cls == "placeholder" && type != def.attrs.end() && type->second.text == kMadxMarkerType) {
        // the export's marker with a length
        out.code = code::kMarker;
        return true;
    }
    const bool noField = cls == "elseparator" && m_in.number(def, "ex") == 0 && m_in.number(def, "ey") == 0 &&
                         m_in.number(def, "efield") == 0;
    if (madxDriftClasses().count(cls) > 0 || noField) {
        // placeholders, collimators and separators without field: drifts of their length, markers of none
        out.code = l == 0 ? code::kMarker : code::kDrift;
        ++(l == 0 ? m_summary.markers : m_summary.drifted)[cls];
        return true;
    }
    return refuse("the class " + cls + " is not supported");
}

// The charge of the beam command: a whole number, its sign dropped (the optics do not depend on it).
int beamCharge(MadxInput& in)
{
    const MadxBeam& b = in.beam();
    if (!b.hasCharge)
        return 1;
    const double charge = std::fabs(in.value(b.charge));
    if (const std::optional<std::string> refusal = rangeRefusal(ranges::kChargeState, charge))
        throw MadxError("beam: " + *refusal + " (charge=" + shortestFloat(in.value(b.charge)) + ")",
                        b.charge.line);
    return static_cast<int>(charge);
}

// A beam energy (GeV, as MAD-X gives it) inside the particle window's range of momenta, in eV.
double beamEnergy(double gev, const char* attribute, int line)
{
    if (const std::optional<std::string> refusal = rangeRefusal(ranges::kMomentumMeV, gev * 1e3))
        throw MadxError(std::string("beam: ") + attribute + " = " + shortestFloat(gev) +
                            " GeV is outside the program's range (" + *refusal + ")",
                        line);
    return gev * 1e9;
}

void LatticeBuilder::applyBeam(State& state)
{
    if (!m_in.beam().given)
        return;
    const MadxBeam& b = m_in.beam();
    BeamParameters& beam = state.beam;
    const std::string& p = b.particle;
    const double mass = b.hasMass ? m_in.value(b.mass) : 0;
    if (b.hasMass) {
        if (const std::optional<std::string> refusal = rangeRefusal(ranges::kRestEnergyMeV, mass * 1e3))
            throw MadxError("beam: " + *refusal + " (mass=" + shortestFloat(mass) + " GeV)", b.mass.line);
    }
    const int charge = beamCharge(m_in);
    const bool electronLike = b.hasMass ? std::fabs(mass / 0.51099895e-3 - 1) < 1e-3
                                        : p.empty() || p == "electron" || p == "positron";
    const bool protonLike =
        b.hasMass ? std::fabs(mass / 0.93827208816 - 1) < 1e-3 : p == "proton" || p == "antiproton";
    if (electronLike) {
        selectElectron(beam, state.electron);
    } else if (protonLike) {
        selectProton(beam, state.electron);
    } else {
        double m = mass;
        if (!b.hasMass && (p == "posmuon" || p == "negmuon"))
            m = 0.1056583755;
        if (m <= 0)
            throw MadxError("the particle '" + excerpt(p) + "' needs mass= and charge=", 0);
        selectIonKind(beam, state.electron);
        beam.name = p.empty() ? "ion" : excerpt(p, 15);
        beam.massNumber = m * 1e9 / kAtomicMassUnit;
        if (const std::optional<std::string> refusal = rangeRefusal(ranges::kMassNumber, beam.massNumber))
            throw MadxError("beam: " + *refusal + " (mass=" + shortestFloat(m) + " GeV)", b.mass.line);
        beam.charge = charge;
        particleParameter(beam, state.electron);
    }
    const double rest = beam.restEnergy;
    if (b.hasEnergy) {
        const double e = beamEnergy(m_in.value(b.energy), "energy", b.energy.line);
        if (!(e > rest))
            throw MadxError("the beam energy " + shortestFloat(e / 1e9) + " GeV is not above the rest energy",
                            b.energy.line);
        updateKinematics(beam, EnergyKind::Total, e);
    } else if (b.hasPc) {
        const double pc = m_in.value(b.pc);
        if (!(pc > 0))
            throw MadxError("the beam momentum must be positive", b.pc.line);
        updateKinematics(beam, EnergyKind::Momentum, beamEnergy(pc, "pc", b.pc.line));
    } else if (b.hasGamma) {
        const double g = m_in.value(b.gamma);
        if (!(g > 1))
            throw MadxError("the beam's gamma must be above 1", b.gamma.line);
        updateKinematics(beam, EnergyKind::Total, beamEnergy(g * rest / 1e9, "gamma * mass", b.gamma.line));
    } else {
        updateKinematics(beam, EnergyKind::Momentum, beam.momentum > 0 ? beam.momentum : 1e9);
    }
    // the momentum itself, also where the total energy was given
    beamEnergy(beam.momentum / 1e9, "the momentum", 0);
    beam.referenceMomentum = beam.momentum;
}

// The superperiods, the beam current, the rf system and whether the ring closes.
void LatticeBuilder::applyRing(State& state, const std::vector<Node>& nodes)
{
    BeamLine& line = state.line;
    line.superPeriods = m_in.superPeriods();
    state.ringElementCount = 0;
    double deflection = 0;
    for (int i = 1; i <= line.count; ++i)
        deflection += line.at(i).curvature * line.at(i).length;
    // a ring, as the ring window finds it: the full ring bends by 360 degrees (to 0.01 degree)
    state.ringClosed = std::fabs(std::fabs(deflection) * line.superPeriods * 180 / kPi - 360) < 0.01;

    const MadxBeam& b = m_in.beam();
    if (b.hasCurrent) {
        const double current = m_in.value(b.current);
        if (const std::optional<std::string> refusal = rangeRefusal(ranges::kBeamCurrentMa, current * 1000))
            throw MadxError("beam: " + *refusal + " (bcurrent=" + shortestFloat(current) + " A)",
                            b.current.line);
        state.beamCurrent = current;
    }

    // A cavity gives the energy V sin(2 pi lag - phi) at the phase phi of the particle (MAD-X's
    // convention), so that one of V < 0 is the cavity of |V| with its lag half a period later:
    // V sin(2 pi lag - phi) = |V| sin(2 pi (lag + 1/2) - phi). The cavities of the ring, at one frequency,
    // add as phasors V e^(2 pi i lag), and the ring's rf system has the voltage of their sum; the program
    // takes the synchronous phase of that voltage itself. A frequency given as harmonic number is one of
    // the revolution frequency.
    double inPhase = 0;
    double quadrature = 0;
    std::optional<double> frequency;
    std::optional<double> harmonic;
    for (const Node& n : nodes) {
        if (n.element == nullptr || n.element->base != "rfcavity")
            continue;
        const double volt = m_in.number(*n.element, "volt") * 1e6;
        const double lag = m_in.number(*n.element, "lag") + (volt < 0 ? 0.5 : 0.0);
        inPhase += std::fabs(volt) * std::cos(2 * kPi * lag);
        quadrature += std::fabs(volt) * std::sin(2 * kPi * lag);
        const double f = m_in.number(*n.element, "freq") * 1e6;
        const double h = m_in.number(*n.element, "harmon");
        if (f > 0 && !frequency)
            frequency = f;
        if (h > 0 && !harmonic)
            harmonic = h;
    }
    const double voltage = std::hypot(inPhase, quadrature);
    RfParameters rf = state.rf;
    rf.voltage = voltage * line.superPeriods;
    if (frequency)
        rf.frequency = *frequency;
    else if (harmonic)
        rf.frequency = *harmonic * state.beam.beta * kSpeedOfLight / (line.length * line.superPeriods);
    if (const std::optional<double> power = m_in.definedVariable(kMadxRfPowerVariable))
        rf.power = *power;
    if (const std::optional<double> cells = m_in.definedVariable(kMadxRfCavitiesVariable))
        rf.cavities = static_cast<int>(std::lround(*cells));
    if (const std::optional<double> loss = m_in.definedVariable(kMadxRfMiscLossVariable))
        rf.miscLoss = *loss;
    if (voltage == 0 && !frequency && !harmonic)
        return;
    const std::pair<const InputRange&, double> checks[] = {{ranges::kRfVoltageKv, rf.voltage / 1e3},
                                                           {ranges::kRfPowerKw, rf.power / 1e3},
                                                           {ranges::kMiscLossPercent, rf.miscLoss * 100}};
    for (const auto& [range, value] : checks) {
        if (const std::optional<std::string> refusal = rangeRefusal(range, value))
            throw MadxError("the rf system: " + *refusal, 0);
    }
    if (rf.frequency != 0) {
        if (const std::optional<std::string> refusal =
                rangeRefusal(ranges::kRfFrequencyMHz, rf.frequency / 1e6))
            throw MadxError("the rf system: " + *refusal, 0);
    }
    state.rf = rf;
}

void LatticeBuilder::build(State& state)
{
    const std::vector<Node> nodes = beamLineNodes();
    for (const Node& n : nodes)
        if (n.element != nullptr && n.element->base == "rfcavity") {
            if (m_cavityHarmonic == 0)
                m_cavityHarmonic = m_in.number(*n.element, "harmon");
            if (m_cavityFrequency == 0)
                m_cavityFrequency = m_in.number(*n.element, "freq") * 1e6;
        }

    std::vector<const MadxElement*> nodeElements;
    nodeElements.reserve(nodes.size());
    for (const Node& n : nodes)
        nodeElements.push_back(n.element);
    const MadxErrorAssignment errors(m_in, nodeElements, m_in.superPeriods());

    BeamLine& line = state.line;
    line.makeFreshTable();
    line.superPeriods = 1;
    int count = 0;
    bool lastMade = false; // the last element is a drift made from the positions
    // SROTATION turns the frame of what follows by its angle psi about s: MAD-X's x2 = x1 cos psi +
    // y1 sin psi, y2 = -x1 sin psi + y1 cos psi, the turn into a magnet of TILT = psi. So a magnet after
    // rotations of psi in all is that magnet rolled by its own tilt plus psi (turns about one axis add), and
    // the frame must have turned back by the end of the line
    double frame = 0;
    const MadxElement* firstRotation = nullptr;
    for (std::size_t k = 0; k < nodes.size(); ++k) {
        const Node& n = nodes[k];
        LatticeElement e;
        if (n.element != nullptr && n.element->base == "srotation") {
            frame += m_in.number(*n.element, "angle");
            if (firstRotation == nullptr)
                firstRotation = n.element;
            continue;
        }
        if (n.element == nullptr) {
            if (lastMade) {
                // an element left out between two made drifts (a drift of length 0, the rf system of an
                // export): they become one
                line.at(count).length += n.length;
                line.length += n.length;
                continue;
            }
            e.name = "DRIFT";
            e.code = code::kDrift;
            e.length = n.length;
        } else if (!mapElement(*n.element, e)) {
            continue;
        }
        if (n.reflected)
            std::swap(e.ain, e.aout);
        if (frame != 0 && rollable(e.code))
            e.tilt += frame;
        e.errors = errors.errors(k, n.offsets, e);
        if (const std::optional<std::string> refusal = elementRefusal(e)) {
            if (n.element != nullptr)
                throw MadxError(*refusal + " (" + where(*n.element) + ")", n.element->origin.line,
                                n.element->origin.file);
            throw MadxError(*refusal + " (the drift from " + shortestFloat(n.entry) + " m to the next node)",
                            0);
        }
        lastMade = n.element == nullptr;
        if (++count > kMaxLineElements)
            throw MadxError("the beam line " + m_in.useName() + " has more than " +
                                std::to_string(kMaxLineElements) + " elements, the program's limit",
                            0);
        e.s = line.length;
        line.count = count;
        line.length += e.length;
        line.at(count) = std::move(e);
    }
    if (firstRotation != nullptr && !(std::fabs(std::remainder(frame, kTwoPi)) <= 1e-12))
        throw MadxError("the SROTATIONs of the beam line " + m_in.useName() + " turn the frame by " +
                            shortestFloat(frame) +
                            " rad in all: a frame that does not turn back is not "
                            "supported (" +
                            where(*firstRotation) + ")",
                        firstRotation->origin.line, firstRotation->origin.file);
    if (line.count == 0)
        throw MadxError("the beam line " + m_in.useName() + " has no elements", 0);
    applyBeam(state);
    applyRing(state, nodes);

    if (state.fileBoxes.size() <= static_cast<std::size_t>(line.count))
        state.fileBoxes.resize(static_cast<std::size_t>(line.count) + 1);
    for (int i = 1; i <= line.count; ++i) {
        const LatticeElement& e = line.at(i);
        ElementShape shape;
        const int kind = kindOf(e.code);
        applyKindExtent(shape, kind, state.drawBaseline, state.drawScale);
        if (kind == 2)
            applyQuadrupoleSign(shape, e.k, state.drawBaseline, state.drawScale);
        line.shape(i) = shape;
        placeShape(line, i);
        DrawingBox& box = state.fileBoxes[static_cast<std::size_t>(i)];
        box = {line.shape(i).x0, line.shape(i).x1, line.shape(i).y0, line.shape(i).y1};
    }
    m_summary.beamLine = m_in.useName();
    m_summary.elements = line.count;
    m_summary.superPeriods = line.superPeriods;
    m_summary.undefined.assign(m_in.undefined().begin(), m_in.undefined().end());
}

// Start values: the periodic solution when the line has a stable one, shown as lattice functions with
// short steps, as the example lattices are.
bool periodicStart(State& state)
{
    QuietMessages quiet;
    RunSettings& run = state.run;
    run.stepAtElementEnds = false;
    run.maxStep = 0.05;
    run.maxSteps = run.maxStepsBox = 200;
    run.showBetaFunctions = true;
    run.showBeamSize = run.showTrajectory = false;
    State trial = state;
    const bool solved = periodicSolution(trial, quiet) && trial.run.periodicStable;
    if (solved)
        state.run = trial.run;
    run.showBetaFunctions = true;
    return solved;
}

} // namespace

std::vector<std::string> madxImportReport(const MadxImportSummary& summary)
{
    std::vector<std::string> lines;
    lines.push_back("beam line " + summary.beamLine + ": " + std::to_string(summary.elements) + " elements" +
                    (summary.superPeriods > 1
                         ? " in each of " + std::to_string(summary.superPeriods) + " superperiods"
                         : "") +
                    (summary.periodic ? ", started from its periodic solution" : ""));
    auto counts = [](const std::map<std::string, int>& m) {
        std::string text;
        for (const auto& [cls, n] : m)
            text += (text.empty() ? "" : ", ") + std::to_string(n) + " " + cls;
        return text;
    };
    if (!summary.drifted.empty())
        lines.push_back("turned into drifts: " + counts(summary.drifted));
    if (!summary.markers.empty())
        lines.push_back("kept as markers (zero length): " + counts(summary.markers));
    if (!summary.withoutEffect.empty())
        lines.push_back("of length 0, without effect as in MAD-X (k l = 0): " +
                        counts(summary.withoutEffect));
    auto list = [](const std::vector<std::string>& names) {
        std::string text;
        for (std::size_t i = 0; i < names.size() && i < 10; ++i)
            text += (i == 0 ? "" : ", ") + names[i];
        if (names.size() > 10)
            text += " and " + std::to_string(names.size() - 10) + " more";
        return text;
    };
    if (!summary.undefined.empty())
        lines.push_back("taken as 0 (never defined): " + list(summary.undefined));
    if (!summary.meanGaps.empty())
        lines.push_back("one fringe field for both faces, the mean of FINT and FINTX: " +
                        list(summary.meanGaps));
    if (!summary.skipped.empty())
        lines.push_back("commands not read: " + list(summary.skipped));
    if (!summary.notUpdated.empty())
        lines.push_back("attributes at a placement, which MAD-X ignores as well: " +
                        list(summary.notUpdated));
    return lines;
}

bool readMadxText(State& state, Messages& messages, const std::string& text, const std::string& fileName,
                  MadxImportSummary* summary)
{
    MadxImportSummary local;
    MadxImportSummary& s = summary != nullptr ? *summary : local;
    s = MadxImportSummary{};
    State copy = state;
    MadxInput input(s);
    try {
        input.readText(text, fileName, 0);
        input.finish();
        LatticeBuilder(input, s).build(copy);
    } catch (const MadxError& e) {
        std::string where;
        if (!e.file.empty() && e.file != fileName)
            where += ": file " + e.file;
        if (e.line > 0)
            where += ", line " + std::to_string(e.line);
        std::string refusal = "cannot import MAD-X file " + fileName + where + ": " + e.what();
        // a refusal may come of a name nothing defined
        const std::set<std::string>& undefined = input.undefined();
        if (!undefined.empty()) {
            std::string names;
            int shownNames = 0;
            for (auto name = undefined.begin(); name != undefined.end() && shownNames < 5;
                 ++name, ++shownNames)
                names += (shownNames == 0 ? "" : ", ") + *name;
            if (undefined.size() > 5)
                names += " and " + std::to_string(undefined.size() - 5) + " more";
            refusal += " (taken as 0, never defined: " + names + ")";
        }
        messages.error(excerpt(refusal, 600));
        return false;
    }
    s.periodic = periodicStart(copy);
    state = std::move(copy);
    return true;
}

bool readMadxFile(State& state, Messages& messages, const std::string& fileName, MadxImportSummary* summary)
{
    const FileText file = readTextFile(fileName);
    if (!file.problem.empty()) {
        messages.error("cannot open MAD-X file " + fileName + ": " + file.problem);
        return false;
    }
    return readMadxText(state, messages, file.text, fileName, summary);
}

bool isMadxFileName(const std::string& fileName)
{
    const std::string ext = std::filesystem::path(fileName).extension().string();
    std::string lower = ext;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower == ".madx" || lower == ".seq" || lower == ".mad";
}

} // namespace kestrune

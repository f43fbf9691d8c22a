#include "core/io/MadxReader.h"

#include "core/Drawing.h"
#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/io/MadxInput.h"
#include "core/optics/BetaFunctions.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kestrune {

namespace {

// Gaps and overlaps of sequence nodes below this are rounding, not drifts (MAD-X's own threshold).
constexpr double kPositionTolerance = 1e-6; // m
// Nodes a sequence may expand to before it is refused as far too long.
constexpr std::size_t kNodeLimit = 1000000;

// A node of the expanded beam line: an element with its entrance (sequences) or in line order.
struct Node
{
    const MadxElement* element = nullptr; // nullptr: a drift made from the positions
    double entry = 0;
    double length = 0;
    int order = 0;
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
    double referencePosition(const MadxSequence& seq, std::size_t index, std::vector<int>& state, int depth);
    std::vector<Node> beamLineNodes();
    bool mapElement(const MadxElement& def, LatticeElement& out);
    void applyBeam(State& state);

    MadxInput& m_in;
    MadxImportSummary& m_summary;
    std::vector<double> m_positions; // positions resolved while a sequence is expanded
};

// Position of node `index`'s reference point in its sequence, following from= (state: 0 new, 1 busy, 2 done).
double LatticeBuilder::referencePosition(const MadxSequence& seq, std::size_t index, std::vector<int>& state,
                                         int depth)
{
    if (state[index] == 2)
        return m_positions[index];
    const MadxPlacement& p = seq.nodes[index];
    if (state[index] == 1 || depth > 10000)
        fail("the positions of sequence " + seq.name + " refer to each other in a circle (from=" + p.from +
                 ")",
             p.origin.line);
    state[index] = 1;
    double position = m_in.value(p.at);
    if (!p.from.empty()) {
        std::size_t target = seq.nodes.size();
        for (std::size_t j = 0; j < seq.nodes.size() && target == seq.nodes.size(); ++j) {
            const MadxPlacement& q = seq.nodes[j];
            const std::string name = q.element ? q.element->name : q.sequence->name;
            std::string lowerName = name;
            std::transform(lowerName.begin(), lowerName.end(), lowerName.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (lowerName == p.from)
                target = j;
        }
        if (target == seq.nodes.size())
            fail("from=" + p.from + " names no node of sequence " + seq.name, p.origin.line);
        position += referencePosition(seq, target, state, depth + 1);
    }
    state[index] = 2;
    m_positions[index] = position;
    return position;
}

void LatticeBuilder::sequenceNodes(const MadxSequence& seq, double offset, std::vector<Node>& out, int depth)
{
    if (depth > 50)
        fail("sequence " + seq.name + " contains itself", seq.origin.line);
    const std::vector<double> saved = m_positions;
    m_positions.assign(seq.nodes.size(), 0);
    std::vector<int> state(seq.nodes.size(), 0);
    std::vector<double> positions(seq.nodes.size());
    for (std::size_t i = 0; i < seq.nodes.size(); ++i)
        positions[i] = referencePosition(seq, i, state, 0);
    m_positions = saved;
    for (std::size_t i = 0; i < seq.nodes.size(); ++i) {
        const MadxPlacement& p = seq.nodes[i];
        if (out.size() > kNodeLimit)
            fail("sequence " + seq.name + " expands to more than " + std::to_string(kNodeLimit) + " nodes",
                 seq.origin.line);
        if (p.sequence) {
            const MadxSequence& inner = *p.sequence;
            double reference = seq.refer * m_in.value(inner.length);
            if (!inner.refpos.empty()) {
                // the inner sequence is placed by the position of its refpos node
                bool found = false;
                std::vector<Node> innerNodes;
                sequenceNodes(inner, 0, innerNodes, depth + 1);
                for (const Node& n : innerNodes) {
                    if (n.element == nullptr)
                        continue;
                    std::string lowerName = n.element->name;
                    std::transform(lowerName.begin(), lowerName.end(), lowerName.begin(),
                                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
                    if (!found && lowerName == inner.refpos) {
                        reference = n.entry + n.length / 2;
                        found = true;
                    }
                }
                if (!found)
                    fail("refpos=" + inner.refpos + " names no element of sequence " + inner.name,
                         inner.origin.line);
            }
            sequenceNodes(inner, offset + positions[i] - reference, out, depth + 1);
            continue;
        }
        Node n;
        n.element = p.element.get();
        n.length = m_in.elementLength(*p.element);
        n.entry = offset + positions[i] - seq.refer * n.length;
        n.origin = p.origin;
        out.push_back(n);
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

std::string where(const MadxElement& def)
{
    return def.name + " (" + def.base + ")";
}

bool LatticeBuilder::mapElement(const MadxElement& def, LatticeElement& out)
{
    const std::string& cls = def.base;
    const int line = def.origin.line;
    auto refuse = [&](const std::string& what) -> bool {
        throw MadxError(what + " (" + where(def) + ")", line, def.origin.file);
    };
    if (m_in.number(def, "tilt") != 0)
        refuse("tilted elements are not supported");
    if (m_in.number(def, "k1s") != 0 || m_in.number(def, "k2s") != 0)
        refuse("skew components are not supported");
    out = LatticeElement{};
    out.name = elementName(def.name);
    const double l = m_in.elementLength(def);
    out.length = l;
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
        if (l == 0 && out.k != 0)
            refuse("thin quadrupoles are not supported");
        return l != 0;
    }
    if (cls == "sextupole") {
        out.m = m_in.number(def, "k2");
        const auto type = def.attrs.find("type");
        const bool special = type != def.attrs.end() && type->second.text == "special";
        out.code = special ? code::kSextupoleSpecial : out.m >= 0 ? code::kSextupoleF : code::kSextupoleD;
        if (l == 0 && out.m != 0)
            refuse("thin sextupoles are not supported");
        return l != 0;
    }
    if (cls == "multipole" || (cls == "octupole" && l == 0)) {
        const std::vector<double> knl = m_in.array(def, "knl");
        for (double v : m_in.array(def, "ksl"))
            if (v != 0)
                refuse("skew multipole components are not supported");
        static const char* const kOrders[] = {"dipole", "quadrupole", "sextupole"};
        for (std::size_t n = 0; n < knl.size() && n < 3; ++n)
            if (knl[n] != 0)
                refuse(std::string("thin multipoles with a ") + kOrders[n] + " component are not supported");
        ++m_summary.thinMultipoles;
        return false;
    }
    if (cls == "octupole" || madxDriftClasses().count(cls) > 0) {
        const auto type = def.attrs.find("type");
        const std::string pumpMark = "vacuum pump";
        if (l == 0 && type != def.attrs.end() && type->second.text.rfind(pumpMark, 0) == 0) {
            // the program's own vacuum pumps travel as markers: type="vacuum pump <speed> l/s"
            out.code = code::kPump;
            out.pumpSpeed = std::strtod(type->second.text.c_str() + pumpMark.size(), nullptr);
            return true;
        }
        out.code = code::kDrift;
        if (l == 0) {
            ++m_summary.dropped[cls];
            return false;
        }
        ++m_summary.drifted[cls];
        return true;
    }
    if (cls == "solenoid")
        refuse("solenoids are not supported");
    return refuse("the class " + cls + " is not supported");
}

void LatticeBuilder::applyBeam(State& state)
{
    if (!m_in.beam().given)
        return;
    BeamParameters& beam = state.beam;
    const std::string& p = m_in.beam().particle;
    const double mass = m_in.beam().hasMass ? m_in.value(m_in.beam().mass) : 0;
    const double charge = m_in.beam().hasCharge ? m_in.value(m_in.beam().charge) : 1;
    if (m_in.beam().hasMass && mass <= 0)
        throw MadxError("the beam's mass must be positive", m_in.beam().mass.line);
    const bool electronLike = m_in.beam().hasMass ? std::fabs(mass / 0.51099895e-3 - 1) < 1e-3
                                                  : p.empty() || p == "electron" || p == "positron";
    const bool protonLike =
        m_in.beam().hasMass ? std::fabs(mass / 0.93827208816 - 1) < 1e-3 : p == "proton" || p == "antiproton";
    if (electronLike) {
        selectElectron(beam, state.electron);
    } else if (protonLike) {
        selectProton(beam, state.electron);
    } else {
        double m = mass;
        if (!m_in.beam().hasMass && (p == "posmuon" || p == "negmuon"))
            m = 0.1056583755;
        if (m <= 0)
            throw MadxError("the particle '" + p + "' needs mass= and charge=", 0);
        selectIonKind(beam, state.electron);
        beam.name = p.empty() ? "ion" : p;
        beam.massNumber = m * 1e9 / kAtomicMassUnit;
        beam.charge = std::max(1, static_cast<int>(std::lround(std::fabs(charge))));
        particleParameter(beam, state.electron);
    }
    const double rest = beam.restEnergy;
    if (m_in.beam().hasEnergy) {
        const double e = m_in.value(m_in.beam().energy) * 1e9;
        if (!(e > rest))
            throw MadxError("the beam energy " + shortestFloat(e / 1e9) + " GeV is not above the rest energy",
                            m_in.beam().energy.line);
        updateKinematics(beam, EnergyKind::Total, e);
    } else if (m_in.beam().hasPc) {
        const double pc = m_in.value(m_in.beam().pc) * 1e9;
        if (!(pc > 0))
            throw MadxError("the beam momentum must be positive", m_in.beam().pc.line);
        updateKinematics(beam, EnergyKind::Momentum, pc);
    } else if (m_in.beam().hasGamma) {
        const double g = m_in.value(m_in.beam().gamma);
        if (!(g > 1))
            throw MadxError("the beam's gamma must be above 1", m_in.beam().gamma.line);
        updateKinematics(beam, EnergyKind::Total, g * rest);
    } else {
        updateKinematics(beam, EnergyKind::Momentum, beam.momentum > 0 ? beam.momentum : 1e9);
    }
    beam.referenceMomentum = beam.momentum;
}

void LatticeBuilder::build(State& state)
{
    const std::vector<Node> nodes = beamLineNodes();

    BeamLine& line = state.line;
    line.makeFreshTable();
    line.superPeriods = 1;
    int count = 0;
    bool lastMade = false; // the last element is a drift made from the positions
    for (const Node& n : nodes) {
        LatticeElement e;
        if (n.element == nullptr) {
            if (lastMade) {
                // a marker left out between two made drifts: they become one
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
        lastMade = n.element == nullptr;
        if (++count > kMaxElements)
            throw MadxError("the beam line " + m_in.useName() + " has more than " +
                                std::to_string(kMaxElements) + " elements, the program's limit",
                            0);
        e.s = line.length;
        line.at(count) = e;
        line.count = count;
        line.length += e.length;
    }
    applyBeam(state);
    state.ringClosed = false;
    state.ringElementCount = 0;

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
    m_summary.undefined.assign(m_in.undefined().begin(), m_in.undefined().end());
}

std::string contents(const std::string& fileName, bool& ok)
{
    std::ifstream file(fileName, std::ios::binary);
    ok = static_cast<bool>(file);
    std::ostringstream buffer;
    if (ok)
        buffer << file.rdbuf();
    return buffer.str();
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
                    (summary.periodic ? ", started from its periodic solution" : ""));
    auto counts = [](const std::map<std::string, int>& m) {
        std::string text;
        for (const auto& [cls, n] : m)
            text += (text.empty() ? "" : ", ") + std::to_string(n) + " " + cls;
        return text;
    };
    if (!summary.drifted.empty())
        lines.push_back("turned into drifts: " + counts(summary.drifted));
    if (!summary.dropped.empty())
        lines.push_back("left out (zero length): " + counts(summary.dropped));
    if (summary.thinMultipoles > 0)
        lines.push_back("left out: " + std::to_string(summary.thinMultipoles) +
                        " thin multipoles of octupole or higher order");
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
        messages.error("cannot import MAD-X file " + fileName + where + ": " + e.what());
        return false;
    }
    s.periodic = periodicStart(copy);
    state = std::move(copy);
    return true;
}

bool readMadxFile(State& state, Messages& messages, const std::string& fileName, MadxImportSummary* summary)
{
    bool ok = false;
    const std::string text = contents(fileName, ok);
    if (!ok) {
        messages.error("cannot open MAD-X file " + fileName);
        return false;
    }
    return readMadxText(state, messages, text, fileName, summary);
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

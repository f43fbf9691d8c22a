#include "core/io/madx/MadxExport.h"

#include "core/Constants.h"
#include "core/Format.h"
#include "core/coupling/CoupledOptics.h"
#include "core/io/LatticeFile.h"
#include "core/io/SafeFile.h"
#include "core/optics/BetaFunctions.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <set>
#include <sstream>

namespace kestrune {

namespace {

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string num(double value)
{
    // whole numbers as integers ("150", not "1.5e+02"); everything else in its shortest exact form
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        return fmt("%.0f", value);
    return shortestFloat(value);
}

// Kind of an element without a MAD-X counterpart, for the refusal; empty when it has one.
std::string missingKind(int elementCode)
{
    switch (elementCode) {
    case code::kLinac:
        return "linac section";
    case code::kEinzelLens:
        return "einzel lens";
    case code::kElectrostatic:
        return "electrostatic accelerator";
    default:
        break;
    }
    switch (familyOf(elementCode)) {
    case static_cast<int>(Family::Drift):
    case static_cast<int>(Family::Bend):
    case static_cast<int>(Family::Quadrupole):
    case static_cast<int>(Family::Sextupole):
    case static_cast<int>(Family::Pump):
        return {};
    case static_cast<int>(Family::AlphaMagnet):
        return "alpha magnet";
    default:
        break;
    }
    switch (elementCode) {
    case code::kThinMultipole:
    case code::kOctupole:
    case code::kSolenoid:
    case code::kHorizontalKicker:
    case code::kVerticalKicker:
    case code::kKicker:
    case code::kMarker:
    case code::kHorizontalMonitor:
    case code::kVerticalMonitor:
    case code::kMonitor:
    case code::kRfCavity:
        return {};
    default:
        return "element code " + std::to_string(elementCode);
    }
}

// The text of a value that the import, multiplying it by scale, reads back as value exactly: volts as
// MV, hertz as MHz. value / scale rounded is not always that number; one of its neighbours a few units
// of the last place away is, when any is.
std::string scaledNum(double value, double scale)
{
    const double first = value / scale;
    double below = first;
    double above = first;
    for (int step = 0; step < 8; ++step) {
        if (below * scale == value)
            return num(below);
        if (above * scale == value)
            return num(above);
        below = std::nextafter(below, -HUGE_VAL);
        above = std::nextafter(above, HUGE_VAL);
    }
    return num(first);
}

std::string realList(const std::vector<double>& values)
{
    std::string text;
    for (std::size_t k = 0; k < values.size(); ++k)
        text += (k == 0 ? "" : ", ") + num(values[k]);
    return "{" + text + "}";
}

// What any element may carry after its own attributes: the roll of a magnet, the skew gradient of a
// quadrupole or bend and an aperture of its own (MAD-X's APERTYPE, APERTURE, APER_OFFSET).
std::string commonAttributes(const LatticeElement& e)
{
    std::string text;
    if (e.k1s != 0)
        text += ", k1s=" + num(e.k1s);
    if (e.tilt != 0)
        text += ", tilt=" + num(e.tilt);
    const ElementAperture& a = e.aperture;
    static const char* const kTypes[] = {"", "circle", "rectangle", "ellipse", "rectellipse"};
    static const std::size_t kSizes[] = {0, 1, 2, 2, 4};
    const int type = static_cast<int>(a.type);
    // the sizes the type uses and any set after them, which the import keeps as they are
    if (type > 0 && type <= 4) {
        std::size_t sizes = kSizes[type];
        for (std::size_t k = sizes; k < 4; ++k)
            if (a.a[k] != 0)
                sizes = k + 1;
        text += std::string(", apertype=") + kTypes[type] +
                ", aperture=" + realList(std::vector<double>(a.a, a.a + sizes));
    }
    if (a.dx != 0 || a.dy != 0)
        text += ", aper_offset={" + num(a.dx) + ", " + num(a.dy) + "}";
    return text;
}

// The kinds of families 6..9 in MAD-X's words: a marker with a length is a placeholder whose type says it
// is one.
std::string laterKindDefinition(const LatticeElement& e)
{
    const std::string l = "l=" + num(e.length);
    switch (e.code) {
    case code::kThinMultipole: {
        std::string text = "multipole";
        if (!e.knl.empty())
            text += ", knl=" + realList(e.knl);
        if (!e.ksl.empty())
            text += ", ksl=" + realList(e.ksl);
        return text;
    }
    case code::kOctupole:
        return "octupole, " + l + ", k3=" + num(e.k3);
    case code::kSolenoid:
        return "solenoid, " + l + ", ks=" + num(e.ks);
    case code::kHorizontalKicker:
        return "hkicker, " + l + ", kick=" + num(e.hkick);
    case code::kVerticalKicker:
        return "vkicker, " + l + ", kick=" + num(e.vkick);
    case code::kKicker:
        return "kicker, " + l + ", hkick=" + num(e.hkick) + ", vkick=" + num(e.vkick);
    case code::kMarker:
        return e.length == 0 ? std::string("marker")
                             : "placeholder, " + l + ", type=\"" + kMadxMarkerType + "\"";
    case code::kHorizontalMonitor:
        return "hmonitor, " + l;
    case code::kVerticalMonitor:
        return "vmonitor, " + l;
    case code::kMonitor:
        return "monitor, " + l;
    default: {
        std::string text = "rfcavity, " + l + ", volt=" + scaledNum(e.voltage, 1e6);
        if (e.lag != 0)
            text += ", lag=" + num(e.lag);
        if (e.harmonic != 0)
            text += ", harmon=" + num(e.harmonic);
        if (e.frequency != 0)
            text += ", freq=" + scaledNum(e.frequency, 1e6);
        return text;
    }
    }
}

std::string ownDefinition(const LatticeElement& e);

// The MAD-X definition of an element after its label, without the final ';'.
std::string definition(const LatticeElement& e)
{
    return ownDefinition(e) + commonAttributes(e);
}

std::string ownDefinition(const LatticeElement& e)
{
    const double angle = e.curvature * e.length;
    std::string text;
    switch (familyOf(e.code)) {
    case static_cast<int>(Family::Bend): {
        const bool rectangular = e.code == code::kRectangularBend;
        double length = e.length;
        if (rectangular && angle != 0)
            length = e.length * std::sin(angle / 2) / (angle / 2); // the chord, as rbarc reads it
        text = std::string(rectangular ? "rbend" : "sbend") + ", l=" + num(length) + ", angle=" + num(angle);
        if (e.k != 0)
            text += ", k1=" + num(e.k);
        double e1 = rectangular ? e.ain - angle / 2 : e.code == code::kWedgeBend ? e.ain : 0;
        double e2 = rectangular ? e.aout - angle / 2 : e.code == code::kWedgeBend ? e.aout : 0;
        // faces of a rectangular magnet that differ from angle/2 by rounding only are its own faces
        const double rounding = 1e-14 * std::max(1.0, std::fabs(angle));
        if (rectangular && std::fabs(e1) < rounding)
            e1 = 0;
        if (rectangular && std::fabs(e2) < rounding)
            e2 = 0;
        if (e1 != 0)
            text += ", e1=" + num(e1);
        if (e2 != 0)
            text += ", e2=" + num(e2);
        if (e.gap != 0) {
            // faces carry the fringe field of the full gap G as MAD-X's hgap = G/2 with fint = fintx = 1/3;
            // a sector magnet has no faces, so it keeps hgap without a fringe field
            text += ", hgap=" + num(e.gap / 2);
            if (e.code != code::kSectorBend)
                text += ", fint=" + num(1.0 / 3.0) + ", fintx=" + num(1.0 / 3.0);
        }
        return text;
    }
    case static_cast<int>(Family::Quadrupole):
        return "quadrupole, l=" + num(e.length) + ", k1=" + num(e.k);
    case static_cast<int>(Family::Sextupole):
        text = "sextupole, l=" + num(e.length) + ", k2=" + num(e.m);
        if (e.code == code::kSextupoleSpecial)
            text += ", type=\"special\"";
        return text;
    case static_cast<int>(Family::Pump):
        // MAD-X has no vacuum pump: a marker whose type carries the pumping speed
        return "marker, type=\"vacuum pump " + num(e.pumpSpeed) + " l/s\"";
    case static_cast<int>(Family::Multipole):
    case static_cast<int>(Family::Kicker):
    case static_cast<int>(Family::Diagnostic):
    case static_cast<int>(Family::Cavity):
        return laterKindDefinition(e);
    default:
        return "drift, l=" + num(e.length);
    }
}

bool validName(const std::string& name)
{
    static const std::set<std::string> reserved{
        "line",     "sequence", "endsequence", "beam",        "use",        "call",      "option",
        "marker",   "drift",    "sbend",       "rbend",       "quadrupole", "sextupole", "return",
        "stop",     "exit",     "quit",        "title",       "value",      "print",     "if",
        "while",    "macro",    "exec",        "real",        "int",        "const",     "shared",
        "twiss",    "select",   "match",       "endmatch",    "ring",       "lattice",   "multipole",
        "octupole", "solenoid", "hkicker",     "vkicker",     "kicker",     "tkicker",   "monitor",
        "hmonitor", "vmonitor", "instrument",  "placeholder", "rfcavity"};
    if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0])))
        return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '.')
            return false;
    return reserved.count(lower(name)) == 0;
}

std::string beamLine(const BeamParameters& beam, double current)
{
    std::string particle;
    const double massGeV = beam.restEnergy / 1e9;
    const std::string name =
        lower(beam.name.substr(std::min(beam.name.find_first_not_of(' '), beam.name.size())));
    if (!beam.isIon && name == "electron")
        particle = "particle=electron";
    else if (!beam.isIon && name == "proton")
        particle = "particle=proton";
    else
        particle = "particle=ion, mass=" + num(massGeV) + ", charge=" + std::to_string(beam.charge);
    const double pc = (beam.referenceMomentum > 0 ? beam.referenceMomentum : beam.momentum) / 1e9;
    return "beam, " + particle + ", pc=" + num(pc) + (current != 0 ? ", bcurrent=" + num(current) : "") + ";";
}

std::string keyword(const LatticeElement& e)
{
    switch (e.code) {
    case code::kLinac:
        return "LINAC";
    case code::kEinzelLens:
        return "EINZELLENS";
    case code::kElectrostatic:
        return "ELSTATACC";
    case code::kRectangularBend:
        return "RBEND";
    default:
        break;
    }
    switch (familyOf(e.code)) {
    case static_cast<int>(Family::Bend):
        return "SBEND";
    case static_cast<int>(Family::Quadrupole):
        return "QUADRUPOLE";
    case static_cast<int>(Family::Sextupole):
        return "SEXTUPOLE";
    case static_cast<int>(Family::Pump):
        return "MARKER";
    case static_cast<int>(Family::AlphaMagnet):
        return "ALPHAMAGNET";
    default:
        break;
    }
    switch (e.code) {
    case code::kThinMultipole:
        return "MULTIPOLE";
    case code::kOctupole:
        return "OCTUPOLE";
    case code::kSolenoid:
        return "SOLENOID";
    case code::kHorizontalKicker:
        return "HKICKER";
    case code::kVerticalKicker:
        return "VKICKER";
    case code::kKicker:
        return "KICKER";
    case code::kMarker:
        return "MARKER";
    case code::kHorizontalMonitor:
        return "HMONITOR";
    case code::kVerticalMonitor:
        return "VMONITOR";
    case code::kMonitor:
        return "MONITOR";
    case code::kRfCavity:
        return "RFCAVITY";
    default:
        return "DRIFT";
    }
}

// A position of the sequence: 12 significant digits, so that the sums of lengths the import makes of
// them give the same text when the imported line is exported again.
std::string position(double s)
{
    const std::string text = fmt("%.12g", s);
    return text == "-0" ? "0" : text;
}

// The rf system of a ring as an RFCAVITY at the start of the cell: its share of the voltage, and the
// harmonic number where the frequency is a whole multiple of the revolution frequency.
std::string cavityDefinition(const State& state)
{
    const int cells = std::max(1, state.line.superPeriods);
    // 12 digits, as the positions: the share read back and summed gives the same text again
    std::string text = std::string("rfcavity, l=0, type=\"") + kMadxRfSystemType +
                       "\", volt=" + position(state.rf.voltage / 1e6 / cells);
    const double circumference = state.line.endPosition() * cells;
    const double fRev = state.beam.beta * kSpeedOfLight / circumference;
    const double harmonic = state.rf.frequency / fRev;
    if (state.rf.frequency > 0 && std::isfinite(harmonic) && harmonic >= 1 &&
        std::fabs(harmonic - std::nearbyint(harmonic)) < 1e-9 * harmonic)
        text += ", harmon=" + fmt("%.0f", std::nearbyint(harmonic));
    else if (state.rf.frequency > 0)
        text += ", freq=" + num(state.rf.frequency / 1e6);
    return text;
}

// The ring's rf system as a cavity of its own: only where no cavity of the line carries it.
bool hasRf(const State& state)
{
    for (int i = 1; i <= state.line.count; ++i)
        if (state.line.at(i).code == code::kRfCavity)
            return false;
    return state.ringClosed && (state.rf.frequency != 0 || state.rf.voltage != 0);
}

std::string rfVariables(const RfParameters& rf)
{
    return std::string("! the cavity power budget, which MAD-X does not compute\n") + kMadxRfPowerVariable +
           " = " + num(rf.power) + ";\n" + kMadxRfCavitiesVariable + " = " + std::to_string(rf.cavities) +
           ";\n" + kMadxRfMiscLossVariable + " = " + num(rf.miscLoss) + ";\n";
}

// The labels of the cell in line order, as the items of a MAD-X line, a few to a text line.
std::string lineItems(const std::vector<std::string>& labels)
{
    std::string text;
    std::size_t width = 0;
    for (std::size_t i = 0; i < labels.size(); ++i) {
        if (i > 0 && width + labels[i].size() > 100) {
            text += ",\n    ";
            width = 4;
        } else if (i > 0) {
            text += ", ";
            width += 2;
        }
        text += labels[i];
        width += labels[i].size();
    }
    return text;
}

// The errors of the elements after `use`: for each element with errors its own selection, by the label
// and occurrence of every cell's copy (range=label[n], which MAD-X counts through the expanded line), then
// EALIGN and EFCOMP with absolute values; ADD is never set, so each replaces nothing but its own.
std::string errorCommands(const BeamLine& line, const std::vector<std::string>& labelOf)
{
    std::map<std::string, int> inCell; // occurrences of each label in one cell
    for (int i = 1; i <= line.count; ++i)
        ++inCell[labelOf[static_cast<std::size_t>(i)]];
    std::map<std::string, int> seen;
    std::string text;
    const int cells = std::max(1, line.superPeriods);
    for (int i = 1; i <= line.count; ++i) {
        const std::string& label = labelOf[static_cast<std::size_t>(i)];
        const int occurrence = ++seen[label];
        const ElementErrors& err = line.at(i).errors;
        if (!err.any())
            continue;
        text += "select, flag=error, clear;\n";
        for (int c = 0; c < cells; ++c)
            text += "select, flag=error, range=" + label + "[" +
                    std::to_string(c * inCell[label] + occurrence) + "];\n";
        if (err.misaligned())
            text += "ealign, dx=" + num(err.dx) + ", dy=" + num(err.dy) + ", ds=" + num(err.ds) +
                    ", dtheta=" + num(err.dtheta) + ", dphi=" + num(err.dphi) + ", dpsi=" + num(err.dpsi) +
                    ";\n";
        if (err.fieldErrors())
            text += "efcomp, dkn=" + realList(err.dkn.empty() ? std::vector<double>{0} : err.dkn) +
                    ", dks=" + realList(err.dks.empty() ? std::vector<double>{0} : err.dks) + ";\n";
    }
    return text.empty() ? text : "\n! the errors of the elements\n" + text + "select, flag=error, clear;\n";
}

} // namespace

std::optional<std::string> madxText(const State& state, Messages& messages)
{
    const BeamLine& line = state.line;
    if (line.count <= 0) {
        messages.error("define a beam line first!");
        return std::nullopt;
    }
    std::vector<std::string> missing;
    for (int i = 1; i <= line.count; ++i) {
        // a MAD-X multipole has no length
        const std::string kind = line.at(i).code == code::kThinMultipole && line.at(i).length != 0
                                     ? "thin multipole with a length"
                                     : missingKind(line.at(i).code);
        if (!kind.empty())
            missing.push_back(line.at(i).name.empty()
                                  ? kind + " (element " + std::to_string(i) + ")"
                                  : line.at(i).name + " (" + kind + ", element " + std::to_string(i) + ")");
    }
    if (!missing.empty()) {
        std::string text = "cannot export to MAD-X: no MAD-X element for ";
        for (std::size_t i = 0; i < missing.size() && i < 10; ++i)
            text += (i == 0 ? "" : ", ") + missing[i];
        if (missing.size() > 10)
            text += " and " + std::to_string(missing.size() - 10) + " more";
        messages.error(text);
        return std::nullopt;
    }

    // one definition per distinct element; a name used for different elements gets a suffix
    std::map<std::string, std::vector<std::pair<std::string, std::string>>>
        byName; // lower name -> (def, label)
    std::set<std::string> labels;
    std::vector<std::string> labelOf(static_cast<std::size_t>(line.count) + 1);
    std::vector<std::string> definitions;
    for (int i = 1; i <= line.count; ++i) {
        const LatticeElement& e = line.at(i);
        const std::string def = definition(e);
        const std::string base = validName(e.name) ? e.name : "E" + std::to_string(i);
        auto& variants = byName[lower(base)];
        const auto same =
            std::find_if(variants.begin(), variants.end(), [&](const auto& v) { return v.first == def; });
        if (same != variants.end()) {
            labelOf[static_cast<std::size_t>(i)] = same->second;
            continue;
        }
        std::string label = base;
        for (int n = 2; labels.count(lower(label)) > 0; ++n)
            label = base + "_" + std::to_string(n);
        labels.insert(lower(label));
        variants.emplace_back(def, label);
        labelOf[static_cast<std::size_t>(i)] = label;
        definitions.push_back(label);
        definitions.back().append(": ").append(def).append(";");
    }

    const bool rf = hasRf(state);
    std::string cavityLabel;
    if (rf) {
        cavityLabel = "rf";
        for (int n = 2; labels.count(cavityLabel) > 0; ++n)
            cavityLabel = "rf_" + std::to_string(n);
        definitions.push_back(cavityLabel + ": " + cavityDefinition(state) + ";");
    }

    std::ostringstream out;
    out << "! beam line written by Kestrune: " << line.count << " elements, " << position(line.length)
        << " m";
    if (line.superPeriods > 1)
        out << ", one of " << line.superPeriods << " superperiods";
    out << "\n" << beamLine(state.beam, state.beamCurrent) << "\noption, rbarc=true;\n\n";
    for (const std::string& d : definitions)
        out << d << '\n';
    if (line.superPeriods > 1) {
        // a line of cells: MAD-X repeats lines, not sequences
        std::vector<std::string> items;
        if (rf)
            items.push_back(cavityLabel);
        for (int i = 1; i <= line.count; ++i)
            items.push_back(labelOf[static_cast<std::size_t>(i)]);
        out << '\n' << kMadxSequenceName << ": line=(" << lineItems(items) << ");\n";
        out << kMadxRingName << ": line=(" << line.superPeriods << "*" << kMadxSequenceName << ");\n";
    } else {
        out << '\n' << kMadxSequenceName << ": sequence, l=" << position(line.length) << ", refer=entry;\n";
        if (rf)
            out << cavityLabel << ", at=0;\n";
        for (int i = 1; i <= line.count; ++i)
            out << labelOf[static_cast<std::size_t>(i)] << ", at=" << position(line.at(i).s) << ";\n";
        out << "endsequence;\n";
    }
    // the power budget of a ring's rf system, whether a cavity of its own or the line's carry it
    if (state.ringClosed && (state.rf.frequency != 0 || state.rf.voltage != 0))
        out << '\n' << rfVariables(state.rf);
    if (line.superPeriods > 1)
        out << "\nuse, period=" << kMadxRingName << ";\n";
    else
        out << "\nuse, sequence=" << kMadxSequenceName << ";\n";
    out << errorCommands(line, labelOf);
    return out.str();
}

bool writeMadxFile(const State& state, Messages& messages, const std::string& fileName)
{
    const std::optional<std::string> text = madxText(state, messages);
    return text && writeTextFileSafely(fileName, *text, messages);
}

namespace {

// The coupled line as MAD-X's TWISS writes a coupled ring: the periodic solution, BETX, ALFX, MUX of mode
// 1 and BETY, ALFY, MUY of mode 2 (Edwards-Teng; the phases are those of the modes), the coupling matrix
// R11 .. R22 and the four dispersions.
std::optional<TfsTable> coupledFunctionsTable(const State& state, Messages& messages, TfsTable table)
{
    const CoupledRing ring = coupledRing(state);
    if (!ring.computed) {
        messages.error("no coupled lattice functions: " + ring.refusal);
        return std::nullopt;
    }
    for (TfsHeader& h : table.header) {
        if (h.name == "Q1")
            h.value = num(ring.tune1);
        else if (h.name == "Q2")
            h.value = num(ring.tune2);
    }
    table.columns = {"NAME", "KEYWORD", "S",   "L",  "BETX", "ALFX", "MUX", "DX",  "DPX",
                     "BETY", "ALFY",    "MUY", "DY", "DPY",  "R11",  "R12", "R21", "R22"};
    table.formats = {"%s", "%s"};
    table.formats.resize(table.columns.size(), "%le");
    for (std::size_t k = 0; k < ring.functions.size(); ++k) {
        const CoupledFunctions& f = ring.functions[k];
        const LatticeElement* e = k == 0 ? nullptr : &state.line.at(static_cast<int>(k));
        const EdwardsTeng& et = f.et;
        table.rows.push_back({k == 0 ? "LATTICE$START" : e->name, k == 0 ? "MARKER" : keyword(*e), num(f.s),
                              num(k == 0 ? 0.0 : e->length), num(et.betaX), num(et.alphaX), num(f.phase1),
                              num(f.eta[0]), num(f.eta[1]), num(et.betaY), num(et.alphaY), num(f.phase2),
                              num(f.eta[2]), num(f.eta[3]), num(et.r11), num(et.r12), num(et.r21),
                              num(et.r22)});
    }
    return table;
}

} // namespace

std::optional<TfsTable> latticeFunctionsTable(const State& state, Messages& messages)
{
    if (state.line.count <= 0) {
        messages.error("define a beam line first!");
        return std::nullopt;
    }
    const bool coupled = lineCouples(state.line);
    State pass = state;
    pass.run.showBetaFunctions = true;
    pass.run.showBeamSize = false;
    pass.run.showTrajectory = false;
    RowCollector rows;
    QuietMessages quiet;
    if (!coupled)
        linePass(pass, quiet, nullptr, &rows);

    TfsTable table;
    const BeamParameters& beam = state.beam;
    const double restGeV = beam.restEnergy / 1e9;
    const double pcGeV = beam.referenceMomentum / 1e9;
    const double energyGeV = std::sqrt(pcGeV * pcGeV + restGeV * restGeV);
    const double q1 = rows.rows.empty() ? 0 : rows.rows.back().lf.phiX;
    const double q2 = rows.rows.empty() ? 0 : rows.rows.back().lf.phiY;
    std::string particle = beam.name.substr(std::min(beam.name.find_first_not_of(' '), beam.name.size()));
    for (char& c : particle)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    auto text = [](const std::string& name, const std::string& value) {
        return TfsHeader{name, fmt("%%%02zus", value.size()), value};
    };
    auto real = [](const std::string& name, double value) { return TfsHeader{name, "%le", num(value)}; };
    table.header = {text("NAME", "TWISS"),
                    text("TYPE", "TWISS"),
                    text("SEQUENCE", "LATTICE"),
                    text("PARTICLE", particle),
                    real("MASS", restGeV),
                    real("CHARGE", beam.charge),
                    real("ENERGY", energyGeV),
                    real("PC", pcGeV),
                    real("GAMMA", energyGeV / restGeV),
                    real("LENGTH", state.line.length),
                    real("Q1", q1),
                    real("Q2", q2),
                    text("ORIGIN", "Kestrune")};
    if (coupled)
        return coupledFunctionsTable(state, messages, std::move(table));
    table.columns = {"NAME", "KEYWORD", "S", "L", "BETX", "ALFX", "MUX", "DX", "DPX", "BETY", "ALFY", "MUY"};
    table.formats = {"%s", "%s"};
    table.formats.resize(table.columns.size(), "%le");
    for (const OpticsRow& r : rows.rows) {
        const bool start = r.index == 0;
        const LatticeElement* e = start ? nullptr : &state.line.at(r.index);
        const LatticeFunctions& lf = r.lf;
        table.rows.push_back({start ? "LATTICE$START" : e->name, start ? "MARKER" : keyword(*e), num(r.s),
                              num(start ? 0.0 : e->length), num(lf.betaX), num(lf.alphaX), num(lf.phiX),
                              num(lf.eta), num(lf.etaP), num(lf.betaY), num(lf.alphaY), num(lf.phiY)});
    }
    return table;
}

bool writeTfsFile(const State& state, Messages& messages, const std::string& fileName)
{
    const std::optional<TfsTable> table = latticeFunctionsTable(state, messages);
    return table && writeTextFileSafely(fileName, tfsText(*table), messages);
}

} // namespace kestrune

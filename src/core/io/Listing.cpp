#include "core/io/Listing.h"

#include "core/Design.h"
#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/io/SafeFile.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>

namespace kestrune {

namespace {

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

void add(std::vector<std::string>& lines, std::initializer_list<std::string> texts)
{
    lines.insert(lines.end(), texts);
}

/// A new, empty list at the end of the text; the text is cleared first when lists replace each other.
ListBlock& newList(ListText& text)
{
    if (text.replaceList)
        text.blocks.clear();
    text.blocks.emplace_back();
    ++text.revision;
    return text.blocks.back();
}

/// The list written last (a new one on an empty text).
ListBlock& lastList(ListText& text)
{
    if (text.blocks.empty())
        text.blocks.emplace_back();
    return text.blocks.back();
}

/// Where text lines go in list: after its last rows, a new part.
ListPart& linesPart(ListBlock& list)
{
    if (list.parts.empty() || !list.parts.back().rows.empty())
        list.parts.emplace_back();
    return list.parts.back();
}

ListPart& rowsPart(ListBlock& list)
{
    if (list.parts.empty())
        list.parts.emplace_back();
    return list.parts.back();
}

/// The list of a plot update: the previous plot update's list is taken out of the text and emptied,
/// keeping its memory, and goes to the end as the newest list.
ListBlock& plotUpdateList(ListText& text)
{
    ListBlock list;
    const auto previous = std::find_if(text.blocks.begin(), text.blocks.end(),
                                       [](const ListBlock& b) { return b.fromPlotUpdate; });
    if (previous != text.blocks.end()) {
        list = std::move(*previous);
        text.blocks.erase(previous);
    }
    if (text.replaceList)
        text.blocks.clear();
    if (!list.parts.empty()) {
        ListPart first = std::move(list.parts.front());
        first.lines.clear();
        first.rows.clear();
        list.parts.clear();
        list.parts.push_back(std::move(first));
    }
    list.fromPlotUpdate = true;
    text.blocks.push_back(std::move(list));
    ++text.revision;
    return text.blocks.back();
}

std::string rowLine(const ListNumberRow& row, std::size_t nameWidth)
{
    std::string line = rightJustify(row.name, nameWidth + 2) + " ";
    for (double v : row.values)
        line += fmt("%9.3f", v);
    return line;
}

std::size_t lineCount(const ListBlock& list)
{
    std::size_t n = 0;
    for (const ListPart& part : list.parts)
        n += part.lines.size() + part.rows.size();
    return n;
}

std::vector<std::string> formattedLines(const ListText& text)
{
    std::size_t n = 0;
    for (const ListBlock& list : text.blocks)
        n += lineCount(list);
    std::vector<std::string> lines;
    lines.reserve(n);
    for (const ListBlock& list : text.blocks)
        for (const ListPart& part : list.parts) {
            lines.insert(lines.end(), part.lines.begin(), part.lines.end());
            for (const ListNumberRow& row : part.rows)
                lines.push_back(rowLine(row, part.nameWidth));
        }
    return lines;
}

// The name in a list's name column: as it is in the five-character layout, padded to the column else.
std::string listName(const std::string& name, std::size_t width)
{
    return width == kShortNameLength ? name : nameField(name, width);
}

// A header's name caption for a name column of width characters: the five-character layout's caption
// followed by the blanks that widen it.
std::string nameCaption(const std::string& caption, std::size_t width)
{
    return caption + std::string(width - kShortNameLength, ' ');
}

// "  thin multipole knl[2]=12": the words of a later kind and its main parameter, after its row; empty
// for the kinds of the first versions, whose rows stay as they were.
std::string laterKindText(const LatticeElement& e)
{
    if (!isExtendedCode(e.code))
        return {};
    std::string words = editorWords(e.code, e.k);
    words = words.substr(std::min(words.find_first_not_of(' '), words.size()));
    std::string text = "  " + words.substr(0, words.find_last_not_of(' ') + 1);
    const auto value = [&](const std::string& key, double v, const char* unit) {
        text += " " + key + "=" + fmt("%.6g", v) + (*unit != 0 ? std::string(" ") + unit : std::string());
    };
    switch (e.code) {
    case code::kThinMultipole:
        for (std::size_t n = 0; n < e.knl.size(); ++n)
            if (e.knl[n] != 0)
                value("knl[" + std::to_string(n) + "]", e.knl[n], "");
        for (std::size_t n = 0; n < e.ksl.size(); ++n)
            if (e.ksl[n] != 0)
                value("ksl[" + std::to_string(n) + "]", e.ksl[n], "");
        break;
    case code::kOctupole:
        value("k3", e.k3, "1/m^4");
        break;
    case code::kSolenoid:
        value("ks", e.ks, "1/m");
        break;
    case code::kHorizontalKicker:
    case code::kVerticalKicker:
    case code::kKicker:
        if (e.code != code::kVerticalKicker)
            value("hkick", e.hkick * 1000, "mrad");
        if (e.code != code::kHorizontalKicker)
            value("vkick", e.vkick * 1000, "mrad");
        break;
    case code::kRfCavity:
        value("V", e.voltage / 1000, "kV");
        value("lag", e.lag, "");
        if (e.harmonic != 0)
            value("h", e.harmonic, "");
        else
            value("f", e.frequency / 1e6, "MHz");
        break;
    default:
        break;
    }
    return text;
}

std::string magnetLine(int i, const LatticeElement& e, std::size_t nameWidth, const BeamParameters& beam,
                       double bRho, double s)
{
    // a curvature too small for its inverse to be a number has a radius the list cannot show
    const std::string rho =
        e.curvature != 0 ? cut(fmtOrNa("%8.3f", 1 / e.curvature), 10) : std::string(8, ' ');
    const double k = familyOf(e.code) == static_cast<int>(Family::AlphaMagnet) ? 0.0 : e.k;
    return fmt("%5d", i) + listName(e.name, nameWidth) + fmt("%5d", e.code) + fmt("%8.3f", e.length) + rho +
           " " + fmt("%8.3f", k) + " " + fmt("%8.3f", e.m * e.length) + " " +
           fmt("%8.3f", beam.momentum / 1e6) + fmt("%8.3f", bRho * e.curvature) + fmt("%8.3f", bRho * e.k) +
           fmt("%8.3f", bRho * e.m * e.length) + fmt("%8.3f", s) + laterKindText(e);
}

std::string latticeLine(const LatticeElement& e, std::size_t nameWidth)
{
    constexpr double kDegrees = 180 / kPi;
    return "   " + listName(e.name, nameWidth) + fmt("%5d", e.code) + fmt("%10.5f", e.length) +
           fmt("%10.5f", e.curvature) + fmt("%10.5f", e.ain * kDegrees) + fmt("%10.5f", e.aout * kDegrees) +
           fmt("%10.5f", e.k) + fmt("%10.5f", e.s + e.length) + laterKindText(e);
}

} // namespace

void addList(State& state, const std::vector<std::string>& lines)
{
    ListPart& part = linesPart(newList(state.listing));
    part.lines.insert(part.lines.end(), lines.begin(), lines.end());
}

void appendToList(State& state, const std::vector<std::string>& lines)
{
    ListPart& part = linesPart(lastList(state.listing));
    part.lines.insert(part.lines.end(), lines.begin(), lines.end());
    ++state.listing.revision;
}

void clearList(State& state)
{
    state.listing.blocks.clear();
    ++state.listing.revision;
}

std::vector<std::string> listLines(const State& state)
{
    return formattedLines(state.listing);
}

std::size_t newestListLine(const State& state)
{
    const std::vector<ListBlock>& blocks = state.listing.blocks;
    std::size_t n = 0;
    for (std::size_t i = 0; i + 1 < blocks.size(); ++i)
        n += lineCount(blocks[i]);
    return n;
}

void setListTitle(State& state, const std::string& title)
{
    state.listing.title = title;
}

void magnetList(State& state, Messages& messages)
{
    const std::size_t nameWidth = nameColumnWidth(state.line);
    std::vector<std::string> lines{
        "",
        "",
        "Magnet Lattice",
        separatorLine(),
        nameCaption("    # Name", nameWidth) +
            " code    l(m)  rho(m) k(1/m^2) ml(1/m^2) cp(MeV)    B(T)  B'(T/m) B\"*l(T/m) s(m)",
        separatorLine(),
        ""};
    BeamParameters& beam = state.beam;
    updateKinematics(beam, EnergyKind::Momentum, beam.referenceMomentum);
    double bRho = beam.momentum / kSpeedOfLight / beam.charge; // T m
    double s = 0;
    for (int i = 1; i <= state.line.count && i <= kMaxLineElements; ++i) {
        const LatticeElement& e = state.line.at(i);
        if (e.code == code::kLinac) {
            updateKinematics(beam, EnergyKind::Kinetic, beam.kineticEnergy + e.linacField * e.length);
            bRho = beam.momentum / kSpeedOfLight / beam.charge;
        }
        s += e.length;
        lines.push_back(magnetLine(i, e, nameWidth, beam, bRho, s));
    }
    lines.push_back(separatorLine());
    addList(state, lines);
    messages.showList();
}

void LatticeFunctionList::begin(PassKind pass)
{
    if (pass == PassKind::Line)
        m_state.listing.title = kLatticeFunctionsTitle;
}

void LatticeFunctionList::row(int index, double s, const LatticeFunctions& lf)
{
    ListText& text = m_state.listing;
    const bool beamSize = !m_state.run.showBetaFunctions && m_state.run.showBeamSize;
    // the header's columns: betatron beam sizes in mm in the place of alpha in the beam-size mode
    const std::array<double, 9> values =
        beamSize
            ? std::array<double, 9>{std::sqrt(lf.epsX * lf.betaX) * 1000, lf.betaX, lf.phiX, lf.eta, lf.etaP,
                                    std::sqrt(lf.epsY * lf.betaY) * 1000, lf.betaY, lf.phiY, s}
            : std::array<double, 9>{lf.betaX, lf.alphaX, lf.phiX, lf.eta, lf.etaP,
                                    lf.betaY, lf.alphaY, lf.phiY, s};
    if (index == 0) {
        ListBlock& list = m_writer == ListWriter::PlotUpdate ? plotUpdateList(text) : newList(text);
        ListPart& part = linesPart(list);
        std::vector<std::string>& lines = part.lines;
        add(lines, {"", text.title, "", separatorLine(), ""});
        // the name column starts in the five-character layout and widens as the rows' names ask
        // (widen), so that the names are read once, as their rows are written
        m_caption = -1;
        if (m_state.run.showBetaFunctions || m_state.run.showBeamSize) {
            m_caption = static_cast<int>(lines.size());
            lines.emplace_back(m_state.run.showBetaFunctions
                                   ? "   Name   betax(m)  alphax    dnuex   eta(m)  etap(mr) betay(m)  "
                                     "alphay    dnuey     s(m)"
                                   : "   Name  sig_x(mm) betax(m)   dnuex   eta(m) etap(mr) sig_y(mm) "
                                     "betay(m)   dnuey     s(m)");
        }
        part.nameWidth = kShortNameLength;
        std::string line = "  Start ";
        for (std::size_t j = 0; j < 8; ++j)
            line += fmt("%9.3f", values[j]);
        m_start = static_cast<int>(lines.size());
        lines.push_back(line + fmt("%9.3f", 0.0));
        m_block = text.blocks.size() - 1;
        m_part = list.parts.size() - 1;
        return;
    }
    ListBlock& list = lastList(text);
    ListPart& part = rowsPart(list);
    // made in its place: a long list's rows are not moved once more
    ListNumberRow& row = part.rows.emplace_back();
    if (index <= kMaxLineElements)
        row.name = m_state.line.at(index).name;
    row.values = values;
    // a name has no more characters than bytes: only one longer in bytes can widen the column
    if (row.name.size() > part.nameWidth && m_start >= 0 && m_block == text.blocks.size() - 1 &&
        m_part == list.parts.size() - 1)
        widen(part, nameLength(row.name));
    ++text.revision;
}

void LatticeFunctionList::widen(ListPart& part, std::size_t width)
{
    // a longer name keeps its row long without making every row of a long list long
    width = std::min(width, kWidestNameColumn);
    if (width <= part.nameWidth)
        return;
    const std::size_t more = width - part.nameWidth;
    for (const int at : {m_caption, m_start})
        if (at >= 0 && static_cast<std::size_t>(at) < part.lines.size())
            part.lines[static_cast<std::size_t>(at)].insert(0, more, ' ');
    part.nameWidth = width;
}

void LatticeFunctionList::ringTunes(double tuneX, double tuneY)
{
    appendToList(m_state, {"", separatorLine(),
                           "   the ring tunes are: nuex = " + fmt("%8.3f", tuneX) +
                               ";    nuey = " + fmt("%8.3f", tuneY),
                           separatorLine()});
}

void matrixList(State& state, Messages& messages)
{
    std::vector<std::string> lines{
        " ", " ", "x-Matrix by Print", "6x6 transformation matrix for one period", separatorLine(), ""};
    for (const auto& row : state.matrix.m) {
        std::string line = "   ";
        for (double v : row)
            line += fmt("%10.5f", v);
        lines.push_back(line);
    }
    add(lines, {separatorLine(), ""});
    addList(state, lines);
    messages.showList();
}

namespace {

// The labels of the ring-parameter list that name a plane; a ring whose planes couple has its modes'
// values in their places (mode 1 mostly x, 2 mostly y, 3 the longitudinal one) and labels them so.
struct RingListLabels
{
    const char *dampingX, *dampingY, *dampingS, *tuneX, *tuneY, *naturalX, *naturalY, *correctedX,
        *correctedY, *emittanceX, *emittanceY, *coupling;
};

constexpr RingListLabels kPlaneLabels = {
    "   horiz.damping time .................. = ", "   vert.damping time ................... = ",
    "   synchrotron damping time ............ = ", "   betatron tunes,Q_x................... = ",
    "                  Q_y .................. = ", "   natural chromaticity,xi_xo ...........= ",
    "                        xi_yo ...........= ", "   corrected chromaticity,xi_x ..........= ",
    "                          xi_y ..........= ", "   horiz.beam emittance ................ = ",
    "   vert.beam emittance ................. = ", "   coupling ............................ = "};

constexpr RingListLabels kModeLabels = {
    "   mode 1 damping time ................. = ", "   mode 2 damping time ................. = ",
    "   mode 3 damping time ................. = ", "   eigentunes,Q_1 ...................... = ",
    "              Q_2 ...................... = ", "   natural chromaticity,xi_1o ...........= ",
    "                        xi_2o ...........= ", "   corrected chromaticity,xi_1 ..........= ",
    "                          xi_2 ..........= ", "   mode 1 beam emittance ............... = ",
    "   mode 2 beam emittance ............... = ", "   emittance ratio,eps_2/eps_1 ......... = "};

} // namespace

void ringParameterList(State& state, Messages& messages)
{
    const RingParameters& r = state.ringParams;
    const BeamParameters& beam = state.beam;
    const bool modes = r.modes.coupled;
    const RingListLabels& l = modes ? kModeLabels : kPlaneLabels;
    // the modes share no typed coupling: their emittances' ratio takes its place
    const double coupling = modes ? r.emittanceY / r.emittanceX : r.coupling;
    // a value that could not be computed (no bends, no periodic solution) reads "n/a"
    addList(state,
            {separatorLine(),
             "",
             "Storage Ring Parameters",
             "",
             separatorLine(),
             cut("   particle............................. = " + beam.name, 58),
             "   particle momentum, cp................ = " + siFormat(beam.momentum, "eV"),
             "   gamma ............................... = " + fmt("%10.5f", beam.gamma),
             "   beam current......................... = " + siFormat(state.beamCurrent, "A"),
             "   ring circumference,C................. = " + fmtOrNa("%10.5f", r.circumference) + " m",
             "   energy loss/turn .................... = " + siFormatOrNa(r.energyLoss, "eV"),
             "   tot. radiation power ................ = " + siFormatOrNa(r.radiationPower, "W"),
             l.dampingX + siFormatOrNa(r.dampingTimeX, "sec"),
             l.dampingY + siFormatOrNa(r.dampingTimeY, "sec"),
             l.dampingS + siFormatOrNa(r.dampingTimeS, "sec"),
             "",
             separatorLine(),
             "",
             l.tuneX + fmtOrNa("%10.5f", r.tuneX),
             l.tuneY + fmtOrNa("%10.5f", r.tuneY),
             l.naturalX + fmtOrNa("%10.5f", r.chromaticityX),
             l.naturalY + fmtOrNa("%10.5f", r.chromaticityY),
             l.correctedX + fmtOrNa("%10.5f", r.correctedChromaticityX),
             l.correctedY + fmtOrNa("%10.5f", r.correctedChromaticityY),
             "",
             separatorLine(),
             "",
             l.emittanceX + siFormatOrNa(r.emittanceX, "m"),
             l.emittanceY + siFormatOrNa(r.emittanceY, "m"),
             l.coupling + fmtOrNa("%10.5f", coupling * 100) + " %",
             "   rel.energy spread ................... = " + fmtOrNa("%10.5f", r.energySpread * 100) + " %",
             "   momentum compaction factor, alpha_c . = " + fmtOrNa("%10.6f", r.momentumCompaction),
             "",
             separatorLine(),
             "",
             "   radiation integrals,I1 ...............= " + fmtOrNa("%10.4g", r.i1),
             "                       I2 ...............= " + fmtOrNa("%10.4g", r.i2) + " 1/m",
             "                       I3 ...............= " + fmtOrNa("%10.4g", r.i3) + " 1/m^2",
             "                       I4 ...............= " + fmtOrNa("%10.4g", r.i4) + " 1/m",
             "                       I5 ...............= " + fmtOrNa("%10.4g", r.i5) + " 1/m",
             "",
             separatorLine(),
             ""});
    messages.showList();
}

void beamParameterList(State& state, Messages& messages)
{
    const BeamParameters& beam = state.beam;
    const double mc2 = beam.restEnergy;
    const double cp0 = beam.referenceMomentum;
    const double eKin0 = std::sqrt(cp0 * cp0 + mc2 * mc2) - mc2;
    const double gamma0 = eKin0 / mc2 + 1;
    const double beta0 = cp0 / (eKin0 + mc2);
    std::vector<std::string> lines{separatorLine(),
                                   "",
                                   "   Beam Parameter List",
                                   "",
                                   separatorLine(),
                                   cut("   Particle Type:                   " + beam.name, 51) +
                                       (beam.massNumber > 1 ? "-ion" : ""),
                                   "   rest mass,                mc^2 = " + siFormat(mc2, "eV")};
    if (beam.isIon)
        add(lines, {"   Charge Multiplicity,       Z = " + std::to_string(beam.charge),
                    "   Atomic mass units,         A = " + fmt("%8.3f", beam.massNumber)});
    add(lines,
        {"   init.kinetic Energy,     E_kin = " + siFormat(eKin0, "eV"),
         "   init.particle momentum,     cp = " + siFormat(cp0, "eV"),
         "   init.relativistic factor,gamma = " + fmt("%8.3f", gamma0),
         "   init.particle velocity,    v/c = " + fmt("%8.3f", beta0),
         "   norm. emittance,   eps_x*gamma = " + fmt("%8.3f", state.lf.epsX * gamma0 * 1e6) + " mm*mrad",
         "   norm. emittance,   eps_y*gamma = " + fmt("%8.3f", state.lf.epsY * gamma0 * 1e6) + " mm*mrad",
         separatorLine(), ""});
    addList(state, lines);
    messages.showList();
}

void rfParameterList(State& state, Messages& messages)
{
    const RfParameters& rf = state.rf;
    const std::string dots = " = ..........";
    // results and a power budget of other settings or another design are not listed as current
    const double nan = std::nan("");
    const bool results = rf.stamp == rfStamp(state);
    const bool budget = rf.budgetStamp == rfBudgetStamp(state);
    const auto result = [&](double x) { return results ? x : nan; };
    const auto budgetValue = [&](double x) { return budget ? x : nan; };
    addList(
        state,
        {separatorLine(),
         "",
         "   Rf-parameter",
         "",
         separatorLine(),
         "   rf-frequency,            f_rf" + dots + fmt("%10.4g", rf.frequency / 1e6) + " MHz",
         "   harmonic number,            h" + dots + fmt("%10.4g", state.ringParams.harmonicNumber),
         "   slip factor,            eta_c" + dots + fmtOrNa("%10.4g", result(rf.slipFactor)),
         "   tot. available rf-power, P_rf" + dots + fmt("%10.5f", rf.power / 1000) + " kW",
         "",
         separatorLine(),
         "   cavity parameters:",
         separatorLine(),
         "   number of rf-cells,    NumCav" + dots + fmt("%10d", rf.cavities),
         "   tot. cavity length,    CavLen" + dots + fmtOrNa("%10.4g", budgetValue(rf.cavityLength)) + " m",
         "   tot.cavity voltage,      V_rf" + dots + fmtOrNa("%10.5f", rf.voltage / 1e6) + " MV",
         "   energy acceptance     dE/E_rf" + dots + fmtOrNa("%10.5f", result(rf.energyAcceptance) * 100) +
             " %",
         cut("   cavity material,                          " + (budget ? rf.cavityMaterial : "n/a"), 55),
         "   tot.shunt impedance,   CavImp" + dots + fmtOrNa("%10.5f", budgetValue(rf.shuntImpedance) / 1e6) +
             " MOhm",
         "   cavity losses,          P_cav" + dots +
             fmtOrNa("%10.5f", budgetValue(rf.cavityLossPower) / 1000) + " kW",
         "   misc. rf losses        P_misc" + dots + fmtOrNa("%10.5f", budgetValue(rf.miscLossPower) / 1000) +
             " kW",
         "   available beam power,     P_b" + dots + fmtOrNa("%10.5f", budgetValue(rf.beamPower) / 1000) +
             " kW",
         "   maximum beam current,     I_b" + dots +
             fmtOrNa("%10.5f", budgetValue(rf.maxBeamCurrent) * 1000) + " mA",
         separatorLine(),
         ""});
    messages.showList();
}

void latticeList(State& state, Messages& messages)
{
    const std::size_t nameWidth = nameColumnWidth(state.line);
    std::vector<std::string> lines{"",
                                   separatorLine(),
                                   "   lattice structure and magnet parameters",
                                   separatorLine(),
                                   nameCaption("    name", nameWidth) +
                                       "   ID      l(m) 1/rho(1/m) Ain(deg)  Aout(deg)  k(1/m^2)      s(m)",
                                   nameCaption("   Start", nameWidth) +
                                       "                                                       " +
                                       fmt("%10.5f", 0.0)};
    for (int i = 1; i <= state.line.count && i <= kMaxLineElements; ++i)
        lines.push_back(latticeLine(state.line.at(i), nameWidth));
    // before the ring is expanded there is no full ring: the end is the end of the line
    const int last = state.ringElementCount;
    const double end = last >= 1 && last <= kMaxLineElements
                           ? state.line.at(last).s + state.line.at(last).length
                           : state.line.length;
    add(lines, {nameCaption("   End ", nameWidth) + "                                     " +
                    cut(fmt("%10.5f", end), 10),
                separatorLine()});
    addList(state, lines);
    messages.showList();
}

std::string listFileText(const ListText& listing)
{
    std::string text;
    for (const std::string& line : formattedLines(listing))
        text += line + "\r\n";
    return text;
}

bool saveListAs(State& state, Messages& messages, const std::string& fileName)
{
    if (!writeTextFileSafely(fileName, listFileText(state.listing), messages))
        return false;
    state.lastSavedFile = fileName;
    state.lastSaveFolder = std::filesystem::path(fileName).parent_path().string();
    return true;
}

std::string saveDialogFolder(const State& state, const std::string& workingFolder)
{
    return state.lastSaveFolder.empty() ? workingFolder : state.lastSaveFolder;
}

std::string listFilePreset(const State& state, const std::string& workingFolder)
{
    return exportFilePreset(state, workingFolder, ".txt");
}

std::string exportFilePreset(const State& state, const std::string& workingFolder,
                             const std::string& extension)
{
    const std::filesystem::path folder(saveDialogFolder(state, workingFolder));
    if (state.lastOpenedFile.empty())
        return folder.string();
    // never the lattice file's own name: saving the list under it would overwrite the lattice
    const std::filesystem::path lattice = std::filesystem::path(state.lastOpenedFile).filename();
    const std::string latticeExtension = lower(lattice.extension().string());
    const std::string stem = lattice.stem().string();
    const std::string wanted = lower(extension);
    const std::string word = wanted == ".txt" ? "-list" : "-export";
    return (folder / (latticeExtension == wanted ? stem + word + extension : stem + extension)).string();
}

} // namespace kestrune

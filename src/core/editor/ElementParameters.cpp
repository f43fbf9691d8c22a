#include "core/editor/ElementParameters.h"

#include "core/Drawing.h"
#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/Kinematics.h"
#include "core/NumberInput.h"

#include <cctype>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <vector>

namespace kestrune {

namespace {

constexpr double kDegreesPerRadian = 180.0 / kPi;
// the alpha magnet's orbit: path length, apex and compression scale with sqrt(cp0/mc2/k)
constexpr double kAlphaPathLength = 191.655;     // cm
constexpr double kAlphaApex = 75.0513;           // cm
constexpr double kAlphaCompression = 0.958275;   // cm per per cent
constexpr double kGaussPerCmToK = 3e6;           // g (Gauss/cm) = k (1/m^2) * cp (eV) / 3e6
constexpr double kAlphaFallbackMomentum = 2.5e6; // eV
// a fill can run the type handler, which fills again: the second fill always finds its button checked
constexpr int kMaxTypeHandlerDepth = 3;

void setRow(ParameterGrid& grid, int row, const std::string& label, const std::string& value,
            const std::string& unit)
{
    grid.cell(0, row) = label;
    grid.cell(1, row) = value;
    grid.cell(2, row) = unit;
}

void fillPoleFaces(const LatticeElement& el, const PanelSettings& settings, ParameterGrid& grid)
{
    if (settings.anglesInRadians)
        setRow(grid, 6, " pole face angles: Ain/Aout(rad)", fmt("%10.5f", el.ain), fmt("%10.5f", el.aout));
    else
        setRow(grid, 6, " Pole Face Angles: Ain/Aout(deg)", fmt("%10.5f", el.ain * kDegreesPerRadian),
               fmt("%10.5f", el.aout * kDegreesPerRadian));
}

void fillAlphaMagnet(const State& state, const LatticeElement& el, ParameterGrid& grid)
{
    const double cp0 = state.beam.referenceMomentum;
    grid.cell(1, 3) = "0.0";
    setRow(grid, 4, " field gradient, g ", fmt("%8.3f", el.k * cp0 / kGaussPerCmToK), " Gauss/cm");
    setRow(grid, 5, " particle momentum, cp0", fmt("%8.3f", cp0 / 1e6), " MeV");
    // without a positive strength and momentum there is no alpha-magnet orbit: the derived rows stay
    // empty rather than showing inf or nan
    const double scale = cp0 / state.beam.restEnergy / el.k;
    const bool orbit = std::isfinite(scale) && scale > 0;
    const double root = orbit ? std::sqrt(scale) : 0.0;
    auto derived = [&](double factor) { return orbit ? fmt("%8.3f", factor * root) : std::string(); };
    setRow(grid, 6, " nominal path length ", derived(kAlphaPathLength), " cm");
    setRow(grid, 7, " apex of path ", derived(kAlphaApex), " cm");
    setRow(grid, 8, " compression, ds/(dp/p) ", derived(kAlphaCompression), " cm/%");
}

// The rows of the kinds of families 6..9, of the skew and roll fields and of the aperture, in SI units
// and the shortest text that reads back as the stored value, so that accepting the panel changes only
// what was typed. Each row is read back by its label.
std::string number(double v)
{
    return shortestFloat(v);
}

const char* const kSkewLabel = " skew gradient k1s";
const char* const kTiltLabel = " roll angle (tilt)";
const char* const kOctupoleLabel = " octupole strength k3";
const char* const kSolenoidLabel = " solenoid strength ks";
const char* const kHKickLabel = " horizontal kick";
const char* const kVKickLabel = " vertical kick";
const char* const kVoltageLabel = " cavity voltage";
const char* const kLagLabel = " phase lag";
const char* const kHarmonicLabel = " harmonic number";
const char* const kFrequencyLabel = " rf frequency";
const char* const kApertureTypeLabel = " aperture type";
const char* const kApertureABLabel = " aperture a / b (m)";
const char* const kApertureCDLabel = " aperture c / d (m)";
const char* const kApertureOffsetLabel = " aperture offset dx / dy (m)";
// The aperture's rows sit below every kind's own rows.
constexpr int kApertureRow = 15;

const char* const kApertureWords[] = {"none", "circle", "rectangle", "ellipse", "rectellipse"};

// " knl / ksl order 2 (1/m^2)": the row of order n of a thin multipole, knl in column 1, ksl in column 2
std::string multipoleLabel(int n)
{
    if (n == 0)
        return " knl / ksl order 0 (rad)";
    if (n == 1)
        return " knl / ksl order 1 (1/m)";
    return " knl / ksl order " + std::to_string(n) + " (1/m^" + std::to_string(n) + ")";
}

double orderValue(const std::vector<double>& strengths, int n)
{
    return static_cast<std::size_t>(n) < strengths.size() ? strengths[static_cast<std::size_t>(n)] : 0.0;
}

bool isMagnet(int elementCode)
{
    const int family = familyOf(elementCode);
    return family == 1 || family == 2 || family == 3 || elementCode == code::kThinMultipole ||
           elementCode == code::kOctupole;
}

bool hasHorizontalKick(int elementCode)
{
    return elementCode == code::kHorizontalKicker || elementCode == code::kKicker;
}

bool hasVerticalKick(int elementCode)
{
    return elementCode == code::kVerticalKicker || elementCode == code::kKicker;
}

// The first row at or below 4 whose label is empty.
int nextFreeRow(const ParameterGrid& grid)
{
    int row = 4;
    while (row < kApertureRow && !grid.cell(0, row).empty())
        ++row;
    return row;
}

void addRow(ParameterGrid& grid, const std::string& label, const std::string& value, const std::string& unit)
{
    setRow(grid, nextFreeRow(grid), label, value, unit);
}

void fillExtendedRows(const LatticeElement& el, ParameterGrid& grid)
{
    switch (el.code) {
    case code::kThinMultipole:
        for (int n = 0; n <= kMaxMultipoleOrder; ++n)
            setRow(grid, 4 + n, multipoleLabel(n), number(orderValue(el.knl, n)),
                   number(orderValue(el.ksl, n)));
        break;
    case code::kOctupole:
        addRow(grid, kOctupoleLabel, number(el.k3), " 1/m^4");
        break;
    case code::kSolenoid:
        addRow(grid, kSolenoidLabel, number(el.ks), " 1/m");
        break;
    case code::kRfCavity:
        addRow(grid, kVoltageLabel, number(el.voltage), " V");
        addRow(grid, kLagLabel, number(el.lag), " 2 pi");
        addRow(grid, kHarmonicLabel, number(el.harmonic), "");
        addRow(grid, kFrequencyLabel, number(el.frequency), " Hz");
        break;
    default:
        break;
    }
    if (hasHorizontalKick(el.code))
        addRow(grid, kHKickLabel, number(el.hkick), " rad");
    if (hasVerticalKick(el.code))
        addRow(grid, kVKickLabel, number(el.vkick), " rad");
    const int family = familyOf(el.code);
    if (family == 1 || family == 2)
        addRow(grid, kSkewLabel, number(el.k1s), " 1/m^2");
    if (isMagnet(el.code))
        addRow(grid, kTiltLabel, number(el.tilt), " rad");
}

void fillAperture(const ElementAperture& a, ParameterGrid& grid)
{
    const int type = static_cast<int>(a.type);
    setRow(grid, kApertureRow, kApertureTypeLabel, type >= 0 && type <= 4 ? kApertureWords[type] : "none",
           "");
    setRow(grid, kApertureRow + 1, kApertureABLabel, number(a.a[0]), number(a.a[1]));
    setRow(grid, kApertureRow + 2, kApertureCDLabel, number(a.a[2]), number(a.a[3]));
    setRow(grid, kApertureRow + 3, kApertureOffsetLabel, number(a.dx), number(a.dy));
}

// The row of a label, -1 when the grid has none.
int rowOf(const ParameterGrid& grid, const char* label)
{
    for (int row = 4; row < ParameterGrid::kRows; ++row)
        if (grid.cell(0, row) == label)
            return row;
    return -1;
}

void readLabelled(const ParameterGrid& grid, const char* label, double& field)
{
    const int row = rowOf(grid, label);
    if (row >= 0)
        field = parseDouble(grid.cell(1, row));
}

std::optional<ApertureType> apertureTypeNamed(const std::string& text)
{
    std::string word;
    for (char c : text)
        if (c != ' ')
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (int type = 0; type <= 4; ++type)
        if (word == kApertureWords[type])
            return static_cast<ApertureType>(type);
    return std::nullopt;
}

// The orders of a thin multipole up to the highest that is not 0.
std::vector<double> trimmedOrders(std::vector<double> strengths)
{
    while (!strengths.empty() && strengths.back() == 0)
        strengths.pop_back();
    return strengths;
}

void readExtendedRows(LatticeElement& el, const ParameterGrid& grid)
{
    if (grid.cell(0, 4) == multipoleLabel(0)) {
        std::vector<double> knl(kMaxMultipoleOrder + 1, 0.0);
        std::vector<double> ksl(kMaxMultipoleOrder + 1, 0.0);
        for (int n = 0; n <= kMaxMultipoleOrder; ++n) {
            const auto index = static_cast<std::size_t>(n);
            knl[index] = parseDouble(grid.cell(1, 4 + n));
            ksl[index] = parseDouble(grid.cell(2, 4 + n));
        }
        el.knl = trimmedOrders(std::move(knl));
        el.ksl = trimmedOrders(std::move(ksl));
    }
    readLabelled(grid, kOctupoleLabel, el.k3);
    readLabelled(grid, kSolenoidLabel, el.ks);
    readLabelled(grid, kVoltageLabel, el.voltage);
    readLabelled(grid, kLagLabel, el.lag);
    readLabelled(grid, kHarmonicLabel, el.harmonic);
    readLabelled(grid, kFrequencyLabel, el.frequency);
    readLabelled(grid, kHKickLabel, el.hkick);
    readLabelled(grid, kVKickLabel, el.vkick);
    readLabelled(grid, kSkewLabel, el.k1s);
    readLabelled(grid, kTiltLabel, el.tilt);
    if (grid.cell(0, kApertureRow) != kApertureTypeLabel)
        return;
    ElementAperture a = el.aperture;
    if (const std::optional<ApertureType> type = apertureTypeNamed(grid.cell(1, kApertureRow)))
        a.type = *type;
    a.a[0] = parseDouble(grid.cell(1, kApertureRow + 1));
    a.a[1] = parseDouble(grid.cell(2, kApertureRow + 1));
    a.a[2] = parseDouble(grid.cell(1, kApertureRow + 2));
    a.a[3] = parseDouble(grid.cell(2, kApertureRow + 2));
    a.dx = parseDouble(grid.cell(1, kApertureRow + 3));
    a.dy = parseDouble(grid.cell(2, kApertureRow + 3));
    el.aperture = a;
}

void fillRows(const State& state, int e, const PanelSettings& settings, ParameterGrid& grid)
{
    const LatticeElement& el = state.line.at(e);
    const std::string words = editorWords(el.code, el.k);
    grid.clearRows();
    setRow(grid, 0, " running index", std::to_string(e), "");
    setRow(grid, 1, words.empty() ? " drift space" : words, el.name.empty() ? "Name" : el.name, "");
    setRow(grid, 2, " ID   ", std::to_string(el.code), "");
    setRow(grid, 3, " path length ", fmt("%10.5f", el.length), " m");

    switch (el.code) {
    case code::kLinac:
        setRow(grid, 4, " accelerating Field ", fmt("%10.2f", el.linacField / 1e6), " MeV/m");
        setRow(grid, 5, " energy gain ", fmt("%8.3f", el.linacField * el.length / 1e6), " MeV");
        break;
    case code::kEinzelLens:
        setRow(grid, 4, " voltage", fmt("%10.2f", el.k / 1e3), " kVolt");
        break;
    case code::kElectrostatic:
        setRow(grid, 4, " total energy gain", fmt("%8.3f", el.energyGain / 1e3), "keV");
        setRow(grid, 5, " number of electrodes", fmt("%8.3f", el.electrodes), "");
        break;
    default:
        break;
    }

    switch (familyOf(el.code)) {
    case 1:
        setRow(grid, 4, " curvature ", fmt("%10.5f", el.curvature), " 1/m");
        setRow(grid, 5, " gradient strength", fmt("%10.5f", el.k), " 1/m^2");
        fillPoleFaces(el, settings, grid);
        setRow(grid, 7, " full magnet gap", fmt("%10.5f", el.gap * 100.0), " cm");
        setRow(grid, 8, " deflection angle", fmt("%10.5f", el.length * el.curvature * kDegreesPerRadian),
               " degrees");
        break;
    case 2:
        setRow(grid, 4, " quadrupole strength ", fmt("%10.5f", el.k), " 1/m^2");
        break;
    case 3:
        setRow(grid, 4, " sextupole Strength ", fmt("%10.5f", el.m), "1/m^3");
        break;
    case 4:
        if (el.code == code::kPump) {
            grid.cell(1, 3) = " 0.0";
            setRow(grid, 4, " Pumping Speed ", fmt("%10.2f", el.pumpSpeed), " lt/sec");
        }
        break;
    case 5:
        fillAlphaMagnet(state, el, grid);
        break;
    default:
        break;
    }
    fillExtendedRows(el, grid);
    fillAperture(el.aperture, grid);
}

// The button a family's element calls for, 0 for none.
int wantedButton(const LatticeElement& el)
{
    switch (familyOf(el.code)) {
    case 1:
    case 3:
    case 5: {
        const int type = el.code % 10;
        return type >= 1 && type <= 3 ? type : 0;
    }
    case 2:
        return el.k >= 0 ? 1 : 2;
    case 7:
        return el.code >= code::kHorizontalKicker && el.code <= code::kKicker ? el.code - 69 : 0;
    case 8:
        return el.code >= code::kHorizontalMonitor && el.code <= code::kMonitor ? el.code - 80 : 0;
    default:
        return 0;
    }
}

void setTypeButtons(int elementCode, PanelView& view)
{
    const int family = familyOf(elementCode);
    static const std::array<std::string, 3> kBends = {" rect.Magnet", " sector Magnet", " wedge Magnet"};
    static const std::array<std::string, 3> kQuads = {" foc.quadrupole", " defoc. quadrupole ", ""};
    static const std::array<std::string, 3> kSextupoles = {" SF-sextupole", " SD-sextupole",
                                                           " special sextupole"};
    static const std::array<std::string, 3> kAlphas = {"1st half alpha-Magnet", "2nd half alpha-Magnet",
                                                       "full alpha-Magnet"};
    static const std::array<std::string, 3> kPlanes = {" horizontal", " vertical", " both planes"};
    const std::array<std::string, 3>* captions = nullptr;
    switch (family) {
    case 1:
        captions = &kBends;
        break;
    case 2:
        captions = &kQuads;
        break;
    case 3:
        captions = &kSextupoles;
        break;
    case 5:
        captions = &kAlphas;
        break;
    case 7:
        captions = &kPlanes;
        break;
    case 8: // monitors; a marker has no plane
        captions = elementCode == code::kMarker ? nullptr : &kPlanes;
        break;
    default:
        break;
    }
    for (std::size_t b = 0; b < 3; ++b) {
        view.typeButtonCaption[b] = captions ? (*captions)[b] : std::string();
        view.typeButtonVisible[b] = !view.typeButtonCaption[b].empty();
    }
}

// The quadrupole's drawing after its sign was set: colour by the chosen type (none: kept), height by k.
void drawQuadrupole(State& state, int e, int typeChoice)
{
    ElementShape& shape = state.line.shape(e);
    if (typeChoice == 1)
        shape.colour = colour::kRed;
    else if (typeChoice == 2)
        shape.colour = colour::kGreen;
    const double sigma = state.line.at(e).k > 0 ? 1.0 : -1.0;
    shape.y0 = state.drawBaseline * state.drawScale;
    shape.y1 = shape.y0 + sigma * 8.0 * state.drawScale;
}

// A kicker's or monitor's plane from type button 1..3 (horizontal, vertical, both); a kicker loses the
// kick of the plane it no longer has, so that no hidden kick stays behind. A marker keeps its code.
void setPlane(LatticeElement& el, int typeChoice)
{
    if (typeChoice < 1 || typeChoice > 3)
        return;
    if (familyOf(el.code) == static_cast<int>(Family::Kicker)) {
        el.code = code::kHorizontalKicker + typeChoice - 1;
        if (!hasHorizontalKick(el.code))
            el.hkick = 0;
        if (!hasVerticalKick(el.code))
            el.vkick = 0;
    } else if (el.code != code::kMarker) {
        el.code = code::kHorizontalMonitor + typeChoice - 1;
    }
}

void applyType(State& state, int e, int typeChoice)
{
    LatticeElement& el = state.line.at(e);
    switch (familyOf(el.code)) {
    case 1:
        if (typeChoice == 1) {
            el.code = code::kRectangularBend;
            el.ain = el.aout = el.length * el.curvature / 2.0;
        } else if (typeChoice == 2) {
            el.code = code::kSectorBend;
            el.ain = el.aout = 0;
        } else if (typeChoice == 3) {
            el.code = code::kWedgeBend;
        }
        break;
    case 2:
        if (typeChoice == 1 || typeChoice == 2) {
            el.code = code::kQuadrupole;
            el.k = typeChoice == 1 ? std::fabs(el.k) : -std::fabs(el.k);
            el.m = 0;
            el.ain = el.aout = 0;
        }
        drawQuadrupole(state, e, typeChoice);
        break;
    case 3:
        if (typeChoice == 1 || typeChoice == 2) {
            el.code = typeChoice == 1 ? code::kSextupoleF : code::kSextupoleD;
            el.m = typeChoice == 1 ? std::fabs(el.m) : -std::fabs(el.m);
            el.k = 0;
            el.ain = el.aout = 0;
        } else if (typeChoice == 3) {
            el.code = code::kSextupoleSpecial;
        }
        break;
    case 4:
        el.code = code::kPump;
        break;
    case 5:
        if (typeChoice >= 1 && typeChoice <= 3)
            el.code = code::kAlphaFirstHalf + typeChoice - 1;
        break;
    case 7:
    case 8:
        setPlane(el, typeChoice);
        break;
    default:
        break;
    }
}

PanelView fillPanel(State& state, int e, PanelSettings& settings, int depth);

PanelView typeHandler(State& state, int e, int typeChoice, PanelSettings& settings, int depth)
{
    settings.typeChoice = typeChoice;
    settings.checkedButton = typeChoice;
    applyType(state, e, typeChoice);
    return fillPanel(state, e, settings, depth + 1);
}

PanelView fillPanel(State& state, int e, PanelSettings& settings, int depth)
{
    const LatticeElement& el = state.line.at(e);
    const int family = familyOf(el.code);
    PanelView view;
    view.scrollVisible = family == 2;
    view.unitsVisible = family == 1;
    setTypeButtons(el.code, view);
    if (view.typeButtonVisible[0]) {
        const int wanted = wantedButton(el);
        if (wanted != settings.checkedButton) {
            settings.checkedButton = wanted;
            // a check set by the fill acts as a click on it; with every check cleared no type is chosen,
            // so that accepting keeps a code outside the table
            if (wanted == 0)
                settings.typeChoice = 0;
            else if (depth < kMaxTypeHandlerDepth)
                return typeHandler(state, e, wanted, settings, depth);
        }
    }
    view.checkedButton = settings.checkedButton;
    fillRows(state, e, settings, view.grid);
    view.rowOneLabel = view.grid.cell(0, 1);
    return view;
}

// Value of a grid cell; the toolkit's conversion error for anything that is not a number.
double value(const ParameterGrid& grid, int column, int row)
{
    return parseDouble(grid.cell(column, row));
}

void readLength(State& state, int e, const ParameterGrid& grid)
{
    BeamLine& line = state.line;
    const double length = value(grid, 1, 3);
    if (length == line.at(e).length)
        return;
    line.at(e).length = length;
    for (int j = e; j <= line.count; ++j) {
        line.at(j).s = j == 1 ? 0.0 : line.at(j - 1).s + line.at(j - 1).length;
        placeShape(line, j);
    }
    // the next appended element starts at the new end, even when a later cell stops the reading
    line.length = line.endPosition();
}

void readCodeRows(LatticeElement& el, const ParameterGrid& grid)
{
    switch (el.code) {
    case code::kLinac:
        el.linacField = value(grid, 1, 4) * 1e6;
        break;
    case code::kEinzelLens:
        el.k = value(grid, 1, 4) * 1000.0;
        break;
    case code::kElectrostatic: {
        el.electrodes = std::nearbyint(value(grid, 1, 5));
        if (el.electrodes < 2)
            el.electrodes = 10;
        el.energyGain = value(grid, 1, 4) * 1000.0;
        el.k = el.energyGain / (el.electrodes - 1.0); // voltage of one gap
        break;
    }
    default:
        break;
    }
}

void readBend(LatticeElement& el, const ParameterGrid& grid, PanelSettings& settings)
{
    el.curvature = value(grid, 1, 4);
    if (el.curvature == 0)
        el.curvature = 1e-10; // a bending magnet never has zero curvature
    el.k = value(grid, 1, 5);
    settings.anglesInRadians = !settings.unitsBoxDegrees;
    settings.angleFactor = settings.unitsBoxDegrees ? kDegreesPerRadian : 1.0;
    el.ain = value(grid, 1, 6) / settings.angleFactor;
    el.aout = value(grid, 2, 6) / settings.angleFactor;
    el.gap = value(grid, 1, 7) / 100.0;
    switch (settings.typeChoice) {
    case 1:
        el.code = code::kRectangularBend;
        el.ain = el.aout = el.length * el.curvature / 2.0;
        el.m = 0;
        break;
    case 2:
        el.code = code::kSectorBend;
        el.ain = el.aout = 0;
        el.m = 0;
        break;
    case 3:
        el.code = code::kWedgeBend;
        el.m = 0;
        break;
    default:
        break;
    }
}

void readAlphaMagnet(State& state, LatticeElement& el, const ParameterGrid& grid, int typeChoice)
{
    BeamParameters& beam = state.beam;
    updateKinematics(beam, EnergyKind::Momentum, value(grid, 1, 5) * 1e6);
    if (!(beam.momentum > 0))
        updateKinematics(beam, EnergyKind::Momentum, kAlphaFallbackMomentum);
    beam.referenceMomentum = beam.momentum;
    el.k = value(grid, 1, 4) * kGaussPerCmToK / beam.momentum;
    if (typeChoice >= 1 && typeChoice <= 3)
        el.code = code::kAlphaFirstHalf + typeChoice - 1;
}

} // namespace

std::string& ParameterGrid::cell(int column, int row)
{
    if (column < 0 || column >= kColumns || row < 0 || row >= kRows)
        throw std::out_of_range("grid cell " + std::to_string(column) + "," + std::to_string(row));
    return m_cells[static_cast<std::size_t>(column)][static_cast<std::size_t>(row)];
}

const std::string& ParameterGrid::cell(int column, int row) const
{
    return const_cast<ParameterGrid*>(this)->cell(column, row);
}

void ParameterGrid::clearRows()
{
    for (int column = 0; column <= 2; ++column)
        for (int row = 0; row <= kRows - 2; ++row)
            cell(column, row).clear();
}

PanelView showParameter(State& state, int e, PanelSettings& settings)
{
    return fillPanel(state, e, settings, 0);
}

void getData(State& state, int e, const ParameterGrid& grid, PanelSettings& settings)
{
    LatticeElement& el = state.line.at(e);
    el.name = elementName(grid.cell(1, 1));
    readLength(state, e, grid);
    readCodeRows(el, grid);
    switch (familyOf(el.code)) {
    case 1:
        readBend(el, grid, settings);
        break;
    case 2:
        el.k = std::fabs(value(grid, 1, 4));
        if (settings.typeChoice == 2)
            el.k = -el.k;
        drawQuadrupole(state, e, settings.typeChoice);
        break;
    case 3:
        if (settings.typeChoice >= 1 && settings.typeChoice <= 3)
            el.code = code::kSextupoleF + settings.typeChoice - 1;
        el.m = value(grid, 1, 4);
        break;
    case 4:
        if (el.code == code::kPump)
            el.pumpSpeed = value(grid, 1, 4);
        break;
    case 5:
        readAlphaMagnet(state, el, grid, settings.typeChoice);
        break;
    default:
        break;
    }
    readExtendedRows(el, grid);
    if (familyOf(el.code) == 7 || familyOf(el.code) == 8)
        setPlane(el, settings.typeChoice);
}

bool acceptData(State& state, int e, const ParameterGrid& grid, PanelSettings& settings, Messages& messages)
{
    // a length that is no number stops getData at its cell, after the name, as every other cell does
    double length = 0;
    try {
        length = parseDouble(grid.cell(1, 3));
    } catch (const ConversionError&) {
    }
    if (length < 0) {
        messages.error("the path length must not be negative!");
        return false;
    }
    if (grid.cell(0, kApertureRow) == kApertureTypeLabel && !apertureTypeNamed(grid.cell(1, kApertureRow))) {
        messages.error("the aperture type must be none, circle, rectangle, ellipse or rectellipse!");
        return false;
    }
    // read into a copy first, so that values outside the element ranges (which no lattice file would
    // take back) leave the element as it was; a cell that is no number stops the real reading below at
    // that cell, keeping what was read before it, as the panel always did
    {
        State trial = state;
        PanelSettings trialSettings = settings;
        bool read = true;
        try {
            getData(trial, e, grid, trialSettings);
        } catch (const ConversionError&) {
            read = false;
        }
        const std::optional<std::string> refusal = read ? elementRefusal(trial.line.at(e)) : std::nullopt;
        if (refusal) {
            messages.error(*refusal);
            return false;
        }
    }
    getData(state, e, grid, settings);
    state.line.length = state.line.endPosition();
    return true;
}

PanelView rbMTypeClick(State& state, int e, int typeChoice, PanelSettings& settings)
{
    return typeHandler(state, e, typeChoice, settings, 0);
}

void cbUnitsChange(const State& state, int e, bool degrees, PanelSettings& settings, ParameterGrid& grid)
{
    settings.unitsBoxDegrees = degrees;
    settings.anglesInRadians = !degrees;
    settings.angleFactor = degrees ? kDegreesPerRadian : 1.0;
    if (e < 1 || e > kMaxLineElements)
        return;
    const LatticeElement& el = state.line.at(e);
    if (familyOf(el.code) != 1)
        return;
    grid.cell(0, 6) = degrees ? " Pole Face Angles: Ain/Aout(deg)" : " pole face angles: Ain/Aout(rad)";
    grid.cell(1, 6) = fmt("%10.5f", el.ain * settings.angleFactor);
    grid.cell(2, 6) = fmt("%10.5f", el.aout * settings.angleFactor);
}

PanelView roundTripPanel(State& state, int e, PanelSettings& settings)
{
    PanelView view = showParameter(state, e, settings);
    getData(state, e, view.grid, settings);
    return view;
}

} // namespace kestrune

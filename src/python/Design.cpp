#include "Design.h"

#include "cli/ApertureBatch.h"
#include "cli/BatchLists.h"
#include "cli/ChromaticityBatch.h"
#include "cli/MatchBatch.h"
#include "cli/RingReport.h"
#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/Kinematics.h"
#include "core/NumberInput.h"
#include "core/StartValues.h"
#include "core/chromaticity/Chromaticity.h"
#include "core/editor/ElementParameters.h"
#include "core/editor/LineEditing.h"
#include "core/io/LatticeFile.h"
#include "core/io/SafeFile.h"
#include "core/io/madx/MadxExport.h"
#include "core/io/madx/MadxReader.h"
#include "core/matching/MatchFile.h"
#include "core/matching/Matcher.h"
#include "core/optics/BetaFunctions.h"
#include "core/optics/Samples.h"
#include "core/ring/Parameter.h"
#include "core/tracking/LinearMapTracking.h"
#include "core/tracking/ParticleTracker.h"
#include "core/tracking/SymplecticLattice.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <map>
#include <sstream>

namespace kestrune::python {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The panel rows that show a stored field: the label (trimmed, lower case), the field, the grid column
// and the factor from the stored unit to the panel's.
struct StoredRow
{
    const char* label;
    const char* name;
    double LatticeElement::*field;
    int column;
    double toPanel;
    const char* unit;
};

const StoredRow kStoredRows[] = {
    {"path length", "length", &LatticeElement::length, 1, 1, "m"},
    {"curvature", "curvature", &LatticeElement::curvature, 1, 1, "1/m"},
    {"gradient strength", "k", &LatticeElement::k, 1, 1, "1/m^2"},
    {"quadrupole strength", "k", &LatticeElement::k, 1, 1, "1/m^2"},
    {"sextupole strength", "m", &LatticeElement::m, 1, 1, "1/m^3"},
    {"pole face angles: ain/aout(rad)", "ain", &LatticeElement::ain, 1, 1, "rad"},
    {"pole face angles: ain/aout(rad)", "aout", &LatticeElement::aout, 2, 1, "rad"},
    {"full magnet gap", "gap", &LatticeElement::gap, 1, 100, "m"},
    {"pumping speed", "pump_speed", &LatticeElement::pumpSpeed, 1, 1, "l/s"},
    {"accelerating field", "linac_field", &LatticeElement::linacField, 1, 1e-6, "V/m"},
    {"voltage", "k", &LatticeElement::k, 1, 1e-3, "V"},
    {"total energy gain", "energy_gain", &LatticeElement::energyGain, 1, 1e-3, "eV"},
    {"number of electrodes", "electrodes", &LatticeElement::electrodes, 1, 1, ""},
    {"skew gradient k1s", "k1s", &LatticeElement::k1s, 1, 1, "1/m^2"},
    {"roll angle (tilt)", "tilt", &LatticeElement::tilt, 1, 1, "rad"},
    {"octupole strength k3", "k3", &LatticeElement::k3, 1, 1, "1/m^4"},
    {"solenoid strength ks", "ks", &LatticeElement::ks, 1, 1, "1/m"},
    {"horizontal kick", "hkick", &LatticeElement::hkick, 1, 1, "rad"},
    {"vertical kick", "vkick", &LatticeElement::vkick, 1, 1, "rad"},
    {"cavity voltage", "voltage", &LatticeElement::voltage, 1, 1, "V"},
    {"phase lag", "lag", &LatticeElement::lag, 1, 1, "2 pi"},
    {"harmonic number", "harmonic", &LatticeElement::harmonic, 1, 1, ""},
    {"rf frequency", "frequency", &LatticeElement::frequency, 1, 1, "Hz"},
};

// The rows of two numbers of the kinds of families 6..9 and of the aperture (label, the names of
// columns 1 and 2, unit): a thin multipole's "knl / ksl order n" rows give knl0..knl9 and ksl0..ksl9.
struct PairRow
{
    const char* label;
    const char* first;
    const char* second;
    const char* unit;
};

const PairRow kPairRows[] = {
    {"aperture a / b (m)", "aperture_a", "aperture_b", "m"},
    {"aperture c / d (m)", "aperture_c", "aperture_d", "m"},
    {"aperture offset dx / dy (m)", "aperture_dx", "aperture_dy", "m"},
};

// The stored value of a pair row's number (column 1 or 2) of element el.
double pairValue(const LatticeElement& el, const std::string& name)
{
    const ElementAperture& a = el.aperture;
    if (name == "aperture_a")
        return a.a[0];
    if (name == "aperture_b")
        return a.a[1];
    if (name == "aperture_c")
        return a.a[2];
    if (name == "aperture_d")
        return a.a[3];
    if (name == "aperture_dx")
        return a.dx;
    if (name == "aperture_dy")
        return a.dy;
    // knl<n> / ksl<n>
    const std::vector<double>& strengths = name.compare(0, 3, "ksl") == 0 ? el.ksl : el.knl;
    const auto n = static_cast<std::size_t>(std::stoi(name.substr(3)));
    return n < strengths.size() ? strengths[n] : 0.0;
}

std::string trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A panel label as an attribute name: "nominal path length" -> "nominal_path_length"
std::string snakeCase(const std::string& label)
{
    std::string name;
    for (char c : lower(trimmed(label))) {
        if (std::isalnum(static_cast<unsigned char>(c)))
            name += c;
        else if (!name.empty() && name.back() != '_')
            name += '_';
    }
    while (!name.empty() && name.back() == '_')
        name.pop_back();
    return name;
}

// Where a parameter sits in the panel: its grid cell and the factor from the attribute's unit.
struct PanelCell
{
    ElementParameter parameter;
    int column = 1;
    int row = 0;
    double toPanel = 1;
    double LatticeElement::*field = nullptr;
    bool pair = false; // a number of a pair row (pairValue)
};

std::vector<PanelCell> panelCells(const State& state, int e, const ParameterGrid& grid)
{
    std::vector<PanelCell> cells;
    const LatticeElement& el = state.line.at(e);
    for (int row = 3; row < ParameterGrid::kRows; ++row) {
        const std::string label = lower(trimmed(grid.cell(0, row)));
        if (label.empty())
            continue;
        bool known = false;
        for (const StoredRow& stored : kStoredRows) {
            if (label != stored.label)
                continue;
            known = true;
            cells.push_back({{stored.name, stored.unit, el.*stored.field, true},
                             stored.column,
                             row,
                             stored.toPanel,
                             stored.field});
        }
        if (known)
            continue;
        const std::string multipole = "knl / ksl order ";
        if (label.compare(0, multipole.size(), multipole) == 0) {
            const std::string n = std::to_string(row - 4);
            for (int column = 1; column <= 2; ++column) {
                const std::string name = (column == 1 ? "knl" : "ksl") + n;
                cells.push_back({{name,
                                  row == 4   ? std::string("rad")
                                  : row == 5 ? std::string("1/m")
                                             : "1/m^" + n,
                                  pairValue(el, name), true},
                                 column,
                                 row,
                                 1,
                                 nullptr,
                                 true});
            }
            continue;
        }
        for (const PairRow& pair : kPairRows) {
            if (label != pair.label)
                continue;
            known = true;
            for (int column = 1; column <= 2; ++column) {
                const std::string name = column == 1 ? pair.first : pair.second;
                cells.push_back(
                    {{name, pair.unit, pairValue(el, name), true}, column, row, 1, nullptr, true});
            }
        }
        if (known)
            continue;
        // a row the table above does not know: in the panel's unit, with the panel's digits
        try {
            const double value = parseDouble(grid.cell(1, row));
            cells.push_back(
                {{snakeCase(label), trimmed(grid.cell(2, row)), value, false}, 1, row, 1, nullptr});
        } catch (const ConversionError&) {
            // an empty derived row (an alpha magnet without an orbit) is no parameter
        }
    }
    return cells;
}

void checkElement(const State& state, int e)
{
    if (e < 1 || e > state.line.count)
        throw std::out_of_range("element index " + std::to_string(e) + " outside 1.." +
                                std::to_string(state.line.count));
}

// The panel filled for element e with the stored fields at full precision instead of the panel's
// digits, so that accepting it changes only what was typed.
PanelView fullPrecisionPanel(State& trial, int e, PanelSettings& settings)
{
    PanelView panel = showParameter(trial, e, settings);
    const LatticeElement& el = trial.line.at(e);
    for (const PanelCell& cell : panelCells(trial, e, panel.grid))
        if (cell.field)
            panel.grid.cell(cell.column, cell.row) = fmt("%.17g", el.*cell.field * cell.toPanel);
        else if (cell.pair)
            panel.grid.cell(cell.column, cell.row) = fmt("%.17g", pairValue(el, cell.parameter.name));
    return panel;
}

// Accepts the edited grid as "accept data" does, on the trial copy of the design.
void acceptGrid(State& trial, int e, const ParameterGrid& grid, PanelSettings& settings)
{
    RecordingMessages messages;
    try {
        if (!acceptData(trial, e, grid, settings, messages))
            messages.raise("the element panel refused the value");
    } catch (const ConversionError& error) {
        throw DesignError(error.what());
    }
}

void showBetaFunctionsOnly(RunSettings& run)
{
    run.showBetaFunctions = true;
    run.showBeamSize = false;
    run.showTrajectory = false;
}

// The rf cavity of the batch tool's tracking: a closed ring with an rf voltage, as the ring and rf
// windows compute it.
RfCavity trackingRf(const Design& design, Messages& messages)
{
    const State& state = design.state;
    if (!state.ringClosed || !(state.rf.voltage > 0))
        return {};
    State ring = state;
    QuietMessages quiet;
    if (!computeRing(ring, quiet, design.inputs))
        return {};
    return trackingRfCavity(ring, messages);
}

TrackResult trackLinear(const Design& design, std::vector<PhaseVector>& particles, int turns,
                        const std::optional<double>& apertureX, const RunControl& control)
{
    TrackResult result;
    for (std::size_t i = 0; i < particles.size(); ++i) {
        PhaseVector& p = particles[i];
        TrackingRequest request;
        request.start = {p.x * 1000, p.px * 1000, p.y * 1000, p.py * 1000};
        request.turns = turns;
        request.offMomentum = p.delta != 0;
        request.delta = p.delta;
        request.aperture = apertureX.has_value();
        request.apertureMm = apertureX.value_or(0) * 1000;
        RecordingMessages messages;
        if (!checkTracking(design.state, request, messages))
            messages.raise("the tracking was refused");
        TrackingRun run(design.state.line, request);
        std::vector<PhasePoint> points;
        while (!run.finished()) {
            points.clear();
            run.advance(64, points);
            if (control.cancel && control.cancel->load())
                break;
        }
        const PhasePoint& q = run.particle();
        p.x = q.x / 1000;
        p.px = q.xp / 1000;
        p.y = q.y / 1000;
        p.py = q.yp / 1000;
        result.turn.push_back(run.turn());
        result.element.push_back(run.lostElement());
        if (control.progress)
            control.progress(static_cast<double>(i + 1) / static_cast<double>(particles.size()));
        if (control.cancel && control.cancel->load()) {
            result.cancelled = true;
            break;
        }
    }
    // the particles not reached keep their start and count no turns
    result.turn.resize(particles.size(), 0);
    result.element.resize(particles.size(), 0);
    return result;
}

} // namespace

std::string RecordingMessages::text(const std::string& fallback) const
{
    if (errors.empty())
        return fallback;
    std::string joined;
    for (const std::string& e : errors)
        joined += (joined.empty() ? "" : "\n") + e;
    return joined;
}

void RecordingMessages::raise(const std::string& fallback) const
{
    throw DesignError(text(fallback));
}

Design newDesign()
{
    Design design;
    setStartValues(design.state);
    return design;
}

Design openDesign(const std::string& fileName)
{
    if (isMadxFileName(fileName))
        return importMadx(fileName, "");
    Design design = newDesign();
    RecordingMessages messages;
    if (!readLatticeFile(design.state, messages, fileName))
        messages.raise("cannot read " + fileName);
    design.fileName = fileName;
    return design;
}

Design importMadx(const std::string& fileName, const std::string& line)
{
    Design design = newDesign();
    RecordingMessages messages;
    MadxImportSummary summary;
    bool read = false;
    if (line.empty()) {
        read = readMadxFile(design.state, messages, fileName, &summary);
    } else {
        const FileText file = readTextFile(fileName);
        if (!file.problem.empty())
            throw DesignError("cannot open MAD-X file " + fileName + ": " + file.problem);
        // the line asked for is used after everything the file defines
        read = readMadxText(design.state, messages, file.text + "\nuse, period=" + line + ";\n", fileName,
                            &summary);
    }
    if (!read)
        messages.raise("cannot read MAD-X file " + fileName);
    design.fileName = fileName;
    return design;
}

void saveDesign(Design& design, const std::string& fileName)
{
    RecordingMessages messages;
    if (!writeLatticeFile(design.state, messages, fileName))
        messages.raise("cannot write " + fileName);
}

void exportMadx(const Design& design, const std::string& fileName)
{
    RecordingMessages messages;
    if (!writeMadxFile(design.state, messages, fileName))
        messages.raise("cannot write " + fileName);
}

void applyBatchSetting(Design& design, const std::string& name, const std::string& value)
{
    State state = design.state;
    BatchInputs inputs = design.inputs;
    try {
        applySetting(state, inputs, name + "=" + value);
    } catch (const BatchUsageError& error) {
        throw DesignError(error.what());
    }
    design.state = std::move(state);
    design.inputs = std::move(inputs);
}

void setMomentum(Design& design, double momentumEv)
{
    RecordingMessages messages;
    if (!energyAccepted(EnergyKind::Momentum, momentumEv, messages))
        messages.raise("the momentum was refused");
    BeamParameters& beam = design.state.beam;
    updateKinematics(beam, EnergyKind::Momentum, momentumEv);
    beam.referenceMomentum = beam.momentum;
}

void setParticle(Design& design, const std::string& name)
{
    BeamParameters beam = design.state.beam;
    const double momentum = beam.momentum;
    if (name == "electron")
        selectElectron(beam, design.state.electron);
    else if (name == "proton")
        selectProton(beam, design.state.electron);
    else
        throw DesignError("the particle must be \"electron\" or \"proton\", not '" + excerpt(name) + "'");
    if (momentum > 0) {
        updateKinematics(beam, EnergyKind::Momentum, momentum);
        beam.referenceMomentum = beam.momentum;
    }
    design.state.beam = beam;
}

std::string elementKind(const LatticeElement& e)
{
    return kindName(kindOf(e.code));
}

std::vector<ElementParameter> elementParameters(const State& state, int e)
{
    checkElement(state, e);
    State view = state; // the panel's fill may run its type handler, which writes
    PanelSettings settings;
    const PanelView panel = showParameter(view, e, settings);
    std::vector<ElementParameter> parameters;
    for (const PanelCell& cell : panelCells(state, e, panel.grid))
        parameters.push_back(cell.parameter);
    return parameters;
}

void setElementParameter(State& state, int e, const std::string& name, double value)
{
    checkElement(state, e);
    State trial = state;
    PanelSettings settings;
    PanelView panel = fullPrecisionPanel(trial, e, settings);
    for (const PanelCell& cell : panelCells(trial, e, panel.grid)) {
        if (cell.parameter.name != name)
            continue;
        // a quadrupole's sign is its type button: focusing for k >= 0, defocusing below
        if (familyOf(trial.line.at(e).code) == static_cast<int>(Family::Quadrupole) &&
            cell.field == &LatticeElement::k && (value < 0) != (trial.line.at(e).k < 0)) {
            rbMTypeClick(trial, e, value < 0 ? 2 : 1, settings);
            panel = fullPrecisionPanel(trial, e, settings);
        }
        panel.grid.cell(cell.column, cell.row) = fmt("%.17g", value * cell.toPanel);
        acceptGrid(trial, e, panel.grid, settings);
        // the type of a bend sets its pole faces itself: a value the panel did not keep is refused
        if (cell.field && std::isfinite(value) &&
            std::fabs(trial.line.at(e).*cell.field - value) > 1e-12 * std::max(1.0, std::fabs(value)))
            throw DesignError("element " + std::to_string(e) + " (" + elementKind(trial.line.at(e)) +
                              "): its type sets '" + name + "', the panel does not take it");
        state = std::move(trial);
        return;
    }
    throw DesignError("element " + std::to_string(e) + " (" + elementKind(state.line.at(e)) +
                      ") has no parameter '" + excerpt(name) + "'");
}

void setElementName(State& state, int e, const std::string& name)
{
    checkElement(state, e);
    State trial = state;
    PanelSettings settings;
    PanelView panel = fullPrecisionPanel(trial, e, settings);
    panel.grid.cell(1, 1) = name;
    acceptGrid(trial, e, panel.grid, settings);
    state = std::move(trial);
}

int kindNamed(const std::string& kind)
{
    std::string known;
    for (int k = 0; k < kKindCount; ++k) {
        if (lower(kind) == lower(kindName(k)))
            return k;
        known += std::string(k ? ", " : "") + "\"" + kindName(k) + "\"";
    }
    throw DesignError("unknown element kind '" + excerpt(kind) + "' (the kinds: " + known + ")");
}

int insertElement(State& state, int position, const std::string& kind)
{
    const int k = kindNamed(kind);
    if (position < 1 || position > state.line.count + 1)
        throw std::out_of_range("insert position " + std::to_string(position) + " outside 1.." +
                                std::to_string(state.line.count + 1));
    State trial = state;
    EditorState editor;
    editor.pickAction = position > trial.line.count ? PickAction::Append : PickAction::Insert;
    editor.selectedElement = position;
    RecordingMessages messages;
    const PanelRoundTrip roundTrip = [&trial](int p) {
        PanelSettings settings;
        roundTripPanel(trial, p, settings);
    };
    if (!newElement(trial, editor, k, messages, roundTrip).lineChanged)
        messages.raise("the element was not inserted");
    state = std::move(trial);
    return position;
}

void removeElement(State& state, int e)
{
    checkElement(state, e);
    EditorState editor;
    editor.selectedElement = e;
    deleteSelected(state, editor);
}

TwissTable twiss(const Design& design, bool periodic, bool slices)
{
    RecordingMessages messages;
    if (design.state.line.count <= 0)
        throw DesignError("define a beam line first!");
    // the periodic solution as the report's periodic section finds it, and as --periodic starts from it
    // scratch states of this thread: copying the optics into them reuses their memory, where a copy of
    // the whole state (its table, drawing and undo history) would allocate and fault in megabytes
    thread_local State cell, pass;
    copyOptics(design.state, cell);
    QuietMessages quiet;
    const bool solved = periodicSolution(cell, periodic ? static_cast<Messages&>(messages) : quiet);
    const bool stable = solved && cell.run.periodicStable;
    if (periodic && !stable)
        messages.raise("the cell has no stable periodic solution");
    copyOptics(periodic ? cell : design.state, pass);
    showBetaFunctionsOnly(pass.run);

    TwissTable table;
    // rows after every element, or the plotted points of every slice, each with its element
    class Collector : public PlotSink, public ListSink
    {
    public:
        Collector(TwissTable& t, bool slices) : m_table(t), m_slices(slices) {}
        void point(double s, const LatticeFunctions& lf) override
        {
            if (!m_slices)
                return;
            // the pass plots its start point before the first element
            const bool start = m_table.s.empty();
            add(s, lf, start ? 0 : -1);
            if (start)
                m_named = 1;
        }
        void row(int index, double s, const LatticeFunctions& lf) override
        {
            if (!m_slices) {
                add(s, lf, index);
                return;
            }
            for (std::size_t k = m_named; k < m_table.element.size(); ++k)
                m_table.element[k] = index;
            m_named = m_table.element.size();
        }

    private:
        void add(double s, const LatticeFunctions& lf, int index)
        {
            TwissTable& t = m_table;
            t.s.push_back(s);
            t.betx.push_back(lf.betaX);
            t.alfx.push_back(lf.alphaX);
            t.mux.push_back(lf.phiX);
            t.bety.push_back(lf.betaY);
            t.alfy.push_back(lf.alphaY);
            t.muy.push_back(lf.phiY);
            t.dx.push_back(lf.eta);
            t.dpx.push_back(lf.etaP);
            t.element.push_back(index);
        }
        TwissTable& m_table;
        bool m_slices;
        std::size_t m_named = 0;
    } collector(table, slices);
    linePass(pass, messages, slices ? &collector : nullptr, &collector);

    // the ring tunes of the periodic section and the natural chromaticities of the chromaticity
    // section, computed on the solved cell in the same order as the report computes them
    table.q1 = table.q2 = table.dq1 = table.dq2 = kNaN;
    if (stable && betaFunctions(cell, quiet, nullptr)) {
        table.q1 = cell.lf.tuneX;
        table.q2 = cell.lf.tuneY;
        radiationIntegrals(cell, quiet);
        if (const std::optional<ChromaticityCorrection> c = latticeChromaticity(cell, quiet)) {
            table.dq1 = c->naturalX;
            table.dq2 = c->naturalY;
        }
    }
    return table;
}

Json report(const Design& design)
{
    // the sections --report writes for a design without scans, match or correction, in its order
    StderrMessages messages(false);
    const State& state = design.state;
    Json document = buildReport(design.fileName, state, state, design.inputs, messages);
    addChromaticitySections(document, state, std::nullopt, ChromaticityRequest{}, std::nullopt, messages);
    addLocalTouschek(document, state, design.inputs, messages);
    document.erase("messages");
    document["messages"] = messages.shown();
    return document;
}

Json ringSections(const Design& design)
{
    QuietMessages messages;
    Json sections = Json::object();
    addRingSections(sections, design.state, design.inputs, messages);
    return sections;
}

TrackResult track(const Design& design, std::vector<PhaseVector>& particles, int turns,
                  const std::string& model, const std::optional<double>& apertureX, int threads,
                  const RunControl& control)
{
    if (const std::optional<std::string> refusal = rangeRefusal(ranges::kTrackingTurns, turns))
        throw DesignError(*refusal);
    if (apertureX && !(*apertureX > 0 && *apertureX <= kTrackingLossLimit))
        throw DesignError("the aperture must be above 0 m and at most " + shortestFloat(kTrackingLossLimit) +
                          " m");
    for (const PhaseVector& p : particles) {
        for (double v : {p.x, p.px, p.y, p.py, p.delta, p.l})
            if (!std::isfinite(v))
                throw DesignError("the start coordinates must be finite numbers");
        if (!(1 + p.delta > 0))
            throw DesignError("the momentum deviation must be above -1");
    }
    if (model == "linear")
        return trackLinear(design, particles, turns, apertureX, control);
    if (model != "symplectic")
        throw DesignError("the tracking model must be \"symplectic\" or \"linear\", not '" + excerpt(model) +
                          "'");
    RecordingMessages messages;
    TrackingRequest request;
    request.turns = turns;
    request.model = TrackingModel::Symplectic;
    if (!checkTracking(design.state, request, messages))
        messages.raise("the tracking was refused");
    const RfCavity rf = trackingRf(design, messages);
    const SymplecticLattice lattice = buildSymplecticLattice(design.state, messages, rf);
    if (!messages.errors.empty())
        messages.raise("");
    TrackingOptions options;
    options.turns = turns;
    if (apertureX)
        options.aperture.x = *apertureX;
    options.threads = threads;
    options.cancel = control.cancel;
    options.progress = control.progress;
    const TrackingOutcome outcome = trackParticles(lattice, particles, options);
    TrackResult result;
    result.cancelled = outcome.cancelled;
    for (std::size_t i = 0; i < outcome.particles.size(); ++i) {
        const ParticleFate& fate = outcome.particles[i];
        particles[i] = fate.final;
        result.turn.push_back(fate.turn);
        result.element.push_back(fate.lost ? fate.element : 0);
    }
    return result;
}

Json trackingSummary(const Design& design, const std::vector<std::string>& typed, const std::string& model,
                     const std::string& apertureMm)
{
    ChromaticityRequest request;
    request.track = typed;
    request.trackingModel = model;
    request.apertureMm = apertureMm;
    try {
        checkChromaticityUsage(request);
    } catch (const BatchUsageError& error) {
        throw DesignError(error.what());
    }
    State state = design.state;
    RecordingMessages messages;
    std::ostringstream rows;
    TrackingSummary summary;
    try {
        if (!runTrackingCsv(state, messages, request, design.inputs, rows, summary))
            messages.raise("the tracking was refused");
    } catch (const BatchUsageError& error) {
        throw DesignError(error.what());
    } catch (const ConversionError& error) {
        throw DesignError(error.what());
    }
    return trackingSection(summary);
}

Json apertureScans(const Design& design, const ScanOptions& options, const RunControl& control)
{
    ApertureRequest request;
    request.dynamicAperture = options.radial;
    request.momentumAcceptance = options.acceptance;
    const std::map<std::string, std::string ApertureRequest::*> texts = {
        {"da_angles", &ApertureRequest::angles},
        {"da_turns", &ApertureRequest::turns},
        {"da_delta", &ApertureRequest::deltaPercent},
        {"da_resolution", &ApertureRequest::resolutionMm},
        {"ma_turns", &ApertureRequest::maTurns},
        {"ma_resolution", &ApertureRequest::maResolutionPercent},
        {"ma_every", &ApertureRequest::every},
        {"fm_turns", &ApertureRequest::fmTurns},
        {"fm_plane", &ApertureRequest::fmPlane},
        {"threads", &ApertureRequest::threads}};
    for (const auto& [name, text] : options.options) {
        if (name == "physical_aperture" || name == "da_grid" || name == "frequency_map") {
            std::vector<std::string> words;
            std::istringstream in(text);
            for (std::string w; in >> w;)
                words.push_back(w);
            (name == "da_grid"         ? request.grid
             : name == "frequency_map" ? request.frequencyMap
                                       : request.aperture) = words;
            continue;
        }
        if (name == "fm_per_turn") {
            request.fmPerTurn = text == "1";
            continue;
        }
        const auto found = texts.find(name);
        if (found == texts.end())
            throw DesignError("unknown scan setting '" + excerpt(name) + "'");
        request.*(found->second) = text;
    }
    if (options.grid && request.grid.size() != 4)
        throw DesignError("--da-grid: give NX NY XMAX YMAX");
    if (!request.frequencyMap.empty() && request.frequencyMap.size() != 4)
        throw DesignError("--frequency-map: give NX NY XMAX YMAX");
    if (request.aperture.size() != 2)
        throw DesignError("--physical-aperture: give X Y");
    ApertureScans scans;
    try {
        scans = kestrune::apertureScans(request);
    } catch (const BatchUsageError& error) {
        throw DesignError(error.what());
    }
    State state = design.state;
    RecordingMessages messages;
    Json sections = Json::object();
    ScanControl watch;
    watch.cancel = control.cancel;
    watch.progress = control.progress;
    std::string fingerprint;
    if (!runApertureScans(state, messages, design.inputs, scans, request, sections, fingerprint, watch))
        messages.raise("the scan was refused");
    return sections;
}

Json match(Design& design, const std::string& definition, const RunControl& control)
{
    RecordingMessages messages;
    const std::optional<MatchDefinition> parsed = parseMatchDefinition(definition, messages);
    if (!parsed)
        messages.raise("not a match definition");
    State state = design.state;
    const int iterations = parsed->maxIterations;
    const MatchProgress progress = [&control, iterations](const MatchResult& result) {
        if (control.progress && iterations > 0)
            control.progress(static_cast<double>(result.iterations) / iterations);
        return !(control.cancel && control.cancel->load());
    };
    const std::optional<MatchResult> result = matchDesign(state, *parsed, messages, progress);
    if (!result)
        messages.raise("the match was refused");
    design.state = std::move(state);
    return matchSection(BatchMatch{*parsed, *result});
}

} // namespace kestrune::python

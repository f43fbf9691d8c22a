#include "core/editor/InitialConditions.h"

#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/Kinematics.h"
#include "core/NumberInput.h"
#include "core/coupling/CoupledStart.h"
#include "core/optics/BetaFunctions.h"

#include <array>
#include <cmath>
#include <cstdlib>

namespace kestrune {

namespace {

void setMode(RunSettings& run, bool trajectory, bool betaFunctions, bool beamSize)
{
    run.showTrajectory = trajectory;
    run.showBetaFunctions = betaFunctions;
    run.showBeamSize = beamSize;
}

double gammaOf(double alpha, double beta)
{
    return (1.0 + alpha * alpha) / beta;
}

// sigma = sqrt(eps * beta) (m); 0 where a negative emittance or beta leaves no real size
double beamSize(double eps, double beta)
{
    const double product = eps * beta;
    return product > 0 ? std::sqrt(product) : 0.0;
}

// The emittance of a box in m rad; a box that still shows the stored value keeps all its digits, so that
// showing a value and reading it back changes nothing.
double emittanceOf(const std::string& box, double stored)
{
    const auto first = box.find_first_not_of(' ');
    if (first != std::string::npos && box.substr(first) == fmt("%.6g", stored * 1e6))
        return stored;
    return parseDouble(box) / 1e6;
}

void readEmittances(State& state, const InitialBoxes& boxes)
{
    state.run.epsXIn = state.lf.epsX = emittanceOf(boxes.edEpsx, state.run.epsXIn);
    state.run.epsYIn = state.lf.epsY = emittanceOf(boxes.edEpsy, state.run.epsYIn);
}

// A start value in its box; one that rounds to zero shows no sign ("-0.00000" of a periodic solution's
// rounding noise reads as a slope that is not there).
std::string startBox(double value)
{
    const std::string text = fmt("%8.5f", value);
    return std::strtod(text.c_str(), nullptr) == 0 ? fmt("%8.5f", 0.0) : text;
}

void showEta(const RunSettings& run, InitialBoxes& boxes)
{
    boxes.edEtax0 = startBox(run.etaX0);
    boxes.edEtapx0 = startBox(run.etaPX0);
    boxes.edEtay0 = startBox(run.etaY0);
    boxes.edEtapy0 = startBox(run.etaPY0);
}

void showCoupling(const RunSettings& run, InitialBoxes& boxes)
{
    boxes.edR11 = startBox(run.r11);
    boxes.edR12 = startBox(run.r12);
    boxes.edR21 = startBox(run.r21);
    boxes.edR22 = startBox(run.r22);
}

void showLatticeFunctions(const RunSettings& run, InitialBoxes& boxes)
{
    boxes.edBetax0 = fmt("%8.5f", run.betaX0);
    boxes.edBetay0 = fmt("%8.5f", run.betaY0);
    boxes.edAlphax0 = startBox(run.alphaX0);
    boxes.edAlphay0 = startBox(run.alphaY0);
    showEta(run, boxes);
    showCoupling(run, boxes);
}

// The start values a periodic solution writes.
struct StartValues
{
    double betaX0, alphaX0, gammaX0, betaY0, alphaY0, gammaY0, etaX0, etaPX0;
    double r11, r12, r21, r22, etaY0, etaPY0;
};

StartValues startValues(const RunSettings& run)
{
    return {run.betaX0, run.alphaX0, run.gammaX0, run.betaY0, run.alphaY0, run.gammaY0, run.etaX0,
            run.etaPX0, run.r11,     run.r12,     run.r21,    run.r22,     run.etaY0,   run.etaPY0};
}

void restore(RunSettings& run, const StartValues& v)
{
    run.betaX0 = v.betaX0;
    run.alphaX0 = v.alphaX0;
    run.gammaX0 = v.gammaX0;
    run.betaY0 = v.betaY0;
    run.alphaY0 = v.alphaY0;
    run.gammaY0 = v.gammaY0;
    run.etaX0 = v.etaX0;
    run.etaPX0 = v.etaPX0;
    run.r11 = v.r11;
    run.r12 = v.r12;
    run.r21 = v.r21;
    run.r22 = v.r22;
    run.etaY0 = v.etaY0;
    run.etaPY0 = v.etaPY0;
}

} // namespace

StartPanels singleParticlePanels()
{
    return StartPanels{true, false, false, ""};
}

StartPanels latticeFunctionPanels()
{
    return StartPanels{false, true, false, "specify initial lattice functions"};
}

StartPanels beamSizePanels()
{
    return StartPanels{false, true, true, "specify lattice functions"};
}

StartPanels hiddenPanels()
{
    return StartPanels{};
}

bool emittancesAccepted(const InitialBoxes& boxes, Messages& messages)
{
    for (const auto& [box, range] : {std::pair{&boxes.edEpsx, &ranges::kEmittanceXMmMrad},
                                     std::pair{&boxes.edEpsy, &ranges::kEmittanceYMmMrad}}) {
        try {
            if (parseDouble(*box) < 0) {
                messages.error(std::string(range->name) + " must not be negative!");
                return false;
            }
        } catch (const ConversionError&) {
        }
    }
    return true;
}

StartPanels singleParticleCommand(State& state)
{
    setMode(state.run, true, false, false);
    return singleParticlePanels();
}

bool useSingleParticle(State& state, const InitialBoxes& boxes, Messages& messages)
{
    readSingleParticle(state, boxes);
    return finishSingleParticle(state, messages);
}

void readSingleParticle(State& state, const InitialBoxes& boxes)
{
    RunSettings& run = state.run;
    run.x0 = parseDouble(boxes.edXo);
    run.xp0 = parseDouble(boxes.edXpo);
    run.y0 = parseDouble(boxes.edYo);
    run.yp0 = parseDouble(boxes.edYpo);
    // ten times the per-cent value keeps the dispersive term R16*delta of the trajectory in mm
    run.delta = parseDouble(boxes.edDpp) * 10.0;
    run.d0 = parseDouble(boxes.edD0);
    run.dp0 = parseDouble(boxes.edDp0);
}

bool finishSingleParticle(State& state, Messages& messages)
{
    updateKinematics(state.beam, EnergyKind::Momentum, state.beam.referenceMomentum);
    if (state.line.length == 0) {
        messages.error("define beam line first");
        return false;
    }
    return true;
}

StartPanels initialLatticeCommand(State& state)
{
    state.run.recomputePeriodic = false;
    setMode(state.run, false, true, false);
    return latticeFunctionPanels();
}

bool useLatticeFunctions(State& state, InitialBoxes& boxes, Messages& messages)
{
    RunSettings& run = state.run;
    run.alphaX0 = parseDouble(boxes.edAlphax0);
    run.alphaY0 = parseDouble(boxes.edAlphay0);
    run.betaX0 = parseDouble(boxes.edBetax0);
    run.betaY0 = parseDouble(boxes.edBetay0);
    // a beta of 0 leaves gamma undefined: it keeps its value and no update runs
    const bool defined = run.betaX0 != 0 && run.betaY0 != 0;
    if (defined) {
        run.gammaX0 = gammaOf(run.alphaX0, run.betaX0);
        run.gammaY0 = gammaOf(run.alphaY0, run.betaY0);
    }
    run.etaX0 = parseDouble(boxes.edEtax0);
    run.etaPX0 = parseDouble(boxes.edEtapx0);
    // the start coupling: the modes of Edwards-Teng's R need det R > -1 (g^2 = 1 / (1 + det R) > 0)
    const double r11 = parseDouble(boxes.edR11);
    const double r12 = parseDouble(boxes.edR12);
    const double r21 = parseDouble(boxes.edR21);
    const double r22 = parseDouble(boxes.edR22);
    if (!(1 + (r11 * r22 - r12 * r21) > 0)) {
        messages.error("the start coupling R11 R22 - R12 R21 must be above -1!");
        return false;
    }
    run.r11 = r11;
    run.r12 = r12;
    run.r21 = r21;
    run.r22 = r22;
    run.etaY0 = parseDouble(boxes.edEtay0);
    run.etaPY0 = parseDouble(boxes.edEtapy0);

    if (run.showBeamSize || run.showTrajectory) {
        readEmittances(state, boxes);
        boxes.edEpsx = fmt("%.6g", state.lf.epsX * 1e6);
        boxes.edEpsy = fmt("%.6g", state.lf.epsY * 1e6);
        run.initialSigmaX = beamSize(state.lf.epsX, run.betaX0);
        run.initialSigmaY = beamSize(state.lf.epsY, run.betaY0);
        boxes.edSigx0 = fmt("%8.5f", run.initialSigmaX * 1000.0);
        boxes.edSigy0 = fmt("%8.5f", run.initialSigmaY * 1000.0);
        // the trajectory keeps delta in units of 1e-3, like the single-particle panel
        run.delta = run.showTrajectory ? parseDouble(boxes.edDpp) * 10.0 : parseDouble(boxes.edDelta) / 100.0;
    }
    showEta(run, boxes);
    if (run.showBetaFunctions && (run.betaX0 <= 0 || run.betaY0 <= 0))
        messages.error("select valid betatron functions!");
    return defined;
}

namespace {

// The Edwards-Teng boxes; nothing, after the refusal, for betas that are not positive (what names the
// start in the message) or an R without modes.
std::optional<EdwardsTeng> typedEdwardsTeng(const InitialBoxes& boxes, const char* what, Messages& messages)
{
    EdwardsTeng et;
    et.betaX = parseDouble(boxes.edBetax0);
    et.alphaX = parseDouble(boxes.edAlphax0);
    et.betaY = parseDouble(boxes.edBetay0);
    et.alphaY = parseDouble(boxes.edAlphay0);
    et.r11 = parseDouble(boxes.edR11);
    et.r12 = parseDouble(boxes.edR12);
    et.r21 = parseDouble(boxes.edR21);
    et.r22 = parseDouble(boxes.edR22);
    if (!(et.betaX > 0) || !(et.betaY > 0)) {
        messages.error(std::string(what) + " needs positive betas beta_o of both modes");
        return std::nullopt;
    }
    if (!(1 + (et.r11 * et.r22 - et.r12 * et.r21) > 0)) {
        messages.error("the start coupling R11 R22 - R12 R21 must be above -1!");
        return std::nullopt;
    }
    return et;
}

void showEdwardsTeng(const EdwardsTeng& et, InitialBoxes& boxes)
{
    const auto box = [](double value) { return fmt("%.10g", value); };
    boxes.edBetax0 = box(et.betaX);
    boxes.edAlphax0 = box(et.alphaX);
    boxes.edBetay0 = box(et.betaY);
    boxes.edAlphay0 = box(et.alphaY);
    boxes.edR11 = box(et.r11);
    boxes.edR12 = box(et.r12);
    boxes.edR21 = box(et.r21);
    boxes.edR22 = box(et.r22);
}

// The Mais-Ripken boxes in the order of MaisRipkenStart's fields.
std::array<std::string*, 10> maisRipkenBoxes(InitialBoxes& b)
{
    return {&b.edB11, &b.edB12, &b.edB21, &b.edB22, &b.edA11,
            &b.edA12, &b.edA21, &b.edA22, &b.edNu1, &b.edNu2};
}

std::array<double*, 10> maisRipkenFields(MaisRipkenStart& s)
{
    MaisRipken& m = s.mr;
    return {&m.beta11,  &m.beta12,  &m.beta21,  &m.beta22, &m.alpha11,
            &m.alpha12, &m.alpha21, &m.alpha22, &s.nu1,    &s.nu2};
}

} // namespace

bool beamMatrixToBoxes(InitialBoxes& boxes, Messages& messages)
{
    // mm^2, mm mrad and mrad^2 are all 1e-6 of m^2, m rad and rad^2
    const std::string* upper[4][4] = {{&boxes.edS11, &boxes.edS12, &boxes.edS13, &boxes.edS14},
                                      {nullptr, &boxes.edS22, &boxes.edS23, &boxes.edS24},
                                      {nullptr, nullptr, &boxes.edS33, &boxes.edS34},
                                      {nullptr, nullptr, nullptr, &boxes.edS44}};
    BeamMatrix sigma{};
    for (std::size_t r = 0; r < 4; ++r)
        for (std::size_t c = r; c < 4; ++c)
            sigma[r][c] = sigma[c][r] = parseDouble(*upper[r][c]) * 1e-6;
    std::string refusal;
    const std::optional<BeamStart> start = beamStart(sigma, refusal);
    if (!start) {
        messages.error(refusal);
        return false;
    }
    showEdwardsTeng(start->et, boxes);
    const auto box = [](double value) { return fmt("%.10g", value); };
    boxes.edEpsx = box(start->emittance1 * 1e6);
    boxes.edEpsy = box(start->emittance2 * 1e6);
    return true;
}

bool maisRipkenToBoxes(InitialBoxes& boxes, Messages& messages)
{
    MaisRipkenStart start;
    const std::array<std::string*, 10> texts = maisRipkenBoxes(boxes);
    const std::array<double*, 10> fields = maisRipkenFields(start);
    for (std::size_t k = 0; k < texts.size(); ++k)
        *fields[k] = parseDouble(*texts[k]);
    std::string refusal;
    const std::optional<EdwardsTeng> et = edwardsTengOfMaisRipken(start, refusal);
    if (!et) {
        messages.error(refusal);
        return false;
    }
    showEdwardsTeng(*et, boxes);
    return true;
}

bool boxesToMaisRipken(InitialBoxes& boxes, Messages& messages)
{
    const std::optional<EdwardsTeng> et = typedEdwardsTeng(boxes, "a Mais-Ripken start", messages);
    if (!et)
        return false;
    MaisRipkenStart start = maisRipkenStartOf(*edwardsTengModes(*et));
    const std::array<std::string*, 10> texts = maisRipkenBoxes(boxes);
    const std::array<double*, 10> fields = maisRipkenFields(start);
    for (std::size_t k = 0; k < texts.size(); ++k)
        *texts[k] = fmt("%.8g", *fields[k]);
    return true;
}

bool boxesToBeamMatrix(InitialBoxes& boxes, Messages& messages)
{
    const std::optional<EdwardsTeng> typed = typedEdwardsTeng(boxes, "a beam matrix", messages);
    if (!typed)
        return false;
    const EdwardsTeng& et = *typed;
    const double eps1 = parseDouble(boxes.edEpsx) * 1e-6;
    const double eps2 = parseDouble(boxes.edEpsy) * 1e-6;
    if (!(eps1 > 0) || !(eps2 > 0)) {
        messages.error("a beam matrix needs positive emittances of both modes (boxes epsilon)");
        return false;
    }
    // equal emittances make Sigma = eps V V^T, which every symplectic rotation of the modes into each
    // other leaves as it is: the modes could not be read back (beamStart refuses such a matrix)
    if (std::fabs(eps1 - eps2) <= 1e-9 * (eps1 + eps2)) {
        messages.error("the emittances of modes 1 and 2 (boxes epsilon) are equal: their beam matrix would "
                       "not tell the modes apart");
        return false;
    }
    // Sigma = eps_1 Re(v_1 v_1^H) + eps_2 Re(v_2 v_2^H) of the modes of the Edwards-Teng values
    // (beamMatrix), whose eigenvectors of Sigma S are the modes again (beamStart)
    const BeamMatrix sigma = beamMatrix(et, eps1, eps2);
    std::string* upper[4][4] = {{&boxes.edS11, &boxes.edS12, &boxes.edS13, &boxes.edS14},
                                {nullptr, &boxes.edS22, &boxes.edS23, &boxes.edS24},
                                {nullptr, nullptr, &boxes.edS33, &boxes.edS34},
                                {nullptr, nullptr, nullptr, &boxes.edS44}};
    for (std::size_t r = 0; r < 4; ++r)
        for (std::size_t c = r; c < 4; ++c)
            *upper[r][c] = fmt("%.10g", sigma[r][c] * 1e6);
    return true;
}

bool lookForPeriodicSolution(State& state, InitialBoxes& boxes, Messages& messages, ListSink* list)
{
    return lookForPeriodicSolution(state, boxes, messages, list, periodicSolution);
}

bool lookForPeriodicSolution(State& state, InitialBoxes& boxes, Messages& messages, ListSink* list,
                             const PeriodicSolver& solver)
{
    RunSettings& run = state.run;
    run.recomputePeriodic = true;
    const StartValues before = startValues(run);
    // an unstable cell has no periodic lattice functions to show, even where its dispersion is solvable
    if (!solver(state, messages) || !run.periodicStable) {
        // a solver that gave up half-way must not leave half a solution as the start values
        restore(run, before);
        return false;
    }
    if (list) {
        LatticeFunctions start;
        startFunctions(run, start);
        list->row(0, 0, start);
    }
    setMode(run, false, true, false);
    showLatticeFunctions(run, boxes);
    return true;
}

StartPanels showBeamSizesCommand(State& state, InitialBoxes& boxes)
{
    RunSettings& run = state.run;
    run.recomputePeriodic = false;
    setMode(run, false, false, true);
    readEmittances(state, boxes);
    run.initialSigmaX = beamSize(state.lf.epsX, run.betaX0);
    run.initialSigmaY = beamSize(state.lf.epsY, run.betaY0);
    run.delta = parseDouble(boxes.edDelta) / 100.0;
    showEta(run, boxes);
    // six significant digits: an emittance of 1e-10 m rad must not show as 0.000 mm mrad
    auto rewrite = [](std::string& box, double shown) {
        if (shown != 0)
            box = fmt("%.6g", shown);
    };
    rewrite(boxes.edEpsx, state.lf.epsX * 1e6);
    rewrite(boxes.edEpsy, state.lf.epsY * 1e6);
    rewrite(boxes.edSigx0, run.initialSigmaX * 1000.0);
    rewrite(boxes.edSigy0, run.initialSigmaY * 1000.0);
    return beamSizePanels();
}

bool useBeamSizes(State& state, InitialBoxes& boxes, Messages& messages)
{
    // every box read and checked before anything is stored
    const double epsXMmMrad = emittanceOf(boxes.edEpsx, state.run.epsXIn) * 1e6;
    const double epsYMmMrad = emittanceOf(boxes.edEpsy, state.run.epsYIn) * 1e6;
    const double sigmaXMm = parseDouble(boxes.edSigx0);
    const double sigmaYMm = parseDouble(boxes.edSigy0);
    const double delta = parseDouble(boxes.edDelta) / 100.0;
    const double etaX0 = parseDouble(boxes.edEtax0);
    const double etaPX0 = parseDouble(boxes.edEtapx0);
    if (const std::optional<std::string> refusal = firstRefusal({{&ranges::kEmittanceXMmMrad, epsXMmMrad},
                                                                 {&ranges::kEmittanceYMmMrad, epsYMmMrad},
                                                                 {&ranges::kBeamSizeXMm, sigmaXMm},
                                                                 {&ranges::kBeamSizeYMm, sigmaYMm}})) {
        messages.error(*refusal);
        return false;
    }
    RunSettings& run = state.run;
    setMode(run, false, false, true);
    run.initialSigmaX = sigmaXMm / 1000.0;
    run.initialSigmaY = sigmaYMm / 1000.0;
    run.epsXIn = state.lf.epsX = emittanceOf(boxes.edEpsx, run.epsXIn);
    run.epsYIn = state.lf.epsY = emittanceOf(boxes.edEpsy, run.epsYIn);
    run.delta = delta;
    // beta = sigma^2 / epsilon
    run.betaX0 = run.initialSigmaX * run.initialSigmaX / state.lf.epsX;
    run.betaY0 = run.initialSigmaY * run.initialSigmaY / state.lf.epsY;
    run.gammaX0 = gammaOf(run.alphaX0, run.betaX0);
    run.gammaY0 = gammaOf(run.alphaY0, run.betaY0);
    run.etaX0 = etaX0;
    run.etaPX0 = etaPX0;
    showLatticeFunctions(run, boxes);
    return true;
}

void resetBoxes(InitialBoxes& boxes, PanelSettings& settings)
{
    const InitialBoxes start;
    boxes.edXo = start.edXo;
    boxes.edXpo = start.edXpo;
    boxes.edYo = start.edYo;
    boxes.edYpo = start.edYpo;
    boxes.edD0 = start.edD0;
    boxes.edDp0 = start.edDp0;
    boxes.edDpp = start.edDpp;
    boxes.edBetax0 = start.edBetax0;
    boxes.edAlphax0 = start.edAlphax0;
    boxes.edBetay0 = start.edBetay0;
    boxes.edAlphay0 = start.edAlphay0;
    boxes.edEtax0 = start.edEtax0;
    boxes.edEtapx0 = start.edEtapx0;
    boxes.edR11 = start.edR11;
    boxes.edR12 = start.edR12;
    boxes.edR21 = start.edR21;
    boxes.edR22 = start.edR22;
    boxes.edEtay0 = start.edEtay0;
    boxes.edEtapy0 = start.edEtapy0;
    settings.angleFactor = 1.0;
    settings.anglesInRadians = true;
}

void boxesAfterFileOpen(const State& state, InitialBoxes& boxes)
{
    const RunSettings& run = state.run;
    if (run.showTrajectory) {
        boxes.edXo = fmt("%8.3f", run.x0);
        boxes.edXpo = fmt("%8.3f", run.xp0);
        boxes.edYo = fmt("%8.3f", run.y0);
        boxes.edYpo = fmt("%8.3f", run.yp0);
        boxes.edD0 = fmt("%8.3f", run.d0);
        boxes.edDp0 = fmt("%8.3f", run.dp0);
        boxes.edDpp = fmt("%8.3f", run.delta / 10.0);
        return;
    }
    boxes.edBetax0 = fmt("%8.3f", run.betaX0);
    boxes.edAlphax0 = fmt("%8.3f", run.alphaX0);
    boxes.edBetay0 = fmt("%8.3f", run.betaY0);
    boxes.edAlphay0 = fmt("%8.3f", run.alphaY0);
    boxes.edEtax0 = fmt("%8.3f", run.etaX0);
    boxes.edEtapx0 = fmt("%8.3f", run.etaPX0);
    showCoupling(run, boxes);
    boxes.edEtay0 = startBox(run.etaY0);
    boxes.edEtapy0 = startBox(run.etaPY0);
    boxes.edDelta = fmt("%8.3f", run.delta * 100.0);
    // six significant digits: a vertical emittance of 1e-10 m rad is 0.0001 mm mrad, not 0.000
    boxes.edEpsx = fmt("%.6g", run.epsXIn * 1e6);
    boxes.edEpsy = fmt("%.6g", run.epsYIn * 1e6);
    boxes.edSigx0 = fmt("%.6g", beamSize(run.epsXIn, run.betaX0) * 1000.0);
    boxes.edSigy0 = fmt("%.6g", beamSize(run.epsYIn, run.betaY0) * 1000.0);
}

} // namespace kestrune

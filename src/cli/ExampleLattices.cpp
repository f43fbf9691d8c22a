#include "cli/ExampleLattices.h"

#include "cli/StderrMessages.h"
#include "core/Drawing.h"
#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "core/optics/BetaFunctions.h"

namespace kestrune {

namespace {

/// Appends an element at the end of the line with its drawing as the editor makes it.
LatticeElement& append(State& state, const std::string& name, int elementCode, double length)
{
    BeamLine& line = state.line;
    const int i = ++line.count;
    LatticeElement& e = line.at(i);
    e = LatticeElement{};
    e.name = elementName(name);
    e.code = elementCode;
    e.s = line.length;
    e.length = length;
    line.length += length;
    return e;
}

void drawLine(State& state)
{
    for (int i = 1; i <= state.line.count; ++i) {
        const LatticeElement& e = state.line.at(i);
        ElementShape& shape = state.line.shape(i);
        const int kind = kindOf(e.code);
        applyKindStyle(shape, kind);
        applyKindExtent(shape, kind, state.drawBaseline, state.drawScale);
        if (kind == 2)
            applyQuadrupoleSign(shape, e.k, state.drawBaseline, state.drawScale);
        placeShape(state.line, i);
        shape.title = std::to_string(i);
    }
}

State electronState(double momentum)
{
    State state;
    startParticle(state);
    state.beam.name = paddedElectronName();
    particleParameter(state.beam, state.electron);
    updateKinematics(state.beam, EnergyKind::Momentum, momentum);
    state.beam.referenceMomentum = momentum;
    return state;
}

void drift(State& state, const std::string& name, double length)
{
    append(state, name, code::kDrift, length);
}

void quadrupole(State& state, const std::string& name, double length, double k)
{
    append(state, name, code::kQuadrupole, length).k = k;
}

void sectorBend(State& state, const std::string& name, double length, double angle, double gap)
{
    LatticeElement& e = append(state, name, code::kSectorBend, length);
    e.curvature = angle / length;
    e.gap = gap;
}

void sextupole(State& state, const std::string& name, double length, double m)
{
    append(state, name, m >= 0 ? code::kSextupoleF : code::kSextupoleD, length).m = m;
}

void pump(State& state, const std::string& name, double speed)
{
    append(state, name, code::kPump, 0).pumpSpeed = speed;
}

/// Start values of the cell from its periodic solution, shown as lattice functions.
void periodicStart(State& state)
{
    StderrMessages messages;
    periodicSolution(state, messages);
    state.run.showBetaFunctions = true;
    // short steps, so that the curves are smooth inside the magnets
    state.run.stepAtElementEnds = false;
    state.run.maxStep = 0.05;
    state.run.maxSteps = state.run.maxStepsBox = 200;
}

} // namespace

State fodoRingCell()
{
    State state = electronState(1e9);
    const double angle = kTwoPi / 32; // two dipoles per cell, 16 cells
    quadrupole(state, "QF", 0.1, 3.0);
    drift(state, "D1", 0.4);
    sectorBend(state, "B", 1.2, angle, 0.04);
    drift(state, "D1", 0.4);
    quadrupole(state, "QD", 0.2, -3.0);
    drift(state, "D1", 0.4);
    sectorBend(state, "B", 1.2, angle, 0.04);
    drift(state, "D1", 0.4);
    quadrupole(state, "QF", 0.1, 3.0);
    state.line.superPeriods = 16;
    drawLine(state);
    periodicStart(state);
    return state;
}

namespace {

// Middle focusing strength that makes the dispersion slope vanish at the cell centre, so the
// straights are dispersion free (achromat condition), for QM = -2.0 1/m^2.
constexpr double kAchromatK = 1.7785483251007728;

void dbaHalf(State& state, bool mirrored)
{
    const double angle = kTwoPi / 24; // two dipoles per cell, 12 cells
    if (!mirrored) {
        drift(state, "LS", 2.5);
        pump(state, "P1", 200);
        quadrupole(state, "Q1", 0.3, 2.3);
        drift(state, "D1", 0.3);
        quadrupole(state, "Q2", 0.3, -2.2);
        drift(state, "D2", 0.4);
        sectorBend(state, "BEND", 2.0, angle, 0.03);
        pump(state, "P2", 100);
        drift(state, "D3", 0.3);
        sextupole(state, "SD", 0.2, -30.0);
        drift(state, "D4", 0.2);
        quadrupole(state, "QM", 0.25, -2.0);
        drift(state, "D4", 0.2);
        quadrupole(state, "QA", 0.4, kAchromatK);
        drift(state, "D4", 0.2);
        return;
    }
    drift(state, "D4", 0.2);
    quadrupole(state, "QA", 0.4, kAchromatK);
    drift(state, "D4", 0.2);
    quadrupole(state, "QM", 0.25, -2.0);
    drift(state, "D4", 0.2);
    sextupole(state, "SD", 0.2, -30.0);
    drift(state, "D3", 0.3);
    sectorBend(state, "BEND", 2.0, angle, 0.03);
    pump(state, "P2", 100);
    drift(state, "D2", 0.4);
    quadrupole(state, "Q2", 0.3, -2.2);
    drift(state, "D1", 0.3);
    quadrupole(state, "Q1", 0.3, 2.3);
    drift(state, "LS", 2.5);
}

} // namespace

State doubleBendAchromatCell()
{
    State state = electronState(2e9);
    dbaHalf(state, false);
    sextupole(state, "SF", 0.2, 25.0);
    dbaHalf(state, true);
    state.line.superPeriods = 12;
    state.ringClosed = true;
    state.beamCurrent = 0.2;
    state.rf.frequency = 499.654e6;
    state.rf.voltage = 1.2e6;
    state.rf.power = 2e5;
    state.rf.cavities = 2;
    state.rf.miscLoss = 0.1;
    state.run.epsXIn = state.lf.epsX = 1e-8;
    state.run.epsYIn = state.lf.epsY = 1e-10;
    drawLine(state);
    periodicStart(state);
    return state;
}

State ionTransportLine()
{
    State state;
    startParticle(state);
    BeamParameters& beam = state.beam;
    beam.name = "Carbon";
    beam.isIon = true;
    beam.charge = 1;
    beam.massNumber = 12.0;
    particleParameter(beam, state.electron);
    updateKinematics(beam, EnergyKind::Kinetic, 30e3);
    beam.referenceMomentum = beam.momentum;

    drift(state, "D0", 0.3);
    append(state, "EL", code::kEinzelLens, 0.1).k = 20e3;
    drift(state, "D1", 0.5);
    LatticeElement& accelerator = append(state, "ACC", code::kElectrostatic, 1.0);
    accelerator.k = 100e3; // V per gap
    accelerator.electrodes = 11;
    accelerator.energyGain = 1e6;
    drift(state, "D2", 0.3);
    quadrupole(state, "QF1", 0.15, 4.0);
    drift(state, "D3", 0.2);
    quadrupole(state, "QD1", 0.15, -4.0);
    drift(state, "D4", 0.4);
    append(state, "LIN", code::kLinac, 1.0).linacField = 2e6;
    drift(state, "D5", 0.4);
    quadrupole(state, "QF2", 0.15, 5.0);
    drift(state, "D3", 0.2);
    quadrupole(state, "QD2", 0.15, -5.0);
    drift(state, "D6", 1.0);
    drawLine(state);

    RunSettings& run = state.run;
    run.showBetaFunctions = true;
    run.betaX0 = run.betaY0 = 1.0;
    run.gammaX0 = run.gammaY0 = 1.0;
    run.epsXIn = state.lf.epsX = 5e-6;
    run.epsYIn = state.lf.epsY = 5e-6;
    run.stepAtElementEnds = false;
    run.maxSteps = run.maxStepsBox = 50;
    run.maxStep = 0.05;
    return state;
}

bool writeExampleLattices(const std::string& folder, Messages& messages)
{
    State fodo = fodoRingCell();
    State dba = doubleBendAchromatCell();
    State ion = ionTransportLine();
    const std::string prefix = folder.empty() ? std::string() : folder + "/";
    return writeLatticeFile(fodo, messages, prefix + "fodo-cell.lat") &&
           writeLatticeFile(dba, messages, prefix + "dba-cell.lat") &&
           writeLatticeFile(ion, messages, prefix + "ion-line.lat");
}

} // namespace kestrune

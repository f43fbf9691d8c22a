#pragma once

#include "core/State.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrune {

/// Exact equality of design values: numbers bit for bit (a NaN equals itself, -0 differs from 0).
bool sameValue(double a, double b);
bool sameValue(int a, int b);
bool sameValue(bool a, bool b);
bool sameValue(const std::string& a, const std::string& b);
bool sameValue(const LatticeElement& a, const LatticeElement& b);
bool sameValue(const ElementAperture& a, const ElementAperture& b);
bool sameValues(const std::vector<double>& a, const std::vector<double>& b);
bool sameValue(const ElementShape& a, const ElementShape& b);
bool sameValue(const DrawingBox& a, const DrawingBox& b);

/// The single values of the design (everything but the tables), laid out with the names of the State so
/// that zipDesignFields reads both alike.
struct DesignScalars
{
    struct Line
    {
        int count = 0;
        double length = 0;
        int superPeriods = 1;
    } line;
    int ringElementCount = 0;
    bool ringClosed = false;
    double drawScale = 0;
    double drawBaseline = 0;
    BeamParameters beam;
    double beamCurrent = 0;
    RunSettings run;
    struct Rf
    {
        double frequency = 0;
        double voltage = 0;
        double power = 0;
        int cavities = 0;
        double miscLoss = 0;
    } rf;
    std::string lastOpenedFile;
    std::string documentFile;
    std::string lastNoDataField;
};

/// Calls f(id, name, value in s, value in d) for every single value of the design, ids 0, 1, 2, ... in a
/// fixed order; s is a State or a DesignScalars, d a DesignScalars. A field added to BeamParameters or
/// RunSettings, or a value of the State that a lattice file or an edit changes, belongs here.
template <class S, class D, class F> void zipDesignFields(S& s, D& d, F&& f)
{
    int id = 0;
    const auto field = [&](const char* name, auto& a, auto& b) { f(id++, name, a, b); };
    field("count", s.line.count, d.line.count);
    field("length", s.line.length, d.line.length);
    field("superPeriods", s.line.superPeriods, d.line.superPeriods);
    field("ringElementCount", s.ringElementCount, d.ringElementCount);
    field("ringClosed", s.ringClosed, d.ringClosed);
    field("drawScale", s.drawScale, d.drawScale);
    field("drawBaseline", s.drawBaseline, d.drawBaseline);
    field("beamCurrent", s.beamCurrent, d.beamCurrent);
    field("rf frequency", s.rf.frequency, d.rf.frequency);
    field("rf voltage", s.rf.voltage, d.rf.voltage);
    field("rf power", s.rf.power, d.rf.power);
    field("rf cavities", s.rf.cavities, d.rf.cavities);
    field("rf miscLoss", s.rf.miscLoss, d.rf.miscLoss);
    field("lastOpenedFile", s.lastOpenedFile, d.lastOpenedFile);
    field("documentFile", s.documentFile, d.documentFile);
    field("lastNoDataField", s.lastNoDataField, d.lastNoDataField);

    auto& sb = s.beam;
    auto& db = d.beam;
    field("beam name", sb.name, db.name);
    field("beam isIon", sb.isIon, db.isIon);
    field("beam charge", sb.charge, db.charge);
    field("beam massNumber", sb.massNumber, db.massNumber);
    field("beam restEnergy", sb.restEnergy, db.restEnergy);
    field("beam kineticEnergy", sb.kineticEnergy, db.kineticEnergy);
    field("beam totalEnergy", sb.totalEnergy, db.totalEnergy);
    field("beam gamma", sb.gamma, db.gamma);
    field("beam beta", sb.beta, db.beta);
    field("beam momentum", sb.momentum, db.momentum);
    field("beam referenceMomentum", sb.referenceMomentum, db.referenceMomentum);
    field("beam energyGeV", sb.energyGeV, db.energyGeV);
    field("beam cGammaParticle", sb.cGammaParticle, db.cGammaParticle);
    field("beam cQuantumParticle", sb.cQuantumParticle, db.cQuantumParticle);

    auto& sr = s.run;
    auto& dr = d.run;
    field("run showTrajectory", sr.showTrajectory, dr.showTrajectory);
    field("run showBetaFunctions", sr.showBetaFunctions, dr.showBetaFunctions);
    field("run showBeamSize", sr.showBeamSize, dr.showBeamSize);
    field("run recomputePeriodic", sr.recomputePeriodic, dr.recomputePeriodic);
    field("run periodicAvailable", sr.periodicAvailable, dr.periodicAvailable);
    field("run periodicStable", sr.periodicStable, dr.periodicStable);
    field("run x0", sr.x0, dr.x0);
    field("run xp0", sr.xp0, dr.xp0);
    field("run y0", sr.y0, dr.y0);
    field("run yp0", sr.yp0, dr.yp0);
    field("run d0", sr.d0, dr.d0);
    field("run dp0", sr.dp0, dr.dp0);
    field("run delta", sr.delta, dr.delta);
    field("run betaX0", sr.betaX0, dr.betaX0);
    field("run alphaX0", sr.alphaX0, dr.alphaX0);
    field("run gammaX0", sr.gammaX0, dr.gammaX0);
    field("run betaY0", sr.betaY0, dr.betaY0);
    field("run alphaY0", sr.alphaY0, dr.alphaY0);
    field("run gammaY0", sr.gammaY0, dr.gammaY0);
    field("run etaX0", sr.etaX0, dr.etaX0);
    field("run etaPX0", sr.etaPX0, dr.etaPX0);
    field("run epsXIn", sr.epsXIn, dr.epsXIn);
    field("run epsYIn", sr.epsYIn, dr.epsYIn);
    field("run initialSigmaX", sr.initialSigmaX, dr.initialSigmaX);
    field("run initialSigmaY", sr.initialSigmaY, dr.initialSigmaY);
    field("run stepAtElementEnds", sr.stepAtElementEnds, dr.stepAtElementEnds);
    field("run maxSteps", sr.maxSteps, dr.maxSteps);
    field("run maxStepsBox", sr.maxStepsBox, dr.maxStepsBox);
    field("run maxStep", sr.maxStep, dr.maxStep);
}

/// A fingerprint of the linear lattice: the elements of the cell and of the full ring's copies (every field
/// but the sextupole strength, which no linear result depends on), the superperiods and the ring flag. A
/// result keeps the stamp of the design it was computed for; a different stamp makes it a result of
/// another design, which is neither shown nor used.
std::uint64_t latticeStamp(const State& state);
/// The sextupole strengths of the cell and the full ring's copies: with latticeStamp, the stamp of the
/// chromaticities.
std::uint64_t sextupoleStamp(const State& state);
/// latticeStamp with the particle, its momentum and the beam current: the stamp of results that depend on
/// the beam (rf, vacuum, lifetimes).
std::uint64_t designStamp(const State& state);

/// designStamp with the rf settings the rf parameters depend on (frequency, voltage, the additional energy
/// loss per turn): the stamp of the rf results.
std::uint64_t rfStamp(const State& state);
/// rfStamp with the rest of the rf settings (power, cells, miscellaneous loss): the stamp of the cavity
/// power budget.
std::uint64_t rfBudgetStamp(const State& state);

/// A copy of the design for comparisons. The tables are cut after their last slot that differs from a
/// fresh one; the slots left out are fresh.
struct DesignCopy
{
    std::vector<LatticeElement> elements; // slots 1.. (index 0 is slot 1)
    std::vector<ElementShape> shapes;     // slots 1..
    std::vector<DrawingBox> boxes;        // index 0..
    DesignScalars scalars;
};

DesignCopy designCopy(const State& state);

/// The first difference between two designs ("element 12", "run x0"); empty when they are exactly equal,
/// every table slot included.
std::string designDifference(const DesignCopy& a, const DesignCopy& b);
std::string designDifference(const State& a, const State& b);

} // namespace kestrune

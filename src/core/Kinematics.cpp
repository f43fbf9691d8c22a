#include "core/Kinematics.h"

#include "core/InputRanges.h"

#include <cmath>

namespace kestrune {

namespace {

void deriveFromEnergies(BeamParameters& beam, EnergyKind kind)
{
    const double mc2 = beam.restEnergy;
    switch (kind) {
    case EnergyKind::Total:
        beam.kineticEnergy = beam.totalEnergy - mc2;
        beam.momentum = std::sqrt(std::fmax(beam.totalEnergy * beam.totalEnergy - mc2 * mc2, 0.0));
        break;
    case EnergyKind::Kinetic:
        beam.totalEnergy = beam.kineticEnergy + mc2;
        beam.momentum = std::sqrt(std::fmax(beam.totalEnergy * beam.totalEnergy - mc2 * mc2, 0.0));
        break;
    case EnergyKind::Momentum:
        beam.totalEnergy = std::sqrt(beam.momentum * beam.momentum + mc2 * mc2);
        beam.kineticEnergy = beam.totalEnergy - mc2;
        break;
    }
    beam.beta = beam.totalEnergy != 0 ? beam.momentum / beam.totalEnergy : 0.0;
}

} // namespace

void updateKinematics(BeamParameters& beam, EnergyKind kind, double value)
{
    switch (kind) {
    case EnergyKind::Total:
        beam.totalEnergy = value;
        break;
    case EnergyKind::Kinetic:
        beam.kineticEnergy = value;
        break;
    case EnergyKind::Momentum:
        beam.momentum = value;
        break;
    }
    deriveFromEnergies(beam, kind);
    beam.energyGeV = beam.totalEnergy / 1e9;
    beam.gamma = beam.restEnergy != 0 ? beam.totalEnergy / beam.restEnergy : 0.0;
}

bool energyAccepted(EnergyKind kind, double value, Messages& messages)
{
    if (value > 0) {
        // beyond any machine, and beyond what the lattice files take back
        const std::optional<std::string> refusal = rangeRefusal(
            kind == EnergyKind::Momentum ? ranges::kMomentumMeV : ranges::kKineticEnergyMeV, value / 1e6);
        if (refusal)
            messages.error(*refusal);
        return !refusal;
    }
    // a particle at rest or slower than that has no momentum, no beta and no optics
    messages.error(kind == EnergyKind::Momentum ? "momentum must be positive!"
                                                : "kinetic energy must be positive!");
    return false;
}

void partE(BeamParameters& beam, EnergyKind kind)
{
    deriveFromEnergies(beam, kind);
}

const std::string& paddedElectronName()
{
    static const std::string name = "       electron";
    return name;
}

void particleParameter(BeamParameters& beam, const RadiationConstants& electron)
{
    if (beam.name == paddedElectronName())
        beam.massNumber = kElectronRestEnergy / kAtomicMassUnit;
    beam.restEnergy = kAtomicMassUnit * beam.massNumber;
    const double d = beam.restEnergy / kElectronRestEnergy;
    beam.cGammaParticle = electron.cGamma / (d * d * d * d);
    beam.cQuantumParticle = electron.cQuantum / d;
}

const std::array<IonEntry, kIonCount>& ionTable()
{
    static const std::array<IonEntry, kIonCount> table = {{
        {"H", "Hydrogen", 1.00794},   {"D", "Deuterium", 2.0141},     {"He-3", "Helium-3", 3.016},
        {"He-4", "Helium-4", 4.0026}, {"Li-6", "Lithium-6", 6.01513}, {"Li-7", "Lithium-7", 6.941},
        {"Be", "Beryllium", 9.01218}, {"B-10", "Boron-10", 10.0129},  {"C", "Carbon", 12.0},
        {"N", "Nitrogen", 14.0067},   {"O", "Oxygen", 15.9994},       {"F", "Fluorine", 18.9984},
        {"Ne", "Neon", 19.9924},      {"K", "Sodium", 22.98977},      {"Mg", "Magnesium", 23.985},
        {"Al", "Aluminum", 26.9815},  {"Si", "Silicon", 28.0855},     {"P", "Phosophorus", 30.9738},
        {"S", "Sulfur", 32.06},       {"Cl", "Chlorine", 34.9688},    {"A", "Argon", 39.948},
    }};
    return table;
}

void selectElectron(BeamParameters& beam, const RadiationConstants& electron)
{
    beam.name = "electron";
    beam.massNumber = kElectronRestEnergy / kAtomicMassUnit;
    beam.charge = 1;
    beam.isIon = false;
    particleParameter(beam, electron);
}

void selectProton(BeamParameters& beam, const RadiationConstants& electron)
{
    beam.name = "proton";
    beam.massNumber = 1.00794;
    beam.charge = 1;
    beam.isIon = false;
    particleParameter(beam, electron);
}

void selectIonKind(BeamParameters& beam, const RadiationConstants& electron)
{
    beam.isIon = true;
    beam.massNumber = 1.0;
    particleParameter(beam, electron);
}

void selectIonRow(BeamParameters& beam, const RadiationConstants& electron, int row)
{
    if (row >= 0 && row < kIonCount) {
        const IonEntry& ion = ionTable()[static_cast<std::size_t>(row)];
        beam.name = ion.name;
        beam.massNumber = ion.massNumber;
        beam.charge = 1;
    }
    particleParameter(beam, electron);
}

void startParticle(State& state)
{
    BeamParameters& beam = state.beam;
    beam.name = "electron";
    beam.isIon = false;
    beam.charge = 1;
    beam.massNumber = kElectronRestEnergy / kAtomicMassUnit;
    particleParameter(beam, state.electron);
    updateKinematics(beam, EnergyKind::Momentum, 1e9);
    beam.referenceMomentum = beam.momentum;
}

} // namespace kestrune

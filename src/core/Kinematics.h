#pragma once

#include "core/Messages.h"
#include "core/State.h"

#include <array>
#include <string>

namespace kestrune {

/// Which energy a kinematics value is.
enum class EnergyKind { Total = 1, Kinetic = 2, Momentum = 3 };

/// Sets E, E_kin or cp (eV) and derives the others, gamma, beta and energyGeV.
/// referenceMomentum is not touched.
void updateKinematics(BeamParameters& beam, EnergyKind kind, double value);

/// A kinetic energy or momentum (eV) typed for the particle: true when it is positive, otherwise the
/// message "kinetic energy must be positive!" or "momentum must be positive!" and false.
bool energyAccepted(EnergyKind kind, double value, Messages& messages);

/// Recomputes the energies from the record's own field of the given kind, then beta only.
void partE(BeamParameters& beam, EnergyKind kind);

/// The name a lattice file gives the electron: seven blanks and "electron".
const std::string& paddedElectronName();

/// After a change of particle kind: the electron's mass for its padded file name, restEnergy from the
/// mass number, and the particle's radiation constants scaled from the electron's.
void particleParameter(BeamParameters& beam, const RadiationConstants& electron);

/// One row of the ion list.
struct IonEntry
{
    const char* listText; // as the window lists it ("K")
    const char* name;     // as stored and written to files ("Sodium")
    double massNumber;    // amu
};

constexpr int kIonCount = 21;
/// The ion list, rows 0..20.
const std::array<IonEntry, kIonCount>& ionTable();

/// Makes the particle the electron (name, mass, charge 1, not an ion) and runs particleParameter.
void selectElectron(BeamParameters& beam, const RadiationConstants& electron);
/// Makes the particle the proton (mass number 1.00794) and runs particleParameter.
void selectProton(BeamParameters& beam, const RadiationConstants& electron);
/// Marks the particle as an ion of mass number 1.0 until a row is picked; runs particleParameter.
void selectIonKind(BeamParameters& beam, const RadiationConstants& electron);
/// Stores row's name and mass with charge 1 (rows outside 0..20 change nothing); runs particleParameter.
void selectIonRow(BeamParameters& beam, const RadiationConstants& electron, int row);

/// Start values of the particle: the electron at cp = 1e9 eV, which is also the reference momentum.
void startParticle(State& state);

} // namespace kestrune

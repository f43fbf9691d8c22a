#pragma once

#include "core/Messages.h"
#include "core/State.h"

#include <optional>
#include <string>

namespace kestrune {

/// The wall material of the pill-box cavity the shunt impedance is scaled from.
enum class CavityMaterial { Copper, Aluminum };

/// The material's name as the rf-parameter list shows it: "copper" or "aluminum".
const char* cavityMaterialName(CavityMaterial material);

/// Shunt impedance per metre (Ohm/m) of a pill-box cavity of this material at the rf frequency (Hz):
/// 1.28 MOhm/m (copper) or 1.06 MOhm/m (aluminium) times the square root of the frequency in MHz.
double scaledShuntImpedance(CavityMaterial material, double frequency);

/// The boxes and choices of the "RfPower system" group.
struct CavityInput
{
    int cavities = 1;                                 // edNumCav, cells in the ring
    double miscLossPercent = 0;                       // edMiscLoss, % of the rf power
    double voltageKv = 0;                             // edRFVolt
    double powerKw = 0;                               // edRfPow
    bool selectImpedance = false;                     // rbSelectImpedance instead of the scaled impedance
    CavityMaterial material = CavityMaterial::Copper; // rgMaterial
    double shuntImpedanceMohm = 1.0;                  // edShuntImpedance, per cell
};

/// The labels of the group after an update.
struct CavityBudgetView
{
    std::string wavelength;                       // lRfWL
    std::string cavityLength;                     // lRfCavL
    std::optional<std::string> impedancePerMetre; // lImpperm, scaled impedance only
    std::optional<std::string> ringImpedance;     // ltotImp, scaled impedance only
    std::string cavityVoltage;                    // lCavVolt
    std::string cavityLoss;                       // lCavLoss
    std::string totalAvailable;                   // ltotavail
    std::string miscLoss;                         // lmisLoss
    std::string remaining;                        // lRemPow ("\r" breaks the line)
    bool powerLeft = false;                       // lRemPow navy; red when no power is left
};

/// The cavity power budget: rf wavelength, effective cavity length, shunt impedance (scaled or typed per
/// cell) and the ring's total impedance, wall losses V_rf^2 / total impedance (the cells are in series),
/// miscellaneous losses, the power left for the beam and, for the electron, the current it sustains.
/// Refuses, with a message and nothing stored, fewer than one cavity cell, an rf frequency of 0, a typed
/// impedance that is not above 0 and a ring without energy loss per turn.
std::optional<CavityBudgetView> cavityPowerBudget(State& state, Messages& messages, const CavityInput& input);

} // namespace kestrune

#pragma once

#include "core/Messages.h"
#include "core/State.h"

#include <optional>
#include <string>

namespace kestrune {

/// The rf system that the rf cavities of the line (code 90) make. The line holds one cell of the ring;
/// the ring holds superPeriods cells, so its voltage is the cell's cavity voltages summed times the
/// superperiods. All cavities must share one harmonic number (one rf system): a cavity's own harmonic
/// number, or its frequency over the revolution frequency rounded to the nearest whole number.
struct CavitySystem
{
    int cavities = 0;   // cavities of the cell (elements 1..count)
    double voltage = 0; // V, of the whole ring
    double harmonic = 0;
};

/// The cell's cavities as a system: nothing when the line has none; fills system and gives nothing when
/// they form one, else the refusal: "the rf cavities 'C1' (4) and 'C2' (9) have different harmonic
/// numbers (328 and 656): the ring has one rf system only!", or for a cavity given by frequency without a
/// ring to take the revolution frequency from, or one whose frequency lies below it.
std::optional<std::string> cavitySystemRefusal(const State& state, CavitySystem& system);

/// True when elements 1..count hold an rf cavity.
bool hasCavities(const BeamLine& line);

/// For a line with rf cavities: V_rf becomes their total voltage, the ring's harmonic number theirs and
/// the rf frequency h f_rev. True, with nothing changed, for a line without cavities; false with the
/// refusal's message and nothing changed when the cavities do not make one rf system.
bool takeCavitySystem(State& state, Messages& messages);

/// V_rf from the cavities of the line when they have any (without a message: the rf window's boxes as
/// it fills them); nothing changes otherwise.
void takeCavityVoltage(State& state);

/// Gives the ring the total voltage (V): every cavity of the cell scaled by total / (their sum), each
/// the same share when all are 0; the copies of the full ring beyond the cell follow their cell's
/// cavity. Nothing happens for a line without cavities.
void spreadCavityVoltage(State& state, double total);

} // namespace kestrune

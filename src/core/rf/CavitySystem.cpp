#include "core/rf/CavitySystem.h"

#include "core/Format.h"
#include "core/rf/RfParameter.h"

#include <algorithm>
#include <cmath>

namespace kestrune {

namespace {

std::string cavityWords(const BeamLine& line, int i)
{
    return "'" + line.at(i).name + "' (" + std::to_string(i) + ")";
}

int superPeriodsOf(const State& state)
{
    return std::max(1, state.line.superPeriods);
}

} // namespace

bool hasCavities(const BeamLine& line)
{
    for (int i = 1; i <= line.count; ++i)
        if (line.at(i).code == code::kRfCavity)
            return true;
    return false;
}

std::optional<std::string> cavitySystemRefusal(const State& state, CavitySystem& system)
{
    const BeamLine& line = state.line;
    CavitySystem found;
    int first = 0;
    const double fRev = revolutionFrequencyNow(state);
    double cellVoltage = 0;
    for (int i = 1; i <= line.count; ++i) {
        const LatticeElement& e = line.at(i);
        if (e.code != code::kRfCavity)
            continue;
        double h = e.harmonic;
        if (!(h > 0)) {
            // f = h f_rev: the cavity runs at the h-th harmonic of the revolution frequency
            if (!finitePositive(fRev))
                return "the rf cavity " + cavityWords(line, i) +
                       " is given by its frequency: its harmonic number needs the ring's circumference, "
                       "close the ring first!";
            h = std::nearbyint(e.frequency / fRev);
            if (!(h >= 1))
                return "the rf cavity " + cavityWords(line, i) +
                       " has a frequency below the revolution frequency!";
        }
        if (first == 0) {
            first = i;
            found.harmonic = h;
        } else if (h != found.harmonic) {
            return "the rf cavities " + cavityWords(line, first) + " and " + cavityWords(line, i) +
                   " have different harmonic numbers (" + shortestFloat(found.harmonic) + " and " +
                   shortestFloat(h) + "): the ring has one rf system only!";
        }
        ++found.cavities;
        cellVoltage += e.voltage;
    }
    if (first == 0)
        return std::nullopt;
    found.voltage = cellVoltage * superPeriodsOf(state);
    system = found;
    return std::nullopt;
}

bool takeCavitySystem(State& state, Messages& messages)
{
    CavitySystem system;
    if (const std::optional<std::string> refusal = cavitySystemRefusal(state, system)) {
        messages.error(*refusal);
        return false;
    }
    if (system.cavities == 0)
        return true;
    state.rf.voltage = system.voltage;
    state.ringParams.harmonicNumber = system.harmonic;
    const double fRev = revolutionFrequencyNow(state);
    if (finitePositive(fRev))
        state.rf.frequency = system.harmonic * fRev;
    return true;
}

void takeCavityVoltage(State& state)
{
    if (!hasCavities(state.line))
        return;
    double cell = 0;
    for (int i = 1; i <= state.line.count; ++i)
        if (state.line.at(i).code == code::kRfCavity)
            cell += state.line.at(i).voltage;
    state.rf.voltage = cell * superPeriodsOf(state);
}

void spreadCavityVoltage(State& state, double total)
{
    BeamLine& line = state.line;
    double cell = 0;
    int cavities = 0;
    for (int i = 1; i <= line.count; ++i)
        if (line.at(i).code == code::kRfCavity) {
            cell += line.at(i).voltage;
            ++cavities;
        }
    if (cavities == 0)
        return;
    const double ring = cell * superPeriodsOf(state);
    for (int i = 1; i <= line.count; ++i) {
        LatticeElement& e = line.at(i);
        if (e.code != code::kRfCavity)
            continue;
        e.voltage = ring > 0 ? e.voltage * (total / ring) : total / (cavities * superPeriodsOf(state));
    }
    // the expanded full ring repeats the cell after itself
    const int last = std::max(line.count, std::min(state.ringElementCount, line.slotCount()));
    for (int j = line.count + 1; j <= last; ++j) {
        LatticeElement& copy = line.at(j);
        const LatticeElement& original = line.at((j - 1) % line.count + 1);
        if (copy.code == code::kRfCavity && original.code == code::kRfCavity)
            copy.voltage = original.voltage;
    }
}

} // namespace kestrune

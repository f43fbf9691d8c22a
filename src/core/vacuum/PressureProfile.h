#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/vacuum/VacuumInput.h"

#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// Sums of per-step gas loads w_m (m = 0..size-1) over any range of steps in constant time, from
/// prefix sums of w_m and of m w_m (held in extended precision).
class LoadSums
{
public:
    explicit LoadSums(const std::vector<double>& w);
    /// Sum of w_m for m = from..to; 0 when to < from.
    double load(int from, int to) const;
    /// Sum of (m - origin) w_m for m = from..to; 0 when to < from.
    double moment(int from, int to, int origin) const;

private:
    std::vector<long double> m_sum;    // m_sum[j] = w_0 + ... + w_(j-1)
    std::vector<long double> m_moment; // m_moment[j] = 0 w_0 + ... + (j-1) w_(j-1)
};

/// Pumps that share a step act as one pump: a station.
struct PumpStation
{
    std::vector<int> pumps; // pump numbers (1.., element order) at this station
    double x = 0;           // m along the wall, of its first pump
    int step = 0;           // n_p
    double speed = 0;       // l/s, of all its pumps
    double pressure = 0;    // Torr, P_p
    int divide = 0;         // d_p, flow divide towards the next station (the first one's copy for the last)
};

/// One vacuum pump of the line with the pressure at it.
struct PumpPressure
{
    int element = 0;     // index in the beam line
    double speed = 0;    // l/s
    double pressure = 0; // Torr
    double s = 0;        // m, end of the pump along the beam line
};

/// The pressure along one period.
struct VacuumResult
{
    int steps = 0;                // M
    double stepLength = 0;        // m along the wall, delta s
    double period = 0;            // m along the wall
    double photodesorption = 0;   // K, Torr l/s per unit of gas load and step
    double thermal = 0;           // T, Torr l/s per step
    double radiusCm3 = 0;         // cm^3, the chamber radius cubed
    std::vector<double> load;     // q_k at index k - 1, photodesorption gas load of step k
    std::vector<double> pressure; // Torr, P_k at index k - 1; step k lies at (k - 1) delta s
    std::vector<PumpStation> stations;
    std::vector<PumpPressure> pumps;   // in element order
    double averagePressure = 0;        // Torr
    std::vector<std::string> warnings; // what the user should know about the result

    /// Position of step k = 1..M along the wall (m).
    double position(int k) const { return (k - 1) * stepLength; }
};

/// The pressure profile of the line's period: gas loads from the bends' light and the chamber's
/// outgassing, flow divides between neighbouring pumps by bisection, pump pressures and the pressure
/// rise along the chamber. Refuses, with a message, a line without pumps ("there are no pumps in your
/// lattice!") or with a pump of no pumping speed. Work O(M + iterations x pumps).
std::optional<VacuumResult> pressureDistribution(const State& state, const VacuumInput& input,
                                                 Messages& messages);

/// pressureDistribution, then the average pressure into state.averagePressure.
std::optional<VacuumResult> calculateVacuum(State& state, const VacuumInput& input, Messages& messages);

/// The lines of the pump list: header, one line per pump (number, speed, pressure in nTorr, s) and
/// the average pressure.
std::vector<std::string> pumpListLines(const VacuumResult& result);

/// Adds the pump list to the list text.
void pumpPressureList(State& state, const VacuumResult& result);

} // namespace kestrune

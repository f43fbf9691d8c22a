#include "core/vacuum/PressureProfile.h"

#include "core/Constants.h"
#include "core/Design.h"
#include "core/Format.h"
#include "core/io/Listing.h"
#include "core/vacuum/GasLoad.h"
#include "core/vacuum/VacuumChamber.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace kestrune {

namespace {

constexpr double kDivideTolerance = 1e-5; // relative pressure mismatch at a flow divide

/// Gas load q_k of every step k = 1..M from the light on the wall. The spectrum is computed again only
/// where the source radius changes and the yield where the grazing angle does (all along a bend that
/// lights itself, neither does).
std::vector<double> stepLoads(const VacuumChamber& chamber, const BeamParameters& beam, double current,
                              int steps, double stepLength)
{
    std::vector<double> load(static_cast<std::size_t>(steps));
    int g = 0;
    double lastRho = -1, lastSinPsi = -1, spectrum = 0, yield = 0;
    for (int k = 1; k <= steps; ++k) {
        const double s = (k - 1) * stepLength;
        while (g + 1 < chamber.segmentCount() && chamber.end[static_cast<std::size_t>(g)] <= s)
            ++g;
        const double segmentStart = g > 0 ? chamber.end[static_cast<std::size_t>(g - 1)] : 0.0;
        const WallLight light = wallLight(chamber, g, s - segmentStart);
        const double flux = photonFlux(light.flux(), beam.totalEnergy, beam.restEnergy, current);
        if (flux <= 0)
            continue;
        if (light.rho != lastRho) {
            spectrum = desorptionSpectrum(criticalPhotonEnergy(beam.totalEnergy, beam.restEnergy, light.rho));
            lastRho = light.rho;
        }
        if (light.sinPsi != lastSinPsi) {
            yield = photoelectronYield(light.sinPsi);
            lastSinPsi = light.sinPsi;
        }
        load[static_cast<std::size_t>(k - 1)] = flux * yield * spectrum;
    }
    return load;
}

std::string pumpNumbers(const std::vector<int>& numbers)
{
    std::string text;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (i > 0)
            text += i + 1 == numbers.size() ? " and " : ", ";
        text += std::to_string(numbers[i]);
    }
    return text;
}

/// The pumps as stations at their steps: pumps that fall on one step (also the last and the first
/// across the end of the period) act as one, with a warning.
std::vector<PumpStation> pumpStations(const VacuumChamber& chamber, int steps, double stepLength,
                                      std::vector<std::string>& warnings)
{
    std::vector<PumpStation> stations;
    for (std::size_t p = 0; p < chamber.pumps.size(); ++p) {
        const ChamberPump& pump = chamber.pumps[p];
        const double x = pump.positionInStraight +
                         (pump.segment > 0 ? chamber.end[static_cast<std::size_t>(pump.segment - 1)] : 0.0);
        const int step = static_cast<int>(std::lround(x / stepLength));
        if (!stations.empty() && stations.back().step == step) {
            stations.back().pumps.push_back(static_cast<int>(p) + 1);
            stations.back().speed += pump.speed;
            continue;
        }
        stations.push_back({{static_cast<int>(p) + 1}, x, step, pump.speed, 0, 0});
    }
    if (stations.size() > 1 && stations.back().step >= stations.front().step + steps) {
        PumpStation last = stations.back();
        stations.pop_back();
        stations.front().pumps.insert(stations.front().pumps.begin(), last.pumps.begin(), last.pumps.end());
        stations.front().speed += last.speed;
    }
    for (const PumpStation& station : stations) {
        if (station.pumps.size() > 1)
            warnings.push_back("pumps " + pumpNumbers(station.pumps) +
                               " fall on the same step and act as one pump of" + fmt("%9.3f", station.speed) +
                               " l/s!");
    }
    return stations;
}

/// Pressure rise (Torr cm^-3 l s^-1 m, before the division by the radius cubed) from the station at step n
/// to step k on its backward side, with the flow divide at step d (n <= k <= d): the link from step j - 1
/// to step j (j = n + 1 .. k) carries the gas of the steps j .. d back to the pump.
double riseBackward(const LoadSums& sums, int n, int k, int d, double stepLength)
{
    return stepLength * (sums.moment(n + 1, k, n) + (k - n) * sums.load(k + 1, d));
}

/// The same on the forward side of the station at step n, divide at d (d <= k <= n): the link from step
/// j to step j + 1 (j = k .. n - 1) carries the gas of the steps d + 1 .. j forward to the pump.
double riseForward(const LoadSums& sums, int d, int k, int n, double stepLength)
{
    return stepLength * ((n - k) * sums.load(d + 1, k) - sums.moment(k + 1, n - 1, n));
}

/// Bisection of the flow divides; leaves the divides and the station pressures of the last iteration.
void findDivides(std::vector<PumpStation>& st, const LoadSums& sums, int steps, int iterations,
                 double stepLength, double radiusCm3)
{
    const std::size_t count = st.size();
    const int copyStep = st.front().step + steps; // the first station of the next period
    std::vector<double> lower(count), upper(count), mismatch(count, 1 + kDivideTolerance),
        pressure(count + 1);
    for (std::size_t p = 0; p < count; ++p) {
        lower[p] = st[p].x;
        upper[p] = p + 1 < count ? st[p + 1].x : st.front().x + steps * stepLength;
    }
    const auto nextStep = [&](std::size_t p) { return p + 1 < count ? st[p + 1].step : copyStep; };
    int iteration = 0;
    bool moved = true;
    do {
        ++iteration;
        moved = false;
        for (std::size_t p = 0; p < count; ++p) {
            const int d = static_cast<int>(std::lround((lower[p] + upper[p]) / 2 / stepLength));
            st[p].divide = std::clamp(d, st[p].step, std::max(st[p].step, nextStep(p)));
        }
        // every station collects the steps from the divide before it to its own divide
        for (std::size_t p = 0; p < count; ++p) {
            const double gas = p > 0 ? sums.load(st[p - 1].divide + 1, st[p].divide)
                                     : sums.load(st[0].step + 1, st[0].divide) +
                                           sums.load(st[count - 1].divide + 1, copyStep);
            pressure[p] = gas / st[p].speed;
            st[p].pressure = pressure[p];
        }
        pressure[count] = pressure[0];
        for (std::size_t p = 0; p < count; ++p) {
            if (mismatch[p] <= kDivideTolerance)
                continue;
            const int d = st[p].divide;
            const double left = riseBackward(sums, st[p].step, d, d, stepLength) / radiusCm3 + pressure[p];
            const double right =
                riseForward(sums, d, d, nextStep(p), stepLength) / radiusCm3 + pressure[p + 1];
            mismatch[p] = left + right > 0 ? std::fabs(right - left) / ((left + right) / 2) : 0.0;
            if (mismatch[p] <= kDivideTolerance)
                continue;
            // once the interval is below the resolution of a double the bound no longer moves
            const double before = left > right ? upper[p] : lower[p];
            if (left > right)
                upper[p] -= (upper[p] - lower[p]) / 2;
            else
                lower[p] += (upper[p] - lower[p]) / 2;
            moved = moved || (left > right ? upper[p] : lower[p]) != before;
        }
        // bounds that no longer move give the same divides, pressures and bounds in every further iteration
    } while (iteration < iterations && moved);
}

/// P_k for k = n_1 .. M + n_1: the pressure rise from the step to the pump its gas flows to.
std::vector<double> profile(const std::vector<PumpStation>& st, const LoadSums& sums, int steps,
                            double stepLength, double radiusCm3)
{
    const int first = st.front().step;
    const std::size_t count = st.size();
    std::vector<double> p(static_cast<std::size_t>(first + steps + 1));
    const auto stationStep = [&](std::size_t q) { return q < count ? st[q].step : first + steps; };
    const auto stationPressure = [&](std::size_t q) { return st[q < count ? q : 0].pressure; };
    std::size_t q = 1;
    for (int k = first; k <= first + steps; ++k) {
        while (q < count && k > stationStep(q))
            ++q;
        const int divide = st[q - 1].divide;
        // the gas at k flows to the station on its side of the divide
        const double value =
            k > divide
                ? riseForward(sums, divide, k, stationStep(q), stepLength) / radiusCm3 + stationPressure(q)
                : riseBackward(sums, st[q - 1].step, k, divide, stepLength) / radiusCm3 +
                      stationPressure(q - 1);
        p[static_cast<std::size_t>(k)] = value;
    }
    return p;
}

/// The line can be calculated: it has pumps, each with a pumping speed, and a length.
bool calculable(const VacuumChamber& chamber, const BeamLine& line, Messages& messages)
{
    if (chamber.pumps.empty()) {
        messages.error("there are no pumps in your lattice!");
        return false;
    }
    for (std::size_t p = 0; p < chamber.pumps.size(); ++p) {
        const ChamberPump& pump = chamber.pumps[p];
        if (!(pump.speed > 0)) {
            messages.error("pump " + std::to_string(p + 1) + " (element " + std::to_string(pump.element) +
                           ", " + line.at(pump.element).name + ") needs a pumping speed above 0 l/s!");
            return false;
        }
    }
    if (!(chamber.period() > 0)) {
        messages.error("the beam line has no length!");
        return false;
    }
    return true;
}

/// Every pump of the line, in element order, with the pressure of its station.
std::vector<PumpPressure> pumpPressures(const VacuumChamber& chamber,
                                        const std::vector<PumpStation>& stations)
{
    std::vector<PumpPressure> pumps;
    for (const PumpStation& station : stations) {
        for (int number : station.pumps) {
            const ChamberPump& pump = chamber.pumps[static_cast<std::size_t>(number - 1)];
            pumps.push_back({pump.element, pump.speed, station.pressure, pump.s});
        }
    }
    std::sort(pumps.begin(), pumps.end(),
              [](const PumpPressure& a, const PumpPressure& b) { return a.element < b.element; });
    return pumps;
}

} // namespace

LoadSums::LoadSums(const std::vector<double>& w) : m_sum(w.size() + 1), m_moment(w.size() + 1)
{
    for (std::size_t m = 0; m < w.size(); ++m) {
        m_sum[m + 1] = m_sum[m] + w[m];
        m_moment[m + 1] = m_moment[m] + static_cast<long double>(m) * w[m];
    }
}

double LoadSums::load(int from, int to) const
{
    if (to < from)
        return 0;
    return static_cast<double>(m_sum[static_cast<std::size_t>(to) + 1] -
                               m_sum[static_cast<std::size_t>(from)]);
}

double LoadSums::moment(int from, int to, int origin) const
{
    if (to < from)
        return 0;
    const auto a = static_cast<std::size_t>(from);
    const auto b = static_cast<std::size_t>(to) + 1;
    return static_cast<double>((m_moment[b] - m_moment[a]) -
                               static_cast<long double>(origin) * (m_sum[b] - m_sum[a]));
}

std::optional<VacuumResult> pressureDistribution(const State& state, const VacuumInput& input,
                                                 Messages& messages)
{
    const VacuumChamber chamber = vacuumChamber(state.line, input.chamberRadius);
    if (!calculable(chamber, state.line, messages))
        return std::nullopt;

    VacuumResult r;
    r.steps = input.steps;
    r.period = chamber.period();
    r.stepLength = r.period / r.steps;
    if (chamber.lightSources == 0)
        r.warnings.push_back(
            "there are no bending magnets in your lattice: only thermal outgassing loads the pumps!");
    r.load = stepLoads(chamber, state.beam, state.beamCurrent, r.steps, r.stepLength);

    // Torr l/s per unit of gas load: 2 eta molecules at 22.4 l per 6e23 at 760 Torr; outgassing of the
    // chamber surface of one step (perimeter in cm times the step in cm)
    const double radiusCm = 100 * input.chamberRadius;
    r.photodesorption = 2 * input.photodesorptionYield * 22.4 * 760 * r.stepLength / 6e23;
    r.thermal = input.thermalDesorption * kTwoPi * radiusCm * r.stepLength * 100;
    r.radiusCm3 = radiusCm * radiusCm * radiusCm;

    r.stations = pumpStations(chamber, r.steps, r.stepLength, r.warnings);
    const int first = r.stations.front().step;
    // loads w_m of the steps m = 0 .. M + n_1, continued periodically (step 0 is step M)
    std::vector<double> w(static_cast<std::size_t>(first + r.steps + 1));
    for (std::size_t m = 0; m < w.size(); ++m) {
        const std::size_t k = (m + static_cast<std::size_t>(r.steps) - 1) % static_cast<std::size_t>(r.steps);
        w[m] = r.photodesorption * r.load[k] + r.thermal;
    }
    const LoadSums sums(w);
    findDivides(r.stations, sums, r.steps, input.iterations, r.stepLength, r.radiusCm3);

    const std::vector<double> p = profile(r.stations, sums, r.steps, r.stepLength, r.radiusCm3);
    r.pressure.resize(static_cast<std::size_t>(r.steps));
    for (int k = 1; k <= r.steps; ++k) {
        // the steps before the first pump take the values of the next period
        r.pressure[static_cast<std::size_t>(k - 1)] =
            p[static_cast<std::size_t>(k <= first ? k + r.steps : k)];
    }
    r.averagePressure = std::accumulate(r.pressure.begin(), r.pressure.end(), 0.0) / r.steps;
    r.pumps = pumpPressures(chamber, r.stations);
    return r;
}

std::optional<VacuumResult> calculateVacuum(State& state, const VacuumInput& input, Messages& messages)
{
    std::optional<VacuumResult> result = pressureDistribution(state, input, messages);
    if (result) {
        state.averagePressure = result->averagePressure;
        state.pressureStamp = designStamp(state);
    }
    return result;
}

std::vector<std::string> pumpListLines(const VacuumResult& result)
{
    std::vector<std::string> lines = {"",
                                      "",
                                      "Vacuum pressure at pumps ",
                                      separatorLine(),
                                      "pump#   PS(lt/sec)    P(nTorr)      s(m)",
                                      separatorLine(),
                                      ""};
    for (std::size_t p = 0; p < result.pumps.size(); ++p) {
        const PumpPressure& pump = result.pumps[p];
        lines.push_back(fmt("%5d", static_cast<int>(p) + 1) + "    " + fmt("%8.3f", pump.speed) + "    " +
                        fmt("%8.3f", pump.pressure * 1e9) + "    " + fmt("%8.3f", pump.s));
    }
    lines.push_back(separatorLine());
    lines.push_back("avg.vacuum pressure: " + fmt("%8.3f", result.averagePressure * 1e9) + " nTorr");
    lines.push_back(separatorLine());
    return lines;
}

void pumpPressureList(State& state, const VacuumResult& result)
{
    addList(state, pumpListLines(result));
}

} // namespace kestrune

#pragma once

#include "core/State.h"
#include "core/orbit/OrbitResponse.h"

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace kestrune {

/// Normal deviates from a std::mt19937_64 by Box and Muller's transform, the same numbers on every
/// platform (the standard distributions differ between libraries): two uniform u1 in (0, 1], u2 in
/// [0, 1) from the top 53 bits of two draws give r = sqrt(-2 ln u1), and r cos(2 pi u2), r sin(2 pi u2)
/// are two independent deviates of mean 0 and sigma 1, handed out in that order.
class GaussianNoise
{
public:
    explicit GaussianNoise(std::uint64_t seed) : m_engine(seed) {}
    /// The next deviate (mean 0, sigma 1).
    double next();

private:
    std::mt19937_64 m_engine;
    double m_spare = 0;
    bool m_hasSpare = false;
};

/// How the kicks are found from the readings: the pseudo-inverse of the response (SVD), or MICADO's
/// best kickers, chosen one by one.
enum class CorrectionMethod { Svd, Micado };

struct OrbitCorrectionSettings
{
    CorrectionMethod method = CorrectionMethod::Svd;
    OrbitKind orbit = OrbitKind::Closed;
    int singularValues = 0;               // SVD: the largest ones kept; 0 for every one above cut
    double cut = 1e-12;                   // SVD: singular values below cut times the largest left out
    int kickers = 0;                      // MICADO: kickers chosen in each plane (at least 1)
    int iterations = 3;                   // passes over the tracked orbit
    double kickLimit = 0;                 // rad, largest |kick| of a kicker plane (0: none)
    std::vector<std::string> monitorsOff; // names of the monitors whose readings are left out
    double readNoise = 0;                 // m, sigma of the Gaussian noise on every reading
    std::uint64_t seed = 1;               // of the noise
    // the response to correct with, of the same monitors and kickers (an error study's, of the design);
    // nothing: the tracked response of the line as it is
    std::shared_ptr<const OrbitResponse> response;
};

/// One kicker plane of the line in a correction.
struct KickerKick
{
    int element = 0; // index in the line
    std::string name;
    bool horizontal = true;
    double before = 0, after = 0; // rad
    bool used = false;            // SVD: every plane; MICADO: the chosen ones
    bool capped = false;          // held at the kick limit
};

/// An orbit correction by the kickers of the line: the kicks that minimise the readings of the monitors
/// in the least-squares sense (a reading is the orbit at the monitor's centre less the monitor's offset,
/// its misalignment errors.dx, errors.dy, plus the read noise), from the tracked orbit response, iterated
/// on the tracked orbit.
struct OrbitCorrection
{
    bool done = false;
    std::string refusal;
    CorrectionMethod method = CorrectionMethod::Svd;
    std::vector<double> singularValues; // SVD: of the response, largest first
    int used = 0;                       // SVD: singular values used; MICADO: kicker planes chosen
    int iterations = 0;
    int monitors = 0;              // monitors read
    std::vector<KickerKick> kicks; // every kicker plane, in line order, horizontal before vertical
    // at the monitors read, the orbit less the offsets (without noise), m
    double rmsBeforeX = 0, rmsBeforeY = 0, rmsAfterX = 0, rmsAfterY = 0;
    double maxBeforeX = 0, maxBeforeY = 0, maxAfterX = 0, maxAfterY = 0;
    double kickRms = 0, kickMax = 0; // rad, of the kicks after, over every kicker plane
};

/// Corrects the orbit of state's line with its kickers by settings. A kick that would pass the limit is
/// held there (capped) and the later passes go on without it. The kicks are written into the kickers only
/// when every pass succeeded and every kick stays inside its range; otherwise nothing changes and
/// refusal says why ("no monitor named 'M9'", a kick out of range naming the kicker, ...).
OrbitCorrection correctOrbit(State& state, const OrbitCorrectionSettings& settings);

} // namespace kestrune

#pragma once

#include "core/Messages.h"
#include "core/State.h"

#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// One particle's transverse coordinates: x, y in mm, x', y' in mrad.
struct PhasePoint
{
    double x = 0, xp = 0, y = 0, yp = 0;
};

/// The phase plane shown; the aperture is tested in this plane.
enum class PhasePlane { X, Y };

/// Which tracker a request goes to: the linear maps model fewer kinds of elements.
enum class TrackingModel { LinearMaps, Symplectic };

/// What one tracking run is asked for, in the units of the window's boxes.
struct TrackingRequest
{
    PhasePoint start; // mm, mrad
    int turns = 1;
    bool offMomentum = false;
    double delta = 0; // momentum deviation as a fraction, used when offMomentum
    bool aperture = false;
    double apertureMm = 0; // half aperture, used when aperture
    PhasePlane plane = PhasePlane::X;
    TrackingModel model = TrackingModel::LinearMaps; // the symplectic runs set Symplectic
};

/// Coordinates (mm) beyond which a particle is lost in every case.
constexpr double kLossLimitMm = 500;

/// The map of one element for tracking, for one particle: the linear part (with the pole faces of a bend
/// and the off-momentum terms), and for a sextupole a thin kick at its centre between two half drifts.
struct TrackingElement
{
    double r11 = 1, r12 = 0, r21 = 0, r22 = 1; // horizontal block
    double dx = 0, dxp = 0;                    // mm, mrad: R16 delta, R26 delta
    double r33 = 1, r34 = 0, r43 = 0, r44 = 1; // vertical block
    bool sextupole = false;
    double halfLength = 0; // m, sextupole: drift to and from the centre
    double kick = 0;       // 1/mm, sextupole: m L / 1000
    double quadrupole = 0; // thin multipole at the centre: x' -= q x, y' += q y with q = knl[1] / (1 + delta)
};

/// The maps of one cell and how often the full ring takes it.
struct TrackingMaps
{
    std::vector<TrackingElement> cell; // elements 1..N of the beam line at index 0..N-1
    int superPeriods = 1;
};

/// Maps of the cell's elements for a particle of momentum deviation delta (fraction, 1 + delta > 0):
/// curvature and gradient divided by 1 + delta, the dispersive terms of bends given delta. Drift-family
/// elements are drifts; pumps and alpha magnets leave the particle alone. Depends only on the line and
/// delta.
TrackingMaps buildTrackingMaps(const BeamLine& line, double delta);

/// Largest |x| and |y| (mm) a particle may reach after an element.
struct LossLimits
{
    double x = kLossLimitMm;
    double y = kLossLimitMm;
};

/// Limits of a request: 500 mm, and the aperture in the shown plane when asked for.
LossLimits lossLimits(const TrackingRequest& request);

/// One turn through the full ring. Returns 0 when the particle survived, else the position in the full
/// ring (1 .. superPeriods N) of the element after which it was lost; the coordinates are then those there.
int trackTurn(const TrackingMaps& maps, const LossLimits& limits, PhasePoint& p);

/// One particle tracked turn by turn, in as many pieces as the caller likes.
class TrackingRun
{
public:
    /// Builds the maps once for the whole run.
    TrackingRun(const BeamLine& line, const TrackingRequest& request);

    /// Tracks up to turns further turns (never past the requested number), appending the coordinates
    /// after every turn survived to points; stops at a loss. Returns the number of points appended.
    int advance(int turns, std::vector<PhasePoint>& points);

    bool finished() const { return m_lost || m_turn >= m_turns; }
    bool lost() const { return m_lost; }
    /// Turns completed, or the turn in which the particle was lost.
    int turn() const { return m_turn; }
    /// Position in the full ring of the element after which the particle was lost (0 while it is not).
    int lostElement() const { return m_lostElement; }
    /// The coordinates now (at the loss when lost).
    const PhasePoint& particle() const { return m_particle; }

private:
    TrackingMaps m_maps;
    LossLimits m_limits;
    PhasePoint m_particle;
    int m_turns = 0;
    int m_turn = 0;
    bool m_lost = false;
    int m_lostElement = 0;
};

/// "the linear maps cannot track element 'O1' (4), an octupole: choose the symplectic model": the first
/// element of the line the linear maps have no model of (octupoles with a strength, thin multipoles with
/// a component above the sextupole); nothing when they model every one.
std::optional<std::string> linearMapsRefusal(const BeamLine& line);

/// Checks a request against the state before a run: for the linear maps a line the optics refuse
/// (lineOpticsRefusal) and linearMapsRefusal, for the symplectic model trackingRefusal, a beam line, at least
/// one superperiod and one turn, 1 + delta > 0, a positive aperture. False after the message.
bool checkTracking(const State& state, const TrackingRequest& request, Messages& messages);

/// Start coordinates (mm, mrad) from numbers of standard deviations, with the periodic betaX, betaY at
/// the cell start and the equilibrium emittances. Nothing, after a message, without a stable periodic
/// solution or without emittances.
std::optional<PhasePoint> sigmaStart(State& state, Messages& messages, const PhasePoint& sigmas);

/// "particle was lost during turn # t after element e (NAME)": e the position in the full ring, as the
/// batch tool's rows count it, and the name of that element of the cell.
std::string lostParticleText(const BeamLine& line, int turn, int element);

/// The end of a run: "particle was lost during turn # t after element e (NAME)" when it was lost, and the
/// final coordinates into the single-particle start values of state.run.
void finishTracking(State& state, Messages& messages, const TrackingRun& run);

/// The whole of a run as the batch tool and tests want it.
struct TrackingResult
{
    std::vector<PhasePoint> points; // one per turn survived
    bool lost = false;
    int turn = 0;        // turns completed, or the turn of the loss
    int lostElement = 0; // position in the full ring, 0 when not lost
    PhasePoint final;
};

/// checkTracking, the run in one piece and finishTracking. Nothing when the request was refused.
std::optional<TrackingResult> trackParticle(State& state, Messages& messages, const TrackingRequest& request);

} // namespace kestrune

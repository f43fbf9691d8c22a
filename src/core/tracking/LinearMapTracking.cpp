#include "core/tracking/LinearMapTracking.h"

#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/optics/BetaFunctions.h"
#include "core/optics/TransferMatrix.h"
#include "core/tracking/SymplecticLattice.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace kestrune {

namespace {

TrackingElement linearPart(const TransferMatrix& t, double delta)
{
    const auto& r = t.r;
    TrackingElement e;
    e.r11 = r[kX][kX];
    e.r12 = r[kX][kXp];
    e.r21 = r[kXp][kX];
    e.r22 = r[kXp][kXp];
    // metres and radians per unit delta into mm and mrad
    e.dx = r[kX][kDelta] * delta * 1000;
    e.dxp = r[kXp][kDelta] * delta * 1000;
    e.r33 = r[kY][kY];
    e.r34 = r[kY][kYp];
    e.r43 = r[kYp][kY];
    e.r44 = r[kYp][kYp];
    return e;
}

// e <- e * F for a thin pole face F with R21 = fx, R43 = fy (the face comes first)
void faceBefore(TrackingElement& e, double fx, double fy)
{
    e.r11 += e.r12 * fx;
    e.r21 += e.r22 * fx;
    e.r33 += e.r34 * fy;
    e.r43 += e.r44 * fy;
}

// e <- F * e (the face comes last)
void faceAfter(TrackingElement& e, double fx, double fy)
{
    e.r21 += fx * e.r11;
    e.r22 += fx * e.r12;
    e.dxp += fx * e.dx;
    e.r43 += fy * e.r33;
    e.r44 += fy * e.r34;
}

// A bend with the same pole faces (and fringe-field gap) as the optics gives it: rectangular and wedge
// magnets have faces, sector magnets none.
TrackingElement bendElement(const LatticeElement& b, double delta)
{
    const double scale = 1 / (1 + delta);
    const double h = b.curvature * scale;
    TransferMatrix t;
    magnetMatrix(t, b.code, h, b.k * scale, b.length);
    TrackingElement e = linearPart(t, delta);
    if (b.code == code::kRectangularBend || b.code == code::kWedgeBend) {
        edgeMatrix(t, h, b.ain, b.gap);
        faceBefore(e, t.r[kXp][kX], t.r[kYp][kY]);
        edgeMatrix(t, h, b.aout, b.gap);
        faceAfter(e, t.r[kXp][kX], t.r[kYp][kY]);
    }
    return e;
}

// A thin multipole of order up to 2 (linearMapsRefusal keeps the others out): the sextupole's thin kick
// with its quadrupole component, scaled with the momentum as the quadrupoles are, at the centre of its
// length. MAD-X's signs: px -= k1l x + k2l (x^2 - y^2) / 2, py += k1l y + k2l x y.
TrackingElement thinMultipole(const LatticeElement& el, double delta)
{
    TrackingElement e;
    e.sextupole = true;
    e.halfLength = el.length / 2;
    e.kick = (el.knl.size() > 2 ? el.knl[2] : 0) / 1000;
    e.quadrupole = (el.knl.size() > 1 ? el.knl[1] : 0) / (1 + delta);
    return e;
}

TrackingElement trackingElement(const LatticeElement& el, double delta)
{
    TransferMatrix t;
    switch (familyOf(el.code)) {
    case static_cast<int>(Family::Bend):
        return bendElement(el, delta);
    case static_cast<int>(Family::Quadrupole):
        magnetMatrix(t, el.code, 0, el.k / (1 + delta), el.length);
        return linearPart(t, delta);
    case static_cast<int>(Family::Sextupole): {
        TrackingElement e;
        e.sextupole = true;
        e.halfLength = el.length / 2;
        // sextupole strengths are not scaled with the momentum
        e.kick = el.m * el.length / 1000;
        return e;
    }
    case static_cast<int>(Family::Pump):
    case static_cast<int>(Family::AlphaMagnet):
        return TrackingElement{};
    case static_cast<int>(Family::Multipole):
        if (el.code == code::kThinMultipole)
            return thinMultipole(el, delta);
        driftMatrix(t, el.length);
        return linearPart(t, 0);
    default: // the drift family, and codes outside the families as the optics takes them
        driftMatrix(t, el.length);
        return linearPart(t, 0);
    }
}

} // namespace

TrackingMaps buildTrackingMaps(const BeamLine& line, double delta)
{
    TrackingMaps maps;
    maps.superPeriods = line.superPeriods;
    maps.cell.reserve(static_cast<std::size_t>(std::max(line.count, 0)));
    for (int i = 1; i <= line.count; ++i)
        maps.cell.push_back(trackingElement(line.at(i), delta));
    return maps;
}

LossLimits lossLimits(const TrackingRequest& request)
{
    LossLimits limits;
    if (request.aperture) {
        double& shown = request.plane == PhasePlane::X ? limits.x : limits.y;
        shown = std::min(shown, request.apertureMm);
    }
    return limits;
}

int trackTurn(const TrackingMaps& maps, const LossLimits& limits, PhasePoint& p)
{
    double x = p.x, xp = p.xp, y = p.y, yp = p.yp;
    const int n = static_cast<int>(maps.cell.size());
    const TrackingElement* const cell = maps.cell.data();
    int lostAt = 0;
    for (int c = 0; c < maps.superPeriods && lostAt == 0; ++c) {
        for (int i = 0; i < n; ++i) {
            const TrackingElement& e = cell[i];
            if (e.sextupole) {
                // thin kick at the centre, in mm and mrad
                x += xp * e.halfLength;
                y += yp * e.halfLength;
                xp -= 0.5 * e.kick * (x * x - y * y) + e.quadrupole * x;
                yp += e.kick * x * y + e.quadrupole * y;
                x += xp * e.halfLength;
                y += yp * e.halfLength;
            } else {
                const double x1 = e.r11 * x + e.r12 * xp + e.dx;
                xp = e.r21 * x + e.r22 * xp + e.dxp;
                x = x1;
                const double y1 = e.r33 * y + e.r34 * yp;
                yp = e.r43 * y + e.r44 * yp;
                y = y1;
            }
            // written so that a coordinate that is no number counts as lost too
            if (!(std::fabs(x) <= limits.x && std::fabs(y) <= limits.y)) {
                lostAt = c * n + i + 1;
                break;
            }
        }
    }
    p = {x, xp, y, yp};
    return lostAt;
}

TrackingRun::TrackingRun(const BeamLine& line, const TrackingRequest& request)
    : m_maps(buildTrackingMaps(line, request.offMomentum ? request.delta : 0)), m_limits(lossLimits(request)),
      m_particle(request.start), m_turns(request.turns)
{
}

int TrackingRun::advance(int turns, std::vector<PhasePoint>& points)
{
    int added = 0;
    while (added < turns && !finished()) {
        ++m_turn;
        const int at = trackTurn(m_maps, m_limits, m_particle);
        if (at != 0) {
            m_lost = true;
            m_lostElement = at;
            break;
        }
        points.push_back(m_particle);
        ++added;
    }
    return added;
}

std::optional<std::string> linearMapsRefusal(const BeamLine& line)
{
    for (int i = 1; i <= line.count; ++i) {
        const LatticeElement& e = line.at(i);
        std::string what;
        if (e.code == code::kOctupole && e.k3 != 0) {
            what = "an octupole";
        } else if (e.code == code::kThinMultipole) {
            for (std::size_t n = e.knl.size(); n > 3; --n)
                if (e.knl[n - 1] != 0) {
                    what = "a multipole of order " + std::to_string(n - 1);
                    break;
                }
            for (std::size_t n = e.ksl.size(); what.empty() && n > 2; --n)
                if (e.ksl[n - 1] != 0)
                    what = "a skew multipole of order " + std::to_string(n - 1);
        }
        if (!what.empty())
            return "the linear maps cannot track element '" + excerpt(e.name) + "' (" + std::to_string(i) +
                   "), " + what + ": choose the symplectic model";
    }
    return std::nullopt;
}

bool checkTracking(const State& state, const TrackingRequest& request, Messages& messages)
{
    // the linear maps are the uncoupled optics' on the design orbit; the symplectic model takes kicks,
    // rolls, skew gradients and solenoids
    std::optional<std::string> problem;
    if (request.model == TrackingModel::LinearMaps) {
        problem = lineOpticsRefusal(state.line);
        if (!problem)
            problem = linearMapsRefusal(state.line);
    } else {
        problem = trackingRefusal(state.line);
    }
    if (problem) {
        messages.error(*problem);
        return false;
    }
    if (state.line.count < 1)
        problem = "define a beam line first!";
    else if (state.line.superPeriods < 1)
        problem = "the number of superperiods must be at least 1!";
    else if (request.turns < 1)
        problem = "the number of turns must be at least 1!";
    else if (request.offMomentum && !(1 + request.delta > 0))
        problem = "the momentum deviation must be above -100 %!";
    else if (request.aperture && !(request.apertureMm > 0))
        problem = "the aperture must be larger than 0 mm!";
    else
        problem = rangeRefusal(ranges::kTrackingTurns, request.turns);
    if (!problem)
        return true;
    messages.error(*problem);
    return false;
}

std::optional<PhasePoint> sigmaStart(State& state, Messages& messages, const PhasePoint& sigmas)
{
    const double epsX = state.ringParams.emittanceX;
    const double epsY = state.ringParams.emittanceY;
    if (!(epsX > 0) || !(epsY >= 0) || !std::isfinite(epsX) || !std::isfinite(epsY)) {
        messages.error("no equilibrium emittances yet: update the beam parameters in the ring window first!");
        return std::nullopt;
    }
    if (!ringStart(state, messages, nullptr) || !state.run.periodicStable)
        return std::nullopt;
    const double betaX = state.lf.betaX;
    const double betaY = state.lf.betaY;
    PhasePoint p;
    p.x = std::sqrt(betaX * epsX) * sigmas.x * 1000;
    p.xp = std::sqrt(epsX / betaX) * sigmas.xp * 1000;
    p.y = std::sqrt(betaY * epsY) * sigmas.y * 1000;
    p.yp = std::sqrt(epsY / betaY) * sigmas.yp * 1000;
    return p;
}

std::string lostParticleText(const BeamLine& line, int turn, int element)
{
    std::string text = "particle was lost during turn # " + std::to_string(turn) + " after element " +
                       std::to_string(element);
    if (element >= 1 && line.count >= 1) {
        const std::string& name = line.at((element - 1) % line.count + 1).name;
        const auto first = name.find_first_not_of(' ');
        if (first != std::string::npos)
            text += " (" + name.substr(first, name.find_last_not_of(' ') - first + 1) + ")";
    }
    return text;
}

void finishTracking(State& state, Messages& messages, const TrackingRun& run)
{
    if (run.lost())
        messages.error(lostParticleText(state.line, run.turn(), run.lostElement()));
    const PhasePoint& p = run.particle();
    // a particle that left every number behind leaves the start values as they were
    if (!std::isfinite(p.x) || !std::isfinite(p.xp) || !std::isfinite(p.y) || !std::isfinite(p.yp))
        return;
    state.run.x0 = p.x;
    state.run.xp0 = p.xp;
    state.run.y0 = p.y;
    state.run.yp0 = p.yp;
}

std::optional<TrackingResult> trackParticle(State& state, Messages& messages, const TrackingRequest& request)
{
    if (!checkTracking(state, request, messages))
        return std::nullopt;
    TrackingRun run(state.line, request);
    TrackingResult result;
    result.points.reserve(static_cast<std::size_t>(std::min(request.turns, 1 << 20)));
    run.advance(request.turns, result.points);
    finishTracking(state, messages, run);
    result.lost = run.lost();
    result.turn = run.turn();
    result.lostElement = run.lostElement();
    result.final = run.particle();
    return result;
}

} // namespace kestrune

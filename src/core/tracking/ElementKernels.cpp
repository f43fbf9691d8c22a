#include "core/tracking/ElementKernels.h"

#include "core/Constants.h"

#include <cmath>
#include <cstring>
#include <type_traits>

namespace kestrune {

void ParticleBlock::add(const PhaseVector& p, int index)
{
    const int j = count++;
    x[j] = p.x;
    px[j] = p.px;
    y[j] = p.y;
    py[j] = p.py;
    delta[j] = p.delta;
    l[j] = p.l;
    rp[j] = 1 / (1 + p.delta);
    id[j] = index;
}

PhaseVector ParticleBlock::at(int j) const
{
    return {x[j], px[j], y[j], py[j], delta[j], l[j]};
}

namespace {

// Particles while they go through an element, one or two at a time: the flows below are those derived
// beside the element maps (SymplecticLattice.cpp), each the exact solution of its piece of the Hamiltonian
// for a "time" t. Two particles go as one vector of the compiler's vector extension (one SSE2 register),
// whose operations are those of the scalar code lane by lane: a particle's numbers do not depend on its
// neighbours, nor on whether it went alone.
using Lanes = double __attribute__((vector_size(2 * sizeof(double))));
constexpr int kLanes = 2;

template <typename T> struct Coordinates
{
    T x, px, y, py, delta, l, rp;
};

template <typename T> T load(const double* a)
{
    T v;
    std::memcpy(&v, a, sizeof(T));
    return v;
}

template <typename T> void store(double* a, const T& v)
{
    std::memcpy(a, &v, sizeof(T));
}

template <typename T, typename Step> void forGroup(ParticleBlock& b, int j, Step step)
{
    Coordinates<T> c{load<T>(b.x + j),     load<T>(b.px + j), load<T>(b.y + j), load<T>(b.py + j),
                     load<T>(b.delta + j), load<T>(b.l + j),  load<T>(b.rp + j)};
    step(c);
    store(b.x + j, c.x);
    store(b.px + j, c.px);
    store(b.y + j, c.y);
    store(b.py + j, c.py);
    store(b.l + j, c.l);
}

// step is a generic lambda, called with Coordinates<Lanes> and Coordinates<double>.
template <typename Step> void forEach(ParticleBlock& b, Step step)
{
    const int whole = b.count - b.count % kLanes;
    int j = 0;
    for (; j < whole; j += kLanes)
        forGroup<Lanes>(b, j, step);
    for (; j < b.count; ++j)
        forGroup<double>(b, j, step);
}

template <typename T> inline void linearFlow(const LinearFlow& f, Coordinates<T>& c)
{
    const T x = f.x.m11 * c.x + f.x.m12 * c.px;
    c.px = f.x.m21 * c.x + f.x.m22 * c.px;
    c.x = x;
    const T y = f.y.m11 * c.y + f.y.m12 * c.py;
    c.py = f.y.m21 * c.y + f.y.m22 * c.py;
    c.y = y;
}

// H = (px^2 + py^2) / (2 P): the expanded drift.
template <typename T> inline void drift(Coordinates<T>& c, double t)
{
    const T tp = t * c.rp;
    c.x += tp * c.px;
    c.y += tp * c.py;
    c.l += 0.5 * tp * c.rp * (c.px * c.px + c.py * c.py);
}

// H = (1/P - 1) (px^2 + py^2) / 2: what the drift of a particle of momentum P adds to the on-momentum one
// (1/P - 1 = -delta / P, written so as not to cancel).
template <typename T> inline void chromaticDrift(Coordinates<T>& c, double t)
{
    const T ct = -c.delta * c.rp * t;
    c.x += ct * c.px;
    c.y += ct * c.py;
    c.l += 0.5 * t * c.rp * c.rp * (c.px * c.px + c.py * c.py);
}

// H = (c + b x) px^2 / 2 with c = 1/P - 1, b = h / P.
template <typename T> inline void flowX(Coordinates<T>& c, double h, double t)
{
    const T b = h * c.rp;
    const T u0 = -c.delta * c.rp + b * c.x;
    const T px0 = c.px;
    const T q = 0.5 * b * px0 * t;
    c.x += u0 * px0 * t * (1.0 + 0.5 * q);
    c.px = px0 / (1.0 + q);
    c.l += 0.5 * t * px0 * (u0 * px0 + c.px) * c.rp;
}

// H = (c + b x) py^2 / 2.
template <typename T> inline void flowY(Coordinates<T>& c, double h, double t)
{
    const T b = h * c.rp;
    const T u = -c.delta * c.rp + b * c.x;
    const T py2 = c.py * c.py;
    c.px -= 0.5 * b * py2 * t;
    c.y += u * c.py * t;
    c.l += 0.5 * (1.0 + h * c.x) * py2 * t * c.rp * c.rp;
}

// H = -h x delta + h k x^3 / 3 - h k x y^2 / 2.
template <typename T> inline void bendKick(Coordinates<T>& c, double h, double hk, double t)
{
    c.px += t * (h * c.delta - hk * (c.x * c.x - 0.5 * c.y * c.y));
    c.py += t * hk * c.x * c.y;
    c.l += t * h * c.x;
}

// H = m (x^3 - 3 x y^2) / 6.
template <typename T> inline void sextupoleKick(Coordinates<T>& c, double m, double t)
{
    c.px -= 0.5 * m * t * (c.x * c.x - c.y * c.y);
    c.py += m * t * c.x * c.y;
}

// The flow of a x (x px - 2 y py) + b px y^2 + cubicX x^3 + cubicXY x y^2 for unit time, a and b given
// with their sign. Under the first term x / (1 - a x) and the conserved x px - 2 y py, y py and
// y / (x^2) give the closed form; the others are a shift and kicks.
template <typename T> inline void faceGenerator(double a, double b, const FaceMap& f, Coordinates<T>& c)
{
    const T u = 1.0 - a * c.x;
    const T x = c.x / u;
    c.px = c.px * u * u + 2 * a * c.y * c.py * u;
    c.y *= u * u;
    c.py /= u * u;
    c.x = x + b * c.y * c.y;
    c.py -= 2 * b * c.px * c.y;
    c.px -= 3 * f.cubicX * c.x * c.x + f.cubicXY * c.y * c.y;
    c.py -= 2 * f.cubicXY * c.x * c.y;
}

template <typename T> inline void faceEntrance(const FaceMap& f, Coordinates<T>& c)
{
    faceGenerator(f.a, f.b, f, c);
    c.px += f.r21 * c.x;
    c.py += f.r43 * c.y;
}

template <typename T> inline void faceExit(const FaceMap& f, Coordinates<T>& c)
{
    c.px += f.r21 * c.x;
    c.py += f.r43 * c.y;
    faceGenerator(-f.a, -f.b, f, c);
}

// The rest of the split of a bend (see SymplecticLattice.cpp), or of a quadrupole where it is the
// chromatic drift alone.
template <typename T> inline void bendRest(Coordinates<T>& c, double h, double hk, double t)
{
    bendKick(c, h, hk, t / 2);
    flowY(c, h, t / 2);
    flowX(c, h, t);
    flowY(c, h, t / 2);
    bendKick(c, h, hk, t / 2);
}

template <bool Curved> void magnet(const ElementMap& e, ParticleBlock& b)
{
    const double w1 = kYoshidaW1 * e.step;
    const double w0 = kYoshidaW0 * e.step;
    const double h = e.h;
    const double hk = e.h * e.k;
    const auto rest = [h, hk](auto& c, double t) {
        if (Curved)
            bendRest(c, h, hk, t);
        else
            chromaticDrift(c, t);
    };
    forEach(b, [&](auto& c) {
        if (e.entrance.present)
            faceEntrance(e.entrance, c);
        linearFlow(e.end, c);
        for (int s = 0; s < e.slices; ++s) {
            if (s > 0)
                linearFlow(e.join, c);
            rest(c, w1);
            linearFlow(e.inner, c);
            rest(c, w0);
            linearFlow(e.inner, c);
            rest(c, w1);
        }
        linearFlow(e.end, c);
        if (e.exit.present)
            faceExit(e.exit, c);
    });
}

void sextupole(const ElementMap& e, ParticleBlock& b)
{
    const double w1 = kYoshidaW1 * e.step;
    const double w0 = kYoshidaW0 * e.step;
    const double m = e.m;
    forEach(b, [&](auto& c) {
        drift(c, w1 / 2);
        for (int s = 0; s < e.slices; ++s) {
            if (s > 0)
                drift(c, w1);
            sextupoleKick(c, m, w1);
            drift(c, (w1 + w0) / 2);
            sextupoleKick(c, m, w0);
            drift(c, (w1 + w0) / 2);
            sextupoleKick(c, m, w1);
        }
        drift(c, w1 / 2);
    });
}

// The optics' map acts on the angles x' = px / P; the path length is not followed through it.
void matrix(const ElementMap& e, ParticleBlock& b)
{
    forEach(b, [&e](auto& c) {
        using T = std::remove_reference_t<decltype(c.x)>;
        const T in[4] = {c.x, c.px * c.rp, c.y, c.py * c.rp};
        T out[4];
        for (int row = 0; row < 4; ++row)
            out[row] = e.r[row][0] * in[0] + e.r[row][1] * in[1] + e.r[row][2] * in[2] + e.r[row][3] * in[3];
        const T p = 1.0 + c.delta;
        c.x = out[0] + e.r16 * c.delta;
        c.px = (out[1] + e.r26 * c.delta) * p;
        c.y = out[2];
        c.py = out[3] * p;
    });
}

void simpleDrift(const ElementMap& e, ParticleBlock& b)
{
    const double length = e.length;
    forEach(b, [length](auto& c) { drift(c, length); });
}

// Faces of elements that are no magnets of the tracker but have a curvature (the optics gives them edges).
void faces(const ElementMap& e, ParticleBlock& b, bool entrance)
{
    forEach(b, [&e, entrance](auto& c) {
        if (entrance)
            faceEntrance(e.entrance, c);
        else
            faceExit(e.exit, c);
    });
}

} // namespace

void pushElement(const ElementMap& e, ParticleBlock& block)
{
    const bool ownFaces = e.kind != StepKind::Magnet;
    if (ownFaces && e.entrance.present)
        faces(e, block, true);
    switch (e.kind) {
    case StepKind::Identity:
        break;
    case StepKind::Drift:
        simpleDrift(e, block);
        break;
    case StepKind::Magnet:
        if (e.h != 0)
            magnet<true>(e, block);
        else
            magnet<false>(e, block);
        break;
    case StepKind::Sextupole:
        sextupole(e, block);
        break;
    case StepKind::Matrix:
        matrix(e, block);
        break;
    }
    if (ownFaces && e.exit.present)
        faces(e, block, false);
}

// The longitudinal motion. With P = 1 + delta, energy e = sqrt(P^2 + mu^2) and speed beta = P / e (mu the
// rest energy over the reference cp), the coordinate conjugate to delta is l = v dt, v the particle's
// speed and dt its delay behind the reference particle: its Hamiltonian holds, besides the path length of
// the elements, the term delta - e(delta) / beta0, so that over the circumference C
//   l += C (1 - beta / beta0),
// a function of delta alone, solved exactly; 1 - beta / beta0 is written without cancellation as
// -mu^2 delta (2 + delta) / ((P sqrt(1 + mu^2) + e) e).
// The cavity: the particle arrives dt = l / v late, at the rf phase phi = phi_s + 2 pi h (beta0 / beta)
// l / C, and gains V sin(phi) - U0 with U0 = V sin(phi_s): the average loss is replaced, so that the
// synchronous particle keeps its energy (radiation damping is not part of the model). Across the thin
// cavity dt is kept: l scales with the new speed. The map is symplectic: it is the kick (dt, E) ->
// (dt, E + dE(dt)) in the canonical pair (t, -E), written in (l, delta).
void pushTurnEnd(const SymplecticLattice& lattice, ParticleBlock& b)
{
    const double mu2 = lattice.massRatio * lattice.massRatio;
    const double c = lattice.circumference;
    const double root1 = std::sqrt(1 + mu2);
    const RfCavity& rf = lattice.rf;
    const double phaseSlope = kTwoPi * rf.harmonic / c / root1; // beta0 = 1 / sqrt(1 + mu^2)
    const double kick = lattice.momentum > 0 ? rf.voltage / lattice.momentum : 0;
    const double loss = lattice.momentum > 0 ? rf.energyLoss / lattice.momentum : 0;
    for (int j = 0; j < b.count; ++j) {
        const double d = b.delta[j];
        const double p = 1 + d;
        const double e = std::sqrt(p * p + mu2);
        b.l[j] -= c * mu2 * d * (2 + d) / ((p * root1 + e) * e);
        if (!rf.on)
            continue;
        // beta0 / beta = e / (P sqrt(1 + mu^2))
        const double phi = rf.phase + phaseSlope * e / p * b.l[j];
        const double de = kick * std::sin(phi) - loss;
        const double e1 = e + de;
        const double p1sq = e1 * e1 - mu2;
        if (!(e1 > 0 && p1sq > 0)) { // the particle stopped: no number, lost at the next test
            b.x[j] = std::nan("");
            continue;
        }
        const double p1 = std::sqrt(p1sq);
        b.delta[j] = d + de * (2 * e + de) / (p1 + p);
        b.rp[j] = 1 / (1 + b.delta[j]);
        b.l[j] *= p1 * e / (e1 * p);
    }
}

} // namespace kestrune

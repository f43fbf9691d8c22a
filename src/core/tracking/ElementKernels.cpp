// The element kernels: how each kind of element of the symplectic model moves a block of particles.
//
// Every kernel is a template over the vector type V that holds one coordinate of several particles (the
// compiler's vector extension); the block goes through in groups of lanesOf<V> particles, the rest one
// at a time as plain doubles, with the same operations in the same order, so that a particle's numbers
// depend neither on its neighbours nor on the width. pushElementWith<V> switches on the element's
// StepKind; it is compiled once per instruction set (SSE2, the x86-64 baseline, AVX2 and AVX-512F, each
// flattened into its entry point with that target) and the widest one the processor has is chosen when
// the program starts. This file is compiled without contraction into fused multiply-adds
// (-ffp-contract=off), which the wider instruction sets would otherwise apply where the baseline cannot.
//
// A new kind of element is one more StepKind, its fields in ElementMap, a template
// `template <typename V> void kind(const ElementMap& e, ParticleBlock& b)` built on forEach<V> and the
// flows below, and one more case in pushElementWith: every width then has it.
#include "core/tracking/ElementKernels.h"

#include "core/Constants.h"

#include <atomic>
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

// Particles while they go through an element, a group at a time: the flows below are those derived
// beside the element maps (SymplecticLattice.cpp), each the exact solution of its piece of the
// Hamiltonian for a "time" t. A group is one vector of lanesOf<V> doubles, one register of the
// instruction set, whose operations are those of the scalar code lane by lane.
using Lanes2 = double __attribute__((vector_size(2 * sizeof(double))));
using Lanes4 = double __attribute__((vector_size(4 * sizeof(double))));
using Lanes8 = double __attribute__((vector_size(8 * sizeof(double))));

template <typename V> constexpr int lanesOf = static_cast<int>(sizeof(V) / sizeof(double));

template <typename T> struct Coordinates
{
    T x, px, y, py, delta, l, rp;
};

template <typename T> inline void load(T& v, const double* a)
{
    std::memcpy(&v, a, sizeof(T));
}

template <typename T> inline void store(double* a, const T& v)
{
    std::memcpy(a, &v, sizeof(T));
}

template <typename T, typename Step> inline void forGroup(ParticleBlock& b, int j, Step step)
{
    Coordinates<T> c;
    load(c.x, b.x + j);
    load(c.px, b.px + j);
    load(c.y, b.y + j);
    load(c.py, b.py + j);
    load(c.delta, b.delta + j);
    load(c.l, b.l + j);
    load(c.rp, b.rp + j);
    step(c);
    store(b.x + j, c.x);
    store(b.px + j, c.px);
    store(b.y + j, c.y);
    store(b.py + j, c.py);
    store(b.l + j, c.l);
}

// step is a generic lambda, called with Coordinates<V> and Coordinates<double>.
template <typename V, typename Step> inline void forEach(ParticleBlock& b, Step step)
{
    constexpr int lanes = lanesOf<V>;
    const int whole = b.count - b.count % lanes;
    int j = 0;
    for (; j < whole; j += lanes)
        forGroup<V>(b, j, step);
    for (; j < b.count; ++j)
        forGroup<double>(b, j, step);
}

template <bool Curved, typename T> inline void linearFlow(const LinearFlow& f, Coordinates<T>& c)
{
    if (Curved) {
        c.l += f.l1 * c.x + f.l2 * c.px + f.l6 * c.delta;
        const T x = f.x.m11 * c.x + f.x.m12 * c.px + f.d1 * c.delta;
        c.px = f.x.m21 * c.x + f.x.m22 * c.px + f.d2 * c.delta;
        c.x = x;
    } else {
        const T x = f.x.m11 * c.x + f.x.m12 * c.px;
        c.px = f.x.m21 * c.x + f.x.m22 * c.px;
        c.x = x;
    }
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

// H = h k x^3 / 3 - h k x y^2 / 2.
template <typename T> inline void bendKick(Coordinates<T>& c, double hk, double t)
{
    c.px -= t * hk * (c.x * c.x - 0.5 * c.y * c.y);
    c.py += t * hk * c.x * c.y;
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
    bendKick(c, hk, t / 2);
    flowY(c, h, t / 2);
    flowX(c, h, t);
    flowY(c, h, t / 2);
    bendKick(c, hk, t / 2);
}

template <bool Curved, typename V> inline void magnet(const ElementMap& e, ParticleBlock& b)
{
    const double d1 = kGaussD1 * e.step;
    const double d2 = kGaussD2 * e.step;
    const double h = e.h;
    const double hk = e.h * e.k;
    const auto rest = [h, hk](auto& c, double t) {
        if (Curved)
            bendRest(c, h, hk, t);
        else
            chromaticDrift(c, t);
    };
    forEach<V>(b, [&](auto& c) {
        if (e.entrance.present)
            faceEntrance(e.entrance, c);
        linearFlow<Curved>(e.end, c);
        for (int s = 0; s < e.slices; ++s) {
            if (s > 0)
                linearFlow<Curved>(e.join, c);
            rest(c, d1);
            linearFlow<Curved>(e.inner, c);
            rest(c, d2);
            linearFlow<Curved>(e.inner, c);
            rest(c, d1);
        }
        linearFlow<Curved>(e.end, c);
        if (e.exit.present)
            faceExit(e.exit, c);
    });
}

// Yoshida's fourth-order composition of drift and kick over each step of a sextupole or octupole, the
// kick(c, t) of the magnet over the length t.
template <typename V, typename Kick>
inline void driftKickSteps(const ElementMap& e, ParticleBlock& b, Kick kick)
{
    const double w1 = kYoshidaW1 * e.step;
    const double w0 = kYoshidaW0 * e.step;
    forEach<V>(b, [&](auto& c) {
        drift(c, w1 / 2);
        for (int s = 0; s < e.slices; ++s) {
            if (s > 0)
                drift(c, w1);
            kick(c, w1);
            drift(c, (w1 + w0) / 2);
            kick(c, w0);
            drift(c, (w1 + w0) / 2);
            kick(c, w1);
        }
        drift(c, w1 / 2);
    });
}

template <typename V> inline void sextupole(const ElementMap& e, ParticleBlock& b)
{
    const double m = e.m;
    driftKickSteps<V>(e, b, [m](auto& c, double t) { sextupoleKick(c, m, t); });
}

// H = k3 (x^4 - 6 x^2 y^2 + y^4) / 24.
template <typename T> inline void octupoleKick(Coordinates<T>& c, double k3, double t)
{
    const T x2 = c.x * c.x;
    const T y2 = c.y * c.y;
    c.px -= (k3 * t / 6) * c.x * (x2 - 3.0 * y2);
    c.py += (k3 * t / 6) * c.y * (3.0 * x2 - y2);
}

template <typename V> inline void octupole(const ElementMap& e, ParticleBlock& b)
{
    const double k3 = e.m;
    driftKickSteps<V>(e, b, [k3](auto& c, double t) { octupoleKick(c, k3, t); });
}

// The thin multipole's kick px - i py += -S, S = sum_n (knl[n] + i ksl[n]) z^n / n!, z = x + i y, by
// Horner's scheme with the factorials folded in: S_N = c_N, S_n = c_n + z S_(n+1) / (n + 1), S = S_0.
template <typename V> inline void thinMultipole(const ElementMap& e, ParticleBlock& b)
{
    const int orders = static_cast<int>(e.knl.size());
    const double* kn = e.knl.data();
    const double* ks = e.ksl.data();
    const double half = e.length / 2;
    forEach<V>(b, [&](auto& c) {
        using T = std::remove_reference_t<decltype(c.x)>;
        if (half != 0)
            drift(c, half);
        if (orders > 0) {
            T re = T{} + kn[orders - 1];
            T im = T{} + ks[orders - 1];
            for (int n = orders - 2; n >= 0; --n) {
                const double f = 1.0 / (n + 1);
                const T r = (re * c.x - im * c.y) * f + kn[n];
                im = (re * c.y + im * c.x) * f + ks[n];
                re = r;
            }
            c.px -= re;
            c.py += im;
        }
        if (half != 0)
            drift(c, half);
    });
}

template <typename V> inline void kicker(const ElementMap& e, ParticleBlock& b)
{
    const double half = e.length / 2;
    const double kx = e.kickX;
    const double ky = e.kickY;
    forEach<V>(b, [&](auto& c) {
        drift(c, half);
        c.px += kx;
        c.py += ky;
        drift(c, half);
    });
}

// The lag over distance (m) of pushTurnEnd, l -= distance mu^2 delta (2 + delta) / ((P sqrt(1 + mu^2) + e)
// e).
inline void slipOver(ParticleBlock& b, int j, double distance, double mu2, double root1)
{
    const double d = b.delta[j];
    const double p = 1 + d;
    const double e = std::sqrt(p * p + mu2);
    b.l[j] -= distance * mu2 * d * (2 + d) / ((p * root1 + e) * e);
}

// The kick of the rf window's cavity (pushTurnEnd) at the cavity's centre with its own voltage and phase,
// the lag taken up to here first: one particle at a time (square roots and sines).
void cavityKick(const CavityKick& k, ParticleBlock& b)
{
    const double mu2 = k.massRatio2;
    const double root1 = std::sqrt(1 + mu2);
    const double loss = k.kick * std::sin(k.phase);
    for (int j = 0; j < b.count; ++j) {
        slipOver(b, j, k.slip, mu2, root1);
        const double d = b.delta[j];
        const double p = 1 + d;
        const double e = std::sqrt(p * p + mu2);
        const double de = k.kick * std::sin(k.phase + k.phaseSlope * e / p * b.l[j]) - loss;
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

template <typename V> inline void cavity(const ElementMap& e, ParticleBlock& b)
{
    const double half = e.length / 2;
    if (half != 0)
        forEach<V>(b, [half](auto& c) { drift(c, half); });
    cavityKick(e.cavity, b);
    if (half != 0)
        forEach<V>(b, [half](auto& c) { drift(c, half); });
}

// The solenoid's exact flow (see solenoidMap in SymplecticLattice.cpp), one particle at a time (sines):
// with theta = w L, w = ks / P, the kinetic momenta turn by -theta and the position moves by
// pi (1 - exp(-i theta)) / (i w P) = pi (sin(theta) - 2 i sin^2(theta / 2)) / (w P); 1 - cos theta is
// written as 2 sin^2(theta / 2) so as not to cancel.
void solenoid(const ElementMap& e, ParticleBlock& b)
{
    const double k = e.ks / 2;
    const double length = e.length;
    for (int j = 0; j < b.count; ++j) {
        const double rp = b.rp[j];
        const double x = b.x[j], y = b.y[j];
        const double pix = b.px[j] + k * y;
        const double piy = b.py[j] - k * x;
        const double w = e.ks * rp;
        const double theta = w * length;
        const double c = std::cos(theta);
        const double s = std::sin(theta);
        const double half = std::sin(theta / 2);
        const double sine = s / w * rp;                  // sin(theta) / (w P)
        const double versine = 2 * half * half / w * rp; // (1 - cos(theta)) / (w P)
        const double x1 = x + pix * sine + piy * versine;
        const double y1 = y + piy * sine - pix * versine;
        b.x[j] = x1;
        b.y[j] = y1;
        b.px[j] = pix * c + piy * s - k * y1;
        b.py[j] = piy * c - pix * s + k * x1;
        b.l[j] += 0.5 * length * rp * rp * (pix * pix + piy * piy);
    }
}

// Into the frame of an element rolled by a (cosine, sine), or with sine of the other sign out of it.
template <typename T> inline void roll(Coordinates<T>& c, double cosine, double sine)
{
    const T x = cosine * c.x + sine * c.y;
    c.y = cosine * c.y - sine * c.x;
    c.x = x;
    const T px = cosine * c.px + sine * c.py;
    c.py = cosine * c.py - sine * c.px;
    c.px = px;
}

// The optics' map acts on the angles x' = px / P; the path length is not followed through it.
template <typename V> inline void matrix(const ElementMap& e, ParticleBlock& b)
{
    forEach<V>(b, [&e](auto& c) {
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

template <typename V> inline void simpleDrift(const ElementMap& e, ParticleBlock& b)
{
    const double length = e.length;
    forEach<V>(b, [length](auto& c) { drift(c, length); });
}

// Faces of elements that are no magnets of the tracker but have a curvature (the optics gives them edges).
template <typename V> inline void faces(const ElementMap& e, ParticleBlock& b, bool entrance)
{
    forEach<V>(b, [&e, entrance](auto& c) {
        if (entrance)
            faceEntrance(e.entrance, c);
        else
            faceExit(e.exit, c);
    });
}

// A change of frame (into or out of a misaligned element): the affine map of FrameChange.
template <typename V> inline void frameChange(const FrameChange& f, ParticleBlock& b)
{
    forEach<V>(b, [&f](auto& c) {
        using T = std::remove_reference_t<decltype(c.x)>;
        const T in[4] = {c.x, c.px, c.y, c.py};
        T out[4];
        for (int row = 0; row < 4; ++row)
            out[row] = f.m[row][0] * in[0] + f.m[row][1] * in[1] + f.m[row][2] * in[2] + f.m[row][3] * in[3] +
                       f.d[row] * c.delta + f.c[row];
        c.l += f.lz[0] * in[0] + f.lz[1] * in[1] + f.lz[2] * in[2] + f.lz[3] * in[3] + f.lc;
        c.x = out[0];
        c.px = out[1];
        c.y = out[2];
        c.py = out[3];
    });
}

// An element with errors: into its frame, its body piece by piece (each at the kernels' width), out again.
template <typename V> inline void pushWithErrors(const ElementErrorMaps& errors, ParticleBlock& block)
{
    if (errors.misaligned)
        frameChange<V>(errors.entry, block);
    for (const ElementMap& piece : errors.body)
        pushElement(piece, block);
    if (errors.misaligned)
        frameChange<V>(errors.exit, block);
}

template <typename V> inline void pushElementWith(const ElementMap& e, ParticleBlock& block)
{
    if (e.errors) {
        pushWithErrors<V>(*e.errors, block);
        return;
    }
    const bool ownFaces = e.kind != StepKind::Magnet;
    if (e.rolled)
        forEach<V>(block, [&e](auto& c) { roll(c, e.rollCos, e.rollSin); });
    if (ownFaces && e.entrance.present)
        faces<V>(e, block, true);
    switch (e.kind) {
    case StepKind::Identity:
        break;
    case StepKind::Drift:
        simpleDrift<V>(e, block);
        break;
    case StepKind::Magnet:
        if (e.h != 0)
            magnet<true, V>(e, block);
        else
            magnet<false, V>(e, block);
        break;
    case StepKind::Sextupole:
        sextupole<V>(e, block);
        break;
    case StepKind::Matrix:
        matrix<V>(e, block);
        break;
    case StepKind::ThinMultipole:
        thinMultipole<V>(e, block);
        break;
    case StepKind::Octupole:
        octupole<V>(e, block);
        break;
    case StepKind::Kicker:
        kicker<V>(e, block);
        break;
    case StepKind::Cavity:
        cavity<V>(e, block);
        break;
    case StepKind::Solenoid:
        solenoid(e, block);
        break;
    }
    if (ownFaces && e.exit.present)
        faces<V>(e, block, false);
    if (e.rolled)
        forEach<V>(block, [&e](auto& c) { roll(c, e.rollCos, -e.rollSin); });
}

using Kernel = void (*)(const ElementMap&, ParticleBlock&);

__attribute__((flatten)) void pushSse2(const ElementMap& e, ParticleBlock& b)
{
    pushElementWith<Lanes2>(e, b);
}

__attribute__((target("avx2"), flatten)) void pushAvx2(const ElementMap& e, ParticleBlock& b)
{
    pushElementWith<Lanes4>(e, b);
}

__attribute__((target("avx512f"), flatten)) void pushAvx512(const ElementMap& e, ParticleBlock& b)
{
    pushElementWith<Lanes8>(e, b);
}

struct KernelSet
{
    const char* name;
    bool (*present)();
    Kernel push;
};

const KernelSet kKernelSets[] = {
    {"sse2", [] { return true; }, pushSse2},
    {"avx2", [] { return __builtin_cpu_supports("avx2") != 0; }, pushAvx2},
    {"avx512f", [] { return __builtin_cpu_supports("avx512f") != 0; }, pushAvx512},
};

Kernel widestKernel()
{
    __builtin_cpu_init(); // this runs among the static initialisers
    Kernel widest = pushSse2;
    for (const KernelSet& k : kKernelSets)
        if (k.present())
            widest = k.push;
    return widest;
}

std::atomic<Kernel> g_kernel{widestKernel()};

} // namespace

std::vector<std::string> kernelInstructionSets()
{
    std::vector<std::string> sets;
    for (const KernelSet& k : kKernelSets)
        if (k.present())
            sets.emplace_back(k.name);
    return sets;
}

std::string kernelInstructionSet()
{
    const Kernel now = g_kernel.load(std::memory_order_relaxed);
    for (const KernelSet& k : kKernelSets)
        if (k.push == now)
            return k.name;
    return {};
}

bool useKernelInstructionSet(const std::string& name)
{
    for (const KernelSet& k : kKernelSets)
        if (name == k.name && k.present()) {
            g_kernel.store(k.push, std::memory_order_relaxed);
            return true;
        }
    return false;
}

void pushElement(const ElementMap& e, ParticleBlock& block)
{
    g_kernel.load(std::memory_order_relaxed)(e, block);
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
    // the cavities of the cell kick at their places; the lag went with them (pushCellEnd)
    if (lattice.cavityElements)
        return;
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

void pushCellEnd(const SymplecticLattice& lattice, ParticleBlock& b)
{
    const double mu2 = lattice.massRatio * lattice.massRatio;
    const double root1 = std::sqrt(1 + mu2);
    for (int j = 0; j < b.count; ++j)
        slipOver(b, j, lattice.cellSlip, mu2, root1);
}

} // namespace kestrune

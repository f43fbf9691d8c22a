#include "core/Design.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace kestrune {

bool sameValue(double a, double b)
{
    // bit for bit: -0 differs from 0, and a NaN equals the same NaN
    std::uint64_t x = 0;
    std::uint64_t y = 0;
    std::memcpy(&x, &a, sizeof a);
    std::memcpy(&y, &b, sizeof b);
    return x == y;
}

namespace {

// A stamp of values: the same values give the same stamp on every run, and a change of any one value
// always changes it. Each 64-bit word goes into one of four lanes in turn, h <- ((h ^ w) P) ^ (.. >> 29):
// for a fixed h the step is a bijection of w (xor, an odd multiplier mod 2^64 and a right xorshift are
// invertible) and for a fixed w one of h, so a changed word changes its lane from there on and the final
// combination. Four lanes keep four multiplications in flight: the stamp of a line of 10^5 elements is a
// small part of a pass over it.
class Stamp
{
public:
    void add(const void* data, std::size_t size)
    {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < size; i += 8) {
            std::uint64_t w = 0;
            std::memcpy(&w, bytes + i, std::min<std::size_t>(8, size - i));
            addWord(w);
        }
    }
    void add(double x)
    {
        std::uint64_t w = 0;
        std::memcpy(&w, &x, sizeof x);
        addWord(w);
    }
    void add(int x) { addWord(static_cast<std::uint64_t>(static_cast<std::uint32_t>(x)) | (1ULL << 32)); }
    void add(bool x) { add(static_cast<int>(x)); }
    void add(const std::string& text)
    {
        add(static_cast<int>(text.size()));
        add(text.data(), text.size());
    }
    void add(const std::vector<double>& values)
    {
        add(static_cast<int>(values.size()));
        for (double v : values)
            add(v);
    }
    std::uint64_t value() const
    {
        std::uint64_t h = m_lanes[0];
        for (int k = 1; k < 4; ++k)
            h = mixed(h, m_lanes[k]);
        return mixed(h, m_count);
    }

private:
    static std::uint64_t mixed(std::uint64_t h, std::uint64_t w)
    {
        h = (h ^ w) * 0x100000001b3ULL;
        return h ^ (h >> 29);
    }
    void addWord(std::uint64_t w)
    {
        std::uint64_t& h = m_lanes[m_count++ & 3];
        h = mixed(h, w);
    }

    std::uint64_t m_lanes[4] = {0xcbf29ce484222325ULL, 0x84222325cbf29ce4ULL, 0x9e3779b97f4a7c15ULL,
                                0xbf58476d1ce4e5b9ULL};
    std::uint64_t m_count = 0;
};

} // namespace

namespace {

Stamp latticeFingerprint(const State& state)
{
    Stamp stamp;
    const BeamLine& line = state.line;
    stamp.add(line.count);
    stamp.add(line.superPeriods);
    stamp.add(state.ringElementCount);
    stamp.add(state.ringClosed);
    const int last = std::max(line.count, std::min(state.ringElementCount, line.slotCount()));
    // the stamp of a long line waits on its records coming from memory: the record a few places ahead is
    // asked for while this one is read (a hint, which changes no value)
    constexpr int kAhead = 8;
    for (int i = 1; i <= last; ++i) {
        if (i + kAhead <= last) {
            const char* ahead = reinterpret_cast<const char*>(&line.at(i + kAhead));
            for (std::size_t byte = 0; byte < sizeof(LatticeElement); byte += 64)
                __builtin_prefetch(ahead + byte);
        }
        const LatticeElement& e = line.at(i);
        stamp.add(e.name);
        stamp.add(e.code);
        for (double x :
             {e.s,          e.length,    e.curvature,  e.ain,        e.aout,     e.gap,      e.k,
              e.linacField, e.pumpSpeed, e.electrodes, e.energyGain, e.k1s,      e.ks,       e.tilt,
              e.hkick,      e.vkick,     e.voltage,    e.lag,        e.harmonic, e.frequency})
            stamp.add(x);
        // a thin multipole's quadrupole component is linear optics, its sextupole one is not: all of it here
        if (!e.knl.empty() || !e.ksl.empty()) {
            stamp.add(e.knl);
            stamp.add(e.ksl);
        }
        // the errors move the closed orbit and change the optics about it; a line without them keeps the
        // stamp it had before elements carried errors (the fingerprints of stored scan parts)
        const ElementErrors& r = e.errors;
        if (r.any()) {
            for (double x : {r.dx, r.dy, r.ds, r.dtheta, r.dphi, r.dpsi})
                stamp.add(x);
            stamp.add(r.dkn);
            stamp.add(r.dks);
        }
    }
    return stamp;
}

} // namespace

std::uint64_t latticeStamp(const State& state)
{
    return latticeFingerprint(state).value();
}

std::uint64_t sextupoleStamp(const State& state)
{
    Stamp stamp;
    const BeamLine& line = state.line;
    const int last = std::max(line.count, std::min(state.ringElementCount, line.slotCount()));
    for (int i = 1; i <= last; ++i) {
        // what only the tracker sees: sextupoles, octupoles, the thin multipoles and the elements' apertures
        const LatticeElement& e = line.at(i);
        stamp.add(e.m);
        stamp.add(e.k3);
        if (!e.knl.empty() || !e.ksl.empty()) {
            stamp.add(e.knl);
            stamp.add(e.ksl);
        }
        if (e.aperture.type != ApertureType::None) {
            stamp.add(static_cast<int>(e.aperture.type));
            for (double x : {e.aperture.a[0], e.aperture.a[1], e.aperture.a[2], e.aperture.a[3],
                             e.aperture.dx, e.aperture.dy})
                stamp.add(x);
        }
    }
    return stamp.value();
}

std::uint64_t designStamp(const State& state)
{
    Stamp stamp = latticeFingerprint(state);
    const BeamParameters& beam = state.beam;
    stamp.add(beam.name);
    stamp.add(beam.charge);
    stamp.add(beam.restEnergy);
    stamp.add(beam.momentum);
    stamp.add(state.beamCurrent);
    return stamp.value();
}

std::uint64_t rfStamp(const State& state)
{
    Stamp stamp;
    const std::uint64_t design = designStamp(state);
    stamp.add(&design, sizeof design);
    for (double x : {state.rf.frequency, state.rf.voltage, state.ringParams.additionalLoss})
        stamp.add(x);
    return stamp.value();
}

std::uint64_t rfBudgetStamp(const State& state)
{
    Stamp stamp;
    const std::uint64_t rf = rfStamp(state);
    stamp.add(&rf, sizeof rf);
    stamp.add(state.rf.power);
    stamp.add(state.rf.miscLoss);
    stamp.add(state.rf.cavities);
    return stamp.value();
}

bool sameValue(int a, int b)
{
    return a == b;
}

bool sameValue(bool a, bool b)
{
    return a == b;
}

bool sameValue(const std::string& a, const std::string& b)
{
    return a == b;
}

namespace {

bool sameErrors(const ElementErrors& a, const ElementErrors& b)
{
    return sameValue(a.dx, b.dx) && sameValue(a.dy, b.dy) && sameValue(a.ds, b.ds) &&
           sameValue(a.dtheta, b.dtheta) && sameValue(a.dphi, b.dphi) && sameValue(a.dpsi, b.dpsi) &&
           sameValues(a.dkn, b.dkn) && sameValues(a.dks, b.dks);
}

} // namespace

bool sameValue(const LatticeElement& a, const LatticeElement& b)
{
    return a.code == b.code && sameValue(a.s, b.s) && sameValue(a.length, b.length) &&
           sameValue(a.curvature, b.curvature) && sameValue(a.ain, b.ain) && sameValue(a.aout, b.aout) &&
           sameValue(a.gap, b.gap) && sameValue(a.k, b.k) && sameValue(a.m, b.m) &&
           sameValue(a.linacField, b.linacField) && sameValue(a.pumpSpeed, b.pumpSpeed) &&
           sameValue(a.electrodes, b.electrodes) && sameValue(a.energyGain, b.energyGain) &&
           a.name == b.name && sameValues(a.knl, b.knl) && sameValues(a.ksl, b.ksl) &&
           sameValue(a.k3, b.k3) && sameValue(a.k1s, b.k1s) && sameValue(a.ks, b.ks) &&
           sameValue(a.tilt, b.tilt) && sameValue(a.hkick, b.hkick) && sameValue(a.vkick, b.vkick) &&
           sameValue(a.voltage, b.voltage) && sameValue(a.lag, b.lag) && sameValue(a.harmonic, b.harmonic) &&
           sameValue(a.frequency, b.frequency) && sameValue(a.aperture, b.aperture) &&
           sameErrors(a.errors, b.errors);
}

bool sameValue(const ElementAperture& a, const ElementAperture& b)
{
    return a.type == b.type && sameValue(a.a[0], b.a[0]) && sameValue(a.a[1], b.a[1]) &&
           sameValue(a.a[2], b.a[2]) && sameValue(a.a[3], b.a[3]) && sameValue(a.dx, b.dx) &&
           sameValue(a.dy, b.dy);
}

bool sameValues(const std::vector<double>& a, const std::vector<double>& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](double x, double y) { return sameValue(x, y); });
}

bool sameValue(const ElementShape& a, const ElementShape& b)
{
    return sameValue(a.x0, b.x0) && sameValue(a.x1, b.x1) && sameValue(a.y0, b.y0) && sameValue(a.y1, b.y1) &&
           a.colour == b.colour && a.style == b.style && a.title == b.title;
}

bool sameValue(const DrawingBox& a, const DrawingBox& b)
{
    return sameValue(a.x0, b.x0) && sameValue(a.x1, b.x1) && sameValue(a.y0, b.y0) && sameValue(a.y1, b.y1);
}

namespace {

// Slots up to the last one that is not fresh.
template <class T, class Get> std::vector<T> usedSlots(int first, int last, const Get& get)
{
    const T fresh{};
    int used = first - 1;
    for (int i = last; i >= first; --i)
        if (!sameValue(get(i), fresh)) {
            used = i;
            break;
        }
    std::vector<T> slots;
    slots.reserve(static_cast<std::size_t>(used - first) + 1);
    for (int i = first; i <= used; ++i)
        slots.push_back(get(i));
    return slots;
}

// The first index where a and b differ, the slots beyond the shorter one taken as fresh; -1 for none.
template <class T> long firstDifference(const std::vector<T>& a, const std::vector<T>& b)
{
    const T fresh{};
    const std::size_t n = std::max(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const T& x = i < a.size() ? a[i] : fresh;
        const T& y = i < b.size() ? b[i] : fresh;
        if (!sameValue(x, y))
            return static_cast<long>(i);
    }
    return -1;
}

} // namespace

DesignCopy designCopy(const State& state)
{
    DesignCopy copy;
    const BeamLine& line = state.line;
    copy.elements = usedSlots<LatticeElement>(1, line.slotCount(),
                                              [&](int i) -> const LatticeElement& { return line.at(i); });
    copy.shapes = usedSlots<ElementShape>(1, line.slotCount(),
                                          [&](int i) -> const ElementShape& { return line.shape(i); });
    copy.boxes = usedSlots<DrawingBox>(
        0, static_cast<int>(state.fileBoxes.size()) - 1,
        [&](int i) -> const DrawingBox& { return state.fileBoxes[static_cast<std::size_t>(i)]; });
    zipDesignFields(state, copy.scalars, [](int, const char*, const auto& a, auto& b) { b = a; });
    return copy;
}

std::string designDifference(const DesignCopy& a, const DesignCopy& b)
{
    if (const long i = firstDifference(a.elements, b.elements); i >= 0)
        return "element " + std::to_string(i + 1);
    if (const long i = firstDifference(a.shapes, b.shapes); i >= 0)
        return "shape " + std::to_string(i + 1);
    if (const long i = firstDifference(a.boxes, b.boxes); i >= 0)
        return "drawing box " + std::to_string(i);
    std::string difference;
    zipDesignFields(a.scalars, b.scalars, [&](int, const char* name, const auto& x, const auto& y) {
        if (difference.empty() && !sameValue(x, y))
            difference = name;
    });
    return difference;
}

std::string designDifference(const State& a, const State& b)
{
    return designDifference(designCopy(a), designCopy(b));
}

} // namespace kestrune

#include "core/State.h"

#include <cstring>

namespace kestrune {

State::State() : fileBoxes(1), electron(electronRadiationConstants())
{
    history.reset(*this);
}

namespace {

// FNV-1a over the bytes of the values
class Fingerprint
{
public:
    template <typename T> void add(const T& value)
    {
        unsigned char bytes[sizeof(T)];
        std::memcpy(bytes, &value, sizeof(T));
        for (unsigned char b : bytes)
            m_hash = (m_hash ^ b) * 1099511628211ULL;
    }
    std::uint64_t value() const { return m_hash; }

private:
    std::uint64_t m_hash = 14695981039346656037ULL;
};

} // namespace

std::uint64_t trackingFingerprint(const State& state)
{
    Fingerprint f;
    f.add(state.line.count);
    f.add(state.line.superPeriods);
    for (int i = 1; i <= state.line.count; ++i) {
        const LatticeElement& e = state.line.at(i);
        f.add(e.code);
        for (double v : {e.length, e.curvature, e.ain, e.aout, e.gap, e.k, e.m, e.linacField, e.electrodes,
                         e.energyGain})
            f.add(v);
    }
    f.add(state.beam.restEnergy);
    f.add(state.beam.momentum);
    f.add(state.rf.voltage);
    f.add(state.rf.frequency);
    return f.value();
}

} // namespace kestrune

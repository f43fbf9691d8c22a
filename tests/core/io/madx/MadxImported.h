#pragma once

#include "core/Kinematics.h"
#include "core/io/madx/MadxReader.h"
#include "support/FakeMessages.h"

#include <memory>
#include <string>

namespace kestrune::test {

/// A MAD-X text read into a fresh state with the electron at its start momentum.
struct Imported
{
    State state;
    FakeMessages messages;
    MadxImportSummary summary;
    bool ok = false;
};

/// One element of every MAD-X class the import keeps, with every field it reads.
inline const char* const kEveryKind =
    "bpm: monitor, l=0.1; h: hmonitor; v: vmonitor, l=0.05; k: hkicker, l=0.2, kick=1e-3;\n"
    "kv: vkicker, kick=-2e-4, tilt=0.1; kt: tkicker, hkick=1e-5, vkick=2e-5; ins: instrument, l=0.3;\n"
    "cav: rfcavity, l=0.5, volt=-1.5, harmon=400, lag=0.25; cf: rfcavity, volt=0.2, freq=352.2;\n"
    "col: rcollimator, l=0.3, apertype=rectangle, aperture={0.03, 0.02}; ph: placeholder;\n"
    "m: marker, apertype=rectcircle, aperture={0.03, 0.02, 0.025}, aper_offset={1e-3, -2e-3};\n"
    "oct: octupole, l=0, k3=100; q0: quadrupole, l=0, k1=2; o: octupole, l=0.2, k3=-50;\n"
    "mp: multipole, knl={0, 0.5, 0, 12}, ksl={0, 0, 0.1};\n"
    "sol: solenoid, l=1, ks=0.3, apertype=ellipse, aperture={0.05, 0.04};\n"
    "qs: quadrupole, l=0.4, k1=1, k1s=0.05, tilt=0.01, aperture={0.04};\n"
    "bl: line=(bpm, h, v, k, kv, kt, ins, cav, cf, col, ph, m, oct, q0, o, mp, sol, qs);";

inline std::unique_ptr<Imported> import(const std::string& text, const std::string& fileName = "test.madx")
{
    auto result = std::make_unique<Imported>();
    startParticle(result->state);
    result->ok = readMadxText(result->state, result->messages, text, fileName, &result->summary);
    return result;
}

} // namespace kestrune::test

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

inline std::unique_ptr<Imported> import(const std::string& text, const std::string& fileName = "test.madx")
{
    auto result = std::make_unique<Imported>();
    startParticle(result->state);
    result->ok = readMadxText(result->state, result->messages, text, fileName, &result->summary);
    return result;
}

} // namespace kestrune::test

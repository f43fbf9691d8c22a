#pragma once
// What the fuzz harnesses share: messages that count the errors, and the program's start state.
#include "core/Messages.h"
#include "core/StartValues.h"
#include "core/State.h"

#include <string>

namespace kestrune::fuzz {

/// Counts the errors; every question is answered No.
class CountingMessages : public Messages
{
public:
    void error(const std::string&) override { ++errors; }
    bool confirm(const std::string&, std::optional<ScreenPoint>) override { return false; }
    void askParticle() override {}
    int errors = 0;
};

/// The state as the program starts, made once.
inline const State& startState()
{
    static const State state = [] {
        State s;
        setStartValues(s);
        return s;
    }();
    return state;
}

} // namespace kestrune::fuzz

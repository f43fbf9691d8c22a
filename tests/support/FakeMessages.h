#pragma once

#include "core/Messages.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace kestrune::test {

/// Records every message and question and answers questions from a script (Yes when empty).
class FakeMessages : public Messages
{
public:
    void error(const std::string& text) override;
    bool confirm(const std::string& question, std::optional<ScreenPoint> position) override;
    bool confirmDefaultNo(const std::string& question) override;
    void askParticle() override;
    void showList() override;

    std::vector<std::string> errors;
    std::vector<std::string> questions;
    std::vector<std::optional<ScreenPoint>> questionPositions;
    std::vector<bool> defaultNo; // per question: its default button is No
    std::deque<bool> answers;    // next answers to confirm(); Yes when empty
    int particleRequests = 0;
    int listShows = 0;
    std::function<void()> onAskParticle; // runs when the particle window is asked for
};

} // namespace kestrune::test

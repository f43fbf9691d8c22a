#pragma once

#include <chrono>
#include <string>

namespace kestrune {

/// The progress of a long step of the batch tool, as the windows show it in their progress bars: on
/// standard error, "kestrune-cli: <what>: 40% done", first once the step has run 3 s, then every 10 s;
/// a step that ends sooner prints nothing. Called with the fraction done (0..1).
class BatchProgress
{
public:
    explicit BatchProgress(std::string what);

    void operator()(double fraction);

private:
    using Clock = std::chrono::steady_clock;
    std::string m_what;
    Clock::time_point m_start;
    Clock::time_point m_next;
};

} // namespace kestrune

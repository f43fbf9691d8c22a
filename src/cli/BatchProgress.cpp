#include "cli/BatchProgress.h"

#include "core/Format.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <utility>

namespace kestrune {

namespace {

constexpr std::chrono::seconds kFirstLine(3);
constexpr std::chrono::seconds kEveryLine(10);

} // namespace

BatchProgress::BatchProgress(std::string what)
    : m_what(std::move(what)), m_start(Clock::now()), m_next(m_start + kFirstLine)
{
}

void BatchProgress::operator()(double fraction)
{
    const Clock::time_point now = Clock::now();
    if (now < m_next || !(fraction < 1))
        return;
    m_next = now + kEveryLine;
    const double percent = std::clamp(std::floor(100 * fraction), 0.0, 99.0);
    std::cerr << "kestrune-cli: " << m_what << ": " << fmt("%.0f", percent) << "% done\n" << std::flush;
}

} // namespace kestrune

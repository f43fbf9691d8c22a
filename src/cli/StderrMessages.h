#pragma once

#include "core/Messages.h"

#include <ostream>
#include <string>
#include <vector>

namespace kestrune {

/// Messages of the command-line tool: texts go to standard error, questions are answered No. Every text
/// is also kept, in the order shown, for the report; with print false they are only kept (the Python
/// module, which hands them over with the report).
class StderrMessages : public Messages
{
public:
    explicit StderrMessages(bool print = true) : m_print(print) {}
    void error(const std::string& text) override;
    bool confirm(const std::string& question, std::optional<ScreenPoint> position = std::nullopt) override;
    void askParticle() override;

    /// Number of error texts written so far.
    int errorCount() const { return m_errors; }
    /// The messages and questions shown so far (a question ends in " -- answered No").
    const std::vector<std::string>& shown() const { return m_shown; }

private:
    bool m_print;
    int m_errors = 0;
    std::vector<std::string> m_shown;
};

/// Flushes out (the tool's standard output); true when everything written so far reached it, else false
/// after messages.error("cannot write to standard output: <the system's reason>"), as on a full disk or
/// a closed pipe.
bool outputWritten(std::ostream& out, Messages& messages);

} // namespace kestrune

#pragma once

#include <optional>
#include <string>

namespace kestrune {

/// Screen position (pixels) at which a question box is placed.
struct ScreenPoint
{
    int x = 0;
    int y = 0;
};

/// How the core talks to the user: the GUI answers with message boxes, the command line tool on
/// standard error, tests with a recording fake.
class Messages
{
public:
    virtual ~Messages() = default;
    /// Shows a modal message; the action that found the problem stops after it.
    virtual void error(const std::string& text) = 0;
    /// Asks a Yes/No question; true for Yes.
    virtual bool confirm(const std::string& question, std::optional<ScreenPoint> position = std::nullopt) = 0;
    /// Asks a Yes/No question whose default button is No (a step too large to take by a Return alone);
    /// true for Yes.
    virtual bool confirmDefaultNo(const std::string& question) { return confirm(question); }
    /// Opens the particle window modally so that the user can choose particle and energy.
    virtual void askParticle() = 0;
    /// Brings the list window to the front after a list was written into the state's list text.
    virtual void showList() {}
};

/// Messages of a pass whose outcome the caller checks itself: errors are dropped and every question gets
/// the same answer, No unless told otherwise.
class QuietMessages : public Messages
{
public:
    explicit QuietMessages(bool answer = false) : m_answer(answer) {}
    void error(const std::string&) override {}
    bool confirm(const std::string&, std::optional<ScreenPoint> = std::nullopt) override { return m_answer; }
    void askParticle() override {}

private:
    bool m_answer;
};

/// Shows nothing, answers no and keeps the first error: for trial runs and checks whose caller reports a
/// refusal in its own words.
class FirstErrorMessages : public Messages
{
public:
    void error(const std::string& text) override
    {
        if (first.empty())
            first = text;
    }
    bool confirm(const std::string&, std::optional<ScreenPoint> = std::nullopt) override { return false; }
    void askParticle() override {}

    std::string first;
};

} // namespace kestrune

#pragma once

#include "core/Messages.h"
#include "gui/Windows.h"

namespace kestrune {

/// The answers to "Save changes to NAME?".
enum class SaveChoice { Save, Discard, Cancel };

/// Messages of the windows: modal message boxes, Yes/No questions (placed at a screen position
/// when one is given), the particle window and the list window. Tests hand every call on to a
/// recording fake through redirectTo().
class QtMessages : public Messages
{
public:
    explicit QtMessages(Windows& windows);

    void error(const std::string& text) override;
    bool confirm(const std::string& question, std::optional<ScreenPoint> position = std::nullopt) override;
    bool confirmDefaultNo(const std::string& question) override;
    void askParticle() override;
    void showList() override;
    /// Asks question with Save, Discard and Cancel (Save the default, Esc cancels). Redirected, it opens
    /// nothing and answers Discard.
    SaveChoice askSaveChanges(const std::string& question);

    /// Every call goes to target instead of the screen while target is set (nullptr: the screen).
    void redirectTo(Messages* target) { m_target = target; }

private:
    Windows& m_windows;
    Messages* m_target = nullptr;
};

} // namespace kestrune

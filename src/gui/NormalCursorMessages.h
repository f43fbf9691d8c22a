#pragma once

#include "core/Messages.h"

namespace kestrune {

/// Hands every message on to target; a box shown while the busy cursor is up gets the normal cursor.
class NormalCursorMessages : public Messages
{
public:
    explicit NormalCursorMessages(Messages& target) : m_target(target) {}

    void error(const std::string& text) override;
    bool confirm(const std::string& question, std::optional<ScreenPoint> position) override;
    bool confirmDefaultNo(const std::string& question) override;
    void askParticle() override;
    void showList() override { m_target.showList(); }

private:
    Messages& m_target;
};

} // namespace kestrune

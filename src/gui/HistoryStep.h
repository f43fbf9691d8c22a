#pragma once

#include "core/State.h"

#include <functional>
#include <string>
#include <utility>

namespace kestrune {

/// One undoable step around an action of a window: what changed before the action is taken into the
/// history without a step, what the action changed becomes one step named label, and then done runs (the
/// beam-dynamics window's title and Edit menu follow). An action that changed nothing makes no step.
class HistoryStep
{
public:
    HistoryStep(State& state, std::string label, std::function<void()> done)
        : m_state(state), m_label(std::move(label)), m_done(std::move(done))
    {
        m_state.history.absorb(m_state);
    }
    ~HistoryStep()
    {
        m_state.history.commit(m_state, m_label);
        if (m_done)
            m_done();
    }
    HistoryStep(const HistoryStep&) = delete;
    HistoryStep& operator=(const HistoryStep&) = delete;

private:
    State& m_state;
    std::string m_label;
    std::function<void()> m_done;
};

} // namespace kestrune

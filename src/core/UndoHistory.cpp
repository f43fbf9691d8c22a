#include "core/UndoHistory.h"

#include "core/Design.h"
#include "core/State.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <utility>
#include <variant>
#include <vector>

namespace kestrune {

namespace {

using Value = std::variant<bool, int, double, std::string>;

struct FieldChange
{
    int id = 0;
    Value before;
    Value after;
};

template <class T> struct Run
{
    int first = 0; // slot of before[0] and after[0]
    std::vector<T> before;
    std::vector<T> after;
};

struct Step
{
    std::string label;
    std::uint64_t id = 0;
    std::vector<Run<LatticeElement>> elements;
    std::vector<Run<ElementShape>> shapes;
    std::vector<Run<DrawingBox>> boxes;
    std::vector<FieldChange> fields;
    std::size_t bytes = 0;

    bool empty() const { return elements.empty() && shapes.empty() && boxes.empty() && fields.empty(); }
};

// Slots first..last of the state's table (read through get) against the shadow; changed slots go into
// runs (when given) and into the shadow.
template <class T, class Get>
void diffTable(int first, int last, const Get& get, std::vector<T>& shadow, std::vector<Run<T>>* runs)
{
    for (int i = first; i <= last; ++i) {
        const T& now = get(i);
        T& kept = shadow[static_cast<std::size_t>(i)];
        if (sameValue(now, kept))
            continue;
        if (runs) {
            if (runs->empty() || runs->back().first + static_cast<int>(runs->back().after.size()) != i)
                runs->push_back(Run<T>{i, {}, {}});
            runs->back().before.push_back(kept);
            runs->back().after.push_back(now);
        }
        kept = now;
    }
}

template <class T, class Slot>
void applyRuns(const std::vector<Run<T>>& runs, bool after, const Slot& slot, std::vector<T>& shadow)
{
    for (const Run<T>& run : runs) {
        const std::vector<T>& values = after ? run.after : run.before;
        for (std::size_t k = 0; k < values.size(); ++k) {
            const int i = run.first + static_cast<int>(k);
            slot(i) = values[k];
            shadow[static_cast<std::size_t>(i)] = values[k];
        }
    }
}

std::size_t stringBytes(const std::string& text)
{
    return text.capacity() > sizeof(std::string) ? text.capacity() : 0;
}

std::size_t valueBytes(const LatticeElement& e)
{
    return sizeof e + stringBytes(e.name);
}
std::size_t valueBytes(const ElementShape& s)
{
    return sizeof s + stringBytes(s.title);
}
std::size_t valueBytes(const DrawingBox& b)
{
    return sizeof b;
}

template <class T> std::size_t runBytes(const std::vector<Run<T>>& runs)
{
    std::size_t bytes = 0;
    for (const Run<T>& run : runs) {
        bytes += sizeof run;
        for (const T& v : run.before)
            bytes += valueBytes(v);
        for (const T& v : run.after)
            bytes += valueBytes(v);
    }
    return bytes;
}

std::size_t stepBytes(const Step& step)
{
    std::size_t bytes = sizeof step + runBytes(step.elements) + runBytes(step.shapes) + runBytes(step.boxes);
    for (const FieldChange& change : step.fields) {
        bytes += sizeof change;
        if (const auto* text = std::get_if<std::string>(&change.before))
            bytes += stringBytes(*text);
        if (const auto* text = std::get_if<std::string>(&change.after))
            bytes += stringBytes(*text);
    }
    return bytes;
}

} // namespace

struct UndoHistory::Impl
{
    // the shadow: the design as last taken
    std::vector<LatticeElement> elements = std::vector<LatticeElement>(1); // slot 0 unused
    std::vector<ElementShape> shapes = std::vector<ElementShape>(1);
    std::vector<DrawingBox> boxes;
    DesignScalars scalars;

    std::deque<Step> steps;
    std::size_t applied = 0;   // steps[0..applied) are done, the rest can be redone
    std::uint64_t baseId = 0;  // position before the oldest step kept
    std::uint64_t nextId = 1;  // id of the next step
    std::uint64_t savedId = 0; // position saved or opened last
    std::size_t bytes = 0;     // of all steps
    bool runOpen = false;
    std::string runLabel;
    std::size_t stepLimit = kUndoStepLimit;
    std::size_t byteBudget = kUndoByteBudget;

    std::uint64_t position() const { return applied == 0 ? baseId : steps[applied - 1].id; }

    // The state against the shadow; the differences into step (when given) and into the shadow.
    void diff(const State& state, Step* step)
    {
        const BeamLine& line = state.line;
        // the line's table and the shadow compared over the longer of the two; slots beyond either read fresh
        const std::size_t slots = std::max(elements.size(), static_cast<std::size_t>(line.slotCount()) + 1);
        elements.resize(slots);
        shapes.resize(slots);
        const int last = static_cast<int>(slots) - 1;
        diffTable(
            1, last, [&](int i) -> const LatticeElement& { return line.at(i); }, elements,
            step ? &step->elements : nullptr);
        diffTable(
            1, last, [&](int i) -> const ElementShape& { return line.shape(i); }, shapes,
            step ? &step->shapes : nullptr);
        if (boxes.size() != state.fileBoxes.size())
            boxes.resize(state.fileBoxes.size());
        diffTable(
            0, static_cast<int>(boxes.size()) - 1,
            [&](int i) -> const DrawingBox& { return state.fileBoxes[static_cast<std::size_t>(i)]; }, boxes,
            step ? &step->boxes : nullptr);
        zipDesignFields(state, scalars, [&](int id, const char*, const auto& now, auto& kept) {
            using T = std::decay_t<decltype(kept)>;
            if (sameValue(now, kept))
                return;
            if (step)
                step->fields.push_back(
                    FieldChange{id, Value(std::in_place_type<T>, kept), Value(std::in_place_type<T>, now)});
            kept = now;
        });
    }

    void apply(const Step& step, bool after, State& state)
    {
        BeamLine& line = state.line;
        applyRuns(
            step.elements, after, [&](int i) -> LatticeElement& { return line.at(i); }, elements);
        applyRuns(
            step.shapes, after, [&](int i) -> ElementShape& { return line.shape(i); }, shapes);
        if (state.fileBoxes.size() < boxes.size())
            state.fileBoxes.resize(boxes.size());
        applyRuns(
            step.boxes, after,
            [&](int i) -> DrawingBox& { return state.fileBoxes[static_cast<std::size_t>(i)]; }, boxes);
        std::size_t next = 0;
        zipDesignFields(state, scalars, [&](int id, const char*, auto& now, auto& kept) {
            using T = std::decay_t<decltype(kept)>;
            if (next >= step.fields.size() || step.fields[next].id != id)
                return;
            const FieldChange& change = step.fields[next++];
            kept = now = std::get<T>(after ? change.after : change.before);
        });
    }

    void dropOldest()
    {
        baseId = steps.front().id;
        bytes -= steps.front().bytes;
        steps.pop_front();
        --applied;
    }

    void trim()
    {
        while (applied > 0 &&
               (steps.size() > stepLimit || (bytes > byteBudget && steps.size() > kUndoStepsKept)))
            dropOldest();
    }
};

UndoHistory::UndoHistory() : m_impl(std::make_unique<Impl>()) {}
UndoHistory::~UndoHistory() = default;
UndoHistory::UndoHistory(const UndoHistory& other) : m_impl(std::make_unique<Impl>(*other.m_impl)) {}
UndoHistory& UndoHistory::operator=(const UndoHistory& other)
{
    if (this != &other)
        m_impl = std::make_unique<Impl>(*other.m_impl);
    return *this;
}
UndoHistory::UndoHistory(UndoHistory&& other) noexcept = default;
UndoHistory& UndoHistory::operator=(UndoHistory&& other) noexcept = default;

void UndoHistory::reset(const State& state)
{
    Impl& h = *m_impl;
    h.diff(state, nullptr);
    h.runOpen = false;
    h.steps.clear();
    h.applied = 0;
    h.bytes = 0;
    h.baseId = h.nextId++;
    h.savedId = h.baseId;
}

void UndoHistory::absorb(const State& state)
{
    if (m_impl->runOpen)
        commit(state, m_impl->runLabel);
    else
        m_impl->diff(state, nullptr);
}

void UndoHistory::beginRun(const State& state, const std::string& label)
{
    endRun(state);
    absorb(state);
    m_impl->runOpen = true;
    m_impl->runLabel = label;
}

bool UndoHistory::endRun(const State& state)
{
    if (!m_impl->runOpen)
        return false;
    m_impl->runOpen = false;
    return commit(state, m_impl->runLabel);
}

bool UndoHistory::runOpen() const
{
    return m_impl->runOpen;
}

bool UndoHistory::commit(const State& state, const std::string& label)
{
    Impl& h = *m_impl;
    Step step;
    h.diff(state, &step);
    if (step.empty())
        return false;
    while (h.steps.size() > h.applied) {
        h.bytes -= h.steps.back().bytes;
        h.steps.pop_back();
    }
    step.label = label;
    step.id = h.nextId++;
    step.bytes = stepBytes(step);
    h.bytes += step.bytes;
    h.steps.push_back(std::move(step));
    ++h.applied;
    h.trim();
    return true;
}

bool UndoHistory::canUndo() const
{
    return m_impl->applied > 0;
}

bool UndoHistory::canRedo() const
{
    return m_impl->applied < m_impl->steps.size();
}

std::string UndoHistory::undoLabel() const
{
    return canUndo() ? m_impl->steps[m_impl->applied - 1].label : std::string();
}

std::string UndoHistory::redoLabel() const
{
    return canRedo() ? m_impl->steps[m_impl->applied].label : std::string();
}

bool UndoHistory::undo(State& state)
{
    Impl& h = *m_impl;
    if (!canUndo())
        return false;
    h.apply(h.steps[h.applied - 1], false, state);
    --h.applied;
    return true;
}

bool UndoHistory::redo(State& state)
{
    Impl& h = *m_impl;
    if (!canRedo())
        return false;
    h.apply(h.steps[h.applied], true, state);
    ++h.applied;
    return true;
}

void UndoHistory::markSaved()
{
    m_impl->savedId = m_impl->position();
}

bool UndoHistory::modified() const
{
    return m_impl->position() != m_impl->savedId;
}

std::size_t UndoHistory::undoCount() const
{
    return m_impl->applied;
}

std::size_t UndoHistory::redoCount() const
{
    return m_impl->steps.size() - m_impl->applied;
}

std::size_t UndoHistory::storedBytes() const
{
    return m_impl->bytes;
}

void UndoHistory::setLimits(std::size_t steps, std::size_t bytes)
{
    m_impl->stepLimit = steps > 0 ? steps : 1;
    m_impl->byteBudget = bytes;
    m_impl->trim();
}

HistoryAside::HistoryAside(State& state) : m_state(state)
{
    std::swap(m_history, m_state.history);
}

HistoryAside::~HistoryAside()
{
    std::swap(m_history, m_state.history);
}

} // namespace kestrune

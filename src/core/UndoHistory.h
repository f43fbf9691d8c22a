#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace kestrune {

struct State;

/// Steps the history keeps at most; the oldest go first.
constexpr std::size_t kUndoStepLimit = 200;
/// Bytes of stored values beyond which the oldest steps go, as long as more than kUndoStepsKept remain.
constexpr std::size_t kUndoByteBudget = 256u << 20;
/// Steps kept whatever they cost: every one may have rewritten the whole table.
constexpr std::size_t kUndoStepsKept = 100;

/// The undo history of the design: the beam line (every table slot with its shape, count, length,
/// superperiods), the drawing boxes read from a file, drawing scale and baseline, the particle, the run
/// settings (start values, emittances, steps, graph mode), the beam current, the ring flag, the rf
/// settings a lattice file stores, the opened and shown file names. Everything else (results, lists,
/// windows) is not part of it.
///
/// The history keeps one shadow copy of the design as last taken. A step holds only the table slot runs
/// and the single values that changed, each before and after; undo and redo write them into the state and
/// the shadow alike. The window takes changes made outside an undoable action (absorb) when an action
/// begins, so that a step holds exactly what its action changed.
class UndoHistory
{
public:
    UndoHistory();
    ~UndoHistory();
    UndoHistory(const UndoHistory& other);
    UndoHistory& operator=(const UndoHistory& other);
    UndoHistory(UndoHistory&& other) noexcept;
    UndoHistory& operator=(UndoHistory&& other) noexcept;

    /// Forgets every step; the shadow becomes the design of state, which counts as saved.
    void reset(const State& state);
    /// Takes what changed since the last step into the shadow without a step (changes no action records:
    /// a particle chosen, a start value typed, marks of an operation under way). While a run is open its
    /// changes so far become a step of the run's name instead, and the run goes on.
    void absorb(const State& state);
    /// A run of changes (a tuning run) that ends as one step named label: what changed before it is taken
    /// in, what changes until endRun is one step. A run already open is ended first.
    void beginRun(const State& state, const std::string& label);
    /// Ends the run open: its changes become one step. True when a step was made.
    bool endRun(const State& state);
    bool runOpen() const;
    /// Records what changed since the last step or absorb as one step named label (shown as "Undo label")
    /// and clears the redo side. Nothing changed: no step, the redo side stays. True when a step was made.
    bool commit(const State& state, const std::string& label);

    bool canUndo() const;
    bool canRedo() const;
    /// Name of the step undo would take back / redo would make again; empty when there is none.
    std::string undoLabel() const;
    std::string redoLabel() const;
    /// Takes the last step back: its values before into state. False when there is no step.
    bool undo(State& state);
    /// Makes the step undone last again. False when there is none.
    bool redo(State& state);

    /// The design as it stands is the one saved (or opened).
    void markSaved();
    /// The design's position in the history differs from the one saved or opened last.
    bool modified() const;

    std::size_t undoCount() const;
    std::size_t redoCount() const;
    /// Bytes of values the steps hold (the shadow not counted).
    std::size_t storedBytes() const;
    /// Bytes of stored values beyond which the oldest steps go (while more than kUndoStepsKept remain),
    /// and the number of steps kept at most.
    void setLimits(std::size_t steps, std::size_t bytes);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

/// Keeps the history of a state aside while a copy of the state is made and worked on (a file read into a
/// copy), so that the copy does not duplicate every step; puts it back when it goes out of scope.
class HistoryAside
{
public:
    explicit HistoryAside(State& state);
    ~HistoryAside();
    HistoryAside(const HistoryAside&) = delete;
    HistoryAside& operator=(const HistoryAside&) = delete;

private:
    State& m_state;
    UndoHistory m_history;
};

} // namespace kestrune

#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/matching/MatchProblem.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// How a match ended.
enum class MatchEnd {
    Running,
    Converged,      // the weighted deviations' norm is within the tolerance
    IterationLimit, // the iterations ran out: the best point found
    NoProgress,     // no step lowers the deviations any more: the best compromise (least squares)
    Cancelled       // stopped from outside: the best point so far
};

struct VariableOutcome
{
    double start = 0; // the design's value
    double final = 0; // the best value found
    bool atLower = false, atUpper = false;
};

struct ConstraintOutcome
{
    double target = 0;
    double start = 0; // the quantity with the design's values
    double final = 0; // with the best values found
    bool met = false; // its weighted deviation within the tolerance
};

struct MatchResult
{
    MatchEnd end = MatchEnd::Running;
    bool converged = false;
    int iterations = 0;
    int opticsPasses = 0;
    double startResidual = 0; // norm of the weighted deviations at the start
    double residual = 0;      // at the best point
    std::vector<VariableOutcome> variables;
    std::vector<ConstraintOutcome> constraints;
};

/// A match under way: Levenberg-Marquardt on the weighted deviations of the constraints, with the steps
/// from a singular value decomposition of the Jacobian (finite differences, one optics pass per variable),
/// so that a problem with more variables than constraints takes the smallest change and one with more
/// constraints the least-squares compromise; bounds are kept by projection. It works on a copy of the
/// optics part of the state: the design itself changes only through applyMatchValues.
class Matcher
{
public:
    /// Checks the definition against the state and evaluates the start. Nothing, after a message, when the
    /// definition does not fit the line or the start has no lattice functions (no periodic solution).
    static std::unique_ptr<Matcher> start(const State& state, const MatchDefinition& definition,
                                          Messages& messages);
    ~Matcher();
    Matcher(const Matcher&) = delete;
    Matcher& operator=(const Matcher&) = delete;

    /// One iteration (a Jacobian and the steps it takes); cancel, when set during it, ends the match
    /// after the optics pass under way. False once the match has ended.
    bool iterate(const std::atomic<bool>* cancel = nullptr);
    /// Ends the match as it stands (MatchEnd::Cancelled).
    void stop();
    bool finished() const;
    MatchResult result() const;
    /// The best values so far, one per variable.
    const std::vector<double>& values() const;
    const MatchSetup& setup() const;

private:
    Matcher();
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

/// Copies the optics part of a state (line, particle, run settings, ring flags and results, drawing
/// scale) into another; lists, file names and the undo history stay as they are.
void copyOptics(const State& from, State& to);

/// Called after every iteration with the result so far; false stops the match.
using MatchProgress = std::function<bool(const MatchResult&)>;

/// Runs a match to its end and writes the best values into the design (also when it did not converge:
/// the best compromise). Nothing, after the message, when the match was refused; the design is then
/// unchanged.
std::optional<MatchResult> matchDesign(State& state, const MatchDefinition& definition, Messages& messages,
                                       const MatchProgress& progress = {});

/// Writes values (one per variable) into every element of each variable, in the cell and in the copies of
/// the full ring the table holds; a rectangular magnet's pole faces follow its angle, positions and the
/// drawing follow changed lengths, a quadrupole's drawing the sign of k.
void applyMatchValues(State& state, const MatchSetup& setup, const std::vector<double>& values);

/// The design still has the line the match started from: same count and the start value in every varied
/// field.
bool designUnchanged(const State& state, const MatchSetup& setup);

/// The line of an iteration while a match runs, with the penalty function as MAD-X prints it (the sum of
/// the squared weighted deviations): "iteration 3 (10 optics passes): penalty function = 1.2345678e-08".
std::string iterationLine(const MatchResult& result);

/// Lines saying how the match ended: the end with iterations, optics passes and residual, the constraints
/// not met, the variables stopped at a bound.
std::vector<std::string> matchSummary(const MatchDefinition& definition, const MatchResult& result);

} // namespace kestrune

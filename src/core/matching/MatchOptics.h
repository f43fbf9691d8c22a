#pragma once

#include "core/State.h"
#include "core/matching/MatchProblem.h"

#include <memory>
#include <string>
#include <vector>

namespace kestrune {

/// The linear optics as the matcher evaluates it, again and again for trial strengths: the element
/// matrices are computed once (by the optics' own matrix functions, sliced as the program's passes slice),
/// and only those of the varied elements anew at each evaluation; one pass over them carries the lattice
/// functions, without lists, plots or allocation. The results agree with the beam-line pass (initial
/// values) and the ring pass (periodic solution) to rounding. A coupled match (MatchSetup::coupled) takes
/// the coupled maps of the elements instead (CoupledOptics: elementMap), those of the varied elements
/// computed anew, and the coupled functions from the periodic coupled solution or from the start values.
class MatchOptics
{
public:
    /// work is the trial state, kept by the caller for the life of this object: its line takes the trial
    /// values of every evaluation. The setup must have been resolved against work's line.
    MatchOptics(State& work, const MatchSetup& setup);
    ~MatchOptics();
    MatchOptics(const MatchOptics&) = delete;
    MatchOptics& operator=(const MatchOptics&) = delete;

    /// The message of an element whose matrix could not be computed ("Specify Ion energy!"); empty when
    /// every element's could.
    const std::string& problem() const;

    /// Writes the trial values x (one per variable) into every element of each variable, then the value
    /// of each constraint's quantity into values (resized to the constraints). False when they cannot be
    /// computed: no stable periodic solution where one is needed, a beta function that is not positive, a
    /// result that is not finite.
    bool evaluate(const std::vector<double>& x, std::vector<double>& values);

    /// Why the last evaluation failed; for Nonlinear (driving terms, detuning or the tracked Q(delta) that
    /// cannot be computed) and Coupled (the coupled optics or C- that cannot be computed: modes that
    /// cannot be told apart, no stable solution) the reason is in refusal.
    enum class Failure { None, NoPeriodicSolution, NotFinite, Nonlinear, Coupled };
    Failure failure() const;
    const std::string& refusal() const;

    /// Evaluations so far: each is one pass over the line (two when a line match has ring quantities).
    int passes() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

/// The largest beta inside a slice of length ds (m) of constant focusing kk > 0 (1/m^2), from the values
/// beta (m), alpha, gamma (1/m) at its entrance; -infinity when beta has no maximum inside the slice
/// (it then lies at an end, as always in drifts and defocusing slices, where beta is convex).
double interiorMaxBeta(double beta, double alpha, double gamma, double kk, double ds);

} // namespace kestrune

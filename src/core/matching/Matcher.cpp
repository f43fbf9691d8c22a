#include "core/matching/Matcher.h"

#include "core/Design.h"
#include "core/Drawing.h"
#include "core/Format.h"
#include "core/chromaticity/Chromaticity.h"
#include "core/coupling/CoupledOptics.h"
#include "core/matching/MatchOptics.h"
#include "core/matching/Svd.h"
#include "core/optics/BetaFunctions.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrune {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Initial damping: lambda = kTau * sigma_max^2, close to a Gauss-Newton step (Madsen, Nielsen and
// Tingleff, "Methods for non-linear least squares problems", 2004, section 3.2).
constexpr double kTau = 1e-6;
// Singular values below this fraction of the largest count as zero: their directions take no step.
constexpr double kRankCut = 1e-12;
// Trial steps of one iteration, each with a larger damping, before the match counts as stuck.
constexpr int kMaxTrials = 30;
// An accepted step that lowers the residual by less than this fraction, twice running, is no progress.
constexpr double kStagnation = 1e-12;

double norm(const std::vector<double>& v)
{
    double sum = 0;
    for (double x : v)
        sum += x * x;
    return std::sqrt(sum);
}

} // namespace

struct Matcher::Impl
{
    std::unique_ptr<State> work;
    MatchSetup setup;
    std::unique_ptr<MatchOptics> optics;

    int n = 0; // variables
    int m = 0; // constraints
    std::vector<double> x, lower, upper;
    std::vector<double> values, r; // quantities and weighted deviations at x
    double residual = kInfinity;
    std::vector<double> startValues;
    double startResidual = 0;
    std::vector<double> designValues;

    double lambda = -1;
    double nu = 2;
    int iterations = 0;
    int stagnant = 0;
    MatchEnd end = MatchEnd::Running;

    // scratch of the iterations, kept to avoid allocating in each
    DenseMatrix jacobian;
    std::vector<double> trialX, trialValues, trialR;

    // The weighted deviation of each constraint: for "<=" and ">=" only the side that breaks it.
    void deviations(const std::vector<double>& v, std::vector<double>& out) const
    {
        out.resize(static_cast<std::size_t>(m));
        for (int i = 0; i < m; ++i) {
            const ResolvedConstraint& c = setup.constraints[static_cast<std::size_t>(i)];
            double d = v[static_cast<std::size_t>(i)] - c.value;
            if (c.relation == MatchRelation::AtMost)
                d = std::max(0.0, d);
            else if (c.relation == MatchRelation::AtLeast)
                d = std::min(0.0, d);
            out[static_cast<std::size_t>(i)] = c.weight * d;
        }
    }

    // The residual at point: the norm of the weighted deviations, infinity where the optics fail.
    double evaluate(const std::vector<double>& point, std::vector<double>& v, std::vector<double>& dev)
    {
        if (!optics->evaluate(point, v))
            return kInfinity;
        deviations(v, dev);
        return norm(dev);
    }

    bool cancelled(const std::atomic<bool>* cancel)
    {
        if (cancel == nullptr || !cancel->load())
            return false;
        end = MatchEnd::Cancelled;
        return true;
    }

    // Column j of the Jacobian of the weighted deviations by a forward difference, the step taken
    // backwards where the forward point lies beyond the upper bound or has no optics; a column that
    // cannot be computed either way stays 0 (the variable does not move in this iteration).
    void jacobianColumn(int j)
    {
        const ResolvedVariable& v = setup.variables[static_cast<std::size_t>(j)];
        double h =
            x[static_cast<std::size_t>(j)] + v.step > upper[static_cast<std::size_t>(j)] ? -v.step : v.step;
        trialX = x;
        for (int attempt = 0; attempt < 2; ++attempt, h = -h) {
            trialX[static_cast<std::size_t>(j)] = x[static_cast<std::size_t>(j)] + h;
            if (evaluate(trialX, trialValues, trialR) < kInfinity) {
                for (int i = 0; i < m; ++i)
                    jacobian(i, j) =
                        (trialR[static_cast<std::size_t>(i)] - r[static_cast<std::size_t>(i)]) / h;
                return;
            }
        }
        for (int i = 0; i < m; ++i)
            jacobian(i, j) = 0;
    }

    // Variables free to move: not at a bound that the steepest descent -J^T r would cross.
    std::vector<int> freeVariables() const
    {
        std::vector<int> free;
        for (int j = 0; j < n; ++j) {
            double g = 0;
            for (int i = 0; i < m; ++i)
                g += jacobian(i, j) * r[static_cast<std::size_t>(i)];
            const double xj = x[static_cast<std::size_t>(j)];
            const bool blocked = (xj <= lower[static_cast<std::size_t>(j)] && g > 0) ||
                                 (xj >= upper[static_cast<std::size_t>(j)] && g < 0);
            if (!blocked)
                free.push_back(j);
        }
        return free;
    }

    // The damped step in the free variables from the decomposition of their Jacobian:
    // delta = -V diag(sigma / (sigma^2 + lambda)) U^T r, which is the least-squares step of smallest norm
    // as lambda goes to 0 and turns towards steepest descent as it grows. Projected onto the bounds.
    void trialPoint(const Svd& svd, const std::vector<double>& ur, const std::vector<int>& free)
    {
        trialX = x;
        const double cut = kRankCut * svd.sigma.front();
        for (std::size_t k = 0; k < svd.sigma.size(); ++k) {
            const double s = svd.sigma[k];
            if (!(s > cut))
                continue;
            const double factor = s / (s * s + lambda) * ur[k];
            for (std::size_t f = 0; f < free.size(); ++f)
                trialX[static_cast<std::size_t>(free[f])] -=
                    svd.v(static_cast<int>(f), static_cast<int>(k)) * factor;
        }
        for (int j = 0; j < n; ++j)
            trialX[static_cast<std::size_t>(j)] =
                std::clamp(trialX[static_cast<std::size_t>(j)], lower[static_cast<std::size_t>(j)],
                           upper[static_cast<std::size_t>(j)]);
    }

    // The decrease of the squared residual the linear model predicts for the step to trialX.
    double predictedDecrease() const
    {
        double model = 0;
        for (int i = 0; i < m; ++i) {
            double ri = r[static_cast<std::size_t>(i)];
            for (int j = 0; j < n; ++j)
                ri += jacobian(i, j) * (trialX[static_cast<std::size_t>(j)] - x[static_cast<std::size_t>(j)]);
            model += ri * ri;
        }
        return residual * residual - model;
    }

    bool negligible() const
    {
        for (int j = 0; j < n; ++j) {
            const double d = trialX[static_cast<std::size_t>(j)] - x[static_cast<std::size_t>(j)];
            const double scale = std::max(std::fabs(x[static_cast<std::size_t>(j)]),
                                          setup.variables[static_cast<std::size_t>(j)].step);
            if (std::fabs(d) > 1e-14 * scale)
                return false;
        }
        return true;
    }

    // Trial steps with growing damping until one lowers the residual (Nielsen's update of lambda).
    bool step(const Svd& svd, const std::vector<double>& ur, const std::vector<int>& free,
              const std::atomic<bool>* cancel)
    {
        for (int trial = 0; trial < kMaxTrials; ++trial) {
            trialPoint(svd, ur, free);
            if (negligible())
                return false;
            const double predicted = predictedDecrease();
            const double trialResidual = evaluate(trialX, trialValues, trialR);
            if (trialResidual < residual) {
                const double rho = (residual * residual - trialResidual * trialResidual) / predicted;
                lambda *= predicted > 0 ? std::max(1.0 / 3, 1 - std::pow(2 * rho - 1, 3)) : 1.0;
                nu = 2;
                stagnant = residual - trialResidual <= kStagnation * residual ? stagnant + 1 : 0;
                std::swap(x, trialX);
                std::swap(values, trialValues);
                std::swap(r, trialR);
                residual = trialResidual;
                return true;
            }
            lambda *= nu;
            nu *= 2;
            if (cancelled(cancel))
                return true;
        }
        return false;
    }

    bool iterate(const std::atomic<bool>* cancel)
    {
        if (end != MatchEnd::Running)
            return false;
        if (residual <= setup.definition.tolerance) {
            end = MatchEnd::Converged;
            return false;
        }
        if (iterations >= setup.definition.maxIterations) {
            end = MatchEnd::IterationLimit;
            return false;
        }
        ++iterations;
        for (int j = 0; j < n; ++j) {
            jacobianColumn(j);
            if (cancelled(cancel))
                return false;
        }
        const std::vector<int> free = freeVariables();
        DenseMatrix reduced(m, static_cast<int>(free.size()));
        for (int i = 0; i < m; ++i)
            for (std::size_t f = 0; f < free.size(); ++f)
                reduced(i, static_cast<int>(f)) = jacobian(i, free[f]);
        const Svd svd = singularValueDecomposition(reduced);
        if (free.empty() || !(svd.sigma.front() > 0)) {
            end = MatchEnd::NoProgress;
            return false;
        }
        if (lambda < 0)
            lambda = kTau * svd.sigma.front() * svd.sigma.front();
        std::vector<double> ur(svd.sigma.size(), 0.0);
        for (std::size_t k = 0; k < ur.size(); ++k)
            for (int i = 0; i < m; ++i)
                ur[k] += svd.u(i, static_cast<int>(k)) * r[static_cast<std::size_t>(i)];
        if (!step(svd, ur, free, cancel) || stagnant >= 2) {
            end = MatchEnd::NoProgress;
            return false;
        }
        if (end != MatchEnd::Running)
            return false;
        if (residual <= setup.definition.tolerance) {
            end = MatchEnd::Converged;
            return false;
        }
        return true;
    }

    MatchResult result() const
    {
        MatchResult out;
        out.end = end;
        out.converged = residual <= setup.definition.tolerance;
        out.iterations = iterations;
        out.opticsPasses = optics->passes();
        out.startResidual = startResidual;
        out.residual = residual;
        for (int j = 0; j < n; ++j) {
            VariableOutcome v;
            v.start = designValues[static_cast<std::size_t>(j)];
            v.final = x[static_cast<std::size_t>(j)];
            v.atLower = v.final <= lower[static_cast<std::size_t>(j)];
            v.atUpper = v.final >= upper[static_cast<std::size_t>(j)];
            out.variables.push_back(v);
        }
        for (int i = 0; i < m; ++i) {
            ConstraintOutcome c;
            c.target = setup.constraints[static_cast<std::size_t>(i)].value;
            c.start = startValues[static_cast<std::size_t>(i)];
            c.final = values[static_cast<std::size_t>(i)];
            c.met = std::fabs(r[static_cast<std::size_t>(i)]) <= setup.definition.tolerance;
            out.constraints.push_back(c);
        }
        return out;
    }
};

Matcher::Matcher() : m_impl(std::make_unique<Impl>()) {}

Matcher::~Matcher() = default;

std::unique_ptr<Matcher> Matcher::start(const State& state, const MatchDefinition& definition,
                                        Messages& messages)
{
    // a line that couples the planes goes through the coupled optics, which take what the uncoupled
    // optics refuse of it
    const bool couples = lineCouples(state.line);
    if (!couples && opticsRefused(state.line, messages))
        return nullptr;
    std::optional<MatchSetup> setup = resolveMatch(state, definition, messages);
    if (!setup)
        return nullptr;
    if (setup->coupled)
        if (const std::optional<std::string> refusal = coupledOpticsRefusal(state.line)) {
            messages.error(*refusal);
            return nullptr;
        }
    std::unique_ptr<Matcher> matcher(new Matcher());
    Impl& d = *matcher->m_impl;
    d.work = std::make_unique<State>();
    copyOptics(state, *d.work);
    d.setup = std::move(*setup);
    d.optics = std::make_unique<MatchOptics>(*d.work, d.setup);
    if (!d.optics->problem().empty()) {
        messages.error("the optics of the line cannot be computed: " + d.optics->problem());
        return nullptr;
    }
    d.n = static_cast<int>(d.setup.variables.size());
    d.m = static_cast<int>(d.setup.constraints.size());
    d.jacobian = DenseMatrix(d.m, d.n);
    for (const ResolvedVariable& v : d.setup.variables) {
        d.designValues.push_back(v.start);
        d.lower.push_back(v.min);
        d.upper.push_back(v.max);
        d.x.push_back(std::clamp(v.start, v.min, v.max));
    }

    // the quantities with the design's values are the start values; a start outside the bounds is moved
    // onto them before the search
    std::vector<double> startDeviations;
    d.startResidual = d.evaluate(d.designValues, d.startValues, startDeviations);
    d.residual = d.x == d.designValues ? d.startResidual : d.evaluate(d.x, d.values, d.r);
    if (d.x == d.designValues) {
        d.values = d.startValues;
        d.r = startDeviations;
    }
    if (!(d.startResidual < kInfinity) || !(d.residual < kInfinity)) {
        if (d.optics->failure() == MatchOptics::Failure::Nonlinear) {
            messages.error("the nonlinear quantities cannot be computed at the start of the match: " +
                           d.optics->refusal());
            return nullptr;
        }
        if (d.optics->failure() == MatchOptics::Failure::Coupled) {
            messages.error("the coupled optics cannot be computed at the start of the match: " +
                           d.optics->refusal());
            return nullptr;
        }
        const bool periodic = d.optics->failure() == MatchOptics::Failure::NoPeriodicSolution;
        messages.error(periodic ? "no periodic solution at the start of the match: the cell must be stable "
                                  "before its strengths are matched"
                                : "the lattice functions cannot be computed at the start of the match "
                                  "(a beta function that is not positive?)");
        return nullptr;
    }
    return matcher;
}

bool Matcher::iterate(const std::atomic<bool>* cancel)
{
    return m_impl->iterate(cancel);
}

void Matcher::stop()
{
    if (m_impl->end == MatchEnd::Running)
        m_impl->end = MatchEnd::Cancelled;
}

bool Matcher::finished() const
{
    return m_impl->end != MatchEnd::Running;
}

MatchResult Matcher::result() const
{
    return m_impl->result();
}

const std::vector<double>& Matcher::values() const
{
    return m_impl->x;
}

const MatchSetup& Matcher::setup() const
{
    return m_impl->setup;
}

void copyOptics(const State& from, State& to)
{
    to.line = from.line;
    to.beam = from.beam;
    to.beamCurrent = from.beamCurrent;
    to.electron = from.electron;
    to.run = from.run;
    to.lf = from.lf;
    to.matrix = from.matrix;
    to.ringElementCount = from.ringElementCount;
    to.ringClosed = from.ringClosed;
    to.ringParams = from.ringParams;
    to.rf = from.rf;
    to.drawScale = from.drawScale;
    to.drawBaseline = from.drawBaseline;
}

std::optional<MatchResult> matchDesign(State& state, const MatchDefinition& definition, Messages& messages,
                                       const MatchProgress& progress)
{
    const std::unique_ptr<Matcher> matcher = Matcher::start(state, definition, messages);
    if (!matcher)
        return std::nullopt;
    while (matcher->iterate()) {
        if (progress && !progress(matcher->result()))
            matcher->stop();
    }
    applyMatchValues(state, matcher->setup(), matcher->values());
    return matcher->result();
}

void applyMatchValues(State& state, const MatchSetup& setup, const std::vector<double>& values)
{
    BeamLine& line = state.line;
    const int count = line.count;
    const int last = lastRingRecord(state);
    bool lengths = false;
    for (std::size_t v = 0; v < setup.variables.size(); ++v) {
        const ResolvedVariable& variable = setup.variables[v];
        lengths = lengths || variable.field == MatchField::Length;
        // the copies of the full ring after the cell follow their element of the cell
        for (int i : variable.elements)
            for (int copy = i; copy <= last; copy += count) {
                LatticeElement& e = line.at(copy);
                setField(e, variable.field, values[v]);
                if (familyOf(e.code) == static_cast<int>(Family::Quadrupole))
                    applyQuadrupoleSign(line.shape(copy), e.k, state.drawBaseline, state.drawScale);
            }
    }
    if (!lengths)
        return;
    for (int i = 2; i <= last; ++i)
        line.at(i).s = line.at(i - 1).s + line.at(i - 1).length;
    for (int i = 1; i <= count; ++i)
        placeShape(line, i);
    line.length = line.endPosition();
}

bool designUnchanged(const State& state, const MatchSetup& setup)
{
    if (state.line.count != setup.elementCount)
        return false;
    for (const ResolvedVariable& v : setup.variables)
        for (std::size_t k = 0; k < v.elements.size(); ++k) {
            const int i = v.elements[k];
            if (i > state.line.count || !sameValue(fieldOf(state.line.at(i), v.field), v.designValues[k]))
                return false;
        }
    return true;
}

std::string iterationLine(const MatchResult& result)
{
    // the residual is the norm of the weighted deviations, the penalty function its square
    return "iteration " + std::to_string(result.iterations) + " (" + std::to_string(result.opticsPasses) +
           " optics passes): penalty function = " + fmt("%.7e", result.residual * result.residual);
}

std::vector<std::string> matchSummary(const MatchDefinition& definition, const MatchResult& result)
{
    const std::string counts = std::to_string(result.iterations) + " iterations (" +
                               std::to_string(result.opticsPasses) + " optics passes): residual " +
                               fmt("%.3g", result.residual);
    std::vector<std::string> lines;
    switch (result.end) {
    case MatchEnd::Running:
        lines.push_back("running, " + counts);
        break;
    case MatchEnd::Converged:
        lines.push_back("converged after " + counts);
        break;
    case MatchEnd::IterationLimit:
        lines.push_back("not converged after " + counts + ", the best point found");
        break;
    case MatchEnd::NoProgress:
        lines.push_back((result.converged ? "converged after " : "no further progress after ") + counts +
                        (result.converged ? "" : ", the best compromise"));
        break;
    case MatchEnd::Cancelled:
        lines.push_back("stopped after " + counts + ", the best point so far");
        break;
    }
    std::string unmet;
    for (std::size_t i = 0; i < result.constraints.size(); ++i)
        if (!result.constraints[i].met)
            unmet += (unmet.empty() ? "" : ", ") + constraintLabel(definition, static_cast<int>(i));
    if (!unmet.empty())
        lines.push_back("not met: " + unmet);
    for (std::size_t j = 0; j < result.variables.size(); ++j) {
        const VariableOutcome& v = result.variables[j];
        const auto [lower, upper] = variableBounds(definition.variables[j]);
        if (v.atLower)
            lines.push_back(variableLabel(definition, static_cast<int>(j)) + " stops at its lower bound " +
                            shortestFloat(lower));
        else if (v.atUpper)
            lines.push_back(variableLabel(definition, static_cast<int>(j)) + " stops at its upper bound " +
                            shortestFloat(upper));
    }
    return lines;
}

} // namespace kestrune

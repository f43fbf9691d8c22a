#pragma once

// What the Python module does with a design, in plain C++ over the core and the batch tool: every
// refusal of the core is thrown as a DesignError carrying the program's message, so that the bindings
// only translate types.

#include "cli/BatchSettings.h"
#include "cli/Report.h"
#include "core/Messages.h"
#include "core/State.h"
#include "core/aperture/ScanThreads.h"
#include "core/tracking/PhaseVector.h"

#include <atomic>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrune::python {

/// A refusal of the core, with the text the program shows.
class DesignError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// Messages of the module: errors are kept for the exception, every question is answered No (as the
/// batch tool answers), the particle question is left unanswered.
class RecordingMessages : public Messages
{
public:
    void error(const std::string& text) override { errors.push_back(text); }
    bool confirm(const std::string&, std::optional<ScreenPoint> = std::nullopt) override { return false; }
    void askParticle() override {}

    /// The errors shown, one a line; fallback when there were none.
    std::string text(const std::string& fallback) const;
    /// Throws DesignError with the errors shown (fallback when none was).
    [[noreturn]] void raise(const std::string& fallback) const;

    std::vector<std::string> errors;
};

/// A design as the batch tool holds it: the state read from a file and the boxes its --set names fill.
struct Design
{
    State state;
    BatchInputs inputs;
    std::string fileName; // as given to open: the report's lattice_file
};

/// A new design: the program's start values and an empty line.
Design newDesign();
/// The lattice file (or MAD-X input, by its name's ending) read as the batch tool reads it.
Design openDesign(const std::string& fileName);
/// MAD-X input; line, when not empty, names the sequence or line used.
Design importMadx(const std::string& fileName, const std::string& line);
void saveDesign(Design& design, const std::string& fileName);
void exportMadx(const Design& design, const std::string& fileName);
/// --set NAME=VALUE of the batch tool.
void applyBatchSetting(Design& design, const std::string& name, const std::string& value);
/// The particle window's momentum box: cp in eV, also the reference momentum.
void setMomentum(Design& design, double momentumEv);
/// The particle window's choice of "electron" or "proton", keeping the momentum.
void setParticle(Design& design, const std::string& name);

/// One parameter the element panel shows for an element.
struct ElementParameter
{
    std::string name; // attribute name: the stored field's, or the panel label in snake case
    std::string unit; // of value
    double value = 0; // full precision for a stored field, the panel's digits otherwise
    bool stored = false;
};

/// The element's kind in the editor's words ("quadrupole", "bending magnet", ...).
std::string elementKind(const LatticeElement& e);
/// The parameters the element panel shows for element e (1..count), besides name and length.
std::vector<ElementParameter> elementParameters(const State& state, int e);
/// Sets one parameter of element e as the element panel does (its checks and messages); the design is
/// unchanged when it is refused.
void setElementParameter(State& state, int e, const std::string& name, double value);
/// Renames element e through the element panel.
void setElementName(State& state, int e, const std::string& name);
/// The editor's element kinds by name, for insert.
int kindNamed(const std::string& kind);
/// Inserts a new element of kind before position (1..count+1, count+1 appends), as the element list
/// does; returns its position.
int insertElement(State& state, int position, const std::string& kind);
/// Deletes element e.
void removeElement(State& state, int e);

/// The lattice functions of the line pass, at every element end or every slice.
struct TwissTable
{
    std::vector<double> s, betx, alfx, mux, bety, alfy, muy, dx, dpx;
    std::vector<int> element; // 0: the start; the element after which (or in which) the row is
    double q1 = 0, q2 = 0;    // ring tunes of the report's periodic section, NaN without them
    double dq1 = 0, dq2 = 0;  // natural chromaticities of the report's chromaticity section, NaN without
};
TwissTable twiss(const Design& design, bool periodic, bool slices);

/// The batch tool's report (what --report writes for the design and its --set values).
Json report(const Design& design);
/// The report's ring, radiation_integrals and equilibrium sections.
Json ringSections(const Design& design);

/// Hooks of a long run: checked and called on the thread that started it, between turns.
struct RunControl
{
    const std::atomic<bool>* cancel = nullptr;
    std::function<void(double)> progress;
};

/// The fate of each particle of a multi-particle run.
struct TrackResult
{
    std::vector<int> turn;    // turns completed, or the turn of the loss
    std::vector<int> element; // element of the loss in the full ring, 0 for a survivor
    bool cancelled = false;
};
/// Tracks particles in place (x, px, y, py, delta, l in SI; the linear model takes px, py as x', y' and
/// ignores l) over turns turns with the batch tool's lattice and rf.
TrackResult track(const Design& design, std::vector<PhaseVector>& particles, int turns,
                  const std::string& model, const std::optional<double>& apertureX, int threads,
                  const RunControl& control);
/// One particle as --track tracks it (mm, mrad and % as the option takes them); the report's tracking
/// section.
Json trackingSummary(const Design& design, const std::vector<std::string>& typed, const std::string& model,
                     const std::string& apertureMm);

/// The aperture scans of the batch tool with its option texts (--da-angles ... as typed): the sections
/// dynamic_aperture, dynamic_aperture_grid and momentum_acceptance asked for.
struct ScanOptions
{
    bool radial = false, grid = false, acceptance = false;
    std::vector<std::pair<std::string, std::string>> options; // option name without dashes, text
};
Json apertureScans(const Design& design, const ScanOptions& options, const RunControl& control);

/// The match of definition (the match file's JSON text) on the design: the report's match section;
/// the best values go into the design.
Json match(Design& design, const std::string& definition, const RunControl& control);

} // namespace kestrune::python

#pragma once

// The definitions a MAD-X input makes, as the reader keeps them until the whole input is read.

#include "core/NamePattern.h"
#include "core/io/madx/MadxControl.h"
#include "core/io/madx/MadxExpression.h"
#include "core/io/madx/MadxReader.h"

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kestrune {

struct MadxAttr
{
    enum class Kind { Value, Deferred, Text, Array, Flag };
    Kind kind = Kind::Value;
    double value = 0;
    MadxExprPtr expr;
    std::string text;
    std::vector<MadxExprPtr> items; // deferred array members
    std::vector<double> values;     // array members
    bool on = true;                 // flag
    int line = 0;
};
// ordered by name; looked up by a name's text without making a string of it
using MadxAttrs = std::map<std::string, MadxAttr, std::less<>>;

struct MadxOrigin
{
    std::string file;
    int line = 0;
};

struct MadxElement
{
    std::string name;                 // as written
    std::string base;                 // MAD-X class at the root of the inheritance
    std::vector<std::string> classes; // the classes it derives from, its parent first, lower case
    MadxAttrs attrs;
    MadxOrigin origin;
};
using MadxElementPtr = std::shared_ptr<MadxElement>;

struct MadxLineItem
{
    std::string ref; // empty for a group
    std::vector<MadxLineItem> group;
    int repeat = 1;
    bool reflect = false;
};

struct MadxLine
{
    std::string name;
    std::vector<MadxLineItem> items;
    MadxOrigin origin;
    std::string problem; // why the definition could not be read; refused only when the line is used
};
using MadxLinePtr = std::shared_ptr<MadxLine>;

struct MadxSequence;
using MadxSequencePtr = std::shared_ptr<MadxSequence>;

struct MadxPlacement
{
    MadxElementPtr element;   // or
    MadxSequencePtr sequence; // a nested sequence placed as one node
    MadxAttr at;
    std::string from;
    MadxAttrs offsets; // the permanent misalignments given at an unlabelled placement (dx, ..., dpsi)
    MadxOrigin origin;
};

/// A seqedit operation that takes the positions of the whole sequence, run when the beam line is built.
struct MadxSequenceEdit
{
    enum class Kind { Cycle, Reflect };
    Kind kind = Kind::Cycle;
    std::string start; // cycle: the element that becomes the first
    MadxOrigin origin;
};

struct MadxSequence
{
    std::string name;
    MadxAttr length;
    double refer = 0.5; // entry 0, centre 0.5, exit 1
    std::string refpos;
    std::vector<MadxPlacement> nodes;
    std::vector<MadxSequenceEdit> edits; // in the order given
    MadxOrigin origin;
};

struct MadxDefinition
{
    MadxElementPtr element;
    MadxLinePtr line;
    MadxSequencePtr sequence;
};

struct MadxVariable
{
    double value = 0;
    MadxExprPtr expr; // deferred
    int line = 0;
    std::string problem; // why the definition could not be read; refused only when the value is used
};

/// One SELECT, FLAG=ERROR: the elements that meet every criterion it gives (FULL: every element).
struct MadxErrorSelect
{
    bool full = false;
    std::optional<NamePattern> pattern;
    std::string cls;   // lower case; empty: any class
    std::string range; // lower case, "from/to" or one place ("name", "name[n]", "#s", "#e"); empty: all
    int line = 0;
};

/// An EALIGN or EFCOMP with its values, evaluated when it was given, and the selection it acts on.
struct MadxErrorCommand
{
    bool align = true; // EALIGN; else EFCOMP
    bool add = false;  // EOPTION, ADD: added to the errors the element has, else replacing them
    std::vector<MadxErrorSelect> selection;
    double misalignment[6] = {0, 0, 0, 0, 0, 0}; // dx, dy, ds, dtheta, dphi, dpsi
    int order = 0;                               // EFCOMP: the main field order of relative errors
    double radius = 1;                           // m
    std::vector<double> dkn, dks, dknr, dksr;
    MadxOrigin origin;
};

struct MadxBeam
{
    std::string particle;
    MadxAttr mass, charge, energy, pc, gamma, current;
    bool hasMass = false, hasCharge = false, hasEnergy = false, hasPc = false, hasGamma = false;
    bool hasCurrent = false; // bcurrent, A
    bool given = false;
};

/// Reads MAD-X statements into definitions and evaluates their values: the scope of every expression.
class MadxInput : public MadxScope
{
public:
    /// An input with MAD-X's predefined variables: version, the MAD-X release whose language the reader
    /// follows (5.09.03 as 50903), which files test to choose their options.
    explicit MadxInput(MadxImportSummary& summary) : m_summary(summary)
    {
        m_variables["version"].value = 50903;
    }

    /// Reads the statements of text; `call` files are found relative to fileName's folder. Throws MadxError.
    void readText(const std::string& text, const std::string& fileName, int depth);
    /// After the whole input: checks that no sequence is left open and, without `use`, takes the last
    /// sequence (else the last line) as the beam line. Throws MadxError.
    void finish();

    /// Value of an attribute; a deferred one is evaluated now.
    double value(const MadxAttr& a);
    /// Numeric attribute of an element, fallback when it has none.
    double number(const MadxElement& e, std::string_view name, double fallback = 0);
    /// Members of an array attribute ({...}); a plain value is an array of one.
    std::vector<double> array(const MadxElement& e, std::string_view name);
    /// Length an element takes in a sequence: the arc of a rectangular bend whose l is its chord
    /// (option rbarc), 0 for a thin multipole.
    double elementLength(const MadxElement& e);

    /// The sequence chosen as the beam line, or nullptr when it is a line.
    const MadxSequence* useSequence() const { return m_useSequence.get(); }
    /// The elements of the line chosen as the beam line, resolved when `use` named it.
    const std::vector<const MadxElement*>& useLine() const { return m_useLine; }
    const std::string& useName() const { return m_useName; }
    const MadxBeam& beam() const { return m_beam; }
    /// Superperiods of the beam line: N when the line used is `name: line=(N*cell)`, whose cell is then
    /// the beam line; else 1.
    int superPeriods() const { return m_superPeriods; }
    /// The EALIGN and EFCOMP commands given since the last `use`, in their order.
    const std::vector<MadxErrorCommand>& errorCommands() const { return m_errorCommands; }
    /// The value of a variable the input defined, nothing when it defined none of that name.
    std::optional<double> definedVariable(const std::string& name);
    /// Names that were used without a definition and taken as 0.
    const std::set<std::string>& undefined() const { return m_undefined; }

    double variable(const std::string& name) override;
    double attribute(const std::string& element, const std::string& attribute) override;

private:
    [[noreturn]] void fail(const std::string& text, int line) const { throw MadxError(text, line); }

    /// Runs the statements of text (a file, a block's or a macro's body) whose first line is firstLine.
    void runStatements(const std::string& text, int firstLine, int depth);
    /// Runs an if, while, macro definition or exec statement; false for any other statement.
    bool control(const std::string& text, int line, int depth);
    void statement(const std::vector<MadxToken>& t, int line, int depth);
    void labelled(const std::vector<MadxToken>& t, std::size_t label, int line);
    void command(const std::vector<MadxToken>& t, int line, int depth);
    void defineVariable(const std::vector<MadxToken>& t, std::size_t nameAt, int line);
    void assignAttribute(const std::vector<MadxToken>& t, int line);
    void defineLine(const std::vector<MadxToken>& t, std::size_t label, int line);
    void startSequence(const std::vector<MadxToken>& t, std::size_t label, int line);
    void place(const MadxDefinition& what, const MadxAttrs& attrs, int line, bool unlabelled = false);
    void updateElement(MadxElement& element, const MadxAttrs& attrs, int line);
    /// Runs seqedit and the commands of an edit (install, remove, move, flatten, cycle, reflect,
    /// endedit); false for any other command.
    bool editCommand(const std::vector<MadxToken>& t, int line);
    void install(const MadxAttrs& attrs, int line);
    void move(const MadxAttrs& attrs, int line);
    void beamCommand(const MadxAttrs& attrs);
    void useCommand(const std::vector<MadxToken>& t, const MadxAttrs& attrs, int line);
    /// Runs select (flag=error), ealign, efcomp, eoption and refuses seterr; false for other commands.
    bool errorCommand(const std::string& name, const std::vector<MadxToken>& t, int line);
    void selectErrors(const MadxAttrs& attrs, int line);
    void ealign(const MadxAttrs& attrs, int line);
    void efcomp(const MadxAttrs& attrs, int line);

    MadxAttrs attributes(const std::vector<MadxToken>& t, std::size_t from, int line);
    MadxAttr makeAttr(const std::string& name, const std::vector<MadxToken>& t, std::size_t begin,
                      std::size_t end, bool deferred, int line);
    std::vector<MadxLineItem> lineItems(const std::vector<MadxToken>& t, std::size_t& i, std::size_t end,
                                        int line, int depth);

    void expandUsedLine(const MadxLine& line);
    void expandLine(const MadxLine& line, bool reflect, std::vector<const MadxElement*>& out, int depth);
    void expandItems(const std::vector<MadxLineItem>& items, bool reflect, const MadxLine& owner,
                     std::vector<const MadxElement*>& out, int depth);
    void countExpansionStep(const MadxLine& owner, std::size_t nodes);

    /// evaluateMadx with this input as the scope, a deferred name evaluated once per definition state.
    double evaluate(const MadxExpr& e, int line);
    /// A deferred value under its key ("name" or "element->attribute"): from the memo, or evaluated with
    /// the key marked busy, so that a definition that comes back to itself is refused.
    double deferred(const std::string& key, const MadxExpr& e, int line, const std::string& what);
    /// Records a name used without a definition.
    void noteUndefined(const std::string& name);
    /// Definitions changed: the memo of deferred values no longer holds.
    void definitionsChanged() { m_memo.clear(); }

    MadxImportSummary& m_summary;
    std::unordered_map<std::string, MadxVariable> m_variables;
    std::unordered_map<std::string, MadxDefinition> m_names;
    std::set<std::string> m_undefined;
    std::vector<std::string> m_undefinedOrder; // m_undefined in the order the names were met
    MadxSequencePtr m_open;                    // the sequence being defined
    MadxSequencePtr m_edit;                    // the sequence seqedit works on
    std::string m_file;
    bool m_stopped = false;
    bool m_returning = false; // `return` met: the rest of the file is passed over
    long m_statementsRun = 0;
    std::unordered_map<std::string, MadxMacro> m_macros;
    bool m_rbarc = true;
    MadxBeam m_beam;
    std::unordered_map<std::string, double> m_memo; // deferred values since the last definition
    std::set<std::string> m_busy;                   // deferred values being evaluated
    std::size_t m_expansionSteps = 0;               // repetitions run while lines are expanded
    std::vector<const MadxLine*> m_repeating;       // lines whose repetitions are running, innermost last

    // what `use` chose: a sequence, or a line expanded at the time of the use
    MadxSequencePtr m_useSequence;
    std::vector<const MadxElement*> m_useLine;
    std::vector<MadxElementPtr> m_keepAlive;
    std::string m_useName;
    int m_superPeriods = 1;
    bool m_used = false;
    std::vector<MadxErrorSelect> m_errorSelection;
    std::vector<MadxErrorCommand> m_errorCommands;
    bool m_errorAdd = false;    // EOPTION's ADD
    bool m_errorAddSet = false; // ADD was given once: an EOPTION without it keeps it
    MadxSequencePtr m_lastSequence;
    MadxLinePtr m_lastLine;
};

/// The errors the commands of an input give the nodes of its beam line: the permanent misalignments
/// of an element definition or a placement (DX .. DPSI, the placement's before the definition's) plus
/// those EALIGN assigns, and the field errors of EFCOMP, relative ones converted at the magnet's main
/// field; each command acts on the nodes its selection held when it was given, adding to the errors
/// a node has (EOPTION, ADD) or replacing them. A line of superperiods takes the errors of its first
/// cell, and is refused when the cells would differ.
class MadxErrorAssignment
{
public:
    /// nodes: the beam line's nodes in order (nullptr for a drift made from the positions), the cell
    /// of superPeriods cells. Throws MadxError for a range that names no node.
    MadxErrorAssignment(MadxInput& in, const std::vector<const MadxElement*>& nodes, int superPeriods);
    /// The errors of node k, placed with offsets (or nullptr), which became the element e. Throws
    /// MadxError for field errors of orders the program does not hold.
    ElementErrors errors(std::size_t k, const MadxAttrs* offsets, const LatticeElement& e) const;

private:
    MadxInput& m_in;
    std::vector<const MadxElement*> m_nodes;
    std::vector<std::vector<std::size_t>> m_commands; // per node, the commands that act on it
};

/// Element classes that become drifts of their length (zero-length ones are left out).
const std::set<std::string>& madxDriftClasses();

} // namespace kestrune

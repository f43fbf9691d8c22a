#include "io/MadxReader.h"

#include "core/Format.h"
#include "core/Kinematics.h"
#include "editor/Drawing.h"
#include "io/MadxExpression.h"
#include "optics/BetaFunctions.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <unordered_map>

namespace kestrune {

namespace {

using Tokens = std::vector<MadxToken>;

// Gaps and overlaps of sequence nodes below this are rounding, not drifts (MAD-X's own threshold).
constexpr double kPositionTolerance = 1e-6; // m
// Nodes a line or sequence may expand to before it is refused as far too long.
constexpr std::size_t kNodeLimit = 1000000;
// Files a `call` may nest.
constexpr int kCallDepth = 20;
// Deferred definitions that refer to each other deeper than this are taken as circular.
constexpr int kEvaluationDepth = 500;

struct Statement
{
    std::string text;
    int line = 0;
};

// Cuts the text into statements at ';', without comments (!, //, /* */); braces keep a macro or an
// if-block together; '&' (an old continuation mark) is a blank.
std::vector<Statement> splitStatements(const std::string& text)
{
    std::vector<Statement> statements;
    Statement current;
    int line = 1;
    int braces = 0;
    auto finish = [&]() {
        if (current.text.find_first_not_of(" \t\r\n") != std::string::npos)
            statements.push_back(current);
        current = Statement{};
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n') {
            ++line;
            current.text += ' ';
            continue;
        }
        if (c == '!' || (c == '/' && i + 1 < text.size() && text[i + 1] == '/')) {
            while (i + 1 < text.size() && text[i + 1] != '\n')
                ++i;
            continue;
        }
        if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
            const std::size_t end = text.find("*/", i + 2);
            const std::size_t stop = end == std::string::npos ? text.size() : end + 2;
            line += static_cast<int>(std::count(text.begin() + static_cast<std::ptrdiff_t>(i),
                                                text.begin() + static_cast<std::ptrdiff_t>(stop), '\n'));
            i = stop - 1;
            current.text += ' ';
            continue;
        }
        if (current.text.find_first_not_of(" \t\r") == std::string::npos && !std::isspace(static_cast<unsigned char>(c)))
            current.line = line;
        if (c == '"' || c == '\'') {
            const std::size_t close = text.find(c, i + 1);
            const std::size_t stop = close == std::string::npos ? text.size() - 1 : close;
            const std::string quoted = text.substr(i, stop - i + 1);
            line += static_cast<int>(std::count(quoted.begin(), quoted.end(), '\n'));
            current.text += quoted;
            i = stop;
            continue;
        }
        if (c == '{')
            ++braces;
        else if (c == '}')
            braces = std::max(0, braces - 1);
        if (c == ';' && braces == 0) {
            finish();
            continue;
        }
        current.text += c == '&' || c == '\r' || c == '\t' ? ' ' : c;
    }
    finish();
    return statements;
}

bool isSymbol(const Tokens& t, std::size_t i, const char* symbol)
{
    return i < t.size() && t[i].kind == MadxToken::Kind::Symbol && t[i].value == symbol;
}

bool isName(const Tokens& t, std::size_t i)
{
    return i < t.size() && t[i].kind == MadxToken::Kind::Name;
}

// ----- definitions

struct Attr
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
using Attrs = std::map<std::string, Attr>;

struct Origin
{
    std::string file;
    int line = 0;
};

struct ElementDef
{
    std::string name; // as written
    std::string base; // MAD-X class at the root of the inheritance
    Attrs attrs;
    Origin origin;
};
using ElementPtr = std::shared_ptr<ElementDef>;

struct LineItem
{
    std::string ref; // empty for a group
    std::vector<LineItem> group;
    int repeat = 1;
    bool reflect = false;
};

struct LineDef
{
    std::string name;
    std::vector<LineItem> items;
    Origin origin;
};
using LinePtr = std::shared_ptr<LineDef>;

struct SequenceDef;
using SequencePtr = std::shared_ptr<SequenceDef>;

struct Placement
{
    ElementPtr element;   // or
    SequencePtr sequence; // a nested sequence placed as one node
    Attr at;
    std::string from;
    Origin origin;
};

struct SequenceDef
{
    std::string name;
    Attr length;
    double refer = 0.5; // entry 0, centre 0.5, exit 1
    std::string refpos;
    std::vector<Placement> nodes;
    Origin origin;
};

struct Definition
{
    ElementPtr element;
    LinePtr line;
    SequencePtr sequence;
};

struct Variable
{
    double value = 0;
    MadxExprPtr expr; // deferred
    int line = 0;
};

// A node of the expanded beam line: an element with its entrance (sequences) or in line order.
struct Node
{
    const ElementDef* element = nullptr; // nullptr: a drift made from the positions
    double entry = 0;
    double length = 0;
    int order = 0;
    Origin origin;
};

struct BeamSpec
{
    std::string particle;
    Attr mass, charge, energy, pc, gamma;
    bool hasMass = false, hasCharge = false, hasEnergy = false, hasPc = false, hasGamma = false;
    bool given = false;
};

const std::set<std::string>& driftClasses()
{
    static const std::set<std::string> classes{
        "marker",  "monitor", "hmonitor", "vmonitor", "instrument",  "placeholder", "kicker",
        "hkicker", "vkicker", "tkicker",  "rfcavity", "collimator", "rcollimator", "ecollimator"};
    return classes;
}

const std::set<std::string>& baseClasses()
{
    static const std::set<std::string> classes = [] {
        std::set<std::string> c = driftClasses();
        for (const char* name : {"drift", "sbend", "rbend", "quadrupole", "sextupole", "octupole", "multipole",
                                 "solenoid", "dipedge", "srotation", "xrotation", "yrotation", "changeref",
                                 "translation", "crabcavity", "rfmultipole", "beambeam", "matrix", "elseparator",
                                 "wire", "nllens", "twcavity", "hacdipole", "vacdipole", "rfcavity"})
            c.insert(name);
        return c;
    }();
    return classes;
}

// Commands that say nothing about the beam line and are passed over without a remark.
const std::set<std::string>& quietCommands()
{
    static const std::set<std::string> commands{
        "twiss",   "select",   "match",      "endmatch", "vary",      "constraint", "lmdif",     "migrad",
        "simplex", "jacobian", "weight",     "global",   "emit",      "write",      "plot",      "title",
        "set",     "show",     "value",      "print",    "printf",    "assign",     "system",    "save",
        "survey",  "track",    "endtrack",   "start",    "run",       "observe",    "dynap",     "help",
        "esave",   "delete",   "readtable",  "setvars",  "fill",      "coguess",    "correct",   "usemonitor",
        "usekick", "ealign",   "efcomp",     "eoption",  "eprint",    "seterr",     "makethin",  "dumpsequ",
        "resbeam", "create",   "touschek",   "aperture", "sodd",      "savebeta",   "beta0",     "resplot",
        "setplot", "plot",     "ibs",        "sxfread",  "sxfwrite",  "tabstring",  "table",     "fill_knob",
        "shrink",  "option",   "sixtrack",   "c6t",      "dumptable", "readmytable"};
    return commands;
}

const std::set<std::string>& textAttributes()
{
    static const std::set<std::string> names{"type",    "apertype", "from",   "refpos", "refer",
                                             "particle", "sequence", "period", "file",   "comments", "rbarc"};
    return names;
}

class Reader : public MadxScope
{
public:
    explicit Reader(MadxImportSummary& summary) : m_summary(summary) {}

    void readText(const std::string& text, const std::string& fileName, int depth);
    void build(State& state);

    double variable(const std::string& name) override;
    double attribute(const std::string& element, const std::string& attribute) override;

private:
    [[noreturn]] void fail(const std::string& text, int line) const { throw MadxError(text, line); }

    void statement(const Tokens& t, int line, int depth);
    void labelled(const Tokens& t, std::size_t label, int line);
    void command(const Tokens& t, int line, int depth);
    void defineVariable(const Tokens& t, std::size_t nameAt, int line);
    void assignAttribute(const Tokens& t, int line);
    void defineLine(const Tokens& t, std::size_t label, int line);
    void startSequence(const Tokens& t, std::size_t label, int line);
    void place(const Definition& what, const Attrs& attrs, int line);
    void beamCommand(const Attrs& attrs);
    void useCommand(const Tokens& t, const Attrs& attrs, int line);

    Attrs attributes(const Tokens& t, std::size_t from, int line);
    Attr makeAttr(const std::string& name, const Tokens& t, std::size_t begin, std::size_t end, bool deferred,
                  int line);
    std::vector<LineItem> lineItems(const Tokens& t, std::size_t& i, std::size_t end, int line);

    double value(const Attr& a);
    double number(const ElementDef& e, const std::string& name, double fallback = 0);
    std::vector<double> array(const ElementDef& e, const std::string& name);
    bool has(const ElementDef& e, const std::string& name) const { return e.attrs.count(name) > 0; }
    double elementLength(const ElementDef& e);

    void expandLine(const LineDef& line, bool reflect, std::vector<const ElementDef*>& out, int depth);
    void expandItems(const std::vector<LineItem>& items, bool reflect, const LineDef& owner,
                     std::vector<const ElementDef*>& out, int depth);
    void sequenceNodes(const SequenceDef& seq, double offset, std::vector<Node>& out, int depth);
    double referencePosition(const SequenceDef& seq, std::size_t index, std::vector<int>& state, int depth);
    std::vector<Node> beamLineNodes();
    bool mapElement(const ElementDef& def, LatticeElement& out);
    void applyBeam(State& state);

    MadxImportSummary& m_summary;
    std::unordered_map<std::string, Variable> m_variables;
    std::unordered_map<std::string, Definition> m_names;
    std::set<std::string> m_undefined;
    SequencePtr m_open; // the sequence being defined
    std::string m_file;
    bool m_stopped = false;
    bool m_rbarc = true;
    int m_evaluationDepth = 0;
    BeamSpec m_beam;

    // what `use` chose: a sequence, or a line expanded at the time of the use
    SequencePtr m_useSequence;
    std::vector<const ElementDef*> m_useLine;
    std::vector<ElementPtr> m_keepAlive;
    std::string m_useName;
    bool m_used = false;
    SequencePtr m_lastSequence;
    LinePtr m_lastLine;
    // positions resolved while a sequence is expanded
    std::vector<double> m_positions;
};

// ----- reading statements

void Reader::readText(const std::string& text, const std::string& fileName, int depth)
{
    const std::string outer = m_file;
    m_file = fileName;
    for (const Statement& s : splitStatements(text)) {
        if (m_stopped)
            break;
        Tokens tokens;
        try {
            tokens = tokenizeMadx(s.text, s.line);
        } catch (MadxError& e) {
            e.file = fileName;
            throw;
        }
        if (tokens.empty())
            continue;
        if (isName(tokens, 0) && tokens[0].value == "return" && tokens.size() == 1)
            break;
        try {
            statement(tokens, s.line, depth);
        } catch (MadxError& e) {
            if (e.file.empty()) {
                e.file = fileName;
                if (e.line == 0)
                    e.line = s.line;
            }
            throw;
        }
    }
    m_file = outer;
}

void Reader::statement(const Tokens& t, int line, int depth)
{
    std::size_t i = 0;
    // declarations that only qualify what follows
    while (isName(t, i) && isName(t, i + 1) &&
           (t[i].value == "real" || t[i].value == "int" || t[i].value == "const" || t[i].value == "shared"))
        ++i;
    if (!isName(t, i))
        fail("a statement must start with a name, found '" + t[i].text + "'", line);
    const std::string& head = t[i].value;
    if (head == "if" || head == "while" || head == "else" || head == "elseif")
        fail("'" + t[i].text + "' blocks are not supported", line);
    for (const MadxToken& token : t)
        if (token.kind == MadxToken::Kind::Name && token.value == "macro")
            fail("macros are not supported", line);
    if (isSymbol(t, i + 1, "(")) {
        // name(args): line = (...)
        fail("lines with arguments are not supported ('" + t[i].text + "(...)')", line);
    }
    if (isSymbol(t, i + 1, ":"))
        return labelled(t, i, line);
    if (isSymbol(t, i + 1, "=") || isSymbol(t, i + 1, ":="))
        return defineVariable(t, i, line);
    if (isSymbol(t, i + 1, "->"))
        return assignAttribute(std::vector<MadxToken>(t.begin() + static_cast<std::ptrdiff_t>(i), t.end()), line);
    command(std::vector<MadxToken>(t.begin() + static_cast<std::ptrdiff_t>(i), t.end()), line, depth);
}

void Reader::defineVariable(const Tokens& t, std::size_t nameAt, int line)
{
    Variable v;
    v.line = line;
    MadxExprPtr e = parseMadxExpression(t, nameAt + 2, t.size(), line);
    if (t[nameAt + 1].value == ":=")
        v.expr = e;
    else
        v.value = evaluateMadx(*e, *this, line);
    m_variables[t[nameAt].value] = v;
}

void Reader::assignAttribute(const Tokens& t, int line)
{
    if (!isName(t, 2) || !(isSymbol(t, 3, "=") || isSymbol(t, 3, ":=")))
        fail("'" + t[0].text + "->attribute = value' expected", line);
    const auto found = m_names.find(t[0].value);
    if (found == m_names.end())
        fail("'" + t[0].text + "' is not defined", line);
    Attr a = makeAttr(t[2].value, t, 4, t.size(), t[3].value == ":=", line);
    if (found->second.element)
        found->second.element->attrs[t[2].value] = a;
    else if (found->second.sequence && t[2].value == "l")
        found->second.sequence->length = a;
}

void Reader::labelled(const Tokens& t, std::size_t label, int line)
{
    const std::size_t c = label + 2;
    if (!isName(t, c))
        fail("a class or 'line' must follow '" + t[label].text + ":'", line);
    const std::string& cls = t[c].value;
    if (cls == "line" && isSymbol(t, c + 1, "="))
        return defineLine(t, label, line);
    if (cls == "sequence")
        return startSequence(t, label, line);

    auto def = std::make_shared<ElementDef>();
    def->name = t[label].text;
    def->origin = {m_file, line};
    const auto parent = m_names.find(cls);
    if (parent != m_names.end() && parent->second.element) {
        def->base = parent->second.element->base;
        def->attrs = parent->second.element->attrs;
    } else if (parent != m_names.end() && parent->second.sequence && m_open) {
        // label: nested_sequence, at=...
        place(parent->second, attributes(t, c + 1, line), line);
        return;
    } else if (baseClasses().count(cls) > 0) {
        def->base = cls;
    } else if (parent != m_names.end()) {
        fail("'" + t[c].text + "' is a line or a sequence, not an element class", line);
    } else {
        fail("unknown element class '" + t[c].text + "'", line);
    }
    Attrs attrs = attributes(t, c + 1, line);
    for (auto& [name, a] : attrs)
        if (name != "at" && name != "from")
            def->attrs[name] = a;
    m_names[t[label].value] = Definition{def, nullptr, nullptr};
    if (m_open)
        place(m_names[t[label].value], attrs, line);
}

void Reader::command(const Tokens& t, int line, int depth)
{
    const std::string& name = t[0].value;
    if (m_open) {
        if (name == "endsequence") {
            m_lastSequence = m_open;
            m_open.reset();
            return;
        }
        const auto found = m_names.find(name);
        if (found == m_names.end() || found->second.line)
            fail("'" + t[0].text + "' placed in sequence " + m_open->name + " is not a defined element", line);
        place(found->second, attributes(t, 1, line), line);
        return;
    }
    if (name == "endsequence")
        fail("'endsequence' without a sequence", line);
    if (name == "exec")
        fail("macros are not supported (exec)", line);
    if (name == "seqedit")
        fail("sequence editing (seqedit) is not supported", line);
    if (name == "stop" || name == "exit" || name == "quit") {
        m_stopped = true;
        return;
    }
    if (name != "call" && name != "beam" && name != "use" && name != "option") {
        if (quietCommands().count(name) > 0 || m_names.count(name) > 0 || name.rfind("ptc_", 0) == 0)
            return;
        if (std::find(m_summary.skipped.begin(), m_summary.skipped.end(), t[0].text) == m_summary.skipped.end())
            m_summary.skipped.push_back(t[0].text);
        return;
    }
    const Attrs attrs = attributes(t, 1, line);
    if (name == "call") {
        const auto file = attrs.find("file");
        if (file == attrs.end() || file->second.text.empty())
            fail("'call' without 'file='", line);
        if (depth >= kCallDepth)
            fail("'call' nested deeper than " + std::to_string(kCallDepth) + " files", line);
        namespace fs = std::filesystem;
        fs::path path(file->second.text);
        if (path.is_relative())
            path = fs::path(m_file).parent_path() / path;
        std::ifstream in(path, std::ios::binary);
        if (!in)
            fail("cannot open the called file " + path.string(), line);
        std::ostringstream buffer;
        buffer << in.rdbuf();
        readText(buffer.str(), path.string(), depth + 1);
        return;
    }
    if (name == "beam")
        return beamCommand(attrs);
    if (name == "use")
        return useCommand(t, attrs, line);
    const auto rbarc = attrs.find("rbarc"); // option
    if (rbarc != attrs.end())
        m_rbarc = rbarc->second.kind == Attr::Kind::Flag ? rbarc->second.on
                                                          : rbarc->second.text != "false" && rbarc->second.text != "0";
}

// ----- attributes

Attrs Reader::attributes(const Tokens& t, std::size_t i, int line)
{
    Attrs attrs;
    while (i < t.size()) {
        if (isSymbol(t, i, ",")) {
            ++i;
            continue;
        }
        bool negated = false;
        if (isSymbol(t, i, "-")) {
            negated = true;
            ++i;
        }
        if (!isName(t, i))
            fail("an attribute name expected, found '" + t[i].text + "'", line);
        const std::string name = t[i].value;
        if (!(isSymbol(t, i + 1, "=") || isSymbol(t, i + 1, ":="))) {
            Attr flag;
            flag.kind = Attr::Kind::Flag;
            flag.on = !negated;
            flag.line = line;
            flag.text = name;
            attrs[name] = flag;
            ++i;
            continue;
        }
        const bool deferred = t[i + 1].value == ":=";
        // the value runs to the next comma outside brackets, or to the next "name =" (a missing comma)
        std::size_t end = i + 2;
        int depth = 0;
        while (end < t.size()) {
            if (isSymbol(t, end, "(") || isSymbol(t, end, "{"))
                ++depth;
            else if (isSymbol(t, end, ")") || isSymbol(t, end, "}"))
                --depth;
            else if (depth == 0 && isSymbol(t, end, ","))
                break;
            else if (depth == 0 && end > i + 2 && isName(t, end) &&
                     (isSymbol(t, end + 1, "=") || isSymbol(t, end + 1, ":=")))
                break;
            ++end;
        }
        attrs[name] = makeAttr(name, t, i + 2, end, deferred, line);
        i = end;
    }
    return attrs;
}

Attr Reader::makeAttr(const std::string& name, const Tokens& t, std::size_t begin, std::size_t end, bool deferred,
                      int line)
{
    Attr a;
    a.line = line;
    if (begin >= end)
        fail("the value of '" + name + "' is missing", line);
    if (textAttributes().count(name) > 0) {
        a.kind = Attr::Kind::Text;
        // names are compared in lower case; a quoted text keeps what was written
        for (std::size_t i = begin; i < end; ++i)
            a.text += t[i].kind == MadxToken::Kind::Symbol ? t[i].text : t[i].value;
        if (end - begin == 1 && t[begin].kind == MadxToken::Kind::String)
            for (char& c : a.text)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return a;
    }
    try {
        if (isSymbol(t, begin, "{")) {
            a.kind = Attr::Kind::Array;
            std::size_t i = begin + 1;
            const std::size_t close = end - 1;
            if (!isSymbol(t, close, "}"))
                fail("'}' expected at the end of the value of '" + name + "'", line);
            while (i < close) {
                std::size_t j = i;
                int depth = 0;
                while (j < close && !(depth == 0 && isSymbol(t, j, ","))) {
                    depth += isSymbol(t, j, "(") ? 1 : isSymbol(t, j, ")") ? -1 : 0;
                    ++j;
                }
                MadxExprPtr e = parseMadxExpression(t, i, j, line);
                if (deferred)
                    a.items.push_back(e);
                else
                    a.values.push_back(evaluateMadx(*e, *this, line));
                i = j + 1;
            }
            if (deferred) {
                a.values.clear();
            }
            return a;
        }
        a.expr = parseMadxExpression(t, begin, end, line);
        if (deferred) {
            a.kind = Attr::Kind::Deferred;
        } else {
            a.kind = Attr::Kind::Value;
            a.value = evaluateMadx(*a.expr, *this, line);
        }
    } catch (const MadxError&) {
        // a value the program has no use for may be anything the language allows
        static const std::set<std::string> used{"l",  "angle", "k1",  "k2",  "e1",  "e2",    "hgap",
                                                "fint", "tilt", "k1s", "k2s", "ks",  "knl",   "ksl",
                                                "at", "energy", "pc", "gamma", "mass", "charge", "rbarc", "k0"};
        if (used.count(name) > 0)
            throw;
        a.kind = Attr::Kind::Text;
        a.text.clear();
    }
    return a;
}

double Reader::value(const Attr& a)
{
    switch (a.kind) {
    case Attr::Kind::Value:
        return a.value;
    case Attr::Kind::Deferred: {
        if (++m_evaluationDepth > kEvaluationDepth)
            fail("a deferred definition refers to itself", a.line);
        const double v = evaluateMadx(*a.expr, *this, a.line);
        --m_evaluationDepth;
        return v;
    }
    case Attr::Kind::Flag:
        return a.on ? 1 : 0;
    default:
        return 0;
    }
}

double Reader::variable(const std::string& name)
{
    const auto found = m_variables.find(name);
    if (found == m_variables.end()) {
        m_undefined.insert(name);
        return 0;
    }
    if (!found->second.expr)
        return found->second.value;
    if (++m_evaluationDepth > kEvaluationDepth)
        fail("the deferred variable '" + name + "' refers to itself", found->second.line);
    const MadxExprPtr e = found->second.expr;
    const double v = evaluateMadx(*e, *this, found->second.line);
    --m_evaluationDepth;
    return v;
}

double Reader::attribute(const std::string& element, const std::string& attribute)
{
    const auto found = m_names.find(element);
    if (found != m_names.end() && found->second.element) {
        const ElementDef& e = *found->second.element;
        if (attribute == "l")
            return number(e, "l");
        const auto a = e.attrs.find(attribute);
        if (a != e.attrs.end())
            return value(a->second);
        return 0;
    }
    if (found != m_names.end() && found->second.sequence && attribute == "l")
        return value(found->second.sequence->length);
    m_undefined.insert(element + "->" + attribute);
    return 0;
}

double Reader::number(const ElementDef& e, const std::string& name, double fallback)
{
    const auto a = e.attrs.find(name);
    if (a == e.attrs.end())
        return fallback;
    if (a->second.kind == Attr::Kind::Text)
        return fallback;
    return value(a->second);
}

std::vector<double> Reader::array(const ElementDef& e, const std::string& name)
{
    const auto a = e.attrs.find(name);
    if (a == e.attrs.end())
        return {};
    if (a->second.kind == Attr::Kind::Array) {
        if (a->second.items.empty())
            return a->second.values;
        std::vector<double> values;
        for (const MadxExprPtr& item : a->second.items)
            values.push_back(evaluateMadx(*item, *this, a->second.line));
        return values;
    }
    return {value(a->second)};
}

// ----- lines and sequences

std::vector<LineItem> Reader::lineItems(const Tokens& t, std::size_t& i, std::size_t end, int line)
{
    std::vector<LineItem> items;
    while (i < end && !isSymbol(t, i, ")")) {
        if (isSymbol(t, i, ",") || isSymbol(t, i, "+")) {
            ++i;
            continue;
        }
        LineItem item;
        if (i + 1 < end && t[i].kind == MadxToken::Kind::Number && isSymbol(t, i + 1, "*")) {
            const double n = t[i].number;
            if (n < 0 || n != std::floor(n) || n > 1e6)
                fail("a repetition count must be a whole number, found '" + t[i].text + "'", line);
            item.repeat = static_cast<int>(n);
            i += 2;
        }
        if (isSymbol(t, i, "-")) {
            item.reflect = true;
            ++i;
        }
        if (isSymbol(t, i, "(")) {
            ++i;
            item.group = lineItems(t, i, end, line);
            if (!isSymbol(t, i, ")"))
                fail("')' expected in a line", line);
            ++i;
        } else if (isName(t, i)) {
            item.ref = t[i].value;
            ++i;
            if (isSymbol(t, i, "("))
                fail("lines with arguments are not supported ('" + t[i - 1].text + "(...)')", line);
        } else {
            fail("an element or line name expected in a line, found '" + (i < end ? t[i].text : "") + "'", line);
        }
        items.push_back(std::move(item));
    }
    return items;
}

void Reader::defineLine(const Tokens& t, std::size_t label, int line)
{
    std::size_t i = label + 4;
    if (!isSymbol(t, i, "("))
        fail("'(' expected after 'line ='", line);
    ++i;
    auto def = std::make_shared<LineDef>();
    def->name = t[label].text;
    def->origin = {m_file, line};
    def->items = lineItems(t, i, t.size(), line);
    if (!isSymbol(t, i, ")") || i + 1 != t.size())
        fail("a line must end with ')'", line);
    m_names[t[label].value] = Definition{nullptr, def, nullptr};
    m_lastLine = def;
}

void Reader::startSequence(const Tokens& t, std::size_t label, int line)
{
    if (m_open)
        fail("sequence " + t[label].text + " starts inside sequence " + m_open->name, line);
    auto seq = std::make_shared<SequenceDef>();
    seq->name = t[label].text;
    seq->origin = {m_file, line};
    const Attrs attrs = attributes(t, label + 3, line);
    const auto l = attrs.find("l");
    if (l == attrs.end())
        fail("sequence " + seq->name + " has no length (l=)", line);
    seq->length = l->second;
    const auto refer = attrs.find("refer");
    if (refer != attrs.end()) {
        const std::string& r = refer->second.text;
        if (r == "entry")
            seq->refer = 0;
        else if (r == "centre" || r == "center")
            seq->refer = 0.5;
        else if (r == "exit")
            seq->refer = 1;
        else
            fail("refer must be entry, centre or exit, found '" + r + "'", line);
    }
    const auto refpos = attrs.find("refpos");
    if (refpos != attrs.end())
        seq->refpos = refpos->second.text;
    m_names[t[label].value] = Definition{nullptr, nullptr, seq};
    m_open = seq;
}

void Reader::place(const Definition& what, const Attrs& attrs, int line)
{
    Placement p;
    p.element = what.element;
    p.sequence = what.sequence;
    p.origin = {m_file, line};
    const auto at = attrs.find("at");
    if (at == attrs.end())
        fail("the position (at=) of a node of sequence " + m_open->name + " is missing", line);
    p.at = at->second;
    const auto from = attrs.find("from");
    if (from != attrs.end())
        p.from = from->second.text;
    m_open->nodes.push_back(std::move(p));
}

void Reader::beamCommand(const Attrs& attrs)
{
    m_beam.given = true;
    const auto set = [&](const char* name, Attr& target, bool& flag) {
        const auto a = attrs.find(name);
        if (a != attrs.end()) {
            target = a->second;
            flag = true;
        }
    };
    const auto particle = attrs.find("particle");
    if (particle != attrs.end()) {
        m_beam.particle = particle->second.text;
        m_beam.hasMass = m_beam.hasCharge = false;
    }
    set("mass", m_beam.mass, m_beam.hasMass);
    set("charge", m_beam.charge, m_beam.hasCharge);
    bool energy = false, pc = false, gamma = false;
    Attr e, p, g;
    set("energy", e, energy);
    set("pc", p, pc);
    set("gamma", g, gamma);
    if (energy || pc || gamma) {
        m_beam.hasEnergy = energy;
        m_beam.hasPc = pc;
        m_beam.hasGamma = gamma;
        m_beam.energy = e;
        m_beam.pc = p;
        m_beam.gamma = g;
    }
}

void Reader::useCommand(const Tokens& t, const Attrs& attrs, int line)
{
    std::string name;
    for (const char* key : {"sequence", "period"}) {
        const auto a = attrs.find(key);
        if (a != attrs.end())
            name = a->second.text;
    }
    if (name.empty() && isName(t, 2) && t.size() == 3)
        name = t[2].value; // use, name;
    if (name.empty())
        fail("'use' names no sequence or line", line);
    const auto found = m_names.find(name);
    if (found == m_names.end() || found->second.element)
        fail("'use' names '" + name + "', which is no sequence or line", line);
    m_used = true;
    m_useName = found->second.sequence ? found->second.sequence->name : found->second.line->name;
    m_useSequence = found->second.sequence;
    m_useLine.clear();
    if (found->second.line)
        expandLine(*found->second.line, false, m_useLine, 0);
}

void Reader::expandItems(const std::vector<LineItem>& items, bool reflect, const LineDef& owner,
                         std::vector<const ElementDef*>& out, int depth)
{
    const std::size_t n = items.size();
    for (std::size_t k = 0; k < n; ++k) {
        const LineItem& item = items[reflect ? n - 1 - k : k];
        for (int r = 0; r < item.repeat; ++r) {
            if (out.size() > kNodeLimit)
                fail("line " + owner.name + " expands to more than " + std::to_string(kNodeLimit) + " nodes",
                     owner.origin.line);
            if (item.ref.empty()) {
                expandItems(item.group, reflect != item.reflect, owner, out, depth);
                continue;
            }
            const auto found = m_names.find(item.ref);
            if (found == m_names.end())
                fail("line " + owner.name + " uses '" + item.ref + "', which is not defined", owner.origin.line);
            if (found->second.element) {
                m_keepAlive.push_back(found->second.element);
                out.push_back(found->second.element.get());
            } else if (found->second.line) {
                expandLine(*found->second.line, reflect != item.reflect, out, depth + 1);
            } else {
                fail("line " + owner.name + " uses the sequence '" + item.ref + "'; sequences cannot be parts of lines",
                     owner.origin.line);
            }
        }
    }
}

void Reader::expandLine(const LineDef& line, bool reflect, std::vector<const ElementDef*>& out, int depth)
{
    if (depth > 100)
        fail("line " + line.name + " contains itself", line.origin.line);
    expandItems(line.items, reflect, line, out, depth);
}

double Reader::elementLength(const ElementDef& e)
{
    if (e.base == "multipole")
        return 0; // MAD-X takes a multipole as thin whatever its l
    const double l = number(e, "l");
    if (e.base == "rbend" && m_rbarc) {
        // with rbarc, l of a rectangular bend is its chord
        const double half = number(e, "angle") / 2;
        return half == 0 ? l : l * half / std::sin(half);
    }
    return l;
}

// Position of node `index`'s reference point in its sequence, following from= (state: 0 new, 1 busy, 2 done).
double Reader::referencePosition(const SequenceDef& seq, std::size_t index, std::vector<int>& state, int depth)
{
    if (state[index] == 2)
        return m_positions[index];
    const Placement& p = seq.nodes[index];
    if (state[index] == 1 || depth > 10000)
        fail("the positions of sequence " + seq.name + " refer to each other in a circle (from=" + p.from + ")",
             p.origin.line);
    state[index] = 1;
    double position = value(p.at);
    if (!p.from.empty()) {
        std::size_t target = seq.nodes.size();
        for (std::size_t j = 0; j < seq.nodes.size() && target == seq.nodes.size(); ++j) {
            const Placement& q = seq.nodes[j];
            const std::string name = q.element ? q.element->name : q.sequence->name;
            std::string lowerName = name;
            std::transform(lowerName.begin(), lowerName.end(), lowerName.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (lowerName == p.from)
                target = j;
        }
        if (target == seq.nodes.size())
            fail("from=" + p.from + " names no node of sequence " + seq.name, p.origin.line);
        position += referencePosition(seq, target, state, depth + 1);
    }
    state[index] = 2;
    m_positions[index] = position;
    return position;
}

void Reader::sequenceNodes(const SequenceDef& seq, double offset, std::vector<Node>& out, int depth)
{
    if (depth > 50)
        fail("sequence " + seq.name + " contains itself", seq.origin.line);
    const std::vector<double> saved = m_positions;
    m_positions.assign(seq.nodes.size(), 0);
    std::vector<int> state(seq.nodes.size(), 0);
    std::vector<double> positions(seq.nodes.size());
    for (std::size_t i = 0; i < seq.nodes.size(); ++i)
        positions[i] = referencePosition(seq, i, state, 0);
    m_positions = saved;
    for (std::size_t i = 0; i < seq.nodes.size(); ++i) {
        const Placement& p = seq.nodes[i];
        if (out.size() > kNodeLimit)
            fail("sequence " + seq.name + " expands to more than " + std::to_string(kNodeLimit) + " nodes",
                 seq.origin.line);
        if (p.sequence) {
            const SequenceDef& inner = *p.sequence;
            double reference = seq.refer * value(inner.length);
            if (!inner.refpos.empty()) {
                // the inner sequence is placed by the position of its refpos node
                bool found = false;
                std::vector<Node> innerNodes;
                sequenceNodes(inner, 0, innerNodes, depth + 1);
                for (const Node& n : innerNodes) {
                    if (n.element == nullptr)
                        continue;
                    std::string lowerName = n.element->name;
                    std::transform(lowerName.begin(), lowerName.end(), lowerName.begin(),
                                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
                    if (!found && lowerName == inner.refpos) {
                        reference = n.entry + n.length / 2;
                        found = true;
                    }
                }
                if (!found)
                    fail("refpos=" + inner.refpos + " names no element of sequence " + inner.name,
                         inner.origin.line);
            }
            sequenceNodes(inner, offset + positions[i] - reference, out, depth + 1);
            continue;
        }
        Node n;
        n.element = p.element.get();
        n.length = elementLength(*p.element);
        n.entry = offset + positions[i] - seq.refer * n.length;
        n.origin = p.origin;
        out.push_back(n);
    }
}

std::vector<Node> Reader::beamLineNodes()
{
    std::vector<Node> nodes;
    if (!m_useSequence && m_used) {
        double s = 0;
        for (const ElementDef* e : m_useLine) {
            Node n;
            n.element = e;
            n.length = elementLength(*e);
            n.entry = s;
            n.origin = e->origin;
            s += n.length;
            nodes.push_back(n);
        }
        return nodes;
    }
    const SequenceDef& seq = *m_useSequence;
    std::vector<Node> placed;
    sequenceNodes(seq, 0, placed, 0);
    for (std::size_t i = 0; i < placed.size(); ++i)
        placed[i].order = static_cast<int>(i);
    // nodes at one position (within rounding) keep the order in which they were written
    std::stable_sort(placed.begin(), placed.end(), [](const Node& a, const Node& b) {
        return std::llround(a.entry / kPositionTolerance) < std::llround(b.entry / kPositionTolerance);
    });
    double cursor = 0;
    const Node* previous = nullptr;
    for (const Node& n : placed) {
        const double gap = n.entry - cursor;
        if (gap < -kPositionTolerance)
            fail("negative drift: " + n.element->name + " starts at " + shortestFloat(n.entry) + " m, before " +
                     (previous ? previous->element->name + " ends at " : std::string("the sequence starts at ")) +
                     shortestFloat(cursor) + " m",
                 n.origin.line);
        if (gap > kPositionTolerance) {
            Node drift;
            drift.entry = cursor;
            drift.length = gap;
            nodes.push_back(drift);
        }
        nodes.push_back(n);
        // a node off by rounding starts where the one before ended
        cursor = gap > kPositionTolerance ? n.entry + n.length : cursor + n.length;
        previous = &n;
    }
    const double end = value(seq.length);
    if (cursor - end > kPositionTolerance)
        fail((previous ? previous->element->name : std::string("a node")) + " ends at " + shortestFloat(cursor) +
                 " m, beyond the length of sequence " + seq.name + " (" + shortestFloat(end) + " m)",
             previous ? previous->origin.line : seq.origin.line);
    if (end - cursor > kPositionTolerance) {
        Node drift;
        drift.entry = cursor;
        drift.length = end - cursor;
        nodes.push_back(drift);
    }
    return nodes;
}

// ----- mapping onto the program's elements

std::string where(const ElementDef& def)
{
    return def.name + " (" + def.base + ")";
}

bool Reader::mapElement(const ElementDef& def, LatticeElement& out)
{
    const std::string& cls = def.base;
    const int line = def.origin.line;
    auto refuse = [&](const std::string& what) -> bool {
        throw MadxError(what + " (" + where(def) + ")", line, def.origin.file);
    };
    if (number(def, "tilt") != 0)
        refuse("tilted elements are not supported");
    if (number(def, "k1s") != 0 || number(def, "k2s") != 0)
        refuse("skew components are not supported");
    out = LatticeElement{};
    out.name = elementName(def.name);
    const double l = elementLength(def);
    out.length = l;
    if (cls == "drift") {
        out.code = code::kDrift;
        return l != 0;
    }
    if (cls == "sbend" || cls == "rbend") {
        const double angle = number(def, "angle");
        if (l <= 0)
            refuse("a bending magnet needs a length");
        const double e1 = number(def, "e1");
        const double e2 = number(def, "e2");
        const double hgap = number(def, "hgap");
        const auto fintAttr = def.attrs.find("fint");
        const double fint = fintAttr == def.attrs.end()                 ? 0
                            : fintAttr->second.kind == Attr::Kind::Flag ? (fintAttr->second.on ? 0.5 : 0)
                                                                        : value(fintAttr->second);
        const bool fringe = hgap != 0 && fint != 0;
        out.curvature = angle / l;
        out.k = number(def, "k1");
        if (cls == "rbend") {
            out.ain = angle / 2 + e1;
            out.aout = angle / 2 + e2;
            out.code = e1 == 0 && e2 == 0 ? code::kRectangularBend : code::kWedgeBend;
        } else {
            out.ain = e1;
            out.aout = e2;
            out.code = e1 == 0 && e2 == 0 && !fringe ? code::kSectorBend : code::kWedgeBend;
        }
        // the program's face matrix carries the fringe term h^2 G / (3 cos^2 psi), MAD-X's first-order term
        // is 2 h^2 hgap fint / cos^2 psi: G = 6 hgap fint. A sector magnet has no faces and keeps its full gap.
        if (fringe)
            out.gap = (3 * fint) * (2 * hgap);
        else if (out.code == code::kSectorBend)
            out.gap = 2 * hgap;
        return true;
    }
    if (cls == "quadrupole") {
        out.code = code::kQuadrupole;
        out.k = number(def, "k1");
        if (l == 0 && out.k != 0)
            refuse("thin quadrupoles are not supported");
        return l != 0;
    }
    if (cls == "sextupole") {
        out.m = number(def, "k2");
        const auto type = def.attrs.find("type");
        const bool special = type != def.attrs.end() && type->second.text == "special";
        out.code = special ? code::kSextupoleSpecial : out.m >= 0 ? code::kSextupoleF : code::kSextupoleD;
        if (l == 0 && out.m != 0)
            refuse("thin sextupoles are not supported");
        return l != 0;
    }
    if (cls == "multipole" || (cls == "octupole" && l == 0)) {
        const std::vector<double> knl = array(def, "knl");
        for (double v : array(def, "ksl"))
            if (v != 0)
                refuse("skew multipole components are not supported");
        static const char* const kOrders[] = {"dipole", "quadrupole", "sextupole"};
        for (std::size_t n = 0; n < knl.size() && n < 3; ++n)
            if (knl[n] != 0)
                refuse(std::string("thin multipoles with a ") + kOrders[n] + " component are not supported");
        ++m_summary.thinMultipoles;
        return false;
    }
    if (cls == "octupole" || driftClasses().count(cls) > 0) {
        const auto type = def.attrs.find("type");
        const std::string pumpMark = "vacuum pump";
        if (l == 0 && type != def.attrs.end() && type->second.text.rfind(pumpMark, 0) == 0) {
            // the program's own vacuum pumps travel as markers: type="vacuum pump <speed> l/s"
            out.code = code::kPump;
            out.pumpSpeed = std::strtod(type->second.text.c_str() + pumpMark.size(), nullptr);
            return true;
        }
        out.code = code::kDrift;
        if (l == 0) {
            ++m_summary.dropped[cls];
            return false;
        }
        ++m_summary.drifted[cls];
        return true;
    }
    if (cls == "solenoid")
        refuse("solenoids are not supported");
    return refuse("the class " + cls + " is not supported");
}

void Reader::applyBeam(State& state)
{
    if (!m_beam.given)
        return;
    BeamParameters& beam = state.beam;
    const std::string& p = m_beam.particle;
    const double mass = m_beam.hasMass ? value(m_beam.mass) : 0;
    const double charge = m_beam.hasCharge ? value(m_beam.charge) : 1;
    if (m_beam.hasMass && mass <= 0)
        throw MadxError("the beam's mass must be positive", m_beam.mass.line);
    const bool electronLike = m_beam.hasMass ? std::fabs(mass / 0.51099895e-3 - 1) < 1e-3
                                             : p.empty() || p == "electron" || p == "positron";
    const bool protonLike =
        m_beam.hasMass ? std::fabs(mass / 0.93827208816 - 1) < 1e-3 : p == "proton" || p == "antiproton";
    if (electronLike) {
        selectElectron(beam, state.electron);
    } else if (protonLike) {
        selectProton(beam, state.electron);
    } else {
        double m = mass;
        if (!m_beam.hasMass && (p == "posmuon" || p == "negmuon"))
            m = 0.1056583755;
        if (m <= 0)
            throw MadxError("the particle '" + p + "' needs mass= and charge=", 0);
        selectIonKind(beam, state.electron);
        beam.name = p.empty() ? "ion" : p;
        beam.massNumber = m * 1e9 / kAtomicMassUnit;
        beam.charge = std::max(1, static_cast<int>(std::lround(std::fabs(charge))));
        particleParameter(beam, state.electron);
    }
    const double rest = beam.restEnergy;
    if (m_beam.hasEnergy) {
        const double e = value(m_beam.energy) * 1e9;
        if (!(e > rest))
            throw MadxError("the beam energy " + shortestFloat(e / 1e9) + " GeV is not above the rest energy",
                            m_beam.energy.line);
        updateKinematics(beam, EnergyKind::Total, e);
    } else if (m_beam.hasPc) {
        const double pc = value(m_beam.pc) * 1e9;
        if (!(pc > 0))
            throw MadxError("the beam momentum must be positive", m_beam.pc.line);
        updateKinematics(beam, EnergyKind::Momentum, pc);
    } else if (m_beam.hasGamma) {
        const double g = value(m_beam.gamma);
        if (!(g > 1))
            throw MadxError("the beam's gamma must be above 1", m_beam.gamma.line);
        updateKinematics(beam, EnergyKind::Total, g * rest);
    } else {
        updateKinematics(beam, EnergyKind::Momentum, beam.momentum > 0 ? beam.momentum : 1e9);
    }
    beam.referenceMomentum = beam.momentum;
}

int drawingKindOf(int elementCode)
{
    switch (familyOf(elementCode)) {
    case static_cast<int>(Family::Bend):
        return 1;
    case static_cast<int>(Family::Quadrupole):
        return 2;
    case static_cast<int>(Family::Sextupole):
        return 3;
    case static_cast<int>(Family::Pump):
        return 4;
    default:
        return 0;
    }
}

void Reader::build(State& state)
{
    if (m_open)
        throw MadxError("sequence " + m_open->name + " has no 'endsequence'", m_open->origin.line);
    if (!m_used) {
        // without `use`, the last sequence defined, else the last line
        if (m_lastSequence) {
            m_useSequence = m_lastSequence;
            m_useName = m_lastSequence->name;
        } else if (m_lastLine) {
            m_useName = m_lastLine->name;
            expandLine(*m_lastLine, false, m_useLine, 0);
        } else {
            throw MadxError("the input defines no sequence and no line", 0);
        }
        m_used = true;
    }
    const std::vector<Node> nodes = beamLineNodes();

    BeamLine& line = state.line;
    line.makeFreshTable();
    line.superPeriods = 1;
    int count = 0;
    bool lastMade = false; // the last element is a drift made from the positions
    for (const Node& n : nodes) {
        LatticeElement e;
        if (n.element == nullptr) {
            if (lastMade) {
                // a marker left out between two made drifts: they become one
                line.at(count).length += n.length;
                line.length += n.length;
                continue;
            }
            e.name = "DRIFT";
            e.code = code::kDrift;
            e.length = n.length;
        } else if (!mapElement(*n.element, e)) {
            continue;
        }
        lastMade = n.element == nullptr;
        if (++count > kMaxElements)
            throw MadxError("the beam line " + m_useName + " has more than " + std::to_string(kMaxElements) +
                                " elements, the program's limit",
                            0);
        e.s = line.length;
        line.at(count) = e;
        line.count = count;
        line.length += e.length;
    }
    applyBeam(state);
    state.ringClosed = false;
    state.ringElementCount = 0;

    for (int i = 1; i <= line.count; ++i) {
        const LatticeElement& e = line.at(i);
        ElementShape shape;
        const int kind = drawingKindOf(e.code);
        applyKindExtent(shape, kind, state.drawBaseline, state.drawScale);
        if (kind == 2)
            applyQuadrupoleSign(shape, e.k, state.drawBaseline, state.drawScale);
        line.shape(i) = shape;
        placeShape(line, i);
        DrawingBox& box = state.fileBoxes[static_cast<std::size_t>(i)];
        box = {line.shape(i).x0, line.shape(i).x1, line.shape(i).y0, line.shape(i).y1};
    }
    m_summary.beamLine = m_useName;
    m_summary.elements = line.count;
    m_summary.undefined.assign(m_undefined.begin(), m_undefined.end());
}

std::string contents(const std::string& fileName, bool& ok)
{
    std::ifstream file(fileName, std::ios::binary);
    ok = static_cast<bool>(file);
    std::ostringstream buffer;
    if (ok)
        buffer << file.rdbuf();
    return buffer.str();
}

// Start values: the periodic solution when the line has a stable one, shown as lattice functions with
// short steps, as the example lattices are.
bool periodicStart(State& state)
{
    class Quiet : public Messages
    {
    public:
        void error(const std::string&) override {}
        bool confirm(const std::string&, std::optional<ScreenPoint>) override { return false; }
        void askParticle() override {}
    } quiet;
    RunSettings& run = state.run;
    run.stepAtElementEnds = false;
    run.maxStep = 0.05;
    run.maxSteps = run.maxStepsBox = 200;
    run.showBetaFunctions = true;
    run.showBeamSize = run.showTrajectory = false;
    State trial = state;
    const bool solved = periodicSolution(trial, quiet) && trial.run.periodicStable;
    if (solved)
        state.run = trial.run;
    run.showBetaFunctions = true;
    return solved;
}

} // namespace

std::vector<std::string> madxImportReport(const MadxImportSummary& summary)
{
    std::vector<std::string> lines;
    lines.push_back("beam line " + summary.beamLine + ": " + std::to_string(summary.elements) + " elements" +
                    (summary.periodic ? ", started from its periodic solution" : ""));
    auto counts = [](const std::map<std::string, int>& m) {
        std::string text;
        for (const auto& [cls, n] : m)
            text += (text.empty() ? "" : ", ") + std::to_string(n) + " " + cls;
        return text;
    };
    if (!summary.drifted.empty())
        lines.push_back("turned into drifts: " + counts(summary.drifted));
    if (!summary.dropped.empty())
        lines.push_back("left out (zero length): " + counts(summary.dropped));
    if (summary.thinMultipoles > 0)
        lines.push_back("left out: " + std::to_string(summary.thinMultipoles) +
                        " thin multipoles of octupole or higher order");
    auto list = [](const std::vector<std::string>& names) {
        std::string text;
        for (std::size_t i = 0; i < names.size() && i < 10; ++i)
            text += (i == 0 ? "" : ", ") + names[i];
        if (names.size() > 10)
            text += " and " + std::to_string(names.size() - 10) + " more";
        return text;
    };
    if (!summary.undefined.empty())
        lines.push_back("taken as 0 (never defined): " + list(summary.undefined));
    if (!summary.skipped.empty())
        lines.push_back("commands not read: " + list(summary.skipped));
    return lines;
}

bool readMadxText(State& state, Messages& messages, const std::string& text, const std::string& fileName,
                  MadxImportSummary* summary)
{
    MadxImportSummary local;
    MadxImportSummary& s = summary != nullptr ? *summary : local;
    s = MadxImportSummary{};
    State copy = state;
    Reader reader(s);
    try {
        reader.readText(text, fileName, 0);
        reader.build(copy);
    } catch (const MadxError& e) {
        std::string where;
        if (!e.file.empty() && e.file != fileName)
            where += ": file " + e.file;
        if (e.line > 0)
            where += ", line " + std::to_string(e.line);
        messages.error("cannot import MAD-X file " + fileName + where + ": " + e.what());
        return false;
    }
    s.periodic = periodicStart(copy);
    state = std::move(copy);
    return true;
}

bool readMadxFile(State& state, Messages& messages, const std::string& fileName, MadxImportSummary* summary)
{
    bool ok = false;
    const std::string text = contents(fileName, ok);
    if (!ok) {
        messages.error("cannot open MAD-X file " + fileName);
        return false;
    }
    return readMadxText(state, messages, text, fileName, summary);
}

bool isMadxFileName(const std::string& fileName)
{
    const std::string ext = std::filesystem::path(fileName).extension().string();
    std::string lower = ext;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower == ".madx" || lower == ".seq" || lower == ".mad";
}

} // namespace kestrune

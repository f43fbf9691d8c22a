#include "core/io/madx/MadxInput.h"

#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/io/SafeFile.h"
#include "core/io/madx/MadxControl.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <filesystem>

namespace kestrune {

namespace {

using Tokens = std::vector<MadxToken>;

// Nodes a line or sequence may expand to before it is refused as far too long.
constexpr std::size_t kNodeLimit = 1000000;
// Repetitions (also of empty parts) the expansion of the lines may run through.
constexpr std::size_t kExpansionStepLimit = 10000000;
// Largest repetition count of a line item.
constexpr double kMaxRepeat = 1000000;
// Files a `call` and macros an `exec` may nest.
constexpr int kCallDepth = 20;
// Turns a `while` loop may take.
constexpr long kWhileLimit = 1000000;
// Statements an input may run, the bodies of loops and macros each time they run.
constexpr long kStatementLimit = 10000000;

struct Statement
{
    std::string text;
    int line = 0;
};

// The next word of text from i on is else or elseif.
bool elseFollows(const std::string& text, std::size_t i)
{
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    return madxFirstWord(text.substr(i, 7)).rfind("else", 0) == 0;
}

// Cuts the text, whose first line is firstLine, into statements at ';', without comments (!, //, /* */);
// braces keep a macro or an if-block together, with its line breaks, and the brace that closes an if,
// while or macro ends its statement; '&' (an old continuation mark) is a blank.
std::vector<Statement> splitStatements(const std::string& text, int firstLine)
{
    std::vector<Statement> statements;
    Statement current;
    int line = firstLine;
    int braces = 0;
    // current.text up to `scanned` holds only blanks (' ', '\t', '\r'); started: it holds more
    std::size_t scanned = 0;
    bool started = false;
    auto finish = [&]() {
        if (current.text.find_first_not_of(" \t\r\n") != std::string::npos)
            statements.push_back(std::move(current));
        current = Statement{};
        scanned = 0;
        started = false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n') {
            ++line;
            current.text += braces > 0 ? '\n' : ' ';
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
            const std::ptrdiff_t breaks = std::count(text.begin() + static_cast<std::ptrdiff_t>(i),
                                                     text.begin() + static_cast<std::ptrdiff_t>(stop), '\n');
            i = stop - 1;
            current.text += braces > 0 ? std::string(static_cast<std::size_t>(breaks), '\n') : " ";
            continue;
        }
        if (!started) {
            started = current.text.find_first_not_of(" \t\r", scanned) != std::string::npos;
            scanned = current.text.size();
        }
        if (!started && !std::isspace(static_cast<unsigned char>(c)))
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
        if (c == '{') {
            ++braces;
        } else if (c == '}') {
            braces = std::max(0, braces - 1);
            if (braces == 0 && isMadxBlockStatement(current.text) && !elseFollows(text, i + 1)) {
                current.text += c;
                finish();
                continue;
            }
        }
        if (c == ';' && braces == 0) {
            finish();
            continue;
        }
        if (c == '&' && i + 1 < text.size() && text[i + 1] == '&') {
            current.text += "&&";
            ++i;
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

// Token i as a message shows it; the end of the statement when there is none.
std::string shown(const Tokens& t, std::size_t i)
{
    return i < t.size() ? "'" + excerpt(t[i].text) + "'" : "the end of the statement";
}

// The command a statement starts with, in lower case, also behind a label ("name: command"): what is
// known of a statement whose tokens cannot be read.
std::string leadingCommand(const std::string& text)
{
    std::string words[2];
    std::size_t i = 0;
    for (std::string& word : words) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
            ++i;
        while (i < text.size() &&
               (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_' || text[i] == '.'))
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i++])));
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
            ++i;
        if (i >= text.size() || text[i] != ':' || (i + 1 < text.size() && text[i + 1] == '='))
            return word;
        ++i;
    }
    return words[1];
}

const std::set<std::string>& driftClassSet()
{
    static const std::set<std::string> classes{
        "marker",  "monitor", "hmonitor", "vmonitor", "instrument", "placeholder", "kicker",
        "hkicker", "vkicker", "tkicker",  "rfcavity", "collimator", "rcollimator", "ecollimator"};
    return classes;
}

const std::set<std::string>& baseClasses()
{
    static const std::set<std::string> classes = [] {
        std::set<std::string> c = driftClassSet();
        for (const char* name : {"drift",       "sbend",     "rbend",     "quadrupole",  "sextupole",
                                 "octupole",    "multipole", "solenoid",  "dipedge",     "srotation",
                                 "xrotation",   "yrotation", "changeref", "translation", "crabcavity",
                                 "rfmultipole", "beambeam",  "matrix",    "elseparator", "wire",
                                 "nllens",      "twcavity",  "hacdipole", "vacdipole",   "rfcavity"})
            c.insert(name);
        return c;
    }();
    return classes;
}

// Commands that say nothing about the beam line and are passed over without a remark.
const std::set<std::string>& quietCommandSet()
{
    static const std::set<std::string> commands{
        "twiss",    "select",    "match",      "endmatch",  "vary",       "constraint", "lmdif",
        "migrad",   "simplex",   "jacobian",   "weight",    "global",     "emit",       "write",
        "plot",     "title",     "set",        "show",      "value",      "print",      "printf",
        "assign",   "system",    "save",       "survey",    "track",      "endtrack",   "start",
        "run",      "observe",   "dynap",      "help",      "esave",      "delete",     "readtable",
        "setvars",  "fill",      "coguess",    "correct",   "usemonitor", "usekick",    "eprint",
        "makethin", "dumpsequ",  "resbeam",    "create",    "touschek",   "aperture",   "sodd",
        "savebeta", "beta0",     "resplot",    "setplot",   "plot",       "ibs",        "sxfread",
        "sxfwrite", "tabstring", "table",      "fill_knob", "shrink",     "option",     "sixtrack",
        "c6t",      "dumptable", "readmytable"};
    return commands;
}

// A select statement whose flag is error (its tokens may not have been read).
bool selectsErrors(const std::string& text)
{
    std::string compact;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)))
            compact += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return compact.find("flag=error") != std::string::npos ||
           compact.find("flag=\"error\"") != std::string::npos;
}

bool quietCommand(const std::string& name)
{
    return quietCommandSet().count(name) > 0 || name.rfind("ptc_", 0) == 0;
}

const std::set<std::string>& textAttributes()
{
    static const std::set<std::string> names{"type",     "apertype", "from",    "refpos", "refer",
                                             "particle", "sequence", "period",  "file",   "comments",
                                             "rbarc",    "range",    "element", "class",  "start",
                                             "flag",     "pattern",  "add",     "full",   "clear"};
    return names;
}

// The permanent misalignments, which MAD-X takes at a placement as the node's own.
const std::set<std::string>& offsetAttributes()
{
    static const std::set<std::string> names{"dx", "dy", "ds", "dtheta", "dphi", "dpsi"};
    return names;
}

} // namespace

const std::set<std::string>& madxDriftClasses()
{
    return driftClassSet();
}

// ----- reading statements

void MadxInput::readText(const std::string& text, const std::string& fileName, int depth)
{
    const std::string outer = m_file;
    m_file = fileName;
    runStatements(text, 1, depth);
    m_returning = false; // `return` ends the file it is in
    m_file = outer;
}

void MadxInput::runStatements(const std::string& text, int firstLine, int depth)
{
    const std::string fileName = m_file;
    const std::vector<Statement> statements = splitStatements(text, firstLine);
    // room for the names a long file defines, grown by doubling so that the bodies of a loop, run again
    // and again, do not rebuild the table each turn
    if (m_names.size() + statements.size() > m_names.bucket_count())
        m_names.reserve(std::max(2 * m_names.bucket_count(), m_names.size() + statements.size()));
    for (const Statement& s : statements) {
        if (m_stopped || m_returning)
            break;
        try {
            if (++m_statementsRun > kStatementLimit)
                fail("the input runs more than " + std::to_string(kStatementLimit) +
                         " statements, the program's limit",
                     s.line);
            if (control(s.text, s.line, depth))
                continue;
        } catch (MadxError& e) {
            if (e.file.empty())
                e.file = fileName;
            throw;
        }
        Tokens tokens;
        try {
            tokens = tokenizeMadx(s.text, s.line);
        } catch (MadxError& e) {
            // a command that says nothing about the beam line may hold what it likes (select patterns)
            const std::string command = leadingCommand(s.text);
            if (quietCommand(command) && command != "option" && m_names.count(command) == 0 &&
                !(command == "select" && selectsErrors(s.text)))
                continue;
            e.file = fileName;
            throw;
        }
        if (tokens.empty())
            continue;
        if (isName(tokens, 0) && tokens[0].value == "return" && tokens.size() == 1) {
            m_returning = true;
            break;
        }
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
}

bool MadxInput::control(const std::string& text, int line, int depth)
{
    const std::string word = madxFirstWord(text);
    const auto truth = [this](const MadxBlock& b) {
        return evaluateMadxCondition(b.condition, b.conditionLine,
                                     [this, &b](const MadxExpr& e) { return evaluate(e, b.conditionLine); });
    };
    if (word == "if") {
        for (const MadxBlock& b : parseMadxIf(text, line))
            if (b.condition.empty() || truth(b)) {
                runStatements(b.body, b.bodyLine, depth);
                break;
            }
        return true;
    }
    if (word == "while") {
        const MadxBlock b = parseMadxWhile(text, line);
        for (long turns = 0; !m_stopped && !m_returning && truth(b); ++turns) {
            if (turns == kWhileLimit)
                fail("a while loop runs more than " + std::to_string(kWhileLimit) +
                         " times, the program's limit",
                     line);
            runStatements(b.body, b.bodyLine, depth);
        }
        return true;
    }
    if (word == "else" || word == "elseif")
        fail("'" + word + "' without 'if'", line);
    if (isMadxMacroDefinition(text)) {
        MadxMacro macro = parseMadxMacro(text, line);
        macro.file = m_file;
        m_macros[macro.name] = std::move(macro);
        return true;
    }
    if (word != "exec")
        return false;
    const MadxExec call = parseMadxExec(text, line);
    const auto found = m_macros.find(call.name);
    if (found == m_macros.end())
        fail("exec of '" + excerpt(call.name) + "', which is not a defined macro", line);
    if (depth >= kCallDepth)
        fail("macros and called files nest deeper than " + std::to_string(kCallDepth), line);
    const MadxMacro& macro = found->second;
    const std::string body = substituteMadxArguments(macro, call, line);
    const std::string outer = m_file;
    m_file = macro.file;
    runStatements(body, macro.block.bodyLine, depth + 1);
    m_file = outer;
    return true;
}

void MadxInput::statement(const Tokens& t, int line, int depth)
{
    std::size_t i = 0;
    // declarations that only qualify what follows
    while (isName(t, i) && isName(t, i + 1) &&
           (t[i].value == "real" || t[i].value == "int" || t[i].value == "const" || t[i].value == "shared"))
        ++i;
    if (!isName(t, i))
        fail("a statement must start with a name, found " + shown(t, i), line);
    if (isSymbol(t, i + 1, "(")) {
        // name(args): line = (...)
        fail("lines with arguments are not supported ('" + excerpt(t[i].text) + "(...)')", line);
    }
    if (isSymbol(t, i + 1, ":"))
        return labelled(t, i, line);
    if (isSymbol(t, i + 1, "=") || isSymbol(t, i + 1, ":="))
        return defineVariable(t, i, line);
    if (i == 0) {
        if (isSymbol(t, 1, "->"))
            return assignAttribute(t, line);
        return command(t, line, depth);
    }
    if (isSymbol(t, i + 1, "->"))
        return assignAttribute(std::vector<MadxToken>(t.begin() + static_cast<std::ptrdiff_t>(i), t.end()),
                               line);
    command(std::vector<MadxToken>(t.begin() + static_cast<std::ptrdiff_t>(i), t.end()), line, depth);
}

void MadxInput::defineVariable(const Tokens& t, std::size_t nameAt, int line)
{
    MadxVariable v;
    v.line = line;
    const std::size_t undefinedBefore = m_undefinedOrder.size();
    try {
        MadxExprPtr e = parseMadxExpression(t, nameAt + 2, t.size(), line);
        if (t[nameAt + 1].value == ":=")
            v.expr = e;
        else
            v.value = evaluate(*e, line);
    } catch (const MadxError& e) {
        // a value the beam line never uses may be anything (table(summ, q1), a function of another code)
        v.expr.reset();
        v.problem = std::string(e.what()) + " (in the definition of " + excerpt(t[nameAt].text) + ")";
        // names of a definition that is not taken are not reported
        for (std::size_t k = undefinedBefore; k < m_undefinedOrder.size(); ++k)
            m_undefined.erase(m_undefinedOrder[k]);
        m_undefinedOrder.resize(undefinedBefore);
    }
    m_variables[t[nameAt].value] = v;
    definitionsChanged();
}

void MadxInput::assignAttribute(const Tokens& t, int line)
{
    if (!isName(t, 2) || !(isSymbol(t, 3, "=") || isSymbol(t, 3, ":=")))
        fail("'" + excerpt(t[0].text) + "->attribute = value' expected", line);
    const auto found = m_names.find(t[0].value);
    if (found == m_names.end())
        fail("'" + excerpt(t[0].text) + "' is not defined", line);
    definitionsChanged();
    MadxAttr a = makeAttr(t[2].value, t, 4, t.size(), t[3].value == ":=", line);
    if (found->second.element)
        found->second.element->attrs[t[2].value] = a;
    else if (found->second.sequence && t[2].value == "l")
        found->second.sequence->length = a;
}

void MadxInput::labelled(const Tokens& t, std::size_t label, int line)
{
    const std::size_t c = label + 2;
    if (!isName(t, c))
        fail("a class or 'line' must follow '" + excerpt(t[label].text) + ":'", line);
    const std::string& cls = t[c].value;
    definitionsChanged();
    if (cls == "line" && (isSymbol(t, c + 1, "=") || isSymbol(t, c + 1, ":=")))
        return defineLine(t, label, line);
    if (cls == "sequence")
        return startSequence(t, label, line);
    if (quietCommand(cls) && m_names.count(cls) == 0)
        return; // a labelled command (beta0, match) says nothing about the beam line

    auto def = std::make_shared<MadxElement>();
    def->name = t[label].text;
    def->origin = {m_file, line};
    const auto parent = m_names.find(cls);
    if (parent != m_names.end() && parent->second.element) {
        def->base = parent->second.element->base;
        def->attrs = parent->second.element->attrs;
        def->classes = parent->second.element->classes;
        def->classes.insert(def->classes.begin(), cls);
    } else if (parent != m_names.end() && parent->second.sequence && m_open) {
        // label: nested_sequence, at=...
        place(parent->second, attributes(t, c + 1, line), line);
        return;
    } else if (baseClasses().count(cls) > 0) {
        def->base = cls;
        def->classes = {cls};
    } else if (parent != m_names.end()) {
        fail("'" + excerpt(t[c].text) + "' is a line or a sequence, not an element class", line);
    } else {
        fail("unknown element class '" + excerpt(t[c].text) + "'", line);
    }
    MadxAttrs attrs = attributes(t, c + 1, line);
    // the placement below reads only at= and from=, so the others move into the definition
    for (auto& [name, a] : attrs)
        if (name != "at" && name != "from")
            def->attrs.insert_or_assign(name, std::move(a));
    const auto existing = m_names.find(t[label].value);
    if (m_open && existing != m_names.end() && existing->second.element) {
        // a name placed again (the shared elements of two beams' sequences) is one element, as MAD-X
        // keeps one element per name: the new definition replaces the old one for every placement
        *existing->second.element = std::move(*def);
        place(existing->second, attrs, line);
        return;
    }
    MadxDefinition& slot = existing != m_names.end() ? existing->second : m_names[t[label].value];
    slot = MadxDefinition{std::move(def), nullptr, nullptr};
    if (m_open)
        place(slot, attrs, line);
}

void MadxInput::command(const Tokens& t, int line, int depth)
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
            fail("'" + excerpt(t[0].text) + "' placed in sequence " + m_open->name +
                     " is not a defined element",
                 line);
        place(found->second, attributes(t, 1, line), line, true);
        return;
    }
    if (name == "match")
        fail("matching (match ... endmatch) is not supported: the strengths it sets would be missing", line);
    if (const auto found = m_names.find(name);
        found != m_names.end() && found->second.element && t.size() > 1)
        return updateElement(*found->second.element, attributes(t, 1, line), line);
    if (name == "endsequence")
        fail("'endsequence' without a sequence", line);
    if (editCommand(t, line))
        return;
    if (name == "stop" || name == "exit" || name == "quit") {
        m_stopped = true;
        return;
    }
    if (errorCommand(name, t, line))
        return;
    if (name != "call" && name != "beam" && name != "use" && name != "option") {
        const auto defined = m_names.find(name);
        if (quietCommand(name) || defined != m_names.end())
            return;
        const std::string command = excerpt(t[0].text);
        if (std::find(m_summary.skipped.begin(), m_summary.skipped.end(), command) == m_summary.skipped.end())
            m_summary.skipped.push_back(command);
        return;
    }
    const MadxAttrs attrs = attributes(t, 1, line);
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
        const FileText called = readTextFile(path.string());
        if (!called.problem.empty())
            fail("cannot read the called file " + excerpt(path.string(), 200) + ": " + called.problem, line);
        readText(called.text, path.string(), depth + 1);
        return;
    }
    if (name == "beam")
        return beamCommand(attrs);
    if (name == "use")
        return useCommand(t, attrs, line);
    const auto rbarc = attrs.find("rbarc"); // option
    if (rbarc != attrs.end())
        m_rbarc = rbarc->second.kind == MadxAttr::Kind::Flag
                      ? rbarc->second.on
                      : rbarc->second.text != "false" && rbarc->second.text != "0";
}

// ----- attributes

MadxAttrs MadxInput::attributes(const Tokens& t, std::size_t i, int line)
{
    MadxAttrs attrs;
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
            fail("an attribute name expected, found " + shown(t, i), line);
        const std::string name = t[i].value;
        if (!(isSymbol(t, i + 1, "=") || isSymbol(t, i + 1, ":="))) {
            MadxAttr flag;
            flag.kind = MadxAttr::Kind::Flag;
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
            const bool nextAssignment =
                end > i + 2 && isName(t, end) && (isSymbol(t, end + 1, "=") || isSymbol(t, end + 1, ":="));
            if (isSymbol(t, end, "(") || isSymbol(t, end, "{"))
                ++depth;
            else if (isSymbol(t, end, ")") || isSymbol(t, end, "}"))
                --depth;
            else if (depth == 0 && (isSymbol(t, end, ",") || nextAssignment))
                break;
            ++end;
        }
        attrs[name] = makeAttr(name, t, i + 2, end, deferred, line);
        i = end;
    }
    return attrs;
}

MadxAttr MadxInput::makeAttr(const std::string& name, const Tokens& t, std::size_t begin, std::size_t end,
                             bool deferred, int line)
{
    MadxAttr a;
    a.line = line;
    if (begin >= end)
        fail("the value of '" + name + "' is missing", line);
    if (textAttributes().count(name) > 0) {
        a.kind = MadxAttr::Kind::Text;
        // texts are compared in lower case, except a file name, which keeps what was written
        for (std::size_t i = begin; i < end; ++i)
            a.text += t[i].kind == MadxToken::Kind::String ? t[i].value : t[i].text;
        if (name != "file")
            for (char& c : a.text)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return a;
    }
    try {
        if (isSymbol(t, begin, "{")) {
            a.kind = MadxAttr::Kind::Array;
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
                    a.values.push_back(evaluate(*e, line));
                i = j + 1;
            }
            if (deferred) {
                a.values.clear();
            }
            return a;
        }
        a.expr = parseMadxExpression(t, begin, end, line);
        if (deferred) {
            a.kind = MadxAttr::Kind::Deferred;
        } else {
            a.kind = MadxAttr::Kind::Value;
            a.value = evaluate(*a.expr, line);
        }
    } catch (const MadxError&) {
        // a value the program has no use for may be anything the language allows
        static const std::set<std::string> used{
            "l",     "angle", "k1",     "k2",   "e1",   "e2",     "hgap",   "fint",  "tilt",   "k1s",
            "k2s",   "ks",    "knl",    "ksl",  "at",   "energy", "pc",     "gamma", "mass",   "charge",
            "rbarc", "k0",    "fintx",  "dx",   "dy",   "ds",     "dtheta", "dphi",  "dpsi",   "bcurrent",
            "volt",  "freq",  "harmon", "dkn",  "dks",  "dknr",   "dksr",   "order", "radius", "mrex",
            "mrey",  "mredx", "mredy",  "arex", "arey", "mscalx", "mscaly", "hyster"};
        if (used.count(name) > 0)
            throw;
        a.kind = MadxAttr::Kind::Text;
        a.text.clear();
    }
    return a;
}

void MadxInput::noteUndefined(const std::string& name)
{
    if (m_undefined.insert(name).second)
        m_undefinedOrder.push_back(name);
}

double MadxInput::evaluate(const MadxExpr& e, int line)
{
    return evaluateMadx(e, *this, line);
}

double MadxInput::deferred(const std::string& key, const MadxExpr& e, int line, const std::string& what)
{
    const auto known = m_memo.find(key);
    if (known != m_memo.end())
        return known->second;
    if (!m_busy.insert(key).second)
        fail(what + " refers to itself", line);
    double v = 0;
    try {
        v = evaluate(e, line);
    } catch (...) {
        m_busy.erase(key);
        throw;
    }
    m_busy.erase(key);
    // a deferred definition is evaluated once until a definition changes: a chain of definitions that
    // each use the one before twice costs its length, not two to the power of it
    m_memo.emplace(key, v);
    return v;
}

double MadxInput::value(const MadxAttr& a)
{
    switch (a.kind) {
    case MadxAttr::Kind::Value:
        return a.value;
    case MadxAttr::Kind::Deferred: {
        // an attribute's value is not named here: it is marked busy by its address, and the names it
        // uses are memoised
        const std::string key = "#" + std::to_string(reinterpret_cast<std::uintptr_t>(&a));
        if (!m_busy.insert(key).second)
            fail("a deferred definition refers to itself", a.line);
        double v = 0;
        try {
            v = evaluate(*a.expr, a.line);
        } catch (...) {
            m_busy.erase(key);
            throw;
        }
        m_busy.erase(key);
        return v;
    }
    case MadxAttr::Kind::Flag:
        return a.on ? 1 : 0;
    default:
        return 0;
    }
}

double MadxInput::variable(const std::string& name)
{
    const auto found = m_variables.find(name);
    if (found == m_variables.end()) {
        noteUndefined(excerpt(name));
        return 0;
    }
    const MadxVariable& v = found->second;
    if (!v.problem.empty())
        fail(v.problem, v.line);
    if (!v.expr)
        return v.value;
    const MadxExprPtr e = v.expr; // the definition may be replaced while it is evaluated
    return deferred(name, *e, v.line, "the deferred variable '" + excerpt(name) + "'");
}

double MadxInput::attribute(const std::string& element, const std::string& attribute)
{
    const auto found = m_names.find(element);
    if (found != m_names.end() && found->second.element) {
        const MadxElement& e = *found->second.element;
        if (attribute == "l")
            return number(e, "l");
        const auto a = e.attrs.find(attribute);
        if (a == e.attrs.end())
            return 0;
        if (a->second.kind != MadxAttr::Kind::Deferred)
            return value(a->second);
        const MadxExprPtr expr = a->second.expr;
        return deferred(element + "->" + attribute, *expr, a->second.line,
                        "the attribute " + excerpt(element + "->" + attribute));
    }
    if (found != m_names.end() && found->second.sequence && attribute == "l")
        return value(found->second.sequence->length);
    noteUndefined(excerpt(element + "->" + attribute));
    return 0;
}

double MadxInput::number(const MadxElement& e, std::string_view name, double fallback)
{
    const auto a = e.attrs.find(name);
    if (a == e.attrs.end())
        return fallback;
    if (a->second.kind == MadxAttr::Kind::Text)
        return fallback;
    return value(a->second);
}

std::vector<double> MadxInput::array(const MadxElement& e, std::string_view name)
{
    const auto a = e.attrs.find(name);
    if (a == e.attrs.end())
        return {};
    if (a->second.kind == MadxAttr::Kind::Array) {
        if (a->second.items.empty())
            return a->second.values;
        std::vector<double> values;
        for (const MadxExprPtr& item : a->second.items)
            values.push_back(evaluate(*item, a->second.line));
        return values;
    }
    return {value(a->second)};
}

// ----- lines and sequences

std::vector<MadxLineItem> MadxInput::lineItems(const Tokens& t, std::size_t& i, std::size_t end, int line,
                                               int depth)
{
    std::vector<MadxLineItem> items;
    while (i < end && !isSymbol(t, i, ")")) {
        if (isSymbol(t, i, ",") || isSymbol(t, i, "+")) {
            ++i;
            continue;
        }
        MadxLineItem item;
        // a reflected repetition: -3*q is 3*(-q)
        if (isSymbol(t, i, "-") && i + 2 < end && t[i + 1].kind == MadxToken::Kind::Number &&
            isSymbol(t, i + 2, "*")) {
            item.reflect = true;
            ++i;
        }
        if (i + 1 < end && t[i].kind == MadxToken::Kind::Number && isSymbol(t, i + 1, "*")) {
            const double n = t[i].number;
            if (n < 0 || n != std::floor(n))
                fail("a repetition count must be a whole number, found '" + excerpt(t[i].text) + "'", line);
            if (n > kMaxRepeat)
                fail("a repetition count must be at most " + fmt("%.0f", kMaxRepeat) + ", found '" +
                         excerpt(t[i].text) + "'",
                     line);
            item.repeat = static_cast<int>(n);
            i += 2;
        }
        if (isSymbol(t, i, "-")) {
            item.reflect = !item.reflect;
            ++i;
        }
        if (isSymbol(t, i, "(")) {
            if (++depth > 100)
                fail("a line is nested more than 100 deep", line);
            ++i;
            item.group = lineItems(t, i, end, line, depth);
            if (!isSymbol(t, i, ")"))
                fail("')' expected in a line", line);
            ++i;
        } else if (isName(t, i)) {
            item.ref = t[i].value;
            ++i;
            if (isSymbol(t, i, "("))
                fail("lines with arguments are not supported ('" + excerpt(t[i - 1].text) + "(...)')", line);
        } else {
            fail("an element or line name expected in a line, found " + shown(t, i < end ? i : t.size()),
                 line);
        }
        items.push_back(std::move(item));
    }
    return items;
}

void MadxInput::defineLine(const Tokens& t, std::size_t label, int line)
{
    std::size_t i = label + 4;
    auto def = std::make_shared<MadxLine>();
    def->name = excerpt(t[label].text);
    def->origin = {m_file, line};
    try {
        if (!isSymbol(t, i, "("))
            fail("'(' expected after 'line ='", line);
        ++i;
        def->items = lineItems(t, i, t.size(), line, 0);
        if (!isSymbol(t, i, ")") || i + 1 != t.size())
            fail("a line must end with ')'", line);
    } catch (const MadxError& e) {
        // kept, and refused only if the beam line uses it
        def->items.clear();
        def->problem = e.what();
    }
    m_names[t[label].value] = MadxDefinition{nullptr, def, nullptr};
    m_lastLine = def;
}

void MadxInput::startSequence(const Tokens& t, std::size_t label, int line)
{
    if (m_open)
        fail("sequence " + excerpt(t[label].text) + " starts inside sequence " + m_open->name, line);
    auto seq = std::make_shared<MadxSequence>();
    seq->name = excerpt(t[label].text);
    seq->origin = {m_file, line};
    const MadxAttrs attrs = attributes(t, label + 3, line);
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
            fail("refer must be entry, centre or exit, found '" + excerpt(r) + "'", line);
    }
    const auto refpos = attrs.find("refpos");
    if (refpos != attrs.end())
        seq->refpos = refpos->second.text;
    m_names[t[label].value] = MadxDefinition{nullptr, nullptr, seq};
    m_open = seq;
}

namespace {

std::string nodeLabel(const MadxDefinition& what)
{
    return what.element ? what.element->name : what.sequence->name;
}

} // namespace

void MadxInput::place(const MadxDefinition& what, const MadxAttrs& attrs, int line, bool unlabelled)
{
    if (what.sequence == m_open)
        fail("sequence " + m_open->name + " contains itself", line);
    MadxPlacement p;
    p.element = what.element;
    p.sequence = what.sequence;
    p.origin = {m_file, line};
    // at an unlabelled placement MAD-X takes the position and the permanent misalignments, and leaves the
    // element's own attributes as they are (with a warning)
    for (const auto& [name, a] : unlabelled ? attrs : MadxAttrs{}) {
        if (offsetAttributes().count(name) > 0)
            p.offsets[name] = a;
        else if (name != "at" && name != "from")
            m_summary.notUpdated.push_back(nodeLabel(what) + " (" + name + ")");
    }
    const auto at = attrs.find("at");
    if (at == attrs.end())
        fail("the position (at=) of a node of sequence " + m_open->name + " is missing", line);
    p.at = at->second;
    const auto from = attrs.find("from");
    if (from != attrs.end())
        p.from = from->second.text;
    m_open->nodes.push_back(std::move(p));
}

// `NAME, attribute=value, ...;` outside a sequence: MAD-X changes the element's definition, and with it
// every placement of the element.
void MadxInput::updateElement(MadxElement& element, const MadxAttrs& attrs, int line)
{
    definitionsChanged();
    for (const auto& [name, a] : attrs) {
        if (name == "at" || name == "from")
            fail("'" + name + "=' belongs to a placement in a sequence, not to element " + element.name,
                 line);
        element.attrs[name] = a;
    }
}

void MadxInput::beamCommand(const MadxAttrs& attrs)
{
    m_beam.given = true;
    const auto set = [&](const char* name, MadxAttr& target, bool& flag) {
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
    set("bcurrent", m_beam.current, m_beam.hasCurrent);
    bool energy = false, pc = false, gamma = false;
    MadxAttr e, p, g;
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

void MadxInput::useCommand(const Tokens& t, const MadxAttrs& attrs, int line)
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
        fail("'use' names '" + excerpt(name) + "', which is no sequence or line", line);
    m_used = true;
    m_errorCommands.clear(); // MAD-X's use drops the errors of the line it expands again
    m_useName = found->second.sequence ? found->second.sequence->name : found->second.line->name;
    m_useSequence = found->second.sequence;
    if (found->second.line)
        expandUsedLine(*found->second.line);
}

void MadxInput::countExpansionStep(const MadxLine& owner, std::size_t nodes)
{
    if (nodes <= kNodeLimit && ++m_expansionSteps <= kExpansionStepLimit)
        return;
    // the line whose repetition runs is the one to shorten
    const MadxLine& culprit = m_repeating.empty() ? owner : *m_repeating.back();
    fail("line " + culprit.name + " expands too far: more than " +
             (nodes > kNodeLimit ? std::to_string(kNodeLimit) + " nodes"
                                 : std::to_string(kExpansionStepLimit) + " repetitions"),
         culprit.origin.line);
}

void MadxInput::expandItems(const std::vector<MadxLineItem>& items, bool reflect, const MadxLine& owner,
                            std::vector<const MadxElement*>& out, int depth)
{
    const std::size_t n = items.size();
    for (std::size_t k = 0; k < n; ++k) {
        const MadxLineItem& item = items[reflect ? n - 1 - k : k];
        if (item.repeat > 1)
            m_repeating.push_back(&owner);
        for (int r = 0; r < item.repeat; ++r) {
            countExpansionStep(owner, out.size());
            if (item.ref.empty()) {
                expandItems(item.group, reflect != item.reflect, owner, out, depth);
                continue;
            }
            const auto found = m_names.find(item.ref);
            if (found == m_names.end())
                fail("line " + owner.name + " uses '" + excerpt(item.ref) + "', which is not defined",
                     owner.origin.line);
            if (found->second.element) {
                m_keepAlive.push_back(found->second.element);
                out.push_back(found->second.element.get());
            } else if (found->second.line) {
                expandLine(*found->second.line, reflect != item.reflect, out, depth + 1);
            } else {
                fail("line " + owner.name + " uses the sequence '" + excerpt(item.ref) +
                         "'; sequences cannot be parts of lines",
                     owner.origin.line);
            }
        }
        if (item.repeat > 1)
            m_repeating.pop_back();
    }
}

void MadxInput::expandUsedLine(const MadxLine& line)
{
    m_useLine.clear();
    m_expansionSteps = 0;
    m_superPeriods = 1;
    // ring: line=(N*cell) is N superperiods of the cell
    const MadxLineItem* only = line.problem.empty() && line.items.size() == 1 ? &line.items[0] : nullptr;
    if (only != nullptr && only->repeat > 1 && only->repeat <= ranges::kSuperperiods.max && !only->reflect &&
        !only->ref.empty()) {
        const auto cell = m_names.find(line.items[0].ref);
        if (cell != m_names.end() && cell->second.line) {
            m_superPeriods = only->repeat;
            expandLine(*cell->second.line, false, m_useLine, 1);
            return;
        }
    }
    expandLine(line, false, m_useLine, 0);
}

std::optional<double> MadxInput::definedVariable(const std::string& name)
{
    if (m_variables.count(name) == 0)
        return std::nullopt;
    return variable(name);
}

void MadxInput::expandLine(const MadxLine& line, bool reflect, std::vector<const MadxElement*>& out,
                           int depth)
{
    if (depth > 100)
        fail("line " + line.name + " contains itself", line.origin.line);
    if (!line.problem.empty())
        throw MadxError(line.problem, line.origin.line, line.origin.file);
    expandItems(line.items, reflect, line, out, depth);
}

double MadxInput::elementLength(const MadxElement& e)
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

void MadxInput::finish()
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
            expandUsedLine(*m_lastLine);
        } else {
            throw MadxError("the input defines no sequence and no line", 0);
        }
        m_used = true;
    }
}

} // namespace kestrune

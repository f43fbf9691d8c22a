#include "core/io/madx/MadxControl.h"

#include "core/Format.h"

#include <algorithm>
#include <cctype>

namespace kestrune {

namespace {

using Tokens = std::vector<MadxToken>;

bool wordChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
}

std::string lowerText(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void skipSpaces(const std::string& s, std::size_t& i)
{
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i])))
        ++i;
}

std::string wordAt(const std::string& s, std::size_t& i)
{
    skipSpaces(s, i);
    const std::size_t start = i;
    while (i < s.size() && wordChar(s[i]))
        ++i;
    return lowerText(s.substr(start, i - start));
}

int linesBefore(const std::string& s, std::size_t end)
{
    return static_cast<int>(std::count(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(end), '\n'));
}

// The text between the bracket at s[i] and its partner, quoted text passed over; i ends behind the partner.
std::string enclosed(const std::string& s, std::size_t& i, char open, char close, int line, const char* what)
{
    skipSpaces(s, i);
    if (i >= s.size() || s[i] != open)
        throw MadxError(std::string("'") + open + "' expected " + what,
                        line + linesBefore(s, std::min(i, s.size())));
    const std::size_t start = ++i;
    int depth = 1;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"' || c == '\'') {
            const std::size_t closing = s.find(c, i + 1);
            i = closing == std::string::npos ? s.size() - 1 : closing;
        } else if (c == open) {
            ++depth;
        } else if (c == close && --depth == 0) {
            return s.substr(start, i++ - start);
        }
    }
    throw MadxError(std::string("'") + close + "' missing " + what, line);
}

MadxBlock block(const std::string& s, std::size_t& i, int line, bool withCondition, const char* what)
{
    MadxBlock b;
    if (withCondition) {
        skipSpaces(s, i);
        b.conditionLine = line + linesBefore(s, i);
        b.condition = enclosed(s, i, '(', ')', line, what);
    }
    skipSpaces(s, i);
    b.bodyLine = line + linesBefore(s, std::min(i + 1, s.size()));
    b.body = enclosed(s, i, '{', '}', line, what);
    return b;
}

void expectEnd(const std::string& s, std::size_t i, int line, const char* what)
{
    skipSpaces(s, i);
    if (i < s.size())
        throw MadxError(std::string("unexpected text '") + excerpt(s.substr(i)) + "' after " + what,
                        line + linesBefore(s, i));
}

// The members of a bracketed list split at its top-level commas, trimmed.
std::vector<std::string> listMembers(const std::string& inner)
{
    std::vector<std::string> members;
    std::string current;
    int depth = 0;
    for (const char c : inner) {
        if (c == '(' || c == '{' || c == '[')
            ++depth;
        else if (c == ')' || c == '}' || c == ']')
            --depth;
        if (c == ',' && depth == 0) {
            members.push_back(current);
            current.clear();
            continue;
        }
        current += c;
    }
    members.push_back(current);
    for (std::string& m : members) {
        const std::size_t first = m.find_first_not_of(" \t\n");
        m = first == std::string::npos ? std::string()
                                       : m.substr(first, m.find_last_not_of(" \t\n") - first + 1);
    }
    if (members.size() == 1 && members[0].empty())
        members.clear();
    return members;
}

bool symbolAt(const Tokens& t, std::size_t i, const char* symbol)
{
    return t[i].kind == MadxToken::Kind::Symbol && t[i].value == symbol;
}

// Evaluates tokens [begin, end): the lowest operator at the top level splits them.
class Condition
{
public:
    Condition(const Tokens& t, int line, const std::function<double(const MadxExpr&)>& value)
        : m_t(t), m_line(line), m_value(value)
    {
    }

    bool truth(std::size_t begin, std::size_t end, int nesting = 0)
    {
        if (begin >= end)
            throw MadxError("a condition is empty", m_line);
        if (nesting > kMaxMadxNesting)
            throw MadxError("a condition is nested more than " + std::to_string(kMaxMadxNesting) + " deep",
                            m_line);
        for (const char* op : {"||", "&&"}) {
            const std::size_t at = topLevel(begin, end, {op});
            if (at != end) {
                const bool left = truth(begin, at, nesting + 1);
                if (op[0] == '|' ? left : !left)
                    return left; // MAD-X evaluates both sides; neither has an effect
                return truth(at + 1, end, nesting + 1);
            }
        }
        const std::size_t at = topLevel(begin, end, {"==", "<>", "<=", ">=", "<", ">"});
        if (at == end) {
            if (symbolAt(m_t, begin, "(") && closing(begin) == end - 1)
                return truth(begin + 1, end - 1, nesting + 1);
            return number(begin, end) != 0;
        }
        const double a = number(begin, at);
        const double b = number(at + 1, end);
        const std::string& op = m_t[at].value;
        if (op == "==")
            return a == b;
        if (op == "<>")
            return a != b;
        if (op == "<=")
            return a <= b;
        if (op == ">=")
            return a >= b;
        return op == "<" ? a < b : a > b;
    }

private:
    std::size_t closing(std::size_t open) const
    {
        int depth = 0;
        for (std::size_t i = open; i < m_t.size(); ++i) {
            if (symbolAt(m_t, i, "("))
                ++depth;
            else if (symbolAt(m_t, i, ")") && --depth == 0)
                return i;
        }
        return m_t.size();
    }

    std::size_t topLevel(std::size_t begin, std::size_t end, std::initializer_list<const char*> ops) const
    {
        int depth = 0;
        for (std::size_t i = begin; i < end; ++i) {
            if (symbolAt(m_t, i, "("))
                ++depth;
            else if (symbolAt(m_t, i, ")"))
                --depth;
            else if (depth == 0)
                for (const char* op : ops)
                    if (symbolAt(m_t, i, op))
                        return i;
        }
        return end;
    }

    double number(std::size_t begin, std::size_t end) const
    {
        return m_value(*parseMadxExpression(m_t, begin, end, m_line));
    }

    const Tokens& m_t;
    int m_line;
    const std::function<double(const MadxExpr&)>& m_value;
};

} // namespace

std::string madxFirstWord(const std::string& statement)
{
    std::size_t i = 0;
    return wordAt(statement, i);
}

bool isMadxMacroDefinition(const std::string& statement)
{
    std::size_t i = 0;
    if (wordAt(statement, i).empty())
        return false;
    skipSpaces(statement, i);
    if (i < statement.size() && statement[i] == '(') {
        const std::size_t close = statement.find(')', i);
        if (close == std::string::npos)
            return false;
        i = close + 1;
    }
    skipSpaces(statement, i);
    if (i >= statement.size() || statement[i] != ':' || (i + 1 < statement.size() && statement[i + 1] == '='))
        return false;
    ++i;
    return wordAt(statement, i) == "macro";
}

bool isMadxBlockStatement(const std::string& statement)
{
    const std::string word = madxFirstWord(statement);
    return word == "if" || word == "while" || isMadxMacroDefinition(statement);
}

std::vector<MadxBlock> parseMadxIf(const std::string& s, int line)
{
    std::vector<MadxBlock> blocks;
    std::size_t i = 0;
    wordAt(s, i); // if
    blocks.push_back(block(s, i, line, true, "in the 'if' block"));
    for (;;) {
        std::size_t next = i;
        const std::string word = wordAt(s, next);
        if (word == "elseif") {
            i = next;
            blocks.push_back(block(s, i, line, true, "in the 'elseif' block"));
        } else if (word == "else") {
            i = next;
            blocks.push_back(block(s, i, line, false, "in the 'else' block"));
            break;
        } else {
            break;
        }
    }
    expectEnd(s, i, line, "the 'if' block");
    return blocks;
}

MadxBlock parseMadxWhile(const std::string& s, int line)
{
    std::size_t i = 0;
    wordAt(s, i); // while
    MadxBlock b = block(s, i, line, true, "in the 'while' block");
    expectEnd(s, i, line, "the 'while' block");
    return b;
}

MadxMacro parseMadxMacro(const std::string& s, int line)
{
    MadxMacro m;
    std::size_t i = 0;
    m.name = wordAt(s, i);
    skipSpaces(s, i);
    if (i < s.size() && s[i] == '(') {
        for (const std::string& p :
             listMembers(enclosed(s, i, '(', ')', line, "in the macro's parameters"))) {
            const std::string parameter = lowerText(p);
            if (parameter.empty() || !std::all_of(parameter.begin(), parameter.end(), wordChar))
                throw MadxError(
                    "the macro " + m.name + " has a parameter '" + excerpt(p) + "' that is no name", line);
            m.parameters.push_back(parameter);
        }
    }
    skipSpaces(s, i);
    ++i;          // ':'
    wordAt(s, i); // macro
    skipSpaces(s, i);
    if (i < s.size() && s[i] == '=')
        ++i;
    m.block = block(s, i, line, false, "in the macro's body");
    expectEnd(s, i, line, "the macro's body");
    return m;
}

MadxExec parseMadxExec(const std::string& s, int line)
{
    MadxExec call;
    std::size_t i = 0;
    wordAt(s, i); // exec
    skipSpaces(s, i);
    if (i < s.size() && s[i] == ',')
        ++i;
    call.name = wordAt(s, i);
    if (call.name.empty())
        throw MadxError("'exec' without the name of a macro", line);
    skipSpaces(s, i);
    if (i < s.size() && s[i] == '(')
        call.arguments = listMembers(enclosed(s, i, '(', ')', line, "in the arguments of exec"));
    expectEnd(s, i, line, "the call of a macro");
    return call;
}

std::string substituteMadxArguments(const MadxMacro& macro, const MadxExec& call, int line)
{
    if (call.arguments.size() != macro.parameters.size())
        throw MadxError("macro " + macro.name + " takes " + std::to_string(macro.parameters.size()) +
                            " arguments, exec gives " + std::to_string(call.arguments.size()),
                        line);
    if (macro.parameters.empty())
        return macro.block.body;
    const std::string& body = macro.block.body;
    std::string out;
    out.reserve(body.size());
    for (std::size_t i = 0; i < body.size();) {
        const char c = body[i];
        if (c == '"' || c == '\'') {
            const std::size_t close = body.find(c, i + 1);
            const std::size_t stop = close == std::string::npos ? body.size() : close + 1;
            out.append(body, i, stop - i);
            i = stop;
            continue;
        }
        if (!wordChar(c) || (i > 0 && wordChar(body[i - 1]))) {
            out += c;
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < body.size() && wordChar(body[j]))
            ++j;
        const std::string word = lowerText(body.substr(i, j - i));
        const auto p = std::find(macro.parameters.begin(), macro.parameters.end(), word);
        if (p == macro.parameters.end())
            out.append(body, i, j - i);
        else
            out += call.arguments[static_cast<std::size_t>(p - macro.parameters.begin())];
        i = j;
    }
    return out;
}

bool evaluateMadxCondition(const std::string& condition, int line,
                           const std::function<double(const MadxExpr&)>& value)
{
    const Tokens t = tokenizeMadx(condition, line);
    return Condition(t, line, value).truth(0, t.size());
}

} // namespace kestrune

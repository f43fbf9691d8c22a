#include "core/io/madx/MadxExpression.h"

#include "core/Constants.h"
#include "core/Format.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>

namespace kestrune {

namespace {

// '#' starts the range names #s and #e
bool isNameStart(char c)
{
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '#';
}

bool isNameChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '$';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A number with optional fraction and exponent; the exponent letter may be the Fortran D.
std::size_t scanNumber(const std::string& s, std::size_t i, std::string& normalised)
{
    const std::size_t start = i;
    while (i < s.size() && isDigit(s[i]))
        ++i;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i]))
            ++i;
    }
    normalised = s.substr(start, i - start);
    if (i < s.size() && std::strchr("eEdD", s[i]) != nullptr) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            ++j;
        if (j < s.size() && isDigit(s[j])) {
            while (j < s.size() && isDigit(s[j]))
                ++j;
            normalised += 'e' + s.substr(i + 1, j - i - 1);
            i = j;
        }
    }
    return i;
}

const char* const kSymbols[] = {":=", "->", "==", "<>", "<=", ">=", "&&", "||", ":", "=", ",", "(", ")", "{",
                                "}",  "+",  "-",  "*",  "/",  "^",  "<",  ">",  "[", "]", "!", "@", ";"};

// ----- expressions: recursive descent over the tokens

class Parser
{
public:
    Parser(const std::vector<MadxToken>& tokens, std::size_t begin, std::size_t end, int line)
        : m_tokens(tokens), m_pos(begin), m_end(end), m_line(line)
    {
    }

    MadxExprPtr parseAll()
    {
        if (m_pos >= m_end)
            fail("an expression is missing");
        MadxExprPtr e = sum();
        if (m_pos < m_end)
            fail("unexpected '" + excerpt(m_tokens[m_pos].text) + "' in an expression");
        return e;
    }

private:
    [[noreturn]] void fail(const std::string& text) const { throw MadxError(text, m_line); }

    bool atSymbol(const char* symbol) const
    {
        return m_pos < m_end && m_tokens[m_pos].kind == MadxToken::Kind::Symbol &&
               m_tokens[m_pos].value == symbol;
    }

    // a chain of operators of one precedence becomes one node: a + b - c is Sum{a, b, c} with ops "+-"
    template <typename Term>
    MadxExprPtr chain(MadxExpr::Kind kind, const char* first, const char* second, Term term)
    {
        MadxExprPtr e = (this->*term)();
        if (!atSymbol(first) && !atSymbol(second))
            return e;
        auto node = std::make_shared<MadxExpr>();
        node->kind = kind;
        node->args.push_back(std::move(e));
        while (atSymbol(first) || atSymbol(second)) {
            node->ops += m_tokens[m_pos++].value[0];
            node->args.push_back((this->*term)());
        }
        return node;
    }

    MadxExprPtr sum() { return chain(MadxExpr::Kind::Sum, "+", "-", &Parser::product); }

    MadxExprPtr product() { return chain(MadxExpr::Kind::Product, "*", "/", &Parser::unary); }

    MadxExprPtr unary()
    {
        // every nesting (parentheses, signs, powers, arguments) passes here
        if (++m_depth > kMaxDepth)
            fail("an expression is nested more than " + std::to_string(kMaxDepth) + " deep");
        MadxExprPtr e = signedTerm();
        --m_depth;
        return e;
    }

    MadxExprPtr signedTerm()
    {
        if (atSymbol("+")) {
            ++m_pos;
            return unary();
        }
        if (atSymbol("-")) {
            ++m_pos;
            auto e = std::make_shared<MadxExpr>();
            e->kind = MadxExpr::Kind::Negate;
            e->args = {unary()};
            return e;
        }
        return power();
    }

    // ^ binds tighter than a sign and groups to the right: -2^2 = -4, 2^3^2 = 2^9
    MadxExprPtr power()
    {
        MadxExprPtr base = primary();
        if (!atSymbol("^"))
            return base;
        ++m_pos;
        auto e = std::make_shared<MadxExpr>();
        e->kind = MadxExpr::Kind::Power;
        e->args = {std::move(base), unary()};
        return e;
    }

    MadxExprPtr primary()
    {
        if (m_pos >= m_end)
            fail("an expression ends too early");
        const MadxToken& t = m_tokens[m_pos];
        if (t.kind == MadxToken::Kind::Number) {
            ++m_pos;
            auto e = std::make_shared<MadxExpr>();
            e->number = t.number;
            return e;
        }
        if (atSymbol("(")) {
            ++m_pos;
            MadxExprPtr e = sum();
            if (!atSymbol(")"))
                fail("')' expected in an expression");
            ++m_pos;
            return e;
        }
        if (t.kind != MadxToken::Kind::Name)
            fail("unexpected '" + excerpt(t.text) + "' in an expression");
        ++m_pos;
        auto e = std::make_shared<MadxExpr>();
        e->name = t.value;
        if (atSymbol("->")) {
            ++m_pos;
            if (m_pos >= m_end || m_tokens[m_pos].kind != MadxToken::Kind::Name)
                fail("an attribute name must follow '->'");
            e->kind = MadxExpr::Kind::Attribute;
            e->attribute = m_tokens[m_pos++].value;
            return e;
        }
        if (atSymbol("(")) {
            ++m_pos;
            e->kind = MadxExpr::Kind::Call;
            while (!atSymbol(")")) {
                e->args.push_back(sum());
                if (atSymbol(","))
                    ++m_pos;
                else if (!atSymbol(")"))
                    fail("')' expected after the arguments of " + excerpt(t.text));
            }
            ++m_pos;
            return e;
        }
        e->kind = MadxExpr::Kind::Variable;
        return e;
    }

    static constexpr int kMaxDepth = 200;

    const std::vector<MadxToken>& m_tokens;
    int m_depth = 0;
    std::size_t m_pos;
    std::size_t m_end;
    int m_line;
};

const std::map<std::string, double>& constants()
{
    // MAD-X's constants; masses in GeV
    static const std::map<std::string, double> table{
        {"pi", kPi},
        {"twopi", kTwoPi},
        {"degrad", 180.0 / kPi},
        {"raddeg", kPi / 180.0},
        {"e", std::exp(1.0)},
        {"clight", 299792458.0},
        {"emass", 0.51099895000e-3},
        {"pmass", 0.93827208816},
        {"nmass", 0.93956542052},
        {"umass", 0.93149410242},
        {"mumass", 0.1056583755},
        {"qelect", 1.602176634e-19},
        {"hbar", 6.582119569e-25},
        {"erad", 2.8179403262e-15},
        {"prad", 1.53469e-18},
        // logical attributes written as values (thick=false in MAD-X's own SAVE)
        {"true", 1.0},
        {"false", 0.0},
    };
    return table;
}

// Nesting of evaluations on this thread, across the deferred definitions a scope evaluates.
thread_local int t_nesting = 0;

class NestingGuard
{
public:
    explicit NestingGuard(int line)
    {
        if (++t_nesting > kMaxMadxNesting) {
            --t_nesting;
            throw MadxError("expressions and the deferred definitions they use are nested more than " +
                                std::to_string(kMaxMadxNesting) + " deep",
                            line);
        }
    }
    ~NestingGuard() { --t_nesting; }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;
};

double sinc(double x)
{
    return x == 0 ? 1.0 : std::sin(x) / x;
}

double call(const MadxExpr& e, const std::vector<double>& a, int line)
{
    using Fn = double (*)(double);
    static const std::map<std::string, Fn> oneArgument{
        {"sqrt", [](double x) { return std::sqrt(x); }},   {"exp", [](double x) { return std::exp(x); }},
        {"log", [](double x) { return std::log(x); }},     {"log10", [](double x) { return std::log10(x); }},
        {"sin", [](double x) { return std::sin(x); }},     {"cos", [](double x) { return std::cos(x); }},
        {"tan", [](double x) { return std::tan(x); }},     {"asin", [](double x) { return std::asin(x); }},
        {"acos", [](double x) { return std::acos(x); }},   {"atan", [](double x) { return std::atan(x); }},
        {"sinh", [](double x) { return std::sinh(x); }},   {"cosh", [](double x) { return std::cosh(x); }},
        {"tanh", [](double x) { return std::tanh(x); }},   {"abs", [](double x) { return std::fabs(x); }},
        {"floor", [](double x) { return std::floor(x); }}, {"ceil", [](double x) { return std::ceil(x); }},
        {"round", [](double x) { return std::round(x); }}, {"sinc", sinc},
        {"erf", [](double x) { return std::erf(x); }},     {"erfc", [](double x) { return std::erfc(x); }},
    };
    const auto f = oneArgument.find(e.name);
    if (f != oneArgument.end()) {
        if (a.size() != 1)
            throw MadxError("the function " + e.name + " takes one argument", line);
        return f->second(a[0]);
    }
    if (e.name == "atan2" && a.size() == 2)
        return std::atan2(a[0], a[1]);
    if (e.name == "ranf" || e.name == "gauss" || e.name == "tgauss")
        throw MadxError("the random function " + e.name +
                            " is not supported: a draw of MAD-X's generator cannot be reproduced, the import "
                            "takes fixed values (an error set draws errors with a seed)",
                        line);
    throw MadxError("unknown function '" + excerpt(e.name) + "'", line);
}

} // namespace

std::vector<MadxToken> tokenizeMadx(const std::string& s, int line)
{
    std::vector<MadxToken> tokens;
    tokens.reserve(std::min<std::size_t>(s.size(), 16));
    std::size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        MadxToken t;
        if (isNameStart(c)) {
            std::size_t j = i + 1;
            while (j < s.size() && isNameChar(s[j]))
                ++j;
            t.kind = MadxToken::Kind::Name;
            t.text = s.substr(i, j - i);
            t.value = lower(t.text);
            i = j;
        } else if (isDigit(c) || (c == '.' && i + 1 < s.size() && isDigit(s[i + 1]))) {
            std::string normalised;
            const std::size_t j = scanNumber(s, i, normalised);
            t.kind = MadxToken::Kind::Number;
            t.text = s.substr(i, j - i);
            t.value = normalised;
            t.number = std::strtod(normalised.c_str(), nullptr);
            if (!std::isfinite(t.number))
                throw MadxError("the number " + excerpt(t.text) + " is too large", line);
            i = j;
        } else if (c == '"' || c == '\'') {
            const std::size_t close = s.find(c, i + 1);
            if (close == std::string::npos)
                throw MadxError("a string is not closed", line);
            t.kind = MadxToken::Kind::String;
            t.value = s.substr(i + 1, close - i - 1);
            t.text = s.substr(i, close - i + 1);
            i = close + 1;
        } else {
            bool found = false;
            for (const char* symbol : kSymbols) {
                if (symbol[0] != c)
                    continue;
                const std::size_t n = std::char_traits<char>::length(symbol);
                if (s.compare(i, n, symbol) == 0) {
                    t.value = t.text = symbol;
                    i += n;
                    found = true;
                    break;
                }
            }
            if (!found)
                throw MadxError("unexpected character '" + printableText(std::string(1, c)) + "'", line);
        }
        tokens.push_back(std::move(t));
    }
    return tokens;
}

MadxExprPtr parseMadxExpression(const std::vector<MadxToken>& tokens, std::size_t begin, std::size_t end,
                                int line)
{
    return Parser(tokens, begin, end, line).parseAll();
}

double evaluateMadx(const MadxExpr& e, MadxScope& scope, int line)
{
    // the scope may evaluate deferred definitions, which come back here: one count for both
    const NestingGuard guard(line);
    double value = 0;
    switch (e.kind) {
    case MadxExpr::Kind::Number:
        return e.number;
    case MadxExpr::Kind::Variable: {
        const auto c = constants().find(e.name);
        value = c != constants().end() ? c->second : scope.variable(e.name);
        break;
    }
    case MadxExpr::Kind::Attribute:
        value = scope.attribute(e.name, e.attribute);
        break;
    case MadxExpr::Kind::Negate:
        return -evaluateMadx(*e.args[0], scope, line);
    case MadxExpr::Kind::Power:
        value = std::pow(evaluateMadx(*e.args[0], scope, line), evaluateMadx(*e.args[1], scope, line));
        break;
    case MadxExpr::Kind::Sum:
    case MadxExpr::Kind::Product: {
        value = evaluateMadx(*e.args[0], scope, line);
        for (std::size_t i = 1; i < e.args.size(); ++i) {
            const double b = evaluateMadx(*e.args[i], scope, line);
            switch (e.ops[i - 1]) {
            case '+':
                value += b;
                break;
            case '-':
                value -= b;
                break;
            case '*':
                value *= b;
                break;
            default:
                value /= b;
                break;
            }
        }
        break;
    }
    case MadxExpr::Kind::Call: {
        std::vector<double> a;
        for (const MadxExprPtr& arg : e.args)
            a.push_back(evaluateMadx(*arg, scope, line));
        value = call(e, a, line);
        break;
    }
    }
    if (!std::isfinite(value))
        throw MadxError(
            "an expression has no finite value (division by zero or a function outside its domain)", line);
    return value;
}

} // namespace kestrune

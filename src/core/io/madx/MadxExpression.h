#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kestrune {

/// A refusal or a syntax fault of a MAD-X input, with the line it was found on (0: no line).
struct MadxError : std::runtime_error
{
    MadxError(const std::string& text, int atLine, std::string inFile = {})
        : std::runtime_error(text), line(atLine), file(std::move(inFile))
    {
    }
    int line;
    std::string file; // the file the line belongs to; empty until the reader knows it
};

/// One token of a MAD-X statement. Names are lower case (the language ignores case); `text` keeps
/// what was written.
struct MadxToken
{
    enum class Kind { Name, Number, String, Symbol };
    Kind kind = Kind::Symbol;
    std::string value; // the lower-case name, the string's contents, the symbol ("=", ":=", "->", ...)
    std::string text;  // as written
    double number = 0;
};

/// Splits one statement (without its ';') into tokens; Fortran exponents ("2.2D0") are read as
/// numbers. Throws MadxError for a character that has no place in the language.
std::vector<MadxToken> tokenizeMadx(const std::string& statement, int line);

/// A parsed MAD-X expression. A chain of + and - (or of * and /) is one node with all its terms, so that
/// neither evaluating nor destroying a long flat expression recurses once per term.
struct MadxExpr
{
    enum class Kind { Number, Variable, Attribute, Negate, Power, Sum, Product, Call };
    Kind kind = Kind::Number;
    double number = 0;
    std::string name;      // variable, element of an attribute reference, function
    std::string attribute; // of an attribute reference (element->attribute)
    std::string ops;       // Sum, Product: the operator before args[i], i >= 1 ("+-" or "*/")
    std::vector<std::shared_ptr<const MadxExpr>> args;
};
using MadxExprPtr = std::shared_ptr<const MadxExpr>;

/// What an expression's names stand for while it is evaluated.
class MadxScope
{
public:
    virtual ~MadxScope() = default;
    /// Value of a variable (0 for one that was never defined, as MAD-X takes it).
    virtual double variable(const std::string& name) = 0;
    /// Value of an element's (or a sequence's) attribute, element->attribute.
    virtual double attribute(const std::string& element, const std::string& attribute) = 0;
};

/// Parses tokens[begin, end) as one expression with + - * / ^, parentheses, unary signs, the functions
/// of the language, variables and element->attribute references. Throws MadxError.
MadxExprPtr parseMadxExpression(const std::vector<MadxToken>& tokens, std::size_t begin, std::size_t end,
                                int line);

/// Expressions and the deferred definitions they call on may nest this deep, together, while evaluated.
constexpr int kMaxMadxNesting = 4000;

/// The value of an expression; constants (pi, twopi, degrad, raddeg, e, clight, emass, pmass, ...) are
/// looked up before variables. Throws MadxError for a function outside the language, a result that is
/// not a finite number, or nesting (through the scope's deferred definitions too) beyond kMaxMadxNesting.
double evaluateMadx(const MadxExpr& expr, MadxScope& scope, int line);

} // namespace kestrune

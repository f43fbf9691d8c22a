#pragma once

// The control statements of a MAD-X input as text: if/elseif/else and while blocks, macro definitions
// and their calls. The reader runs the bodies as statements of their own.

#include "core/io/madx/MadxExpression.h"

#include <functional>
#include <string>
#include <vector>

namespace kestrune {

/// One block of braces: its condition (empty for `else` and a macro) and its body, with the lines they
/// start on.
struct MadxBlock
{
    std::string condition;
    int conditionLine = 0;
    std::string body;
    int bodyLine = 0;
};

/// A macro as defined: `name(a, b): macro = { body };`.
struct MadxMacro
{
    std::string name; // lower case
    std::vector<std::string> parameters;
    MadxBlock block;
    std::string file;
};

/// A call of a macro: `exec, name(x, y);`.
struct MadxExec
{
    std::string name; // lower case
    std::vector<std::string> arguments;
};

/// The first word of a statement in lower case.
std::string madxFirstWord(const std::string& statement);
/// True for the text of a macro definition ("name(...): macro = {").
bool isMadxMacroDefinition(const std::string& statement);
/// True for a statement that ends with its closing brace: an if or while block or a macro definition.
bool isMadxBlockStatement(const std::string& statement);

/// The blocks of `if (c) {..} elseif (c) {..} else {..}` written from line on; throws MadxError.
std::vector<MadxBlock> parseMadxIf(const std::string& statement, int line);
/// The block of `while (c) {..}`; throws MadxError.
MadxBlock parseMadxWhile(const std::string& statement, int line);
/// A macro definition; throws MadxError.
MadxMacro parseMadxMacro(const std::string& statement, int line);
/// A macro call; throws MadxError.
MadxExec parseMadxExec(const std::string& statement, int line);
/// The macro's body with every parameter, as a whole word, replaced by its argument.
std::string substituteMadxArguments(const MadxMacro& macro, const MadxExec& call, int line);

/// The truth of a condition: comparisons (==, <>, <, >, <=, >=) of expressions joined by && and ||,
/// parentheses around any part; a bare expression is true when it is not zero. Throws MadxError.
bool evaluateMadxCondition(const std::string& condition, int line,
                           const std::function<double(const MadxExpr&)>& value);

} // namespace kestrune

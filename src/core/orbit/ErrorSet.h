#pragma once

// Error sets: rules that give the elements of a line misalignments and field errors, drawn from fixed
// values or distributions with a seed, so that a study of errors can be run again with the same machine.

#include "core/BeamLine.h"
#include "core/Messages.h"
#include "core/NamePattern.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// The error a rule sets: a component of the misalignment or a field error of an order.
enum class ErrorComponent { Dx, Dy, Ds, Dtheta, Dphi, Dpsi, Dkn, Dks };

enum class ErrorDistribution {
    Fixed,    // the value itself
    Gaussian, // mean 0, standard deviation `value`, cut at `cut` standard deviations (0: no cut)
    Uniform   // uniform in [-value, value]
};

/// One rule: which elements, which error, how it is drawn, and whether it adds to the error the element
/// has or replaces it.
struct ErrorRule
{
    std::optional<NamePattern> pattern; // element names (NamePattern); nothing: any name
    std::vector<int> families;          // element families (code / 10); empty: any
    std::vector<std::string> names;     // element names, as written; empty: any
    ErrorComponent component = ErrorComponent::Dx;
    int order = 0;     // multipole order of a field error, 0..kMaxMultipoleOrder
    double radius = 0; // m; > 0: the value is relative to the main field at this radius
    ErrorDistribution distribution = ErrorDistribution::Fixed;
    double value = 0; // m, rad, 1/m^order or relative: the fixed value, sigma or half width
    double cut = 0;   // Gaussian cut in sigma, 0 for none
    bool replace = false;
};

struct ErrorSet
{
    std::uint64_t seed = 0;
    std::vector<ErrorRule> rules;
};

/// Most rules an error set holds.
constexpr std::size_t kMaxErrorRules = 10000;

/// The error set of a JSON text:
///   {"seed": N,
///    "rules": [{"elements": {"pattern": "^QF", "family": "quadrupole" | [...], "names": ["QF1", ...]},
///               "error": "dx" | "dy" | "ds" | "dtheta" | "dphi" | "dpsi" | "dkn" | "dks",
///               "order": N, "radius": R,
///               "value": X | "sigma": X, "cut": C | "half_width": X,
///               "mode": "add" | "replace"}]}
/// The element keys that are given must all hold (none: every element but drifts); a field error takes
/// its order, and with a radius (m) is relative to the element's main field there; exactly one of value,
/// sigma and half_width; mode add unless given. Nothing, after a message naming the rule and its key,
/// for text that is not such a set.
std::optional<ErrorSet> parseErrorSet(const std::string& text, Messages& messages);

/// Reads an error set file; nothing after the message when it cannot be read or is no error set.
std::optional<ErrorSet> readErrorSet(const std::string& fileName, Messages& messages);

/// The errors of elements 1..line.count ([0] unused) after the rules of the set, drawn with seed, applied
/// in their order to the errors the elements have. Drifts take none. The same on every machine and
/// whatever the order in which elements or rules are visited: each rule draws for each element from a
/// generator of its own, seeded with the seed, the rule's and the element's number.
std::vector<ElementErrors> drawErrors(const ErrorSet& set, const BeamLine& line, std::uint64_t seed);

/// Gives the elements of the line the errors the set draws with seed (drawErrors) and returns the
/// errors they had, for restoreErrors. Refuses errors an element cannot take (a misalignment beyond 1 m
/// or 1 rad), naming the element: nothing then, the line unchanged.
std::optional<std::vector<ElementErrors>> applyErrorSet(BeamLine& line, const ErrorSet& set,
                                                        std::uint64_t seed, Messages& messages);

/// Gives the elements back the errors applyErrorSet returned (elements 1..previous.size() - 1).
void restoreErrors(BeamLine& line, const std::vector<ElementErrors>& previous);

/// The errors of the line's elements in the form applyErrorSet returns them (index 0 unused).
std::vector<ElementErrors> lineErrors(const BeamLine& line);
/// True when two such lists hold the same errors, number for number.
bool sameErrors(const std::vector<ElementErrors>& a, const std::vector<ElementErrors>& b);

/// The draws behind drawErrors, for tests: a uniform number in [0, 1) and a standard normal number
/// (|z| <= cut when cut > 0) from the generator of a seed, a rule and an element.
double uniformDraw(std::uint64_t seed, std::size_t rule, int element);
double gaussianDraw(std::uint64_t seed, std::size_t rule, int element, double cut);

} // namespace kestrune

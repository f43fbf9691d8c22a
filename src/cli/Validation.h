#pragma once

#include <string>
#include <vector>

namespace kestrune {

/// One number of the cross-code validation set beside the program's own.
struct ValidationRow
{
    std::string ring;     // the lattice file's name without ".lat"
    std::string quantity; // the reference's snake_case name, with its unit
    std::string source;   // where the reference number comes from
    double reference = 0;
    double kestrune = 0;  // NaN where the program has no value
    double tolerance = 0; // on difference()
    double scale = 0;     // a reference below this size is compared by its absolute difference
    std::string note;     // where the two models differ: why; such a row is shown, not checked

    /// (kestrune - reference) / max(|reference|, scale); NaN without a value of the program.
    double difference() const;
    /// True when the difference is within the tolerance.
    bool agrees() const;
};

/// Runs every ring of a validation folder (reference.json, extra-reference.json and the lattice files
/// they name) through the core as the ring window computes it, and pairs each reference number with the
/// program's. Throws std::runtime_error naming the file that cannot be read.
std::vector<ValidationRow> validationRows(const std::string& folder);

/// The rows as the Markdown page of the validation table, one section per ring, the notes after them.
std::string validationMarkdown(const std::vector<ValidationRow>& rows);

} // namespace kestrune

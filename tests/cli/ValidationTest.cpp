// The cross-code validation set: every number of the three rings against MAD-X and the independent
// integration, with the tolerances of the table (docs/validation.md comes from the same rows).
#include "cli/Validation.h"

#include <cmath>
#include <gtest/gtest.h>
#include <set>
#include <stdexcept>

namespace kestrune {
namespace {

TEST(Validation, EveryNumberAgreesWithinItsTolerance)
{
    const std::vector<ValidationRow> rows = validationRows(KESTRUNE_VALIDATION);
    std::set<std::string> rings;
    int explained = 0;
    for (const ValidationRow& row : rows) {
        rings.insert(row.ring);
        // a number of another model is shown with its note, but the program must have its own
        ASSERT_TRUE(std::isfinite(row.kestrune)) << row.ring << " " << row.quantity;
        if (!row.note.empty()) {
            ++explained;
            continue;
        }
        EXPECT_TRUE(row.agrees()) << row.ring << " " << row.quantity << " (" << row.source << "): reference "
                                  << row.reference << ", Kestrune " << row.kestrune << ", difference "
                                  << row.difference() << ", tolerance " << row.tolerance;
    }
    EXPECT_EQ(rings.size(), 7u);
    // every number of the reference files is a row: 20, 20, 22, 6, 10, 4 and 34 of reference.json, 60
    // further ones
    EXPECT_EQ(rows.size(), 176u);
    // MAD-X's CHROM option on the pole faces (both planes of two rings), PTC's fringe field (vertical),
    // PTC's exact bends of 0.8 rad (both planes) and EMIT's solenoids (three modes)
    EXPECT_EQ(explained, 10);
}

TEST(Validation, TableShowsTheDisagreementsWithTheirNotes)
{
    const std::string table = validationMarkdown(validationRows(KESTRUNE_VALIDATION));
    EXPECT_NE(table.find("| natural_chromaticity_x | -1.596214507 | MAD-X TWISS, CHROM | -1.16330"),
              std::string::npos);
    EXPECT_NE(table.find("model differs (note 2)"), std::string::npos);
    EXPECT_NE(table.find("\n2. PTC's fringe field"), std::string::npos);
}

TEST(Validation, MissingFolderNamesTheFile)
{
    try {
        validationRows("/nonexistent");
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "cannot read /nonexistent/reference.json: No such file or directory");
    }
}

} // namespace
} // namespace kestrune

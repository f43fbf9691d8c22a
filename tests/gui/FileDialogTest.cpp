#include "gui/FileDialog.h"

#include "core/io/Listing.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

TEST(FileDialog, ProgramFiltersReadAsQtFilters)
{
    // the program's own dialogs: one entry with its pattern list
    EXPECT_EQ(qtFilter(kSaveListDialog.filter).toStdString(), "List Data (*.txt)");
    // several entries, bare extensions, blanks around patterns
    EXPECT_EQ(qtFilter("Lattice|lat; txt|All files|*").toStdString(), "Lattice (*.lat *.txt);;All files (*)");
    // a filter already in Qt's form passes unchanged
    EXPECT_EQ(qtFilter("TFS tables (*.tfs);;All files (*)").toStdString(),
              "TFS tables (*.tfs);;All files (*)");
}

} // namespace
} // namespace kestrune

#include "app/EnterTextDialog.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

TEST(EnterTextDialog, AcceptStoresTheTextAndClearsTheBox)
{
    State state;
    Windows windows;
    EnterTextDialog dialog(state, windows);
    dialog.setWindowTitle("edit Graph Title");
    dialog.show();
    auto* box = dialog.findChild<QLineEdit*>("edText");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->placeholderText(), "input your selection here");
    QTest::keyClicks(box, "FODO cell, 2 GeV");
    QTest::mouseClick(dialog.findChild<QPushButton*>("bbAccept"), Qt::LeftButton);
    EXPECT_EQ(state.enteredText, "FODO cell, 2 GeV");
    EXPECT_TRUE(box->text().isEmpty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());

    dialog.show();
    dialog.bbAcceptClick(); // an empty box gives the empty text
    EXPECT_EQ(state.enteredText, "");
}

TEST(EnterTextDialog, ClosingOtherwiseKeepsTheEnteredText)
{
    State state;
    Windows windows;
    state.enteredText = "3";
    EnterTextDialog dialog(state, windows);
    dialog.setText("7");
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(state.enteredText, "3");
}

} // namespace
} // namespace kestrune

#include "gui/shell/EnterTextDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
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

TEST(EnterTextDialog, ThePromptIsWrittenInTheDialog)
{
    State state;
    Windows windows;
    EnterTextDialog dialog(state, windows);
    QString shown;
    bool visible = false;
    // without a window manager the caption is not seen: the prompt stands beside the OK button
    QTimer::singleShot(0, &dialog, [&] {
        auto* prompt = dialog.findChild<QLabel*>("lPrompt");
        if (prompt) {
            shown = prompt->text();
            visible = prompt->isVisible() && dialog.rect().contains(prompt->geometry());
        }
        QTest::keyClicks(dialog.findChild<QLineEdit*>("edText"), "3");
        dialog.bbAcceptClick();
    });
    EXPECT_TRUE(dialog.ask("repeat BL how many times?"));
    EXPECT_EQ(shown, "repeat BL how many times?");
    EXPECT_TRUE(visible);
    EXPECT_EQ(state.enteredText, "3");
}

} // namespace
} // namespace kestrune

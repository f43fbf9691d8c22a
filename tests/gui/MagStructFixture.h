#pragma once

#include "core/Kinematics.h"
#include "core/State.h"
#include "core/editor/LineEditing.h"
#include "gui/QtMessages.h"
#include "gui/Windows.h"
#include "gui/editor/LatticeChart.h"
#include "gui/editor/MagStructWindow.h"
#include "support/FakeMessages.h"

#include <QApplication>
#include <gtest/gtest.h>
#include <memory>

namespace kestrune::test {

/// A beam-dynamics window on its own state, with every message recorded by a fake and every file
/// dialog answered by the test.
class MagStructFixture : public ::testing::Test
{
protected:
    MagStructFixture()
    {
        qtMessages = std::make_unique<QtMessages>(windows);
        qtMessages->redirectTo(&fake);
        windows.messages = qtMessages.get();
        window = std::make_unique<MagStructWindow>(state, windows);
        window->dialogs().openFile = [this](const QString& title, const QString&) {
            dialogTitles.push_back(title);
            return openAnswer;
        };
        window->dialogs().saveFile = [this](const QString& title, const QString&, const QString& suffix,
                                            const QString& preset) {
            saveTitles.push_back(title);
            saveSuffixes.push_back(suffix);
            savePresets.push_back(preset);
            return saveAnswer;
        };
        window->dialogs().choosePrinter = [](QPrinter&) { return false; };
        window->dialogs().enterText = [this](const QString& caption, const QString& preset) {
            enterCaptions.push_back(caption);
            enterPresets.push_back(preset);
            if (!enterAnswer)
                return false;
            state.enteredText = enterAnswer->toStdString();
            return true;
        };
        updateKinematics(state.beam, EnergyKind::Momentum, 1e9);
        state.beam.referenceMomentum = state.beam.momentum;
    }

    /// Shows the window at a fixed size and lays the chart out.
    void showWindow()
    {
        window->resize(1200, 760);
        window->show();
        QApplication::processEvents();
        window->chart()->refresh();
    }

    /// Appends elements of the given kinds through the editing core.
    void appendKinds(std::initializer_list<int> kinds)
    {
        for (int kind : kinds)
            ASSERT_TRUE(addElement(state, kind, fake));
    }

    State state;
    Windows windows;
    FakeMessages fake;
    std::unique_ptr<QtMessages> qtMessages;
    std::unique_ptr<MagStructWindow> window;
    QString openAnswer;
    QString saveAnswer; // the save dialogs' answer: empty for cancel
    QStringList saveTitles;
    QStringList saveSuffixes;
    QStringList savePresets;
    std::optional<QString> enterAnswer;
    QStringList dialogTitles;
    QStringList enterCaptions;
    QStringList enterPresets;
};

} // namespace kestrune::test

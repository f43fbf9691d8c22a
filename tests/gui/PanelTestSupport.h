#pragma once

#include "core/Kinematics.h"
#include "core/State.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <string>

namespace kestrune::test {

/// Appends an element to state's line with its positions chained and its shape spanned.
inline LatticeElement& appendElement(State& state, const std::string& name, int elementCode, double length)
{
    BeamLine& line = state.line;
    ++line.count;
    LatticeElement& e = line.at(line.count);
    e = LatticeElement{};
    e.name = name;
    e.code = elementCode;
    e.length = length;
    line.chainPositions(line.count);
    line.shape(line.count).x0 = e.s;
    line.shape(line.count).x1 = e.s + length;
    return e;
}

/// The child of parent with objectName name; fails the test when there is none.
template <class T> T* child(const QWidget& parent, const char* name)
{
    T* found = parent.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
}

/// Opens the editor of a grid cell, replaces its text by typing and commits it with Return.
inline void typeIntoCell(QTableWidget* grid, int column, int row, const QString& text)
{
    QTableWidgetItem* item = grid->item(row, column);
    ASSERT_NE(item, nullptr);
    grid->setCurrentItem(item);
    grid->editItem(item);
    // closed editors stay hidden until their deferred delete; the open one is the visible one
    QLineEdit* editor = nullptr;
    for (QLineEdit* candidate : grid->viewport()->findChildren<QLineEdit*>())
        if (candidate->isVisible())
            editor = candidate;
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, Qt::Key_Return);
    // the delegate commits a Return through a queued call
    QCoreApplication::processEvents();
}

/// Replaces the text of an edit box by typing.
inline void typeInto(QLineEdit* box, const QString& text)
{
    box->selectAll();
    QTest::keyClicks(box, text);
}

} // namespace kestrune::test

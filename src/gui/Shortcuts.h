#pragma once

#include <QKeySequence>
#include <QList>
#include <initializer_list>
#include <utility>

class QAction;
class QMenu;
class QObject;
class QWidget;

namespace kestrune {

/// The platform's keys for a standard command; fallback where the platform has none (Quit and Save As
/// have no keys under the Windows conventions, for example).
QList<QKeySequence> standardKeys(QKeySequence::StandardKey key, const QKeySequence& fallback);

/// Gives action the platform's keys for key, or fallback; the menu shows the first.
void setStandardShortcut(QAction* action, QKeySequence::StandardKey key, const QKeySequence& fallback);

/// Esc and the platform's close keys (Ctrl+W) close window; a close key one of its commands already has
/// stays with that command.
void addCloseKeys(QWidget* window);

/// Alt with a letter is a mnemonic: when its control is disabled the letter is not typed into the box
/// that has the focus; the undo and redo keys in a box with nothing to undo or redo go to the window's
/// Edit menu. Installed once on the application.
void keepAltKeysOutOfBoxes(QObject* application);

/// Gives the entries of menu with the given texts their keys; every text must name an entry.
void setMenuKeys(QMenu* menu, std::initializer_list<std::pair<const char*, QKeySequence>> keys);

} // namespace kestrune

#pragma once

#include <QKeySequence>
#include <QList>

class QAction;

namespace kestrune {

/// The platform's keys for a standard command; fallback where the platform has none (Quit and Save As
/// have no keys under the Windows conventions, for example).
QList<QKeySequence> standardKeys(QKeySequence::StandardKey key, const QKeySequence& fallback);

/// Gives action the platform's keys for key, or fallback; the menu shows the first.
void setStandardShortcut(QAction* action, QKeySequence::StandardKey key, const QKeySequence& fallback);

} // namespace kestrune

#include "app/ShortcutsQt.h"

#include <QAction>

namespace kestrune {

QList<QKeySequence> standardKeys(QKeySequence::StandardKey key, const QKeySequence& fallback)
{
    QList<QKeySequence> keys = QKeySequence::keyBindings(key);
    if (keys.isEmpty())
        keys << fallback;
    return keys;
}

void setStandardShortcut(QAction* action, QKeySequence::StandardKey key, const QKeySequence& fallback)
{
    action->setShortcuts(standardKeys(key, fallback));
}

} // namespace kestrune

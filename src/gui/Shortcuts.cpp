#include "gui/Shortcuts.h"

#include <QAction>
#include <QMenu>
#include <stdexcept>

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

void setMenuKeys(QMenu* menu, std::initializer_list<std::pair<const char*, QKeySequence>> keys)
{
    for (const auto& [text, sequence] : keys) {
        QAction* entry = nullptr;
        for (QAction* action : menu->actions())
            if (action->text() == text)
                entry = action;
        if (!entry)
            throw std::logic_error(std::string("no menu entry \"") + text + "\" for a key");
        entry->setShortcut(sequence);
    }
}

} // namespace kestrune

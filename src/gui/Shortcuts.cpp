#include "gui/Shortcuts.h"

#include <QAction>
#include <QMenu>
#include <QWidget>
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

void addCloseKeys(QWidget* window)
{
    QList<QKeySequence> taken;
    for (const QAction* action : window->findChildren<QAction*>())
        taken += action->shortcuts();
    QList<QKeySequence> keys{QKeySequence(Qt::Key_Escape)};
    QList<QKeySequence> closeKeys = standardKeys(QKeySequence::Close, Qt::CTRL | Qt::Key_W);
    if (!closeKeys.contains(QKeySequence(Qt::CTRL | Qt::Key_W)))
        closeKeys << QKeySequence(Qt::CTRL | Qt::Key_W);
    for (const QKeySequence& key : closeKeys)
        if (!taken.contains(key) && !keys.contains(key))
            keys << key;
    auto* close = new QAction(window);
    close->setObjectName("acCloseWindow");
    close->setShortcuts(keys);
    close->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(close, &QAction::triggered, window, &QWidget::close);
    window->addAction(close);
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

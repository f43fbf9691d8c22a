#include "gui/Shortcuts.h"

#include <QAction>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
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

namespace {

class AltKeysOutOfBoxes : public QObject
{
public:
    explicit AltKeysOutOfBoxes(QObject* parent) : QObject(parent) { setObjectName("altKeysOutOfBoxes"); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* box = qobject_cast<QLineEdit*>(watched);
        if (!box)
            return false;
        const auto* key = static_cast<const QKeyEvent*>(event);
        // a box with nothing of its own to undo or redo leaves the keys to the window's Edit menu (the
        // design's undo), which it would otherwise swallow
        if (event->type() == QEvent::ShortcutOverride)
            return (key->matches(QKeySequence::Undo) && !box->isUndoAvailable()) ||
                   (key->matches(QKeySequence::Redo) && !box->isRedoAvailable());
        if (event->type() != QEvent::KeyPress)
            return false;
        const Qt::KeyboardModifiers held = key->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
        // Ctrl+Alt is AltGr on some keyboards, which types characters
        return held == Qt::AltModifier && !key->text().isEmpty();
    }
};

} // namespace

void keepAltKeysOutOfBoxes(QObject* application)
{
    if (application->findChild<QObject*>("altKeysOutOfBoxes", Qt::FindDirectChildrenOnly))
        return;
    application->installEventFilter(new AltKeysOutOfBoxes(application));
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

#include "gui/MenuItems.h"

#include <QAction>
#include <QWidget>

namespace kestrune {

QAction* addMenuItem(QWidget* menuOrBar, const QString& objectName, const QString& text, QObject* receiver,
                     std::function<void()> handler)
{
    auto* action = new QAction(text, menuOrBar);
    if (!objectName.isEmpty())
        action->setObjectName(objectName);
    menuOrBar->addAction(action);
    QObject::connect(action, &QAction::triggered, receiver, [handler = std::move(handler)] { handler(); });
    return action;
}

} // namespace kestrune

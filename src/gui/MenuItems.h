#pragma once

#include <QString>
#include <functional>

class QAction;
class QObject;
class QWidget;

namespace kestrune {

/// Adds the entry text to a menu or to the menu bar itself; it runs handler (in receiver's context) and
/// carries objectName when one is given.
QAction* addMenuItem(QWidget* menuOrBar, const QString& objectName, const QString& text, QObject* receiver,
                     std::function<void()> handler);

} // namespace kestrune

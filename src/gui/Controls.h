#pragma once

#include <QString>

class QLabel;
class QLineEdit;
class QWidget;

namespace kestrune {

/// A label named objectName (the name the windows' controls are found by) showing text.
QLabel* makeLabel(const QString& objectName, const QString& text, QWidget* parent);
/// An edit box named objectName holding text, at most 110 pixels wide as the forms draw them.
QLineEdit* makeEdit(const QString& objectName, const QString& text, QWidget* parent);

} // namespace kestrune

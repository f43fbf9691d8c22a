#pragma once

#include <QString>
#include <optional>
#include <string>

class QGridLayout;
class QLabel;
class QLineEdit;
class QWidget;

namespace kestrune {

class Messages;
struct ScanLimit;

/// A label named objectName (the name the windows' controls are found by) showing text.
QLabel* makeLabel(const QString& objectName, const QString& text, QWidget* parent);
/// An edit box named objectName holding text, at most 110 pixels wide as the forms draw them.
QLineEdit* makeEdit(const QString& objectName, const QString& text, QWidget* parent);

/// An edit box named name holding text on a new row of grid, at most 80 pixels wide, with its caption
/// before it (the scan windows' input columns).
QLineEdit* addCaptionedBox(QGridLayout* grid, const char* name, const QString& caption, const QString& text);

/// The number of a box inside the scans' limit (a whole number where whole); nothing after the refusal
/// naming the box by name.
std::optional<double> limitedBoxValue(QLineEdit* box, const std::string& name, const ScanLimit& limit,
                                      bool whole, Messages& messages);

} // namespace kestrune

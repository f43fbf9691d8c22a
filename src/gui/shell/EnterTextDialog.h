#pragma once

#include "core/State.h"
#include "gui/Windows.h"

#include <QDialog>

class QLabel;
class QLineEdit;

namespace kestrune {

/// The one-line text entry: the caller sets the caption to its prompt, may put the current value
/// into the box, shows the dialog modally and then reads the state's enteredText.
class EnterTextDialog : public QDialog
{
    Q_OBJECT
public:
    EnterTextDialog(State& state, Windows& windows, QWidget* parent = nullptr);

    /// Shows the dialog modally with prompt as caption, also written in the dialog beside the OK
    /// button (the caption is not seen without a window manager), and text in the box; true when
    /// accepted.
    bool ask(const QString& prompt, const QString& text = QString());
    /// Puts text into the box.
    void setText(const QString& text);

    /// OK: the box's text becomes enteredText, the box is cleared and the dialog closes.
    void bbAcceptClick();

private:
    State& m_state;
    Windows& m_windows;
    QLineEdit* m_edText = nullptr;
    QLabel* m_prompt = nullptr;
};

} // namespace kestrune

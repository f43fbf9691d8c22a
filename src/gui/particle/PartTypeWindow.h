#pragma once

#include "core/State.h"
#include "gui/Windows.h"

#include <QDialog>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace kestrune {

class Messages;

/// The particle window: particle kind from its menu, the ion from its list, the energy as
/// momentum or kinetic energy. Shown modally; the particle stays when it is closed.
class PartTypeWindow : public QDialog
{
    Q_OBJECT
public:
    PartTypeWindow(State& state, Windows& windows, QWidget* parent = nullptr);

    /// Shows the window modally; its ion list is hidden again afterwards.
    void showModal();
    void hideIonList();

    // Handlers; a box that holds no number throws ConversionError after what came before it
    // has been stored.
    void formActivate();
    void electronClick();
    void protonClick();
    void ionClick();
    void ionListClick(int row);
    void rbEkinClick();
    void rbMomClick();
    void bbPartTypeAcceptClick();
    void closeClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildControls();
    /// The display after a change of particle kind (the physics is particleParameter of the core).
    void particleParameter();
    Messages& messages();

    State& m_state;
    Windows& m_windows;
    QFrame* m_pnPartType = nullptr;
    QComboBox* m_ionList = nullptr;
    QLineEdit* m_edSelPart = nullptr;
    QLabel* m_chargeLabel = nullptr;
    QLineEdit* m_edZ = nullptr;
    QLineEdit* m_edAMU = nullptr;
    QLineEdit* m_edRestMass = nullptr;
    QRadioButton* m_rbMom = nullptr;
    QRadioButton* m_rbEkin = nullptr;
    QLineEdit* m_edMom = nullptr;
    QLineEdit* m_edEkin = nullptr;
    QLabel* m_lIonMomentum = nullptr;
    QLabel* m_lIonVelocity = nullptr;
    QLabel* m_lIonBeta = nullptr;
};

} // namespace kestrune

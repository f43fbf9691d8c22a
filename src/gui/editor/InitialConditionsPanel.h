#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/editor/ElementParameters.h"
#include "core/editor/InitialConditions.h"
#include "core/optics/Samples.h"

#include <QFrame>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <string>
#include <vector>

class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

namespace kestrune {

/// The start conditions of the beam-dynamics computation: the single-particle panel (objectName
/// "pnSinPart") and the lattice-function panel ("pnInitLatFun" with the groups "gbBeta" and "gbBeam").
/// The two frames are children of the parent given (or of this object without one), so the window can
/// place them over its chart; this widget itself stays invisible.
class InitialConditionsPanel : public QWidget
{
    Q_OBJECT
public:
    InitialConditionsPanel(State& state, Messages& messages, QWidget* parent = nullptr);
    ~InitialConditionsPanel() override;

    QFrame* singleParticleFrame() const { return m_sinPart.data(); }
    QFrame* latticeFunctionFrame() const { return m_initLatFun.data(); }

    /// "calculate single particle trajectory": trajectory mode, shows pnSinPart (no update yet).
    void showSingleParticle();
    /// "start with specific beta_o and alpha_o": lattice-function mode, shows pnInitLatFun.
    void showLatticeFunctions();
    /// "show beam sizes": beam-size mode, shows pnInitLatFun with gbBeam (no update yet).
    void showBeamSizes();
    /// "look for periodic solution": false when the periodic solution failed (boxes untouched, no
    /// update); otherwise the start row went to list, the boxes show the periodic values and
    /// updateRequested was emitted.
    bool lookForPeriodicSolution(ListSink* list);
    /// The boxes of the window's reset: the trajectory and lattice-function boxes get their start texts
    /// ("1.0", "0.0", "10.0", ...), the others keep theirs. Call it after the core part of the reset.
    void resetBoxes();
    /// The boxes from the stored start values, after a lattice file was read.
    void fillFromState();
    /// Hides both frames.
    void hidePanels();
    /// The texts of all boxes / sets them.
    InitialBoxes boxes() const;
    void setBoxes(const InitialBoxes& boxes);

signals:
    void updateRequested();                    // run the beam-dynamics update
    void seriesRetitleRequested(QString kind); // the curve series get the kind ("path" for the trajectory)
    void aboutToStore();                       // a "use" button is about to store the boxes' values
    void storeEnded();                         // and has stored them, or refused

private:
    void buildSingleParticle(QWidget* host);
    void buildLatticeFunctions(QWidget* host);
    QLineEdit* makeBox(const char* name, QWidget* parent);
    void showPanels(const StartPanels& panels);
    /// A "use" button's click between aboutToStore and storeEnded.
    void storing(void (InitialConditionsPanel::*click)());
    void bbSinPartClick();
    void bbInitLatFunClick();
    void initBeamSizeClick();
    /// The start form chosen (cbStartForm): the Edwards-Teng boxes typed, or the beam-matrix or the
    /// Mais-Ripken boxes shown and the Edwards-Teng boxes they fill read-only. Each form is filled as it
    /// comes up: the form left gives the Edwards-Teng boxes its values where it was changed since it came
    /// up, and the form chosen shows those of the Edwards-Teng boxes (a refusal shown, the boxes it would
    /// have filled kept).
    void cbStartFormChange();
    /// The texts of the boxes of a start form (none for the Edwards-Teng one).
    std::vector<std::string> formTexts(int form) const;
    void buildBeamMatrix(QWidget* parent, QLayout* layout);
    void buildMaisRipken(QWidget* parent, QLayout* layout);

    State& m_state;
    Messages& m_messages;

    QPointer<QFrame> m_sinPart;
    QPointer<QFrame> m_initLatFun;
    QGroupBox* m_gbBeta = nullptr;
    QGroupBox* m_gbBeam = nullptr;
    QLineEdit* m_edXo = nullptr;
    QLineEdit* m_edXpo = nullptr;
    QLineEdit* m_edYo = nullptr;
    QLineEdit* m_edYpo = nullptr;
    QLineEdit* m_edD0 = nullptr;
    QLineEdit* m_edDp0 = nullptr;
    QLineEdit* m_edDpp = nullptr;
    QLineEdit* m_edBetax0 = nullptr;
    QLineEdit* m_edBetay0 = nullptr;
    QLineEdit* m_edAlphax0 = nullptr;
    QLineEdit* m_edAlphay0 = nullptr;
    QLineEdit* m_edEtax0 = nullptr;
    QLineEdit* m_edEtapx0 = nullptr;
    QLineEdit* m_edEtay0 = nullptr;
    QLineEdit* m_edEtapy0 = nullptr;
    QLineEdit* m_edR11 = nullptr;
    QLineEdit* m_edR12 = nullptr;
    QLineEdit* m_edR21 = nullptr;
    QLineEdit* m_edR22 = nullptr;
    QLineEdit* m_edDelta = nullptr;
    QLineEdit* m_edEpsx = nullptr;
    QLineEdit* m_edEpsy = nullptr;
    QLineEdit* m_edSigx0 = nullptr;
    QLineEdit* m_edSigy0 = nullptr;
    QComboBox* m_cbStartForm = nullptr;
    QGroupBox* m_gbSigma = nullptr;
    QLineEdit* m_edS[4][4] = {}; // the upper triangle
    QGroupBox* m_gbMaisRipken = nullptr;
    QLineEdit* m_edMr[10] = {};            // edB11, edB12, edB21, edB22, edA11 .. edA22, edNu1, edNu2
    int m_startForm = 0;                   // the form cbStartForm showed last
    std::vector<std::string> m_filledForm; // its boxes as the switch to it filled them
};

} // namespace kestrune

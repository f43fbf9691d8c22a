#pragma once

#include "core/BeamLine.h"
#include "core/nonlinear/ChromaticTunes.h"
#include "core/nonlinear/DrivingTerms.h"

#include <QString>
#include <QWidget>

class QCustomPlot;
class QCPBars;
class QCPGraph;
class QCPTextElement;

namespace kestrune {

class MagShapePlottable;

/// The charts of the sextupole-knob window: the ten driving terms of the ring as bars of |h| (the
/// geometric group and the chromatic group side by side, `chKnobTerms`), the build-up of one term's |h|
/// along the cell over the lattice drawing (`chKnobBuildUp`), and the tunes' shifts Q(delta) - Q(0) of
/// the tracked scan with their cubic fits (`chKnobTunes`).
class SextupoleKnobCharts : public QWidget
{
    Q_OBJECT
public:
    SextupoleKnobCharts(const BeamLine& line, QWidget* parent = nullptr);

    /// The terms' bars and the build-up of term; nothing shown, with why as the titles, for none.
    void showTerms(const DrivingTerms* terms, DrivingTerm term, const QString& why = {});
    /// The scan's points and fits; nothing, with why as the title, for none.
    void showTunes(const ChromaticTunes* tunes, const QString& why = {});

    QCustomPlot* termsPlot() const { return m_terms; }
    QCustomPlot* buildUpPlot() const { return m_buildUp; }
    QCustomPlot* tunesPlot() const { return m_tunes; }
    /// |h| of bar t (DrivingTerm order) as drawn; 0 when no bar is drawn.
    double barValue(int t) const;
    int buildUpPoints() const;
    int tunePoints() const;
    QString tunesTitle() const;

private:
    void buildTermsPlot();
    void buildBuildUpPlot();
    void buildTunesPlot();

    const BeamLine& m_line;
    QCustomPlot* m_terms = nullptr;
    QCustomPlot* m_buildUp = nullptr;
    QCustomPlot* m_tunes = nullptr;
    QCPTextElement* m_termsTitle = nullptr;
    QCPTextElement* m_buildUpTitle = nullptr;
    QCPTextElement* m_tunesTitle = nullptr;
    QCPBars* m_geometric = nullptr;
    QCPBars* m_chromatic = nullptr;
    QCPGraph* m_term = nullptr;
    MagShapePlottable* m_shapes = nullptr;
    QCPGraph* m_pointsX = nullptr;
    QCPGraph* m_pointsY = nullptr;
    QCPGraph* m_fitX = nullptr;
    QCPGraph* m_fitY = nullptr;
};

} // namespace kestrune

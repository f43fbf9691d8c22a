#pragma once

#include "core/nonlinear/FrequencyMap.h"

#include <QString>
#include <QWidget>

class QCustomPlot;
class QCPAxisRect;
class QCPColorScale;
class QCPGraph;
class QCPTextElement;

namespace kestrune {

class DiffusionPoints;

/// The chart `chFrequencyMap`: the start amplitudes of a frequency map (x and y in mm, or x in mm and
/// the momentum deviation in %), each cell coloured by its diffusion index, lost points as grey
/// crosses and points without a clear tune as open circles; beside it the tune footprint, the
/// fractional tunes of the first half coloured alike, with the colour scale of both.
class FrequencyMapChart : public QWidget
{
    Q_OBJECT
public:
    explicit FrequencyMapChart(QWidget* parent = nullptr);

    QCustomPlot* plot() const { return m_plot; }

    /// The map of settings.
    void showMap(const FrequencyMap& map, const FrequencyMapSettings& settings, const QString& title);
    /// Takes every point off, with title.
    void clear(const QString& title);

    int mapPoints() const;
    int footprintPoints() const;
    int lostPoints() const;
    QString title() const;
    QCPAxisRect* mapRect() const { return m_mapRect; }
    QCPAxisRect* footprintRect() const { return m_footprintRect; }
    QCPColorScale* colourScale() const { return m_scale; }

private:
    QCustomPlot* m_plot = nullptr;
    QCPTextElement* m_title = nullptr;
    QCPAxisRect* m_mapRect = nullptr;
    QCPAxisRect* m_footprintRect = nullptr;
    QCPColorScale* m_scale = nullptr;
    DiffusionPoints* m_map = nullptr;
    DiffusionPoints* m_footprint = nullptr;
    QCPGraph* m_lost = nullptr;
    QCPGraph* m_unclear = nullptr;
};

} // namespace kestrune

#pragma once

#include <QPaintDevice>
#include <QSize>
#include <cstdint>
#include <memory>
#include <vector>

namespace kestrune {

class WmfPaintEngine;

/// A paint device of width x height pixels at 96 dpi whose painting becomes the records of a
/// placeable Windows metafile: lines, polygons, rectangles, ellipses, text and pictures, with the
/// painter's pens, brushes, fonts and rectangular clips. Draw with one QPainter, end it, then take
/// the file's bytes with finish().
class WmfPaintDevice : public QPaintDevice
{
public:
    explicit WmfPaintDevice(QSize size);
    ~WmfPaintDevice() override;
    WmfPaintDevice(const WmfPaintDevice&) = delete;
    WmfPaintDevice& operator=(const WmfPaintDevice&) = delete;

    QPaintEngine* paintEngine() const override;

    /// Metafile units per device pixel: the file keeps 96 x unitsPerPixel() units to the inch.
    int unitsPerPixel() const { return m_unitsPerPixel; }
    /// The bytes of the metafile drawn so far, closed with the end record.
    std::vector<std::uint8_t> finish();

protected:
    int metric(PaintDeviceMetric metric) const override;

private:
    QSize m_size;
    int m_unitsPerPixel;
    std::unique_ptr<WmfPaintEngine> m_engine;
};

} // namespace kestrune

#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace kestrune {

/// The picture held in JPEG data, decoded with libjpeg into RGB888. Data that libjpeg cannot
/// decode gives a null image; its message then goes to *error when error is given.
QImage decodeJpeg(const QByteArray& data, QString* error = nullptr);

/// The JPEG picture stored in a resource or file; a null image when it is missing or broken.
QImage loadJpeg(const QString& path, QString* error = nullptr);

} // namespace kestrune

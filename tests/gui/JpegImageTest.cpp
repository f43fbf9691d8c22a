#include "gui/shell/JpegImage.h"

#include "gui/Resources.h"

#include <QFile>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

QByteArray startPicture()
{
    ensureResources();
    QFile file(":/images/start.jpg");
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

TEST(JpegImage, DecodesTheStartPicture)
{
    QString error;
    const QImage image = decodeJpeg(startPicture(), &error);
    ASSERT_FALSE(image.isNull()) << error.toStdString();
    EXPECT_EQ(image.size(), QSize(559, 360));
    EXPECT_EQ(image.format(), QImage::Format_RGB888);
    // the top-left corner is the light background, not the grey of a failed decode
    const QColor corner = image.pixelColor(2, 2);
    EXPECT_GT(corner.red(), 220);
    EXPECT_GT(corner.green(), 220);
    EXPECT_EQ(loadJpeg(":/images/start.jpg").size(), image.size());
}

TEST(JpegImage, BrokenDataGivesANullImageAndAMessage)
{
    const QByteArray whole = startPicture();
    QString error;
    EXPECT_TRUE(decodeJpeg(QByteArray("this is not a picture"), &error).isNull());
    EXPECT_FALSE(error.isEmpty());

    error.clear();
    EXPECT_TRUE(decodeJpeg(whole.left(whole.size() / 2), &error).isNull()); // cut off
    EXPECT_FALSE(error.isEmpty());

    QByteArray damaged = whole;
    for (int i = 200; i < damaged.size(); i += 7)
        damaged[i] = static_cast<char>(0xFF);
    EXPECT_TRUE(decodeJpeg(damaged).isNull());

    EXPECT_TRUE(decodeJpeg(QByteArray()).isNull());
    EXPECT_TRUE(decodeJpeg(whole.left(2)).isNull());
    EXPECT_TRUE(loadJpeg("/nonexistent/picture.jpg", &error).isNull());
}

} // namespace
} // namespace kestrune

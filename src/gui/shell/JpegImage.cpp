#include "gui/shell/JpegImage.h"

#include <QFile>
#include <csetjmp>
#include <cstdio>

// jpeglib.h needs size_t and FILE declared before it
#include <jpeglib.h>

namespace kestrune {

namespace {

// libjpeg reports a fatal error through error_exit, which must not return: it jumps back into
// decodeInto with the library's message kept here.
struct ErrorManager
{
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void errorExit(j_common_ptr info)
{
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, manager->message);
    std::longjmp(manager->jump, 1);
}

// Corrupt or truncated data only raises warnings (libjpeg fills the rest with grey); a picture
// that is not whole counts as broken, so warnings end the decoding as well.
void emitMessage(j_common_ptr info, int level)
{
    if (level < 0)
        errorExit(info);
}

// Only plain C objects live in this frame: nothing here may need a destructor after longjmp.
// The image is allocated by the caller and filled row by row.
bool decodeInto(const unsigned char* bytes, unsigned long size, QImage* image, ErrorManager* manager)
{
    jpeg_decompress_struct info;
    info.err = jpeg_std_error(&manager->pub);
    manager->pub.error_exit = errorExit;
    manager->pub.emit_message = emitMessage;
    manager->message[0] = '\0';
    if (setjmp(manager->jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes, size);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    if (info.output_components != 3 || info.output_width == 0 || info.output_height == 0 ||
        info.output_width > 20000 || info.output_height > 20000) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    *image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                    QImage::Format_RGB888);
    if (image->isNull()) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image->scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

QImage decodeJpeg(const QByteArray& data, QString* error)
{
    ErrorManager manager;
    QImage image;
    if (data.isEmpty()) {
        if (error)
            *error = "no JPEG data";
        return {};
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    if (!decodeInto(bytes, static_cast<unsigned long>(data.size()), &image, &manager)) {
        if (error)
            *error = manager.message[0] ? QString::fromLocal8Bit(manager.message)
                                        : QString("unsupported JPEG picture");
        return {};
    }
    return image;
}

QImage loadJpeg(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return {};
    }
    return decodeJpeg(file.readAll(), error);
}

} // namespace kestrune

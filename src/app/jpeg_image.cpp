#include "app/jpeg_image.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace app {

namespace {

// libjpeg reports errors through error_exit, which must not return. It jumps back to the
// decode function, which then only destroys the decompressor; every C++ object the decode
// touches lives in the caller's frame, so the jump skips no destructor.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jumpBack;
};

[[noreturn]] void failDecode(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jumpBack, 1);
}

// libjpeg treats a truncated stream or corrupt entropy data as warnings and goes on with grey
// filler; a picture damaged like that is refused as a whole instead.
void refuseOnWarning(j_common_ptr info, int level) {
    if (level < 0) failDecode(info);
}

void discardMessage(j_common_ptr) {}

// Decodes into *image, which the caller owns. Only trivially destructible locals live here.
bool decodeInto(const unsigned char* bytes, unsigned long size, QImage* image) {
    jpeg_decompress_struct info;
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = failDecode;
    errors.base.emit_message = refuseOnWarning;
    errors.base.output_message = discardMessage;
    if (setjmp(errors.jumpBack) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes, size);
    jpeg_read_header(&info, TRUE);
    if (info.image_width > static_cast<JDIMENSION>(kMaxJpegSide) ||
        info.image_height > static_cast<JDIMENSION>(kMaxJpegSide)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    *image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                    QImage::Format_RGB888);
    if (image->isNull() || info.output_components != 3) {
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

}  // namespace

QImage decodeJpeg(const QByteArray& data) {
    QImage image;
    if (data.isEmpty() || !decodeInto(reinterpret_cast<const unsigned char*>(data.constData()),
                                      static_cast<unsigned long>(data.size()), &image))
        return {};
    return image;
}

}  // namespace app

#pragma once

#include <QByteArray>
#include <QImage>

namespace app {

// Decodes a baseline JPEG picture with libjpeg. Anything libjpeg cannot decode cleanly (not a
// JPEG, truncated, corrupt data, an unsupported colour space, a picture larger than
// kMaxJpegSide on a side) gives a null QImage; it never aborts the program.
inline constexpr int kMaxJpegSide = 8192;
QImage decodeJpeg(const QByteArray& data);

}  // namespace app

// JPEGs made with Qt for tests that need a decodable photo of a given size.
#pragma once

#include <QByteArray>
#include <QColor>

// A w x h picture filled with `colour`, encoded by Qt's JPEG writer (which
// begins it with a JFIF APP0 segment).
QByteArray encode_test_jpeg(int w, int h, const QColor &colour);

#include "support/test_jpeg.h"

#include <QBuffer>
#include <QImage>

QByteArray encode_test_jpeg(int w, int h, const QColor &colour)
{
    QImage picture(w, h, QImage::Format_RGB32);
    picture.fill(colour);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPEG");
    return data;
}

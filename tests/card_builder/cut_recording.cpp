#include "card_builder/cut_recording.h"

#include "card_builder/card_layout.h"

#include <QtEndian>

namespace card {

QByteArray cut_recording(const QByteArray &file, double fraction)
{
    // The top-level boxes up to the mdat header.
    qint64 at = 0;
    while (at + 8 <= file.size()) {
        const auto *b = reinterpret_cast<const uchar *>(file.constData() + at);
        quint64 size = qFromBigEndian<quint32>(b);
        qint64 header = 8;
        if (size == 1 && at + 16 <= file.size()) {
            size = qFromBigEndian<quint64>(b + 8);
            header = 16;
        }
        if (file.mid(int(at) + 4, 4) == "mdat") {
            const qint64 payload = at + header;
            const qint64 end = size >= quint64(header) ? qMin<qint64>(file.size(), at + qint64(size)) : file.size();
            const qint64 cut = qint64(payload + (end - payload) * fraction) / qint64(STEP) * qint64(STEP);
            if (cut <= payload)
                return {};
            QByteArray out = file.left(int(cut));
            // A camera fills the size in when it closes the file.
            out.replace(int(header == 16 ? at + 8 : at), int(header == 16 ? 8 : 4), QByteArray(header == 16 ? 8 : 4, '\0'));
            return out;
        }
        if (size < 8)
            return {};
        at += qint64(size);
    }
    return {};
}

}  // namespace card

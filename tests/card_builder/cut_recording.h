// A recording as a camera leaves it when the battery dies or the card is
// pulled while it records: the ftyp box and the mdat box as far as the
// camera had written them, the mdat's size never filled in, no moov box.
#pragma once

#include <QByteArray>

namespace card {

// `file` (an MP4 with its moov box after its mdat box) cut at `fraction` of
// its mdat payload, rounded down to a multiple of 32 KiB of the file (a
// cluster boundary, when the file starts on one), with the mdat size field
// zeroed. Empty when the file has no mdat box after its ftyp box.
QByteArray cut_recording(const QByteArray &file, double fraction);

}  // namespace card

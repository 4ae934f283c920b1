// How many video samples of a recording a rebuilt file gives back byte for
// byte, whether ffmpeg decodes it cleanly, and what the rebuild's earlier
// rules (one found frame per chunk, the moov box in the last chunk's place)
// gave back from the same card, to hold the present rules to.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

struct SampleMatch {
    int samples = 0;  // video samples of the original (of its first `chunks` chunks, when limited)
    int exact = 0;    // of those, found unchanged at their offsets in the rebuilt file
};

// The samples of the first video track of `original`, compared at their
// offsets with `rebuilt`; only those of chunks 0 .. chunks - 1 when chunks
// is not negative.
SampleMatch compare_samples(const QByteArray &original, const QByteArray &rebuilt, int chunks = -1);

// The samples of `original` that are exact in `a` but not in `b`, as a
// list of sample numbers for a failure message; empty when there are none.
QString samples_lost(const QByteArray &original, const QByteArray &a, const QByteArray &b);

// What `ffmpeg -v error -i path [output options] -f null -` prints, trimmed:
// empty when the file decodes without error. "cannot run ffmpeg" when it
// does not start.
QString decode_errors(const QString &path, const QStringList &output_options = {});

// The file the earlier rules rebuilt for the piece at Q from the group's
// stretch [P, P + L) of `card`, with the moov box `moov`: frames from each
// frame start to the next, a chunk from the earliest frame of its bucket
// and length, else the last frame written (here: none before), the ftyp
// box, an mdat header and zeros before the first chunk, and the moov box at
// the last chunk's offset.
QByteArray earlier_rebuild(const QByteArray &card, std::uint64_t P, std::uint64_t L, std::uint64_t Q,
                           const QByteArray &moov);

// The moov box at the end of an MP4 that has one after its mdat box.
QByteArray moov_of(const QByteArray &file);

// The video chunks of `original` (chunk j from its offset to the next
// one's, the last up to the moov box) as they stand to bytes [from, to) of
// the file: those that begin there and those that overlap them.
struct ChunksAt {
    int chunks = 0;  // in all, as the chunk-offset table lists them
    int starting = 0;
    int touching = 0;
};
ChunksAt chunks_at(const QByteArray &original, std::uint64_t from, std::uint64_t to);

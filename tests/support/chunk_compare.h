// How much of a recorded MP4 a rebuild gave back: the chunks of its first
// chunk-offset table that stand unchanged at their offsets in the rebuilt
// file.
#pragma once

#include <QByteArray>

struct ChunkMatch {
    int chunks = 0;        // chunks 0 .. N-2 of the original (the last has no known end)
    int single_frame = 0;  // of those, chunks that hold one frame, its delimiter first
    int exact = 0;         // single-frame chunks found unchanged in the rebuilt file
    double exact_share() const { return single_frame ? double(exact) / single_frame : 0; }
};

ChunkMatch compare_chunks(const QByteArray &original, const QByteArray &rebuilt);

// The video rebuild: one piece of the group just analysed, written as an
// MP4 file whose every chunk stands at the offset its moov box gives it, so
// the moov box is copied unchanged.
//
// Layout, S the ftyp size, O(j) the chunk offsets of the video track, C the
// chunks written:
//   0        ftyp box from the piece's position
//   S        the recording's own bytes up to O(0) when the card holds them
//            after the ftyp box (boxes such as "free", then its mdat header,
//            perhaps the camera's data); else an mdat header and zeros
//   O(j)     chunk j: where the finder (chunk_finder.h) found its bytes, else
//            the last chunk written (fill_buf)
//   O(C)     the moov box; the mdat box's size is filled in to end there
// A table of N entries gives N - 1 chunks and the moov box in the place of
// the last, unless the last chunk's bytes are found running up to a moov box
// of this piece's size: then they are written and the moov box follows them.
#pragma once

#include "scan/byte_source.h"

#include <QString>
#include <cstdint>

// The scan's work copies hold the first 401 chunks of each video.
constexpr std::uint32_t SHORT_REBUILD_CHUNKS = 401;

struct RebuildResult {
    QString file_name;
    bool written = false;         // the whole layout reached the file
    QString error;                // why not, when not
    std::uint32_t chunks = 0;     // C
    std::uint32_t matched = 0;    // chunks written from a found frame
    std::uint32_t filled = 0;     // chunks written as filler
    std::uint32_t skipped = 0;    // chunks that would overlap the file's header, left out
    std::uint32_t runs = 0;       // of the matched, chunks made of several consecutive frames
    std::uint32_t splits = 0;     // of the matched, chunks put together across a cluster boundary
    bool tail = false;            // the last chunk was written, the moov box right after it
    bool lead_kept = false;       // the bytes before the first chunk are the recording's own
    bool table_cut = false;       // the chunk table ended early: it claimed more than it holds,
                                  // or its offsets went backwards
    std::uint64_t unreadable = 0; // bytes of the source that read as zeros
};

// Writes save_dir/n.mp4 for the piece at Q, with the V-byte moov box at
// `moov` (V at most MOOV_BUF_SIZE). With short_rebuild the walk stops after
// SHORT_REBUILD_CHUNKS chunks (the last one follows when the table ends right
// after them). Takes the frames it uses out of frame_index
// and leaves the last chunk written in fill_buf for the next chunk that has
// none.
RebuildResult rebuild_video(int n, std::uint64_t Q, const unsigned char *moov, std::uint64_t moov_size,
                            bool short_rebuild);

// The same over any source whose bytes end at `end`.
RebuildResult rebuild_video(ByteSource &source, std::uint64_t end, int n, std::uint64_t Q,
                            const unsigned char *moov, std::uint64_t moov_size, bool short_rebuild);

// save_dir + "/" + n + ".mp4", with one separator.
QString rebuild_file_name(int n);

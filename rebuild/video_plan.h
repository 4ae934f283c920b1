// The plan of one rebuilt video: which bytes make its file, worked out once
// from the card map and the frame index, so that the work copy, the
// recovery and a second recovery write it without analysing again.
//
// Layout, S the ftyp size, O(j) the chunk offsets of the video track:
//   0        ftyp box from the piece's position
//   S        the recording's own bytes up to O(0) when the card holds them
//            after the ftyp box (boxes such as "free", then its mdat header,
//            perhaps the camera's data); else an mdat header and zeros
//   O(j)     chunk j: where the finder (chunk_finder.h) found its bytes; for
//            a recording whose chunks no frame start leads, where its
//            samples' NAL chains walk, at the file's spacing or in the next
//            piece (piece_search.h); else filler: the last chunk written
//            before it, then zeros
//   O(C)     the moov box; the mdat box's size is filled in to end there
// A table of N entries gives N - 1 chunks and the moov box in the place of
// the last, unless the last chunk's bytes are found running up to a moov box
// of this piece's size: then they are planned and the moov box follows them.
// A recording that wrote its moov box first keeps it in its head, and its
// last chunk runs to the end its mdat header gives.
#pragma once

#include "rebuild/chunk_finder.h"
#include "scan/byte_source.h"

#include <QString>
#include <cstdint>
#include <vector>

// A chunk of the file and where its bytes come from.
struct PlannedChunk {
    std::uint64_t offset = 0;   // in the file
    std::uint64_t card_pos = 0; // where its first bytes lie on the card
    std::uint32_t length = 0;   // bytes of the file
    std::uint32_t first = 0;    // bytes from card_pos; the rest (a split chunk) lies at `rest_at`
    std::uint64_t rest_at = 0;
    ChunkSource::Kind located = ChunkSource::None;  // None: filler
    bool skipped = false;       // would overlap the file's header: left out
};

// Where a plan's moov box comes from.
enum class IndexOrigin {
    Recorded,  // the recording's own, found on the card
    Rebuilt,   // made anew from a sibling's: the recording's was never written
    None,      // none could be made: the samples go out as a raw stream
};

struct VideoPlan {
    QString error;                    // why no file can be made; empty when one can
    IndexOrigin index = IndexOrigin::Recorded;
    VideoCodec codec = VideoCodec::None;  // of the video track, as far as it is known
    std::uint64_t piece = 0;          // Q, the ftyp box's position
    std::uint64_t head_length = 0;    // bytes copied from Q: the ftyp box, or all up to O(0)
    bool lead_kept = false;           // the bytes before the first chunk are the recording's own
    bool moov_in_head = false;        // and hold its moov box (written first): none is added after the data
    std::uint64_t mdat_at = 0;        // offset of the mdat header in the file
    std::uint32_t mdat_header = 8;    // 8, or 16 with a 64-bit size
    std::uint64_t data_start = 0;     // where chunks may begin
    std::vector<PlannedChunk> chunks; // in table order; the last may be the tail
    std::uint32_t table_chunks = 0;   // N - 1: the chunks the table asks for
    bool tail = false;                // the last chunk ran up to a moov box and is planned
    bool table_cut = false;           // the chunk table ended early: it claimed more than
                                      // it holds, or its offsets went backwards
    std::uint64_t walk_end = 0;       // O(j) after the last chunk walked, 0 without chunks
    std::vector<unsigned char> moov;  // the moov box, as it stood on the card
    std::uint64_t unreadable = 0;     // bytes read while planning that read as zeros
    std::uint64_t checked = 0;        // bytes read to check chunks while planning

    // Where the moov box goes when the file holds its first `limit`
    // chunks of the table (all of them when the plan has no more).
    std::uint64_t moov_at(std::uint32_t limit) const;
    // The chunks written for that limit.
    std::uint32_t chunks_for(std::uint32_t limit) const;
};

// Plans the piece at Q of the group just analysed, with the V-byte moov box
// at `moov` (V at most MOOV_BUF_SIZE), over a source whose bytes end at
// `end`. Takes the frames it uses out of the frame indexes, so that the
// next piece of the group cannot use them again. With `card_wide`, chunks
// that lie outside the group's stretch are looked for among the frames of
// the whole card; `moov_at` is where the box lies on the card (0: unknown).
VideoPlan plan_video(ByteSource &source, std::uint64_t end, std::uint64_t Q, const unsigned char *moov,
                     std::uint64_t moov_size, bool card_wide = false, std::uint64_t moov_at = 0);

// The plans of the scan's videos, by file number; they live until the next
// scan makes its own.
extern std::vector<VideoPlan> video_plans;

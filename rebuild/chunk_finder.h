// Where on the card the bytes of a chunk are, found through the frame index:
//   - where the file's own spacing puts it, when the chunk before it was
//     located: a found frame (or a run of them) of its length starting
//     there, or the next chunk's frame starting right after it (a sample
//     that begins with an SEI or a parameter set has no frame start of its
//     own);
//   - one found frame of the chunk's length whose position agrees with the
//     chunk's offset in the low 12 bits (the earliest such frame);
//   - else a run of consecutive found frames, contiguous on the card, from
//     such a position, whose lengths add up to the chunk's (a chunk that
//     holds several samples);
//   - for the last chunk, frames from such a position up to the start of a
//     moov box of this piece's size (a recording whose end lies right before
//     its moov box);
//   - for a chunk no frame stands for while the next chunk is found, a frame
//     start whose recording goes on elsewhere: its bytes up to a 32 KiB
//     cluster boundary, then those that end right before the next chunk,
//     taken when exactly one boundary makes the chunk's video samples
//     well-formed H.264 or H.265 or, for a key frame, when exactly one of those that
//     do decodes clean with ffmpeg;
//   - for a chunk no frame start leads, where the spacing puts it when its
//     video samples' NAL chains walk there.
// The work per chunk is bounded, and so is the work of all chunks of a file.
#pragma once

#include "rebuild/counted_window.h"
#include "rebuild/frame_index.h"
#include "rebuild/video_track.h"
#include "scan/byte_source.h"

#include <cstdint>
#include <vector>

struct ChunkSource {
    enum Kind { None, Frame, Run, Tail, Split, Spacing };
    Kind kind = None;
    std::uint64_t at = 0;      // card position of the chunk's first byte
    std::uint64_t length = 0;  // bytes from there: the chunk, or up to the cut of a split one
    std::uint64_t rest_at = 0; // Split: where the rest of the chunk lies
    std::uint64_t rest = 0;
    const FrameNode *frame = nullptr;  // Frame and Split: the frame the chunk begins with
    std::uint64_t total() const { return length + rest; }
};

class ChunkFinder
{
public:
    // Frames are those of the track's codec: the stretch's and, with
    // `card_wide`, the whole card's, looked at when the stretch has nothing
    // for a chunk. `moov_at`, when not
    // 0, is where the moov box lies on the card: the last chunk may run up
    // to it from the last frame start before it.
    // Q is where the file starts on the card: its cluster boundaries lie at
    // Q plus multiples of 32 KiB, and a chunk's bytes sit within their
    // cluster where its offset from Q puts them.
    ChunkFinder(ByteSource &source, std::uint64_t end, const VideoTrack &track, std::uint64_t moov_size,
                bool card_wide = false, std::uint64_t moov_at = 0, std::uint64_t Q = 0);

    // Chunk j, `length` bytes long, at `pos` on the card where the spacing
    // of the chunks before it puts it.
    // `next_length` is chunk j + 1's, 0 when there is none.
    ChunkSource at_spacing(std::uint32_t j, std::uint64_t pos, std::uint64_t length, std::uint64_t next_length);
    // The last chunk there, ending at a moov box: a frame that runs up to
    // one, or the bytes up to the recording's own moov box.
    ChunkSource tail_at_spacing(std::uint32_t j, std::uint64_t pos, std::uint64_t longest);
    // The last chunk j of a recording whose moov box came first: `length`
    // bytes at `pos`, up to the end of its mdat box, taken when its video
    // samples stand there.
    ChunkSource last_in_mdat(std::uint32_t j, std::uint64_t pos, std::uint64_t length);
    // Chunk j, at `offset` in the file, at `pos` where the spacing puts it,
    // when no frame start leads it (an encoder that writes no delimiters):
    // taken when its video samples' NAL chains walk there and their slices
    // look coded.
    ChunkSource walked(std::uint32_t j, std::uint64_t offset, std::uint64_t pos, std::uint64_t length);
    // Chunk j at `offset`, `length` bytes long: a frame or a run.
    ChunkSource whole(std::uint32_t j, std::uint64_t offset, std::uint64_t length);
    // The last chunk j at `offset`, ending at a moov box; its length is what
    // the frames give, at most `longest`.
    ChunkSource tail(std::uint32_t j, std::uint64_t offset, std::uint64_t longest);
    // Chunk j, which whole() did not find, split by a cluster boundary;
    // `next` is where chunk j + 1 was found.
    ChunkSource split(std::uint32_t j, std::uint64_t offset, std::uint64_t length, const ChunkSource &next);
    // Takes the frames a source is made of out of the index.
    void take(const ChunkSource &source);

    std::uint64_t unreadable() const { return m_unreadable; }
    // Bytes read from the source to check chunks.
    std::uint64_t checked() const { return m_checked; }

private:
    // Whether a found frame, the last frame start or a tail starts at `pos`.
    bool frame_starts_at(const FrameIndex &index, std::uint64_t pos) const;
    ChunkSource at_spacing_in(const FrameIndex &index, std::uint64_t pos, std::uint64_t length);
    bool runs_past_at(std::uint32_t j, const FrameIndex &index, std::uint64_t pos, std::uint64_t length,
                      std::uint64_t next_length);
    ChunkSource whole_in(const FrameIndex &index, std::uint32_t j, std::uint64_t offset, std::uint64_t length);
    void take_range(FrameIndex &index, std::uint64_t from, std::uint64_t to);
    bool video_sizes(std::uint32_t j, std::vector<std::uint32_t> *sizes) const;
    // Reads len bytes at pos into buf (of cap bytes) with one aligned read;
    // null when they do not fit.
    const unsigned char *read_at(std::uint64_t pos, std::uint64_t len, unsigned char *buf, std::uint64_t cap);
    // Whether the video samples of chunk j stand at the start of the
    // len bytes at pos.
    bool one_piece_holds(std::uint32_t j, std::uint64_t pos, std::uint64_t len);
    bool spend(std::uint64_t steps);
    // Where a file offset falls on the card, modulo the grid: the key of the
    // frame index's buckets and of cluster positions.
    std::uint64_t key(std::uint64_t offset) const { return offset + m_grid; }

    ByteSource &m_source;
    FrameIndex &m_stretch;
    FrameIndex *m_wide;
    std::uint64_t m_moov_at;
    std::uint64_t m_after = 0;  // where the last chunk taken ends on the card
    std::uint64_t m_end;
    const VideoTrack &m_track;
    std::uint64_t m_moov_size;
    std::uint64_t m_grid;  // Q mod 32 KiB
    std::uint64_t m_steps = 0;        // index lookups of runs, tails and splits
    std::uint64_t m_split_read = 0;   // bytes read to try split chunks
    std::uint64_t m_unreadable = 0;
    std::uint64_t m_checked = 0;
    std::uint32_t m_decodes = 0;      // key frames handed to ffmpeg to choose a boundary
    std::vector<std::uint32_t> m_sizes, m_head_marks, m_tail_marks;
    std::vector<const FrameNode *> m_inside;
    // The chunks walked at the spacing, read forward once.
    CountedWindow m_walk{m_source, m_end, &m_checked, &m_unreadable};
};

// Where a recording goes on when the spacing of its chunks breaks and no
// frame start leads its chunks (an encoder that writes no access-unit
// delimiters): the file system cut it into pieces, each starting on a
// cluster boundary of the file's own grid (its start Q plus multiples of
// 32 KiB). The next piece is the cluster P at which the chunk's samples,
// read from P on past the break b, walk their NAL chains cleanly.
//
// A candidate costs a few header bytes: walking the chain at the old
// spacing up to the last unit header before b gives the file offset u of
// the first header after it, which must stand at P + (u - b). Only a
// candidate whose header and chain hold is read whole. Clusters are tried
// as FAT hands them out, from the break forward, then from the card's start;
// clusters the card map shows to begin another file (a frame start, a file
// start) are passed over. The candidates tried and the bytes read are
// bounded per file.
#pragma once

#include "rebuild/counted_window.h"
#include "rebuild/video_track.h"
#include "scan/byte_source.h"

#include <cstdint>
#include <utility>
#include <vector>

class CardMap;

struct PieceBreak {
    bool found = false;
    std::uint64_t at = 0;     // b: the file offset where the piece found begins
    std::uint64_t card = 0;   // P: where b lies on the card
    std::uint32_t first = 0;  // the first chunk whose bytes move (it begins before b, or at it)
};

class PieceSearch
{
public:
    PieceSearch(ByteSource &source, std::uint64_t end, const VideoTrack &track, const CardMap &map, std::uint64_t Q);

    // Chunk j, `length` bytes at its offset, does not stand where `spacing`
    // (card position minus file offset) puts it. The current piece began at
    // file offset `piece_from`; chunks `run_from` to j - 1 were located at
    // that spacing. The break lies after piece_from and before the end of
    // chunk j's video samples.
    PieceBreak next_piece(std::uint32_t j, std::uint64_t length, std::uint64_t spacing, std::uint64_t piece_from,
                          std::uint32_t run_from);
    // Card bytes [from, to) hold a piece of this file: never a candidate.
    void taken(std::uint64_t from, std::uint64_t to);

    std::uint64_t read() const { return m_read; }
    std::uint64_t unreadable() const;

private:
    struct Boundary;

    bool video_sizes(std::uint32_t c, std::vector<std::uint32_t> *sizes) const;
    bool plan_boundary(std::uint32_t j, std::uint64_t length, std::uint64_t b, std::uint64_t spacing,
                       std::uint32_t from_chunk, Boundary *out);
    bool header_holds(const Boundary &at, std::uint64_t P, std::uint64_t spacing);
    bool chunks_hold(const Boundary &at, std::uint64_t P, std::uint64_t spacing);
    bool skipped(std::uint64_t P) const;

    ByteSource &m_source;
    std::uint64_t m_end;
    const VideoTrack &m_track;
    const CardMap &m_map;
    std::uint64_t m_grid;  // Q mod 32 KiB: the file's cluster boundaries on the card
    // The bytes at the old spacing, the candidates as they are swept, and
    // the chains walked from a candidate.
    CountedWindow m_old, m_candidates, m_chains;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> m_taken;
    std::vector<std::uint32_t> m_sizes, m_head_marks, m_tail_marks;
    // Boundaries up to m_failed_to were sought on the whole card, in vain,
    // at this spacing.
    std::uint64_t m_failed_spacing = 0;
    std::uint64_t m_failed_to = 0;
    std::uint64_t m_steps = 0;
    std::uint64_t m_read = 0;
    std::uint64_t m_unreadable = 0;
};

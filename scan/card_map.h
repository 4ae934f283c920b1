// The card map: every frame start and every moov box in the stream of the
// whole card, found by the reading pass in the same bytes it reads for its
// 32 KiB step tests. Everything after the reading pass (the analysis of a
// group's stretch, the rebuild) takes its frames and moov boxes from here
// instead of reading the card again.
#pragma once

#include "scan/byte_source.h"
#include "scan/stream_signatures.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

// A frame length that does not fit 32 bits, or a frame with nothing after it.
constexpr std::uint32_t FRAME_LENGTH_FAR = 0xFFFFFFFFu;

struct MapFrame {
    std::uint64_t position;
    // Bytes to the next frame start or to the moov box that comes first,
    // FRAME_LENGTH_FAR when that is 4 GiB or more away (or for the last).
    std::uint32_t length;
    FrameSignature signature;
};

struct MapMoov {
    std::uint64_t position;
    std::uint64_t size;     // as its header gives it
    std::uint32_t copy;     // index into the copies, NO_COPY when not copied
};
constexpr std::uint32_t NO_COPY = 0xFFFFFFFFu;

// Ceilings, so a hostile card cannot take all memory: 8 Mi frames (128 MiB;
// a 256 GB card of 4K video at 120 frames/s holds about 3 Mi), 1 Mi moov
// boxes, and 64 MiB of moov copies (a one-hour recording's box is about
// 2 MB). Past them frames and boxes are counted; a box past the copy ceiling
// is still listed and read again when it is needed.
constexpr std::size_t MAP_FRAME_CEILING = std::size_t(1) << 23;
constexpr std::size_t MAP_MOOV_CEILING = std::size_t(1) << 20;
constexpr std::uint64_t MAP_COPY_CEILING = std::uint64_t(64) << 20;

class CardMap
{
public:
    struct Ceilings {
        std::size_t frames = MAP_FRAME_CEILING;
        std::size_t moovs = MAP_MOOV_CEILING;
        std::uint64_t copy_bytes = MAP_COPY_CEILING;
    };

    // Empties the map; the ceilings stay.
    void clear();
    void set_ceilings(const Ceilings &ceilings) { m_ceilings = ceilings; }

    const std::vector<MapFrame> &frames() const { return m_frames; }
    const std::vector<MapMoov> &moovs() const { return m_moovs; }
    // The bytes of a copied moov box (its `size` bytes), or null.
    const unsigned char *moov_copy(const MapMoov &moov) const;
    // Puts the box's `size` bytes into `out`: the copy, else read from
    // `source` (whose bytes end at `end`), else zeros when there is none.
    // Returns the bytes that could not be read.
    std::uint64_t moov_bytes(const MapMoov &moov, ByteSource *source, std::uint64_t end, unsigned char *out) const;

    // Indexes [first, last) of the frames, and of the moov boxes, that
    // start in [from, to).
    std::pair<std::size_t, std::size_t> frames_in(std::uint64_t from, std::uint64_t to) const;
    std::pair<std::size_t, std::size_t> moovs_in(std::uint64_t from, std::uint64_t to) const;

    // Every position below this was searched.
    std::uint64_t searched_end() const { return m_searched_end; }
    // Whether every start below `to` is in the map: searched that far, or
    // searched to the end of the card, past which nothing starts.
    bool covers(std::uint64_t to) const { return to <= m_searched_end || m_card_end; }
    std::uint64_t frames_dropped() const { return m_frames_dropped; }
    std::uint64_t moovs_dropped() const { return m_moovs_dropped; }
    std::uint64_t moovs_not_copied() const { return m_not_copied; }
    // Memory the map holds.
    std::size_t bytes() const;

private:
    friend class CardMapBuilder;
    Ceilings m_ceilings;
    std::vector<MapFrame> m_frames;
    std::vector<MapMoov> m_moovs;
    std::vector<std::vector<unsigned char>> m_copies;
    std::uint64_t m_copied_bytes = 0;
    std::uint64_t m_searched_end = 0;
    bool m_card_end = false;
    std::uint64_t m_frames_dropped = 0;
    std::uint64_t m_moovs_dropped = 0;
    std::uint64_t m_not_copied = 0;
};

// The map of the scan source, built by the reading pass; it lives until the
// next scan starts.
extern CardMap card_map;

// Builds a map from consecutive buffers of one stream. The stream is
// searched as a whole: a start that crosses from one buffer into the next
// is found, and a moov box that runs on through later buffers is copied
// whole.
class CardMapBuilder
{
public:
    // The map is emptied; `start` is the stream position of the first byte.
    CardMapBuilder(CardMap &map, std::uint64_t start);
    // The next `len` bytes of the stream (at least START_SPAN).
    void feed(const unsigned char *buf, std::size_t len);
    // Ends the stream. At the end of the card, the last bytes are searched
    // as if zeros followed them and copies that ran past the end keep zeros
    // there, as a read past the end gives. Elsewhere (a stretch, a cancelled
    // pass) the last START_SPAN bytes stay unsearched and a box that runs on
    // is dropped from the copies, to be read when it is needed.
    void finish(bool card_end);

private:
    struct PendingCopy {
        std::size_t moov;  // index in the map's boxes
        std::uint32_t copy;
        std::uint64_t position;
        std::uint64_t done;
    };
    void on_start(const unsigned char *b, std::uint64_t position, bool frame);
    void carry(const unsigned char *buf, std::uint64_t at, std::size_t len);
    void end_frame(std::uint64_t at);

    CardMap &m_map;
    std::uint64_t m_at;                  // stream position of the next byte fed
    unsigned char m_seam[24];            // the last START_SPAN bytes fed, then the next ones
    bool m_have_seam = false;
    bool m_frame_open = false;           // the last frame has no length yet
    std::vector<PendingCopy> m_pending;  // moov boxes still being copied
    // The buffer being fed, for copies that begin inside it.
    const unsigned char *m_buf = nullptr;
    std::uint64_t m_buf_at = 0;
    std::size_t m_buf_len = 0;
};

// Photo lengths and thumbnails made while the reading pass runs, from the
// photo bytes it has in its buffer: a photo's bytes are not read from the
// card a second time, only those past what was kept.
#pragma once

#include "scan/byte_source.h"
#include "scan/photo_length.h"
#include "scan/scan_progress.h"

#include <QString>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

// A photo's bytes are kept from its start up to the next find on the grid,
// and at most this many: a 12-megapixel photo whole, the rest of a larger
// one is read from the card.
constexpr std::uint64_t PHOTO_KEEP_MOST = 8u * 1024 * 1024;
// Kept bytes alive at once, waiting for a worker or in its hands. When a
// photo's bytes do not fit, the reading pass waits for the workers; one
// photo's bytes alone may always be kept.
constexpr std::uint64_t PHOTO_KEPT_CEILING = 64u * 1024 * 1024;

struct PhotoKeepLimits {
    std::uint64_t keep_most = PHOTO_KEEP_MOST;
    std::uint64_t ceiling = PHOTO_KEPT_CEILING;
};

class PhotoWork
{
public:
    // Photos at positions of `source`, which ends at `end`; `parallel`
    // workers (0: one per core), started at once.
    PhotoWork(ByteSource &source, std::uint64_t end, int parallel = 0, PhotoKeepLimits limits = {});
    ~PhotoWork();
    PhotoWork(const PhotoWork &) = delete;
    PhotoWork &operator=(const PhotoWork &) = delete;

    // From the reading pass, after the steps of a chunk were tested: `buf`
    // holds the chunk's `len` bytes from `chunk_start`, `finds` the
    // positions of every start found in it in order. Keeps the bytes of the
    // photos photo_list gained since the last call, and of the photo kept
    // open at the end of the last chunk, and hands those that are complete
    // to the workers. May wait for them (the ceiling).
    void take_chunk(const unsigned char *buf, std::uint64_t chunk_start, std::uint64_t len,
                    const std::vector<std::uint64_t> &finds);
    // The reading pass is over (the card's end, or cancelled): a photo kept
    // open goes to the workers with the bytes it has.
    void end_of_reading();

    // For every photo of photo_list (those not handed over yet are read
    // from the card alone): waits for it, sets its length, and emits code
    // 30000 + i from the calling thread, in table order. The workers are
    // gone afterwards.
    void finish(ScanProgress &progress);

    // The most kept bytes alive at once so far.
    std::uint64_t kept_peak() const;

private:
    struct Job {
        std::uint32_t index;
        std::uint64_t position;
        PhotoBytes bytes;
        std::uint64_t charge;  // counted against the ceiling until done
    };
    struct Outcome {
        std::uint64_t length = 0;
        bool walked = false;
        bool done = false;
    };

    std::uint64_t keep_length(std::uint64_t position) const;
    PhotoBytes allocate(std::uint64_t room);
    void hand_over(std::uint32_t index, std::uint64_t position, PhotoBytes bytes);
    void work();

    ByteSource &m_source;
    std::uint64_t m_end;
    PhotoKeepLimits m_limits;

    // Reading side.
    std::uint32_t m_taken = 0;  // photos of photo_list whose bytes were kept
    bool m_open = false;        // photo m_taken - 1's bytes run on into the next chunk
    std::uint64_t m_open_position = 0;
    PhotoBytes m_open_bytes;

    mutable std::mutex m_mutex;
    std::condition_variable m_work;     // a job came, or the end
    std::condition_variable m_changed;  // a job was done
    std::deque<Job> m_jobs;
    // Kept apart from photo_list, which may move while the reading pass
    // grows it: as many entries as photos, at most PHOTO_CEILING.
    std::deque<Outcome> m_outcomes;
    std::uint64_t m_charged = 0, m_peak = 0;
    // Photos [m_rest, m_rest_end) go to the workers without kept bytes.
    std::uint32_t m_rest = 0, m_rest_end = 0;
    bool m_closing = false;
    std::vector<std::thread> m_workers;
};

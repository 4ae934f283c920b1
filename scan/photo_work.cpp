#include "scan/photo_work.h"

#include "scan/photo_thumbnails.h"
#include "scan/scan_tables.h"

#include <QThread>
#include <algorithm>
#include <cstring>

PhotoWork::PhotoWork(ByteSource &source, std::uint64_t end, int parallel, PhotoKeepLimits limits)
    : m_source(source), m_end(end), m_limits(limits)
{
    m_limits.keep_most = std::min(m_limits.keep_most, PHOTO_MAX_LENGTH);
    const int workers = parallel > 0 ? parallel : std::max(1, QThread::idealThreadCount());
    for (int k = 0; k < workers; ++k)
        m_workers.emplace_back([this] { work(); });
}

PhotoWork::~PhotoWork()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
    }
    m_work.notify_all();
    for (std::thread &t : m_workers)
        t.join();
}

std::uint64_t PhotoWork::keep_length(std::uint64_t position) const
{
    // No further than a read of the photo would go: past the card's end a
    // read gives zeros where the buffer may hold the zeros of a short chunk.
    return position < m_end ? std::min(m_limits.keep_most, m_end - position) : 0;
}

PhotoBytes PhotoWork::allocate(std::uint64_t room)
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        // Every charged byte is in a job by now, so the workers give it back.
        m_changed.wait(lock, [&] { return m_charged == 0 || m_charged + room <= m_limits.ceiling; });
        m_charged += room;
        m_peak = std::max(m_peak, m_charged);
    }
    PhotoBytes bytes;
    if (room != 0)
        bytes.data.reset(new unsigned char[room]);
    bytes.room = room;
    return bytes;
}

void PhotoWork::hand_over(std::uint32_t index, std::uint64_t position, PhotoBytes bytes)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_outcomes.size() <= index)
            m_outcomes.resize(std::size_t(index) + 1);
        const std::uint64_t charge = bytes.room;
        m_jobs.push_back(Job{index, position, std::move(bytes), charge});
    }
    m_work.notify_one();
}

void PhotoWork::take_chunk(const unsigned char *buf, std::uint64_t chunk_start, std::uint64_t len,
                           const std::vector<std::uint64_t> &finds)
{
    const std::uint64_t chunk_end = chunk_start + len;
    // The first find in the chunk at or after `from`, else the chunk's end.
    const auto next_find = [&](std::uint64_t from) {
        const auto it = std::lower_bound(finds.begin(), finds.end(), from);
        return it == finds.end() ? chunk_end : std::min(*it, chunk_end);
    };

    if (m_open) {
        const std::uint64_t kept_end = m_open_position + keep_length(m_open_position);
        const std::uint64_t stop = std::max(chunk_start, std::min(kept_end, next_find(chunk_start)));
        const std::uint64_t n = std::min(stop - chunk_start, m_open_bytes.room - m_open_bytes.size);
        std::memcpy(m_open_bytes.data.get() + m_open_bytes.size, buf, n);
        m_open_bytes.size += n;
        if (stop < chunk_end || m_open_bytes.size == m_open_bytes.room) {
            m_open = false;
            hand_over(m_taken - 1, m_open_position, std::move(m_open_bytes));
        }
    }

    const GrowingTable<PhotoInfo> &photos = photo_list;
    for (; m_taken < photo_num; ++m_taken) {
        const std::uint64_t position = photos[m_taken].position;
        if (position < chunk_start || position >= chunk_end) {
            hand_over(m_taken, position, PhotoBytes{});  // not in this chunk: read from the card
            continue;
        }
        const std::uint64_t kept_end = position + keep_length(position);
        const std::uint64_t stop = std::min(kept_end, next_find(position + 1));
        if (stop == chunk_end && kept_end > chunk_end) {
            // Runs on into the next chunk: room for all it may keep.
            m_open_bytes = allocate(kept_end - position);
            m_open_bytes.size = chunk_end - position;
            std::memcpy(m_open_bytes.data.get(), buf + (position - chunk_start), m_open_bytes.size);
            m_open = true;
            m_open_position = position;
            continue;
        }
        PhotoBytes bytes = allocate(stop - position);
        bytes.size = stop - position;
        std::memcpy(bytes.data.get(), buf + (position - chunk_start), bytes.size);
        hand_over(m_taken, position, std::move(bytes));
    }
}

void PhotoWork::end_of_reading()
{
    if (!m_open)
        return;
    m_open = false;
    hand_over(m_taken - 1, m_open_position, std::move(m_open_bytes));
}

void PhotoWork::work()
{
    const GrowingTable<PhotoInfo> &photos = photo_list;
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_work.wait(lock, [&] { return !m_jobs.empty() || m_rest < m_rest_end || m_closing; });
            if (!m_jobs.empty()) {
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            } else if (m_rest < m_rest_end) {
                // The reading pass is over: photo_list stays where it is,
                // and only its lengths are written, by finish().
                job.index = m_rest++;
                job.position = photos[job.index].position;
                job.charge = 0;
            } else {
                return;
            }
        }
        PhotoRead read(m_source, m_end, job.position, std::move(job.bytes));
        const PhotoMeasure measure = measure_and_thumbnail(read, photo_thumbnail_path(job.index));
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            Outcome &outcome = m_outcomes[job.index];
            outcome.length = measure.length;
            outcome.walked = measure.walked;
            outcome.done = true;
            m_charged -= job.charge;
        }
        m_changed.notify_all();
    }
}

void PhotoWork::finish(ScanProgress &progress)
{
    end_of_reading();
    const std::uint32_t count = photo_num;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_outcomes.size() < count)
            m_outcomes.resize(count);
        m_rest = std::min(m_taken, count);
        m_rest_end = count;
        m_taken = count;
    }
    m_work.notify_all();
    for (std::uint32_t i = 0; i < count; ++i) {
        Outcome outcome;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [&] { return m_outcomes[i].done; });
            outcome = m_outcomes[i];
        }
        photo_list[i].length = outcome.length;
        photo_list[i].walked = outcome.walked;
        progress.code(CODE_PHOTO_THUMB + static_cast<int>(i));
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
    }
    m_work.notify_all();
    for (std::thread &t : m_workers)
        t.join();
    m_workers.clear();
}

std::uint64_t PhotoWork::kept_peak() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_peak;
}

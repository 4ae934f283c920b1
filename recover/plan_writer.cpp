#include "recover/plan_writer.h"

#include "rebuild/sample_check.h"
#include "rebuild/video_track.h"
#include "recover/output_file.h"
#include "scan/scan_tables.h"
#include "scan/stream_signatures.h"

#include <QDebug>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// fill_buf is the last chunk written from the card followed by zeros. Only
// its first fill_dirty bytes can be nonzero, so a new chunk clears no more
// than the previous one left; unknown at start, hence the whole buffer.
// Nothing but the writer and scan_reset (which clears it) writes fill_buf.
std::uint64_t fill_dirty = FILL_BUF_SIZE;

// A window of the card in chunk_buf, read on the 32 KiB grid. A read runs
// on as far as the chunks to come follow each other on the card, so a
// recording stored in one piece is read once, in large reads, and no unit
// twice.
class CardWindow
{
public:
    CardWindow(ByteSource &source, std::uint64_t end) : m_source(source), m_end(end) {}

    // Copies `len` card bytes at `pos` into the file, and what fits of them
    // into fill_buf from `fill_at` on. `ahead` is where the bytes that will
    // be asked for next, right after these, end on the card.
    void copy(std::uint64_t pos, std::uint64_t len, std::uint64_t ahead, std::uint64_t fill_at, OutputFile &out)
    {
        std::uint64_t done = 0;
        while (done < len && !out.failed()) {
            const std::uint64_t at = pos + done;
            if (at < m_base || at >= m_base + m_held)
                fill(at, std::max(pos + len, ahead));
            const std::uint64_t take = std::min(len - done, m_base + m_held - at);
            const unsigned char *bytes = chunk_buf + (at - m_base);
            out.write(bytes, take);
            const std::uint64_t into = fill_at + done;
            if (into < FILL_BUF_SIZE)
                std::memcpy(fill_buf + into, bytes, std::min(take, FILL_BUF_SIZE - into));
            done += take;
        }
    }

    // Copies `len` card bytes at `pos` into `dest`.
    void read(std::uint64_t pos, std::uint64_t len, unsigned char *dest)
    {
        for (std::uint64_t done = 0; done < len;) {
            const std::uint64_t at = pos + done;
            if (at < m_base || at >= m_base + m_held)
                fill(at, pos + len);
            const std::uint64_t take = std::min(len - done, m_base + m_held - at);
            std::memcpy(dest + done, chunk_buf + (at - m_base), take);
            done += take;
        }
    }

    std::uint64_t unreadable() const { return m_unreadable; }

private:
    void fill(std::uint64_t at, std::uint64_t until)
    {
        m_base = at / UNIT * UNIT;
        const std::uint64_t want = (std::max(until, at + 1) - m_base + UNIT - 1) / UNIT * UNIT;
        m_held = std::min<std::uint64_t>(want, CHUNK_BUF_SIZE / UNIT * UNIT);
        m_unreadable += read_source(m_source, m_base, chunk_buf, m_held, m_end).unreadable;
    }

    ByteSource &m_source;
    std::uint64_t m_end;
    std::uint64_t m_base = 0;
    std::uint64_t m_held = 0;
    std::uint64_t m_unreadable = 0;
};

// Where the card bytes of chunks j, j + 1, ... end as long as each follows
// the previous one on the card, within one window's reach.
std::uint64_t run_end(const VideoPlan &plan, std::uint32_t j, std::uint32_t limit)
{
    const PlannedChunk &c = plan.chunks[j];
    std::uint64_t end = c.card_pos + c.first;
    for (std::uint32_t k = j + 1; k < limit && c.first == c.length; ++k) {
        const PlannedChunk &d = plan.chunks[k];
        if (d.skipped || d.located == ChunkSource::None || d.card_pos != end || end - c.card_pos >= CHUNK_BUF_SIZE)
            break;
        end = d.card_pos + d.first;
        if (d.first != d.length)
            break;
    }
    return end;
}

// A chunk with no bytes on the card: the last chunk written, then zeros.
void write_filler(std::uint64_t len, OutputFile &out)
{
    const std::uint64_t from_buf = std::min(len, std::uint64_t(FILL_BUF_SIZE));
    out.write(fill_buf, from_buf);
    out.skip_to(out.offset() + (len - from_buf));
}

void count_chunk(const PlannedChunk &c, RebuildResult &result)
{
    switch (c.located) {
    case ChunkSource::None: ++result.filled; break;
    case ChunkSource::Frame: ++result.matched; break;
    case ChunkSource::Run: ++result.matched; ++result.runs; break;
    case ChunkSource::Split: ++result.matched; ++result.splits; break;
    case ChunkSource::Tail: ++result.matched; result.tail = true; break;
    case ChunkSource::Spacing: ++result.matched; ++result.spaced; break;
    }
}

// Whether the video samples of each chunk written stand in its bytes as the
// encoder wrote them. It looks at fill_buf, which holds the chunk just
// copied from its first byte on, both parts of a split one joined, so the
// card is not read again.
class SampleAudit
{
public:
    explicit SampleAudit(const VideoPlan &plan) : m_track(VideoTrack::parse(plan.moov.data(), plan.moov.size())) {}

    std::uint32_t table_entries() const { return m_track.chunks().entries; }

    // Chunk j, `length` bytes, just copied into fill_buf. Samples that the
    // tables do not tell, or that reach past fill_buf, are not seen to hold.
    bool holds(std::uint32_t j, std::uint64_t length)
    {
        std::uint32_t first = 0, count = 0;
        if (!m_track.has_samples() || !m_track.chunk_samples(j, &first, &count))
            return false;
        m_sizes.clear();
        std::uint64_t video = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t size = m_track.sample_size(first + i);
            video += size;
            if (size == 0 || video > length || video > FILL_BUF_SIZE)
                return false;
            m_sizes.push_back(size);
        }
        if (!find_escapes(fill_buf, 0, video, ESCAPE_LIMIT, &m_marks))
            return false;
        return samples_hold(m_track.codec(), ChunkBytes{fill_buf, fill_buf, video, video}, m_sizes, m_marks, m_no_marks);
    }

private:
    // Coded samples hold escapes only in their length fields: a handful per
    // sample. Far more means bytes that are no coded video.
    static constexpr std::size_t ESCAPE_LIMIT = std::size_t(1) << 20;

    VideoTrack m_track;
    std::vector<std::uint32_t> m_sizes, m_marks;
    const std::vector<std::uint32_t> m_no_marks;
};

void put_be64(unsigned char *b, std::uint64_t v)
{
    put_be32(b, static_cast<std::uint32_t>(v >> 32));
    put_be32(b + 4, static_cast<std::uint32_t>(v));
}

// The samples of a plan without index as an Annex B stream: each NAL unit
// behind a start code in place of its length. Units whose length runs past
// their sample end it.
void write_raw_stream(ByteSource &source, std::uint64_t end, const VideoPlan &plan, std::uint32_t count,
                      OutputFile &out, RebuildResult &result)
{
    static const unsigned char start_code[4] = {0, 0, 0, 1};
    CardWindow card(source, end);
    std::vector<unsigned char> sample;
    for (std::uint32_t j = 0; j < count && !out.failed(); ++j) {
        const PlannedChunk &c = plan.chunks[j];
        ++result.chunks;
        count_chunk(c, result);
        if (c.located == ChunkSource::None)
            continue;
        sample.resize(c.length);
        card.read(c.card_pos, c.length, sample.data());
        for (std::uint64_t p = 0; p + 4 < c.length;) {
            const std::uint64_t n = std::min<std::uint64_t>(be32(sample.data() + p), c.length - p - 4);
            out.write(start_code, sizeof start_code);
            out.write(sample.data() + p + 4, n);
            p += 4 + n;
        }
    }
    result.unreadable = card.unreadable();
}

}  // namespace

Verdict RebuildResult::verdict() const
{
    if (index == IndexOrigin::None && written)
        return Verdict::NoIndex;
    if (located() == 0)
        return Verdict::Empty;
    if (index == IndexOrigin::Rebuilt)
        return Verdict::RebuiltIndex;
    const bool whole = judged && !table_cut && chunks == table_entries && matched == table_entries;
    return whole && unsound == 0 && unreadable == 0 ? Verdict::Intact : Verdict::Partial;
}

QString rebuild_file_name(int n, const QString &extension)
{
    QString dir = save_dir;
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir + QString::number(n) + QLatin1Char('.') + extension;
}

RebuildResult write_plan(ByteSource &source, std::uint64_t end, int n, const VideoPlan &plan, std::uint32_t limit)
{
    RebuildResult result;
    result.file_name = rebuild_file_name(n);
    qDebug().noquote() << "filename_save ==" << result.file_name;
    if (n < 0 || save_dir.isEmpty()) {
        result.error = QStringLiteral("no file name for video %1").arg(n);
        return result;
    }
    if (!plan.error.isEmpty()) {
        result.error = plan.error;
        return result;
    }
    result.lead_kept = plan.lead_kept;
    result.table_cut = plan.table_cut;
    result.index = plan.index;
    result.sound_left_out = plan.index == IndexOrigin::Rebuilt;
    if (plan.index == IndexOrigin::None) {
        if (limit >= plan.table_chunks)
            result.file_name =
                    rebuild_file_name(n, plan.codec == VideoCodec::H265 ? QStringLiteral("h265") : QStringLiteral("h264"));
        OutputFile out;
        out.open(result.file_name);
        write_raw_stream(source, end, plan, plan.chunks_for(limit), out, result);
        result.written = out.close();
        result.error = out.error();
        return result;
    }

    OutputFile out;
    out.open(result.file_name);
    CardWindow card(source, end);
    card.copy(plan.piece, plan.head_length, plan.piece + plan.head_length, FILL_BUF_SIZE, out);
    if (!plan.lead_kept) {
        // Size 1: the 64-bit size follows the type; both are filled in below.
        static const unsigned char mdat_header[16] = {0, 0, 0, 1, 'm', 'd', 'a', 't'};
        out.write(mdat_header, plan.mdat_header == 16 ? 16 : 8);
    }

    const std::uint32_t count = plan.chunks_for(limit);
    // Judged only when the whole recording is written: a work copy of its
    // first chunks says nothing of the rest.
    std::unique_ptr<SampleAudit> audit;
    if (limit >= plan.table_chunks) {
        audit = std::make_unique<SampleAudit>(plan);
        result.judged = true;
        result.table_entries = audit->table_entries();
    }
    // The run of chunks that follow each other on the card, [from, ahead).
    std::uint64_t from = 0, ahead = 0;
    for (std::uint32_t j = 0; j < count && !out.failed(); ++j) {
        const PlannedChunk &c = plan.chunks[j];
        ++result.chunks;
        if (c.skipped) {
            ++result.skipped;
            continue;
        }
        out.skip_to(c.offset);
        count_chunk(c, result);
        if (c.located == ChunkSource::None) {
            write_filler(c.length, out);
            continue;
        }
        if (c.card_pos < from || c.card_pos + c.first > ahead) {
            from = c.card_pos;
            ahead = run_end(plan, j, count);
        }
        card.copy(c.card_pos, c.first, ahead, 0, out);
        card.copy(c.rest_at, c.length - c.first, c.rest_at + (c.length - c.first), c.first, out);
        if (audit && !audit->holds(j, c.length))
            ++result.unsound;
        const std::uint64_t kept = std::min<std::uint64_t>(c.length, FILL_BUF_SIZE);
        if (fill_dirty > kept)
            std::memset(fill_buf + kept, 0, fill_dirty - kept);
        fill_dirty = kept;
    }
    result.unreadable = card.unreadable();

    const std::uint64_t moov_at = plan.moov_at(limit);
    out.skip_to(moov_at);
    if (!plan.moov_in_head)
        out.write(plan.moov.data(), plan.moov.size());
    // The mdat box ends where the moov box begins (or where the data ends,
    // the moov box being in the head): with the recording's own header that
    // is its original size when every chunk came back.
    if (plan.mdat_header == 16) {
        unsigned char size[8];
        put_be64(size, moov_at - plan.mdat_at);
        out.patch(plan.mdat_at + 8, size, sizeof size);
    } else {
        // A box of 4 GiB or more cannot say so in 32 bits: size 0 stands for
        // "to the end of the file", the nearest a player can still follow.
        const std::uint64_t box = moov_at - plan.mdat_at;
        unsigned char size[4];
        put_be32(size, box <= 0xFFFFFFFFu ? static_cast<std::uint32_t>(box) : 0);
        out.patch(plan.mdat_at, size, sizeof size);
    }
    result.written = out.close();
    result.error = out.error();
    return result;
}

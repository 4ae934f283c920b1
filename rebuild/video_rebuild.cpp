#include "rebuild/video_rebuild.h"

#include "drives/drive_table.h"
#include "rebuild/chunk_finder.h"
#include "rebuild/frame_index.h"
#include "rebuild/mdat_lead.h"
#include "rebuild/video_track.h"
#include "recover/output_file.h"
#include "scan/scan_tables.h"
#include "scan/stream_signatures.h"

#include <QDebug>
#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint64_t MDAT_HEADER = 8;

// fill_buf is the last chunk written from the card followed by zeros. Only
// its first fill_dirty bytes can be nonzero, so a new chunk clears no more
// than the previous one left; unknown at start, hence the whole buffer.
// Nothing but the rebuild and scan_reset (which clears it) writes fill_buf.
std::uint64_t fill_dirty = FILL_BUF_SIZE;

// Copies `len` bytes at F from the source into the file with reads that
// start on the 32 KiB grid, in pieces when they are more than chunk_buf
// holds, and keeps what fits of them in fill_buf from `fill_at` on.
void copy_bytes(ByteSource &source, std::uint64_t end, std::uint64_t F, std::uint64_t len, std::uint64_t fill_at,
                OutputFile &out, RebuildResult &result)
{
    std::uint64_t done = 0;
    while (done < len && !out.failed()) {
        const std::uint64_t pos = F + done;
        const std::uint64_t base = pos / UNIT * UNIT;
        const std::uint64_t lead = pos - base;
        const std::uint64_t left = len - done;
        const std::uint64_t span = std::min((lead + left) / UNIT + 1, std::uint64_t(CHUNK_BUF_SIZE / UNIT)) * UNIT;
        result.unreadable += read_source(source, base, chunk_buf, span, end).unreadable;
        const std::uint64_t take = std::min(left, span - lead);
        out.write(chunk_buf + lead, take);
        const std::uint64_t into = fill_at + done;
        if (into < FILL_BUF_SIZE)
            std::memcpy(fill_buf + into, chunk_buf + lead, std::min(take, FILL_BUF_SIZE - into));
        done += take;
    }
}

// Writes a chunk from where the finder found it and makes it the filler.
void write_chunk(ByteSource &source, std::uint64_t end, const ChunkSource &from, OutputFile &out,
                 RebuildResult &result)
{
    copy_bytes(source, end, from.at, from.length, 0, out, result);
    copy_bytes(source, end, from.rest_at, from.rest, from.length, out, result);
    const std::uint64_t kept = std::min(from.total(), std::uint64_t(FILL_BUF_SIZE));
    if (fill_dirty > kept)
        std::memset(fill_buf + kept, 0, fill_dirty - kept);
    fill_dirty = kept;
}

// A chunk with no frame: the last chunk written, then zeros.
void write_filler(std::uint64_t len, OutputFile &out)
{
    const std::uint64_t from_buf = std::min(len, std::uint64_t(FILL_BUF_SIZE));
    out.write(fill_buf, from_buf);
    out.skip_to(out.offset() + (len - from_buf));
}

void count_source(const ChunkSource &from, RebuildResult &result)
{
    switch (from.kind) {
    case ChunkSource::None: ++result.filled; break;
    case ChunkSource::Frame: ++result.matched; break;
    case ChunkSource::Run: ++result.matched; ++result.runs; break;
    case ChunkSource::Split: ++result.matched; ++result.splits; break;
    case ChunkSource::Tail: ++result.matched; result.tail = true; break;
    }
}

void put_be64(unsigned char *b, std::uint64_t v)
{
    put_be32(b, static_cast<std::uint32_t>(v >> 32));
    put_be32(b + 4, static_cast<std::uint32_t>(v));
}

}  // namespace

QString rebuild_file_name(int n)
{
    QString dir = save_dir;
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir + QString::number(n) + QStringLiteral(".mp4");
}

RebuildResult rebuild_video(ByteSource &source, std::uint64_t end, int n, std::uint64_t Q, const unsigned char *moov,
                            std::uint64_t moov_size, bool short_rebuild)
{
    RebuildResult result;
    result.file_name = rebuild_file_name(n);
    qDebug().noquote() << "filename_save ==" << result.file_name;
    if (n < 0 || save_dir.isEmpty()) {
        result.error = QStringLiteral("no file name for video %1").arg(n);
        return result;
    }
    if (moov_size > MOOV_BUF_SIZE || (moov_size != 0 && !moov)) {
        result.error = QStringLiteral("moov box of %1 bytes is larger than its buffer").arg(moov_size);
        return result;
    }

    result.unreadable += read_source(source, Q, read_buf, UNIT, end).unreadable;
    const std::uint64_t S = be32(read_buf);
    if (S < 8 || S > READ_BUF_SIZE) {
        result.error = QStringLiteral("ftyp box at %1 claims %2 bytes").arg(Q).arg(S);
        return result;
    }

    const VideoTrack track = VideoTrack::parse(moov, moov_size);
    const ChunkTable &table = track.chunks();
    result.table_cut = table.clipped;
    const std::uint32_t N = table.entries;
    std::uint32_t count = N >= 2 ? N - 1 : 0;
    if (short_rebuild)
        count = std::min(count, SHORT_REBUILD_CHUNKS);

    // The piece's first bytes: its ftyp box and, when they fit read_buf, all
    // that lies before the first chunk.
    const std::uint64_t O0 = count != 0 ? chunk_offset(table, 0) : 0;
    const std::uint64_t head = std::max(S, O0 <= READ_BUF_SIZE ? O0 : 0);
    if (head > UNIT)
        result.unreadable += read_source(source, Q, read_buf, (head + UNIT - 1) / UNIT * UNIT, end).unreadable;
    const MdatLead lead = O0 >= S + MDAT_HEADER ? find_mdat_lead(read_buf, head, S, O0) : MdatLead{};

    OutputFile out;
    out.open(result.file_name);
    std::uint64_t data_start = 0;
    if (lead.found) {
        out.write(read_buf, O0);
        data_start = O0;
        result.lead_kept = true;
    } else {
        out.write(read_buf, S);
        static const unsigned char mdat_header[MDAT_HEADER] = {0, 0, 0, 0, 'm', 'd', 'a', 't'};
        out.write(mdat_header, MDAT_HEADER);
        data_start = S + MDAT_HEADER;
    }
    const std::uint64_t mdat_at = lead.found ? lead.mdat_at : S;

    ChunkFinder finder(source, end, track, moov_size);
    ChunkSource ahead;  // chunk j's source, found while chunk j - 1 was split
    std::uint32_t j = 0;
    for (; j < count && !out.failed(); ++j) {
        // Unsigned 32-bit offsets: files past 2 GiB have positive lengths.
        const std::uint32_t offset = chunk_offset(table, j);
        const std::uint32_t next = chunk_offset(table, j + 1);
        if (next < offset) {
            // Chunks are laid out in file order; one that goes back cannot be.
            result.table_cut = true;
            break;
        }
        if (offset < data_start) {
            ++result.skipped;
            ahead = ChunkSource{};
            continue;
        }
        out.skip_to(offset);
        const std::uint32_t len = next - offset;
        ChunkSource from = ahead.kind != ChunkSource::None ? ahead : finder.whole(j, offset, len);
        ahead = ChunkSource{};
        if (from.kind == ChunkSource::None) {
            // Split by a cluster boundary, when the next chunk is found.
            ChunkSource after;
            if (j + 2 == N) {
                after = finder.tail(j + 1, next, 0xFFFFFFFFu - next);
            } else {
                const std::uint32_t beyond = chunk_offset(table, j + 2);
                if (beyond >= next)
                    after = finder.whole(j + 1, next, beyond - next);
            }
            from = finder.split(j, offset, len, after);
            if (from.kind != ChunkSource::None && after.kind != ChunkSource::Tail)
                ahead = after;
        }
        if (from.kind != ChunkSource::None) {
            write_chunk(source, end, from, out, result);
            finder.take(from);
        } else {
            write_filler(len, out);
        }
        count_source(from, result);
    }
    result.chunks = j;

    std::uint64_t moov_at = count != 0 ? std::max<std::uint64_t>(chunk_offset(table, j), data_start) : data_start;
    // The last chunk, when its bytes run up to a moov box: the moov box then
    // follows them, where the recording had it.
    if (j == count && count + 1 == N && !result.table_cut && !out.failed() && moov_at >= data_start
        && chunk_offset(table, j) >= data_start) {
        const std::uint64_t offset = chunk_offset(table, j);
        const ChunkSource last = finder.tail(j, offset, 0xFFFFFFFFu - offset);
        if (last.kind != ChunkSource::None) {
            out.skip_to(offset);
            write_chunk(source, end, last, out, result);
            finder.take(last);
            count_source(last, result);
            ++result.chunks;
            moov_at = offset + last.length;
        }
    }
    result.unreadable += finder.unreadable();

    out.skip_to(moov_at);
    out.write(moov, moov_size);
    // The mdat box ends where the moov box begins: with the recording's own
    // header that is its original size when every chunk came back.
    if (lead.header == 16) {
        unsigned char size[8];
        put_be64(size, moov_at - mdat_at);
        out.patch(mdat_at + 8, size, sizeof size);
    } else {
        unsigned char size[4];
        put_be32(size, static_cast<std::uint32_t>(moov_at - mdat_at));
        out.patch(mdat_at, size, sizeof size);
    }
    result.written = out.close();
    result.error = out.error();
    return result;
}

RebuildResult rebuild_video(int n, std::uint64_t Q, const unsigned char *moov, std::uint64_t moov_size,
                            bool short_rebuild)
{
    QString why;
    std::unique_ptr<FileSource> source = FileSource::open(source_path(), &why);
    if (!source) {
        RebuildResult result;
        result.file_name = rebuild_file_name(n);
        qDebug().noquote() << "filename_save ==" << result.file_name;
        result.error = QStringLiteral("cannot open %1: %2").arg(source_path(), why);
        return result;
    }
    return rebuild_video(*source, source_size(), n, Q, moov, moov_size, short_rebuild);
}

#include "recover/video_rebuild.h"

#include "drives/drive_table.h"
#include "recover/chunk_table.h"
#include "recover/output_file.h"
#include "recover/stream_signatures.h"
#include "scan/frame_index.h"
#include "scan/scan_tables.h"

#include <QDebug>
#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint64_t MDAT_HEADER = 8;

// fill_buf is the last frame written followed by zeros. Only its first
// fill_dirty bytes can be nonzero, so a new frame clears no more than the
// previous one left; unknown at start, hence the whole buffer. Nothing but
// the rebuild and scan_reset (which clears it) writes fill_buf.
std::uint64_t fill_dirty = FILL_BUF_SIZE;

// Copies the frame of `len` bytes at F from the source into the file with
// reads that start on the 32 KiB grid, in pieces when it is larger than
// chunk_buf, and keeps what fits of it in fill_buf.
void copy_frame(ByteSource &source, std::uint64_t end, std::uint64_t F, std::uint64_t len, OutputFile &out,
                RebuildResult &result)
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
        if (done < FILL_BUF_SIZE)
            std::memcpy(fill_buf + done, chunk_buf + lead, std::min(take, FILL_BUF_SIZE - done));
        done += take;
    }
    const std::uint64_t kept = std::min(len, std::uint64_t(FILL_BUF_SIZE));
    if (fill_dirty > kept)
        std::memset(fill_buf + kept, 0, fill_dirty - kept);
    fill_dirty = kept;
}

// A chunk with no frame: the last frame written, then zeros.
void write_filler(std::uint64_t len, OutputFile &out)
{
    const std::uint64_t from_buf = std::min(len, std::uint64_t(FILL_BUF_SIZE));
    out.write(fill_buf, from_buf);
    out.skip_to(out.offset() + (len - from_buf));
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
    if (S > UNIT)
        result.unreadable += read_source(source, Q, read_buf, (S + UNIT - 1) / UNIT * UNIT, end).unreadable;

    OutputFile out;
    out.open(result.file_name);
    out.write(read_buf, S);
    static const unsigned char mdat_header[MDAT_HEADER] = {0, 0, 0, 0, 'm', 'd', 'a', 't'};
    out.write(mdat_header, MDAT_HEADER);
    const std::uint64_t data_start = S + MDAT_HEADER;

    const ChunkTable table = find_chunk_table(moov, moov_size);
    result.table_cut = table.clipped;
    std::uint32_t count = table.entries >= 2 ? table.entries - 1 : 0;
    if (short_rebuild)
        count = std::min(count, SHORT_REBUILD_CHUNKS);

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
            continue;
        }
        out.skip_to(offset);
        const std::uint32_t len = next - offset;
        if (const FrameNode *frame = frame_index.Find(offset, len)) {
            copy_frame(source, end, frame->position, len, out, result);
            frame_index.Remove(offset, len);
            ++result.matched;
        } else {
            write_filler(len, out);
            ++result.filled;
        }
    }
    result.chunks = j;

    const std::uint64_t moov_at = count != 0 ? std::max<std::uint64_t>(chunk_offset(table, j), data_start) : data_start;
    out.skip_to(moov_at);
    out.write(moov, moov_size);
    unsigned char mdat_size[4];
    put_be32(mdat_size, static_cast<std::uint32_t>(moov_at - S));
    out.patch(S, mdat_size, sizeof mdat_size);
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

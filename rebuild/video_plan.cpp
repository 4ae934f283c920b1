#include "rebuild/video_plan.h"

#include "rebuild/mdat_lead.h"
#include "rebuild/nal_syntax.h"
#include "rebuild/piece_search.h"
#include "rebuild/video_track.h"
#include "scan/card_map.h"
#include "scan/scan_tables.h"
#include "scan/stream_signatures.h"

#include <algorithm>

std::vector<VideoPlan> video_plans;

namespace {

constexpr std::uint64_t MDAT_HEADER = 8;
// A chunk's length is kept in 32 bits; no camera writes chunks of 4 GiB,
// so a table that asks for one is read no further.
constexpr std::uint64_t CHUNK_LONGEST = 0xFFFFFFFFu;

PlannedChunk chunk_from(std::uint64_t offset, const ChunkSource &from)
{
    PlannedChunk c;
    c.offset = offset;
    c.card_pos = from.at;
    c.length = static_cast<std::uint32_t>(from.total());
    c.first = static_cast<std::uint32_t>(from.length);
    c.rest_at = from.rest_at;
    c.located = from.kind;
    return c;
}

// Chunk j, `length` bytes at `offset`, where a piece found for it puts it:
// across the break b when it begins before it.
ChunkSource moved_to(const PieceBreak &piece, std::uint64_t spacing, std::uint64_t offset, std::uint64_t length)
{
    ChunkSource c;
    if (piece.at > offset) {
        c.kind = ChunkSource::Split;
        c.at = spacing + offset;
        c.length = piece.at - offset;
        c.rest_at = piece.card;
        c.rest = length - c.length;
    } else {
        c.kind = ChunkSource::Spacing;
        c.at = piece.card + (offset - piece.at);
        c.length = length;
    }
    return c;
}

}  // namespace

std::uint32_t VideoPlan::chunks_for(std::uint32_t limit) const
{
    if (limit >= table_chunks)
        return static_cast<std::uint32_t>(chunks.size());
    const std::uint32_t walked = static_cast<std::uint32_t>(chunks.size()) - (tail ? 1 : 0);
    return std::min(walked, limit);
}

std::uint64_t VideoPlan::moov_at(std::uint32_t limit) const
{
    if (limit >= table_chunks && tail)
        return chunks.back().offset + chunks.back().length;
    if (table_chunks == 0)
        return data_start;
    const std::uint32_t n = chunks_for(limit);
    const std::uint64_t end = limit >= table_chunks || n == chunks.size() ? walk_end : chunks[n].offset;
    return std::max(end, data_start);
}

VideoPlan plan_video(ByteSource &source, std::uint64_t end, std::uint64_t Q, const unsigned char *moov,
                     std::uint64_t moov_size, bool card_wide, std::uint64_t moov_at)
{
    VideoPlan plan;
    plan.piece = Q;
    if (moov_size > MOOV_BUF_SIZE || (moov_size != 0 && !moov)) {
        plan.error = QStringLiteral("moov box of %1 bytes is larger than its buffer").arg(moov_size);
        return plan;
    }

    plan.unreadable += read_source(source, Q, read_buf, UNIT, end).unreadable;
    const std::uint64_t S = be32(read_buf);
    if (S < 8 || S > READ_BUF_SIZE) {
        plan.error = QStringLiteral("ftyp box at %1 claims %2 bytes").arg(Q).arg(S);
        return plan;
    }

    const VideoTrack track = VideoTrack::parse(moov, moov_size);
    plan.codec = track.codec();
    const ChunkTable &table = track.chunks();
    plan.table_cut = table.clipped;
    const std::uint32_t N = table.entries;
    const std::uint32_t count = N >= 2 ? N - 1 : 0;
    plan.table_chunks = count;

    // The piece's first bytes: its ftyp box and, when they fit read_buf, all
    // that lies before the first chunk.
    const std::uint64_t O0 = N != 0 ? chunk_offset(table, 0) : 0;
    const std::uint64_t head = std::max(S, O0 <= READ_BUF_SIZE ? O0 : 0);
    if (head > UNIT)
        plan.unreadable += read_source(source, Q, read_buf, (head + UNIT - 1) / UNIT * UNIT, end).unreadable;
    const MdatLead lead =
            O0 >= S + MDAT_HEADER ? find_mdat_lead(read_buf, head, S, O0, moov, moov_size) : MdatLead{};
    plan.lead_kept = lead.found;
    plan.moov_in_head = lead.found && lead.holds_moov;
    plan.head_length = lead.found ? O0 : S;
    plan.mdat_at = lead.found ? lead.mdat_at : S;
    // An mdat header of our own takes a 64-bit size where the file may pass
    // 4 GiB (a co64 table) and there is room for it.
    plan.mdat_header = lead.found ? lead.header : table.entry_size == 8 && O0 >= S + 2 * MDAT_HEADER ? 16 : 8;
    plan.data_start = lead.found ? O0 : S + plan.mdat_header;
    if (moov_size != 0)
        plan.moov.assign(moov, moov + moov_size);
    // Whether the first chunk begins with a NAL unit other than a delimiter:
    // then no frame start leads the recording's chunks.
    const std::uint64_t held = std::max(UNIT, head > UNIT ? (head + UNIT - 1) / UNIT * UNIT : 0);
    bool no_delimiter = false;
    if (N != 0 && track.has_samples() && O0 >= plan.data_start && O0 <= held - 6) {
        const NalSyntax nal(track.codec());
        const unsigned char *h = read_buf + O0;
        const unsigned type = nal.type(h[4]);
        no_delimiter = be32(h) >= nal.header_bytes() && nal.header_valid(h[4], h[5])
                    && type != (track.codec() == VideoCodec::H265 ? 35u : 9u);  // the delimiter's type
    }

    ChunkFinder finder(source, end, track, moov_size, card_wide, moov_at, Q);
    // A file on the card is no larger than the card; 32-bit tables reach
    // 4 GiB on any card, as they always did.
    const std::uint64_t file_longest = std::max<std::uint64_t>(end, std::uint64_t(1) << 32);
    ChunkSource ahead;  // chunk j's source, found while chunk j - 1 was split
    // Card position minus file offset of the chunks located so far: while
    // it holds, the next chunk lies at its own offset plus it. The file's
    // first bytes are the start's own, at Q.
    std::uint64_t spacing = Q;
    // A recording whose chunks no frame start leads is followed by its
    // samples' NAL chains alone: at its spacing, and where that breaks, in
    // the next piece the card holds.
    PieceSearch pieces(source, end, track, card_map, Q);
    bool frames_seen = false;      // a chunk was located through frame starts
    std::uint64_t piece_from = 0;  // file offset where the current piece begins
    std::uint32_t run_from = 0;    // chunks run_from..j - 1 lie wholly at the current spacing
    // Chunk j where its chain leads: at the spacing, else across a break into
    // the next piece, the chunks already placed past the break moved with it.
    auto follow_chain = [&](std::uint32_t j, std::uint64_t offset, std::uint64_t len) {
        // A recording led by delimiters has a frame start at each of its
        // chunks: where there is none, its chain could only be the bytes of
        // whatever follows the piece. Only one that begins without one is
        // followed by its chains.
        if (frames_seen || !no_delimiter)
            return ChunkSource{};
        ChunkSource from = finder.walked(j, offset, spacing + offset, len);
        if (from.kind != ChunkSource::None)
            return from;
        const PieceBreak piece = pieces.next_piece(j, len, spacing, piece_from, run_from);
        if (!piece.found)
            return from;
        pieces.taken(spacing + piece_from, spacing + piece.at);
        for (std::uint32_t c = piece.first; c < j && c < plan.chunks.size(); ++c) {
            PlannedChunk &before = plan.chunks[c];
            if (before.skipped || before.located == ChunkSource::None || before.first != before.length
                || before.card_pos != spacing + before.offset)
                continue;
            before = chunk_from(before.offset, moved_to(piece, spacing, before.offset, before.length));
        }
        piece_from = piece.at;
        run_from = j + 1;
        for (std::uint32_t c = piece.first; c <= j; ++c)
            if (chunk_offset(table, c) >= piece.at) {
                run_from = c;
                break;
            }
        return moved_to(piece, spacing, offset, len);
    };
    std::uint32_t j = 0;
    for (; j < count; ++j) {
        const std::uint64_t offset = chunk_offset(table, j);
        const std::uint64_t next = chunk_offset(table, j + 1);
        if (next < offset || next - offset > CHUNK_LONGEST || next > file_longest || offset > file_longest) {
            // Chunks are laid out in file order; one that goes back cannot
            // be, nor one past the end of any file this card can hold.
            plan.table_cut = true;
            break;
        }
        if (offset < plan.data_start) {
            PlannedChunk skipped;
            skipped.offset = offset;
            skipped.length = static_cast<std::uint32_t>(next - offset);
            skipped.skipped = true;
            plan.chunks.push_back(skipped);
            ahead = ChunkSource{};
            continue;
        }
        const std::uint64_t len = next - offset;
        ChunkSource from = ahead;
        if (from.kind == ChunkSource::None) {
            const std::uint64_t beyond = j + 2 < N ? chunk_offset(table, j + 2) : 0;
            const std::uint64_t next_len = beyond > next && beyond - next <= CHUNK_LONGEST ? beyond - next : 0;
            from = finder.at_spacing(j, spacing + offset, len, next_len);
        }
        if (from.kind == ChunkSource::None)
            from = finder.whole(j, offset, len);
        ahead = ChunkSource{};
        if (from.kind == ChunkSource::None) {
            // Split by a cluster boundary, when the next chunk is found.
            ChunkSource after;
            if (j + 2 == N) {
                after = finder.tail(j + 1, next, CHUNK_LONGEST);
            } else {
                const std::uint64_t beyond = chunk_offset(table, j + 2);
                if (beyond >= next && beyond - next <= CHUNK_LONGEST)
                    after = finder.whole(j + 1, next, beyond - next);
            }
            from = finder.split(j, offset, len, after);
            if (from.kind != ChunkSource::None && after.kind != ChunkSource::Tail)
                ahead = after;
        }
        if (from.kind != ChunkSource::None)
            frames_seen = true;
        else
            from = follow_chain(j, offset, len);
        if (from.kind != ChunkSource::None) {
            plan.chunks.push_back(chunk_from(offset, from));
            finder.take(from);
            // After a split chunk the next one follows the piece its rest lies in.
            spacing = from.kind == ChunkSource::Split ? from.rest_at + from.rest - next : from.at - offset;
        } else {
            PlannedChunk filler;
            filler.offset = offset;
            filler.length = static_cast<std::uint32_t>(len);
            plan.chunks.push_back(filler);
            run_from = j + 1;
        }
    }
    plan.walk_end = count != 0 ? std::min(chunk_offset(table, j), file_longest) : 0;

    // The last chunk of a recording whose moov box came first runs to the
    // end of its mdat box, where the spacing of the chunks before it puts it.
    // The size comes from the card: one that cannot end inside a file is none.
    const std::uint64_t mdat_end =
            lead.size >= lead.header && lead.size <= ~std::uint64_t(0) - lead.mdat_at ? lead.mdat_at + lead.size : 0;
    if (plan.moov_in_head) {
        const std::uint64_t offset = N != 0 ? chunk_offset(table, j) : 0;
        if (j == count && count + 1 == N && !plan.table_cut && offset >= plan.data_start && mdat_end > offset
            && mdat_end - offset <= CHUNK_BUF_SIZE) {
            const ChunkSource last = finder.last_in_mdat(j, spacing + offset, mdat_end - offset);
            if (last.kind != ChunkSource::None) {
                plan.chunks.push_back(chunk_from(offset, last));
                finder.take(last);
                plan.tail = true;
            }
        }
    } else if (j == count && count + 1 == N && !plan.table_cut && chunk_offset(table, j) >= plan.data_start) {
        // The last chunk, when its bytes run up to a moov box: the moov box
        // then follows them, where the recording had it.
        const std::uint64_t offset = chunk_offset(table, j);
        ChunkSource last;
        // Without frame starts the mdat header tells where the last chunk ends.
        if (!frames_seen && plan.lead_kept && mdat_end > offset && mdat_end - offset <= CHUNK_LONGEST) {
            last = follow_chain(j, offset, mdat_end - offset);
            if (last.kind == ChunkSource::Spacing)
                last.kind = ChunkSource::Tail;
        }
        if (last.kind == ChunkSource::None)
            last = finder.tail_at_spacing(j, spacing + offset, CHUNK_LONGEST);
        if (last.kind == ChunkSource::None)
            last = finder.tail(j, offset, CHUNK_LONGEST);
        if (last.kind != ChunkSource::None) {
            plan.chunks.push_back(chunk_from(offset, last));
            finder.take(last);
            plan.tail = true;
        }
    }
    plan.unreadable += finder.unreadable() + pieces.unreadable();
    plan.checked = finder.checked() + pieces.read();
    return plan;
}

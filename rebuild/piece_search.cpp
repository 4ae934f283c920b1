#include "rebuild/piece_search.h"

#include "rebuild/lost_index.h"
#include "rebuild/nal_syntax.h"
#include "rebuild/sample_check.h"
#include "scan/card_map.h"
#include "scan/scan_tables.h"

#include <algorithm>

namespace {

// Chunks before the failing one whose bytes may hold the break: a chunk
// whose samples end just before it, or one whose last slice ran into the
// next piece without its chain showing it.
constexpr std::uint32_t LOOK_BACK = 2;
// Cluster boundaries tried as the break, latest first.
constexpr std::size_t BREAKS = 8;
// Bounds per file: candidates tried, and bytes read to try them.
constexpr std::uint64_t SEARCH_STEPS = std::uint64_t(1) << 22;
constexpr std::uint64_t SEARCH_READ_LIMIT = std::uint64_t(512) << 20;
// Units walked in one chain; a sample of a few MiB has a few hundred.
constexpr std::uint32_t CHAIN_UNITS = 4096;
constexpr std::uint64_t CHUNK_VIDEO_LONGEST = CHUNK_BUF_SIZE - 2 * UNIT;
constexpr std::size_t ESCAPE_LIMIT = std::size_t(1) << 20;
constexpr std::uint32_t SAMPLES_CHECKED = 4096;
constexpr std::size_t TAKEN_KEPT = 256;

}  // namespace

// One cluster boundary b tried as the break, and what a candidate P must
// show for it.
struct PieceSearch::Boundary {
    std::uint64_t b = 0;
    std::uint32_t k = 0;  // the first chunk that lies, wholly or in part, at b or after
    std::uint32_t j = 0;
    // The video samples of chunks k..j in the file, [start, end).
    std::vector<std::pair<std::uint64_t, std::uint64_t>> samples;
    std::size_t sample = 0;  // the one that holds u
    std::uint64_t u = 0;     // the first unit header that does not lie wholly before b
    // After the last chunk's last unit: u is the end of the file's mdat,
    // where its moov box begins.
    bool moov = false;
};

PieceSearch::PieceSearch(ByteSource &source, std::uint64_t end, const VideoTrack &track, const CardMap &map,
                         std::uint64_t Q)
    : m_source(source), m_end(end), m_track(track), m_map(map), m_grid(Q % UNIT),
      m_old(source, end, &m_read, &m_unreadable), m_candidates(source, end, &m_read, &m_unreadable),
      m_chains(source, end, &m_read, &m_unreadable)
{
}

std::uint64_t PieceSearch::unreadable() const
{
    return m_unreadable;
}

void PieceSearch::taken(std::uint64_t from, std::uint64_t to)
{
    // Every candidate is checked against them: a file of countless pieces
    // keeps its first ones, the others are only checked again.
    if (to > from && m_taken.size() < TAKEN_KEPT)
        m_taken.emplace_back(from, to);
}

bool PieceSearch::video_sizes(std::uint32_t c, std::vector<std::uint32_t> *sizes) const
{
    std::uint32_t first = 0, count = 0;
    sizes->clear();
    if (!m_track.chunk_samples(c, &first, &count) || count == 0 || count > SAMPLES_CHECKED)
        return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t size = m_track.sample_size(first + i);
        if (size == 0)
            return false;
        sizes->push_back(size);
    }
    return true;
}

// Walks the chains of chunks k..j at the old spacing up to b: every header
// wholly before b must stand there; the first one that does not is u.
bool PieceSearch::plan_boundary(std::uint32_t j, std::uint64_t length, std::uint64_t b, std::uint64_t spacing,
                                std::uint32_t from_chunk, Boundary *out)
{
    const ChunkTable &table = m_track.chunks();
    const NalSyntax nal(m_track.codec());
    const unsigned header = nal.header_bytes();
    Boundary &at = *out;
    at = Boundary{};
    at.b = b;
    at.j = j;
    at.k = j;
    for (std::uint32_t c = from_chunk; c < j; ++c)
        if (chunk_offset(table, c + 1) > b) {
            at.k = c;
            break;
        }
    for (std::uint32_t c = at.k; c <= j; ++c) {
        if (!video_sizes(c, &m_sizes))
            return false;
        std::uint64_t p = chunk_offset(table, c);
        for (const std::uint32_t size : m_sizes) {
            at.samples.emplace_back(p, p + size);
            p += size;
        }
    }
    bool found = false;
    std::uint32_t units = 0;
    for (std::size_t s = 0; s < at.samples.size() && !found; ++s) {
        std::uint64_t p = at.samples[s].first;
        const std::uint64_t sample_end = at.samples[s].second;
        while (p < sample_end) {
            if (p + 4 + header > b) {
                at.u = p;
                at.sample = s;
                found = true;
                break;
            }
            if (++units > CHAIN_UNITS || sample_end - p < 4 + header)
                return false;
            const unsigned char *h = m_old.at(spacing + p, 4 + header);
            if (!h)
                return false;
            const std::uint64_t n = be32(h);
            if (n < header || n > sample_end - p - 4 || !nal.header_valid(h[4], header == 2 ? h[5] : 0))
                return false;
            p += 4 + n;
        }
    }
    if (found)
        return true;
    // b lies in chunk j's last unit: the next header is the next chunk's
    // first, or after the last chunk the moov box.
    if (j + 1 < table.entries && video_sizes(j + 1, &m_sizes)) {
        at.sample = at.samples.size();
        at.u = chunk_offset(table, j + 1);
        std::uint64_t p = at.u;
        for (const std::uint32_t size : m_sizes) {
            at.samples.emplace_back(p, p + size);
            p += size;
        }
        return true;
    }
    if (j + 1 == table.entries) {
        at.u = chunk_offset(table, j) + length;
        at.moov = true;
        return true;
    }
    return false;
}

// Whether the chains of the samples from u on walk at P, header by header:
// a byte of the file at f lies at the old spacing before b, at P + (f - b)
// from b on.
bool PieceSearch::header_holds(const Boundary &at, std::uint64_t P, std::uint64_t spacing)
{
    const NalSyntax nal(m_track.codec());
    const unsigned header = nal.header_bytes();
    std::uint32_t units = 0;
    for (std::size_t s = at.moov ? at.samples.size() : at.sample; s < at.samples.size(); ++s) {
        std::uint64_t p = s == at.sample ? at.u : at.samples[s].first;
        const std::uint64_t sample_end = at.samples[s].second;
        while (p < sample_end) {
            if (++units > CHAIN_UNITS || sample_end - p < 4 + header)
                return false;
            unsigned char h[6];
            for (unsigned i = 0; i < 4 + header; ++i) {
                const std::uint64_t f = p + i;
                const unsigned char *byte = f < at.b ? m_old.at(spacing + f, 1) : m_chains.at(P + (f - at.b), 1);
                if (!byte)
                    return false;
                h[i] = *byte;
            }
            const std::uint64_t n = be32(h);
            if (n < header || n > sample_end - p - 4 || !nal.header_valid(h[4], header == 2 ? h[5] : 0))
                return false;
            p += 4 + n;
        }
    }
    return true;
}

// Whether every sample of chunks k..j holds, read as the candidate places it.
bool PieceSearch::chunks_hold(const Boundary &at, std::uint64_t P, std::uint64_t spacing)
{
    const ChunkTable &table = m_track.chunks();
    for (std::uint32_t c = at.k; c <= at.j; ++c) {
        if (!video_sizes(c, &m_sizes))
            return false;
        std::uint64_t video = 0;
        for (const std::uint32_t s : m_sizes)
            video += s;
        const std::uint64_t O = chunk_offset(table, c);
        const std::uint64_t cut = at.b > O ? std::min(at.b - O, video) : 0;
        if (cut == video)
            continue;  // its samples lie before b and stood at the old spacing
        if (video > CHUNK_VIDEO_LONGEST || m_read + 2 * video > SEARCH_READ_LIMIT)
            return false;
        // Where the chunk's first byte lies for the candidate.
        if (O < at.b && P < at.b - O)
            return false;
        const std::uint64_t base = O >= at.b ? P + (O - at.b) : P - (at.b - O);
        const std::uint64_t tail_from = base / UNIT * UNIT;
        const std::uint64_t tail_span = (base - tail_from + video + UNIT - 1) / UNIT * UNIT;
        if (base > m_end || video > m_end - base)
            return false;
        m_unreadable += read_source(m_source, tail_from, chunk_buf, tail_span, m_end).unreadable;
        m_read += tail_span;
        const unsigned char *tail = chunk_buf + (base - tail_from);
        const unsigned char *head = tail;
        if (cut != 0) {
            const std::uint64_t pos = spacing + O;
            const std::uint64_t head_from = pos / UNIT * UNIT;
            const std::uint64_t head_span = (pos - head_from + cut + UNIT - 1) / UNIT * UNIT;
            if (head_span > READ_BUF_SIZE)
                return false;
            m_unreadable += read_source(m_source, head_from, read_buf, head_span, m_end).unreadable;
            m_read += head_span;
            head = read_buf + (pos - head_from);
        }
        if (!find_escapes(head, 0, cut, ESCAPE_LIMIT, &m_head_marks)
            || !find_escapes(tail, cut, video, ESCAPE_LIMIT, &m_tail_marks))
            return false;
        const ChunkBytes bytes{head, tail, cut, video};
        const std::uint64_t grid = (UNIT - O % UNIT) % UNIT;
        if (!samples_hold(m_track.codec(), bytes, m_sizes, m_head_marks, m_tail_marks)
            || !slices_look_coded(m_track.codec(), bytes, m_sizes, grid, UNIT))
            return false;
    }
    return true;
}

bool PieceSearch::skipped(std::uint64_t P) const
{
    for (const auto &t : m_taken)
        if (P >= t.first && P < t.second)
            return true;
    // A cluster that holds a frame start or begins a file belongs to
    // another file: a recording without delimiters has no frame start.
    const auto frames = m_map.frames_in(P, P + UNIT);
    if (frames.first != frames.second)
        return true;
    return P != 0 && next_start_after(P - 1, m_end) == P;
}

PieceBreak PieceSearch::next_piece(std::uint32_t j, std::uint64_t length, std::uint64_t spacing,
                                   std::uint64_t piece_from, std::uint32_t run_from)
{
    PieceBreak found;
    if (!m_track.has_samples() || !video_sizes(j, &m_sizes) || m_steps >= SEARCH_STEPS
        || m_read >= SEARCH_READ_LIMIT)
        return found;
    const ChunkTable &table = m_track.chunks();
    std::uint64_t video = 0;
    for (const std::uint32_t s : m_sizes)
        video += s;
    const std::uint64_t O = chunk_offset(table, j);
    if (video > length)
        return found;

    // The breaks tried: cluster boundaries of the file after the piece's
    // start and the last chunks found at its spacing, before the end of
    // chunk j's samples; without such chunks, the boundary at or before
    // chunk j.
    const std::uint32_t back = run_from < j ? std::max(run_from, j > LOOK_BACK ? j - LOOK_BACK : 0) : j;
    std::uint64_t lo = back < j ? chunk_offset(table, back) : (O >= UNIT ? O - UNIT : 0);
    lo = std::max(lo, piece_from);
    // A boundary the whole card was searched for at this spacing fails again:
    // the chunks it is checked with then are checked again, and more.
    if (spacing == m_failed_spacing)
        lo = std::max(lo, m_failed_to);
    std::vector<Boundary> breaks;
    for (std::uint64_t b = (O + video - 1) / UNIT * UNIT; b > lo && breaks.size() < BREAKS; b -= UNIT) {
        Boundary at;
        if (plan_boundary(j, length, b, spacing, back, &at))
            breaks.push_back(std::move(at));
        if (b < UNIT)
            break;
    }
    if (breaks.empty())
        return found;

    // Forward from the card position of the earliest break, then from the
    // card's start up to it, as FAT hands out free clusters.
    const std::uint64_t from = spacing + breaks.back().b;
    auto first_candidate = [&](std::uint64_t pos) {
        return pos <= m_grid ? m_grid : m_grid + (pos - m_grid + UNIT - 1) / UNIT * UNIT;
    };
    const NalSyntax nal(m_track.codec());
    const unsigned header = nal.header_bytes();
    const std::pair<std::uint64_t, std::uint64_t> sweeps[2] = {{first_candidate(from), m_end},
                                                               {m_grid, first_candidate(from)}};
    for (const auto &sweep : sweeps) {
        for (std::uint64_t P = sweep.first; P < sweep.second; P += UNIT) {
            if (++m_steps > SEARCH_STEPS || m_read >= SEARCH_READ_LIMIT)
                return found;
            // The current piece's own clusters hold what was read at the spacing.
            if ((P >= spacing + piece_from && P < from) || skipped(P))
                continue;
            for (const Boundary &at : breaks) {
                if (P == spacing + at.b)
                    continue;  // where the spacing put it
                // The header at u first, read with the candidates' window
                // as they are swept; one across b is left to the chain.
                if (at.moov) {
                    // The card map knows where moov boxes begin: nothing to read.
                    const auto boxes = m_map.moovs_in(P + (at.u - at.b), P + (at.u - at.b) + 1);
                    if (boxes.first == boxes.second)
                        continue;
                } else if (at.u >= at.b) {
                    const unsigned char *h = m_candidates.at(P + (at.u - at.b), 4 + header);
                    if (!h)
                        continue;
                    const std::uint64_t n = be32(h);
                    if (n < header || n > at.samples[at.sample].second - at.u - 4
                        || !nal.header_valid(h[4], header == 2 ? h[5] : 0))
                        continue;
                }
                if (!header_holds(at, P, spacing) || !chunks_hold(at, P, spacing))
                    continue;
                found.found = true;
                found.at = at.b;
                found.card = P;
                found.first = at.k;
                return found;
            }
        }
    }
    m_failed_spacing = spacing;
    m_failed_to = breaks.front().b;
    return found;
}

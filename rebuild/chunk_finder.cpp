#include "rebuild/chunk_finder.h"

#include "rebuild/nal_syntax.h"
#include "rebuild/sample_check.h"
#include "rebuild/sample_decode.h"
#include "scan/scan_tables.h"

#include <algorithm>

namespace {

// Frames of a bucket tried as the first of a run or of a tail.
constexpr std::uint32_t RUN_STARTS = 16;
// Frames of a run when the tables do not tell how many samples a chunk has.
constexpr std::uint32_t RUN_FRAMES = 64;
constexpr std::uint32_t RUN_FRAMES_MAX = 256;
// Frames of a bucket looked at, and tried, as the start of a split chunk.
constexpr std::uint32_t SPLIT_VISITS = 64;
constexpr std::uint32_t SPLIT_STARTS = 8;
// Both pieces of a split chunk are read whole into buffers of 10 MiB and
// 16 MiB, each with one aligned read.
constexpr std::uint64_t SPLIT_LONGEST = CHUNK_BUF_SIZE - 2 * UNIT;
// Bounds for all the chunks of one file, so that a hostile card costs
// seconds, not hours.
constexpr std::uint64_t SEARCH_STEPS = std::uint64_t(1) << 22;
constexpr std::uint64_t SPLIT_READ_LIMIT = std::uint64_t(1) << 30;
constexpr std::uint32_t SAMPLES_CHECKED = 4096;
constexpr std::size_t ESCAPE_LIMIT = std::size_t(1) << 20;
// Boundaries of one chunk that may pass before the chunk counts as
// ambiguous, and key frames that may be decoded to choose, per file.
constexpr std::size_t SPLIT_CANDIDATES = 8;
constexpr std::uint64_t DECODED_LONGEST = 4u << 20;
constexpr std::uint32_t DECODES = 64;

// Whether the first sample holds a key picture: it decodes on its own, so
// ffmpeg can judge it.
bool holds_key_frame(VideoCodec codec, const ChunkBytes &b, std::uint32_t size)
{
    const NalSyntax nal(codec);
    for (std::uint64_t p = 0; p + 4 + nal.header_bytes() <= size;) {
        const std::uint64_t n = std::uint64_t(b.at(p)) << 24 | std::uint64_t(b.at(p + 1)) << 16
                                | std::uint64_t(b.at(p + 2)) << 8 | b.at(p + 3);
        if (nal.is_key(nal.type(b.at(p + 4))))
            return true;
        p += 4 + n;
    }
    return false;
}

}  // namespace

ChunkFinder::ChunkFinder(ByteSource &source, std::uint64_t end, const VideoTrack &track, std::uint64_t moov_size,
                         bool card_wide, std::uint64_t moov_at, std::uint64_t Q)
    : m_source(source), m_stretch(stretch_frames(track.codec())),
      m_wide(card_wide ? &card_frames(track.codec()) : nullptr), m_moov_at(moov_at), m_end(end), m_track(track),
      m_moov_size(moov_size), m_grid(Q % UNIT)
{
}

bool ChunkFinder::spend(std::uint64_t steps)
{
    m_steps += steps;
    return m_steps <= SEARCH_STEPS;
}

bool ChunkFinder::video_sizes(std::uint32_t j, std::vector<std::uint32_t> *sizes) const
{
    std::uint32_t first = 0, count = 0;
    sizes->clear();
    if (!m_track.chunk_samples(j, &first, &count) || count > SAMPLES_CHECKED)
        return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t size = m_track.sample_size(first + i);
        if (size == 0)
            return false;
        sizes->push_back(size);
    }
    return true;
}

const unsigned char *ChunkFinder::read_at(std::uint64_t pos, std::uint64_t len, unsigned char *buf, std::uint64_t cap)
{
    const std::uint64_t base = pos / UNIT * UNIT;
    const std::uint64_t span = (pos - base + len + UNIT - 1) / UNIT * UNIT;
    if (span > cap)
        return nullptr;
    m_unreadable += read_source(m_source, base, buf, span, m_end).unreadable;
    m_checked += span;
    return buf + (pos - base);
}

bool ChunkFinder::one_piece_holds(std::uint32_t j, std::uint64_t pos, std::uint64_t len)
{
    // Without sample tables there is nothing to check against.
    if (!m_track.has_samples() || !video_sizes(j, &m_sizes))
        return true;
    std::uint64_t video = 0;
    for (const std::uint32_t s : m_sizes)
        video += s;
    if (video > len)
        return false;
    const unsigned char *bytes = read_at(pos, video, chunk_buf, CHUNK_BUF_SIZE);
    if (!bytes || !find_escapes(bytes, 0, video, ESCAPE_LIMIT, &m_head_marks))
        return false;
    m_tail_marks.clear();
    return samples_hold(m_track.codec(), ChunkBytes{bytes, bytes, video, video}, m_sizes, m_head_marks, m_tail_marks);
}

bool ChunkFinder::frame_starts_at(const FrameIndex &index, std::uint64_t pos) const
{
    const FrameNode *last = index.last();
    return index.FindAt(pos) || (last && last->position == pos) || index.FindTailAt(pos, m_moov_size);
}

ChunkSource ChunkFinder::at_spacing(std::uint32_t j, std::uint64_t pos, std::uint64_t length, std::uint64_t next_length)
{
    ChunkSource found = at_spacing_in(m_stretch, pos, length);
    if (found.kind == ChunkSource::None && runs_past_at(j, m_stretch, pos, length, next_length)) {
        found.kind = ChunkSource::Spacing;
        found.at = pos;
        found.length = length;
    }
    if (found.kind == ChunkSource::None && m_wide)
        found = at_spacing_in(*m_wide, pos, length);
    return found;
}

// A frame of the recording starts where the spacing puts chunk j and runs on
// past the chunk's end: the next chunk begins with no frame start of its own
// (an SEI first, as where a recording was joined to another). The samples
// of both chunks must hold there, one after the other: where the recording
// breaks off into another piece instead, the next chunk's bytes are not
// there. A frame of the same length elsewhere on the card (a recording that
// repeats itself) then does not take the chunk's place.
bool ChunkFinder::runs_past_at(std::uint32_t j, const FrameIndex &index, std::uint64_t pos, std::uint64_t length,
                               std::uint64_t next_length)
{
    const FrameNode *f = index.FindAt(pos);
    if (!f || f->length <= length || next_length == 0 || !m_track.has_samples())
        return false;
    for (std::uint32_t k = j; k <= j + 1; ++k)
        if (!video_sizes(k, &m_sizes))
            return false;
    return one_piece_holds(j + 1, pos + length, next_length) && one_piece_holds(j, pos, length);
}

ChunkSource ChunkFinder::at_spacing_in(const FrameIndex &index, std::uint64_t pos, std::uint64_t length)
{
    ChunkSource found;
    if (length == 0 || pos > m_end || length > m_end - pos)
        return found;
    std::uint64_t sum = 0;
    std::uint32_t frames = 0;
    while (sum < length && frames < RUN_FRAMES_MAX && spend(1)) {
        const FrameNode *f = index.FindAt(pos + sum);
        if (!f)
            break;
        if (frames == 0)
            found.frame = f;
        sum += f->length;
        ++frames;
    }
    if (sum == length) {
        found.kind = frames == 1 ? ChunkSource::Frame : ChunkSource::Run;
    } else if (frame_starts_at(index, pos + length)) {
        found.kind = ChunkSource::Spacing;
        found.frame = nullptr;
    } else {
        return ChunkSource{};
    }
    found.at = pos;
    found.length = length;
    return found;
}

ChunkSource ChunkFinder::tail_at_spacing(std::uint32_t j, std::uint64_t pos, std::uint64_t longest)
{
    ChunkSource found;
    std::uint64_t length = 0;
    if (const FrameNode *t = m_stretch.FindTailAt(pos, m_moov_size))
        length = t->length;
    else if (m_moov_at > pos && m_track.has_samples() && video_sizes(j, &m_sizes))
        // A last sample with no frame start of its own (an encoder's first
        // and only chunk, say): the moov box where the spacing ends it.
        length = m_moov_at - pos;
    if (length == 0 || length > longest || !one_piece_holds(j, pos, length))
        return found;
    found.kind = ChunkSource::Tail;
    found.at = pos;
    found.length = length;
    return found;
}

ChunkSource ChunkFinder::last_in_mdat(std::uint32_t j, std::uint64_t pos, std::uint64_t length)
{
    ChunkSource found;
    if (pos > m_end || length > m_end - pos || !m_track.has_samples() || !one_piece_holds(j, pos, length))
        return found;
    found.kind = ChunkSource::Tail;
    found.at = pos;
    found.length = length;
    return found;
}

ChunkSource ChunkFinder::walked(std::uint32_t j, std::uint64_t offset, std::uint64_t pos, std::uint64_t length)
{
    ChunkSource found;
    if (!m_track.has_samples() || !video_sizes(j, &m_sizes) || pos > m_end || length > m_end - pos)
        return found;
    std::uint64_t video = 0;
    for (const std::uint32_t s : m_sizes)
        video += s;
    if (video > length)
        return found;
    const unsigned char *bytes =
            video <= CountedWindow::SPAN - UNIT ? m_walk.at(pos, video) : read_at(pos, video, chunk_buf, CHUNK_BUF_SIZE);
    if (!bytes || !find_escapes(bytes, 0, video, ESCAPE_LIMIT, &m_head_marks))
        return found;
    m_tail_marks.clear();
    const ChunkBytes chunk{bytes, bytes, video, video};
    // Slices that look coded in every cluster: a piece that ends inside the
    // last slice, its chain still whole, leaves other bytes in its place.
    if (!samples_hold(m_track.codec(), chunk, m_sizes, m_head_marks, m_tail_marks)
        || !slices_look_coded(m_track.codec(), chunk, m_sizes, (UNIT - offset % UNIT) % UNIT, UNIT))
        return found;
    found.kind = ChunkSource::Spacing;
    found.at = pos;
    found.length = length;
    return found;
}

ChunkSource ChunkFinder::whole(std::uint32_t j, std::uint64_t offset, std::uint64_t length)
{
    ChunkSource found = whole_in(m_stretch, j, offset, length);
    if (found.kind != ChunkSource::None || !m_wide)
        return found;
    // On the card, where the recording goes on after its last piece first.
    if (const FrameNode *f = m_wide->FindFrom(key(offset), length, m_after)) {
        found.kind = ChunkSource::Frame;
        found.at = f->position;
        found.length = length;
        found.frame = f;
        return found;
    }
    return whole_in(*m_wide, j, offset, length);
}

ChunkSource ChunkFinder::whole_in(const FrameIndex &index, std::uint32_t j, std::uint64_t offset, std::uint64_t length)
{
    ChunkSource found;
    if (const FrameNode *f = index.Find(key(offset), length)) {
        found.kind = ChunkSource::Frame;
        found.at = f->position;
        found.length = length;
        found.frame = f;
        return found;
    }
    std::uint32_t first = 0, count = 0;
    const std::uint32_t most = m_track.chunk_samples(j, &first, &count)
                                   ? std::uint32_t(std::min<std::uint64_t>(std::uint64_t(count) + 4, RUN_FRAMES_MAX))
                                   : RUN_FRAMES;
    index.visit_bucket(key(offset), RUN_STARTS, [&](const FrameNode &f) {
        if (f.length >= length || !spend(1))
            return false;  // shortest first: no shorter frame is left
        std::uint64_t sum = f.length;
        std::uint32_t frames = 1;
        while (sum < length && frames < most && spend(1)) {
            const FrameNode *g = index.FindAt(f.position + sum);
            if (!g || g->length > length - sum)
                break;
            sum += g->length;
            ++frames;
        }
        if (sum != length)
            return true;
        found.kind = ChunkSource::Run;
        found.at = f.position;
        found.length = length;
        found.frame = &f;
        return false;
    });
    return found;
}

ChunkSource ChunkFinder::tail(std::uint32_t j, std::uint64_t offset, std::uint64_t longest)
{
    ChunkSource found;
    auto take_if_whole = [&](std::uint64_t at, std::uint64_t length) {
        if (length > longest || !one_piece_holds(j, at, length))
            return false;
        found.kind = ChunkSource::Tail;
        found.at = at;
        found.length = length;
        return true;
    };
    m_stretch.visit_tails(key(offset), m_moov_size, [&](const FrameNode &t) {
        return spend(1) && !take_if_whole(t.position, t.length);
    });
    if (found.kind != ChunkSource::None)
        return found;
    // Several samples in the last chunk: frames up to the one that ends at
    // the moov box.
    m_stretch.visit_bucket(key(offset), RUN_STARTS, [&](const FrameNode &f) {
        std::uint64_t sum = 0;
        for (std::uint32_t frames = 0; frames < RUN_FRAMES_MAX && sum <= longest && spend(1); ++frames) {
            if (frames > 0) {
                if (const FrameNode *t = m_stretch.FindTailAt(f.position + sum, m_moov_size))
                    return !take_if_whole(f.position, sum + t->length);
            }
            const FrameNode *g = m_stretch.FindAt(f.position + sum);
            if (!g)
                break;
            sum += g->length;
        }
        return true;
    });
    if (found.kind != ChunkSource::None || m_moov_at == 0 || !m_wide)
        return found;
    // The moov box chosen for this piece lies outside its stretch: the last
    // frame start before it, when it sits where the chunk's offset does
    // within its cluster.
    const FrameNode *before =
            m_wide->LastBefore(m_moov_at, m_moov_at - std::min<std::uint64_t>(m_moov_at, longest), RUN_FRAMES_MAX);
    // The card's last frame start has no next one and stands apart.
    if (const FrameNode *last = m_wide->last();
        last && last->position < m_moov_at && (!before || last->position > before->position))
        before = last;
    if (before && (before->position & FRAME_BUCKET_MASK) == (key(offset) & FRAME_BUCKET_MASK))
        take_if_whole(before->position, m_moov_at - before->position);
    return found;
}

ChunkSource ChunkFinder::split(std::uint32_t j, std::uint64_t offset, std::uint64_t length, const ChunkSource &next)
{
    ChunkSource found;
    if (next.kind == ChunkSource::None || length > SPLIT_LONGEST || !video_sizes(j, &m_sizes))
        return found;
    const std::uint64_t G = next.at;
    // The rest of the chunk starts a cluster of the card, as the next chunk's
    // frame sits at its offset's place within its cluster.
    if (G % UNIT != key(offset + length) % UNIT || G < length || m_split_read + length > SPLIT_READ_LIMIT)
        return found;
    std::uint64_t video = 0;
    for (const std::uint32_t s : m_sizes)
        video += s;
    if (video > length)
        return found;
    const unsigned char *before_next = read_at(G - length, length, read_buf, READ_BUF_SIZE);
    m_split_read += length;
    if (!before_next || !find_escapes(before_next, 0, length, ESCAPE_LIMIT, &m_tail_marks))
        return found;

    // Every boundary whose bytes hold the samples; when several do and the
    // chunk is a key frame, those ffmpeg decodes clean.
    struct Candidate {
        ChunkSource source;
        QByteArray video;  // the samples' bytes, kept only for a key frame
    };
    std::vector<Candidate> passed;
    bool too_many = false;
    std::uint32_t tried = 0;
    auto try_start = [&](const FrameNode &f) {
        // Its bytes go on elsewhere; within a cluster a frame sits where its
        // chunk's offset does; and it is none of the next chunk's bytes.
        if (f.length == length || f.position % UNIT != key(offset) % UNIT || f.position > m_end - std::min(m_end, length)
            || (f.position + length > G - length && f.position < G + next.total()))
            return true;
        if (++tried > SPLIT_STARTS || !spend(1) || m_split_read + length > SPLIT_READ_LIMIT)
            return false;
        const unsigned char *from_frame = read_at(f.position, length, chunk_buf, CHUNK_BUF_SIZE);
        m_split_read += length;
        if (!from_frame || !find_escapes(from_frame, 0, length, ESCAPE_LIMIT, &m_head_marks))
            return true;
        for (std::uint64_t b = (offset / UNIT + 1) * UNIT; b <= offset + length; b += UNIT) {
            const std::uint64_t cut = b - offset;
            const ChunkBytes bytes{from_frame, before_next, cut, length};
            if (!samples_hold(m_track.codec(), bytes, m_sizes, m_head_marks, m_tail_marks)
                || !slices_look_coded(m_track.codec(), bytes, m_sizes, (UNIT - offset % UNIT) % UNIT, UNIT))
                continue;
            if (passed.size() == SPLIT_CANDIDATES) {
                too_many = true;
                return false;
            }
            Candidate c;
            c.source.kind = ChunkSource::Split;
            c.source.at = f.position;
            c.source.length = cut;
            c.source.rest_at = G - (length - cut);
            c.source.rest = length - cut;
            c.source.frame = &f;
            if (video <= DECODED_LONGEST && holds_key_frame(m_track.codec(), bytes, m_sizes.front())) {
                c.video.resize(int(video));
                for (std::uint64_t i = 0; i < video; ++i)
                    c.video[int(i)] = char(bytes.at(i));
            }
            passed.push_back(std::move(c));
        }
        return true;
    };
    // The last frame start of the stretch first: it has no next one.
    const FrameNode *last = m_stretch.last();
    if (!last || (last->position & FRAME_BUCKET_MASK) != (key(offset) & FRAME_BUCKET_MASK) || try_start(*last))
        m_stretch.visit_bucket(key(offset), SPLIT_VISITS, try_start);
    // Then the card's, for a recording that goes on outside its stretch.
    if (m_wide && passed.empty() && !too_many) {
        tried = 0;
        m_wide->visit_bucket(key(offset), SPLIT_VISITS, try_start);
    }
    if (too_many || passed.empty())
        return found;
    if (passed.size() == 1)
        return passed.front().source;
    int clean = 0;
    for (const Candidate &c : passed) {
        if (c.video.isEmpty() || m_decodes >= DECODES)
            return found;
        ++m_decodes;
        const Decoded d = decode_key_frame(m_track, c.video);
        if (d == Decoded::Unknown)
            return found;
        if (d == Decoded::Clean && ++clean == 1)
            found = c.source;
    }
    return clean == 1 ? found : ChunkSource{};
}

void ChunkFinder::take_range(FrameIndex &index, std::uint64_t from, std::uint64_t to)
{
    m_inside.clear();
    index.visit_range(from, to, [&](const FrameNode &f) { m_inside.push_back(&f); });
    for (const FrameNode *f : m_inside)
        index.Take(f);
}

void ChunkFinder::take(const ChunkSource &source)
{
    if (source.kind == ChunkSource::None)
        return;
    m_after = source.rest != 0 ? source.rest_at + source.rest : source.at + source.length;
    // No frame that starts inside a chunk's bytes can begin another chunk:
    // they are all taken, from the stretch's index and the card's.
    for (FrameIndex *index : {&m_stretch, m_wide}) {
        if (!index)
            continue;
        take_range(*index, source.at, source.at + source.length);
        take_range(*index, source.rest_at, source.rest_at + source.rest);
        // The last frame start, which has no next one, stands apart.
        if (const FrameNode *last = index->last();
            last && last->position >= source.at && last->position < source.at + source.length)
            index->Take(last);
    }
    if (source.kind == ChunkSource::Tail)
        if (const FrameNode *t = m_stretch.FindTailAt(source.at, m_moov_size))
            m_stretch.TakeTail(t);
}

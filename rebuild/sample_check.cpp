#include "rebuild/sample_check.h"

#include "rebuild/nal_syntax.h"

#include <algorithm>
#include <cstring>

bool find_escapes(const unsigned char *bytes, std::uint64_t from, std::uint64_t to, std::size_t limit,
                  std::vector<std::uint32_t> *marks)
{
    marks->clear();
    std::uint64_t i = from;
    while (to >= 3 && i + 2 < to) {
        const void *zero = std::memchr(bytes + i, 0, std::size_t(to - 2 - i));
        if (!zero)
            break;
        i = std::uint64_t(static_cast<const unsigned char *>(zero) - bytes);
        if (bytes[i + 1] == 0 && bytes[i + 2] <= 2) {
            if (marks->size() == limit)
                return false;
            marks->push_back(std::uint32_t(i));
        }
        ++i;
    }
    return true;
}

namespace {

// Whether an escape begins at some i with s <= i and i + 3 <= e.
bool escape_within(const ChunkBytes &b, const std::vector<std::uint32_t> &head,
                   const std::vector<std::uint32_t> &tail, std::uint64_t s, std::uint64_t e)
{
    if (e < s + 3)
        return false;
    const std::uint64_t last = e - 3;
    // Wholly in the head: i + 3 <= cut.
    const auto h = std::lower_bound(head.begin(), head.end(), s);
    if (h != head.end() && *h <= last && *h + 3 <= b.cut)
        return true;
    // Wholly in the tail: i >= cut.
    const auto t = std::lower_bound(tail.begin(), tail.end(), std::max(s, b.cut));
    if (t != tail.end() && *t <= last)
        return true;
    // Across the cut.
    for (std::uint64_t i = b.cut >= 2 ? b.cut - 2 : 0; i < b.cut && i <= last; ++i)
        if (i >= s && b.at(i) == 0 && b.at(i + 1) == 0 && b.at(i + 2) <= 2)
            return true;
    return false;
}

}  // namespace

bool samples_hold(VideoCodec codec, const ChunkBytes &b, const std::vector<std::uint32_t> &sizes,
                  const std::vector<std::uint32_t> &head_marks, const std::vector<std::uint32_t> &tail_marks)
{
    const NalSyntax nal(codec);
    std::uint64_t p = 0;
    for (const std::uint32_t size : sizes) {
        const std::uint64_t end = p + size;
        if (size == 0 || end > b.length)
            return false;
        while (p < end) {
            if (end - p < 4 + nal.header_bytes())
                return false;
            const std::uint64_t n = std::uint64_t(b.at(p)) << 24 | std::uint64_t(b.at(p + 1)) << 16
                                    | std::uint64_t(b.at(p + 2)) << 8 | b.at(p + 3);
            if (n < nal.header_bytes() || n > end - p - 4)
                return false;
            if (!nal.header_valid(b.at(p + 4), nal.header_bytes() == 2 ? b.at(p + 5) : 0))
                return false;
            if (escape_within(b, head_marks, tail_marks, p + 4, p + 4 + n))
                return false;
            p += 4 + n;
        }
    }
    return !sizes.empty();
}

namespace {

// Distinct byte values in bytes [from, to) of the chunk.
unsigned distinct_values(const ChunkBytes &b, std::uint64_t from, std::uint64_t to)
{
    bool seen[256] = {};
    unsigned n = 0;
    for (std::uint64_t i = from; i < to && n < 256; ++i) {
        const unsigned char v = b.at(i);
        n += !seen[v];
        seen[v] = true;
    }
    return n;
}

// Random data of CODED_SPAN bytes lacks fewer than one value in 10^13.
constexpr unsigned CODED_VALUES = 200;

}  // namespace

bool slices_look_coded(VideoCodec codec, const ChunkBytes &b, const std::vector<std::uint32_t> &sizes,
                       std::uint64_t grid, std::uint64_t cluster)
{
    const NalSyntax nal(codec);
    std::uint64_t p = 0;
    for (const std::uint32_t size : sizes) {
        const std::uint64_t end = std::min<std::uint64_t>(p + size, b.length);
        while (p + 4 + nal.header_bytes() <= end) {
            const std::uint64_t n = std::uint64_t(b.at(p)) << 24 | std::uint64_t(b.at(p + 1)) << 16
                                    | std::uint64_t(b.at(p + 2)) << 8 | b.at(p + 3);
            const unsigned type = nal.type(b.at(p + 4));
            const std::uint64_t from = p + 4 + nal.header_bytes(), to = std::min(p + 4 + n, end);
            if (nal.is_slice(type) && to > from) {
                // The cluster cells of the card that the slice covers.
                std::uint64_t cell = from < grid ? 0 : grid + (from - grid) / cluster * cluster;
                while (cell < to) {
                    const std::uint64_t next = cell < grid ? grid : cell + cluster;
                    const std::uint64_t lo = std::max(cell, from), hi = std::min(next, to);
                    if (hi >= lo + CODED_SPAN && distinct_values(b, lo, hi) < CODED_VALUES)
                        return false;
                    cell = next;
                }
            }
            p += 4 + n;
        }
        p = end;
    }
    return true;
}

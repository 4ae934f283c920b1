#include "scan/mpf_index.h"

namespace {

constexpr std::uint16_t TAG_MP_ENTRY = 0xB002;
constexpr std::uint16_t TYPE_UNDEFINED = 7;
constexpr std::uint64_t ENTRY_SIZE = 16;  // attribute, size, offset, two dependent entries
constexpr std::uint64_t IFD_ENTRY_SIZE = 12;

// Reads numbers inside the MP header only, in its byte order.
struct MpHeader {
    const unsigned char *p;
    std::uint64_t len;
    bool little;

    bool has(std::uint64_t at, std::uint64_t n) const { return at <= len && n <= len - at; }
    std::uint32_t u16(std::uint64_t at) const
    {
        return little ? p[at] | p[at + 1] << 8 : p[at] << 8 | p[at + 1];
    }
    std::uint32_t u32(std::uint64_t at) const
    {
        return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    }
};

}  // namespace

std::uint64_t mpf_listed_end(const unsigned char *head, std::uint64_t head_len, std::uint64_t header_at,
                             std::uint64_t header_len)
{
    if (header_at > head_len || header_len > head_len - header_at || header_len < 8)
        return 0;
    MpHeader h{head + header_at, header_len, false};
    if (h.p[0] == 'I' && h.p[1] == 'I')
        h.little = true;
    else if (h.p[0] != 'M' || h.p[1] != 'M')
        return 0;
    if (h.u16(2) != 0x2A)
        return 0;

    const std::uint64_t ifd = h.u32(4);
    if (!h.has(ifd, 2))
        return 0;
    const std::uint64_t fields = h.u16(ifd);
    std::uint64_t listed_end = 0;
    for (std::uint64_t k = 0; k < fields && h.has(ifd + 2 + k * IFD_ENTRY_SIZE, IFD_ENTRY_SIZE); ++k) {
        const std::uint64_t field = ifd + 2 + k * IFD_ENTRY_SIZE;
        if (h.u16(field) != TAG_MP_ENTRY || h.u16(field + 2) != TYPE_UNDEFINED)
            continue;
        const std::uint64_t count = h.u32(field + 4);
        const std::uint64_t values = h.u32(field + 8);
        if (count < ENTRY_SIZE || !h.has(values, count))
            continue;
        for (std::uint64_t e = values; e + ENTRY_SIZE <= values + count; e += ENTRY_SIZE) {
            const std::uint64_t size = h.u32(e + 4);
            const std::uint64_t offset = h.u32(e + 8);
            if (offset == 0)  // the first image, the one that holds this index
                continue;
            const std::uint64_t start = header_at + offset;
            const std::uint64_t end = start + size;
            if (size < 4 || end > head_len)
                continue;
            if (head[start] == 0xFF && head[start + 1] == 0xD8 && head[end - 2] == 0xFF && head[end - 1] == 0xD9
                && end > listed_end)
                listed_end = end;
        }
    }
    return listed_end;
}

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

void mpf_listed_images(const unsigned char *header, std::uint64_t header_len, std::uint64_t header_at,
                       const std::function<void(const MpfImage &)> &each)
{
    if (header_len < 8)
        return;
    MpHeader h{header, header_len, false};
    if (h.p[0] == 'I' && h.p[1] == 'I')
        h.little = true;
    else if (h.p[0] != 'M' || h.p[1] != 'M')
        return;
    if (h.u16(2) != 0x2A)
        return;

    const std::uint64_t ifd = h.u32(4);
    if (!h.has(ifd, 2))
        return;
    const std::uint64_t fields = h.u16(ifd);
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
            // Both at most 2^32 - 1: no sum here can overflow.
            each(MpfImage{header_at + offset, header_at + offset + size});
        }
    }
}

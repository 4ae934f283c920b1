#include "rebuild/mdat_lead.h"

#include "scan/stream_signatures.h"

#include <cstring>

MdatLead find_mdat_lead(const unsigned char *head, std::uint64_t held, std::uint64_t S, std::uint64_t first_chunk,
                        const unsigned char *moov, std::uint64_t moov_size)
{
    MdatLead lead;
    if (first_chunk > held)
        return lead;
    std::uint64_t at = S;
    while (at + 8 <= first_chunk) {
        // Size 1: a 64-bit size follows the type, as a box past 4 GiB has it.
        std::uint64_t size = be32(head + at);
        std::uint32_t header = 8;
        if (size == 1) {
            if (at + 16 > first_chunk)
                return lead;
            size = std::uint64_t(be32(head + at + 8)) << 32 | be32(head + at + 12);
            header = 16;
        }
        const unsigned char *type = head + at + 4;
        if (std::memcmp(type, "mdat", 4) == 0) {
            if (at + header > first_chunk)
                return lead;
            lead.found = true;
            lead.mdat_at = at;
            lead.header = header;
            lead.size = size;
            return lead;
        }
        const bool own_moov = std::memcmp(type, "moov", 4) == 0 && moov && size == moov_size
                              && size <= first_chunk - at && std::memcmp(head + at, moov, moov_size) == 0;
        lead.holds_moov = lead.holds_moov || own_moov;
        const bool skippable = own_moov || std::memcmp(type, "free", 4) == 0 || std::memcmp(type, "skip", 4) == 0
                               || std::memcmp(type, "wide", 4) == 0 || std::memcmp(type, "uuid", 4) == 0;
        // Each box ends before the first chunk, so the walk ends.
        if (!skippable || size < header || size > first_chunk - at)
            return lead;
        at += size;
    }
    return lead;
}

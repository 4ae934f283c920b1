#include "rebuild/mdat_lead.h"

#include "scan/stream_signatures.h"

#include <cstring>

MdatLead find_mdat_lead(const unsigned char *head, std::uint64_t held, std::uint64_t S, std::uint64_t first_chunk)
{
    MdatLead lead;
    if (first_chunk > held)
        return lead;
    std::uint64_t at = S;
    while (at + 8 <= first_chunk) {
        const std::uint64_t size = be32(head + at);
        const unsigned char *type = head + at + 4;
        if (std::memcmp(type, "mdat", 4) == 0) {
            const std::uint32_t header = size == 1 ? 16 : 8;
            if (at + header > first_chunk)
                return lead;
            lead.found = true;
            lead.mdat_at = at;
            lead.header = header;
            return lead;
        }
        const bool skippable = std::memcmp(type, "free", 4) == 0 || std::memcmp(type, "skip", 4) == 0
                               || std::memcmp(type, "wide", 4) == 0 || std::memcmp(type, "uuid", 4) == 0;
        // Each box ends before the first chunk, so the walk ends.
        if (!skippable || size < 8 || size > first_chunk - at)
            return lead;
        at += size;
    }
    return lead;
}

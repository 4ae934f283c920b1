// The bytes of a recorded file between its ftyp box and its first chunk, as
// cameras and muxers write them: "free", "skip", "wide" or "uuid" boxes (and
// the recording's own moov box, when it was written first), then the "mdat"
// header, and perhaps the camera's own data at the start of the mdat
// payload. Copied as they stand, they put the mdat header and so the moov
// box back where the original had them.
#pragma once

#include <cstdint>

struct MdatLead {
    bool found = false;
    std::uint64_t mdat_at = 0;  // offset of the mdat header in the file
    std::uint32_t header = 8;   // 8, or 16 with a 64-bit size
    std::uint64_t size = 0;     // the mdat box's size as its header gives it; 0: to the file's end
    bool holds_moov = false;    // the chain holds the moov box given
};

// Looks in head[0, held), the first bytes of a piece whose ftyp box is S
// bytes long, for that chain of box headers from S on, ending in an mdat
// header whose payload starts at or before `first_chunk`. Nothing is found
// unless first_chunk <= held. A moov box in the chain is passed over only
// when it is, byte for byte, the `moov_size` bytes at `moov`.
MdatLead find_mdat_lead(const unsigned char *head, std::uint64_t held, std::uint64_t S, std::uint64_t first_chunk,
                        const unsigned char *moov = nullptr, std::uint64_t moov_size = 0);

// Which moov box each video is rebuilt with. A box fits a start when the
// box's first chunks are found on the card at the start's position plus the
// box's own chunk offsets: frame starts there or, for a start no box fits
// so (a recording without delimiters has no frame starts), the NAL chains
// of the chunks' video samples walking there. Each piece keeps the box its group's stretch
// gives it (the k-th box found there) when that box fits; a piece whose box
// does not fit takes the best fitting box anywhere on the card that no
// other piece has taken; a box is used once. A piece that no box fits
// keeps its stretch's box as long as no other piece took it.
#pragma once

#include "scan/byte_source.h"

#include <cstdint>
#include <vector>

class CardMap;

struct MoovChoice {
    bool found = false;
    std::size_t box = 0;         // index in the card map's boxes
    std::uint64_t position = 0;  // on the card
    std::uint64_t size = 0;
    bool from_stretch = false;   // the box its group's stretch gives it
    std::uint32_t fit = 0;       // chunks found from the start at the box's offsets
};

// Chunks from the start of a recording that are looked for when a box is
// fitted to a start.
constexpr std::uint32_t FIT_CHUNKS = 8;

// The choice for every video, in file-number order, for the groups of the
// scan tables and the boxes of `map`. Boxes the map holds no copy of are
// read from `source` (null: such boxes are not considered).
std::vector<MoovChoice> pair_moovs(const CardMap &map, ByteSource *source, std::uint64_t end);

// The choices of the scan's videos; made before they are planned.
extern std::vector<MoovChoice> moov_choices;

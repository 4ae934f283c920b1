// Picture order over arbitrary bytes. The first byte picks the codec (bit 0:
// H.265); then records, each a kind byte (bit 0 clear: a parameter set, set:
// a sample), a 3-byte big-endian length and that many bytes, the last cut to
// what is left. Also the bit reader against a plain copy of the payload with
// its emulation-prevention bytes taken out.
#include "rebuild/bit_reader.h"
#include "rebuild/picture_order.h"

#include <cstdlib>
#include <vector>

namespace {

void check_bit_reader(const unsigned char *data, std::size_t size)
{
    size = std::min<std::size_t>(size, 4096);
    std::vector<unsigned char> rbsp;
    unsigned zeros = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (zeros >= 2 && data[i] == 0x03) {
            zeros = 0;
            continue;
        }
        zeros = data[i] == 0 ? zeros + 1 : 0;
        rbsp.push_back(data[i]);
    }
    // Mixed widths, every bit as the copy has it, then failure and zeros.
    BitReader r(data, size);
    std::size_t bit = 0;
    for (unsigned n = 0;; n = (n + 7) % 33) {
        const std::uint32_t v = r.u(n);
        if (bit + n > rbsp.size() * 8) {
            if (!r.failed() || v != 0 || r.u(1) != 0 || r.ue() != 0)
                std::abort();
            break;
        }
        std::uint32_t want = 0;
        for (unsigned i = 0; i < n; ++i, ++bit)
            want = want << 1 | ((rbsp[bit / 8] >> (7 - bit % 8)) & 1u);
        if (r.failed() || v != want)
            std::abort();
    }
    // Exp-Golomb codes run out in as many reads as there are bits at most.
    BitReader g(data, size);
    std::size_t reads = 0;
    while (!g.failed()) {
        (reads % 2 ? static_cast<void>(g.se()) : static_cast<void>(g.ue()));
        if (++reads > rbsp.size() * 8 + 1)
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    if (size == 0)
        return 0;
    check_bit_reader(data + 1, size - 1);

    PictureOrder order((data[0] & 1) ? VideoCodec::H265 : VideoCodec::H264);
    std::vector<PictureOrder::Picture> pictures;
    std::size_t at = 1;
    while (size - at >= 4) {
        const bool sample = data[at] & 1;
        std::size_t length = std::size_t(data[at + 1]) << 16 | std::size_t(data[at + 2]) << 8 | data[at + 3];
        at += 4;
        length = std::min(length, size - at);
        if (sample)
            pictures.push_back(order.next(data + at, length));
        else
            order.add_parameter_set(data + at, length);
        at += length;
    }

    std::uint32_t width = 0, height = 0;
    if (order.picture_size(&width, &height) && (width == 0 || height == 0))
        std::abort();
    // A permutation that keeps each picture between the resets around it.
    const std::vector<std::uint32_t> shown = display_order(pictures);
    if (shown.size() != pictures.size())
        std::abort();
    std::vector<bool> seen(shown.size());
    std::size_t run = 0;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (pictures[i].resets && !pictures[i].key)
            std::abort();
        if (pictures[i].resets)
            run = i;
        if (shown[i] >= shown.size() || seen[shown[i]] || shown[i] < run)
            std::abort();
        seen[shown[i]] = true;
    }
    return 0;
}

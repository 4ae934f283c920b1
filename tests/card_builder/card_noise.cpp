#include "card_builder/card_noise.h"

#include <algorithm>
#include <cstring>

namespace card {

namespace {

// splitmix64 over a counter: any word of the card can be made on its own.
std::uint64_t mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

std::uint64_t noise_word(std::uint64_t key, std::uint64_t index)
{
    // Setting bit 7 and clearing bit 0 of every byte is what keeps the noise
    // clear of every signature (see fill_noise).
    return (mix(key + index * 0xD1B54A32D192ED03ull) | 0x8080808080808080ull) & 0xFEFEFEFEFEFEFEFEull;
}

void store_le(unsigned char *out, std::uint64_t w, std::size_t from, std::size_t to)
{
    for (std::size_t i = from; i < to; ++i)
        out[i - from] = static_cast<unsigned char>(w >> (8 * i));
}

}  // namespace

void fill_noise(unsigned char *buf, std::uint64_t card_pos, std::size_t len, std::uint64_t seed)
{
    const std::uint64_t key = mix(seed);
    std::uint64_t index = card_pos / 8;
    std::size_t skip = static_cast<std::size_t>(card_pos % 8);
    std::size_t done = 0;
    if (skip) {
        const std::size_t n = std::min<std::size_t>(8 - skip, len);
        store_le(buf, noise_word(key, index++), skip, skip + n);
        done = n;
    }
    for (; done + 8 <= len; done += 8) {
        unsigned char bytes[8];
        store_le(bytes, noise_word(key, index++), 0, 8);
        std::memcpy(buf + done, bytes, 8);
    }
    if (done < len)
        store_le(buf + done, noise_word(key, index), 0, len - done);
}

void sprinkle_end_markers(unsigned char *buf, std::uint64_t card_pos, std::size_t len, std::uint64_t seed,
                          const std::vector<std::pair<std::uint64_t, std::uint64_t>> &files)
{
    const std::uint64_t key = mix(seed ^ 0xFFD9FFD9FFD9FFD9ull);
    const std::uint64_t end = card_pos + len;
    for (std::uint64_t block = card_pos / END_MARKER_SPACING; block * END_MARKER_SPACING < end; ++block) {
        const std::uint64_t at = block * END_MARKER_SPACING + mix(key + block) % (END_MARKER_SPACING - 1);
        if (at < card_pos || at + 2 > end)
            continue;
        bool touches_file = false;
        for (const auto &f : files)
            touches_file = touches_file || (at < f.second && at + 2 > f.first);
        if (touches_file)
            continue;
        buf[at - card_pos] = 0xFF;
        buf[at - card_pos + 1] = 0xD9;
    }
}

}  // namespace card

// A bit reader over the payload of one NAL unit, as its headers are read:
// the emulation-prevention byte of every 00 00 03 is dropped as the bytes
// are taken, so the reader sees the raw byte sequence payload without a
// copy. Nothing is read past `size`: a read beyond the end, or an
// Exp-Golomb code of more than 31 leading zeros, sets failed() and gives 0,
// and every later read gives 0 too, so a parser may read on and check once.
#pragma once

#include <cstddef>
#include <cstdint>

class BitReader
{
public:
    BitReader(const unsigned char *data, std::size_t size) : m_data(data), m_size(size) {}

    // n bits, most significant first; n is 0 to 32.
    std::uint32_t u(unsigned n);
    bool flag() { return u(1) != 0; }
    // Exp-Golomb codes: ue(v) of up to 31 leading zeros, se(v) from it.
    std::uint32_t ue();
    std::int32_t se();
    // Skips n bits, without a limit on n other than the payload's end.
    void skip(std::uint64_t n);

    bool failed() const { return m_failed; }

private:
    const unsigned char *m_data;
    std::size_t m_size;
    std::size_t m_next = 0;  // next byte of `data` to take
    unsigned m_zeros = 0;    // zero bytes just taken, for the 00 00 03 rule
    std::uint32_t m_byte = 0;
    unsigned m_left = 0;  // bits of m_byte not yet read
    bool m_failed = false;

    bool next_byte();
    unsigned bit();
};

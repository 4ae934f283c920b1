// How a stretch of the source is cut into reads: 16 MiB chunks, and a last
// chunk rounded up to whole 32 KiB units, one unit more when the remainder is
// already whole (so a chunk may reach up to 32 KiB past the stretch).
#pragma once

#include "scan/byte_source.h"
#include "scan/scan_tables.h"

#include <cstdint>

constexpr std::uint64_t CHUNK_SIZE = READ_BUF_SIZE;

// Size of the next read, given the bytes that remain of the stretch.
constexpr std::uint64_t chunk_size_for(std::uint64_t remaining)
{
    return remaining < CHUNK_SIZE ? (remaining / UNIT + 1) * UNIT : CHUNK_SIZE;
}

// Bytes that reading a stretch of `len` bytes in such chunks reads.
constexpr std::uint64_t read_length_for(std::uint64_t len)
{
    const std::uint64_t rest = len % CHUNK_SIZE;
    return len - rest + (rest != 0 ? chunk_size_for(rest) : 0);
}

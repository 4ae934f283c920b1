// The time a scan's reading still needs, from the rate measured so far.
#pragma once

#include <QString>
#include <cstdint>

// "1:05" for the `size - done` bytes left at the rate of `done` bytes in
// `elapsed_ms`; "h:mm:ss" beyond an hour; empty until a rate is known.
QString time_remaining(std::uint64_t done, std::uint64_t size, std::int64_t elapsed_ms);

// Byte counts and positions in the builder's JSON files.
#pragma once

#include <QJsonValue>
#include <cstdint>

namespace card {

// A whole, non-negative number below 2^53 (exact in JSON), or a string such
// as "1048576", "32K", "2M" or "1G" (binary multiples). False for anything else.
bool json_u64(const QJsonValue &value, std::uint64_t *out);

}  // namespace card

#include "app/time_remaining.h"

namespace {

// Below this the first chunk's read says more about the cache than the card.
constexpr std::int64_t SETTLE_MS = 1000;

}  // namespace

QString time_remaining(std::uint64_t done, std::uint64_t size, std::int64_t elapsed_ms)
{
    if (done == 0 || elapsed_ms < SETTLE_MS)
        return QString();
    const std::uint64_t left = done >= size ? 0 : size - done;
    // seconds = left / (done / elapsed): in doubles, the product of two
    // byte counts would not fit.
    const double seconds_left = double(left) * double(elapsed_ms) / double(done) / 1000.0;
    // A rate near zero would promise years: 99 hours say enough.
    const std::uint64_t s = seconds_left > 359999 ? 359999 : std::uint64_t(seconds_left + 0.5);
    const QString ss = QStringLiteral("%1").arg(s % 60, 2, 10, QLatin1Char('0'));
    if (s < 3600)
        return QStringLiteral("%1:%2").arg(s / 60).arg(ss);
    return QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(ss);
}

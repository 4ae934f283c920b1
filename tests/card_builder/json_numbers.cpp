#include "card_builder/json_numbers.h"

#include <QString>
#include <cmath>

namespace card {

namespace {
constexpr double EXACT_LIMIT = 9007199254740992.0;  // 2^53
}

bool json_u64(const QJsonValue &value, std::uint64_t *out)
{
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (!(d >= 0 && d < EXACT_LIMIT) || std::floor(d) != d)
            return false;
        *out = static_cast<std::uint64_t>(d);
        return true;
    }
    if (!value.isString())
        return false;
    QString text = value.toString().trimmed();
    int shift = 0;
    if (text.endsWith(QLatin1Char('K'))) shift = 10;
    else if (text.endsWith(QLatin1Char('M'))) shift = 20;
    else if (text.endsWith(QLatin1Char('G'))) shift = 30;
    if (shift)
        text.chop(1);
    bool ok = false;
    const qulonglong n = text.toULongLong(&ok);
    if (!ok || n >= (qulonglong(1) << (53 - shift)))
        return false;
    *out = std::uint64_t(n) << shift;
    return true;
}

}  // namespace card

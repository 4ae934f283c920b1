#include "drives/natural_order.h"

namespace {

bool is_ascii_digit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Ends the digit run at `i`, returning its start past leading zeros.
int digit_run(const QString &s, int *i)
{
    int start = *i;
    while (*i < s.size() && is_ascii_digit(s[*i]))
        ++*i;
    while (start < *i - 1 && s[start] == QLatin1Char('0'))
        ++start;
    return start;
}

} // namespace

bool natural_less(const QString &a, const QString &b)
{
    int i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (is_ascii_digit(a[i]) && is_ascii_digit(b[j])) {
            const int sa = digit_run(a, &i);
            const int sb = digit_run(b, &j);
            const int la = i - sa, lb = j - sb;
            if (la != lb)
                return la < lb;
            const int order = QStringRef(&a, sa, la).compare(QStringRef(&b, sb, lb));
            if (order != 0)
                return order < 0;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    if ((i == a.size()) != (j == b.size()))
        return i == a.size();
    return a < b;  // equal but for leading zeros: keep the order strict
}

#include "app/recovery_summary.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

QString tr(const char *text, int n = -1)
{
    return QCoreApplication::translate("MainWindow", text, nullptr, n);
}

int total(const QMap<QString, int> &counts)
{
    int sum = 0;
    for (int n : counts)
        sum += n;
    return sum;
}

// "1 intact, 1 partial": the usual words first, any others after them.
QString by_verdict(const QMap<QString, int> &counts)
{
    QStringList parts;
    const QStringList usual{QStringLiteral("intact"), QStringLiteral("partial"), QStringLiteral("empty")};
    for (const QString &word : usual)
        if (counts.value(word) > 0)
            parts << QStringLiteral("%1 %2").arg(counts.value(word)).arg(word);
    for (auto it = counts.begin(); it != counts.end(); ++it)
        if (!usual.contains(it.key()) && it.value() > 0)
            parts << QStringLiteral("%1 %2").arg(it.value()).arg(it.key());
    return parts.join(QStringLiteral(", "));
}

}  // namespace

QString recovery_summary(const RecoveryTally &tally, const QString &folder)
{
    const int videos = total(tally.videos), photos = total(tally.photos);
    QStringList lines;
    if (tally.failed > 0)
        lines << tr("%n file(s) could not be written completely into %1: %2", tally.failed)
                         .arg(folder, tally.first_error);
    else
        lines << tr("Finished: %1 and %2 written into %3.")
                         .arg(videos == 1 ? tr("1 video") : tr("%1 videos").arg(videos),
                              photos == 1 ? tr("1 photo") : tr("%1 photos").arg(photos), folder);
    if (videos > 0)
        lines << tr("Videos: %1.").arg(by_verdict(tally.videos));
    if (photos > 0)
        lines << tr("Photos: %1.").arg(by_verdict(tally.photos));
    const int partial = tally.videos.value(QStringLiteral("partial")) + tally.photos.value(QStringLiteral("partial"));
    const int empty = tally.videos.value(QStringLiteral("empty")) + tally.photos.value(QStringLiteral("empty"));
    if (partial > 0)
        lines << tr("A partial file lacks parts that were not found on the card.");
    if (empty > 0)
        lines << tr("An empty file holds nothing of what it was: none of it was found on the card.");
    if (tally.unreadable > 0)
        lines << tr("%1 bytes of the card could not be read; they were written as zeros.").arg(tally.unreadable);
    return lines.join(QLatin1Char('\n'));
}

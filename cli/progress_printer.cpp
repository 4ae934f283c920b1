#include "cli/progress_printer.h"

#include "scan/scan_progress.h"

#include <cstdio>
#include <unistd.h>

ProgressPrinter::ProgressPrinter() : m_terminal(isatty(STDERR_FILENO) == 1) {}

void ProgressPrinter::code(int value, std::uint32_t videos, std::uint32_t photos)
{
    if (value == CODE_SCAN_DONE)
        return;
    if (value >= CODE_PHOTO_THUMB)
        show(QStringLiteral("photo thumbnails"), photos ? int((value - CODE_PHOTO_THUMB + 1) * 100 / photos) : 100);
    else if (value >= CODE_VIDEO_THUMBS)
        show(QStringLiteral("video thumbnails"),
             videos ? int((value - CODE_VIDEO_THUMBS) * 100 / videos) : 100);
    else if (value <= CODE_READING_DONE)
        show(QStringLiteral("reading"), value * 2);
    else
        show(QStringLiteral("rebuilding videos"), (value - 50) * 2);
}

void ProgressPrinter::show(const QString &phase, int percent)
{
    percent = qBound(0, percent, 100);
    const bool new_phase = phase != m_phase;
    if (m_terminal) {
        if (!new_phase && percent == m_percent)
            return;
        if (new_phase && !m_phase.isEmpty())
            std::fputc('\n', stderr);
        const int filled = percent * 30 / 100;
        std::fprintf(stderr, "\r%-18s [%s%s] %3d%%", qPrintable(phase), qPrintable(QString(filled, QLatin1Char('#'))),
                     qPrintable(QString(30 - filled, QLatin1Char(' '))), percent);
    } else {
        if (!new_phase && percent / 10 == m_percent / 10)
            return;
        std::fprintf(stderr, "%s %d%%\n", qPrintable(phase), percent);
    }
    std::fflush(stderr);
    m_phase = phase;
    m_percent = percent;
}

void ProgressPrinter::finish()
{
    if (m_terminal && !m_phase.isEmpty())
        std::fputc('\n', stderr);
    std::fflush(stderr);
}

// Turns the scan thread's codes into progress on stderr: a bar that redraws
// itself on a terminal, plain lines (one per change of phase or tenth)
// otherwise.
#pragma once

#include <QString>
#include <cstdint>

class ProgressPrinter
{
public:
    ProgressPrinter();
    void code(int value, std::uint32_t videos, std::uint32_t photos);
    void finish();

private:
    void show(const QString &phase, int percent);
    bool m_terminal;
    QString m_phase;
    int m_percent = -1;
};

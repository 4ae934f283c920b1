// What `tessaro-cli scan` prints once the scan thread has finished.
#pragma once

#include <QString>
#include <cstdint>

// What a command cost: bytes read from the source since it started, and the
// process's peak resident memory.
struct CommandCost {
    std::uint64_t source_bytes_read;
    std::uint64_t peak_memory_bytes;
};

QString scan_report_json(const QString &source, std::uint64_t size, const CommandCost &cost);
QString scan_report_text(const QString &source, std::uint64_t size, const QString &work_dir, bool work_kept,
                         const CommandCost &cost);

// "N bytes (R times the source)": the ratio is what tells whether a run read the
// card more than once.
QString bytes_of_source(std::uint64_t bytes, std::uint64_t size);

// What `tessaro-cli scan` prints once the scan thread has finished.
#pragma once

#include <QString>
#include <cstdint>

QString scan_report_json(const QString &source, std::uint64_t size);
QString scan_report_text(const QString &source, std::uint64_t size, const QString &work_dir, bool work_kept);

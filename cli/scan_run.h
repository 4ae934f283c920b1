// Runs the scan thread on the chosen source inside the tool's event loop.
#pragma once

#include <QString>
#include <cstdint>

// False with the reason when the source could not be opened.
bool run_scan(QString *failure);

// The process's peak resident memory so far, in bytes.
std::uint64_t peak_memory_bytes();

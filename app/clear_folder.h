// Emptying the work folder at start-up.
#pragma once

#include <QString>

// Removes every file in `path` and, recursively, in its subfolders; the
// folders stay. Symbolic links are not followed. Failures are ignored.
void clear_folder(const QString &path);

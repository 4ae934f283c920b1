// Where a recovery writes: KorvoRecoverFile in the chosen folder, or, when
// that holds an earlier recovery the user keeps, a new folder beside it.
#pragma once

#include <QString>

// Whether `dir` exists and holds anything.
bool holds_files(const QString &dir);

// `dir` + "-2", "-3", ...: the first that does not exist yet.
QString next_free_folder(const QString &dir);

// Makes a command-line SOURCE the scan source, as the window would: a listed
// drive by its /dev path selects that row; anything else (another block
// device or an image file) becomes the loaded image, its size taken from the
// device or the file.
#pragma once

#include <QString>

// False with the reason when the source's size cannot be told.
bool choose_source(const QString &source, QString *error);

// "cannot open SOURCE: REASON" on stderr; for a block device the user may
// not read directly, what is left to do once udisks2 did not open it.
void report_cannot_open(const QString &source, const QString &reason);

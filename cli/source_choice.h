// Makes a command-line SOURCE the scan source, as the window would: a listed
// drive by its /dev path selects that row; anything else (another block
// device or an image file) becomes the loaded image, its size taken from the
// device or the file.
#pragma once

#include <QString>

// False with the reason when the source's size cannot be told.
bool choose_source(const QString &source, QString *error);

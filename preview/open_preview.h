// How the main window opens a preview of a found video.
#pragma once

#include <QString>
#include <functional>

class QWidget;
class Recovery;

// A modal message with one OK button (title, text); returns when closed.
using PreviewMessage = std::function<void(QWidget *parent, const QString &title, const QString &text)>;

// The work copy of video `file_number`: temp_dir + n + ".mp4".
QString preview_file(int file_number);

// Opens a top-level preview window playing video `file_number`'s work copy
// and returns it; the window deletes itself when closed or when the
// program quits, so keep it in a QPointer; it does not keep the program
// running once the main window has closed. A missing file gives a window without a picture. When libvlc
// cannot start, shows an "Information" message over `message_parent` saying
// why (through `information`, QMessageBox by default) and returns nullptr.
Recovery *open_preview(int file_number, QWidget *message_parent, const PreviewMessage &information = {});

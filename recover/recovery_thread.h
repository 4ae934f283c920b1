// The recovery: every video the scan found, rebuilt in full, and every photo,
// written into save_dir, in the scan's order and with the scan's numbers.
#pragma once

#include <QString>
#include <QThread>

class savefile_new : public QThread
{
    Q_OBJECT
public:
    using QThread::QThread;

signals:
    // Running count of video files handled so far (1 .. video_total).
    void UpdateSignal_rec(int written);
    // Each file once it is closed, just before fileWritten: what it holds of
    // the recording or photo, "intact", "partial" or "empty"
    // (file_verdict.h); for a video the chunks located of the chunks its
    // index lists, for a photo -1 and -1.
    void fileJudged(const QString &name, const QString &verdict, int located, int chunks);
    // Each file once it is closed: its name, whether it was written whole,
    // and why not.
    void fileWritten(const QString &name, bool complete, const QString &error);
    // The one end notice, after the last video and photo. `failed_files`
    // counts the files that could not be written completely, with the
    // first reason; `unreadable_bytes` what of the card could not be read.
    void recoveryFinished(int failed_files, const QString &first_error, qulonglong unreadable_bytes);

protected:
    void run() override;
};

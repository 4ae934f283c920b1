// The recovery: every video the scan found, rebuilt in full, and every photo,
// written into save_dir, in the scan's order and with the scan's numbers; or
// only the files the user chose, with their own numbers.
#pragma once

#include <QString>
#include <QThread>
#include <vector>

// What a recovery writes: everything, or the videos and photos named by
// their scan numbers (numbers the scan did not find are passed over).
struct RecoveryChoice {
    bool everything = true;
    std::vector<int> videos;
    std::vector<int> photos;

    static RecoveryChoice only(std::vector<int> videos, std::vector<int> photos);
    // The chosen numbers below `count`, ascending, each once.
    std::vector<int> videos_below(std::uint32_t count) const;
    std::vector<int> photos_below(std::uint32_t count) const;
};

class savefile_new : public QThread
{
    Q_OBJECT
public:
    using QThread::QThread;

    // Before start(); everything unless told otherwise.
    void setChoice(const RecoveryChoice &choice) { m_choice = choice; }
    const RecoveryChoice &choice() const { return m_choice; }

signals:
    // Running count of video files handled so far (1 .. the videos chosen).
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

private:
    RecoveryChoice m_choice;
};

// What the window tests share: seams that record what the window asks and
// answer in place of the user, fake drive records, and captured debug lines.
#pragma once

#include "app/window_seams.h"
#include "drives/drive_table.h"

#include <QDir>
#include <QtWidgets>
#include <QStringList>
#include <QUrl>
#include <QtGlobal>
#include <cstring>
#include <vector>

class WindowHarness
{
public:
    // The answers the "user" gives; an empty text is a cancelled dialog.
    QString openAnswer;
    QString saveAnswer;
    QString folderAnswer;
    // What enumerating the drives finds now.
    std::vector<DiskInfo> drives;

    // The answer given to each question, by its index; -1 closes the box.
    int choiceAnswer = 0;
    qint64 now = 0;            // the steady clock, in milliseconds
    QStringList questions;     // texts of the questions asked
    QList<QStringList> answers;  // the answers each offered

    QStringList messages;      // texts of the information boxes
    QStringList titles;        // their titles
    QStringList captions;      // captions of the dialogs asked
    QList<QUrl> urls;          // pages opened
    int enumerations = 0;

    WindowSeams seams()
    {
        WindowSeams s;
        s.openFileName = [this](QWidget *, const QString &caption, const QString &, const QString &) {
            captions << caption;
            return openAnswer;
        };
        s.saveFileName = [this](QWidget *, const QString &caption, const QString &, const QString &) {
            captions << caption;
            return saveAnswer;
        };
        s.existingDirectory = [this](QWidget *, const QString &caption, const QString &) {
            captions << caption;
            return folderAnswer;
        };
        s.openUrl = [this](const QUrl &url) {
            urls << url;
            return true;
        };
        s.information = [this](QWidget *, const QString &title, const QString &text) {
            titles << title;
            messages << text;
        };
        s.choose = [this](QWidget *, const QString &title, const QString &text, const QStringList &offered) {
            titles << title;
            questions << text;
            answers << offered;
            return choiceAnswer;
        };
        s.clock = [this] { return now; };
        s.enumerateDrives = [this](DiskInfo *table) {
            ++enumerations;
            std::memset(table, 0, sizeof(DiskInfo) * DISK_SLOTS);
            const int count = static_cast<int>(qMin<size_t>(drives.size(), DISK_SLOTS));
            for (int i = 0; i < count; ++i)
                table[i] = drives[static_cast<size_t>(i)];
            return count;
        };
        return s;
    }
};

// A drive record as the enumeration fills it; the scan source is /dev/`device`.
inline DiskInfo fake_drive(const char *device, const char *label, std::uint64_t size)
{
    DiskInfo d;
    std::memset(&d, 0, sizeof d);
    qstrncpy(d.device, device, sizeof d.device);
    qstrncpy(d.volume_name, label, sizeof d.volume_name);
    qstrncpy(d.fs_name, "vfat", sizeof d.fs_name);
    qstrncpy(d.free_text, qPrintable(gigabyte_text(size / 2)), sizeof d.free_text);
    qstrncpy(d.total_text, qPrintable(gigabyte_text(size)), sizeof d.total_text);
    d.total_size = size;
    d.sector_size = 512;
    return d;
}

// Debug lines written while an object of this class lives.
class DebugLines
{
public:
    DebugLines() { s_lines().clear(); s_previous() = qInstallMessageHandler(&DebugLines::record); }
    ~DebugLines() { qInstallMessageHandler(s_previous()); }
    QStringList lines() const { return s_lines(); }

private:
    static void record(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        if (type == QtDebugMsg)
            s_lines() << text;
    }
    static QStringList &s_lines() { static QStringList l; return l; }
    static QtMessageHandler &s_previous() { static QtMessageHandler h = nullptr; return h; }
};

// The one notice at the end of a recovery: how many videos and photos were
// written where, and what each holds of what it was.
#pragma once

#include <QMap>
#include <QString>

struct RecoveryTally {
    // Files by verdict word ("intact", "partial", "empty", ...).
    QMap<QString, int> videos;
    QMap<QString, int> photos;
    int failed = 0;             // files not written completely
    QString first_error;
    quint64 unreadable = 0;     // bytes of the card taken as zeros

    void count(const QString &verdict, bool video) { ++(video ? videos : photos)[verdict]; }
};

QString recovery_summary(const RecoveryTally &tally, const QString &folder);

// Grouping of the reading phase's finds into video groups, their order and
// the number of videos they give.
#include "scan/grouping.h"
#include "scan/scan_tables.h"

#include <QtTest>

namespace {

// Fills start_list from a string of kinds ("1221"), the entry at index i
// standing at position i x 32 KiB, and qt_list with `qts` starts after them.
void load(const QString &kinds, int qts)
{
    scan_reset();
    std::uint32_t n = 0;
    for (const QChar c : kinds)
        append_start(n, std::uint64_t(n) * 32768, c == QLatin1Char('1') ? KIND_MARKER_PHOTO : KIND_VIDEO);
    start_num = n;
    std::uint32_t q = 0;
    for (int j = 0; j < qts; ++j)
        append_qt(q, 100000000ull + std::uint64_t(j) * 32768);
    qt_num = q;
}

// "k:head-pieces-tail" per group, with positions as start_list indexes
// (QuickTime groups as qt_list indexes), separated by blanks. A start's own
// group is "s", its QuickTime positions "q" + index, the card's end "end".
QString describe()
{
    QStringList out;
    for (std::uint32_t g = 0; g < group_count(); ++g) {
        const VideoGroup &group = group_list[g];
        const int kind = group_kind(g);
        const bool qt = kind == GROUP_QUICKTIME;
        auto index = [&](std::uint64_t pos) {
            if (kind == GROUP_SINGLE && pos == ~std::uint64_t(0))
                return QStringLiteral("end");
            if (kind == GROUP_SINGLE && pos >= 100000000ull)
                return QStringLiteral("q") + QString::number((pos - 100000000ull) / 32768);
            return QString::number(qt ? (pos - 100000000ull) / 32768 : pos / 32768);
        };
        const QString name = kind >= 1                ? QString::number(kind)
                             : qt                     ? QStringLiteral("q")
                             : kind == GROUP_SINGLE   ? QStringLiteral("s")
                                                      : QStringLiteral("t");
        QString s = name + QLatin1Char(':') + index(group.head_pos);
        for (int p = 0; p < group_pieces(g); ++p)
            s += QLatin1Char('-') + index(group.piece_pos[p]);
        out << s + QLatin1Char('-') + index(group.tail_pos);
    }
    return out.join(QLatin1Char(' '));
}

}  // namespace

class TestGrouping : public QObject
{
    Q_OBJECT

private slots:
    void groups_data()
    {
        QTest::addColumn<QString>("kinds");
        QTest::addColumn<int>("qts");
        QTest::addColumn<QString>("groups");
        QTest::addColumn<int>("videos");

        QTest::newRow("one recording") << "121" << 0 << "1:0-1-2" << 1;
        QTest::newRow("the last recording, no marker after it") << "1212" << 0 << "1:0-1-2 s:3-3-end" << 2;
        QTest::newRow("shared middle marker") << "121221" << 0 << "1:0-1-2 2:2-3-4-5" << 3;
        QTest::newRow("kind 1 before kind 2 whatever the position")
                << "122121" << 0 << "1:3-4-5 2:0-1-2-3" << 3;
        QTest::newRow("eight starts") << "1222222221" << 0 << "8:0-1-2-3-4-5-6-7-8-9" << 8;
        QTest::newRow("nine starts") << "12222222221" << 0 << "9:0-1-2-3-4-5-6-7-8-9-10" << 9;
        // More than nine starts between markers form no kind group, so the
        // triples of the run are built instead; its first and last start,
        // pieces of no triple, get their own.
        QTest::newRow("ten starts") << "122222222221" << 0
                                    << "t:1-2-3 t:2-3-4 t:3-4-5 t:4-5-6 t:5-6-7 t:6-7-8 t:7-8-9 t:8-9-10 "
                                       "s:1-1-2 s:10-10-11"
                                    << 10;
        QTest::newRow("ten starts beside a kind group")
                << "121222222222221" << 0
                << "1:0-1-2 s:3-3-4 s:4-4-5 s:5-5-6 s:6-6-7 s:7-7-8 s:8-8-9 s:9-9-10 s:10-10-11 s:11-11-12 s:12-12-13 "
                   "s:13-13-14"
                << 12;
        QTest::newRow("triples without markers") << "2222" << 0 << "t:0-1-2 t:1-2-3 s:0-0-1 s:3-3-end" << 4;
        QTest::newRow("a kind group rules out triples") << "2221121" << 0 << "1:4-5-6 s:0-0-1 s:1-1-2 s:2-2-3" << 4;
        QTest::newRow("markers without video") << "112" << 0 << "s:2-2-end" << 1;
        QTest::newRow("two QuickTime starts") << "" << 2 << "s:q0-q0-q1 s:q1-q1-end" << 2;
        QTest::newRow("three QuickTime starts") << "" << 3 << "q:0-0-1 q:1-1-2 s:q2-q2-end" << 3;
        QTest::newRow("QuickTime groups come last") << "121" << 3 << "1:0-1-2 q:0-0-1 q:1-1-2 s:q2-q2-end" << 4;
        QTest::newRow("nothing") << "" << 0 << "" << 0;
    }

    void groups()
    {
        QFETCH(QString, kinds);
        QFETCH(int, qts);
        QFETCH(QString, groups);
        QFETCH(int, videos);
        load(kinds, qts);
        group_scan();
        QCOMPARE(describe(), groups);
        QCOMPARE(count_videos(), std::uint32_t(videos));
    }

    void groups_grow_with_the_card_up_to_the_ceiling()
    {
        // 2,000 video starts without a marker give 1,998 triples and the
        // first and last start their own groups, all kept.
        load(QString(2000, QLatin1Char('2')), 0);
        group_scan();
        QCOMPARE(triple_num, 1998u);
        QCOMPARE(single_num, 2u);
        QCOMPARE(dropped_finds.groups, std::uint64_t(0));
        QCOMPARE(group_list[1997].tail_pos, std::uint64_t(1999) * 32768);
        QCOMPARE(count_videos(), 2000u);

        // At the memory ceiling the first groups stay as they would be and
        // the rest are counted.
        group_list.set_ceiling(1000);
        load(QString(2000, QLatin1Char('2')), 0);
        group_scan();
        group_list.set_ceiling(GROUP_CEILING);
        // The starts of the dropped triples have no group either, and their
        // own groups are dropped too.
        QCOMPARE(triple_num, 1000u);
        QCOMPARE(dropped_finds.groups, std::uint64_t(998 + 1000));
        QCOMPARE(group_list[999].tail_pos, std::uint64_t(1001) * 32768);
    }
};

QTEST_GUILESS_MAIN(TestGrouping)
#include "test_grouping.moc"

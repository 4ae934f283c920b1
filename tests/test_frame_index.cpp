// The frame index: which found frame a chunk gets, in which order, and what
// happens when the index is full.
#include "rebuild/frame_index.h"

#include <QElapsedTimer>
#include <QtTest>
#include <vector>

namespace {

using Frames = std::vector<std::pair<quint64, quint64>>;  // position, length

void fill(FrameIndex &index, const Frames &frames)
{
    index.Empty();
    for (const auto &f : frames)
        QVERIFY(index.Insert(f.first, f.second));
}

// The positions Find gives for (key, length), taking each out, in turn.
std::vector<quint64> drain(FrameIndex &index, quint64 key, quint64 length)
{
    std::vector<quint64> positions;
    while (const FrameNode *n = index.Find(key, length)) {
        positions.push_back(n->position);
        index.Take(n);
    }
    return positions;
}

}  // namespace

Q_DECLARE_METATYPE(Frames)

class TestFrameIndex : public QObject
{
    Q_OBJECT

private slots:
    void find_data()
    {
        QTest::addColumn<Frames>("frames");
        QTest::addColumn<int>("removes");  // Remove(key, length) calls before the Find
        QTest::addColumn<quint64>("key");
        QTest::addColumn<quint64>("length");
        QTest::addColumn<qint64>("expected");  // position found, -1 for none

        const Frames two{{40960 + 16, 1000}, {81920 + 16, 1000}};
        QTest::newRow("earliest of two") << two << 0 << quint64(16) << quint64(1000) << qint64(40976);
        QTest::newRow("after one remove") << two << 1 << quint64(16) << quint64(1000) << qint64(81936);
        QTest::newRow("after two removes") << two << 2 << quint64(16) << quint64(1000) << qint64(-1);
        QTest::newRow("length differs") << two << 0 << quint64(16) << quint64(999) << qint64(-1);
        QTest::newRow("empty bucket") << two << 0 << quint64(17) << quint64(1000) << qint64(-1);
        QTest::newRow("key selects the bucket only") << two << 0 << quint64(4096 + 16) << quint64(1000)
                                                     << qint64(40976);
        QTest::newRow("same length, other bucket") << Frames{{40960 + 17, 1000}} << 0 << quint64(16)
                                                   << quint64(1000) << qint64(-1);
        QTest::newRow("other lengths passed over")
            << Frames{{16, 5}, {4096 + 16, 1000}, {8192 + 16, 1000}} << 0 << quint64(16) << quint64(1000)
            << qint64(4112);
        QTest::newRow("remove takes the first match only")
            << Frames{{16, 1000}, {4096 + 16, 7}, {8192 + 16, 1000}} << 1 << quint64(16) << quint64(1000)
            << qint64(8208);
        QTest::newRow("equal positions all kept") << Frames{{16, 1000}, {16, 1000}} << 1 << quint64(16)
                                                  << quint64(1000) << qint64(16);
        QTest::newRow("whole 64-bit length") << Frames{{16, (quint64(1) << 32) + 1000}} << 0 << quint64(16)
                                             << quint64(1000) << qint64(-1);
    }

    void find()
    {
        QFETCH(Frames, frames);
        QFETCH(int, removes);
        QFETCH(quint64, key);
        QFETCH(quint64, length);
        QFETCH(qint64, expected);

        FrameIndex index;
        fill(index, frames);
        for (int i = 0; i < removes; ++i)
            index.Remove(key, length);
        const FrameNode *found = index.Find(key, length);
        QCOMPARE(found ? qint64(found->position) : qint64(-1), expected);
        if (found)
            QCOMPARE(found->length, length);
        QCOMPARE(index.size(), quint64(frames.size() - std::min<std::size_t>(removes, frames.size())));
    }

    void empty_forgets_everything()
    {
        FrameIndex index;
        fill(index, {{16, 1000}, {40976, 1000}, {4095, 3}});
        index.Empty();
        QVERIFY(!index.Find(16, 1000));
        QVERIFY(!index.Find(4095, 3));
        QCOMPARE(index.size(), quint64(0));
        QVERIFY(index.Insert(4095, 3));
        QCOMPARE(index.Find(4095, 3)->position, quint64(4095));
    }

    // Frames taken out in any order, and frames entered after a lookup:
    // each (bucket, length) still gives its frames earliest first.
    void order_survives_taking_and_inserting()
    {
        FrameIndex index;
        fill(index, {{16, 7}, {4112, 7}, {8208, 3}, {12304, 7}, {16400, 7}});
        QCOMPARE(index.Find(16, 3)->position, quint64(8208));
        index.Take(index.FindAt(4112));  // the middle of a length
        index.Remove(16, 7);             // the first
        QVERIFY(index.Insert(20496, 7));
        QVERIFY(index.Insert(24592, 3));
        QCOMPARE(drain(index, 16, 7), (std::vector<quint64>{12304, 16400, 20496}));
        QCOMPARE(drain(index, 16, 3), (std::vector<quint64>{8208, 24592}));
        QCOMPARE(index.size(), quint64(0));
    }

    // A card whose frames all fall into one bucket, each of another length
    // or all of one length: every lookup stays a short search, where a walk
    // of the bucket's chain would take minutes.
    void full_bucket_lookups_stay_short_data()
    {
        QTest::addColumn<bool>("one_length");
        QTest::newRow("lengths all different") << false;
        QTest::newRow("one length") << true;
    }

    void full_bucket_lookups_stay_short()
    {
        QFETCH(bool, one_length);
        const quint64 count = 200000;
        FrameIndex index;
        for (quint64 i = 0; i < count; ++i)
            QVERIFY(index.Insert(i * 4096 + 16, one_length ? 4096 : count - i));
        QElapsedTimer t;
        t.start();
        for (quint64 i = 0; i < count; ++i) {
            const quint64 length = one_length ? 4096 : i + 1;
            const FrameNode *n = index.Find(16, length);
            QVERIFY(n);
            QCOMPARE(n->position, (one_length ? i : count - 1 - i) * 4096 + 16);
            QVERIFY(!index.Find(16, count + 1 + i));
            index.Take(n);
        }
        QVERIFY2(t.elapsed() < 3000, qPrintable(QString("%1 ms").arg(t.elapsed())));
        QCOMPARE(index.size(), quint64(0));
    }

    // FindAt walks the card in position order; a frame taken is gone from it.
    void find_at_position()
    {
        FrameIndex index;
        fill(index, {{100, 50}, {150, 70}, {220, 5000}});
        QCOMPARE(index.FindAt(150)->length, quint64(70));
        QVERIFY(!index.FindAt(151));
        index.Take(index.Find(150, 70));
        QVERIFY(!index.FindAt(150));
        QCOMPARE(index.FindAt(220)->length, quint64(5000));
        // Entered out of order, positions tell nothing.
        QVERIFY(index.Insert(10, 1));
        QVERIFY(!index.FindAt(220));
    }

    void tails_match_their_moov_size()
    {
        FrameIndex index;
        index.Empty();
        QVERIFY(index.InsertTail(4096 + 16, 900, 5000));
        QVERIFY(index.InsertTail(8192 + 16, 300, 6000));
        QVERIFY(!index.FindTailAt(4096 + 16, 6000));
        QCOMPARE(index.FindTailAt(8192 + 16, 6000)->length, quint64(300));
        std::vector<quint64> seen;
        index.visit_tails(16, 5000, [&](const FrameNode &t) { seen.push_back(t.position); return true; });
        QCOMPARE(seen, (std::vector<quint64>{4096 + 16}));
        index.TakeTail(index.FindTailAt(4096 + 16, 5000));
        QVERIFY(!index.FindTailAt(4096 + 16, 5000));
        QCOMPARE(index.size(), quint64(0));  // tails are not frames
        index.Empty();
        QVERIFY(!index.FindTailAt(8192 + 16, 6000));
    }

    void full_index_counts_the_excess()
    {
        FrameIndex index(3);
        index.Empty();
        QVERIFY(index.Insert(1, 10));
        QVERIFY(index.Insert(2, 10));
        QVERIFY(index.Insert(3, 10));
        QVERIFY(!index.Insert(4, 10));
        QVERIFY(!index.Insert(5, 10));
        QCOMPARE(index.dropped(), quint64(2));
        QVERIFY(!index.Find(4, 10));
        index.Remove(1, 10);  // a freed node makes room again
        QVERIFY(index.Insert(6, 10));
        QCOMPARE(index.Find(6, 10)->position, quint64(6));
        QCOMPARE(index.size(), quint64(3));
        index.Empty();
        QCOMPARE(index.dropped(), quint64(0));
    }

    // Many more nodes than one allocation block, emptied and filled again.
    void refill_after_many_nodes()
    {
        FrameIndex index;
        for (int round = 0; round < 2; ++round) {
            index.Empty();
            const quint64 count = 300000 + quint64(round);
            for (quint64 i = 0; i < count; ++i)
                QVERIFY(index.Insert(i * 4096 + 7, i));
            QCOMPARE(index.size(), count);
            QCOMPARE(index.Find(7, count - 1)->position, (count - 1) * 4096 + 7);
            QCOMPARE(index.Find(7, 0)->position, quint64(7));
        }
    }
    // Where a recording goes on after a piece: the first frame of the
    // bucket and length at or after the piece's end, else the earliest.
    void find_from()
    {
        FrameIndex index;
        fill(index, {{40960 + 16, 1000}, {81920 + 16, 700}, {81920 + 4096 + 16, 1000}, {163840 + 16, 1000}});
        QCOMPARE(index.FindFrom(16, 1000, 0)->position, quint64(40976));
        QCOMPARE(index.FindFrom(16, 1000, 50000)->position, quint64(86032));
        QCOMPARE(index.FindFrom(16, 1000, 86032)->position, quint64(86032));
        index.Take(index.FindFrom(16, 1000, 86032));
        QCOMPARE(index.FindFrom(16, 1000, 50000)->position, quint64(163856));
        QCOMPARE(index.FindFrom(16, 1000, 200000)->position, quint64(40976));
        QVERIFY(!index.FindFrom(16, 999, 0));
    }
    // The frame start right before a moov box found outside a stretch:
    // taken frames are passed over, within the bounds given.
    void last_before()
    {
        FrameIndex index;
        fill(index, {{1000, 10}, {2000, 10}, {3000, 10}, {4000, 10}});
        QCOMPARE(index.LastBefore(3500, 0, 8)->position, quint64(3000));
        QCOMPARE(index.LastBefore(3000, 0, 8)->position, quint64(2000));
        index.Take(index.FindAt(2000));
        QCOMPARE(index.LastBefore(3000, 0, 8)->position, quint64(1000));
        QVERIFY(!index.LastBefore(3000, 1500, 8));
        QVERIFY(!index.LastBefore(3000, 0, 0));
        QVERIFY(!index.LastBefore(1000, 0, 8));
    }
};

QTEST_APPLESS_MAIN(TestFrameIndex)
#include "test_frame_index.moc"

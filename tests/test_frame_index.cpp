// The frame index: which found frame a chunk gets, in which order, and what
// happens when the index is full.
#include "scan/frame_index.h"

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

std::vector<quint64> chain(const FrameIndex &index, std::uint32_t bucket)
{
    std::vector<quint64> positions;
    for (const FrameNode *n = index.first(bucket); n; n = n->next)
        positions.push_back(n->position);
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

    // Removing the last node of a chain must leave the chain's end right,
    // or the next insert is lost or misplaced.
    void chain_order_survives_removal()
    {
        FrameIndex index;
        fill(index, {{16, 1}, {4112, 2}, {8208, 3}});
        index.Remove(16, 3);  // the tail
        QVERIFY(index.Insert(12304, 4));
        QCOMPARE(chain(index, 16), (std::vector<quint64>{16, 4112, 12304}));
        index.Remove(16, 1);  // the head
        QVERIFY(index.Insert(16400, 5));
        QCOMPARE(chain(index, 16), (std::vector<quint64>{4112, 12304, 16400}));
        index.Remove(16, 2);
        index.Remove(16, 4);
        index.Remove(16, 5);
        QVERIFY(!index.first(16));
        QVERIFY(index.Insert(20496, 6));
        QCOMPARE(chain(index, 16), (std::vector<quint64>{20496}));
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
};

QTEST_APPLESS_MAIN(TestFrameIndex)
#include "test_frame_index.moc"

// Photo lengths and thumbnails.
#include "scan/photo_length.h"
#include "scan/photo_thumbnails.h"
#include "scan/scan_tables.h"
#include "support/temp_image.h"

#include <QBuffer>
#include <QImage>
#include <QtTest>
#include <vector>

class TestPhotos : public QObject
{
    Q_OBJECT

private slots:
    void length_rule_data()
    {
        QTest::addColumn<QVector<int>>("markers");  // offsets of the FF bytes
        QTest::addColumn<qint64>("length");

        QTest::newRow("none") << QVector<int>{} << qint64(0);
        QTest::newRow("one") << QVector<int>{40000} << qint64(40002);
        QTest::newRow("two") << QVector<int>{5000, 9000} << qint64(9002);
        QTest::newRow("three") << QVector<int>{5000, 9000, 2000000} << qint64(2000002);
        QTest::newRow("four") << QVector<int>{5000, 9000, 2000000, 3000000} << qint64(2000002);
        // The D9 on the very last byte of the 4 MiB still ends the photo.
        QTest::newRow("at the very end") << QVector<int>{int(PHOTO_BUF_SIZE) - 2} << qint64(PHOTO_BUF_SIZE);
        QTest::newRow("FF FF D9") << QVector<int>{6999, 7000} << qint64(7002);
    }

    void length_rule()
    {
        QFETCH(QVector<int>, markers);
        QFETCH(qint64, length);
        std::vector<unsigned char> data(PHOTO_BUF_SIZE, 0x11);
        for (int at : markers) {
            data[at] = 0xFF;
            data[at + 1] = 0xD9;
        }
        QCOMPARE(photo_length(data.data(), data.size()), std::uint64_t(length));
    }

    void unreadable_bytes_of_a_photo_read_as_zeros()
    {
        // A photo whose second 32 KiB unit cannot be read: its end marker
        // in the first unit still counts, the bad unit is counted as lost.
        QByteArray card(8 * 32768, '\x11');
        card.replace(0, 4, QByteArray::fromHex("ffd8ffdb"));
        card.replace(1000, 2, QByteArray::fromHex("ffd9"));
        card.replace(40000, 2, QByteArray::fromHex("ffd9"));
        FailingSource source(card, {{32768, 65536}});
        scan_reset();
        photo_num = 1;
        photo_list[0] = PhotoInfo{0, 0};
        QCOMPARE(measure_photo(source, card.size(), 0), std::uint64_t(32768));
        QCOMPARE(photo_list[0].length, std::uint64_t(1002));
    }

    void thumbnail_fits_120_by_90()
    {
        QImage picture(400, 200, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(picture.save(&buffer, "JPEG"));
        QTemporaryDir dir;
        const QString png = dir.filePath(QStringLiteral("ab12.png"));

        QVERIFY(save_photo_thumbnail(reinterpret_cast<const unsigned char *>(jpeg.constData()), jpeg.size(), png));
        const QImage thumb(png);
        QCOMPARE(thumb.size(), QSize(120, 60));
        QVERIFY(!save_photo_thumbnail(reinterpret_cast<const unsigned char *>(jpeg.constData()), 0, png + "x"));
        QVERIFY(!QFile::exists(png + "x"));
    }
};

QTEST_GUILESS_MAIN(TestPhotos)
#include "test_photos.moc"

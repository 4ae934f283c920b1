// The rebuild's rules for what the one-frame-per-chunk rule loses: the last
// chunk before its moov box, chunks of several frames, the recording's own
// bytes before the first chunk, and a frame split by a cluster boundary;
// and the bounds of the moov parsing and the sample checks they rely on.
#include "rebuild/frame_index.h"
#include "rebuild/region_analysis.h"
#include "rebuild/sample_check.h"
#include "rebuild/video_track.h"
#include "recover/video_rebuild.h"
#include "scan/scan_tables.h"

#include <QtTest>
#include <cstring>
#include <vector>

namespace {

constexpr int KIB = 1024;
constexpr int MIB = 1024 * KIB;
constexpr quint32 CLUSTER = 32768;

using Sizes = std::vector<int>;

QByteArray be32(quint32 v)
{
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(b, 4);
}

QByteArray box(const char *type, const QByteArray &payload)
{
    return be32(quint32(8 + payload.size())) + type + payload;
}

// Bytes that never hold a zero, so no start signature and no escape, and
// use every other value: they look like coded slice data.
QByteArray coded(int len, int salt)
{
    QByteArray b(len, '\0');
    quint32 x = 2463534242u + quint32(salt) * 7919u;
    for (char &c : b) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        c = char(1 + x % 255);
    }
    return b;
}

// A video sample as a camera writes it: an access-unit delimiter, then one
// slice NAL unit (IDR when `key`) filling the rest.
QByteArray sample(int size, int salt, bool key = false)
{
    QByteArray s("\x00\x00\x00\x02\x09\xf0", 6);
    s += be32(quint32(size - 10)) + char(key ? 0x65 : 0x41) + coded(size - 11, salt);
    return s;
}

// A recorded file: ftyp, `lead` (the bytes after it up to the first chunk,
// ending in an mdat header or not), chunks of `per_chunk` samples each
// followed by `audio` bytes of another track, and a moov box whose video
// track tells it all; `audio_first` puts a sound track before it.
struct Recording {
    QByteArray file;
    QByteArray moov;
    std::vector<quint32> offsets;
    qint64 mdat_at = -1;
};

Recording record(const Sizes &sizes, int per_chunk, const QByteArray &lead, int audio = 0, bool audio_first = false,
                 int key_every = 0)
{
    Recording r;
    const QByteArray ftyp = box("ftyp", QByteArray("mp42\0\0\0\0mp42isom", 16));
    r.file = ftyp + lead;
    r.mdat_at = r.file.lastIndexOf("mdat") - 4;
    QByteArray stsz = be32(0) + be32(0) + be32(quint32(sizes.size()));
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        if (int(i) % per_chunk == 0) {
            if (i != 0)
                r.file += coded(audio, int(i) + 5000);
            r.offsets.push_back(quint32(r.file.size()));
        }
        r.file += sample(sizes[i], int(i), key_every && int(i) % key_every == 0);
        stsz += be32(quint32(sizes[i]));
    }
    r.file += coded(audio, 9999);
    QByteArray stco = be32(0) + be32(quint32(r.offsets.size()));
    for (quint32 o : r.offsets)
        stco += be32(o);
    const QByteArray stsc = be32(0) + be32(1) + be32(1) + be32(quint32(per_chunk)) + be32(1);
    auto trak = [&](const char *handler, const QByteArray &tables) {
        const QByteArray hdlr = box("hdlr", be32(0) + be32(0) + handler + QByteArray(12, '\0') + QByteArray(1, '\0'));
        return box("trak", box("mdia", hdlr + box("minf", box("stbl", tables))));
    };
    const QByteArray video = trak("vide", box("stsc", stsc) + box("stsz", stsz) + box("stco", stco));
    const QByteArray sound = trak("soun", box("stco", be32(0) + be32(1) + be32(7)));
    const QByteArray mvhd = be32(108) + "mvhd" + QByteArray(100, '\0');
    r.moov = box("moov", mvhd + (audio_first ? sound + video : video + sound));
    if (r.mdat_at >= 0 && r.file.mid(int(r.mdat_at) + 4, 4) == "mdat") {
        const QByteArray size = be32(quint32(r.file.size() - r.mdat_at));
        r.file.replace(int(r.mdat_at) + (r.file.mid(int(r.mdat_at), 4) == be32(1) ? 12 : 0), 4, size);
    }
    r.file += r.moov;
    return r;
}

const QByteArray MDAT = be32(0) + "mdat";

struct Card {
    QByteArray image;
    explicit Card(int size) : image(size, '\0') {}
    void put(qint64 at, const QByteArray &b) { image.replace(int(at), b.size(), b); }
    // The file's bytes [from, to) at `at`.
    void put(qint64 at, const Recording &r, qint64 from, qint64 to) { put(at, r.file.mid(int(from), int(to - from))); }
};

struct Rebuilt {
    RebuildResult result;
    QByteArray file;
};

Rebuilt analyse_and_rebuild(const Card &c, quint64 Q, int n, bool short_rebuild = false)
{
    MemorySource s(reinterpret_cast<const unsigned char *>(c.image.constData()), quint64(c.image.size()));
    std::memset(&group_list[0], 0, sizeof group_list[0]);
    analyse_region(s, quint64(c.image.size()), 0, quint64(c.image.size()), 0);
    Rebuilt r;
    r.result = rebuild_video(s, quint64(c.image.size()), n, Q, moov_buf[0], group_list[0].moov_size[0], short_rebuild);
    QFile f(r.result.file_name);
    if (f.open(QIODevice::ReadOnly))
        r.file = f.readAll();
    return r;
}

// Whether sample i of r stands unchanged in `out`, where r has it.
bool sample_exact(const Recording &r, const Sizes &sizes, int per_chunk, int i, const QByteArray &out)
{
    qint64 at = r.offsets[std::size_t(i / per_chunk)];
    for (int k = i / per_chunk * per_chunk; k < i; ++k)
        at += sizes[std::size_t(k)];
    return out.mid(int(at), sizes[std::size_t(i)]) == r.file.mid(int(at), sizes[std::size_t(i)]);
}

}  // namespace

Q_DECLARE_METATYPE(Sizes)

class TestRebuildMends : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void init()
    {
        save_dir = m_dir.path();
        std::memset(fill_buf, 0, sizeof fill_buf);
    }

    // ---- the last chunk ----

    void last_chunk_before_its_moov_data()
    {
        QTest::addColumn<int>("per_chunk");
        QTest::addColumn<int>("edit");
        QTest::addColumn<bool>("tail");
        QTest::newRow("one sample, then the moov box") << 1 << 0 << true;
        QTest::newRow("two samples, then the moov box") << 2 << 0 << true;
        QTest::newRow("moov box of another size after it") << 1 << 1 << false;
        QTest::newRow("last sample damaged") << 1 << 2 << false;
        QTest::newRow("moov box a page after the last chunk") << 1 << 3 << true;
    }

    // The bytes from the last chunk's frame start up to a moov box of the
    // piece's size are the last chunk, when its samples hold; the moov box
    // then follows them where the recording had it. Otherwise the moov box
    // takes the last chunk's place, as the file always had it.
    void last_chunk_before_its_moov()
    {
        QFETCH(int, per_chunk);
        QFETCH(int, edit);
        QFETCH(bool, tail);
        const Sizes sizes{3000, 500, 700, 900, 1100, 400};
        Recording r = record(sizes, per_chunk, MDAT, 300);
        const quint32 last = r.offsets.back();
        Card c(MIB);
        if (edit == 3) {
            // The moov box one page further, after other bytes.
            c.put(65536, r, 0, r.file.size() - r.moov.size());
            c.put(65536 + r.file.size() - r.moov.size() + 4096, r.moov);
        } else {
            c.put(65536, r.file);
        }
        if (edit == 1) {
            // This piece's moov box earlier on the card, another recording's
            // one byte longer where this one's was.
            c.put(8192, r.moov);
            c.put(65536 + r.file.size() - r.moov.size(), be32(quint32(r.moov.size() + 1)));
        }
        if (edit == 2)  // the NAL length of the last sample's slice
            c.put(65536 + last + 6, be32(0x7FFF));
        const Rebuilt out = analyse_and_rebuild(c, 65536, 1);
        QVERIFY2(out.result.written, qPrintable(out.result.error));
        QCOMPARE(out.result.tail, tail);
        const quint32 moov_at = !tail ? last : quint32(r.file.size() - r.moov.size()) + (edit == 3 ? 4096 : 0);
        QCOMPARE(out.file.size(), int(moov_at) + r.moov.size());
        QCOMPARE(out.file.mid(int(moov_at)), r.moov);
        QCOMPARE(out.file.mid(int(r.mdat_at), 4), be32(moov_at - quint32(r.mdat_at)));
        if (edit == 0)
            QVERIFY(out.file == r.file);
        QCOMPARE(sample_exact(r, sizes, per_chunk, int(sizes.size()) - 1, out.file), tail);
    }

    // ---- chunks of several frames ----

    void chunk_of_several_frames_data()
    {
        QTest::addColumn<int>("per_chunk");
        QTest::addColumn<int>("audio");
        QTest::addColumn<bool>("apart");  // the chunk's second frame lies elsewhere
        QTest::newRow("two samples") << 2 << 0 << false;
        QTest::newRow("three samples, audio after them") << 3 << 200 << false;
        QTest::newRow("second frame not next to the first") << 2 << 0 << true;
    }

    void chunk_of_several_frames()
    {
        QFETCH(int, per_chunk);
        QFETCH(int, audio);
        QFETCH(bool, apart);
        Sizes sizes;
        for (int i = 0; i < 12; ++i)
            sizes.push_back(400 + 37 * i);
        const Recording r = record(sizes, per_chunk, MDAT, audio);
        Card c(MIB);
        if (apart) {
            // From chunk 1's second frame on, the recording lies two pages
            // further: the bytes between are not its own.
            const qint64 second = r.offsets[1] + sizes[2];
            c.put(0, r, 0, second);
            c.put(second, QByteArray("\x00\x00\x00\x02\x09", 5));
            c.put(second + 8192, r, second, r.file.size());
        } else {
            c.put(0, r.file);
        }
        const Rebuilt out = analyse_and_rebuild(c, 0, 2);
        const int chunks = int(r.offsets.size());
        QCOMPARE(out.result.runs, quint32(apart ? chunks - 2 : chunks - 1));
        for (int i = 0; i < int(sizes.size()); ++i) {
            const bool lost = apart && i / per_chunk == 1;
            QVERIFY2(sample_exact(r, sizes, per_chunk, i, out.file) == !lost, qPrintable(QString("sample %1").arg(i)));
        }
        if (!apart)
            QVERIFY(out.file == r.file);
    }

    // ---- the bytes before the first chunk ----

    void bytes_before_the_first_chunk_data()
    {
        QTest::addColumn<QByteArray>("lead");
        QTest::addColumn<bool>("kept");
        QTest::newRow("mdat, then the camera's data") << MDAT + coded(900, 1) << true;
        QTest::newRow("free, mdat") << box("free", {}) + MDAT << true;
        QTest::newRow("wide, uuid, skip, mdat") << box("wide", {}) + box("uuid", QByteArray(16, 'u')) + box("skip", "xx") + MDAT
                                                << true;
        QTest::newRow("mdat with a 64-bit size") << be32(1) + "mdat" + QByteArray(8, '\0') + coded(40, 2) << true;
        QTest::newRow("free with a 64-bit size, mdat") << be32(1u) + "free" + be32(0u) + be32(20u) + "free" + MDAT << true;
        QTest::newRow("another box first") << box("junk", "abcd") + MDAT << false;
        QTest::newRow("mdat header cut by the first chunk") << box("free", "abcdefgh") + QByteArray("\0\0\0\0md", 6) << false;
        QTest::newRow("free box claiming past the first chunk") << be32(5000) + "free" + MDAT << false;
    }

    // The recording's own bytes up to the first chunk are copied when they
    // are a chain of boxes ending in the mdat header, which then keeps the
    // size that ends it at the moov box; otherwise an mdat header and zeros.
    void bytes_before_the_first_chunk()
    {
        QFETCH(QByteArray, lead);
        QFETCH(bool, kept);
        const Sizes sizes{800, 600, 700};
        const Recording r = record(sizes, 1, lead);
        const quint32 O0 = r.offsets[0];
        Card c(MIB);
        c.put(32768, r.file);
        const Rebuilt out = analyse_and_rebuild(c, 32768, 3);
        QVERIFY2(out.result.written, qPrintable(out.result.error));
        QCOMPARE(out.result.lead_kept, kept);
        const int S = 24;
        const quint32 moov_at = quint32(out.file.size() - r.moov.size());
        if (kept) {
            QCOMPARE(quint32(out.file.size()), moov_at + quint32(r.moov.size()));
            QVERIFY(out.file == r.file);
        } else {
            QCOMPARE(out.file.left(S), r.file.left(S));
            QCOMPARE(out.file.mid(S, 8), be32(moov_at - S) + "mdat");
            QCOMPARE(out.file.mid(S + 8, int(O0) - S - 8), QByteArray(int(O0) - S - 8, '\0'));
        }
    }

    // ---- a frame split by a cluster boundary ----

    void frame_split_by_a_cluster_boundary_data()
    {
        QTest::addColumn<Sizes>("sizes");
        QTest::addColumn<int>("split");    // the sample whose bytes the cut splits
        QTest::addColumn<char>("around");  // what lies around the pieces on the card
        QTest::addColumn<bool>("tables");  // the moov box tells the sample sizes
        QTest::addColumn<bool>("exact");

        const Sizes small{9000, 7000, 20000, 6000, 8000, 5000};
        const Sizes big{9000, 7000, 90000, 6000, 8000, 5000};
        QTest::newRow("one boundary in the chunk") << small << 2 << char(0) << true << true;
        QTest::newRow("one boundary, no sample sizes") << small << 2 << char(0) << false << false;
        QTest::newRow("two boundaries, noise around") << big << 2 << char('n') << true << true;
        QTest::newRow("two boundaries, erased flash around") << big << 2 << char('\xff') << true << true;
        QTest::newRow("two boundaries, coded data around") << big << 2 << char('c') << true << false;
    }

    // The recording in two pieces, its second first on the card, cut at the
    // first cluster boundary inside sample `split`'s chunk.
    void frame_split_by_a_cluster_boundary()
    {
        QFETCH(Sizes, sizes);
        QFETCH(int, split);
        QFETCH(char, around);
        QFETCH(bool, tables);
        QFETCH(bool, exact);
        Recording r = record(sizes, 1, MDAT, 100, false, 3);
        if (!tables)
            r.moov.replace(r.moov.indexOf("stsz"), 4, "xxxx");
        r.file.replace(r.file.size() - r.moov.size(), r.moov.size(), r.moov);
        const qint64 cut = (r.offsets[std::size_t(split)] / CLUSTER + 1) * CLUSTER;
        Card c(2 * MIB);
        if (around == 'n') {
            for (int i = 0; i < c.image.size(); ++i)
                c.image[i] = char(0x80 + (i * 7 % 64) * 2);
        } else if (around == '\xff') {
            c.image.fill('\xff');
        } else if (around == 'c') {
            c.image = coded(c.image.size(), 77);
        }
        const qint64 first = 1 * MIB, second = 256 * KIB;
        c.put(first, r, 0, cut);
        c.put(second, r, cut, r.file.size());
        const Rebuilt out = analyse_and_rebuild(c, quint64(first), 4);
        QVERIFY2(out.result.written, qPrintable(out.result.error));
        QCOMPARE(out.result.splits, exact ? 1u : 0u);
        for (int i = 0; i < int(sizes.size()); ++i) {
            const bool lost = !exact && i == split;
            QVERIFY2(sample_exact(r, sizes, 1, i, out.file) == !lost, qPrintable(QString("sample %1").arg(i)));
        }
        if (exact)
            QVERIFY(out.file == r.file);
    }

    // ---- the parts they rely on ----

    // Hostile moov boxes give bounded tables: a box that claims more than
    // its parent holds ends the walk, and tables are cut to what they hold.
    void video_track_is_bounded_data()
    {
        QTest::addColumn<int>("edit");
        QTest::addColumn<quint32>("chunks");
        QTest::addColumn<bool>("samples");
        QTest::newRow("as recorded") << 0 << 4u << true;
        QTest::newRow("sound track first") << 1 << 4u << true;
        QTest::newRow("trak larger than the moov box: the first stco") << 2 << 4u << false;
        QTest::newRow("stsz counting 2^32 - 1 samples") << 3 << 4u << true;
        QTest::newRow("stsc counting 2^32 - 1 runs") << 4 << 4u << true;
        QTest::newRow("stsc not from chunk 1") << 5 << 4u << false;
        QTest::newRow("copy cut inside the stco box") << 6 << 2u << false;
        QTest::newRow("trak without mdia: the first stco") << 7 << 4u << false;
    }

    void video_track_is_bounded()
    {
        QFETCH(int, edit);
        QFETCH(quint32, chunks);
        QFETCH(bool, samples);
        const Sizes sizes{500, 600, 700, 800};
        Recording r = record(sizes, 1, MDAT, 0, edit == 1);
        QByteArray m = r.moov;
        const int trak = m.indexOf("trak") - 4, stsz = m.indexOf("stsz") - 4, stsc = m.indexOf("stsc") - 4;
        qint64 held = m.size();
        switch (edit) {
        case 2: m.replace(trak, 4, be32(quint32(m.size()))); break;
        case 3: m.replace(stsz + 16, 4, be32(0xFFFFFFFF)); break;
        case 4: m.replace(stsc + 12, 4, be32(0xFFFFFFFF)); break;
        case 5: m.replace(stsc + 16, 4, be32(2)); break;
        case 6: held = m.indexOf("stco") + 4 + 4 + 4 + 8; break;
        case 7: m.replace(m.indexOf("mdia"), 4, "xdia"); break;
        }
        // Past the copy, bytes that would make more of everything if read.
        QByteArray copy = m.left(int(held)) + QByteArray(4096, '\x01');
        const VideoTrack t = VideoTrack::parse(reinterpret_cast<const unsigned char *>(copy.constData()), quint64(held));
        QCOMPARE(t.chunks().entries, chunks);
        QCOMPARE(t.has_samples(), samples);
        std::uint32_t first = 0, count = 0;
        for (std::uint32_t j = 0; j < chunks; ++j) {
            QCOMPARE(t.chunk_samples(j, &first, &count), samples);
            if (samples) {
                QCOMPARE(first, j);
                QCOMPARE(count, 1u);
                QCOMPARE(t.sample_size(j), quint32(sizes[j]));
            }
        }
        QVERIFY(!t.chunk_samples(1000000, &first, &count));
        QCOMPARE(t.sample_size(100), 0u);
    }

    // Escapes are found wherever they stand, across the cut of two pieces
    // too; a NAL chain holds only when it ends exactly at the sample's end.
    void sample_checks_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("cut");  // where the head's bytes end and the tail's begin
        QTest::addColumn<bool>("h265");
        QTest::addColumn<bool>("holds");
        const QByteArray s = sample(200, 1);
        QTest::newRow("a sample") << s << s.size() << false << true;
        QTest::newRow("escape inside a slice") << QByteArray(s).replace(100, 3, QByteArray("\0\0\x01", 3)) << s.size() << false << false;
        QTest::newRow("escape across the cut") << QByteArray(s).replace(100, 3, QByteArray("\0\0\x02", 3)) << 101 << false << false;
        QTest::newRow("escaped properly") << QByteArray(s).replace(100, 4, QByteArray("\0\0\x03\x01", 4)) << 102 << false << true;
        QTest::newRow("NAL length one short") << QByteArray(s).replace(6, 4, be32(188)) << s.size() << false << false;
        QTest::newRow("forbidden bit") << QByteArray(s).replace(10, 1, "\xc1") << s.size() << false << false;
        // H.265: a delimiter, then a slice with a two-byte header (type 1,
        // temporal id + 1 of 1).
        const QByteArray h = QByteArray("\x00\x00\x00\x03\x46\x01\x50", 7) + be32(189) + "\x02\x01" + coded(187, 2);
        QTest::newRow("H.265 sample") << h << h.size() << true << true;
        QTest::newRow("H.265 temporal id + 1 of 0") << QByteArray(h).replace(12, 1, "\x00") << h.size() << true << false;
        QTest::newRow("H.265 unit shorter than its header") << QByteArray("\x00\x00\x00\x01\x02", 5) << 5 << true << false;
        // An H.264 slice header byte followed by a byte whose low bits are 0
        // is no H.265 header.
        QTest::newRow("H.264 sample read as H.265") << s << s.size() << true << false;
    }

    void sample_checks()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, cut);
        QFETCH(bool, h265);
        QFETCH(bool, holds);
        const auto *b = reinterpret_cast<const unsigned char *>(bytes.constData());
        std::vector<std::uint32_t> head, tail;
        QVERIFY(find_escapes(b, 0, quint64(cut), 1000, &head));
        QVERIFY(find_escapes(b, quint64(cut), quint64(bytes.size()), 1000, &tail));
        const ChunkBytes chunk{b, b, quint64(cut), quint64(bytes.size())};
        const VideoCodec codec = h265 ? VideoCodec::H265 : VideoCodec::H264;
        QCOMPARE(samples_hold(codec, chunk, {quint32(bytes.size())}, head, tail), holds);
    }
};

QTEST_GUILESS_MAIN(TestRebuildMends)
#include "test_rebuild_mends.moc"

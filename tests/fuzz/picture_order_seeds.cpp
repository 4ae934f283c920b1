// Writes seeds for fuzz_picture_order from MP4 files: the codec byte, each
// parameter set of the sample description as a record of kind 0, then the
// video samples in decode order as records of kind 1, those that still fit
// in 64 KiB. No encoder at hand writes H.264's order count type 1, and the
// fuzzer does not find its way there alone: of each H.264 file a second seed
// has its sequence parameter sets rewritten to type 1, the samples as they are.
//   picture_order_seeds DIR FILE.mp4...   (seeds go to DIR/fuzz_picture_order/)
#include "rebuild/bit_reader.h"
#include "support/mp4_timing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace {

constexpr int MAX_SEED = 65536;

QByteArray record(char kind, const QByteArray &bytes)
{
    const int n = bytes.size();
    return QByteArray(1, kind) + char(n >> 16) + char(n >> 8) + char(n) + bytes;
}

// Bits written most significant first, with emulation prevention added.
class BitWriter
{
public:
    void u(unsigned n, std::uint32_t v)
    {
        for (unsigned i = n; i > 0; --i) {
            m_byte = (m_byte << 1) | ((v >> (i - 1)) & 1u);
            if (++m_bits == 8) {
                if (m_zeros >= 2 && m_byte <= 3) {
                    m_out += char(3);
                    m_zeros = 0;
                }
                m_out += char(m_byte);
                m_zeros = m_byte == 0 ? m_zeros + 1 : 0;
                m_byte = 0;
                m_bits = 0;
            }
        }
    }
    void ue(std::uint32_t v)
    {
        const std::uint64_t x = std::uint64_t(v) + 1;
        unsigned bits = 0;
        while ((x >> bits) > 1)
            ++bits;
        u(bits, 0);
        u(bits + 1, std::uint32_t(x));
    }
    void se(std::int32_t v) { ue(v > 0 ? std::uint32_t(2 * v - 1) : std::uint32_t(-2 * std::int64_t(v))); }
    // The last byte, padded with zeros (the stop bit is copied with the rest).
    QByteArray bytes()
    {
        if (m_bits != 0)
            u(8 - m_bits, 0);
        return m_out;
    }

private:
    QByteArray m_out;
    std::uint32_t m_byte = 0;
    unsigned m_bits = 0;
    unsigned m_zeros = 0;
};

// An H.264 sequence parameter set of order count type 0 rewritten to type
// 1 (a cycle of two reference frames, non-reference pictures one earlier),
// everything else as it was; empty when the set is not one such.
QByteArray as_poc_type_1(const QByteArray &nal)
{
    if (nal.size() < 4 || (nal[0] & 0x1F) != 7)
        return {};
    BitReader r(reinterpret_cast<const unsigned char *>(nal.constData()) + 1, std::size_t(nal.size() - 1));
    BitWriter w;
    w.u(8, std::uint8_t(nal[0]));
    const std::uint32_t profile = r.u(8);
    w.u(8, profile);
    w.u(16, r.u(16));
    w.ue(r.ue());
    if (profile == 100 || profile == 110 || profile == 122 || profile == 244) {
        const std::uint32_t chroma = r.ue();
        w.ue(chroma);
        if (chroma == 3)
            w.u(1, r.u(1));
        w.ue(r.ue());
        w.ue(r.ue());
        w.u(1, r.u(1));
        if (r.flag())
            return {};
        w.u(1, 0);
    }
    w.ue(r.ue());  // log2_max_frame_num_minus4
    if (r.ue() != 0)
        return {};
    r.ue();  // log2_max_pic_order_cnt_lsb_minus4
    w.ue(1);
    w.u(1, 0);  // delta_pic_order_always_zero_flag
    w.se(-1);
    w.se(0);
    w.ue(2);
    w.se(2);
    w.se(2);
    for (std::uint32_t bit = r.u(1); !r.failed(); bit = r.u(1))
        w.u(1, bit);
    return r.failed() ? w.bytes() : QByteArray();
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: picture_order_seeds DIR FILE.mp4...\n");
        return 1;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]) + "/fuzz_picture_order";
    QDir().mkpath(dir);
    int written = 0;
    for (int a = 2; a < argc; ++a) {
        QFile in(QString::fromLocal8Bit(argv[a]));
        if (!in.open(QIODevice::ReadOnly))
            continue;
        const QByteArray file = in.readAll();
        const TimedTrack track = read_timed_track(file);
        const QByteArray entry(track.sample_entry);
        QByteArray seed(1, entry == "hvc1" || entry == "hev1" ? '\1' : '\0');
        for (const QByteArray &set : track.parameter_sets)
            seed += record(0, set);
        for (const TimedSample &s : track.samples) {
            if (s.offset + s.size > std::uint64_t(file.size()) || seed.size() + 4 + qint64(s.size) > MAX_SEED)
                continue;
            seed += record(1, file.mid(int(s.offset), int(s.size)));
        }
        QFile out(dir + "/" + QFileInfo(in).completeBaseName());
        if (out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(seed) == seed.size())
            ++written;

        QByteArray type_1 = seed.left(1);
        int sets_end = 1;
        bool rewritten = false;
        for (const QByteArray &set : track.parameter_sets) {
            const QByteArray sps = seed[0] == '\0' ? as_poc_type_1(set) : QByteArray();
            rewritten = rewritten || !sps.isEmpty();
            type_1 += record(0, sps.isEmpty() ? set : sps);
            sets_end += 4 + set.size();
        }
        QFile variant(dir + "/" + QFileInfo(in).completeBaseName() + "-poc-type-1");
        if (rewritten && variant.open(QIODevice::WriteOnly | QIODevice::Truncate))
            variant.write(type_1 + seed.mid(sets_end));
    }
    std::printf("%d seeds in %s\n", written, qPrintable(dir));
    return written == argc - 2 ? 0 : 1;
}

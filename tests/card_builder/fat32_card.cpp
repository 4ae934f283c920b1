#include "card_builder/fat32_card.h"

#include "card_builder/photo_headers.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>

namespace card {

namespace {

constexpr std::uint64_t SECTOR = 512;
constexpr int SECTORS_PER_CLUSTER = 64;  // 32 KiB clusters, as cards of 4 to 32 GB come formatted
constexpr std::uint32_t END_OF_CHAIN = 0x0FFFFFF8;

std::uint32_t le16(const QByteArray &b, int at)
{
    return std::uint32_t(std::uint8_t(b[at])) | std::uint32_t(std::uint8_t(b[at + 1])) << 8;
}

std::uint32_t le32(const QByteArray &b, int at) { return le16(b, at) | le16(b, at + 2) << 16; }

QString tool(const QString &name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return path;
}

bool run(const QString &program, const QStringList &args, QString *error, const QByteArray &input = {},
         QByteArray *output = nullptr)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // mtools checks a volume's geometry against the drive's; an image has none.
    env.insert(QStringLiteral("MTOOLS_SKIP_CHECK"), QStringLiteral("1"));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(tool(program), args);
    if (!p.waitForStarted()) {
        *error = QStringLiteral("cannot start %1: %2").arg(program, p.errorString());
        return false;
    }
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        *error = QStringLiteral("%1 did not finish in time").arg(program);
        return false;
    }
    const QByteArray out = p.readAll();
    if (output)
        *output = out;
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = QStringLiteral("%1 %2 failed: %3").arg(program, args.join(' '), QString::fromLocal8Bit(out).trimmed());
        return false;
    }
    return true;
}

QByteArray read_at(QFile &f, std::uint64_t pos, std::uint64_t length)
{
    if (!f.seek(qint64(pos)))
        return {};
    const QByteArray b = f.read(qint64(length));
    return std::uint64_t(b.size()) == length ? b : QByteArray();
}

bool is_fat32_boot_sector(const QByteArray &s)
{
    return s.size() == int(SECTOR) && std::uint8_t(s[510]) == 0x55 && std::uint8_t(s[511]) == 0xAA
           && s.mid(82, 8) == "FAT32   ";
}

QString short_name(const QByteArray &entry)
{
    QByteArray base = entry.left(8).trimmed(), ext = entry.mid(8, 3).trimmed();
    if (std::uint8_t(base[0]) == 0xE5)
        base[0] = '?';
    if (std::uint8_t(base[0]) == 0x05)  // a name whose first byte really is E5
        base[0] = char(0xE5);
    return QString::fromLatin1(ext.isEmpty() ? base : base + '.' + ext);
}

}  // namespace

bool mtools_available(bool partition_table, QString *why)
{
    QStringList tools = {"mformat", "mcopy", "mdel", "mmd", "mdir", "minfo"};
    if (partition_table)
        tools << "sfdisk";
    QString missing;
    for (const QString &t : tools)
        if (tool(t).isEmpty())
            missing += (missing.isEmpty() ? "" : ", ") + t;
    if (!missing.isEmpty())
        missing = QStringLiteral("%1 not found (apt-get install mtools%2)")
                      .arg(missing, partition_table ? QStringLiteral(" fdisk") : QString());
    if (why)
        *why = missing;
    return missing.isEmpty();
}

std::vector<Extent> FatVolume::extents(const FatEntry &entry) const
{
    std::vector<Extent> out;
    std::uint64_t offset = 0;
    for (std::uint32_t c : entry.clusters) {
        if (offset >= entry.size)
            break;
        const std::uint64_t length = std::min(cluster_size, entry.size - offset);
        if (!out.empty() && out.back().card_pos + out.back().length == cluster_pos(c))
            out.back().length += length;
        else
            out.push_back(Extent{cluster_pos(c), offset, length});
        offset += length;
    }
    return out;
}

const FatEntry *FatVolume::find(const QString &name, bool deleted) const
{
    for (const FatEntry &e : entries) {
        if (e.deleted != deleted)
            continue;
        const QString base = e.path.mid(e.path.lastIndexOf('/') + 1);
        if (e.path == name || base == name || (deleted && base.mid(1) == name.mid(1)))
            return &e;
    }
    return nullptr;
}

bool read_fat32(const QString &image, FatVolume *volume, QString *error)
{
    QFile f(image);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(image, f.errorString());
        return false;
    }
    FatVolume v;
    QByteArray boot = read_at(f, 0, SECTOR);
    if (!is_fat32_boot_sector(boot) && boot.size() == int(SECTOR)) {
        // A partition table: the volume is the first partition. A protective
        // MBR (type EE) stands for a GPT, whose first entry gives it.
        v.partition_at = std::uint64_t(le32(boot, 446 + 8)) * SECTOR;
        if (std::uint8_t(boot[446 + 4]) == 0xEE) {
            const QByteArray header = read_at(f, SECTOR, SECTOR);
            const QByteArray entry =
                    header.startsWith("EFI PART") ? read_at(f, le32(header, 72) * SECTOR, 128) : QByteArray();
            v.partition_at = entry.isEmpty() ? 0 : std::uint64_t(le32(entry, 32)) * SECTOR;
        }
        boot = read_at(f, v.partition_at, SECTOR);
    }
    if (!is_fat32_boot_sector(boot) || le16(boot, 11) != SECTOR) {
        *error = QStringLiteral("%1: no FAT32 volume with 512-byte sectors").arg(image);
        return false;
    }
    const std::uint64_t per_cluster = std::uint8_t(boot[13]), reserved = le16(boot, 14), fats = std::uint8_t(boot[16]);
    const std::uint64_t fat_sectors = le32(boot, 36), total = le32(boot, 32);
    const std::uint32_t root = le32(boot, 44);
    v.cluster_size = per_cluster * SECTOR;
    v.data_start = v.partition_at + (reserved + fats * fat_sectors) * SECTOR;
    v.fsinfo_at = v.partition_at + le16(boot, 48) * SECTOR;
    if (per_cluster == 0 || fats == 0 || total <= reserved + fats * fat_sectors) {
        *error = QStringLiteral("%1: the boot sector's layout does not add up").arg(image);
        return false;
    }
    v.clusters = std::uint32_t(std::min<std::uint64_t>((total - reserved - fats * fat_sectors) / per_cluster,
                                                       fat_sectors * SECTOR / 4 - 2));
    const QByteArray fsinfo = read_at(f, v.fsinfo_at, SECTOR);
    if (fsinfo.size() != int(SECTOR) || le32(fsinfo, 0) != 0x41615252 || le32(fsinfo, 484) != 0x61417272) {
        *error = QStringLiteral("%1: no FSInfo sector").arg(image);
        return false;
    }
    v.next_free_hint = le32(fsinfo, 0x1EC);
    const QByteArray fat = read_at(f, v.partition_at + reserved * SECTOR, fat_sectors * SECTOR);
    if (fat.isEmpty()) {
        *error = QStringLiteral("%1: cannot read the FAT").arg(image);
        return false;
    }
    auto chain = [&](std::uint32_t first) {
        std::vector<std::uint32_t> out;
        for (std::uint32_t c = first; c >= 2 && c < v.clusters + 2 && out.size() <= v.clusters;
             c = le32(fat, int(c) * 4) & 0x0FFFFFFF) {
            out.push_back(c);
            if ((le32(fat, int(c) * 4) & 0x0FFFFFFF) >= END_OF_CHAIN)
                break;
        }
        return out;
    };

    // Depth first, each directory's entries in their order.
    std::function<bool(std::uint32_t, const QString &, int)> walk = [&](std::uint32_t first, const QString &prefix,
                                                                        int depth) {
        if (depth > 16)
            return true;
        for (std::uint32_t c : chain(first)) {
            const QByteArray cluster = read_at(f, v.cluster_pos(c), v.cluster_size);
            for (int at = 0; at + 32 <= cluster.size(); at += 32) {
                const QByteArray e = cluster.mid(at, 32);
                const std::uint8_t first_byte = std::uint8_t(e[0]), attributes = std::uint8_t(e[11]);
                if (first_byte == 0)
                    return true;
                if ((attributes & 0x3F) == 0x0F || (attributes & 0x08) || e.startsWith('.'))
                    continue;  // long names, the volume label, "." and ".."
                FatEntry entry;
                entry.path = prefix + short_name(e);
                entry.size = le32(e, 28);
                entry.first_cluster = le16(e, 20) << 16 | le16(e, 26);
                entry.directory = attributes & 0x10;
                entry.deleted = first_byte == 0xE5;
                if (!entry.deleted)
                    entry.clusters = chain(entry.first_cluster);
                v.entries.push_back(entry);
                if (entry.directory && !entry.deleted
                    && !walk(entry.first_cluster, entry.path + QLatin1Char('/'), depth + 1))
                    return false;
            }
        }
        return true;
    };
    if (!walk(root, QString(), 0))
        return false;
    *volume = v;
    return true;
}

Fat32Options::Fat32Options()
{
    clip.width = 640;
    clip.height = 360;
    clip.bitrate_kbps = 3000;
    clip.brand = QStringLiteral("mp41");
}

namespace {

// The mtools drive of the volume: the image, at the partition's offset.
QString drive(const QString &image, std::uint64_t partition_at)
{
    return partition_at ? QStringLiteral("%1@@%2").arg(image).arg(partition_at) : image;
}

// mformat with 32 KiB clusters and as many reserved sectors as put cluster 2
// on the partition's 32 KiB grid, as a formatter aligns it (mkfs.fat does):
// with the partition on the card's grid, cluster 2 lies on it too.
bool format(const QString &image, const Fat32Options &o, QString *error)
{
    const std::uint64_t sectors = (o.size - o.partition_at) / SECTOR;
    std::uint64_t reserved = 32;
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (!run("mformat", {"-i", drive(image, o.partition_at), "-F", "-c", QString::number(SECTORS_PER_CLUSTER),
                             "-T", QString::number(sectors), "-H", QString::number(o.partition_at / SECTOR), "-R",
                             QString::number(reserved), "-v", "CAMERA", "::"},
                 error))
            return false;
        FatVolume v;
        if (!read_fat32(image, &v, error))
            return false;
        const std::uint64_t off = (v.data_start - o.partition_at) % (SECTORS_PER_CLUSTER * SECTOR);
        if (off == 0)
            return true;
        reserved += (SECTORS_PER_CLUSTER * SECTOR - off) / SECTOR;
    }
    *error = QStringLiteral("mformat: no number of reserved sectors aligns the clusters");
    return false;
}

bool photo(int pattern, PhotoHeader header, const QString &name, const QString &cache_dir, Content *out,
           QString *error)
{
    PhotoOptions o;
    o.width = 640;
    o.height = 480;
    o.pattern = pattern;
    const QByteArray jpeg = with_photo_header(encode_photo(o, cache_dir, error), header);
    if (jpeg.isEmpty() && error->isEmpty())
        *error = QStringLiteral("%1: no header could be set").arg(name);
    *out = Content::bytes(name, jpeg);
    return !jpeg.isEmpty();
}

QByteArray content_bytes(const Content &c)
{
    if (c.path.isEmpty())
        return c.data;
    QFile f(c.path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

Fat32Card fat32_card(const Fat32Options &o, const QString &image_path, const QString &cache_dir)
{
    Fat32Card card;
    QString &error = card.error;
    if (!mtools_available(o.partition_at != 0, &error))
        return card;
    if (o.partition_at % SECTOR || o.size % SECTOR || o.size <= o.partition_at || (o.gpt && !o.partition_at)) {
        error = QStringLiteral("the partition must start on a sector inside the card, and a GPT needs one");
        return card;
    }

    // The files in camera order; B is deleted after the fourth marker.
    static const PhotoHeader headers[] = {PhotoHeader::Jfif, PhotoHeader::Exif2044, PhotoHeader::Exif14831};
    std::vector<Content> marks(5);
    for (int i = 0; i < 5; ++i)
        if (!photo(200 + i, headers[i % 3], QStringLiteral("MARK%1.JPG").arg(i + 1, 4, 10, QLatin1Char('0')), cache_dir,
                   &marks[std::size_t(i)], &error))
            return card;
    std::vector<Content> clips(4);
    for (int i = 0; i < 4; ++i) {
        ClipOptions c = o.clip;
        c.pattern = i;
        c.seconds = i == 3 ? o.later_seconds : o.seconds;
        const QString path = encode_clip(c, cache_dir, &error);
        if (path.isEmpty())
            return card;
        clips[std::size_t(i)] = Content::file(path, QStringLiteral("GX01%1.MP4").arg(i + 1, 4, 10, QLatin1Char('0')));
    }
    const std::vector<Content> first = {marks[0], clips[0], marks[1], clips[1], marks[2], clips[2], marks[3]};
    const std::vector<Content> later = {clips[3], marks[4]};
    const Content &deleted = clips[1];

    QFile::remove(image_path);
    QFile img(image_path);
    if (!img.open(QIODevice::WriteOnly) || !img.resize(qint64(o.size))) {  // sparse
        error = QStringLiteral("cannot make %1: %2").arg(image_path, img.errorString());
        return card;
    }
    img.close();
    // A FAT32 partition: type 0C in an MBR, Microsoft basic data in a GPT.
    const QString table = o.gpt ? QStringLiteral("label: gpt\nstart=%1, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n")
                                : QStringLiteral("label: dos\nstart=%1, type=c\n");
    if (o.partition_at
        && !run("sfdisk", {"--no-reread", "--no-tell-kernel", "-q", image_path}, &error,
                table.arg(o.partition_at / SECTOR).toLatin1()))
        return card;
    if (!format(image_path, o, &error))
        return card;
    const QString d = drive(image_path, o.partition_at);
    const QString folder = o.folder.isEmpty() ? QString() : o.folder + QLatin1Char('/');
    QString made;
    for (const QString &part : o.folder.split('/', Qt::SkipEmptyParts)) {
        made += QStringLiteral("/") + part;
        if (!run("mmd", {"-i", d, "::" + made}, &error))
            return card;
    }

    QTemporaryDir staging;
    if (!staging.isValid()) {
        error = QStringLiteral("cannot make a temporary folder");
        return card;
    }
    auto copy = [&](const Content &c) {
        QString source = c.path;
        if (source.isEmpty()) {
            source = staging.filePath(c.name);
            QFile f(source);
            if (!f.open(QIODevice::WriteOnly) || f.write(c.data) != c.data.size()) {
                error = QStringLiteral("cannot write %1").arg(source);
                return false;
            }
        }
        return run("mcopy", {"-i", d, source, "::" + folder + c.name}, &error);
    };
    for (const Content &c : first)
        if (!copy(c))
            return card;
    FatVolume before;
    if (!read_fat32(image_path, &before, &error))
        return card;
    const FatEntry *b = before.find(folder + deleted.name);
    if (!b || b->clusters.empty()) {
        error = QStringLiteral("%1 is not on the card after mcopy").arg(deleted.name);
        return card;
    }
    const FatEntry deleted_entry = *b;
    if (!run("mdel", {"-i", d, "::" + folder + deleted.name}, &error))
        return card;
    // mtools takes the hint as the last cluster it gave out and searches from
    // the one after it; the FAT32 documents call it the first to try, and
    // that cluster is in use, so either reading reaches B's first cluster.
    {
        QFile f(image_path);
        const std::uint32_t hint = deleted_entry.first_cluster - 1;
        const char le[4] = {char(hint), char(hint >> 8), char(hint >> 16), char(hint >> 24)};
        if (!f.open(QIODevice::ReadWrite) || !f.seek(qint64(before.fsinfo_at + 0x1EC)) || f.write(le, 4) != 4) {
            error = QStringLiteral("cannot set the next free cluster of %1").arg(image_path);
            return card;
        }
    }
    for (const Content &c : later)
        if (!copy(c))
            return card;

    if (!read_fat32(image_path, &card.volume, &error))
        return card;
    card.manifest.image_size = o.size;
    card.manifest.seed = 0;
    card.manifest.noise = Noise::Clean;  // a formatted card: zeros where no file was
    QFile f(image_path);
    if (!f.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(image_path, f.errorString());
        return card;
    }
    for (const std::vector<Content> *group : {&first, &later})
        for (const Content &c : *group) {
            PlacedFile p;
            p.name = c.name;
            if (c.name == deleted.name) {
                const QByteArray bytes = content_bytes(c);
                p.size = std::uint64_t(bytes.size());
                p.sha256 = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
                p.extents = before.extents(deleted_entry);
                card.deleted << c.name;
            } else {
                const FatEntry *e = card.volume.find(folder + c.name);
                if (!e) {
                    error = QStringLiteral("%1 is not on the card after mcopy").arg(c.name);
                    return card;
                }
                QCryptographicHash hash(QCryptographicHash::Sha256);
                p.size = e->size;
                p.extents = card.volume.extents(*e);
                for (const Extent &x : p.extents)
                    hash.addData(read_at(f, x.card_pos, x.length));
                p.sha256 = hash.result().toHex();
            }
            card.manifest.files.push_back(p);
            card.files.push_back(c);
        }
    card.ok = true;
    return card;
}

}  // namespace card

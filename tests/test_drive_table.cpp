// The drive table: which block devices are listed, what their records hold,
// the row text, the scan-source rules and the volume serial lines. Runs on
// a fake sysfs tree laid out as the kernel lays it out; one case attaches a
// real loop device when it runs as root.
#include "drives/drive_table.h"
#include "drives/natural_order.h"
#include "drives/volume_probe.h"

#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr const char *SATA = "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0";
constexpr const char *USB = "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0";
constexpr const char *MMC = "platform/fe340000.mmc/mmc_host/mmc0/mmc0:aaaa";
constexpr const char *NVME = "pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0";
constexpr const char *VIRTIO = "pci0000:00/0000:00:02.0/virtio1";

// A sysfs, /dev, mountinfo and swaps in a temporary directory. Devices sit
// under /sys/devices with /sys/class/block and /sys/block linking to them,
// partitions inside their disk's directory, and stacked devices under
// devices/virtual with slaves and holders links, as on a running kernel.
class FakeSystem
{
public:
    FakeSystem()
    {
        QDir root(m_dir.path());
        root.mkpath(QStringLiteral("sys/class/block"));
        root.mkpath(QStringLiteral("sys/block"));
        root.mkpath(QStringLiteral("dev"));
        m_paths.sysfs = root.filePath(QStringLiteral("sys"));
        m_paths.dev = root.filePath(QStringLiteral("dev"));
        m_paths.mountinfo = root.filePath(QStringLiteral("mountinfo"));
        m_paths.swaps = root.filePath(QStringLiteral("swaps"));
        set_mounts({});
        set_swaps({});
    }

    const PlatformPaths &paths() const { return m_paths; }
    QString path() const { return m_dir.path(); }

    void add_disk(const QString &name, const QString &devnum, quint64 sectors, const char *hardware,
                  int block_size = 512, bool removable = false)
    {
        const QString hw_dir = m_paths.sysfs + QStringLiteral("/devices/") + QLatin1String(hardware);
        const QString dir = hw_dir + QStringLiteral("/block/") + name;
        write_device_files(dir, devnum, sectors);
        write(dir + QStringLiteral("/removable"), removable ? "1" : "0");
        write(dir + QStringLiteral("/hidden"), "0");
        write(dir + QStringLiteral("/queue/logical_block_size"), QByteArray::number(block_size));
        QDir(dir).mkpath(QStringLiteral("slaves"));
        link(hw_dir, dir + QStringLiteral("/device"));
        link(dir, m_paths.sysfs + QStringLiteral("/block/") + name);
        register_device(name, dir);
    }

    void add_partition(const QString &disk, const QString &name, const QString &devnum, quint64 sectors, int number)
    {
        const QString dir = m_dirs.value(disk) + QLatin1Char('/') + name;
        write_device_files(dir, devnum, sectors);
        write(dir + QStringLiteral("/partition"), QByteArray::number(number));
        write(dir + QStringLiteral("/start"), QByteArray::number(2048 * number));
        register_device(name, dir);
    }

    // A device of devices/virtual/block: dm, md, loop, ram, zram, nbd.
    void add_virtual(const QString &name, const QString &devnum, quint64 sectors, const QStringList &slaves = {})
    {
        const QString dir = m_paths.sysfs + QStringLiteral("/devices/virtual/block/") + name;
        write_device_files(dir, devnum, sectors);
        write(dir + QStringLiteral("/removable"), "0");
        write(dir + QStringLiteral("/queue/logical_block_size"), "512");
        QDir(dir).mkpath(QStringLiteral("slaves"));
        for (const QString &slave : slaves) {
            link(m_dirs.value(slave), dir + QStringLiteral("/slaves/") + slave);
            link(dir, m_dirs.value(slave) + QStringLiteral("/holders/") + name);
        }
        link(dir, m_paths.sysfs + QStringLiteral("/block/") + name);
        register_device(name, dir);
    }

    void set_dm_name(const QString &name, const QByteArray &dm_name)
    {
        write(m_dirs.value(name) + QStringLiteral("/dm/name"), dm_name);
    }

    void set_loop_backing(const QString &name, const QByteArray &file)
    {
        write(m_dirs.value(name) + QStringLiteral("/loop/backing_file"), file);
    }

    // Lines as "major:minor|mount-point|fstype|source"; mount points are
    // escaped as the kernel does.
    void set_mounts(const QStringList &mounts)
    {
        QByteArray text = "21 27 0:20 / /proc rw,relatime shared:12 - proc proc rw\n"
                          "22 27 0:21 / /sys rw,relatime shared:2 - sysfs sysfs rw\n"
                          "25 23 0:23 / /dev/shm rw,relatime - tmpfs tmpfs rw\n";
        int id = 30;
        for (const QString &mount : mounts) {
            const QStringList f = mount.split(QLatin1Char('|'));
            QByteArray point = QFile::encodeName(f[1]);
            point.replace(" ", "\\040");
            text += QByteArray::number(id++) + " 1 " + f[0].toLatin1() + " / " + point
                    + " rw,relatime shared:1 - " + f[2].toLatin1() + ' ' + f[3].toLatin1() + " rw\n";
        }
        write(m_paths.mountinfo, text);
    }

    void set_swaps(const QByteArrayList &devices)
    {
        QByteArray text = "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n";
        for (const QByteArray &device : devices)
            text += device + "                               partition\t8388604\t\t0\t\t-2\n";
        write(m_paths.swaps, text);
    }

private:
    static void write(const QString &path, const QByteArray &text)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text + '\n');
    }

    // Relative links, as sysfs has them.
    static void link(const QString &target, const QString &link_path)
    {
        QDir().mkpath(QFileInfo(link_path).path());
        const fs::path from = fs::path(link_path.toStdString()).parent_path();
        fs::create_symlink(fs::relative(target.toStdString(), from), link_path.toStdString());
    }

    void write_device_files(const QString &dir, const QString &devnum, quint64 sectors)
    {
        write(dir + QStringLiteral("/dev"), devnum.toLatin1());
        write(dir + QStringLiteral("/size"), QByteArray::number(sectors));
        write(dir + QStringLiteral("/ro"), "0");
        QDir(dir).mkpath(QStringLiteral("holders"));
        link(m_paths.sysfs + QStringLiteral("/class/block"), dir + QStringLiteral("/subsystem"));
    }

    void register_device(const QString &name, const QString &dir)
    {
        m_dirs.insert(name, dir);
        link(dir, m_paths.sysfs + QStringLiteral("/class/block/") + name);
    }

    QTemporaryDir m_dir;
    PlatformPaths m_paths;
    QHash<QString, QString> m_dirs;
};

QStringList listed_names(const DiskInfo *table, int count)
{
    QStringList names;
    for (int i = 0; i < count; ++i)
        names.append(QString::fromLatin1(table[i].device));
    return names;
}

const DiskInfo *find_record(const DiskInfo *table, int count, const QString &name)
{
    for (int i = 0; i < count; ++i) {
        if (name == QLatin1String(table[i].device))
            return &table[i];
    }
    return nullptr;
}

double gigabytes_of(const char *text)
{
    return QByteArray(text).split(' ').value(0).toDouble();
}

constexpr quint64 CARD_BYTES = 31914983424ULL;  // a 32 GB card's first partition

// A 1 MiB FAT12 volume with a label and serial 0xABCD1234, written the way
// mkfs.fat writes one: boot sector, two FATs, root directory with the label entry.
QByteArray fat12_volume(const QByteArray &label11)
{
    std::vector<unsigned char> b(1024 * 1024);
    const unsigned char boot[] = {0xEB, 0x3C, 0x90, 'm', 'k', 'f', 's', '.', 'f', 'a', 't',
                                  0x00, 0x02,  // bytes per sector 512
                                  0x04,        // sectors per cluster
                                  0x01, 0x00,  // reserved sectors
                                  0x02,        // FATs
                                  0x00, 0x02,  // root entries 512
                                  0x00, 0x08,  // total sectors 2048
                                  0xF8,        // media
                                  0x02, 0x00,  // sectors per FAT
                                  0x20, 0x00, 0x40, 0x00,  // sectors per track, heads
                                  0, 0, 0, 0, 0, 0, 0, 0,  // hidden, total32
                                  0x80, 0x00, 0x29,        // drive, reserved, extended signature
                                  0x34, 0x12, 0xCD, 0xAB}; // serial
    std::memcpy(b.data(), boot, sizeof boot);
    std::memcpy(&b[43], label11.constData(), 11);
    std::memcpy(&b[54], "FAT12   ", 8);
    b[510] = 0x55;
    b[511] = 0xAA;
    for (const int fat : {512, 1536}) {
        b[fat] = 0xF8;
        b[fat + 1] = 0xFF;
        b[fat + 2] = 0xFF;
    }
    const int root = 5 * 512;
    std::memcpy(&b[root], label11.constData(), 11);
    b[root + 11] = 0x08;  // volume label attribute
    return QByteArray(reinterpret_cast<const char *>(b.data()), static_cast<int>(b.size()));
}

// Detaches the loop device on every path out of the test.
struct LoopAttachment {
    QString device;
    ~LoopAttachment()
    {
        if (!device.isEmpty())
            QProcess::execute(QStringLiteral("losetup"), {QStringLiteral("-d"), device});
    }
};

} // namespace

class TestDriveTable : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void eligibility_data();
    void eligibility();
    void listed_in_natural_order();
    void records_data();
    void records();
    void table_zeroed_and_capped();
    void serial_lines_of_unprobed_volumes();
    void natural_order_data();
    void natural_order();
    void display_text_data();
    void display_text();
    void gigabyte_text_format_data();
    void gigabyte_text_format();
    void source_rules_data();
    void source_rules();
    void volume_serial_data();
    void volume_serial();
    void real_loop_device_listed();

private:
    FakeSystem m_system;
    QString m_card_mount;
    DiskInfo m_table[DISK_SLOTS];
    int m_count = 0;
};

// A desktop with the root file system on LVM over sda2, /boot on vda1, swap
// on sdb1, /home on btrfs (anonymous 0:N number) on nvme0n1p1, and the
// devices a user might scan: a card in an SD slot, an attached image, a
// whole disk without partitions, and a 4Kn USB disk.
void TestDriveTable::initTestCase()
{
    FakeSystem &s = m_system;
    s.add_disk("sda", "8:0", 976773168, SATA);
    s.add_partition("sda", "sda1", "8:1", 1048576, 1);
    s.add_partition("sda", "sda2", "8:2", 975722496, 2);
    s.add_virtual("dm-0", "254:0", 975720448, {"sda2"});
    s.set_dm_name("dm-0", "vg-root");
    s.add_disk("vda", "253:0", 1048576, VIRTIO);
    s.add_partition("vda", "vda1", "253:1", 1046528, 1);
    s.add_disk("sdb", "8:16", 62533296, "pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0");
    s.add_partition("sdb", "sdb1", "8:17", 16777216, 1);
    s.add_partition("sdb", "sdb2", "8:18", 45754368, 2);
    s.add_disk("nvme0n1", "259:0", 1000215216, NVME);
    s.add_partition("nvme0n1", "nvme0n1p1", "259:1", 1000212480, 1);
    s.add_disk("mmcblk0", "179:0", 62521344, MMC, 512, true);
    s.add_partition("mmcblk0", "mmcblk0p1", "179:1", CARD_BYTES / 512, 1);
    s.add_partition("mmcblk0", "mmcblk0p2", "179:2", 65536, 2);
    s.add_partition("mmcblk0", "mmcblk0p10", "179:10", 2048, 10);
    s.add_disk("sdc", "8:32", 2048, "pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/host7/target7:0:0/7:0:0:0");
    s.add_disk("sdd", "8:48", 0, USB, 512, true);  // card reader without a card
    s.add_disk("sde", "8:64", 244190646, "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host8/target8:0:0/8:0:0:0",
               4096);
    s.add_partition("sde", "sde1", "8:65", 244190000, 1);
    s.add_disk("sr0", "11:0", 2097152, "pci0000:00/0000:00:17.0/ata3/host2/target2:0:0/2:0:0:0");
    s.add_virtual("md127", "9:127", 2048);
    s.add_virtual("loop0", "7:0", 0);
    s.add_virtual("loop1", "7:1", 2048);  // no backing file, yet a stale size
    s.add_virtual("loop2", "7:2", 4096);
    s.set_loop_backing("loop2", "/home/user/card.img");
    s.add_virtual("ram0", "1:0", 8192);
    s.add_virtual("zram0", "252:0", 8192);
    s.add_virtual("nbd0", "43:0", 2048);

    m_card_mount = s.path() + QStringLiteral("/media/user/MY CARD");
    QVERIFY(QDir().mkpath(m_card_mount));
    s.set_mounts({QStringLiteral("254:0|/|ext4|/dev/mapper/vg-root"),
                  QStringLiteral("253:1|/boot|ext4|/dev/vda1"),
                  QStringLiteral("0:45|/home|btrfs|/dev/nvme0n1p1"),
                  QStringLiteral("179:1|") + m_card_mount + QStringLiteral("|vfat|/dev/mmcblk0p1")});
    s.set_swaps({"/dev/sdb1"});

    m_count = get_disk_list(m_table, s.paths());
}

void TestDriveTable::eligibility_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("listed");

    QTest::newRow("root on LVM excludes the disk beneath") << "sda2" << false;
    QTest::newRow("...with its other partitions") << "sda1" << false;
    QTest::newRow("the LVM volume itself") << "dm-0" << false;
    QTest::newRow("/boot by major:minor") << "vda1" << false;
    QTest::newRow("swap disk's swap partition") << "sdb1" << false;
    QTest::newRow("swap disk's other partition") << "sdb2" << false;
    QTest::newRow("btrfs /home found by source") << "nvme0n1p1" << false;
    QTest::newRow("card partition") << "mmcblk0p1" << true;
    QTest::newRow("card's whole disk") << "mmcblk0" << false;
    QTest::newRow("whole disk without partitions") << "sdc" << true;
    QTest::newRow("card reader without card") << "sdd" << false;
    QTest::newRow("partition of a 4Kn disk") << "sde1" << true;
    QTest::newRow("optical drive") << "sr0" << false;
    QTest::newRow("md array") << "md127" << false;
    QTest::newRow("unattached loop") << "loop0" << false;
    QTest::newRow("loop without backing file") << "loop1" << false;
    QTest::newRow("loop with backing file") << "loop2" << true;
    QTest::newRow("ram disk") << "ram0" << false;
    QTest::newRow("zram") << "zram0" << false;
    QTest::newRow("other virtual device") << "nbd0" << false;
}

void TestDriveTable::eligibility()
{
    QFETCH(QString, device);
    QFETCH(bool, listed);
    QCOMPARE(find_record(m_table, m_count, device) != nullptr, listed);
}

void TestDriveTable::listed_in_natural_order()
{
    QCOMPARE(listed_names(m_table, m_count),
             QStringList({"loop2", "mmcblk0p1", "mmcblk0p2", "mmcblk0p10", "sdc", "sde1"}));
}

void TestDriveTable::records_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<quint64>("total_size");
    QTest::addColumn<QString>("total_text");
    QTest::addColumn<uint>("sector_size");
    QTest::addColumn<bool>("mounted");

    QTest::newRow("mounted card partition") << "mmcblk0p1" << CARD_BYTES << "29.72 GB " << 512u << true;
    QTest::newRow("unmounted partition") << "mmcblk0p2" << quint64(65536 * 512) << "0.03 GB " << 512u << false;
    QTest::newRow("whole disk") << "sdc" << quint64(2048 * 512) << "0.00 GB " << 512u << false;
    QTest::newRow("partition takes its disk's sector size") << "sde1" << quint64(244190000) * 512
                                                              << "116.44 GB " << 4096u << false;
}

void TestDriveTable::records()
{
    QFETCH(QString, device);
    QFETCH(quint64, total_size);
    QFETCH(QString, total_text);
    QFETCH(uint, sector_size);
    QFETCH(bool, mounted);

    const DiskInfo *record = find_record(m_table, m_count, device);
    QVERIFY(record);
    QCOMPARE(record->total_size, total_size);
    QCOMPARE(QString::fromLatin1(record->total_text), total_text);
    QCOMPARE(record->sector_size, sector_size);
    QCOMPARE(record->volume_name[0], '\0');  // fake devices cannot be probed
    QCOMPARE(record->fs_name[0], '\0');
    if (mounted) {
        // Others write to this file system meanwhile, so allow some drift.
        const double expected = QStorageInfo(m_card_mount).bytesAvailable() / (1024.0 * 1024.0 * 1024.0);
        QVERIFY2(qAbs(gigabytes_of(record->free_text) - expected) < 0.5, record->free_text);
        QVERIFY(QByteArray(record->free_text).endsWith(" GB "));
    } else {
        QCOMPARE(QString::fromLatin1(record->free_text), QStringLiteral("0.00 GB "));
    }
}

void TestDriveTable::table_zeroed_and_capped()
{
    FakeSystem s;
    for (int i = 0; i < 30; ++i) {
        const QString name = QStringLiteral("loop%1").arg(i);
        s.add_virtual(name, QStringLiteral("7:%1").arg(i), 2048);
        s.set_loop_backing(name, "/images/" + name.toLatin1() + ".img");
    }
    DiskInfo table[DISK_SLOTS];
    std::memset(table, 0xAB, sizeof table);
    QCOMPARE(get_disk_list(table, s.paths()), DISK_SLOTS);
    QStringList first;
    for (int i = 0; i < DISK_SLOTS; ++i)
        first.append(QStringLiteral("loop%1").arg(i));
    QCOMPARE(listed_names(table, DISK_SLOTS), first);

    // A rebuild with fewer volumes leaves no trace of the earlier records.
    FakeSystem small;
    small.add_disk("sdc", "8:32", 2048, USB);
    QCOMPARE(get_disk_list(table, small.paths()), 1);
    QCOMPARE(QString::fromLatin1(table[0].device), QStringLiteral("sdc"));
    const QByteArray rest(reinterpret_cast<const char *>(&table[1]), sizeof(DiskInfo) * (DISK_SLOTS - 1));
    QCOMPARE(rest.count('\0'), rest.size());

    FakeSystem empty;
    QCOMPARE(get_disk_list(table, empty.paths()), 0);
}

void TestDriveTable::serial_lines_of_unprobed_volumes()
{
    QCOMPARE(disk_serial_lines(m_table, 2, m_system.paths()), QByteArray("disksernum = 0 \ndisksernum = 0 \n"));
    QCOMPARE(disk_serial_lines(m_table, 0, m_system.paths()), QByteArray());
}

void TestDriveTable::natural_order_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("less");

    QTest::newRow("partition numbers") << "sda1" << "sda2" << true;
    QTest::newRow("disk letters") << "sda2" << "sdb" << true;
    QTest::newRow("disk before its partitions") << "sda" << "sda1" << true;
    QTest::newRow("numbers, not characters") << "mmcblk0p2" << "mmcblk0p10" << true;
    QTest::newRow("...the other way round") << "mmcblk0p10" << "mmcblk0p2" << false;
    QTest::newRow("earlier number first") << "nvme1n1" << "nvme0n1p10" << false;
    QTest::newRow("loop numbers") << "loop9" << "loop10" << true;
    QTest::newRow("irreflexive") << "sda1" << "sda1" << false;
}

void TestDriveTable::natural_order()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, less);
    QCOMPARE(natural_less(a, b), less);
}

void TestDriveTable::display_text_data()
{
    QTest::addColumn<QByteArray>("label");
    QTest::addColumn<quint64>("free_bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("labelled") << QByteArray("LABEL") << (quint64(1) << 30) << "LABEL (sdb1:)    1.00 GB  free of 29.72 GB ";
    QTest::newRow("no label begins with \" (\"") << QByteArray() << quint64(0)
                                                 << " (sdb1:)    0.00 GB  free of 29.72 GB ";
}

void TestDriveTable::display_text()
{
    QFETCH(QByteArray, label);
    QFETCH(quint64, free_bytes);
    QFETCH(QString, text);
    DiskInfo disk{};
    std::strcpy(disk.device, "sdb1");
    std::strcpy(disk.volume_name, label.constData());
    std::strcpy(disk.free_text, gigabyte_text(free_bytes).toLatin1().constData());
    std::strcpy(disk.total_text, gigabyte_text(CARD_BYTES).toLatin1().constData());
    QCOMPARE(disk_display_text(disk), text);
}

void TestDriveTable::gigabyte_text_format_data()
{
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("nothing") << quint64(0) << "0.00 GB ";
    QTest::newRow("one GiB") << (quint64(1) << 30) << "1.00 GB ";
    QTest::newRow("32 GB card") << CARD_BYTES << "29.72 GB ";
    QTest::newRow("half a hundredth rounds up") << quint64(5368710) << "0.01 GB ";
    QTest::newRow("4 TB disk") << quint64(4000787030016ULL) << "3726.02 GB ";
}

void TestDriveTable::gigabyte_text_format()
{
    QFETCH(quint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(gigabyte_text(bytes), text);
}

void TestDriveTable::source_rules_data()
{
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("path");
    QTest::addColumn<quint64>("size");

    QTest::newRow("first drive") << 0 << "/dev/sdb1" << quint64(CARD_BYTES);
    QTest::newRow("second drive") << 1 << "/dev/mmcblk0p1" << quint64(65536);
    QTest::newRow("image row") << 2 << "/tmp/card.img" << quint64(777);
    QTest::newRow("later image row") << 5 << "/tmp/card.img" << quint64(777);
    QTest::newRow("nothing selected") << -1 << QString() << quint64(0);
}

void TestDriveTable::source_rules()
{
    QFETCH(int, selected);
    QFETCH(QString, path);
    QFETCH(quint64, size);

    std::memset(disk_list, 0, sizeof disk_list);
    std::strcpy(disk_list[0].device, "sdb1");
    disk_list[0].total_size = CARD_BYTES;
    std::strcpy(disk_list[1].device, "mmcblk0p1");
    disk_list[1].total_size = 65536;
    disk_num = 2;
    image_path = QStringLiteral("/tmp/card.img");
    image_size = 777;
    select_disk = selected;

    QCOMPARE(source_path(), path);
    QCOMPARE(source_size(), size);

    std::memset(disk_list, 0, sizeof disk_list);
    disk_num = 0;
    select_disk = -1;
    image_path.clear();
    image_size = 0;
}

void TestDriveTable::volume_serial_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("uuid");
    QTest::addColumn<int>("serial");

    QTest::newRow("FAT, high bit set") << QByteArray("vfat") << QByteArray("ABCD-1234") << int(0xABCD1234u - 0x100000000LL);
    QTest::newRow("FAT, lower-case digits") << QByteArray("vfat") << QByteArray("abcd-1234") << int(0xABCD1234u - 0x100000000LL);
    QTest::newRow("exFAT") << QByteArray("exfat") << QByteArray("1A2B-3C4D") << 0x1A2B3C4D;
    QTest::newRow("NTFS: low 32 bits") << QByteArray("ntfs") << QByteArray("1A2B3C4D5E6F7A0B") << 0x5E6F7A0B;
    QTest::newRow("ext4 has none") << QByteArray("ext4") << QByteArray("0b8a6f0e-4c2d-4e8f-9a61-3f1d2c4b5a69") << 0;
    QTest::newRow("no UUID") << QByteArray("vfat") << QByteArray() << 0;
    QTest::newRow("not hex") << QByteArray("vfat") << QByteArray("XBCD-1234") << 0;
    QTest::newRow("prefix is no digit") << QByteArray("vfat") << QByteArray("0x12-3456") << 0;
    QTest::newRow("too short") << QByteArray("vfat") << QByteArray("ABC-1234") << 0;
}

void TestDriveTable::volume_serial()
{
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, uuid);
    QFETCH(int, serial);
    QCOMPARE(volume_serial_from_uuid(type, uuid), serial);
}

void TestDriveTable::real_loop_device_listed()
{
    if (::geteuid() != 0)
        QSKIP("attaching a loop device needs root");
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("card.img"));
    QFile file(image);
    QVERIFY(file.open(QIODevice::WriteOnly));
    const QByteArray volume = fat12_volume("TESSARO    ");
    file.write(volume);
    file.close();

    QProcess losetup;
    losetup.start(QStringLiteral("losetup"), {QStringLiteral("--find"), QStringLiteral("--show"), image});
    if (!losetup.waitForFinished(10000) || losetup.exitStatus() != QProcess::NormalExit || losetup.exitCode() != 0)
        QSKIP(qPrintable(QStringLiteral("losetup could not attach a loop device: ")
                         + QString::fromLocal8Bit(losetup.readAllStandardError()).trimmed() + losetup.errorString()));
    LoopAttachment loop;
    loop.device = QString::fromLocal8Bit(losetup.readAllStandardOutput()).trimmed();
    QVERIFY2(loop.device.startsWith(QLatin1String("/dev/loop")), qPrintable(loop.device));

    DiskInfo table[DISK_SLOTS];
    const int count = get_disk_list(table);
    const DiskInfo *record = find_record(table, count, loop.device.mid(5));
    QVERIFY2(record, qPrintable(listed_names(table, count).join(' ')));
    QCOMPARE(record->total_size, quint64(volume.size()));
    QCOMPARE(QString::fromLatin1(record->total_text), QStringLiteral("0.00 GB "));
    QCOMPARE(QString::fromLatin1(record->free_text), QStringLiteral("0.00 GB "));
    QCOMPARE(QByteArray(record->volume_name), QByteArray("TESSARO"));
    QCOMPARE(QByteArray(record->fs_name), QByteArray("vfat"));
    QCOMPARE(disk_serial_lines(record, 1), QByteArray("disksernum = -1412623820 \n"));
}

QTEST_GUILESS_MAIN(TestDriveTable)
#include "test_drive_table.moc"

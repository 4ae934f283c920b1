// A real FAT32 card, written file by file with mtools as a camera writes
// it, where one clip was deleted and a later one took its place: the
// allocator fills the hole first, so the later clip lies in two pieces with
// other recordings between them. A small FAT32 reader gives the manifest
// from the cluster chains, not from what was asked for.
#pragma once

#include "card_builder/card_layout.h"
#include "card_builder/media_encoder.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace card {

// Whether mformat, mcopy, mdel, mmd, mdir and minfo run (and sfdisk when a
// partition table is wanted); if not, `why` says what is missing.
bool mtools_available(bool partition_table, QString *why = nullptr);

// One directory entry, live or deleted.
struct FatEntry {
    QString path;  // "DCIM/100MEDIA/GX010001.MP4"; a deleted entry's first letter reads '?'
    std::uint64_t size = 0;
    std::uint32_t first_cluster = 0;
    std::vector<std::uint32_t> clusters;  // the chain from the FAT; empty for a deleted entry
    bool directory = false;
    bool deleted = false;
};

// A FAT32 volume as its boot sector, FSInfo sector, FAT and directories
// describe it. Positions are bytes from the start of the image.
struct FatVolume {
    std::uint64_t partition_at = 0;  // 0 for a volume without a partition table
    std::uint64_t cluster_size = 0;
    std::uint64_t data_start = 0;  // cluster 2
    std::uint64_t fsinfo_at = 0;
    std::uint32_t clusters = 0;  // data clusters in the volume
    std::uint32_t next_free_hint = 0;
    std::vector<FatEntry> entries;  // depth first, in directory order

    std::uint64_t cluster_pos(std::uint32_t cluster) const { return data_start + (cluster - 2) * cluster_size; }
    // The entry's runs of consecutive clusters, in file order, the last
    // one cut at the file's size.
    std::vector<Extent> extents(const FatEntry &entry) const;
    const FatEntry *find(const QString &name, bool deleted = false) const;  // by path or file name
};

// Reads the volume of `image`: the first partition of an MBR or a GPT, or a
// volume from byte 0. False with the reason in `error`.
bool read_fat32(const QString &image, FatVolume *volume, QString *error);

struct Fat32Options {
    Fat32Options();

    // FAT32 with 32 KiB clusters needs at least 65525 of them, over 2 GiB.
    // The image is sparse: only what mtools writes takes disk space.
    std::uint64_t size = 4 * 1024 * MIB;
    // Where the partition starts (a whole sector), as SD cards come
    // formatted; 0: no partition table, the volume from byte 0.
    std::uint64_t partition_at = 4 * MIB;
    // The partition in a GPT rather than an MBR.
    bool gpt = false;
    QString folder = QStringLiteral("DCIM/100MEDIA");
    ClipOptions clip;  // 640×360, 3000 kbit/s, brand mp41; each clip its own pattern
    double seconds = 2.0;       // clips A, B and C
    double later_seconds = 5.0;  // clip D, written into B's hole
};

struct Fat32Card {
    bool ok = false;
    QString error;
    // Every file the camera wrote, in the order written, with the extents its
    // cluster chain gives. The deleted clip keeps the extents it had; where
    // D was written over them they hold D's bytes. sha256 is the file's own.
    Manifest manifest;
    QStringList deleted;        // names in `manifest` that are no longer on the card
    std::vector<Content> files;  // what was written, in the same order as `manifest`
    FatVolume volume;
};

// Formats `image_path` (replacing any file there) and writes, in camera
// order, MARK0001.JPG, GX010001.MP4 (A), MARK0002.JPG, GX010002.MP4 (B),
// MARK0003.JPG, GX010003.MP4 (C), MARK0004.JPG; deletes B; points the
// FSInfo next-free hint at B's first cluster; then writes GX010004.MP4 (D)
// and MARK0005.JPG. Clips and photos are encoded into `cache_dir`.
Fat32Card fat32_card(const Fat32Options &options, const QString &image_path, const QString &cache_dir);

}  // namespace card

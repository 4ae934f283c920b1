// What goes on a built card image, and where: files laid out as an action
// camera leaves them on its card (contiguous, split into extents, or a main
// recording interleaved with its proxy), with noise everywhere else.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

namespace card {

constexpr std::uint64_t STEP = 32768;  // the card's 32 KiB grid
constexpr std::uint64_t KIB = 1024;
constexpr std::uint64_t MIB = 1024 * KIB;
// Marks a position left to the planner: the next free 32 KiB boundary after
// everything placed before.
constexpr std::uint64_t NEXT_FREE = ~std::uint64_t(0);
// Positions and sizes are bounded so that no sum of them can overflow.
constexpr std::uint64_t MAX_CARD = std::uint64_t(1) << 40;

constexpr std::uint64_t align_up(std::uint64_t v) { return (v + STEP - 1) / STEP * STEP; }

// `length` bytes of a file, from `file_offset` in the file, at `card_pos` on the card.
struct Extent {
    std::uint64_t card_pos = 0;
    std::uint64_t file_offset = 0;
    std::uint64_t length = 0;
};
bool operator==(const Extent &a, const Extent &b);

// The bytes of one file: held in memory, or a file on disk that is read
// while the image is written (so large clips need not sit in memory).
struct Content {
    QString name;
    QString path;     // empty for in-memory content
    QByteArray data;  // the content when `path` is empty

    static Content bytes(const QString &name, const QByteArray &data);
    // `name` defaults to the file name of `path`.
    static Content file(const QString &path, const QString &name = {});
};

struct Placement {
    enum Kind { Contiguous, Split, Interleaved };
    Kind kind = Contiguous;
    Content file;
    Content second;                // Interleaved: the proxy written in turn with `file`
    std::uint64_t at = NEXT_FREE;  // Contiguous and Interleaved: first byte
    std::uint64_t gap = 0;         // noise left before a NEXT_FREE placement
    std::vector<Extent> extents;   // Split: in any order; parts of the file may be left out
    std::uint64_t run = 0;         // Interleaved: bytes of `file` per run
    std::uint64_t second_run = 0;  // Interleaved: bytes of `second` per run; 0 means `run`
};

enum class Noise {
    Clean,            // matches no start, box or frame signature, holds no FF D9
    StrayEndMarkers,  // the same with one FF D9 pair per 64 KiB, never inside a file
};

struct Layout {
    std::uint64_t size = 0;       // rounded up to 32 KiB; 0: the end of the last file plus `tail`
    std::uint64_t tail = 1 * MIB;
    std::uint64_t seed = 1;
    Noise noise = Noise::Clean;
    std::vector<Placement> placements;

    Layout &contiguous(const Content &file, std::uint64_t at = NEXT_FREE, std::uint64_t gap = 0);
    Layout &split(const Content &file, const std::vector<Extent> &extents);
    // Runs of `run` bytes of `main` and `second_run` (0: `run`) bytes of
    // `proxy` in turn, each run on a 32 KiB boundary, from `at`; when one
    // file is used up the other goes on alone.
    Layout &interleaved(const Content &main, const Content &proxy, std::uint64_t run,
                        std::uint64_t at = NEXT_FREE, std::uint64_t second_run = 0);
};

// Where one file went. Extents are in the order they were placed.
struct PlacedFile {
    QString name;
    std::uint64_t size = 0;
    QByteArray sha256;  // lower-case hex of the whole file
    std::vector<Extent> extents;
    // Card position of the file's first byte, or NEXT_FREE if it was left out.
    std::uint64_t start() const;
};

struct Manifest {
    std::uint64_t image_size = 0;
    std::uint64_t seed = 0;
    Noise noise = Noise::Clean;
    std::vector<PlacedFile> files;
    // Null when no file has that name.
    const PlacedFile *find(const QString &name) const;
};

// Resolves every position of `layout` and checks it: extents inside their
// file, no two extents overlapping, everything inside the image. On failure
// returns false with the reason in `error`.
bool plan_card(const Layout &layout, Manifest *manifest, QString *error);

QString noise_name(Noise noise);
bool noise_from_name(const QString &name, Noise *noise);

}  // namespace card

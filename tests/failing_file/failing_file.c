/* A FUSE file system with one file, card.img, that serves the bytes of a
 * real image file except over chosen ranges, where every read fails with
 * EIO: a failing card for the tests, as a real kernel file.
 *
 *   failing-file IMAGE FROM-TO[,FROM-TO...] MOUNTPOINT [fuse options]
 */
#define FUSE_USE_VERSION 31
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int image_fd = -1;
static off_t image_size;
#define MAX_RANGES 16
static off_t bad_from[MAX_RANGES], bad_to[MAX_RANGES];
static int ranges;
static const char *file_path = "/card.img";

static int ff_getattr(const char *path, struct stat *st, struct fuse_file_info *fi)
{
    (void)fi;
    memset(st, 0, sizeof *st);
    if (strcmp(path, "/") == 0) {
        st->st_mode = S_IFDIR | 0555;
        st->st_nlink = 2;
        return 0;
    }
    if (strcmp(path, file_path) != 0)
        return -ENOENT;
    st->st_mode = S_IFREG | 0444;
    st->st_nlink = 1;
    st->st_size = image_size;
    return 0;
}

static int ff_readdir(const char *path, void *buf, fuse_fill_dir_t fill, off_t offset, struct fuse_file_info *fi,
                      enum fuse_readdir_flags flags)
{
    (void)offset;
    (void)fi;
    (void)flags;
    if (strcmp(path, "/") != 0)
        return -ENOENT;
    fill(buf, ".", NULL, 0, 0);
    fill(buf, "..", NULL, 0, 0);
    fill(buf, file_path + 1, NULL, 0, 0);
    return 0;
}

static int ff_open(const char *path, struct fuse_file_info *fi)
{
    if (strcmp(path, file_path) != 0)
        return -ENOENT;
    if ((fi->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    fi->direct_io = 1; /* every read reaches us: no page cache in between */
    return 0;
}

static int ff_read(const char *path, char *buf, size_t size, off_t offset, struct fuse_file_info *fi)
{
    (void)path;
    (void)fi;
    for (int r = 0; r < ranges; ++r) {
        if (offset < bad_to[r] && (off_t)(offset + size) > bad_from[r]) {
            if (offset >= bad_from[r])
                return -EIO;
            size = (size_t)(bad_from[r] - offset); /* deliver up to the bad range, as a disk does */
        }
    }
    const ssize_t n = pread(image_fd, buf, size, offset);
    return n < 0 ? -errno : (int)n;
}

static const struct fuse_operations ops = {
    .getattr = ff_getattr,
    .readdir = ff_readdir,
    .open = ff_open,
    .read = ff_read,
};

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: failing-file IMAGE FROM-TO[,FROM-TO...] MOUNTPOINT [fuse options]\n");
        return 1;
    }
    image_fd = open(argv[1], O_RDONLY);
    if (image_fd < 0) {
        perror(argv[1]);
        return 1;
    }
    image_size = lseek(image_fd, 0, SEEK_END);
    for (char *p = argv[2]; *p && ranges < MAX_RANGES; ++ranges) {
        bad_from[ranges] = strtoll(p, &p, 10);
        if (*p++ != '-')
            return fprintf(stderr, "bad range list %s\n", argv[2]), 1;
        bad_to[ranges] = strtoll(p, &p, 10);
        if (*p == ',')
            ++p;
    }
    /* fuse_main sees the program name, the mount point and the options. */
    argv[2] = argv[0];
    return fuse_main(argc - 2, argv + 2, &ops, NULL);
}

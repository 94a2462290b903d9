/*
 * vorlane-ntfsread DEVICE PATH: writes the file PATH ("/folder/name", exact case) of the NTFS partition
 * DEVICE to standard output, through ntfs-3g's library and in pieces of 4 MiB. Reading a large file
 * through the FUSE mount costs a round trip per 128 KiB. The partition is opened read-only (it may be
 * mounted read-only at the same time). Exit 0 when the whole file was written out.
 */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <ntfs-3g/types.h>
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/volume.h>

enum { kPiece = 4 << 20 };

static int fail(const char *what) {
    fprintf(stderr, "vorlane-ntfsread: %s: %s\n", what, strerror(errno));
    return 1;
}

static int write_all(const char *data, size_t size) {
    while (size) {
        ssize_t n = write(STDOUT_FILENO, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        data += n;
        size -= (size_t)n;
    }
    return 0;
}

int main(int argc, char **argv) {
    if (argc != 3 || argv[2][0] != '/') {
        fprintf(stderr, "usage: vorlane-ntfsread DEVICE /PATH > data\n");
        return 2;
    }
    ntfs_volume *vol = ntfs_mount(argv[1], NTFS_MNT_RDONLY);
    if (!vol) return fail("the partition cannot be opened");
    int status = 1;
    ntfs_attr *data = NULL;
    char *buffer = malloc(kPiece);
    ntfs_inode *file = ntfs_pathname_to_inode(vol, NULL, argv[2]);
    if (!file) { fail("the file is missing"); goto done; }
    data = ntfs_attr_open(file, AT_DATA, AT_UNNAMED, 0);
    if (!data || !buffer) { fail("the file cannot be opened"); goto done; }
    for (s64 offset = 0; offset < data->data_size;) {
        s64 want = data->data_size - offset < kPiece ? data->data_size - offset : kPiece;
        s64 n = ntfs_attr_pread(data, offset, want, buffer);
        if (n <= 0) { fail("reading the file failed"); goto done; }
        if (write_all(buffer, (size_t)n)) { fail("writing the data out failed"); goto done; }
        offset += n;
    }
    status = 0;
done:
    if (data) ntfs_attr_close(data);
    if (file) ntfs_inode_close(file);
    free(buffer);
    ntfs_umount(vol, FALSE);
    return status;
}

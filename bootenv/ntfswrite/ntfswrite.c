/*
 * vorlane-ntfswrite DEVICE PATH: stores standard input as a new file PATH ("/folder/name", folders
 * existing) on the unmounted NTFS partition DEVICE, through ntfs-3g's library. Writing a large file
 * through the FUSE mount costs several metadata updates per 4 KiB request; the library writes it in
 * pieces of 4 MiB. Refuses hibernated or unclean volumes (no read-only fallback). Exit 0 on success.
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
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>

enum { kPiece = 4 << 20 };

static int fail(const char *what) {
    fprintf(stderr, "vorlane-ntfswrite: %s: %s\n", what, strerror(errno));
    return 1;
}

int main(int argc, char **argv) {
    if (argc != 3 || argv[2][0] != '/') {
        fprintf(stderr, "usage: vorlane-ntfswrite DEVICE /PATH < data\n");
        return 2;
    }
    const char *device = argv[1];
    char *path = argv[2];
    char *slash = strrchr(path, '/');
    const char *leaf = slash + 1;
    if (!*leaf) {
        fprintf(stderr, "vorlane-ntfswrite: no file name\n");
        return 2;
    }
    ntfs_volume *vol = ntfs_mount(device, NTFS_MNT_EXCLUSIVE);
    if (!vol) return fail("the partition cannot be opened for writing");
    int status = 1;
    ntfs_inode *dir = NULL, *file = NULL;
    ntfs_attr *data = NULL;
    ntfschar *name = NULL;
    char *buffer = malloc(kPiece);
    *slash = '\0';
    dir = ntfs_pathname_to_inode(vol, NULL, *path ? path : "/");
    *slash = '/';
    if (!dir) { fail("the folder is missing"); goto done; }
    ntfs_inode *existing = ntfs_pathname_to_inode(vol, NULL, path);
    if (existing) {
        ntfs_inode_close(existing);
        errno = EEXIST;
        fail("the file exists already");
        goto done;
    }
    int length = ntfs_mbstoucs(leaf, &name);
    if (length <= 0 || length > 255) { fail("the file name cannot be used"); goto done; }
    file = ntfs_create(dir, const_cpu_to_le32(0), name, (u8)length, S_IFREG);
    if (!file) { fail("the file cannot be created"); goto done; }

    data = ntfs_attr_open(file, AT_DATA, AT_UNNAMED, 0);
    if (!data || !buffer) { fail("the file cannot be opened"); goto done; }
    s64 offset = 0;
    for (;;) {
        size_t filled = 0;
        while (filled < kPiece) {
            ssize_t n = read(STDIN_FILENO, buffer + filled, kPiece - filled);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) { fail("reading the data failed"); goto done; }
            if (n == 0) break;
            filled += (size_t)n;
        }
        if (filled == 0) break;
        size_t written = 0;
        while (written < filled) {
            s64 n = ntfs_attr_pwrite(data, offset + (s64)written, (s64)(filled - written), buffer + written);
            if (n <= 0) { fail("writing the file failed (is the partition full?)"); goto done; }
            written += (size_t)n;
        }
        offset += (s64)filled;
        if (filled < kPiece) break;
    }
    status = 0;
done:
    if (data) ntfs_attr_close(data);
    /* Closing the file updates its entry in the folder: done with the folder still open. */
    if (file && (dir ? ntfs_inode_close_in_dir(file, dir) : ntfs_inode_close(file))) status = fail("closing the file failed");
    if (dir) ntfs_inode_close(dir);
    free(name);
    free(buffer);
    if (ntfs_umount(vol, FALSE)) status = fail("closing the partition failed");
    return status;
}

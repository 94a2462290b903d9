/*
 * vorlane-ntfsfill VOLUME < list: fills an unmounted NTFS (a partition or a file holding one) through
 * ntfs-3g's library, without FUSE. Each line of the list is "PATH<TAB>SOURCE": PATH is the file to make
 * ("/folder/name", missing folders are made), SOURCE a file on this machine to copy or
 * "random:BYTES:SEED" for that many bytes that do not compress. Exit 0 when every file was written.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
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

enum { kPiece = 1 << 20 };

static int fail(const char *what, const char *name) {
    fprintf(stderr, "vorlane-ntfsfill: %s %s: %s\n", what, name, strerror(errno));
    return 1;
}

/* The inode of folder path (made when missing, with its parents); NULL on failure. */
static ntfs_inode *folder(ntfs_volume *vol, char *path) {
    ntfs_inode *found = ntfs_pathname_to_inode(vol, NULL, *path ? path : "/");
    if (found || !*path) return found;
    char *slash = strrchr(path, '/');
    *slash = '\0';
    ntfs_inode *parent = folder(vol, path);
    *slash = '/';
    if (!parent) return NULL;
    ntfschar *name = NULL;
    int length = ntfs_mbstoucs(slash + 1, &name);
    ntfs_inode *made = length > 0 ? ntfs_create(parent, const_cpu_to_le32(0), name, (u8)length, S_IFDIR) : NULL;
    free(name);
    if (made && ntfs_inode_close_in_dir(made, parent)) made = NULL;
    ntfs_inode_close(parent);
    return made ? ntfs_pathname_to_inode(vol, NULL, path) : NULL;
}

/* Next piece of the content: from the source file, or from a generator for random content. */
struct content {
    int fd;
    uint64_t left;
    uint64_t state;
};

static ssize_t next_piece(struct content *c, char *buffer) {
    if (c->fd >= 0) return read(c->fd, buffer, kPiece);
    size_t n = c->left < kPiece ? (size_t)c->left : kPiece;
    for (size_t i = 0; i + 8 <= n; i += 8) {
        c->state ^= c->state << 13;
        c->state ^= c->state >> 7;
        c->state ^= c->state << 17;
        memcpy(buffer + i, &c->state, 8);
    }
    c->left -= n;
    return (ssize_t)n;
}

static int put(ntfs_volume *vol, char *path, const char *source, char *buffer) {
    struct content c = {-1, 0, 0};
    unsigned long long bytes = 0, seed = 0;
    if (sscanf(source, "random:%llu:%llu", &bytes, &seed) == 2) {
        c.left = bytes;
        c.state = seed * 2654435761u + 1;
    } else if ((c.fd = open(source, O_RDONLY)) < 0) {
        return fail("cannot read", source);
    }
    char *slash = strrchr(path, '/');
    *slash = '\0';
    ntfs_inode *dir = folder(vol, path);
    *slash = '/';
    ntfschar *name = NULL;
    int length = ntfs_mbstoucs(slash + 1, &name);
    ntfs_inode *file = dir && length > 0 ? ntfs_create(dir, const_cpu_to_le32(0), name, (u8)length, S_IFREG) : NULL;
    ntfs_attr *data = file ? ntfs_attr_open(file, AT_DATA, AT_UNNAMED, 0) : NULL;
    int status = data ? 0 : fail("cannot make", path);
    s64 offset = 0;
    ssize_t n;
    while (!status && (n = next_piece(&c, buffer)) > 0) {
        for (ssize_t done = 0; done < n;) {
            s64 wrote = ntfs_attr_pwrite(data, offset + done, n - done, buffer + done);
            if (wrote <= 0) {
                status = fail("cannot write", path);
                break;
            }
            done += wrote;
        }
        offset += n;
    }
    if (data) ntfs_attr_close(data);
    if (file && ntfs_inode_close_in_dir(file, dir)) status = fail("cannot close", path);
    if (dir) ntfs_inode_close(dir);
    if (c.fd >= 0) close(c.fd);
    free(name);
    return status;
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: vorlane-ntfsfill VOLUME < list of PATH<TAB>SOURCE\n");
        return 2;
    }
    ntfs_volume *vol = ntfs_mount(argv[1], NTFS_MNT_EXCLUSIVE);
    if (!vol) return fail("cannot open", argv[1]);
    char *buffer = malloc(kPiece);
    char line[8192];
    int status = buffer ? 0 : 1;
    while (!status && fgets(line, sizeof line, stdin)) {
        line[strcspn(line, "\r\n")] = '\0';
        char *tab = strchr(line, '\t');
        if (!tab || line[0] != '/') continue;
        *tab = '\0';
        status = put(vol, line, tab + 1, buffer);
    }
    free(buffer);
    if (ntfs_umount(vol, FALSE)) status = fail("cannot close", argv[1]);
    return status;
}

// Preloaded into vosctl: notes each block write to and each fdatasync of a
// working file (*.vrec) with its monotonic time, one line each, in the file
// that VOS_SYNC_SPY_LOG names. With VOS_SYNC_SPY_DELAY_MS every fsync and
// fdatasync, of any file or folder, takes that much longer, as on a slow disk;
// with VOS_SYNC_SPY_HOLD each waits for as long as the file it names exists.
// VOS_SYNC_SPY_NO_LINKS=1 makes link, linkat and renameat2 fail as on FAT
// and exFAT (EPERM, EINVAL), and =2 rename too (EPERM); VOS_SYNC_SPY_FOLDER_EIO=N makes the N-th fsync
// of a folder and every one after it fail with EIO; VOS_SYNC_SPY_FILE_ENOSPC=1
// makes every fsync of a regular file fail with ENOSPC, as on a full disk.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

static int IsWorkingFile(int fd) {
    char link[64];
    char target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, target, sizeof target - 1);
    return length > 5 && memcmp(target + length - 5, ".vrec", 5) == 0;
}

static void Note(char what, int fd) {
    const char* path = getenv("VOS_SYNC_SPY_LOG");
    if (path == NULL || !IsWorkingFile(fd)) return;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    char line[64];
    const int length = snprintf(line, sizeof line, "%c %lld\n", what, (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
    const int log = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (log < 0) return;
    (void)!write(log, line, (size_t)length);
    close(log);
}

ssize_t writev(int fd, const struct iovec* parts, int count) {
    static ssize_t (*real)(int, const struct iovec*, int);
    if (real == NULL) {
        void* symbol = dlsym(RTLD_NEXT, "writev");
        memcpy(&real, &symbol, sizeof real);
    }
    const ssize_t result = real(fd, parts, count);
    Note('w', fd);
    return result;
}

static void Delay(void) {
    const char* hold = getenv("VOS_SYNC_SPY_HOLD");
    const struct timespec tick = {0, 10000000L};
    while (hold != NULL && access(hold, F_OK) == 0) nanosleep(&tick, NULL);
    const char* text = getenv("VOS_SYNC_SPY_DELAY_MS");
    if (text == NULL) return;
    const long ms = atol(text);
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0) {
    }
}

int fsync(int fd) {
    static int (*real)(int);
    if (real == NULL) {
        void* symbol = dlsym(RTLD_NEXT, "fsync");
        memcpy(&real, &symbol, sizeof real);
    }
    Delay();
    struct stat file;
    if (getenv("VOS_SYNC_SPY_FILE_ENOSPC") != NULL && fstat(fd, &file) == 0 && S_ISREG(file.st_mode)) {
        errno = ENOSPC;
        return -1;
    }
    static int folders;
    const char* failing = getenv("VOS_SYNC_SPY_FOLDER_EIO");
    struct stat info;
    if (failing != NULL && fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) &&
        __atomic_add_fetch(&folders, 1, __ATOMIC_RELAXED) >= atoi(failing)) {
        errno = EIO;
        return -1;
    }
    return real(fd);
}

int fdatasync(int fd) {
    static int (*real)(int);
    if (real == NULL) {
        void* symbol = dlsym(RTLD_NEXT, "fdatasync");
        memcpy(&real, &symbol, sizeof real);
    }
    Delay();
    const int result = real(fd);
    Note('s', fd);
    return result;
}

static int NoLinks(void) { return getenv("VOS_SYNC_SPY_NO_LINKS") != NULL; }

int link(const char* from, const char* to) {
    static int (*real)(const char*, const char*);
    if (real == NULL) {
        void* symbol = dlsym(RTLD_NEXT, "link");
        memcpy(&real, &symbol, sizeof real);
    }
    if (NoLinks()) {
        errno = EPERM;
        return -1;
    }
    return real(from, to);
}

int linkat(int fromFd, const char* from, int toFd, const char* to, int flags) {
    static int (*real)(int, const char*, int, const char*, int);
    if (real == NULL) {
        void* symbol = dlsym(RTLD_NEXT, "linkat");
        memcpy(&real, &symbol, sizeof real);
    }
    if (NoLinks()) {
        errno = EPERM;
        return -1;
    }
    return real(fromFd, from, toFd, to, flags);
}

int renameat2(int fromFd, const char* from, int toFd, const char* to, unsigned int flags) {
    static int (*real)(int, const char*, int, const char*, unsigned int);
    if (real == NULL) {
        void* symbol = dlsym(RTLD_NEXT, "renameat2");
        memcpy(&real, &symbol, sizeof real);
    }
    if (NoLinks() && flags != 0) {
        errno = EINVAL;
        return -1;
    }
    return real(fromFd, from, toFd, to, flags);
}

int rename(const char* from, const char* to) {
    static int (*real)(const char*, const char*);
    if (real == NULL) {
        void* symbol = dlsym(RTLD_NEXT, "rename");
        memcpy(&real, &symbol, sizeof real);
    }
    const char* level = getenv("VOS_SYNC_SPY_NO_LINKS");
    if (level != NULL && atoi(level) >= 2) {
        errno = EPERM;
        return -1;
    }
    return real(from, to);
}

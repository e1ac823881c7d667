// Preloaded into vosctl: notes each block write to and each fdatasync of a
// working file (*.vrec) with its monotonic time, one line each, in the file
// that VOS_SYNC_SPY_LOG names. With VOS_SYNC_SPY_DELAY_MS every fsync and
// fdatasync, of any file or folder, takes that much longer, as on a slow disk.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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

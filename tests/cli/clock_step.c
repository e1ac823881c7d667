// Preloaded into vosctl: the system clock (CLOCK_REALTIME) steps as a time
// service would set it. VOS_CLOCK_STEPS lists "PATH=MICROS" pairs, comma
// separated: once the file PATH exists, the clock reads MICROS later
// (forward positive), for good.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

typedef int (*ClockGettime)(clockid_t, struct timespec*);

static ClockGettime Real(void) {
    static ClockGettime real;
    if (real == NULL) {
        void* symbol = dlsym(RTLD_NEXT, "clock_gettime");
        memcpy(&real, &symbol, sizeof real);
    }
    return real;
}

#define MAX_STEPS 8

// The sum of the steps whose file has appeared; each, once seen, stays.
static long long OffsetMicros(void) {
    static int seen[MAX_STEPS];
    const char* steps = getenv("VOS_CLOCK_STEPS");
    long long offset = 0;
    for (int i = 0; i < MAX_STEPS && steps != NULL && *steps != '\0'; ++i) {
        const char* equals = strchr(steps, '=');
        if (equals == NULL) break;
        char path[4096];
        const size_t length = (size_t)(equals - steps) < sizeof path - 1 ? (size_t)(equals - steps) : sizeof path - 1;
        memcpy(path, steps, length);
        path[length] = '\0';
        char* end = NULL;
        const long long micros = strtoll(equals + 1, &end, 10);
        if (!__atomic_load_n(&seen[i], __ATOMIC_ACQUIRE) && access(path, F_OK) == 0) {
            __atomic_store_n(&seen[i], 1, __ATOMIC_RELEASE);
        }
        if (__atomic_load_n(&seen[i], __ATOMIC_ACQUIRE)) offset += micros;
        steps = end != NULL && *end == ',' ? end + 1 : "";
    }
    return offset;
}

int clock_gettime(clockid_t clock, struct timespec* time) {
    const int result = Real()(clock, time);
    if (result != 0 || (clock != CLOCK_REALTIME && clock != CLOCK_REALTIME_COARSE)) return result;
    const long long nanos = (long long)time->tv_sec * 1000000000LL + time->tv_nsec + OffsetMicros() * 1000;
    time->tv_sec = nanos / 1000000000LL;
    time->tv_nsec = nanos % 1000000000LL;
    return 0;
}

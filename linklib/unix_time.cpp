#include "unix_time.h"

#include <errno.h>
#include <time.h>

// Sleeps go in pieces below one second, the limit of the classic microsecond sleep.
static const uint64_t sMAX_SLEEP_PIECE_US = 999999;

uint64_t aTime_GetMSTicks(void) {
    // Every caller takes differences, so a clock that never jumps with the
    // time of day keeps time-outs honest when the wall clock is set.
    struct timespec now;
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) {
        return 0;
    }
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

aErr aTime_MSSleep(uint64_t milliseconds) {
    osMSSleep(milliseconds);
    return aErrNone;
}

void osMSSleep(uint64_t milliseconds) {
    uint64_t remaining = milliseconds * 1000u;
    while (remaining > 0) {
        const uint64_t piece = remaining < sMAX_SLEEP_PIECE_US ? remaining : sMAX_SLEEP_PIECE_US;
        // A signal may cut a piece short; the rest of the piece is slept again
        // so the whole time passes.
        struct timespec request = {0, static_cast<long>(piece * 1000u)};
        struct timespec left;
        while (nanosleep(&request, &left) != 0 && errno == EINTR) {
            request = left;
        }
        remaining -= piece;
    }
}

/* The least a recorder without a window must do: once a second, stamp the
 * time of day into an 80-byte record and write it at the next position of a
 * file. Memory and wake-ups of kestrun-record are measured against this.
 *   bare_ticker FILE SECONDS */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: bare_ticker FILE SECONDS\n");
        return 2;
    }
    const int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    const long seconds = strtol(argv[2], NULL, 10);
    struct timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (long i = 0; i < seconds; ++i) {
        next.tv_sec += 1;
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, NULL) != 0) {
        }
        unsigned char record[80];
        memset(record, 0, sizeof record);
        const time_t now = time(NULL);
        struct tm local;
        localtime_r(&now, &local);
        record[0] = 8;
        record[4] = 1;
        record[8] = (unsigned char)local.tm_hour;
        record[10] = (unsigned char)local.tm_min;
        record[12] = (unsigned char)local.tm_sec;
        if (pwrite(fd, record, sizeof record, (off_t)(i * 80)) != (ssize_t)sizeof record) {
            perror(argv[1]);
            return 1;
        }
    }
    return close(fd) == 0 ? 0 : 1;
}

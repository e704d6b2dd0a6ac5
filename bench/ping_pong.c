/* The transport's own limit for one exchange: two processes that this program
 * forks pass a 16-byte request frame and an 8-byte reply frame back and forth
 * over a Unix-domain stream socket with one blocking write and one blocking
 * read each, nothing more. Prints the median nanoseconds per round trip of
 * BATCHES batches of ROUNDS round trips.
 *   ping_pong [ROUNDS [BATCHES]] */
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static int Full(ssize_t n, size_t want) {
    return n == (ssize_t)want;
}

static double Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e9 + (double)t.tv_nsec;
}

static int Compare(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

int main(int argc, char** argv) {
    const long rounds = argc > 1 ? strtol(argv[1], NULL, 10) : 20000;
    const int batches = argc > 2 ? atoi(argv[2]) : 9;
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        perror("socketpair");
        return 1;
    }
    const pid_t child = fork();
    if (child < 0) {
        perror("fork");
        return 1;
    }
    unsigned char request[16] = {0}, reply[8] = {0};
    if (child == 0) {
        close(pair[0]);
        for (;;) {
            if (!Full(recv(pair[1], request, sizeof request, MSG_WAITALL), sizeof request))
                _exit(0);
            reply[0] = request[0];
            if (!Full(send(pair[1], reply, sizeof reply, MSG_NOSIGNAL), sizeof reply)) _exit(1);
        }
    }
    close(pair[1]);
    double* per_round = calloc((size_t)batches, sizeof(double));
    for (int b = 0; b < batches; ++b) {
        const double start = Now();
        for (long i = 0; i < rounds; ++i) {
            request[0] = (unsigned char)i;
            if (!Full(send(pair[0], request, sizeof request, MSG_NOSIGNAL), sizeof request) ||
                !Full(recv(pair[0], reply, sizeof reply, MSG_WAITALL), sizeof reply)) {
                fprintf(stderr, "the round trip failed\n");
                return 1;
            }
        }
        per_round[b] = (Now() - start) / (double)rounds;
    }
    close(pair[0]);
    waitpid(child, NULL, 0);
    qsort(per_round, (size_t)batches, sizeof(double), Compare);
    printf("ping_pong median_ns %.0f min_ns %.0f max_ns %.0f\n", per_round[batches / 2],
           per_round[0], per_round[batches - 1]);
    free(per_round);
    return 0;
}

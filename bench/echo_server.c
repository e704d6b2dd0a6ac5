/* The transport's limit for a host: the least server of the host's frames over
 * the same Unix-domain stream sockets. One epoll loop; each 16-byte request
 * frame is answered at once by an 8-byte reply carrying its sequence number
 * and result 1. No blocks, no state. Runs until SIGTERM or SIGINT.
 *   echo_server SOCKET_PATH */
#define _GNU_SOURCE
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

static volatile sig_atomic_t stop;
static void OnStop(int signal) {
    stop = signal;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: echo_server SOCKET_PATH\n");
        return 2;
    }
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnStop;
    sigaction(SIGTERM, &action, NULL);
    sigaction(SIGINT, &action, NULL);
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    struct sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, argv[1], sizeof address.sun_path - 1);
    unlink(argv[1]);
    if (listener < 0 || bind(listener, (struct sockaddr*)&address, sizeof address) != 0 ||
        listen(listener, 4096) != 0) {
        perror(argv[1]);
        return 1;
    }
    const int poller = epoll_create1(EPOLL_CLOEXEC);
    struct epoll_event event = {.events = EPOLLIN, .data.fd = listener};
    epoll_ctl(poller, EPOLL_CTL_ADD, listener, &event);
    struct epoll_event ready[256];
    while (!stop) {
        const int n = epoll_wait(poller, ready, 256, -1);
        for (int i = 0; i < n; ++i) {
            const int fd = ready[i].data.fd;
            if (fd == listener) {
                int client;
                while ((client = accept4(listener, NULL, NULL, SOCK_NONBLOCK | SOCK_CLOEXEC)) >=
                       0) {
                    struct epoll_event watch = {.events = EPOLLIN, .data.fd = client};
                    epoll_ctl(poller, EPOLL_CTL_ADD, client, &watch);
                }
                continue;
            }
            unsigned char in[4096], out[2048];
            const ssize_t got = recv(fd, in, sizeof in, 0);
            if (got <= 0) {
                if (got < 0 && errno == EAGAIN) continue;
                close(fd);
                continue;
            }
            size_t replies = 0;
            for (ssize_t at = 0; at + 16 <= got; at += 16, ++replies) {
                memcpy(out + 8 * replies, in + at, 4);
                memset(out + 8 * replies + 4, 0, 4);
                out[8 * replies + 4] = 1;
            }
            if (send(fd, out, 8 * replies, MSG_NOSIGNAL) < 0) close(fd);
        }
    }
    unlink(argv[1]);
    return 0;
}

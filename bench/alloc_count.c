/* Counts heap allocations of a process it is preloaded into, where another
 * process can read them while it runs: with KESTRUN_ALLOC_DIR set, the count
 * lives in the 8-byte file DIR/<pid>, shared and updated at every malloc,
 * calloc, realloc and aligned allocation (operator new ends in malloc).
 *   LD_PRELOAD=.../libkestrun_alloc_count.so KESTRUN_ALLOC_DIR=DIR program */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* old, size_t size);
extern void* __libc_memalign(size_t alignment, size_t size);

static uint64_t early_count;
static uint64_t* count = &early_count;

__attribute__((constructor)) static void MapCounter(void) {
    const char* dir = getenv("KESTRUN_ALLOC_DIR");
    if (dir == NULL) return;
    char path[4096];
    snprintf(path, sizeof path, "%s/%ld", dir, (long)getpid());
    const int fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ftruncate(fd, sizeof(uint64_t)) != 0) return;
    void* shared = mmap(NULL, sizeof(uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (shared == MAP_FAILED) return;
    *(uint64_t*)shared = early_count;
    count = shared;
}

static void Count(void) {
    __atomic_fetch_add(count, 1, __ATOMIC_RELAXED);
}

void* malloc(size_t size) {
    Count();
    return __libc_malloc(size);
}
void* calloc(size_t n, size_t size) {
    Count();
    return __libc_calloc(n, size);
}
void* realloc(void* old, size_t size) {
    Count();
    return __libc_realloc(old, size);
}
void* memalign(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    Count();
    void* p = __libc_memalign(alignment, size);
    if (p == NULL) return 12; /* ENOMEM */
    *out = p;
    return 0;
}

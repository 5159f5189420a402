// Slow storage for the stall soak: loaded with LD_PRELOAD into Tapeloom, it delays the file
// calls made on wave files (descriptors whose /proc/self/fd link ends in ".wav") and nothing
// else. Its settings come from the environment, read once at load:
//   STALL_WRITE_SECONDS, STALL_WRITE_EVERY  a write, flush or space reservation sleeps
//                                           STALL_WRITE_SECONDS when it is the first after every
//                                           STALL_WRITE_EVERY seconds, counted from the load
//   STALL_READ_SECONDS, STALL_READ_EVERY    the same for reads
//   STALL_BYTES_PER_SECOND                  reads and writes together never move more than this:
//                                           each call waits until the bytes before it, its own
//                                           and the stalls would have passed at that rate
// Build: gcc -shared -fPIC -O2 -o stall_preload.so stall_preload.c -ldl -lpthread
#define _GNU_SOURCE
#include <dlfcn.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

struct stalls {
  double seconds, every, next;
};
static struct stalls writes, reads;
static double rate, freeAt;  // bytes per second; when the earlier calls' bytes have passed
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static double Setting(const char* name) {
  const char* value = getenv(name);
  return value == NULL ? 0.0 : atof(value);
}

__attribute__((constructor)) static void Load(void) {
  const double now = Now();
  writes = (struct stalls){Setting("STALL_WRITE_SECONDS"), Setting("STALL_WRITE_EVERY"), 0.0};
  reads = (struct stalls){Setting("STALL_READ_SECONDS"), Setting("STALL_READ_EVERY"), 0.0};
  writes.next = now + writes.every;
  reads.next = now + reads.every;
  rate = Setting("STALL_BYTES_PER_SECOND");
}

static int IsWave(int fd) {
  char link[64], target[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, target, sizeof target);
  return n >= 4 && memcmp(target + n - 4, ".wav", 4) == 0;
}

// Before a call that moves `bytes` on fd: its stall when one is due, then the rate's wait.
static void Delay(int fd, struct stalls* kind, size_t bytes) {
  if (!IsWave(fd)) return;
  const double now = Now();
  double until = now;
  pthread_mutex_lock(&lock);
  if (kind->seconds > 0.0 && kind->every > 0.0 && now >= kind->next) {
    until += kind->seconds;
    while (kind->next <= now) kind->next += kind->every;
  }
  if (rate > 0.0) {
    freeAt = (freeAt > until ? freeAt : until) + (double)bytes / rate;
    until = freeAt;
  }
  pthread_mutex_unlock(&lock);
  const struct timespec at = {(time_t)until, (long)((until - (double)(time_t)until) * 1e9)};
  while (until > now && clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, NULL) != 0) {
  }
}

static size_t Bytes(const struct iovec* iov, int count) {
  size_t sum = 0;
  for (int k = 0; k < count; ++k) sum += iov[k].iov_len;
  return sum;
}

// The wrapper of one call: delays it, then calls the C library's own.
#define WRAP(type, name, kind, bytes, params, args)                   \
  type name params {                                                  \
    static type(*real) params;                                        \
    if (real == NULL) real = (type(*) params)dlsym(RTLD_NEXT, #name); \
    Delay(fd, &kind, bytes);                                          \
    return real args;                                                 \
  }

WRAP(ssize_t, write, writes, n, (int fd, const void* b, size_t n), (fd, b, n))
WRAP(ssize_t, pwrite64, writes, n, (int fd, const void* b, size_t n, off64_t o), (fd, b, n, o))
WRAP(ssize_t, pwritev, writes, Bytes(v, c), (int fd, const struct iovec* v, int c, off_t o), (fd, v, c, o))
WRAP(ssize_t, pwritev64, writes, Bytes(v, c), (int fd, const struct iovec* v, int c, off64_t o), (fd, v, c, o))
WRAP(int, fsync, writes, 0, (int fd), (fd))
WRAP(int, fdatasync, writes, 0, (int fd), (fd))
WRAP(int, sync_file_range, writes, 0, (int fd, off64_t o, off64_t n, unsigned f), (fd, o, n, f))
WRAP(int, fallocate64, writes, 0, (int fd, int m, off64_t o, off64_t n), (fd, m, o, n))
WRAP(ssize_t, read, reads, n, (int fd, void* b, size_t n), (fd, b, n))
WRAP(ssize_t, pread64, reads, n, (int fd, void* b, size_t n, off64_t o), (fd, b, n, o))
WRAP(ssize_t, preadv, reads, Bytes(v, c), (int fd, const struct iovec* v, int c, off_t o), (fd, v, c, o))
WRAP(ssize_t, preadv64, reads, Bytes(v, c), (int fd, const struct iovec* v, int c, off64_t o), (fd, v, c, o))

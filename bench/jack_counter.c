// A musician playing in time, for the stall soak: a JACK client whose one output port, "out",
// carries a frame counter. Sample n holds (START + n) mod 2^23, divided by 2^23: ALSA's
// conversion of floats to 24-bit samples (times 2^31, then the top 24 bits) gives the integer
// back exactly, so a take of it must count up by one from frame to frame. Once a second it
// prints the wall clock (seconds since the epoch) at the start of a period and the counter's
// value there, so that a take's frames can be put on the wall clock of the server's log.
// Usage: jack_counter NAME [START]   (runs until SIGTERM or SIGINT)
// Build: gcc -O2 -o jack_counter jack_counter.c -ljack -lpthread
#include <jack/jack.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#define WRAP_MASK 0x7fffffu  // 2^23 - 1

static jack_port_t* port;
static uint32_t count;
// The last period's start: its counter value and wall clock, under a sequence number that is
// odd while they are being written.
static unsigned sequence;
static uint32_t stampCount;
static int64_t stampMicroseconds;

static int Process(jack_nframes_t frames, void* unused) {
  (void)unused;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  __atomic_add_fetch(&sequence, 1, __ATOMIC_ACQ_REL);
  __atomic_store_n(&stampCount, count, __ATOMIC_RELAXED);
  __atomic_store_n(&stampMicroseconds, (int64_t)now.tv_sec * 1000000 + now.tv_nsec / 1000, __ATOMIC_RELAXED);
  __atomic_add_fetch(&sequence, 1, __ATOMIC_ACQ_REL);
  float* out = jack_port_get_buffer(port, frames);
  for (jack_nframes_t k = 0; k < frames; ++k) {
    out[k] = (float)count / 8388608.0f;
    count = (count + 1) & WRAP_MASK;
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: jack_counter NAME [START]\n");
    return 2;
  }
  count = (argc > 2 ? (uint32_t)strtoul(argv[2], NULL, 10) : 0u) & WRAP_MASK;
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, NULL);  // before the client's threads exist, so they inherit it
  jack_client_t* client = jack_client_open(argv[1], JackNoStartServer, NULL);
  if (client == NULL) {
    fprintf(stderr, "jack_counter: no JACK server\n");
    return 1;
  }
  port = jack_port_register(client, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  if (port == NULL || jack_set_process_callback(client, Process, NULL) != 0 || jack_activate(client) != 0) {
    fprintf(stderr, "jack_counter: the client could not start\n");
    return 1;
  }
  const struct timespec second = {1, 0};
  while (sigtimedwait(&stop, NULL, &second) < 0) {
    unsigned before, after;
    uint32_t value;
    int64_t wall;
    do {
      before = __atomic_load_n(&sequence, __ATOMIC_ACQUIRE);
      value = __atomic_load_n(&stampCount, __ATOMIC_RELAXED);
      wall = __atomic_load_n(&stampMicroseconds, __ATOMIC_RELAXED);
      __atomic_thread_fence(__ATOMIC_ACQUIRE);
      after = __atomic_load_n(&sequence, __ATOMIC_RELAXED);
    } while (before != after || (before & 1u) != 0);
    if (before != 0) printf("%lld.%06lld %u\n", (long long)(wall / 1000000), (long long)(wall % 1000000), value);
    fflush(stdout);
  }
  jack_client_close(client);
  return 0;
}

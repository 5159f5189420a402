#include <poll.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <thread>

#include "audio/alsa_port.h"
#include "core/session_signals.h"

namespace tapeloom {

// The card's own transfers wait inside the library, where a signal cannot end the wait. The run
// waits here instead, on the card's descriptors, until the transfer would not wait at all.
int AlsaPcmPort::WaitReady(PcmDirection direction, snd_pcm_uframes_t frames, int timeoutMs) {
  snd_pcm_t* pcm = Handle(direction);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  // A card has a descriptor or two; one with more is left to wait in its transfers.
  std::array<pollfd, 8> descriptors{};
  const int count = snd_pcm_poll_descriptors_count(pcm);
  if (count <= 0 || count > static_cast<int>(descriptors.size())) return 1;
  for (;;) {
    const snd_pcm_state_t state = snd_pcm_state(pcm);
    // A capture that was prepared starts with its first read; started here, the wait for its
    // first period can see signals too. Any other state than running is the transfer's to
    // report (an xrun, a suspend, a card that is gone).
    if (state == SND_PCM_STATE_PREPARED && direction == PcmDirection::Capture) {
      if (snd_pcm_start(pcm) < 0) return 1;
    } else if (state != SND_PCM_STATE_RUNNING) {
      return 1;
    }
    const snd_pcm_sframes_t available = snd_pcm_avail_update(pcm);
    if (available < 0 || static_cast<snd_pcm_uframes_t>(available) >= frames) return 1;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return 0;
    if (snd_pcm_poll_descriptors(pcm, descriptors.data(), static_cast<unsigned>(count)) != count) return 1;
    const int ready =
        WaitForDescriptorsOrSignal(descriptors.data(), static_cast<nfds_t>(count), static_cast<int>(left));
    if (ready == -EINTR) return -EINTR;
    if (ready == -EAGAIN || ready == 0) continue;
    if (ready < 0) return 1;
    unsigned short events = 0;
    if (snd_pcm_poll_descriptors_revents(pcm, descriptors.data(), static_cast<unsigned>(count), &events) < 0 ||
        (events & (POLLERR | POLLNVAL)) != 0) {
      return 1;
    }
  }
}

// A playback drain waits until the card has played what it holds, and a card that has stopped
// taking frames (a sound server that died, a card unplugged) never ends it: neither the next run
// nor the session's end may wait for such a card. The drain runs without blocking, and what is
// still held when the buffer's time and a second more have passed is dropped.
int AlsaPcmPort::Drain(PcmDirection direction) {
  snd_pcm_t* pcm = Handle(direction);
  snd_pcm_nonblock(pcm, 1);
  const int result = snd_pcm_drain(pcm);
  snd_pcm_nonblock(pcm, 0);
  if (result != -EAGAIN) return result;
  const int bufferFrames = direction == PcmDirection::Playback ? playBufferFrames_ : captureBufferFrames_;
  // A capture's drain only ends the stream: it has nothing to play out.
  const int grace = direction == PcmDirection::Playback ? 1000 : 0;
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(std::int64_t{bufferFrames} * 1000 / std::max(rate_, 1u) + grace);
  for (;;) {
    // The state moves on as the card's position is brought up to date.
    snd_pcm_avail_update(pcm);
    if (snd_pcm_state(pcm) != SND_PCM_STATE_DRAINING) return 0;
    if (std::chrono::steady_clock::now() >= deadline) return snd_pcm_drop(pcm);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int AlsaPcmPort::Link() { return snd_pcm_link(play_.get(), rec_.get()); }

void AlsaPcmPort::Unlink() { snd_pcm_unlink(play_.get()); }

}  // namespace tapeloom

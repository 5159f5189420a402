#include <poll.h>

#include <array>
#include <chrono>

#include "audio/alsa_port.h"
#include "console/session_signals.h"

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

int AlsaPcmPort::Link() { return snd_pcm_link(play_.get(), rec_.get()); }

void AlsaPcmPort::Unlink() { snd_pcm_unlink(play_.get()); }

}  // namespace tapeloom

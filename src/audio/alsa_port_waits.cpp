#include "audio/alsa_port.h"

namespace tapeloom {

int AlsaPcmPort::WaitReady(PcmDirection /*direction*/, snd_pcm_uframes_t /*frames*/, int /*timeoutMs*/) { return 1; }

int AlsaPcmPort::Link() { return -ENOSYS; }

void AlsaPcmPort::Unlink() {}

}  // namespace tapeloom

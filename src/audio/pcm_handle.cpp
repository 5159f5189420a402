#include "audio/pcm_handle.h"

namespace tapeloom {

HwParams AllocateHwParams() {
  snd_pcm_hw_params_t* params = nullptr;
  if (snd_pcm_hw_params_malloc(&params) < 0) return HwParams();
  return HwParams(params);  // snd_pcm_hw_params_malloc clears the block
}

}  // namespace tapeloom

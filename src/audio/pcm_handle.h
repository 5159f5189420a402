// Owners of the ALSA objects: one per PCM handle and one per hardware parameter block. Moving
// is allowed, copying is not, so no path can close a handle twice.
#pragma once

#include <alsa/asoundlib.h>

#include <memory>

namespace tapeloom {

struct PcmCloser {
  void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using PcmHandle = std::unique_ptr<snd_pcm_t, PcmCloser>;

struct HwParamsFreer {
  void operator()(snd_pcm_hw_params_t* params) const { snd_pcm_hw_params_free(params); }
};
using HwParams = std::unique_ptr<snd_pcm_hw_params_t, HwParamsFreer>;

// A cleared hardware parameter block, or an empty owner when there is no memory for one.
HwParams AllocateHwParams();

}  // namespace tapeloom

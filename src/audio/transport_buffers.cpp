#include "audio/transport_buffers.h"

#include <algorithm>

namespace tapeloom {

TransportBuffers::TransportBuffers(int ch, int inputs, int outputs)
    : rows_(std::max({ch, inputs, outputs, 2})),
      outputs_(std::max(outputs, 0)),
      inputs_(std::max(inputs, 0)),
      playPointers_(static_cast<std::size_t>(outputs_) + 1, nullptr),
      capturePointers_(static_cast<std::size_t>(inputs_) + 1, nullptr) {
  const std::size_t bytes = static_cast<std::size_t>(rows_) * kMixRegionBytes;
  for (auto& set : play_) set.assign(bytes, 0);
  for (auto& set : record_) set.assign(bytes, 0);
}

unsigned char* TransportBuffers::PlayRow(int set, int row, int frame) {
  return PlaySet(set).data() + static_cast<std::size_t>(row) * kMixRegionBytes + static_cast<std::size_t>(frame) * 3;
}

unsigned char* TransportBuffers::RecordRow(int set, int row, int frame) {
  return RecordSet(set).data() + static_cast<std::size_t>(row) * kMixRegionBytes + static_cast<std::size_t>(frame) * 3;
}

void** TransportBuffers::PointPlayback(int set, int frame) {
  for (int c = 0; c < outputs_; ++c) playPointers_[static_cast<std::size_t>(c)] = PlayRow(set, c, frame);
  return playPointers_.data();
}

void** TransportBuffers::PointPlayback(const unsigned char* block, int frame) {
  for (int c = 0; c < outputs_; ++c) {
    // The transfer only reads what the pointers point at; ALSA's signature is not const.
    playPointers_[static_cast<std::size_t>(c)] = const_cast<unsigned char*>(
        block + static_cast<std::size_t>(c) * kMixRegionBytes + static_cast<std::size_t>(frame) * 3);
  }
  return playPointers_.data();
}

void** TransportBuffers::PointCapture(int set, int frame) {
  for (int c = 0; c < inputs_; ++c) capturePointers_[static_cast<std::size_t>(c)] = RecordRow(set, c, frame);
  return capturePointers_.data();
}

void TransportBuffers::ClearAll() {
  for (auto& set : play_) std::fill(set.begin(), set.end(), 0);
  for (auto& set : record_) std::fill(set.begin(), set.end(), 0);
}

}  // namespace tapeloom

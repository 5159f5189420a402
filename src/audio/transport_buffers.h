// The block sets of the transport run, allocated once when the session starts and reused by
// every run: two play sets and two record sets, each one 12288-byte row (4096 packed frames)
// per channel, and the per-channel pointer arrays that the non-interleaved transfers take.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "audio/block_ring.h"
#include "mix/mix_block.h"

namespace tapeloom {

class TransportBuffers {
 public:
  // Rows for every track, input and output channel, and at least the one stereo pair that the
  // mixer writes.
  TransportBuffers(int ch, int inputs, int outputs);

  int rows() const { return rows_; }
  std::vector<unsigned char>& PlaySet(int set) { return play_[static_cast<std::size_t>(set)]; }
  std::vector<unsigned char>& RecordSet(int set) { return record_[static_cast<std::size_t>(set)]; }
  unsigned char* PlayRow(int set, int row, int frame = 0);
  unsigned char* RecordRow(int set, int row, int frame = 0);

  // Points channel c of the playback (or capture) pointer array at row c of a set, at a frame.
  void** PointPlayback(int set, int frame);
  // The same for a block of rows elsewhere (the disk worker's ring).
  void** PointPlayback(const unsigned char* block, int frame);
  void** PointCapture(int set, int frame);

  void ClearAll();

  // The rings between the device loop and the disk worker, sized for each run and kept for
  // the next (disk_buffers.h); `diskSeconds` replaces their usual length when above 0.
  BlockRing& playRing() { return playRing_; }
  BlockRing& captureRing() { return captureRing_; }
  double diskSeconds = 0.0;

 private:
  int rows_;
  int outputs_;
  int inputs_;
  std::array<std::vector<unsigned char>, 2> play_;
  std::array<std::vector<unsigned char>, 2> record_;
  std::vector<void*> playPointers_;
  std::vector<void*> capturePointers_;
  BlockRing playRing_;
  BlockRing captureRing_;
};

}  // namespace tapeloom

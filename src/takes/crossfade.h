// Punching a take into the file its record list names: the file keeps everything before the
// record start and after the end of the take, and the take replaces what lay between. The
// first and last frames of the take are equal-power crossfades with the old audio, so that
// neither seam clicks.
//
// Positions and lengths are in frames of one mono 24-bit sample (3 bytes), 64-bit so that
// files of 2 GiB and more are addressed correctly on 32-bit ARM too.
#pragma once

#include <cstdint>
#include <string>

#include "wave/file_status.h"

namespace tapeloom {

// Overwrites the samples of destination from frame position on with the samples of source:
// the smaller of count frames and the whole frames source holds. Writing past the end
// extends the destination, and a position beyond its end leaves silence (zero bytes) in
// between; when the file grew, its header sizes are corrected. Returns success when every
// byte was written, else the failure; failures are printed with the file name and the reason ("Can't open %s: %s\n",
// "Can't read %s: %s\n", "Can't write to %s: %s\n", "Can't correct the header of %s: %s\n"),
// and what was written stays, with the header matching it.
//
// A destination or source without a data chunk was written by Tapeloom and has been damaged:
// the program ends (EndForOwnFileWithoutData) before anything is written.
FileStatus INSERT_FILE(const std::string& destination, const std::string& source, std::int64_t position,
                       std::int64_t count);

// Mixes length frames of a (fading out, read from frame positionInA) and b (fading in, from
// positionInB) and appends them to out: frame i is a × cos θ + b × sin θ with
// θ = (i ÷ length) × 1.570796327, truncated toward zero and limited to the 24-bit range. Frame
// 0 is a exactly; the last is (length - 1) ÷ length of the way to b. Frames that lie beyond
// the end of a or b count as silence. Returns 0 on success; 1 when a cannot be opened or read,
// has no data chunk ("Data block not found error") or positionInA lies outside its samples
// ("Invalid crossfade for destination file at sample %li\n"); 2 for the same faults of b
// ("Invalid crossfade for source file at sample %li\n"); 3 when out cannot be opened, read or
// written or has no data chunk.
int CROSSFADE(std::int64_t positionInA, std::int64_t positionInB, std::int64_t length, const std::string& a,
              const std::string& b, const std::string& out);

// Inserts the take into oldFile from frame recordStart: takeLength frames, the first and last
// crossfadeFrames of them crossfaded with the old audio at the same positions. When the take
// is shorter than twice that, each fade is half the take (whole frames), so that the two
// never overlap and no frame outside the take is read. A fade that the files do not allow (its
// start lies beyond the old file's end, for one) is left out with its message: that seam is
// hard. A crossfadeFrames of 0 or less replaces the frames exactly.
//
// The fades are computed first, from the untouched files, into temporaries in the working
// directory ("xfade_temp1.wav" and "xfade_temp2.wav" with mono 24-bit headers at sampleRate,
// or other free names), which are removed afterwards; the take file itself is only read.
// Returns success when the take and its fades were written into oldFile and the file is on
// the disk. Any failed step (a fade that cannot be made or written, the take's or a fade's
// insertion, the size correction, the flush) is printed with its file and reason, followed
// by "%s was not inserted into %s; the take is kept\n", and gives that step's failure: the
// take must then be kept. When a fade fails, oldFile has not been touched.
//
// Only takes that were written are inserted; oldFile must exist (a missing one is no
// insertion: the take is padded and renamed in its place).
FileStatus InsertTakeWithCrossfades(const std::string& oldFile, const std::string& take, std::int64_t recordStart,
                                    std::int64_t takeLength, std::int64_t crossfadeFrames, std::uint32_t sampleRate);

}  // namespace tapeloom

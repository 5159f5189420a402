// The wave readers: the attributes of a track or take file, the length of a file, and the
// longest file of a list. They accept mono 24-bit files only (the stereo export is not a
// track) and report every refusal on the console in their own words.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/sample_position.h"
#include "wave/wave_layout.h"

namespace tapeloom {

// Reads one file's attributes into out. Returns 1 for a usable mono 24-bit file and 0
// otherwise, after printing why: the file cannot be opened or read, has no format chunk, is
// not mono, is not 24-bit, or has no data chunk. Playback leaves a refused track out of the
// run; recording reads each new take's data offset through it.
int GET_ATTRIBUTES(const std::string& path, WaveAttributes& out);

// The length in frames of a mono 24-bit file; 0 for a missing file (silently) and for an
// unusable one (with its message, worded for the transport-point commands).
SamplePosition GET_LENGTH(const std::string& path);

// The length in frames of the longest file among the first count entries of a list file
// (one file name per line; empty lines are no entries). Entries that begin with skipChar are
// passed over; every other one is measured and then named in "Checking file %s\n". Returns 0
// when nothing was measured, and when the list cannot be read (with a message).
SamplePosition SEEK_LONG_FILE(int count, char skipChar, const std::string& listPath);

// The sample rate of a file that GET_ATTRIBUTES would accept; nullopt, without a word, for
// every file it would refuse and for anything but a regular file (a FIFO is not waited on).
// For listings, which describe the files and leave the refusals to the run.
std::optional<std::uint32_t> ReadSampleRateQuietly(const std::string& path);

// Tracks are played at the session rate as they are, without conversion, so a file at another
// rate plays too fast or too slow, and at the wrong pitch. When the rates differ, prints one
// line saying so, naming the file and both rates, and returns true.
bool WarnOfOtherRate(const std::string& path, std::uint32_t fileRate, std::uint32_t sessionRate);

}  // namespace tapeloom

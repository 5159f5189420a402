// The file operations behind the take menu: renaming takes onto other names, stamping the
// record start into names, padding a take with leading silence so that it starts at position
// 0, backing a file up, deleting the files of a list, and renaming takes to names made from
// the record list, with a dialogue when such a name is taken.
//
// Lists are texts of newline-separated names; line i is the i-th NON-EMPTY line (from 0). The
// take list and the record list text are such lists, line i of each belonging to input i + 1.
// A line that starts with '-' names no file: it stands for a channel that did not record (or
// whose take could not be created), and nothing is renamed, stamped or deleted for it.
//
// Contract with the caller: only takes that were written are given to these operations. The
// recorded flags say which lines hold one; the take list carries "-" for an input whose take
// was never created. To keep a take that must survive (for example one whose insertion
// failed), pass REMOVE_FILES a list with "-" on its line.
//
// Renames replace an existing file of the target name. A rename or removal whose file does
// not exist is silent; every other failure is printed with the file name and the system's
// reason, and no success line is printed for work that failed. Names and lists have no
// length limit.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/session_settings.h"
#include "console/console_input.h"

namespace tapeloom {

// Line index of the list; "" when the index is negative, not below count, or beyond the list.
std::string RETURN_NAME(int count, std::string_view list, int index);

// For i from 0 while i is below count and both lists have a line i: renames take line i to
// target line i.
void RENAME_FILES(int count, std::string_view takeList, std::string_view targetList);

// For each i below count whose flag is 1: renames line i to its stem (the part before its
// first '.', the whole name without one) followed by "_stp_", the value and ".wav".
void STAMP_FILES(int count, std::string_view list, long value, const std::array<int, kMaxTracks>& flags);

// Puts frames frames of silence in front of the samples of a mono 24-bit file, keeping the
// whole header (whatever chunks it holds) and correcting its sizes. 0 frames rewrites the
// file unchanged. The padded file is written beside the original as "temp_pad.wav" and
// renamed over it only when it is complete, so any failure (reported with the file name and
// the reason, then "%s was not padded; it is unchanged\n") leaves the original as it was
// and no temporary behind. Returns true when the padded file is in place.
//
// A file without a data chunk was written by Tapeloom and has been damaged: the program
// ends (EndForOwnFileWithoutData) before anything is written.
bool PAD_FILE(const std::string& name, std::int64_t frames);

// Renames name to the part of it before its first "_stp", followed by ".wav". A name without
// "_stp" is left as it is (true). Returns true when the file has its new name.
bool REMOVE_STAMP(const std::string& name);

// Copies name byte for byte to "%s_bkup_%i.wav" (its stem and number), replacing a file of
// that name, and prints "Copied %s to %s\n". Returns 1 on success, 0 on failure: "File %s
// does not exist\n" when name cannot be opened, "Cannot create backup file %s\n" when the
// backup cannot be created, a read or write failure with its reason (the part of the backup
// already written stays).
int COPY_FILE(std::int32_t number, const std::string& name);

// Deletes the files named on the first count lines.
void REMOVE_FILES(int count, std::string_view list);

// For each i below count whose flag is 1: renames take line i to the stem of base line i,
// '_', the characters and ".wav", printing "%s -> %s\n". When a file of the new name exists
// the user chooses: 'o' replaces it, 'O' replaces it and every later conflict of this call,
// 'n' asks for new characters, used for this take and all later ones. Throws InputEnded when
// the input ends during the dialogue; the takes not yet renamed keep their names.
void APPEND_NAMES(int count, std::string_view takeList, std::string_view baseList, std::string characters,
                  const std::array<int, kMaxTracks>& flags, ConsoleInput& input);

}  // namespace tapeloom

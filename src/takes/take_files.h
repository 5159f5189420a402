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
// Only "rep" (and the user's answer to a conflict) replaces an existing file; every other new
// name is taken only when nothing of that name exists. A rename or removal whose file does
// not exist is silent; every other failure is printed with the file name and the system's
// reason, and no success line is printed for work that failed. Names and lists have no
// length limit.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/console_input.h"
#include "core/session_settings.h"
#include "wave/file_creation.h"

namespace tapeloom {

// Line index of the list; "" when the index is negative, not below count, or beyond the list.
std::string RETURN_NAME(int count, std::string_view list, int index);

// For i from 0 while i is below count and both lists have a line i: renames take line i to
// target line i, replacing a file of that name.
void RENAME_FILES(int count, std::string_view takeList, std::string_view targetList);

// The name a position stamp gives: the stem (the part before the first '.', the whole name
// without one) followed by "_stp_", the value and ".wav".
std::string StampedName(std::string_view name, long value);

// For each i below count whose flag is 1: renames line i to its StampedName. A file of that
// name is never replaced: the rename is refused with its message and the file keeps its name.
void STAMP_FILES(int count, std::string_view list, long value, const TrackFlags& flags);

// Puts frames frames of silence in front of the samples of a mono 24-bit take and gives the
// padded file the name destination, keeping the whole header (whatever chunks it holds) and
// correcting its sizes. 0 frames copies the file unchanged. The padded file is written into a
// temporary beside the destination ("temp_pad.wav", or another free name) and renamed into
// place only when it is complete and on the disk. With kReplace it takes the place of a file
// of that name (the take itself, when it is padded under its own name); with kKeepExisting
// a file of that name is never replaced. Any failure is reported with the file name and the
// reason, then "%s was not padded; it is unchanged\n" with the take: the take and the
// destination are as they were, and no temporary is left. Returns the failure, already
// printed, or success when the padded file is in place; the take itself is only read, unless
// it is the destination.
//
// A take without a data chunk was written by Tapeloom and has been damaged: the program ends
// (EndForOwnFileWithoutData) before anything is written.
FileStatus PadTake(const std::string& take, std::int64_t frames, const std::string& destination, Placement placement);

// Pads a take under its own name (PadTake onto itself).
FileStatus PAD_FILE(const std::string& name, std::int64_t frames);

// The part of a name before its first "_stp", followed by ".wav"; a name without "_stp" is
// returned as it is. "pad" gives each padded take this name.
std::string StampRemovedName(const std::string& name);

// The name of a backup: "%s_bkup_%i.wav" from the stem of name and the number.
std::string BackupName(std::string_view name, std::int32_t number);

// Copies name byte for byte to its BackupName and prints "Copied %s to %s\n". The copy is
// written into a temporary beside it and appears under the backup name only complete and on
// the disk; a file of the backup name is never replaced. Returns 1 on success, 0 on failure:
// "File %s does not exist\n" when name cannot be opened; otherwise the failure with its file
// and reason, then "Cannot create backup file %s\n". No backup file is left after a failure.
int COPY_FILE(std::int32_t number, const std::string& name);

// Deletes the files named on the first count lines.
void REMOVE_FILES(int count, std::string_view list);

// For each i below count whose flag is 1: renames take line i to the stem of base line i,
// '_', the characters and ".wav", printing "%s -> %s\n". When a file of the new name exists
// the user chooses: 'o' replaces it, 'O' replaces it and every later conflict of this call,
// 'n' asks for new characters, used for this take and all later ones. A file that was not
// there when asked about is never replaced: one that appeared since refuses the rename. Throws InputEnded when
// the input ends during the dialogue; the takes not yet renamed keep their names.
void APPEND_NAMES(int count, std::string_view takeList, std::string_view baseList, std::string characters,
                  const TrackFlags& flags, ConsoleInput& input);

}  // namespace tapeloom

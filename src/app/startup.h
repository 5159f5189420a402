// Start-up: the banner, param.txt or the first-run questions, the default list files, the
// channel and track counts and the configuration block.
#pragma once

#include "core/console_input.h"
#include "core/session_settings.h"

namespace tapeloom {

// Asks the first-run questions and stores the answers in `settings`. "x" at the first
// question (or the end of input) ends the program with status 2.
void RunFirstRunDialogue(SessionSettings& settings, ConsoleInput& input);

// Makes sure the record list and the playlist in use exist, creating empty default files with
// the messages that tell the user what they are for.
void EnsureListFiles(const SessionSettings& settings);

// Resolves `ch`, `inputs` and `outputs` to usable counts of at most 256.
void ResolveChannelCounts(SessionSettings& settings);

void PrintConfiguration(const SessionSettings& settings);

// The whole start-up up to the session; returns the program's exit status.
int RunTapeloom(ConsoleInput& input);

}  // namespace tapeloom

// What Tapeloom does with words on its command line. A session takes none: it works in the
// current directory, from param.txt, the list files and the words typed at its prompt. The
// only words it knows answer a question and leave the directory untouched.
#pragma once

namespace tapeloom {

// The line that names the program and its version, also the first line of every session.
inline constexpr char kVersionLine[] = "Tapeloom 3.76 (r52)";

// For a command line with words after the program's name: "--version" prints the version line
// and "--help" the usage text, on standard output, each with status 0; anything else (more
// than one word included) names what was not understood and prints the usage text on standard
// error, with status 2. No file is read or written.
int AnswerArguments(int argc, const char* const* argv);

}  // namespace tapeloom

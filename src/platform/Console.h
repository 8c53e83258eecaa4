#pragma once

#include <optional>
#include <string>

// The console the command-line programs print to.

namespace qarn::platform {

// Makes the console show the program's UTF-8 output as text: on Windows it switches the
// console's output code page to UTF-8 (SetConsoleOutputCP), on Linux the terminal does already.
// Call once at start, before the first output.
void PrepareConsoleOutput();

// True when standard output is a terminal (a console window), not a file or a pipe.
bool StandardOutputIsTerminal();

// Rows of the terminal on standard output; empty when it is none or does not tell.
std::optional<int> TerminalRows();

// True when every user of the machine may add files to `folder` and nothing keeps them from
// replacing the files of others there (on Linux: writable by others without the sticky bit; on
// Windows: the folder's access list lets Everyone, Authenticated Users or Users add files and
// delete those of others). False also when the folder cannot be examined.
bool IsFolderOpenToEveryone(const std::string& folder);

} // namespace qarn::platform

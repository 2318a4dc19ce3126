// What both programs need from the operating system beyond the C library: file names in UTF-8
// on every system, so that any name the system allows can be opened and shown.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string_view>

namespace ferrolet {

// The file system path named by UTF-8 text.
[[nodiscard]] std::filesystem::path file_path(std::string_view utf8);

// fopen for a path in UTF-8; on Windows through the wide-character file functions, so that names
// outside the system's code page open too.
[[nodiscard]] std::FILE* open_file(const char* utf8_path, const char* mode);

// Says on standard error when standard output could not be written (a full disk, a closed
// pipe), so that a run's messages are never lost in silence; the exit status stays the run's own.
void report_lost_output(const char* program);

}  // namespace ferrolet

#ifdef _WIN32
// Runs `run` with the command line as UTF-8 and the console showing UTF-8: the wide-character
// entry point hands over names that the system's code page cannot spell.
int run_with_utf8_arguments(int argc, wchar_t** argv, int (*run)(int, char**));
#endif

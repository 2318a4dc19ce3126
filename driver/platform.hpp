// What both programs need from the operating system beyond the C library: file names in UTF-8
// on every system, so that any name the system allows can be opened and shown.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string_view>

#include "core/text.hpp"

namespace ferrolet {

// Sinks for the messages: standard output and standard error, byte for byte (a message may hold
// a NUL: an unexpected character is shown raw).
void write_standard_output(std::string_view piece, void* context);
void write_standard_error(std::string_view piece, void* context);
inline constexpr TextSink STANDARD_OUTPUT{write_standard_output, nullptr};
inline constexpr TextSink STANDARD_ERROR{write_standard_error, nullptr};

// The file system path named by UTF-8 text.
[[nodiscard]] std::filesystem::path file_path(std::string_view utf8);

// fopen for a path in UTF-8; on Windows through the wide-character file functions, so that names
// outside the system's code page open too.
[[nodiscard]] std::FILE* open_file(const char* utf8_path, const char* mode);

// A program's body: the command line in UTF-8, the exit status out.
using ProgramRun = int (*)(int argc, char** argv);

// Runs `run` as the main function of `program`: afterwards it says on standard error when standard
// output could not be written (a full disk, a closed pipe), so that messages are never lost in
// silence; the exit status stays the run's own.
int run_program(int argc, char** argv, ProgramRun run, const char* program);

#ifdef _WIN32
// The same from the wide-character entry point, which hands over names that the system's code
// page cannot spell; the console is set to show UTF-8.
int run_program(int argc, wchar_t** argv, ProgramRun run, const char* program);
#endif

}  // namespace ferrolet

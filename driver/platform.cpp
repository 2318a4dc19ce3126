#include "driver/platform.hpp"

#include "core/messages.hpp"

#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace ferrolet {

#ifdef _WIN32

namespace {

std::wstring widen(std::string_view utf8) {
  const int size = static_cast<int>(utf8.size());
  std::wstring wide(
      static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0)),
      L'\0');
  static_cast<void>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(),
                                        static_cast<int>(wide.size())));
  return wide;
}

std::string narrow(const wchar_t* wide) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(size > 0 ? static_cast<std::size_t>(size - 1) : 0, '\0');
  static_cast<void>(WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), size, nullptr, nullptr));
  return utf8;
}

}  // namespace

std::filesystem::path file_path(std::string_view utf8) {
  return std::filesystem::path(widen(utf8));
}

std::FILE* open_file(const char* utf8_path, const char* mode) {
  return _wfopen(widen(utf8_path).c_str(), widen(mode).c_str());
}

#else

std::filesystem::path file_path(std::string_view utf8) {
  return std::filesystem::path(utf8);
}

std::FILE* open_file(const char* utf8_path, const char* mode) {
  return std::fopen(utf8_path, mode);
}

#endif

void write_standard_output(std::string_view piece, void* /*context*/) {
  static_cast<void>(std::fwrite(piece.data(), 1, piece.size(), stdout));
}

void write_standard_error(std::string_view piece, void* /*context*/) {
  static_cast<void>(std::fwrite(piece.data(), 1, piece.size(), stderr));
}

int run_program(int argc, char** argv, ProgramRun run, const char* program) {
  const int result = run(argc, argv);
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0)
    say(STANDARD_ERROR, MESSAGES_LOST, program);
  return result;
}

#ifdef _WIN32
int run_program(int argc, wchar_t** argv, ProgramRun run, const char* program) {
  static_cast<void>(SetConsoleOutputCP(CP_UTF8));
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i)
    arguments.push_back(narrow(argv[i]));
  std::vector<char*> pointers;
  for (std::string& argument : arguments)
    pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return run_program(argc, pointers.data(), run, program);
}
#endif

}  // namespace ferrolet

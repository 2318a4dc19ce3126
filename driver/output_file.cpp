#include "output_file.hpp"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace ferrolet {

namespace fs = std::filesystem;

namespace {

// Enough names to step past the leftovers of other runs, few enough to give up quickly.
constexpr int TEMPORARY_NAME_TRIES = 100;

// Writes and closes `file`; true only if every byte reached the file and the close succeeded.
[[nodiscard]] bool write_and_close(std::FILE* file, std::span<const std::uint8_t> bytes) {
  // Unbuffered, the one fwrite reaches the file as one write rather than in buffer-sized pieces.
  static_cast<void>(std::setvbuf(file, nullptr, _IONBF, 0));
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  return written && closed;
}

// Creates `path` for writing only if no file of that name exists, so that an unrelated file that
// happens to carry the name is never overwritten. The C library's "x" mode would say the same, but
// the Windows runtime ignores it, so the descriptor is opened with O_EXCL.
[[nodiscard]] std::FILE* create_new_file(const std::string& path) {
#ifdef _WIN32
  const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) static_cast<void>(_close(fd));
#else
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) static_cast<void>(close(fd));
#endif
  return file;
}

}  // namespace

WriteResult replace_file(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::error_code ec;
  fs::path target(path);
  // A link keeps pointing where it did: the file it names is the one replaced.
  if (fs::is_symlink(fs::symlink_status(target, ec))) {
    target = fs::canonical(target, ec);
    if (ec) return WriteResult::CannotOpen;
  }
  const fs::file_status existing = fs::status(target, ec);
  const bool exists =
      existing.type() != fs::file_type::not_found && existing.type() != fs::file_type::none;
  if (exists && !fs::is_regular_file(existing)) return WriteResult::CannotOpen;
  if (exists) {
    // An upload that may not be written stays as it is, as it would if it were overwritten in
    // place; opening it for update tests that without changing it.
    std::FILE* probe = std::fopen(target.string().c_str(), "r+b");
    if (probe == nullptr) return WriteResult::CannotOpen;
    static_cast<void>(std::fclose(probe));
  }

  std::string temporary;
  std::FILE* file = nullptr;
  for (int attempt = 0; attempt < TEMPORARY_NAME_TRIES && file == nullptr; ++attempt) {
    temporary = target.string() + ".ferrolet-" + std::to_string(attempt) + ".tmp";
    errno = 0;
    file = create_new_file(temporary);
    if (file == nullptr && errno != EEXIST) return WriteResult::CannotOpen;
  }
  if (file == nullptr) return WriteResult::CannotOpen;

  if (!write_and_close(file, bytes)) {
    static_cast<void>(std::remove(temporary.c_str()));
    return WriteResult::CannotWrite;
  }
  if (exists) {
    // The new file takes the place of the old one, permissions included; failing that is
    // harmless.
    fs::permissions(temporary, existing.permissions(), ec);
  }
  fs::rename(temporary, target, ec);
  if (ec) {
    static_cast<void>(std::remove(temporary.c_str()));
    return WriteResult::CannotWrite;
  }
  return WriteResult::Written;
}

}  // namespace ferrolet

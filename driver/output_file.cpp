#include "driver/output_file.hpp"

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "driver/platform.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ferrolet {

namespace fs = std::filesystem;

namespace {

// Random tags make a clash with another run, or with the debris of a killed one, so rare that a
// few tries always find a free name; O_EXCL keeps a clash harmless.
constexpr int TEMPORARY_NAME_TRIES = 16;
// The longest file name most file systems take (bytes on POSIX, UTF-16 units on Windows; a UTF-8
// name never has fewer bytes than units, so counting bytes is safe on both).
constexpr std::size_t NAME_MAX_BYTES = 255;

// The temporary file's name for the upload `name`: the name, a tag and ".tmp", the name shortened
// at a character boundary where the whole would be longer than `name_max` bytes, so that the
// temporary name fits wherever the upload's own name does.
std::string temporary_name(std::string_view name, std::uint32_t tag, std::size_t name_max) {
  std::array<char, 32> suffix{};
  static_cast<void>(std::snprintf(suffix.data(), suffix.size(), ".ferrolet-%08x.tmp", tag));
  const std::size_t suffix_length = std::strlen(suffix.data());
  std::size_t keep = name.size();
  if (keep + suffix_length > name_max) {
    keep = name_max - suffix_length;
    // Cutting inside a UTF-8 sequence would make a name some file systems refuse.
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
      --keep;
  }
  return std::string(name.substr(0, keep)) + suffix.data();
}

// A tag that differs between runs and between tries (splitmix64 over the process id and clock).
std::uint32_t temporary_tag(std::uint64_t process, int attempt) {
  std::uint64_t x = static_cast<std::uint64_t>(
                        std::chrono::high_resolution_clock::now().time_since_epoch().count()) ^
                    (process << 32) ^ (static_cast<std::uint64_t>(attempt) * 0x9E3779B97F4A7C15U);
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9U;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBU;
  return static_cast<std::uint32_t>(x ^ (x >> 31));
}

// Sets `target` to the file a link at `path` points to, or to `path` itself; false if the link
// leads nowhere. A link keeps pointing where it did: the file it names is the one replaced.
[[nodiscard]] bool resolve_target(const std::string& path, fs::path& target) {
  std::error_code ec;
  target = file_path(path);
  if (!fs::is_symlink(fs::symlink_status(target, ec))) return true;
  target = fs::canonical(target, ec);
  return !ec;
}

// The run's temporary file while it exists, for the handler of the signals that end a run. Set and
// cleared only while those signals are held (on Windows, under the handler's lock), so the
// handler never sees half a name.
volatile std::sig_atomic_t temporary_live = 0;

}  // namespace

#ifdef _WIN32

namespace {

std::array<wchar_t, 32768> temporary_path{};
// Console signals arrive on a thread of their own while the run goes on: the handler takes this
// lock and never gives it back, so that the run cannot rename the file once the handler has
// decided to remove it.
SRWLOCK temporary_lock = SRWLOCK_INIT;

extern "C" void remove_temporary_and_end(int signal_number) {
  AcquireSRWLockExclusive(&temporary_lock);
  // Opened with FILE_SHARE_DELETE, the file goes as soon as its last handle is closed.
  if (temporary_live != 0) static_cast<void>(DeleteFileW(temporary_path.data()));
  static_cast<void>(std::signal(signal_number, SIG_DFL));
  static_cast<void>(std::raise(signal_number));
}

// An absolute path in the form that is not held to the 260-character limit.
std::wstring long_form(const fs::path& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec).lexically_normal();
  absolute.make_preferred();
  const std::wstring text = absolute.wstring();
  return text.rfind(LR"(\\)", 0) == 0 ? text : LR"(\\?\)" + text;
}

[[nodiscard]] bool write_all(HANDLE file, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    DWORD done = 0;
    if (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) == 0 ||
        done == 0) {
      return false;
    }
    bytes = bytes.subspan(done);
  }
  return FlushFileBuffers(file) != 0;
}

}  // namespace

bool would_replace_input(const std::string& input, const std::string& output) {
  std::error_code ec;
  const fs::path in = file_path(input);
  if (!fs::exists(fs::status(in, ec))) return false;
  return input == output || (fs::equivalent(in, file_path(output), ec) && !ec);
}

WriteResult replace_file(const std::string& path, std::span<const std::uint8_t> bytes) {
  fs::path target;
  if (!resolve_target(path, target)) return WriteResult::CannotOpen;
  std::error_code ec;
  const fs::file_status existing = fs::status(target, ec);
  const bool exists = fs::exists(existing);
  if (exists && !fs::is_regular_file(existing)) return WriteResult::CannotOpen;
  if (exists) {
    // An upload that may not be written stays as it is, as it would if it were overwritten in
    // place; opening it for update tests that without changing it.
    std::FILE* probe = _wfopen(target.wstring().c_str(), L"r+b");
    if (probe == nullptr) return WriteResult::CannotOpen;
    static_cast<void>(std::fclose(probe));
  }

  for (const int signal_number : {SIGINT, SIGTERM, SIGBREAK})
    static_cast<void>(std::signal(signal_number, remove_temporary_and_end));
  const std::u8string utf8_name = target.filename().u8string();
  const std::string name(reinterpret_cast<const char*>(utf8_name.data()), utf8_name.size());
  const std::wstring destination = long_form(target);
  std::wstring temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < TEMPORARY_NAME_TRIES && file == INVALID_HANDLE_VALUE; ++attempt) {
    const std::string tmp_name =
        temporary_name(name, temporary_tag(GetCurrentProcessId(), attempt), NAME_MAX_BYTES);
    temporary = long_form(target.parent_path() / file_path(tmp_name));
    if (temporary.size() >= temporary_path.size()) return WriteResult::CannotOpen;
    AcquireSRWLockExclusive(&temporary_lock);
    file = CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr,
                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD create_error = GetLastError();
    if (file != INVALID_HANDLE_VALUE) {
      std::copy(temporary.c_str(), temporary.c_str() + temporary.size() + 1,
                temporary_path.begin());
      temporary_live = 1;
    }
    ReleaseSRWLockExclusive(&temporary_lock);
    if (file == INVALID_HANDLE_VALUE && create_error != ERROR_FILE_EXISTS) {
      return WriteResult::CannotOpen;
    }
  }
  if (file == INVALID_HANDLE_VALUE) return WriteResult::CannotOpen;

  bool written = write_all(file, bytes);
  written = CloseHandle(file) != 0 && written;
  AcquireSRWLockExclusive(&temporary_lock);
  written = written && MoveFileExW(temporary.c_str(), destination.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!written) static_cast<void>(DeleteFileW(temporary.c_str()));
  temporary_live = 0;
  ReleaseSRWLockExclusive(&temporary_lock);
  return written ? WriteResult::Written : WriteResult::CannotWrite;
}

#else

namespace {

// SIGINT from the terminal, SIGTERM from kill or a shutdown, SIGHUP from a closed terminal.
constexpr std::array<int, 3> ENDING_SIGNALS = {SIGINT, SIGTERM, SIGHUP};

int temporary_folder = -1;
std::array<char, NAME_MAX_BYTES + 1> temporary_path{};

extern "C" void remove_temporary_and_end(int signal_number) {
  if (temporary_live != 0) static_cast<void>(unlinkat(temporary_folder, temporary_path.data(), 0));
  static_cast<void>(std::signal(signal_number, SIG_DFL));
  static_cast<void>(std::raise(signal_number));
}

// Removes the temporary file when a run is ended by a signal, then ends as that signal would
// have. A signal the caller ignores stays ignored.
void install_cleanup_handlers() {
  for (const int signal_number : ENDING_SIGNALS) {
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction cleanup {};
    cleanup.sa_handler = remove_temporary_and_end;
    sigemptyset(&cleanup.sa_mask);
    static_cast<void>(sigaction(signal_number, &cleanup, nullptr));
  }
}

// Holds the ending signals until the returned mask is restored.
[[nodiscard]] sigset_t hold_ending_signals() {
  sigset_t held;
  sigset_t previous;
  sigemptyset(&held);
  for (const int signal_number : ENDING_SIGNALS)
    sigaddset(&held, signal_number);
  static_cast<void>(sigprocmask(SIG_BLOCK, &held, &previous));
  return previous;
}

void release_signals(const sigset_t& previous) {
  static_cast<void>(sigprocmask(SIG_SETMASK, &previous, nullptr));
}

[[nodiscard]] bool write_all(int file, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t done = write(file, bytes.data(), bytes.size());
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(done));
  }
  // On disk before the rename, so that a power loss leaves the old upload or the whole new one.
  return fsync(file) == 0 || errno == EINVAL;
}

// The replacement inside the open folder `folder`; every name is taken relative to it, so that
// neither a long path nor a link swapped in on the way can redirect it.
[[nodiscard]] WriteResult replace_in_folder(int folder, const std::string& name,
                                            std::span<const std::uint8_t> bytes) {
  struct stat earlier {};
  const bool exists = fstatat(folder, name.c_str(), &earlier, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists && errno != ENOENT) return WriteResult::CannotOpen;
  // An upload that may not be written stays as it is, as it would if it were overwritten in
  // place.
  if (exists &&
      (!S_ISREG(earlier.st_mode) || faccessat(folder, name.c_str(), W_OK, AT_EACCESS) != 0)) {
    return WriteResult::CannotOpen;
  }
  const long folder_name_max = fpathconf(folder, _PC_NAME_MAX);
  const std::size_t name_max =
      folder_name_max > 0 ? std::min(NAME_MAX_BYTES, static_cast<std::size_t>(folder_name_max))
                          : NAME_MAX_BYTES;

  install_cleanup_handlers();
  std::string temporary;
  int file = -1;
  for (int attempt = 0; attempt < TEMPORARY_NAME_TRIES && file < 0; ++attempt) {
    temporary = temporary_name(name, temporary_tag(static_cast<std::uint64_t>(getpid()), attempt),
                               name_max);
    const sigset_t previous = hold_ending_signals();
    // Never through a link at that name; readable by nobody else until it has the earlier mode.
    file = openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  exists ? 0600 : 0666);
    const int open_error = errno;
    if (file >= 0) {
      std::memcpy(temporary_path.data(), temporary.c_str(), temporary.size() + 1);
      temporary_folder = folder;
      temporary_live = 1;
    }
    release_signals(previous);
    if (file < 0 && open_error != EEXIST) return WriteResult::CannotOpen;
  }
  if (file < 0) return WriteResult::CannotOpen;

  if (exists) {
    // The new upload takes the old one's place with its owner, group and mode, as an overwrite in
    // place would have kept them. Only root may give a file away; others may still set a group
    // they belong to. The owner goes first, since a change of owner clears set-id bits.
    if (fchown(file, earlier.st_uid, earlier.st_gid) != 0) {
      static_cast<void>(fchown(file, static_cast<uid_t>(-1), earlier.st_gid));
    }
    static_cast<void>(fchmod(file, earlier.st_mode & 07777));
  }
  bool written = write_all(file, bytes);
  written = close(file) == 0 && written;

  const sigset_t previous = hold_ending_signals();
  written = written && renameat(folder, temporary.c_str(), folder, name.c_str()) == 0;
  if (!written) static_cast<void>(unlinkat(folder, temporary.c_str(), 0));
  temporary_live = 0;
  release_signals(previous);
  return written ? WriteResult::Written : WriteResult::CannotWrite;
}

}  // namespace

bool would_replace_input(const std::string& input, const std::string& output) {
  struct stat in {};
  struct stat out {};
  if (stat(input.c_str(), &in) != 0) return false;
  if (input == output) return true;
  return stat(output.c_str(), &out) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

WriteResult replace_file(const std::string& path, std::span<const std::uint8_t> bytes) {
  fs::path target;
  if (!resolve_target(path, target)) return WriteResult::CannotOpen;
  const fs::path parent = target.parent_path();
  const int folder =
      open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return WriteResult::CannotOpen;
  const WriteResult result = replace_in_folder(folder, target.filename().string(), bytes);
  static_cast<void>(close(folder));
  return result;
}

#endif

}  // namespace ferrolet

#include "driver/output_file.hpp"

#include <algorithm>
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
// few tries always find a free name; an exclusive create keeps a clash harmless.
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

enum class Created : std::uint8_t { Yes, NameTaken, Failed };

}  // namespace

// The primitives the replacement is made of, one set for each kind of system: open the folder
// the upload lies in, look at what stands at its name, create the temporary file, give it the
// earlier upload's owner and mode, write it to disk, close it, and commit it (rename it over the
// upload) or remove it.
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

struct Folder {
  fs::path path;
};
struct Earlier {
  bool exists = false;
  bool replaceable = false;
};
struct Temporary {
  HANDLE file = INVALID_HANDLE_VALUE;
  std::wstring path;
};

[[nodiscard]] bool open_folder(const fs::path& target, Folder& folder) {
  folder.path = target.parent_path();
  return true;
}

void close_folder(Folder& /*folder*/) {}

[[nodiscard]] std::size_t name_limit(const Folder& /*folder*/) {
  return NAME_MAX_BYTES;
}

[[nodiscard]] std::uint64_t process_id() {
  return GetCurrentProcessId();
}

[[nodiscard]] bool inspect(const Folder& folder, const std::string& name, Earlier& earlier) {
  std::error_code ec;
  const fs::path path = folder.path / file_path(name);
  const fs::file_status status = fs::status(path, ec);
  earlier.exists = fs::exists(status);
  if (!earlier.exists) return true;
  // An upload that may not be written stays as it is, as it would if it were overwritten in
  // place; opening it for update tests that without changing it.
  std::FILE* probe = fs::is_regular_file(status) ? _wfopen(path.c_str(), L"r+b") : nullptr;
  earlier.replaceable = probe != nullptr;
  if (probe != nullptr) static_cast<void>(std::fclose(probe));
  return true;
}

void install_cleanup() {
  for (const int signal_number : {SIGINT, SIGTERM, SIGBREAK})
    static_cast<void>(std::signal(signal_number, remove_temporary_and_end));
}

[[nodiscard]] Created create_temporary(const Folder& folder, const std::string& name,
                                       bool /*exists*/, Temporary& temporary) {
  temporary.path = long_form(folder.path / file_path(name));
  if (temporary.path.size() >= temporary_path.size()) return Created::Failed;
  AcquireSRWLockExclusive(&temporary_lock);
  temporary.file = CreateFileW(temporary.path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE,
                               nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD create_error = GetLastError();
  if (temporary.file != INVALID_HANDLE_VALUE) {
    std::copy(temporary.path.c_str(), temporary.path.c_str() + temporary.path.size() + 1,
              temporary_path.begin());
    temporary_live = 1;
  }
  ReleaseSRWLockExclusive(&temporary_lock);
  if (temporary.file != INVALID_HANDLE_VALUE) return Created::Yes;
  return create_error == ERROR_FILE_EXISTS ? Created::NameTaken : Created::Failed;
}

// A new file takes the folder's permissions on Windows; there is no owner or mode to carry over.
void take_attributes(Temporary& /*temporary*/, const Earlier& /*earlier*/) {}

[[nodiscard]] bool write_temporary(Temporary& temporary, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    DWORD done = 0;
    if (WriteFile(temporary.file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) ==
            0 ||
        done == 0) {
      return false;
    }
    bytes = bytes.subspan(done);
  }
  return FlushFileBuffers(temporary.file) != 0;
}

[[nodiscard]] bool close_temporary(Temporary& temporary) {
  return CloseHandle(temporary.file) != 0;
}

[[nodiscard]] bool commit(const Folder& folder, const Temporary& temporary, const std::string& name,
                          bool written) {
  const std::wstring destination = long_form(folder.path / file_path(name));
  AcquireSRWLockExclusive(&temporary_lock);
  written = written && MoveFileExW(temporary.path.c_str(), destination.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!written) static_cast<void>(DeleteFileW(temporary.path.c_str()));
  temporary_live = 0;
  ReleaseSRWLockExclusive(&temporary_lock);
  return written;
}

}  // namespace

bool would_replace_input(const std::string& input, const std::string& output) {
  std::error_code ec;
  const fs::path in = file_path(input);
  if (!fs::exists(fs::status(in, ec))) return false;
  return input == output || (fs::equivalent(in, file_path(output), ec) && !ec);
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

// Every name is taken relative to the open folder, so that neither a long path nor a link
// swapped in on the way can redirect the replacement.
struct Folder {
  int descriptor = -1;
};
struct Earlier {
  bool exists = false;
  bool replaceable = false;
  struct stat status {};
};
struct Temporary {
  int file = -1;
  std::string name;
};

[[nodiscard]] bool open_folder(const fs::path& target, Folder& folder) {
  const fs::path parent = target.parent_path();
  folder.descriptor =
      open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return folder.descriptor >= 0;
}

void close_folder(Folder& folder) {
  static_cast<void>(close(folder.descriptor));
}

[[nodiscard]] std::size_t name_limit(const Folder& folder) {
  const long limit = fpathconf(folder.descriptor, _PC_NAME_MAX);
  return limit > 0 ? std::min(NAME_MAX_BYTES, static_cast<std::size_t>(limit)) : NAME_MAX_BYTES;
}

[[nodiscard]] std::uint64_t process_id() {
  return static_cast<std::uint64_t>(getpid());
}

[[nodiscard]] bool inspect(const Folder& folder, const std::string& name, Earlier& earlier) {
  earlier.exists =
      fstatat(folder.descriptor, name.c_str(), &earlier.status, AT_SYMLINK_NOFOLLOW) == 0;
  if (!earlier.exists) return errno == ENOENT;
  // An upload that may not be written stays as it is, as it would if it were overwritten in
  // place.
  earlier.replaceable = S_ISREG(earlier.status.st_mode) &&
                        faccessat(folder.descriptor, name.c_str(), W_OK, AT_EACCESS) == 0;
  return true;
}

// Removes the temporary file when a run is ended by a signal, then ends as that signal would
// have. A signal the caller ignores stays ignored.
void install_cleanup() {
  for (const int signal_number : ENDING_SIGNALS) {
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction cleanup {};
    cleanup.sa_handler = remove_temporary_and_end;
    sigemptyset(&cleanup.sa_mask);
    static_cast<void>(sigaction(signal_number, &cleanup, nullptr));
  }
}

[[nodiscard]] Created create_temporary(const Folder& folder, const std::string& name, bool exists,
                                       Temporary& temporary) {
  temporary.name = name;
  const sigset_t previous = hold_ending_signals();
  // Never through a link at that name; readable by nobody else until it has the earlier mode.
  temporary.file =
      openat(folder.descriptor, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
             exists ? 0600 : 0666);
  const int open_error = errno;
  if (temporary.file >= 0) {
    std::memcpy(temporary_path.data(), name.c_str(), name.size() + 1);
    temporary_folder = folder.descriptor;
    temporary_live = 1;
  }
  release_signals(previous);
  if (temporary.file >= 0) return Created::Yes;
  return open_error == EEXIST ? Created::NameTaken : Created::Failed;
}

// The new upload takes the old one's place with its owner, group and mode, as an overwrite in
// place would have kept them. Only root may give a file away; others may still set a group they
// belong to. The owner goes first, since a change of owner clears set-id bits.
void take_attributes(Temporary& temporary, const Earlier& earlier) {
  // Where neither can be kept, the new upload stays the user's own, as a new file would be.
  const bool kept = fchown(temporary.file, earlier.status.st_uid, earlier.status.st_gid) == 0 ||
                    fchown(temporary.file, static_cast<uid_t>(-1), earlier.status.st_gid) == 0;
  static_cast<void>(kept);
  static_cast<void>(fchmod(temporary.file, earlier.status.st_mode & 07777));
}

[[nodiscard]] bool write_temporary(Temporary& temporary, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t done = write(temporary.file, bytes.data(), bytes.size());
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(done));
  }
  // On disk before the rename, so that a power loss leaves the old upload or the whole new one.
  return fsync(temporary.file) == 0 || errno == EINVAL;
}

[[nodiscard]] bool close_temporary(Temporary& temporary) {
  return close(temporary.file) == 0;
}

[[nodiscard]] bool commit(const Folder& folder, const Temporary& temporary, const std::string& name,
                          bool written) {
  const sigset_t previous = hold_ending_signals();
  const int at = folder.descriptor;
  written = written && renameat(at, temporary.name.c_str(), at, name.c_str()) == 0;
  if (!written) static_cast<void>(unlinkat(at, temporary.name.c_str(), 0));
  temporary_live = 0;
  release_signals(previous);
  return written;
}

}  // namespace

bool would_replace_input(const std::string& input, const std::string& output) {
  struct stat in {};
  struct stat out {};
  if (stat(input.c_str(), &in) != 0) return false;
  if (input == output) return true;
  return stat(output.c_str(), &out) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

#endif

namespace {

// Creates the temporary file under a fresh name beside the upload `name`.
[[nodiscard]] bool create_fresh_temporary(const Folder& folder, const std::string& name,
                                          bool exists, Temporary& temporary) {
  const std::size_t limit = name_limit(folder);
  for (int attempt = 0; attempt < TEMPORARY_NAME_TRIES; ++attempt) {
    const std::string candidate = temporary_name(name, temporary_tag(process_id(), attempt), limit);
    switch (create_temporary(folder, candidate, exists, temporary)) {
      case Created::Yes:
        return true;
      case Created::NameTaken:
        break;
      case Created::Failed:
        return false;
    }
  }
  return false;
}

// The replacement of the upload `name` inside its open folder.
[[nodiscard]] WriteResult replace_in_folder(const Folder& folder, const std::string& name,
                                            std::span<const std::uint8_t> bytes) {
  Earlier earlier;
  if (!inspect(folder, name, earlier) || (earlier.exists && !earlier.replaceable)) {
    return WriteResult::CannotOpen;
  }
  install_cleanup();
  Temporary temporary;
  if (!create_fresh_temporary(folder, name, earlier.exists, temporary)) {
    return WriteResult::CannotOpen;
  }
  if (earlier.exists) take_attributes(temporary, earlier);
  bool written = write_temporary(temporary, bytes);
  written = close_temporary(temporary) && written;
  return commit(folder, temporary, name, written) ? WriteResult::Written : WriteResult::CannotWrite;
}

}  // namespace

WriteResult replace_file(const std::string& path, std::span<const std::uint8_t> bytes) {
  fs::path target;
  Folder folder;
  if (!resolve_target(path, target) || !open_folder(target, folder)) return WriteResult::CannotOpen;
  const std::u8string utf8_name = target.filename().u8string();
  const std::string name(reinterpret_cast<const char*>(utf8_name.data()), utf8_name.size());
  const WriteResult result = replace_in_folder(folder, name, bytes);
  close_folder(folder);
  return result;
}

}  // namespace ferrolet

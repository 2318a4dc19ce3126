// The built tool on 100 MB inputs: the exact summary, and memory that does not grow with the
// input. Peak memory is reported for 1 MB and 100 MB inputs; no timing is asserted.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hex_text.hpp"
#include "tests/workload.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace ferrolet;
using hex_text::ExpectedRead;

struct Outcome {
  int status = -1;
  long peak_kib = 0;          // maximum resident set of the tool's process
  std::string tail;           // the last bytes it printed
  long long fault_lines = 0;  // lines that start with "Line "
};

// Runs the tool on `input` under /usr/bin/time, which reports the peak memory of the tool's own
// process (the test's own memory would otherwise be counted in), with stdout read through a
// pipe, so that millions of messages need not be stored.
Outcome run_tool(const fs::path& input, const fs::path& peak_file) {
  Outcome outcome;
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return outcome;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
  posix_spawn_file_actions_addclose(&actions, pipe_fds[1]);
  const std::string time_exe = "/usr/bin/time";
  const std::string format = "%M";
  const std::string peak = peak_file.string();
  const std::string exe = FERROLET_DEFAULT_EXE;
  const std::string arg = input.string();
  std::vector<const char*> args = {time_exe.c_str(), "-f",        format.c_str(), "-o",
                                   peak.c_str(),     exe.c_str(), arg.c_str(),    nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, time_exe.c_str(), &actions, nullptr,
                                  const_cast<char* const*>(args.data()), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  if (spawned != 0) {
    close(pipe_fds[0]);
    return outcome;
  }

  std::vector<char> buffer(1 << 16);
  std::string tail;
  std::size_t column = 0;
  bool matching = true;
  static constexpr char PREFIX[] = "Line ";
  for (;;) {
    const ssize_t got = read(pipe_fds[0], buffer.data(), buffer.size());
    if (got <= 0) break;
    for (ssize_t i = 0; i < got; ++i) {
      const char c = buffer[static_cast<std::size_t>(i)];
      if (column < 5) {
        matching = matching && c == PREFIX[column];
        if (column == 4 && matching) outcome.fault_lines += 1;
      }
      // Messages never carry a raw line end, so every line is one message.
      if (c == '\n') {
        column = 0;
        matching = true;
      } else {
        column += 1;
      }
    }
    tail.append(buffer.data(), static_cast<std::size_t>(got));
    if (tail.size() > 4096) tail.erase(0, tail.size() - 4096);
  }
  close(pipe_fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000;
  // GNU time puts "Command exited with non-zero status N" in front of the figure.
  std::ifstream report(peak_file);
  for (std::string line; std::getline(report, line);) {
    if (!line.empty()) outcome.peak_kib = std::atol(line.c_str());
  }
  outcome.tail = tail;
  return outcome;
}

std::string summary_line(const ExpectedRead& s) {
  return "\nread " + std::to_string(s.characters) + " charactes, from adress " +
         std::to_string(s.lowest) + " to " + std::to_string(s.highest) + " with " +
         std::to_string(s.errors) + " errors\n";
}

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class LargeInput : public testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("FERROLET_LAUNCHER") != nullptr) GTEST_SKIP() << "native build only";
    ASSERT_TRUE(fs::exists("/usr/bin/time")) << "needs GNU time (Debian package time)";
    std::string templ = (fs::temp_directory_path() / "ferrolet-large-XXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
  }
  void TearDown() override {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }
  fs::path write(const std::string& name, const std::string& content) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  fs::path dir_;
};

constexpr std::size_t MB = 1000 * 1000;

// Valid records and random bytes, 1 MB and 100 MB of each. The counts the test works out from the
// record format are what the whole tool must report; peak memory at 100 MB must match that at
// 1 MB.
TEST_F(LargeInput, ReadsToTheEndWithTheExactSummaryInFlatMemory) {
  struct Row {
    const char* name;
    std::string (*make)(std::size_t);
    bool converts;
  };
  const Row rows[] = {
      {"valid records", [](std::size_t n) { return workload::record_stream(n); }, true},
      {"random bytes", [](std::size_t n) { return workload::random_bytes(n, 99); }, false},
  };
  for (const Row& row : rows) {
    long peaks[2] = {0, 0};
    const std::size_t sizes[2] = {1 * MB, 100 * MB};
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(testing::Message() << row.name << ", " << sizes[i] << " bytes");
      fs::remove(dir_ / "input.syx");
      const fs::path input = write("input.hex", row.make(sizes[i]));
      const ExpectedRead expected = hex_text::expected_read(row.make(sizes[i]));
      ASSERT_EQ(expected.errors == 0 && expected.lowest == 0, row.converts);
      std::string ending = summary_line(expected);
      if (row.converts) {
        ASSERT_EQ(expected.highest, 16383);  // the generated records cover the whole memory
        ending += "128 sysEx data blocks in 20180 bytes written\n";
      } else if (expected.lowest != 0) {
        ending += "Lowest adress " + std::to_string(expected.lowest) + " is not zero!\n";
      }

      const Outcome out = run_tool(input, dir_ / "peak");
      EXPECT_EQ(out.status, row.converts ? 0 : 254);
      EXPECT_TRUE(ends_with(out.tail, ending))
          << out.tail.substr(out.tail.size() > 300 ? out.tail.size() - 300 : 0);
      EXPECT_EQ(out.fault_lines, expected.errors);
      EXPECT_EQ(fs::exists(dir_ / "input.syx"), row.converts);
      peaks[i] = out.peak_kib;
    }
    std::printf("peak memory, %s: %ld KiB at 1 MB, %ld KiB at 100 MB\n", row.name, peaks[0],
                peaks[1]);
    RecordProperty(std::string("peak_kib_") + row.name,
                   std::to_string(peaks[0]) + " " + std::to_string(peaks[1]));
    EXPECT_LE(peaks[1], peaks[0] + 1024) << "memory grows with the input";
  }
}

}  // namespace

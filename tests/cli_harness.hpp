// Shared by the end-to-end tests: runs a built program in a fresh temporary folder and reads
// back stdout, the exit status and the files left behind.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "hex_text.hpp"

namespace cli {

namespace fs = std::filesystem;

inline std::string env_or(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

inline std::string shell_quoted(const std::string& s) {
  std::string q = "'";
  for (const char c : s)
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void write_file(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

struct RunResult {
  int status;
  std::string out;
  std::string err;
};

// A fresh folder per test; the tool runs with it as the working directory.
class Cli : public testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "ferrolet-cli-XXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    dir_ = templ;
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
    fs::remove_all(dir_.string() + ".out", ec);
  }

  // Runs the converter with `args`; `prefix` is shell text put in front (limits, traps).
  RunResult run(const std::vector<std::string>& args, const std::string& prefix = "") {
    return run_program(env_or("FERROLET_EXE", FERROLET_DEFAULT_EXE), args, prefix);
  }

  // Runs the upload checker with `args`.
  RunResult run_check(const std::vector<std::string>& args) {
    return run_program(env_or("FERROLET_CHECK_EXE", FERROLET_CHECK_DEFAULT_EXE), args, "");
  }

  RunResult run_program(const std::string& exe, const std::vector<std::string>& args,
                        const std::string& prefix) {
    std::string command = "cd " + shell_quoted(dir_.string()) + " && " + prefix + " " +
                          env_or("FERROLET_LAUNCHER", "") + " " + shell_quoted(exe);
    for (const std::string& a : args) {
      command += ' ';
      command += shell_quoted(a);
    }
    command += " >";
    command += shell_quoted((stdout_dir() / "stdout").string());
    command += " 2>";
    command += shell_quoted((stdout_dir() / "stderr").string());
    const int raw = std::system(command.c_str());
    RunResult r{WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + raw, read_file(stdout_dir() / "stdout"),
                read_file(stdout_dir() / "stderr")};
    if (std::getenv("FERROLET_LAUNCHER") != nullptr) {
      // Console programs under an emulator end their lines with CR LF.
      std::erase(r.out, '\r');
      std::erase(r.err, '\r');
    }
    return r;
  }

  // stdout is kept outside the folder under test so that it never counts as a file left there.
  fs::path stdout_dir() {
    fs::path d = dir_.string() + ".out";
    fs::create_directories(d);
    return d;
  }

  fs::path path(const std::string& name) const { return dir_ / name; }
  void put(const std::string& name, const std::string& content) { write_file(path(name), content); }
  std::string get(const std::string& name) const { return read_file(path(name)); }

  std::set<std::string> files() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  fs::path dir_;
};

using hex_text::record;

// Bytes 0 .. highest, 16 to a record, then the end-of-file record.
inline std::string firmware_up_to(int highest) {
  std::string text;
  for (int address = 0; address <= highest; address += 16) {
    std::vector<int> data;
    for (int i = address; i <= std::min(highest, address + 15); ++i)
      data.push_back(i & 0xFF);
    text += record(address, 0, data);
  }
  return text + ":00000001FF\r\n";
}

inline std::string summary(std::size_t characters, int lowest, int highest, int errors) {
  return "\nread " + std::to_string(characters) + " charactes, from adress " +
         std::to_string(lowest) + " to " + std::to_string(highest) + " with " +
         std::to_string(errors) + " errors\n";
}

}  // namespace cli

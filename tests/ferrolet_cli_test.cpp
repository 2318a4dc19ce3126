// End-to-end tests of the converter: the built tool run in a temporary folder; stdout byte for
// byte, the exit status and the files left behind.
#include <sys/stat.h>

#include <csignal>
#include <functional>

#include "cli_harness.hpp"

namespace {

using namespace cli;
namespace fs = std::filesystem;

// Exit statuses as a POSIX parent sees them (8 bits of main's result).
constexpr int CONVERTED = 0;
constexpr int WRONG_COMMAND_LINE = 255;
constexpr int REFUSED_INPUT = 254;
constexpr int INPUT_UNREADABLE = 253;
constexpr int OUTPUT_UNWRITABLE = 252;

constexpr int MEMORY_SIZE = 16384;  // the target's program memory
constexpr unsigned NOBODY = 65534;  // user and group "nobody" / "nogroup"

const std::string BANNER =
    "ferrolet Version 1.00\nHex-File to Sys-Ex Converter for ATMega168 on Tarvenbox\n";
const std::string USAGE = BANNER + "\nUsage: ferrolet filename.hex\n";

const std::string UPLOAD_299_HEADER =
    std::string("\xF0\x70\x68\x00\x15\x55\x00\x00\x60\x00\x07\x40\x48\xF7", 14);

TEST_F(Cli, RefusesAWrongCommandLineBeforeTouchingAnyFile) {
  put("a.he", ":00000001FF\r\n");
  put(".hex", ":00000001FF\r\n");
  put("abcde", ":00000001FF\r\n");
  const std::vector<std::vector<std::string>> command_lines = {
      {}, {"one.hex", "two.hex"}, {"a.he"}, {".hex"}, {"abcde"}, {"ab.cdef"}, {""}};
  for (const auto& args : command_lines) {
    SCOPED_TRACE(args.empty() ? "(none)" : args[0]);
    const RunResult r = run(args);
    EXPECT_EQ(r.out, USAGE);
    EXPECT_EQ(r.status, WRONG_COMMAND_LINE);
    EXPECT_EQ(files(), (std::set<std::string>{".hex", "a.he", "abcde"}));
  }
}

TEST_F(Cli, RefusedInputsPrintTheirReasonAndWriteNothing) {
  struct Row {
    const char* fixture;
    std::string hex;
    std::string reader_messages;
    int lowest, highest, errors;
    std::string verdict;
  };
  std::vector<int> sixteen(16, 0x5A);
  const std::vector<Row> rows = {
      {"only_eof.hex", ":00000001FF\r\n", "", 65535, 0, 0, "Lowest adress 65535 is not zero!\n"},
      {"empty.hex", "", "", 65535, 0, 0, "Lowest adress 65535 is not zero!\n"},
      {"starts_at_0100.hex", record(0x100, 0, {1, 2}) + ":00000001FF\r\n", "", 256, 257, 0,
       "Lowest adress 256 is not zero!\n"},
      {"bad_checksum_line1.hex", ":0100000041BF\r\n:00000001FF\r\n",
       "Line 1 Checksum error (sum=1)\n", 0, 0, 1, ""},
      {"bad_character_line2.hex", record(0, 0, {1}) + ":01000100 02FC\r\n",
       "Line 2 unexpected character ( )\n", 0, 1, 1, ""},
      {"high_byte_line1.hex",
       ":01000000\xE9"
       "41BE\r\n",
       "Line 1 unexpected character (\xE9)\n", 0, 0, 1, ""},
      {"cut_short_line1.hex", ":0200000041\r\n:00000001FF\r\n", "Line 1 incomplete record\n", 0, 0,
       1, ""},
      {"cut_short_at_end.hex", record(0, 0, {1}) + ":010001", "Line 2 incomplete record\n", 0, 0, 1,
       ""},
      {"beyond_memory.hex", record(MEMORY_SIZE - 8, 0, sixteen) + record(0, 0, {1}), "", 0, 16391,
       0, "Highest address 16391 does not fit into 16384 bytes of program memory!\n"},
      {"errors_and_not_at_zero.hex", ":0100100041AF\r\n", "Line 1 Checksum error (sum=1)\n", 16, 16,
       1, "Lowest adress 16 is not zero!\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fixture);
    std::error_code ec;
    fs::remove_all(dir_, ec);
    fs::create_directories(dir_);
    put(row.fixture, row.hex);
    const RunResult r = run({row.fixture});
    EXPECT_EQ(r.out, BANNER + row.reader_messages +
                         summary(row.hex.size(), row.lowest, row.highest, row.errors) +
                         row.verdict);
    EXPECT_EQ(r.status, REFUSED_INPUT);
    EXPECT_EQ(files(), std::set<std::string>{row.fixture});
  }
}

TEST_F(Cli, ConvertsAndNamesTheOutputAfterTheInput) {
  struct Row {
    std::string input;
    std::string output;
  };
  // Names as long as a file system takes (255 bytes) leave no room for a longer temporary name.
  const std::string long_name(251, 'a');
  std::string long_japanese;
  for (int i = 0; i < 83; ++i)
    long_japanese += "日";
  const std::vector<Row> rows = {
      {"firmware.hex", "firmware.syx"},
      {"fw.abc", "fw.syx"},
      {"a.b.c", "a.syx"},
      {"x.y.abc", "x.y.syx"},
      {"FW.HEX", "FW.syx"},
      {"fw_ü.hex", "fw_ü.syx"},
      {"fw_日本.hex", "fw_日本.syx"},
      {"прошивка.hex", "прошивка.syx"},
      {"υλικολογισμικό.hex", "υλικολογισμικό.syx"},
      {long_name + ".hex", long_name + ".syx"},
      {long_japanese + ".hex", long_japanese + ".syx"},
  };
  const std::string hex = firmware_up_to(299);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.input);
    for (const std::string& name : files())
      fs::remove(path(name));
    put(row.input, hex);
    const RunResult r = run({row.input});
    EXPECT_EQ(r.out, BANNER + summary(hex.size(), 0, 299, 0) +
                         "3 sysEx data blocks in 555 bytes written\n");
    EXPECT_EQ(r.status, CONVERTED);
    const std::string upload = get(row.output);
    ASSERT_EQ(upload.size(), 555u);
    EXPECT_EQ(upload.substr(70, 14), UPLOAD_299_HEADER);
    EXPECT_EQ(get(row.input), hex);
    EXPECT_EQ(files(), (std::set<std::string>{row.input, row.output}));
  }
}

TEST_F(Cli, ConvertsAtAPathNearTheSystemsLengthLimit) {
  if (std::getenv("FERROLET_LAUNCHER") != nullptr) GTEST_SKIP() << "POSIX path limit";
  // 4,090 characters: the upload's path fits in 4,095, a name 15 characters longer would not. The
  // absolute path is longer than that, so the folders are made from inside.
  std::string folders;
  for (int i = 0; i < 16; ++i)
    folders += std::string(250, 'd') + "/";
  const std::string input = folders + std::string(70, 'f') + ".hex";
  const fs::path here = fs::current_path();
  fs::current_path(dir_);
  fs::create_directories(folders);
  write_file(input, firmware_up_to(299));
  const RunResult r = run({input});
  EXPECT_EQ(r.status, CONVERTED) << r.out;
  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator(folders))
    left.insert(entry.path().filename().string());
  EXPECT_EQ(left,
            (std::set<std::string>{std::string(70, 'f') + ".hex", std::string(70, 'f') + ".syx"}));
  fs::current_path(here);
}

TEST_F(Cli, ReplacesAnEarlierUploadOnSuccess) {
  put("fw.hex", firmware_up_to(299));
  put("fw.syx", "an older upload");
  ASSERT_EQ(run({"fw.hex"}).status, CONVERTED);
  const std::string first = get("fw.syx");
  EXPECT_EQ(first.size(), 555u);
  // A first upload gets the mode any new file gets: 0666 less the umask.
  fs::remove(path("fw.syx"));
  ASSERT_EQ(run({"fw.hex"}, "umask 027;").status, CONVERTED);
  if (std::getenv("FERROLET_LAUNCHER") == nullptr) {
    EXPECT_EQ(fs::status(path("fw.syx")).permissions(), fs::perms(0640));
  }
  put("fw.hex", firmware_up_to(255));
  // The new upload keeps the earlier one's mode and, where the run may set them, owner and group.
  const bool posix = std::getenv("FERROLET_LAUNCHER") == nullptr;
  const bool root = geteuid() == 0;
  if (posix) {
    fs::permissions(path("fw.syx"), fs::perms(0604));
    if (root) {
      ASSERT_EQ(chown(path("fw.syx").c_str(), NOBODY, NOBODY), 0);
    }
  }
  const RunResult r = run({"fw.hex"});
  EXPECT_EQ(r.status, CONVERTED);
  EXPECT_EQ(get("fw.syx").size(), 398u);
  EXPECT_EQ(files(), (std::set<std::string>{"fw.hex", "fw.syx"}));
  struct stat st {};
  ASSERT_EQ(stat(path("fw.syx").c_str(), &st), 0);
  if (posix) {
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(st.st_uid, root ? NOBODY : geteuid());
    EXPECT_EQ(st.st_gid, root ? NOBODY : getegid());
  }
}

TEST_F(Cli, ConvertsTheBundledExampleFirmware) {
  const fs::path example = fs::path(FERROLET_SOURCE_DIR) / "examples" / "blink.hex";
  const std::string hex = read_file(example);
  ASSERT_FALSE(hex.empty());
  put("blink.hex", hex);
  const RunResult r = run({"blink.hex"});
  EXPECT_EQ(r.status, CONVERTED) << r.out;
  const std::string upload = get("blink.syx");
  ASSERT_GT(upload.size(), 84u);
  EXPECT_EQ((upload.size() - 84) % 157, 0u);
  const std::size_t blocks = (upload.size() - 84) / 157;
  EXPECT_NE(r.out.find(std::to_string(blocks) + " sysEx data blocks in " +
                       std::to_string(upload.size()) + " bytes written\n"),
            std::string::npos)
      << r.out;
  if (std::getenv("FERROLET_LAUNCHER") != nullptr) return;
  // Messages that cannot be shown are said on standard error; the upload and the status stand.
  fs::remove(path("blink.syx"));
  const std::string command = "cd " + shell_quoted(dir_.string()) + " && " +
                              shell_quoted(FERROLET_DEFAULT_EXE) + " blink.hex >/dev/full 2>" +
                              shell_quoted((stdout_dir() / "stderr").string());
  EXPECT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(get("blink.syx"), upload);
  EXPECT_EQ(read_file(stdout_dir() / "stderr"),
            "ferrolet: messages could not be written to standard output\n");
}

TEST_F(Cli, InputThatCannotBeOpenedOrRead) {
  {
    SCOPED_TRACE("missing file");
    const RunResult r = run({"missing.hex"});
    EXPECT_EQ(r.out, BANNER + "Input file missing.hex not found\n");
    EXPECT_EQ(r.status, INPUT_UNREADABLE);
    EXPECT_TRUE(files().empty());
  }
  {
    SCOPED_TRACE("a directory in the place of the input");
    fs::create_directory(path("dir.hex"));
    put("dir.syx", "kept");
    const RunResult r = run({"dir.hex"});
    EXPECT_EQ(r.out, BANNER + "Input file dir.hex cannot be read\n");
    EXPECT_EQ(r.status, INPUT_UNREADABLE);
    EXPECT_EQ(get("dir.syx"), "kept");
    EXPECT_EQ(files(), (std::set<std::string>{"dir.hex", "dir.syx"}));
  }
}

TEST_F(Cli, NeverReplacesItsOwnInput) {
  const std::string hex = firmware_up_to(40);
  struct Row {
    const char* name;
    std::string input;           // the argument; the upload's name is the same with "syx"
    std::function<void()> make;  // what stands at the two names
    bool regular;                // the input is a file whose content must stay
  };
  const std::vector<Row> rows = {
      {"the input named with the upload's extension", "fw.syx", [&] { put("fw.syx", hex); }, true},
      {"the output path is a link to the input", "app.hex",
       [&] {
         put("app.hex", hex);
         fs::create_symlink("app.hex", path("app.syx"));
       },
       true},
      {"the output path is a second name of the input", "two.hex",
       [&] {
         put("two.hex", hex);
         fs::create_hard_link(path("two.hex"), path("two.syx"));
       },
       true},
      {"a link to a device named as the upload", "n.syx",
       [&] { fs::create_symlink("/dev/null", path("n.syx")); }, false},
      {"a FIFO named as the upload", "q.syx",
       [&] { ASSERT_EQ(mkfifo(path("q.syx").c_str(), 0600), 0); }, false},
  };
  for (const Row& row : rows) {
    // Links to devices and FIFOs are POSIX things.
    if (!row.regular && std::getenv("FERROLET_LAUNCHER") != nullptr) continue;
    SCOPED_TRACE(row.name);
    row.make();
    const std::string upload = row.input.substr(0, row.input.size() - 3) + "syx";
    const RunResult r = run({row.input}, "timeout 10");  // opening a FIFO would block
    EXPECT_EQ(r.out, BANNER + "Output file " + upload + " would replace the input file\n");
    EXPECT_EQ(r.status, WRONG_COMMAND_LINE);
    if (row.regular) {
      EXPECT_EQ(get(row.input), hex);
    }
  }
}

TEST_F(Cli, OutputThatCannotBeCreatedOrWrittenLeavesNothingBehind) {
  const std::string hex = firmware_up_to(299);
  {
    SCOPED_TRACE("a directory in the place of the output");
    put("fw.hex", hex);
    fs::create_directory(path("fw.syx"));
    const RunResult r = run({"fw.hex"});
    EXPECT_EQ(r.out, BANNER + summary(hex.size(), 0, 299, 0) + "Cant open output file fw.syx\n");
    EXPECT_EQ(r.status, OUTPUT_UNWRITABLE);
    EXPECT_EQ(files(), (std::set<std::string>{"fw.hex", "fw.syx"}));
    fs::remove(path("fw.syx"));
  }
  {
    SCOPED_TRACE("the write fails part-way (file size limit)");
    put("fw.syx", "the upload that was there before");
    // 512 bytes allowed, 555 to write; SIGXFSZ ignored so the write fails instead of killing.
    const RunResult r = run({"fw.hex"}, "ulimit -f 1; trap '' XFSZ;");
    EXPECT_EQ(r.out, BANNER + summary(hex.size(), 0, 299, 0) + "Cannot write output file fw.syx\n");
    EXPECT_EQ(r.status, OUTPUT_UNWRITABLE);
    EXPECT_EQ(get("fw.syx"), "the upload that was there before");
    EXPECT_EQ(get("fw.hex"), hex);
    EXPECT_EQ(files(), (std::set<std::string>{"fw.hex", "fw.syx"}));
  }
  {
    SCOPED_TRACE("the write fails part-way and there was no earlier upload");
    fs::remove(path("fw.syx"));
    const RunResult r = run({"fw.hex"}, "ulimit -f 1; trap '' XFSZ;");
    EXPECT_EQ(r.status, OUTPUT_UNWRITABLE);
    EXPECT_EQ(files(), (std::set<std::string>{"fw.hex"}));
  }
  // The signal arrives between the write and the rename. Windows runs a Ctrl-C handler on a thread
  // of its own; holding back the signal's return keeps the run from finishing first.
  const bool emulated = std::getenv("FERROLET_LAUNCHER") != nullptr;
  put("fw.syx", "the upload that was there before");
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    if (emulated && signal != SIGINT) continue;  // a Windows console has Ctrl-C
    SCOPED_TRACE("ended by signal " + std::to_string(signal) + " during the write");
    const RunResult r = run({"fw.hex"},
                            "strace -f -qq -o /dev/null -e trace=fsync,rt_sigreturn -e "
                            "inject=rt_sigreturn:delay_enter=1000000 -e inject=fsync:signal=" +
                                std::to_string(signal));
    EXPECT_EQ(r.status, emulated ? 3 : 128 + signal);  // 3: the C runtime's end of a Ctrl-C run
    EXPECT_EQ(r.out.find("written"), std::string::npos);
    EXPECT_EQ(get("fw.syx"), "the upload that was there before");
    EXPECT_EQ(files(), (std::set<std::string>{"fw.hex", "fw.syx"}));
  }
  if (emulated) return;
  {
    SCOPED_TRACE("a signal the caller ignores (nohup, trap) stays ignored");
    // This run ends normally under a tracer, where LeakSanitizer's exit check cannot work.
    const RunResult r = run({"fw.hex"},
                            "trap '' INT; ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o /dev/null "
                            "-e inject=fsync:signal=SIGINT");
    EXPECT_EQ(r.status, CONVERTED);
    EXPECT_EQ(get("fw.syx").size(), 555u);
    put("fw.syx", "the upload that was there before");
  }
  {
    SCOPED_TRACE("a shortened temporary name stays valid UTF-8 and fits");
    std::string japanese;
    for (int i = 0; i < 83; ++i)
      japanese += "日";  // 249 bytes
    put(japanese + ".hex", hex);
    EXPECT_EQ(run({japanese + ".hex"}, "strace -f -qq -o /dev/null -e inject=fsync:signal=SIGKILL")
                  .status,
              128 + SIGKILL);
    std::string debris;
    for (const std::string& name : files())
      if (name.ends_with(".tmp")) debris = name;
    ASSERT_FALSE(debris.empty());
    EXPECT_LE(debris.size(), 255u);
    EXPECT_EQ(debris.substr(0, 231), japanese.substr(0, 231)) << "cut between characters";
    EXPECT_EQ(debris.substr(231, 10), ".ferrolet-");
    for (const std::string& name : files())
      if (name != "fw.hex" && name != "fw.syx") fs::remove(path(name));
  }
  {
    SCOPED_TRACE("the temporary file of a killed run stops no later run and is not touched");
    EXPECT_EQ(run({"fw.hex"}, "strace -f -qq -o /dev/null -e inject=fsync:signal=SIGKILL").status,
              128 + SIGKILL);
    std::set<std::string> debris = files();
    ASSERT_EQ(debris.size(), 3u);
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(run({"fw.hex"}).status, CONVERTED);
    EXPECT_EQ(files(), debris);
    EXPECT_EQ(get("fw.syx").size(), 555u);
  }
  {
    SCOPED_TRACE("20 runs at once each succeed and leave one whole upload");
    const std::string one_run = shell_quoted(env_or("FERROLET_EXE", FERROLET_DEFAULT_EXE)) +
                                " fw.hex >/dev/null; echo $? >>codes";
    for (const auto& name : files())
      if (name != "fw.hex") fs::remove(path(name));
    ASSERT_EQ(std::system(("cd " + shell_quoted(dir_.string()) + " && for i in $(seq 20); do (" +
                           one_run + ") & done; wait")
                              .c_str()),
              0);
    std::string codes;
    for (int i = 0; i < 20; ++i)
      codes += "0\n";
    EXPECT_EQ(get("codes"), codes);
    EXPECT_EQ(get("fw.syx").size(), 555u);
    EXPECT_EQ(files(), (std::set<std::string>{"codes", "fw.hex", "fw.syx"}));
  }
}

TEST_F(Cli, LeavesAReadOnlyUploadAlone) {
  // Permission bits do not stop root: as root, the tool runs as "nobody" in a folder of its own.
  const bool root = geteuid() == 0;
  if (root && std::getenv("FERROLET_LAUNCHER") != nullptr) GTEST_SKIP() << "an emulator as root";
  const std::string hex = firmware_up_to(299);
  put("fw.hex", hex);
  put("fw.syx", "protected");
  fs::permissions(path("fw.syx"), fs::perms::owner_read | fs::perms::group_read);
  if (root) {
    ASSERT_EQ(chown(dir_.c_str(), NOBODY, NOBODY), 0);
  }
  const RunResult r =
      run({"fw.hex"}, root ? "setpriv --reuid=nobody --regid=nogroup --clear-groups" : "");
  EXPECT_EQ(r.out, BANNER + summary(hex.size(), 0, 299, 0) + "Cant open output file fw.syx\n");
  EXPECT_EQ(r.status, OUTPUT_UNWRITABLE);
  EXPECT_EQ(get("fw.syx"), "protected");
  EXPECT_EQ(files(), (std::set<std::string>{"fw.hex", "fw.syx"}));
}

TEST_F(Cli, AnUploadReachedThroughALinkIsReplacedWhereItLies) {
  if (std::getenv("FERROLET_LAUNCHER") != nullptr) GTEST_SKIP() << "POSIX links only";
  const std::string hex = firmware_up_to(299);
  put("fw.hex", hex);
  fs::create_directory(path("uploads"));
  put("uploads/fw.syx", "old");
  fs::create_symlink("uploads/fw.syx", path("fw.syx"));
  const RunResult r = run({"fw.hex"});
  EXPECT_EQ(r.status, CONVERTED);
  EXPECT_TRUE(fs::is_symlink(path("fw.syx")));
  EXPECT_EQ(get("uploads/fw.syx").size(), 555u);
  // A relative link beside an input in another folder points from that folder.
  fs::create_directories(path("src"));
  put("src/fw.hex", firmware_up_to(255));
  fs::create_symlink("../uploads/fw.syx", path("src/fw.syx"));
  EXPECT_EQ(run({"src/fw.hex"}).status, CONVERTED);
  EXPECT_TRUE(fs::is_symlink(path("src/fw.syx")));
  EXPECT_EQ(get("uploads/fw.syx").size(), 398u);
}

TEST_F(Cli, ANonRootUserKeepsTheEarlierUploadsGroupWhereItMayNotKeepItsOwner) {
  if (geteuid() != 0 || std::getenv("FERROLET_LAUNCHER") != nullptr) {
    GTEST_SKIP() << "needs root to make the owners";
  }
  constexpr unsigned USERS = 100;  // group "users", which "nobody" is made a member of
  put("fw.hex", firmware_up_to(299));
  put("fw.syx", "owned by root, writable by the group");
  ASSERT_EQ(chown(path("fw.syx").c_str(), 0, USERS), 0);
  fs::permissions(path("fw.syx"), fs::perms(0664));
  ASSERT_EQ(chown(dir_.c_str(), NOBODY, NOBODY), 0);
  const RunResult r = run({"fw.hex"}, "setpriv --reuid=nobody --regid=nogroup --groups=100");
  EXPECT_EQ(r.status, CONVERTED) << r.out;
  struct stat st {};
  ASSERT_EQ(stat(path("fw.syx").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, NOBODY);
  EXPECT_EQ(st.st_gid, USERS);
  EXPECT_EQ(st.st_mode & 07777, 0664u);
}

}  // namespace

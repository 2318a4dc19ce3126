// End-to-end tests of ferrolet-check on uploads made by the converter, uploads broken by hand and
// firmware that differs.
#include "cli_harness.hpp"

namespace {

using namespace cli;

constexpr int CHECK_VALID = 0;
constexpr int CHECK_INVALID = 1;
constexpr int CHECK_USAGE = 2;

class Check : public Cli {
 protected:
  // Converts `hex` as fw.hex and returns the upload the converter wrote.
  std::string convert(const std::string& hex) {
    put("fw.hex", hex);
    EXPECT_EQ(run({"fw.hex"}).status, 0);
    return get("fw.syx");
  }
};

TEST_F(Check, AcceptsWhatTheConverterWrites) {
  const std::string upload = convert(firmware_up_to(299));
  const RunResult r = run_check({"fw.syx"});
  EXPECT_EQ(r.out,
            "upload fw.syx: 555 bytes, 3 data blocks announced\n"
            "every frame, CRC and block number is valid\n"
            "block map (# data, . all 0x00, + data then filler):\n"
            "##+\n"
            "VALID\n");
  EXPECT_EQ(r.status, CHECK_VALID);
}

TEST_F(Check, ConfirmsTheFirmwareAnUploadCarries) {
  const std::string hex = firmware_up_to(299);
  convert(hex);
  const RunResult r = run_check({"fw.syx", "fw.hex"});
  EXPECT_EQ(r.out,
            "upload fw.syx: 555 bytes, 3 data blocks announced\n"
            "every frame, CRC and block number is valid\n"
            "firmware fw.hex: addresses 0 to 299, 3 data blocks\n"
            "block map (# data, . all 0x00, + data then filler, X differs from the firmware):\n"
            "##+\n"
            "the upload carries exactly this firmware\n"
            "VALID\n");
  EXPECT_EQ(r.status, CHECK_VALID);
}

TEST_F(Check, MapsAFullImageSixtyFourBlocksToALine) {
  // Data in the first and last 128 bytes only: everything between is sent as zero blocks.
  std::string hex = record(0, 0, {1, 2, 3});
  hex += record(16383, 0, {9});
  convert(hex);
  const RunResult r = run_check({"fw.syx"});
  EXPECT_NE(r.out.find("#" + std::string(63, '.') + "\n" + std::string(63, '.') + "#\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.status, CHECK_VALID);
}

TEST_F(Check, NamesWhereAFirmwareDiffers) {
  convert(firmware_up_to(299));
  struct Row {
    const char* name;
    std::string other_hex;
    std::string finding;
    std::string map;
  };
  const std::vector<Row> rows = {
      {"one byte differs in block 2 (a name outside any one code page)",
       firmware_up_to(299) + record(200, 0, {0x77}),
       "first difference at address 200 (0x00C8): upload 0xC8, firmware 0x77\n", "#X+\n"},
      {"only the firmware's last byte differs", firmware_up_to(299) + record(299, 0, {0x77}),
       "first difference at address 299 (0x012B): upload 0x2B, firmware 0x77\n", "##X\n"},
      {"the firmware does not start at address 0", record(0x100, 0, {1, 2}),
       "firmware другой_日本.hex: 0 errors, addresses 256 to 257; ferrolet would not convert it\n",
       ""},
      {"the firmware does not fit into program memory",
       firmware_up_to(299) + record(16380, 0, {1, 2, 3, 4, 5, 6, 7, 8}),
       "firmware другой_日本.hex: 0 errors, addresses 0 to 16387; ferrolet would not convert it\n",
       ""},
      {"the firmware is shorter than the upload", firmware_up_to(255),
       "the upload has 3 data blocks, the firmware needs 2\n", "##+\n"},
      {"the firmware ends earlier in the last block", firmware_up_to(290),
       "the upload carries more than the firmware past address 290\n", "##+\n"},
      {"the firmware is longer than the upload", firmware_up_to(400),
       "first difference at address 300 (0x012C): upload 0x70, firmware 0x2C\n", "##X\n"},
      {"nine faults: the first eight are named, the ninth counted",
       ":0100000041BF\r\n" + std::string(8, '!'),
       "firmware другой_日本.hex: Line 1 Checksum error (sum=1)\n" +
           [] {
             std::string lines;
             for (int i = 0; i < 7; ++i)
               lines += "firmware другой_日本.hex: Line 1 unexpected character (!)\n";
             return lines;
           }() +
           "firmware другой_日本.hex: 1 more faults\n"
           "firmware другой_日本.hex: 9 errors, addresses 0 to 0; ferrolet would not convert it\n",
       ""},
      {"the converter would refuse the firmware; its faults are named with it",
       ":0100000041BF\r\n:01000100" + std::string(1, '\0') + "41BD\r\n",
       "firmware другой_日本.hex: Line 1 Checksum error (sum=1)\n"
       "firmware другой_日本.hex: Line 2 unexpected character (" +
           std::string(1, '\0') +
           ")\n"
           "firmware другой_日本.hex: 2 errors, addresses 0 to 1; ferrolet would not convert it\n",
       ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    put("другой_日本.hex", row.other_hex);
    const RunResult r = run_check({"fw.syx", "другой_日本.hex"});
    EXPECT_NE(r.out.find(row.finding + "DIFFERENT\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("X differs from the firmware):\n" + row.map) != std::string::npos,
              !row.map.empty())
        << r.out;
    EXPECT_EQ(r.status, CHECK_INVALID);
  }
}

TEST_F(Check, ReportsTheFirstFaultOfABrokenUpload) {
  const std::string good = convert(firmware_up_to(299));
  struct Row {
    const char* name;
    std::string file;
    std::string finding;
  };
  auto with = [&good](std::size_t at, char byte) {
    std::string f = good;
    f[at] = byte;
    return f;
  };
  const std::vector<Row> rows = {
      {"preamble", with(1, 0x71),
       "fault in the file layout at byte 1: preamble message is not F0 70 7D 00 17 04 02 F7\n"},
      {"gap", with(69, 0x01),
       "fault in the file layout at byte 69: gap after the preamble is not all 00\n"},
      {"frame start", with(84 + 157, 0x00),
       "fault in data block 2 at byte 241: frame does not start with F0\n"},
      {"frame header", with(71, 0x71),
       "fault in the header block at byte 71: frame header is not 70 68 00 15 55\n"},
      {"byte above 7F", with(100, static_cast<char>(0x90)),
       "fault in data block 1 at byte 100: data byte above 7F inside a frame\n"},
      {"CRC", with(100, 0x11), "fault in data block 1 at byte 84: CRC mismatch\n"},
      {"padding bits", with(84 + 155, static_cast<char>(good[84 + 155] | 0x01)),
       "fault in data block 1 at byte 239: padding bits of the last packed byte are not zero\n"},
      {"a packed byte missing", good.substr(0, 100) + good.substr(101),
       "fault in data block 1 at byte 239: packed length does not match the payload (F7 "
       "misplaced)\n"},
      {"blocks 1 and 2 swapped",
       good.substr(0, 84) + good.substr(241, 157) + good.substr(84, 157) + good.substr(398),
       "fault in data block 1 at byte 84: block number out of sequence\n"},
      {"cut inside the 6-byte frame start", good.substr(0, 84 + 157 + 3),
       "fault in data block 2 at byte 244: file ends inside a frame (length is not 84 + 157 * "
       "N)\n"},
      {"cut short", good.substr(0, 500),
       "fault in data block 3 at byte 500: file ends inside a frame (length is not 84 + 157 * "
       "N)\n"},
      {"block missing", good.substr(0, 398),
       "fault in data block 3 at byte 398: number of data blocks does not match the header\n"},
      {"stray bytes", good + "xy",
       "fault in data block 4 at byte 555: bytes after the last data block\n"},
      {"as long as the upload buffer", good + std::string(32768 - good.size(), '\0'),
       "fault in data block 4 at byte 555: bytes after the last data block\n"},
      {"longer than the upload buffer", good + std::string(32769 - good.size(), '\0'),
       "upload broken.syx: more than 32768 bytes, longer than any upload\n"},
      {"header announces 129 blocks (frame and CRC valid)",
       good.substr(0, 70) +
           std::string("\xF0\x70\x68\x00\x15\x55\x00\x20\x20\x00\x02\x40\x18\xF7", 14) +
           good.substr(84),
       "555 bytes, 129 data blocks announced\nfault in the header block at byte 70: header block "
       "is not 00 N 00 00 with N from 1 to 128\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    put("broken.syx", row.file);
    const RunResult r = run_check({"broken.syx"});
    EXPECT_NE(r.out.find(row.finding + "INVALID\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.status, CHECK_INVALID);
  }
}

TEST_F(Check, CommandLineAndFilesThatCannotBeRead) {
  convert(firmware_up_to(10));
  const std::string usage = "Usage: ferrolet-check FILE.syx [FIRMWARE.hex]\n";
  struct Row {
    std::vector<std::string> args;
    std::string out;  // the start of standard output
    std::string err;
    int status;
  };
  const std::vector<Row> rows = {
      {{}, usage, "", CHECK_USAGE},
      {{"fw.syx", "fw.hex", "more"}, usage, "", CHECK_USAGE},
      {{"--help"}, usage, "", CHECK_VALID},
      {{"--version"}, "ferrolet-check 1.00\n", "", CHECK_VALID},
      {{"missing_日本.syx"}, "", "Cannot read upload file missing_日本.syx\n", CHECK_USAGE},
      {{"fw.syx", "missing.hex"}, "", "Cannot read firmware file missing.hex\n", CHECK_USAGE},
      {{"missing.syx", "fw.hex"}, "", "Cannot read upload file missing.syx\n", CHECK_USAGE},
      {{"folder.syx"}, "", "Cannot read upload file folder.syx\n", CHECK_USAGE},
      {{"fw.syx", "folder.hex"}, "", "Cannot read firmware file folder.hex\n", CHECK_USAGE},
  };
  fs::create_directory(path("folder.syx"));
  fs::create_directory(path("folder.hex"));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args.empty() ? "(none)" : row.args[0]);
    const RunResult r = run_check(row.args);
    EXPECT_EQ(r.out.substr(0, row.out.size()), row.out);
    if (row.out.empty()) {
      EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(r.err, row.err);
    EXPECT_EQ(r.status, row.status);
  }
}

}  // namespace

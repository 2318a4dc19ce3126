#include "hex/hex_reader.hpp"
#include "hex_text.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace ferrolet {
namespace {

struct Fault {
  HexFault kind;
  std::int64_t line;
  std::int32_t value;
  bool operator==(const Fault&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Fault& f) {
  return out << "{kind " << static_cast<int>(f.kind) << ", line " << f.line << ", value " << f.value
             << "}";
}

struct ReadResult {
  FirmwareImage image{};
  HexSummary summary;
  std::vector<Fault> faults;
};

void collect(std::vector<Fault>& faults, const HexEvent& event) {
  if (event.fault != HexFault::None) faults.push_back({event.fault, event.line, event.value});
}

// The plain read: one hex_step per byte, then the end-of-input check.
ReadResult read_by_step(std::string_view text) {
  ReadResult result;
  HexReader reader;
  for (const char ch : text)
    collect(result.faults, hex_step(reader, result.image, result.summary, ch));
  collect(result.faults, hex_finish(reader, result.summary));
  return result;
}

using hex_text::record;

TEST(HexDigitValue, MatchesTheTwentyTwoHexDigitsForEveryByteValue) {
  const char* digits = "0123456789abcdefABCDEF";
  for (int i = 0; i < 256; ++i) {
    const char ch = static_cast<char>(i);
    const char* hit = i == 0 ? nullptr : std::strchr(digits, ch);
    int expected = -1;
    if (hit != nullptr) {
      const auto pos = hit - digits;
      expected = static_cast<int>(pos < 16 ? pos : pos - 6);
    }
    EXPECT_EQ(hex_digit_value(ch), expected) << "byte " << i;
  }
}

struct ReaderCase {
  const char* name;
  std::string text;
  std::int64_t records;
  std::int64_t errors;
  std::int32_t lowest;
  std::int32_t highest;
  std::vector<Fault> faults;
  std::map<int, int> stored;  // every image byte not listed must stay 0x00
};

TEST(HexReader, ReadsRecordsCountsAndReportsFaults) {
  using enum HexFault;
  std::vector<int> sixteen;
  for (int i = 1; i <= 16; ++i)
    sixteen.push_back(i);
  std::map<int, int> top_eight;
  for (int i = 0; i < 8; ++i)
    top_eight[IMAGE_SIZE - 8 + i] = i + 1;

  const std::vector<ReaderCase> cases = {
      {"empty input", "", 0, 0, 0xFFFF, 0, {}, {}},
      {"only the end-of-file record", ":00000001FF\r\n", 1, 0, 0xFFFF, 0, {}, {}},
      {"end-of-file record with a bad checksum",
       ":00000001FE",
       1,
       1,
       0xFFFF,
       0,
       {{ChecksumError, 1, 0xFF}},
       {}},
      {"one good record", ":0100000041BE", 1, 0, 0, 0, {}, {{0, 0x41}}},
      {"lower-case digits", ":0100000041be", 1, 0, 0, 0, {}, {{0, 0x41}}},
      {"bad checksum keeps the data",
       ":0100000041BF",
       1,
       1,
       0,
       0,
       {{ChecksumError, 1, 1}},
       {{0, 0x41}}},
      {"space inside a field",
       ":01000 00041BE",
       1,
       1,
       0,
       0,
       {{UnexpectedCharacter, 1, ' '}},
       {{0, 0x41}}},
      {"tab and 0xFF are ordinary bad characters",
       ":01\t00000041BE\xFF",
       1,
       2,
       0,
       0,
       {{UnexpectedCharacter, 1, '\t'}, {UnexpectedCharacter, 1, 0xFF}},
       {{0, 0x41}}},
      {"NUL does not end the read",
       std::string(":01\0", 4) + "00000041BE",
       1,
       1,
       0,
       0,
       {{UnexpectedCharacter, 1, 0}},
       {{0, 0x41}}},
      {"line break in the middle of a byte", ":01000000A\r\nA55", 1, 0, 0, 0, {}, {{0, 0xAA}}},
      {"digits before the first colon are dropped, other bytes are line 0",
       "12G\n:0100000041BE",
       1,
       1,
       0,
       0,
       {{UnexpectedCharacter, 0, 'G'}},
       {{0, 0x41}}},
      {"record crossing the top of memory",
       record(IMAGE_SIZE - 8, 0, sixteen),
       1,
       0,
       IMAGE_SIZE - 8,
       IMAGE_SIZE + 7,
       {},
       top_eight},
      {"addresses are not wrapped at 64 KiB",
       record(0xFFFF, 0, {0xAA, 0xBB}),
       1,
       0,
       0xFFFF,
       0x10000,
       {},
       {}},
      {"later record for the same address wins",
       record(5, 0, {0x11}) + record(5, 0, {0x22}),
       2,
       0,
       5,
       5,
       {},
       {{5, 0x22}}},
      {"records after the end-of-file record are stored",
       ":00000001FF\r\n" + record(2, 0, {0x33}),
       2,
       0,
       2,
       2,
       {},
       {{2, 0x33}}},
      {"other record types move the range but store nothing",
       record(0, 2, {0x00, 0x00}) + record(0x10, 4, {0x12}),
       2,
       0,
       0,
       0x10,
       {},
       {}},
      {"extra 00 pair after a good checksum passes",
       ":0100000041BE00",
       1,
       0,
       0,
       0,
       {},
       {{0, 0x41}}},
      {"each extra pair is tested as one more checksum",
       ":0100000041BE0505",
       1,
       2,
       0,
       0,
       {{ChecksumError, 1, 5}, {ChecksumError, 1, 10}},
       {{0, 0x41}}},
      {"record cut short by the next colon",
       ":0200000041\r\n" + record(1, 0, {0x42}),
       2,
       1,
       0,
       1,
       {{IncompleteRecord, 1, 0}},
       {{0, 0x41}, {1, 0x42}}},
      {"record cut short by the end of input",
       ":01000000",
       1,
       1,
       0xFFFF,
       0,
       {{IncompleteRecord, 1, 0}},
       {}},
      {"half a checksum is still incomplete",
       ":0100000041B",
       1,
       1,
       0,
       0,
       {{IncompleteRecord, 1, 0}},
       {{0, 0x41}}},
      {"a lone colon at the end is incomplete",
       record(0, 0, {1}) + ":",
       2,
       1,
       0,
       0,
       {{IncompleteRecord, 2, 0}},
       {{0, 1}}},
      {"half a pair after the checksum is not a fault",
       ":0100000041BE0",
       1,
       0,
       0,
       0,
       {},
       {{0, 0x41}}},
  };
  for (const ReaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    const ReadResult r = read_by_step(c.text);
    EXPECT_EQ(r.summary.characters, static_cast<std::int64_t>(c.text.size()));
    EXPECT_EQ(r.summary.records, c.records);
    EXPECT_EQ(r.summary.errors, c.errors);
    EXPECT_EQ(r.summary.lowest, c.lowest);
    EXPECT_EQ(r.summary.highest, c.highest);
    EXPECT_EQ(r.faults, c.faults);
    for (int address = 0; address < IMAGE_SIZE; ++address) {
      const auto it = c.stored.find(address);
      const int expected = it == c.stored.end() ? 0 : it->second;
      ASSERT_EQ(r.image[static_cast<std::size_t>(address)], expected) << "address " << address;
    }
  }
}

// Valid records with random faults: bad digits, spaces, 0xFF and NUL bytes, line ends inside
// fields, cut-short records, extra pairs, stray colons.
std::string broken_input(std::mt19937& rng) {
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  std::string text;
  const int records = 1 + pick(12);
  for (int r = 0; r < records; ++r) {
    std::vector<int> data(static_cast<std::size_t>(pick(20)));
    for (int& b : data)
      b = pick(256);
    const int address = pick(3) == 0 ? IMAGE_SIZE - 8 + pick(16) : pick(IMAGE_SIZE);
    text += record(address, pick(5) == 0 ? pick(6) : 0, data);
  }
  const int faults = pick(6);
  for (int f = 0; f < faults && !text.empty(); ++f) {
    const auto at = static_cast<std::size_t>(pick(static_cast<int>(text.size())));
    switch (pick(8)) {
      case 0:
        text[at] = static_cast<char>(pick(256));  // any byte value, 0x00 and 0xFF included
        break;
      case 1:
        text.insert(at, 1, ' ');
        break;
      case 2:
        text.insert(text.begin() + static_cast<long>(at), {'\r', '\n'});
        break;
      case 3:
        text.erase(at, static_cast<std::size_t>(1 + pick(6)));
        break;
      case 4:
        text.insert(text.begin() + static_cast<long>(at), {'A', '5'});
        break;
      case 5:
        text.insert(at, 1, '\0');
        break;
      case 6:
        text.insert(at, 1, ':');
        break;
      case 7:
        text.resize(at);
        break;
    }
  }
  return text;
}

// The block reader's pair-at-a-time path must have exactly the effect of stepping byte by byte,
// wherever the blocks are cut.
TEST(HexReader, BlockReadMatchesStepReadOnGeneratedInputs) {
  std::mt19937 rng(2026);
  for (int round = 0; round < 5000; ++round) {
    const std::string text = broken_input(rng);
    SCOPED_TRACE(testing::Message() << "round " << round << ": " << text);
    const ReadResult expected = read_by_step(text);
    const hex_text::ExpectedRead counted = hex_text::expected_read(text);
    ASSERT_EQ(expected.summary.errors, counted.errors);
    ASSERT_EQ(expected.faults.size(), static_cast<std::size_t>(counted.errors));
    ASSERT_EQ(expected.summary.records, counted.records);
    ASSERT_EQ(expected.summary.lowest, counted.lowest);
    ASSERT_EQ(expected.summary.highest, counted.highest);

    ReadResult got;
    HexReader reader;
    std::span<const char> rest(text.data(), text.size());
    while (!rest.empty()) {
      // Blocks of random length stand in for the read blocks of a file.
      std::span<const char> block = rest.first(std::min<std::size_t>(rest.size(), 1 + rng() % 64));
      rest = rest.subspan(block.size());
      while (!block.empty()) {
        HexEvent event;
        block = block.subspan(hex_feed(reader, got.image, got.summary, block, event));
        collect(got.faults, event);
      }
    }
    collect(got.faults, hex_finish(reader, got.summary));

    ASSERT_EQ(got.faults, expected.faults);
    ASSERT_EQ(got.summary.characters, expected.summary.characters);
    ASSERT_EQ(got.summary.records, expected.summary.records);
    ASSERT_EQ(got.summary.errors, expected.summary.errors);
    ASSERT_EQ(got.summary.lowest, expected.summary.lowest);
    ASSERT_EQ(got.summary.highest, expected.summary.highest);
    ASSERT_EQ(got.image, expected.image);
  }
}

// The stream loop must give the same result as stepping byte by byte, also for a record that
// straddles the loop's 64 KiB read blocks.
TEST(HexReader, StreamReadMatchesStepReadAcrossReadBlocks) {
  std::string text;
  for (int address = 0; text.size() < 3 * 65536; address = (address + 16) % IMAGE_SIZE) {
    std::vector<int> data;
    for (int i = 0; i < 16; ++i)
      data.push_back((address + i * 7) & 0xFF);
    text += record(address, 0, data);
  }
  // Faults right at the first read block boundary, and one at the end.
  text.insert(65536 - 3,
              ":10000\xFF"
              "0");
  text += ":0100000041BF";
  const ReadResult expected = read_by_step(text);
  ASSERT_GE(expected.faults.size(), 3u);

  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), file), text.size());
  std::rewind(file);
  FirmwareImage image{};
  HexSummary summary;
  std::vector<Fault> faults;
  const auto keep = [](const HexEvent& event, void* into) {
    collect(*static_cast<std::vector<Fault>*>(into), event);
  };
  const bool read_to_end = read_hex_stream(file, image, summary, keep, &faults);
  static_cast<void>(std::fclose(file));

  EXPECT_TRUE(read_to_end);
  EXPECT_EQ(faults, expected.faults);
  EXPECT_EQ(summary.characters, expected.summary.characters);
  EXPECT_EQ(summary.records, expected.summary.records);
  EXPECT_EQ(summary.errors, expected.summary.errors);
  EXPECT_EQ(summary.lowest, 0);
  EXPECT_EQ(summary.highest, IMAGE_SIZE - 1);
  EXPECT_EQ(image, expected.image);
}

// Inputs beyond 2 GiB: counts and line numbers go on past the 32-bit range.
TEST(HexReader, CountsGoOnPastTwoGiB) {
  constexpr std::int64_t int32_max = 2147483647;
  FirmwareImage image{};
  HexSummary summary;
  summary.characters = int32_max;
  summary.records = int32_max;
  summary.errors = int32_max;
  HexReader reader;
  std::vector<HexEvent> events;
  for (const char ch : std::string_view(":0100000041BF")) {
    const HexEvent event = hex_step(reader, image, summary, ch);
    if (event.fault != HexFault::None) events.push_back(event);
  }
  EXPECT_EQ(summary.characters, int32_max + 13);
  EXPECT_EQ(summary.records, int32_max + 1);
  EXPECT_EQ(summary.errors, int32_max + 1);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].line, int32_max + 1);
}

}  // namespace
}  // namespace ferrolet

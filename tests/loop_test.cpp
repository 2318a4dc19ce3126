// The interface test: what came back compared with what was sent, and the search for a pause.
#include "send/loop_test.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ferrolet {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(LoopTest, ComparesWhatCameBackWithWhatWasSent) {
  static FirmwareImage image{};
  static UploadBuffer upload;
  ASSERT_EQ(build_upload(image, 299, upload), 3);  // preamble, header and 3 blocks: 5 messages
  const std::span<const std::uint8_t> file(upload.bytes.data(), upload.used);
  static UploadContent content;
  SendPlan plan;
  ASSERT_EQ(plan_send(file, 0, plan, content), 5u);
  const std::span<const SendStep> steps = std::span(plan).first(5);
  const auto frame = [&](std::size_t step) {
    return Bytes(file.begin() + static_cast<long>(steps[step].offset),
                 file.begin() + static_cast<long>(steps[step].offset + steps[step].length));
  };
  struct Row {
    const char* name;
    std::vector<Bytes> back;
    std::int32_t intact, lost, changed, changed_step;
    std::size_t changed_at;
    std::int32_t sent_byte, got_byte;
    std::array<std::int64_t, STRAY_KINDS> strays;
  };
  Bytes block2_changed = frame(3);
  block2_changed[50] ^= 0x01;
  Bytes block1_cut = frame(2);
  block1_cut.resize(100);
  block1_cut.push_back(0xF7);
  const Bytes clock = {0xF8}, sensing = {0xFE}, note = {0x90, 0x40, 0x7F};
  const Bytes other_program = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
  const std::vector<Row> rows = {
      {"every frame back",
       {frame(0), frame(1), frame(2), frame(3), frame(4)},
       5,
       0,
       0,
       -1,
       0,
       -1,
       -1,
       {}},
      {"nothing back", {}, 0, 5, 0, -1, 0, -1, -1, {}},
      {"block 1 lost", {frame(0), frame(1), frame(3), frame(4)}, 4, 1, 0, -1, 0, -1, -1, {}},
      {"the last block lost", {frame(0), frame(1), frame(2), frame(3)}, 4, 1, 0, -1, 0, -1, -1, {}},
      {"block 2 changed",
       {frame(0), frame(1), frame(2), block2_changed, frame(4)},
       4,
       0,
       1,
       3,
       50,
       frame(3)[50],
       block2_changed[50],
       {}},
      {"blocks 1 and 2 changed: the first change is named",
       {frame(0), frame(1), block1_cut, block2_changed, frame(4)},
       3,
       0,
       2,
       2,
       100,
       frame(2)[100],
       0xF7,
       {}},
      {"block 1 cut short",
       {frame(0), frame(1), block1_cut, frame(3), frame(4)},
       4,
       0,
       1,
       2,
       100,
       frame(2)[100],
       0xF7,
       {}},
      {"stray traffic around the frames",
       {clock, frame(0), sensing, frame(1), clock, frame(2), note, frame(3), other_program,
        frame(4), clock},
       5,
       0,
       0,
       -1,
       0,
       -1,
       -1,
       {3, 1, 1, 1}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes bytes;
    std::vector<LoopMessage> messages;
    double at = 10;
    for (const Bytes& message : row.back) {
      messages.push_back({bytes.size(), message.size(), at += 50});
      bytes.insert(bytes.end(), message.begin(), message.end());
    }
    const LoopReport report = compare_loop(file, steps, bytes, messages, 10);
    EXPECT_EQ(report.frames, 5);
    EXPECT_EQ(report.intact, row.intact);
    EXPECT_EQ(report.lost, row.lost);
    EXPECT_EQ(report.changed, row.changed);
    EXPECT_EQ(report.changed_step, row.changed_step);
    EXPECT_EQ(report.changed_at, row.changed_at);
    EXPECT_EQ(report.sent_byte, row.sent_byte);
    EXPECT_EQ(report.got_byte, row.got_byte);
    EXPECT_EQ(report.strays, row.strays);
    EXPECT_EQ(loop_passed(report), row.intact == 5);
    EXPECT_DOUBLE_EQ(report.line_ms, 555 * 0.32);
    // From the start to the last frame that came back, strays after it left out.
    double last_frame = 0;
    for (std::size_t i = 0; i < row.back.size(); ++i)
      if (row.back[i].size() > 3 && row.back[i][1] != 0x7E) last_frame = 10 + 50.0 * double(i + 1);
    EXPECT_DOUBLE_EQ(report.took_ms, last_frame == 0 ? 0 : last_frame - 10);
  }
}

TEST(LoopTest, SearchesForThePauseThatPassesTwiceInARow) {
  struct Row {
    const char* name;
    std::int64_t start_ms;
    std::string outcomes;              // one letter a run: p passed, f failed
    std::string steps;                 // one letter a step: r run, c carries, f found, g gave up
    std::vector<std::int64_t> pauses;  // the pause of each run
  };
  const std::vector<Row> rows = {
      {"the pause Send uses passes", 0, "p", "c", {0}},
      {"losses until 20 ms", 0, "fffpp", "rrrrf", {0, 5, 10, 20, 20}},
      {"a pass, then a failure, at the same pause", 0, "fpfpp", "rrrrf", {0, 5, 5, 10, 10}},
      {"a longer pause than some tried ones", 30, "fpp", "rrf", {30, 50, 50}},
      {"nothing passes",
       0,
       "ffffffff"
       "f",
       "rrrrrrrrg",
       {0, 5, 10, 20, 50, 100, 200, 500, 1000}},
      {"already at the longest", 1000, "f", "g", {1000}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    PauseSearch search{row.start_ms};
    std::string steps;
    std::vector<std::int64_t> pauses;
    for (const char outcome : row.outcomes) {
      pauses.push_back(search.pause_ms);
      const SearchStep step = next_pause(search, outcome == 'p');
      steps += "rcfg"[static_cast<int>(step)];
    }
    EXPECT_EQ(steps, row.steps);
    EXPECT_EQ(pauses, row.pauses);
  }
}

}  // namespace
}  // namespace ferrolet

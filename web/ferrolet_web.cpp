// The web page's core: the conversion core compiled to WebAssembly, run in a Web Worker. Each call
// answers in data and the programs' own text: what the command and ferrolet-check would say, the
// upload, the plan for sending it, what an interface test found, the limits the page works in.
// The page phrases its own sentences. A file that is read (the firmware to convert, or to compare
// with) is handed over a chunk at a time as the worker reads it: the action's first call begins,
// each chunk is fed, its last call ends; memory stays flat whatever the file's size.
//
// The calls, their arguments and their results' fields are declared in web/boundary.js; the
// structs, their encoders and the C entry points that call each answer_NAME below are written
// from it (boundary.hpp, boundary.cpp).
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "boundary.hpp"
#include "check/check_report.hpp"
#include "core/conversion.hpp"
#include "core/messages.hpp"
#include "send/loop_test.hpp"
#include "send/send_plan.hpp"
#include "web/file_kind.hpp"
#include "web/loop_findings.hpp"
#include "web/page_read.hpp"

namespace ferrolet {
namespace {

// Beyond this many faults the page says how many more there are; its counts stay exact.
constexpr std::int64_t SHOWN_PAGE_FAULTS = 1000;

// What one action works on, from its first call to its last: a conversion or a check (begun,
// fed, ended), a plan. Each action's first call starts a fresh one.
struct CallState {
  ConversionWork conversion;
  FirmwareRead firmware;
  UploadContent content{};
  SendPlan plan{};
  PageRead read;
  std::string messages;
  TextSink messages_sink;
  std::size_t said_reading = 0;            // what of `messages` was said up to the end of the read
  std::optional<int> ended;                // a conversion that ended before reading
  std::vector<std::uint8_t> upload_start;  // a checked upload's first bytes
  std::string upload_name;
  double upload_size = 0;
  bool upload_unreadable = false;
};

}  // namespace

struct WebSession {
  std::unique_ptr<CallState> call;
  Wire result;
};

Wire& wire_of(WebSession& session) {
  return session.result;
}

namespace {

CallState& fresh_call(WebSession& session) {
  session.call = std::make_unique<CallState>();
  return *session.call;
}

void append(std::string_view piece, void* text) {
  static_cast<std::string*>(text)->append(piece);
}

// A sink that collects what is said into `text`.
TextSink into(std::string& text) {
  return {append, &text};
}

// The conversion run of the page: it reads the file itself, chunk by chunk, and delivers the
// upload by offering it for download, which cannot fail.
ConversionFrontEnd page_front_end(CallState& call) {
  call.messages_sink = into(call.messages);
  const auto never_replaces = [](std::string_view, const std::string&, void*) { return false; };
  const auto offer = [](const std::string&, std::span<const std::uint8_t>, void*) {
    return WriteResult::Written;
  };
  return {call.messages_sink, RawBytes::Readable, never_replaces, nullptr, offer, nullptr};
}

ConvertEndOutcome outcome_of(int status, Refusal refusal) {
  if (status == EXIT_WRONG_COMMAND_LINE) return ConvertEndOutcome::BadName;
  if (status == EXIT_INPUT_UNREADABLE) return ConvertEndOutcome::Unreadable;
  switch (refusal) {
    case Refusal::None:
      return ConvertEndOutcome::Converted;
    case Refusal::LowestNotZero:
      return ConvertEndOutcome::LowestNotZero;
    case Refusal::ReadErrors:
      return ConvertEndOutcome::ReadErrors;
    case Refusal::BeyondMemory:
      return ConvertEndOutcome::BeyondMemory;
    case Refusal::NothingBuilt:
      break;
  }
  return ConvertEndOutcome::NothingBuilt;
}

// What a conversion that has ended with `status` leaves for the page.
ConvertEndResult convert_result(CallState& call, int status) {
  const std::string_view messages = call.messages;
  const ConversionWork& work = call.conversion;
  ConvertEndResult result{
      .outcome = outcome_of(status, work.conversion.refusal),
      .messages = std::string(messages.substr(0, call.said_reading)),
      .more_faults =
          static_cast<double>(std::max<std::int64_t>(0, call.read.faults - call.read.shown)),
      .closing = std::string(messages.substr(call.said_reading)),
      .kind = kind_as<ConvertEndKind>(call.read.kind),
      .blocks = static_cast<double>(work.conversion.blocks),
  };
  if (status != EXIT_CONVERTED) return result;
  result.upload = std::span(work.upload.bytes).first(work.conversion.bytes);
  result.upload_name = work.output;
  static_cast<void>(say_block_map(result.upload, call.content, into(result.map)));
  return result;
}

}  // namespace

// The converter takes any extension of three characters; the pickers offer those HEX files carry.
LimitsResult answer_limits(WebSession& /*session*/, const LimitsArgs& /*args*/) {
  return {.version = FERROLET_VERSION,
          .upload_start = static_cast<double>(UPLOAD_READ_CAPACITY),
          .pause_max_ms = static_cast<double>(MAX_EXTRA_PAUSE_MILLISECONDS),
          .firmware_types = ".hex,.ihx,.eep",
          .upload_types = ".syx",
          .memory_kb = IMAGE_SIZE / 1024,
          .shown_faults = static_cast<double>(SHOWN_PAGE_FAULTS),
          .din_bytes_per_second = static_cast<double>(DIN_BYTES_PER_SECOND),
          .longest_test_pause_ms = static_cast<double>(TRIED_PAUSES_MS.back())};
}

ConvertBeginResult answer_convert_begin(WebSession& session, const ConvertBeginArgs& args) {
  CallState& call = fresh_call(session);
  const std::string_view arguments[] = {args.name};
  call.ended = begin_conversion(arguments, page_front_end(call), call.conversion);
  call.said_reading = call.messages.size();
  if (call.ended) return {.reading = false};
  begin_read(call.read, args.name, args.size, call.conversion.image, call.conversion.summary,
             fault_sayer(RawBytes::Readable), &call.messages_sink, SHOWN_PAGE_FAULTS);
  return {.reading = true};
}

FeedResult answer_feed(WebSession& session, const FeedArgs& args) {
  PageRead& read = session.call->read;
  feed_read(read, args.chunk);
  return {.read = read.read};
}

ConvertEndResult answer_convert_end(WebSession& session, const ConvertEndArgs& args) {
  CallState& call = *session.call;
  if (call.ended) return convert_result(call, *call.ended);
  if (!args.unreadable) finish_read(call.read);
  call.said_reading = call.messages.size();
  if (args.unreadable) call.read.faults = 0;  // a read cut short tells no count of more faults
  const InputRead read = args.unreadable ? InputRead::CannotRead : InputRead::Read;
  return convert_result(call, end_conversion(read, page_front_end(call), call.conversion));
}

CheckBeginResult answer_check_begin(WebSession& session, const CheckBeginArgs& args) {
  CallState& call = fresh_call(session);
  call.upload_start.assign(args.upload_start.begin(), args.upload_start.end());
  call.upload_name = args.upload_name;
  call.upload_size = args.upload_size;
  call.upload_unreadable = args.upload_unreadable;
  if (args.upload_unreadable || args.firmware_name.empty()) return {.reading = false};
  begin_read(call.read, args.firmware_name, args.firmware_size, call.firmware.image,
             call.firmware.summary, keep_firmware_fault, &call.firmware, INT64_MAX);
  return {.reading = true};
}

// As ferrolet-check does, a file that cannot be read is reported alone.
CheckEndResult answer_check_end(WebSession& session, const CheckEndArgs& args) {
  CallState& call = *session.call;
  const auto size = static_cast<std::uint64_t>(call.upload_size);
  CheckEndResult result{.with_firmware = call.read.image != nullptr,
                        .kind = kind_as<CheckEndKind>(file_kind(call.upload_start, size))};
  if (call.upload_unreadable || args.unreadable) {
    result.outcome = CheckEndOutcome::Unreadable;
    if (call.upload_unreadable)
      say(into(result.report), CANNOT_READ_UPLOAD, call.upload_name);
    else
      say(into(result.report), CANNOT_READ_FIRMWARE, call.read.name);
    return result;
  }
  if (result.with_firmware) finish_read(call.read);
  const int status = write_check_report(
      call.upload_start, call.upload_name, result.with_firmware ? &call.firmware : nullptr,
      call.read.name, call.content, into(result.report), RawBytes::Readable);
  result.outcome = status == CHECK_VALID ? CheckEndOutcome::Valid : CheckEndOutcome::Invalid;
  // Send offers exactly the bytes that were checked, never the file read again.
  if (status == CHECK_VALID) result.upload = call.upload_start;
  return result;
}

// Whatever the page passes (NaN included) becomes a pause the plan can take.
PlanResult answer_plan(WebSession& session, const PlanArgs& args) {
  CallState& call = fresh_call(session);
  const double max_ms = static_cast<double>(MAX_EXTRA_PAUSE_MILLISECONDS);
  const auto pause_us =
      static_cast<std::int64_t>((args.pause_ms > 0 ? std::min(args.pause_ms, max_ms) : 0) * 1000);
  const std::size_t steps = plan_send(args.upload, pause_us, call.plan, call.content);
  PlanResult result{.steps = static_cast<double>(steps),
                    .pause_ms = static_cast<double>(pause_us / 1000)};
  for (const SendStep& step : std::span(call.plan).first(steps)) {
    result.offset.push_back(static_cast<double>(step.offset));
    result.length.push_back(static_cast<double>(step.length));
    result.at_us.push_back(static_cast<double>(step.at_us));
    result.end_us.push_back(static_cast<double>(step.end_us));
    result.block.push_back(step.block);
  }
  if (steps > 0) result.blocks = call.plan[steps - 1].block;
  return result;
}

TestPatternResult answer_test_pattern(WebSession& session, const TestPatternArgs& /*args*/) {
  CallState& call = fresh_call(session);
  static_cast<void>(build_test_pattern(call.conversion.image, call.conversion.upload));
  return {.upload = std::span(call.conversion.upload.bytes).first(call.conversion.upload.used)};
}

// Judges one run of the interface test and moves the search for a working pause on.
LoopResult answer_loop(WebSession& session, const LoopArgs& args) {
  CallState& call = fresh_call(session);
  const auto pause = static_cast<std::int64_t>(args.pause_ms);
  const std::size_t steps = plan_send(args.upload, pause * 1000, call.plan, call.content);
  const std::span<const SendStep> plan = std::span(call.plan).first(steps);
  const std::vector<LoopMessage> received = loop_messages(args.index);
  const LoopReport report = compare_loop(args.upload, plan, args.back, received, args.start_ms);
  PauseSearch search{pause, static_cast<int>(args.tried), static_cast<int>(args.passes)};
  LoopResult result = loop_findings(report, plan, next_pause(search, loop_passed(report)));
  result.pause_ms = static_cast<double>(search.pause_ms);
  result.tried = search.tried;
  result.passes = search.passes;
  return result;
}

}  // namespace ferrolet

extern "C" ferrolet::WebSession* web_session() {
  return new ferrolet::WebSession();
}

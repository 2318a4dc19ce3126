// The web page's entry points: the conversion core compiled to WebAssembly, run in a Web Worker.
// The page hands over file names and sizes, one call per action (convert, check, plan a send,
// describe the page), and reads back one result: exactly what the command and ferrolet-check
// would say, the upload, the plan for sending it, and every sentence and limit the page shows.
// It reimplements no rule. A file that is read (the firmware to convert, or to compare with) is
// handed over a chunk at a time as the worker reads it: the action's first call begins, each
// chunk is fed, its last call ends; memory stays flat whatever the file's size.
//
// The calls, their arguments and their results' fields are declared in web/boundary.js; the
// result structs, their encoders and the calls' prototypes (boundary.hpp) are written from it.
#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
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
#include "web/page_messages.hpp"
#include "web/page_text.hpp"

namespace ferrolet {
namespace {

// A file the page feeds a chunk at a time: its name and size, how much has come, what it looks
// like, the reader's state, and where its faults go (the first `shown` of them; all are counted).
struct PageRead {
  std::string name;
  double size = 0;
  double read = 0;
  FileKind kind = FileKind::Empty;
  HexReader reader;
  FirmwareImage* image = nullptr;
  HexSummary* summary = nullptr;
  HexEventSink fault = nullptr;
  void* fault_context = nullptr;
  std::int64_t shown = 0;
  std::int64_t faults = 0;
};

// What one action works on and leaves for the page, from its first call to its last: a
// conversion or a check (begun, fed, ended), a plan, the page's texts. Each action's first call
// starts a fresh one.
struct CallState {
  ConversionWork conversion;
  FirmwareRead firmware;
  UploadContent content{};
  SendPlan plan{};
  PageRead read;
  std::string messages;
  TextSink messages_sink;
  std::vector<std::uint8_t> upload_start;  // a checked upload's first bytes
  std::string upload_name;
  double upload_size = 0;
  std::string held;          // what the page says of a firmware it holds
  std::optional<int> ended;  // a conversion that ended before reading
  Wire result;
};

}  // namespace

// The page's handle, made once: each call replaces the state of the call before with a new one.
struct WebSession {
  std::unique_ptr<CallState> call;
};

namespace {

CallState& fresh_call(WebSession* session) {
  session->call = std::make_unique<CallState>();
  return *session->call;
}

using Bytes = std::span<const std::uint8_t>;

// Says one message into a fresh text, for a field of its own.
template <typename... Args>
std::string said(const Message<Args...>& message, const std::type_identity_t<Args>&... args) {
  std::string text;
  say(into(text), message, args...);
  return text;
}

// A HexEventSink for a PageRead: the first `shown` faults go on, the rest are counted.
void show_some(const HexEvent& event, void* page_read) {
  auto& read = *static_cast<PageRead*>(page_read);
  if (read.faults++ < read.shown) read.fault(event, read.fault_context);
}

void begin_read(PageRead& read, std::string_view name, double size, FirmwareImage& image,
                HexSummary& summary, HexEventSink fault, void* fault_context, std::int64_t shown) {
  read = PageRead{std::string(name), size,  0, FileKind::Empty, {}, &image, &summary, fault,
                  fault_context,     shown, 0};
}

// Ends a read that has taken all its chunks: the end-of-input check.
void finish_read(PageRead& read) {
  const HexEvent last = hex_finish(read.reader, *read.summary);
  if (last.fault != HexFault::None) show_some(last, &read);
}

bool never_replaces(std::string_view /*input*/, const std::string& /*output*/, void* /*context*/) {
  return false;
}

// The page delivers an upload by offering it for download, which cannot fail.
WriteResult offer(const std::string& /*output*/, Bytes /*upload*/, void* /*context*/) {
  return WriteResult::Written;
}

// The conversion run of the page; it reads the file itself, chunk by chunk.
ConversionFrontEnd page_front_end(CallState& call) {
  call.messages_sink = into(call.messages);
  return {call.messages_sink, RawBytes::Readable, never_replaces, nullptr, offer, nullptr};
}

// The plan's steps, a field for each of their numbers, and what the page says once each step of
// sending the upload `name` is handed over, or after it when the send is cancelled, its port lost
// or the page closed.
void put_steps(PlanResult& result, std::span<const SendStep> plan, std::string_view name,
               std::int64_t pause_ms) {
  const std::int32_t blocks = plan.back().block;
  for (const SendStep& step : plan) {
    result.offset.push_back(static_cast<double>(step.offset));
    result.length.push_back(static_cast<double>(step.length));
    result.at_us.push_back(static_cast<double>(step.at_us));
    result.end_us.push_back(static_cast<double>(step.end_us));
    result.block.push_back(step.block);
    const std::int32_t handed = step.block < 0 ? 0 : step.block;
    result.test_cancelled.push_back(said(LOOP_CANCELLED, pause_ms, handed));
    result.progress.push_back(said(SEND_PROGRESS, handed, blocks));
    result.cancelled.push_back(said(SEND_CANCELLED, handed, blocks));
    result.lost.push_back(said(SEND_LOST, handed, blocks));
    result.interrupted.push_back(said(SEND_INTERRUPTED, name, handed, blocks));
  }
}

// What a conversion that has ended with `status` leaves for the page.
const std::uint8_t* convert_result(CallState& call, int status) {
  const std::string_view messages = call.messages;
  ConvertEndResult result{
      .status = static_cast<double>(status),
      .messages = std::string(messages.substr(messages.starts_with('\n') ? 1 : 0)),
      .held = call.held,
      .good = status == EXIT_CONVERTED,
  };
  say_conversion_verdict(into(result.verdict), status, call.conversion);
  if (status != EXIT_CONVERTED) {
    if (status == EXIT_REFUSED_INPUT) {
      say_firmware_hint(into(result.hint), call.read.name, call.read.kind);
    }
    return encode(call.result, result);
  }
  const ConversionWork& work = call.conversion;
  const Bytes upload = std::span(work.upload.bytes).first(work.conversion.bytes);
  result.upload = upload;
  result.upload_name = work.output;
  result.download_label = said(DOWNLOAD_LABEL, work.output);
  result.offer = said(OFFER_CONVERTED, work.output, static_cast<Number>(upload.size()));
  static_cast<void>(say_block_map(upload, call.content, into(result.map)));
  return encode(call.result, result);
}

// What a check leaves for the page, the firmware (if any) read.
const std::uint8_t* check_result(CallState& call) {
  const bool with_firmware = call.read.image != nullptr;
  const Bytes upload = call.upload_start;
  CheckEndResult result;
  const int status =
      write_check_report(upload, call.upload_name, with_firmware ? &call.firmware : nullptr,
                         call.read.name, call.content, into(result.report), RawBytes::Readable);
  result.status = status;
  result.good = status == CHECK_VALID;
  const FileKind kind = file_kind(upload, static_cast<std::uint64_t>(call.upload_size));
  say_check_verdict(into(result.verdict), status, with_firmware, kind);
  if (status != CHECK_VALID) {
    say_upload_hint(into(result.hint), call.upload_name, kind);
  } else {
    // Send offers exactly the bytes that were checked, never the file read again.
    result.upload = upload;
    result.offer = said(OFFER_CHECKED, call.upload_name, static_cast<Number>(upload.size()));
  }
  return encode(call.result, result);
}

// What the first call of a read leaves: feed the file `name`, then end the action.
template <typename Begun>
const std::uint8_t* reading(CallState& call, std::string_view name) {
  return encode(call.result, Begun{.reading = true, .stalled = said(READING_STALLED, name)});
}

}  // namespace
}  // namespace ferrolet

using namespace ferrolet;

extern "C" {

// The page's handle for every call; made once.
EMSCRIPTEN_KEEPALIVE WebSession* web_session() {
  return new WebSession();
}

// The limits the worker reads by: the first bytes of an upload it hands over, enough to tell a
// file longer than any upload.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* web_limits(WebSession* session) {
  CallState& call = fresh_call(session);
  return encode(call.result,
                LimitsResult{.upload_start = static_cast<double>(UPLOAD_READ_CAPACITY)});
}

// Begins converting the file `name` of `size` bytes as `ferrolet NAME` would; `held_sha256` is
// the hash of a firmware the page holds, empty for one the user chose, and `held_kept` says that
// the page's copy of it was kept from the last visit because the network could not be reached. If
// reading, feed the file's chunks with web_feed; then call web_convert_end.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* web_convert_begin(WebSession* session, const char* name,
                                                           double size, const char* held_sha256,
                                                           int held_kept) {
  CallState& call = fresh_call(session);
  if (*held_sha256 != '\0') {
    call.held = said(held_kept != 0 ? HELD_FIRMWARE_KEPT : HELD_FIRMWARE, name, held_sha256);
  }
  const ConversionFrontEnd page = page_front_end(call);
  const std::string_view arguments[] = {name};
  call.ended = begin_conversion(arguments, page, call.conversion);
  if (call.ended) return encode(call.result, ConvertBeginResult{});
  begin_read(call.read, name, size, call.conversion.image, call.conversion.summary,
             fault_sayer(RawBytes::Readable), &call.messages_sink, SHOWN_PAGE_FAULTS);
  return reading<ConvertBeginResult>(call, name);
}

// Ends a conversion whose file was fed whole, or could not be read (`unreadable`): what the
// command says after its banner, without the empty line it starts with (unexpected bytes shown
// readably, beyond SHOWN_PAGE_FAULTS faults counted), the verdict, and for a converted file its
// upload, block map and the line that says what Send sends.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* web_convert_end(WebSession* session, int unreadable) {
  CallState& call = *session->call;
  if (call.ended) return convert_result(call, *call.ended);
  if (!unreadable) {
    finish_read(call.read);
    if (call.read.faults > SHOWN_PAGE_FAULTS) {
      say(call.messages_sink, MORE_FAULTS, call.read.faults - SHOWN_PAGE_FAULTS);
    }
  }
  const InputRead read = unreadable ? InputRead::CannotRead : InputRead::Read;
  return convert_result(call, end_conversion(read, page_front_end(call), call.conversion));
}

// Feeds the next chunk of the file being read: how far the read has come, and what to say if the
// user stops it now.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* web_feed(WebSession* session, const std::uint8_t* bytes,
                                                  std::size_t size) {
  CallState& call = *session->call;
  PageRead& read = call.read;
  if (read.read == 0) read.kind = file_kind({bytes, size}, static_cast<std::uint64_t>(read.size));
  hex_feed_all(read.reader, *read.image, *read.summary,
               {reinterpret_cast<const char*>(bytes), size}, show_some, &read);
  read.read += static_cast<double>(size);
  return encode(
      call.result,
      FeedResult{.progress = said(READING, read.name, Grouped{static_cast<std::int64_t>(read.read)},
                                  Grouped{static_cast<std::int64_t>(read.size)}),
                 .stopped = said(READING_STOPPED, read.name)});
}

// Begins checking the upload `upload_name` (`upload` holds its first `given` of `size` bytes,
// enough to tell a file longer than any upload) against the firmware `firmware_name` of
// `firmware_size` bytes (none if the name is empty), as ferrolet-check would. If reading, feed
// the firmware's chunks with web_feed; then call web_check_end.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* web_check_begin(
    WebSession* session, const char* upload_name, const std::uint8_t* upload, std::size_t given,
    double size, const char* firmware_name, double firmware_size) {
  CallState& call = fresh_call(session);
  call.upload_start.assign(upload, upload + given);
  call.upload_name = upload_name;
  call.upload_size = size;
  if (*firmware_name == '\0') return encode(call.result, CheckBeginResult{});
  begin_read(call.read, firmware_name, firmware_size, call.firmware.image, call.firmware.summary,
             keep_firmware_fault, &call.firmware, INT64_MAX);  // the report counts them all
  return reading<CheckBeginResult>(call, firmware_name);
}

// Ends a check whose firmware (if any) was fed whole, or could not be read (`unreadable`): the
// report, the verdict, and for a valid upload its bytes and the line that says what Send sends.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* web_check_end(WebSession* session, int unreadable) {
  CallState& call = *session->call;
  if (!unreadable) {
    if (call.read.image != nullptr) finish_read(call.read);
    return check_result(call);
  }
  // As ferrolet-check does, a firmware that cannot be read is reported alone.
  return encode(call.result, CheckEndResult{.status = static_cast<double>(CHECK_USAGE),
                                            .report = said(CANNOT_READ_FIRMWARE, call.read.name),
                                            .verdict = said(VERDICT_UNREADABLE)});
}

// Plans sending the upload `name` to the port `port` with `pause_ms` between frames: its steps
// and what the page says along them, and the pause as applied.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* web_plan(WebSession* session, const std::uint8_t* upload,
                                                  std::size_t size, const char* name,
                                                  double pause_ms, const char* port) {
  CallState& call = fresh_call(session);
  // Whatever the page passes (NaN included) becomes a pause the plan can take.
  const double max_ms = static_cast<double>(MAX_EXTRA_PAUSE_MILLISECONDS);
  const auto pause_us =
      static_cast<std::int64_t>((pause_ms > 0 ? std::min(pause_ms, max_ms) : 0) * 1000);
  const std::size_t steps = plan_send({upload, size}, pause_us, call.plan, call.content);
  PlanResult result{.steps = static_cast<double>(steps)};
  if (steps == 0) return encode(call.result, result);
  const std::span<const SendStep> plan = std::span(call.plan).first(steps);
  const std::int64_t applied_ms = pause_us / 1000;
  put_steps(result, plan, name, applied_ms);
  result.lost_before_any = said(SEND_LOST_BEFORE_ANY);
  result.test_running = said(LOOP_RUNNING, applied_ms);
  result.sending = said(SENDING, name, static_cast<Number>(size));
  result.port_unavailable = said(PORT_UNAVAILABLE, port);
  result.pause_ms = static_cast<double>(applied_ms);
  result.done = said(SEND_DONE, name, plan.back().block, static_cast<Number>(size), port,
                     Seconds{plan.back().end_us}, Grouped{DIN_BYTES_PER_SECOND}, applied_ms);
  return encode(call.result, result);
}

// A full-memory upload of a test pattern, for testing an interface before any firmware is
// chosen, and its name.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* web_test_pattern(WebSession* session) {
  CallState& call = fresh_call(session);
  static_cast<void>(build_test_pattern(call.conversion.image, call.conversion.upload));
  return encode(
      call.result,
      TestPatternResult{
          .upload = std::span(call.conversion.upload.bytes).first(call.conversion.upload.used),
          .upload_name = said(TEST_PATTERN_NAME)});
}

// Judges one run of the interface test: the upload sent with `pause_ms` between frames from
// `start_ms` on, and what came back (`bytes`, cut into messages by `messages`, three numbers a
// message: offset, length, time in ms); `tried` and `passes` are where the search stood. Gives
// what the run found, the search's next step with where it then stands, and its verdict once it
// is over.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* web_loop(WebSession* session, const std::uint8_t* upload,
                                                  std::size_t size, double pause_ms,
                                                  const std::uint8_t* bytes, std::size_t length,
                                                  const std::uint8_t* messages,
                                                  std::size_t messages_size, double start_ms,
                                                  double tried, double passes) {
  CallState& call = fresh_call(session);
  const auto pause = static_cast<std::int64_t>(pause_ms);
  const std::size_t steps = plan_send({upload, size}, pause * 1000, call.plan, call.content);
  const std::span<const SendStep> plan = std::span(call.plan).first(steps);
  std::vector<LoopMessage> received(messages_size / (3 * sizeof(double)));
  for (std::size_t i = 0; i < received.size(); ++i) {
    double triple[3];
    std::memcpy(triple, messages + i * sizeof triple, sizeof triple);
    received[i] = {static_cast<std::size_t>(triple[0]), static_cast<std::size_t>(triple[1]),
                   triple[2]};
  }
  const LoopReport report = compare_loop({upload, size}, plan, {bytes, length}, received, start_ms);
  PauseSearch search{pause, static_cast<int>(tried), static_cast<int>(passes)};
  const SearchStep step = next_pause(search, loop_passed(report));
  LoopResult result{.report = {},
                    .passed = loop_passed(report),
                    .pause_ms = static_cast<double>(search.pause_ms),
                    .tried = static_cast<double>(search.tried),
                    .passes = static_cast<double>(search.passes)};
  say_loop_report(into(result.report), report, plan, pause);
  switch (step) {
    case SearchStep::Run:
      result.step = LoopStep::Run;
      break;
    case SearchStep::Carries:
      result.step = LoopStep::Carries;
      result.verdict = said(LOOP_CARRIES, pause);
      break;
    case SearchStep::Found:
      result.step = LoopStep::Found;
      result.verdict = said(LOOP_FOUND, pause, pause);
      break;
    case SearchStep::GaveUp:
      result.step = LoopStep::GaveUp;
      result.verdict = said(LOOP_GAVE_UP, TRIED_PAUSES_MS.back());
      break;
  }
  return encode(call.result, result);
}

// The plain-text report of a send or a test, made only of what the page showed: the page's
// version, the browser, the ports, the upload (`sha256` its hash), the pacing, the outcome and,
// after a test, its report.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* web_report(WebSession* session, const char* user_agent,
                                                    const char* output, const char* input,
                                                    const char* name, double size,
                                                    const char* sha256, double pause_ms,
                                                    const char* outcome, const char* test) {
  CallState& call = fresh_call(session);
  ReportResult result;
  const auto bytes = static_cast<std::size_t>(size);
  const auto blocks = bytes > UPLOAD_LEAD_SIZE ? (bytes - UPLOAD_LEAD_SIZE) / DATA_FRAME_SIZE : 0;
  say(into(result.report), PAGE_REPORT, FERROLET_VERSION, user_agent, output,
      *input != '\0' ? std::string_view(input) : said(NO_INPUT_PORT), name,
      static_cast<Number>(bytes), static_cast<Number>(blocks), sha256,
      static_cast<Number>(pause_ms), Grouped{DIN_BYTES_PER_SECOND});
  say(into(result.report), REPORT_OUTCOME, outcome);
  result.report += test;
  return encode(call.result, result);
}

// What the page shows before any file is chosen, for the browser `user_agent` names: the
// pause's limits and label, the sentences about MIDI, the line that says nothing is ready to
// send, and the extensions the firmware picker offers (the converter takes any of three
// characters; these are the ones HEX files carry).
EMSCRIPTEN_KEEPALIVE const std::uint8_t* web_page(WebSession* session, const char* user_agent) {
  CallState& call = fresh_call(session);
  const Browser browser = browser_of(user_agent);
  return encode(
      call.result,
      PageResult{
          .pause_min_ms = 0,
          .pause_max_ms = static_cast<double>(MAX_EXTRA_PAUSE_MILLISECONDS),
          .pause_label = said(PAUSE_LABEL, 0, MAX_EXTRA_PAUSE_MILLISECONDS),
          .midi_missing = said(browser == Browser::Safari ? MIDI_MISSING_SAFARI : MIDI_MISSING),
          .midi_refused = said(browser == Browser::Firefox ? MIDI_REFUSED_FIREFOX : MIDI_REFUSED),
          .midi_ready = said(MIDI_READY),
          .midi_no_port = said(MIDI_NO_PORT),
          .nothing_to_send = said(NOTHING_TO_SEND),
          .firmware_types = ".hex,.ihx,.eep",
          .upload_types = ".syx",
          .held_missing = said(HELD_FIRMWARE_MISSING),
          .outdated = said(PAGE_OUTDATED),
      });
}

}  // extern "C"

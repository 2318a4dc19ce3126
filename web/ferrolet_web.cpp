// The web page's entry points: the conversion core compiled to WebAssembly. The page hands over
// file bytes and names, one call per action (convert, check, plan a send, describe the page), and
// reads back one result: exactly what the command and ferrolet-check would say, the upload, the
// plan for sending it, and every sentence and limit the page shows. It reimplements no rule.
//
// A result, as the page reads it (app.js, readResult), is a run of fields, each
//   one byte, the field's kind: 't' text, 'b' bytes, 'n' a number, 'a' an array of numbers,
//       'l' a list of texts;
//   the field's name in ASCII, ended by a NUL byte;
//   the length of its body in bytes, 4 bytes little-endian, then the body: a text's bytes (the
//       messages' own bytes: UTF-8, with any raw byte a message shows), bytes as they are, each
//       number as an 8-byte little-endian IEEE double, a list as each text's length (4 bytes
//       little-endian) and bytes in turn;
// and a 0 byte after the last field.
#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "check/check_report.hpp"
#include "core/conversion.hpp"
#include "core/messages.hpp"
#include "send/send_plan.hpp"

namespace ferrolet {
namespace {

// What one call works on and leaves for the page; a fresh one for every call.
struct CallState {
  ConversionWork conversion;
  FirmwareRead firmware;
  UploadContent content{};
  SendPlan plan{};
  std::vector<std::uint8_t> result;
};

// The page's handle, made once: each call replaces the state of the call before with a new one.
struct WebSession {
  std::unique_ptr<CallState> call;
};

CallState& fresh_call(WebSession* session) {
  session->call = std::make_unique<CallState>();
  return *session->call;
}

using Bytes = std::span<const std::uint8_t>;

void append(std::string_view piece, void* text) {
  static_cast<std::string*>(text)->append(piece);
}

// A sink that collects what is said into `text`.
TextSink into(std::string& text) {
  return {append, &text};
}

void put_raw(std::vector<std::uint8_t>& out, const void* bytes, std::size_t size) {
  const auto* begin = static_cast<const std::uint8_t*>(bytes);
  out.insert(out.end(), begin, begin + size);
}

void put_length(std::vector<std::uint8_t>& out, std::size_t size) {
  const auto length = static_cast<std::uint32_t>(size);
  const std::uint8_t le[4] = {
      static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
      static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24)};
  put_raw(out, le, sizeof le);
}

void put_field(CallState& call, char kind, std::string_view name, const void* body,
               std::size_t size) {
  call.result.push_back(static_cast<std::uint8_t>(kind));
  put_raw(call.result, name.data(), name.size());
  call.result.push_back(0);
  put_length(call.result, size);
  put_raw(call.result, body, size);
}

void put_text(CallState& call, std::string_view name, std::string_view text) {
  put_field(call, 't', name, text.data(), text.size());
}

void put_bytes(CallState& call, std::string_view name, Bytes bytes) {
  put_field(call, 'b', name, bytes.data(), bytes.size());
}

// WebAssembly is little-endian, so a double's bytes are already in the result's order.
void put_numbers(CallState& call, std::string_view name, const std::vector<double>& numbers) {
  put_field(call, 'a', name, numbers.data(), numbers.size() * sizeof(double));
}

void put_number(CallState& call, std::string_view name, double number) {
  put_field(call, 'n', name, &number, sizeof number);
}

void put_list(CallState& call, std::string_view name, const std::vector<std::string>& texts) {
  std::vector<std::uint8_t> body;
  for (const std::string& text : texts) {
    put_length(body, text.size());
    put_raw(body, text.data(), text.size());
  }
  put_field(call, 'l', name, body.data(), body.size());
}

// Says one message into a fresh text, for a field of its own.
template <typename... Args>
std::string said(const Message<Args...>& message, const std::type_identity_t<Args>&... args) {
  std::string text;
  say(into(text), message, args...);
  return text;
}

const std::uint8_t* finish(CallState& call) {
  call.result.push_back(0);
  return call.result.data();
}

// The conversion run of the page: the input is the file's bytes, and the upload is delivered by
// offering it for download, which cannot fail.
struct PageInput {
  Bytes bytes;
};

bool never_replaces(std::string_view /*input*/, const std::string& /*output*/, void* /*context*/) {
  return false;
}

InputRead read_bytes(std::string_view /*input*/, FirmwareImage& image, HexSummary& summary,
                     HexEventSink fault, void* fault_context, void* context) {
  const Bytes bytes = static_cast<const PageInput*>(context)->bytes;
  read_hex_bytes({reinterpret_cast<const char*>(bytes.data()), bytes.size()}, image, summary, fault,
                 fault_context);
  return InputRead::Read;
}

WriteResult offer(const std::string& /*output*/, Bytes /*upload*/, void* /*context*/) {
  return WriteResult::Written;
}

void put_verdict(CallState& call, std::string_view verdict, bool good) {
  put_text(call, "verdict", verdict);
  put_number(call, "good", good ? 1 : 0);
}

}  // namespace
}  // namespace ferrolet

using namespace ferrolet;

extern "C" {

// The page's handle for every call; made once.
EMSCRIPTEN_KEEPALIVE WebSession* web_session() {
  return new WebSession();
}

// Converts `size` bytes of the file `name` as `ferrolet NAME` would. Fields: status (the exit
// code), messages (everything after the banner), verdict, good, and for a converted file upload,
// upload_name, download_label, map (the block map with its legend) and offer (the line that says
// what Send sends).
EMSCRIPTEN_KEEPALIVE const std::uint8_t* web_convert(WebSession* session, const char* name,
                                                     const std::uint8_t* bytes, std::size_t size) {
  CallState& call = fresh_call(session);
  std::string messages;
  PageInput input{{bytes, size}};
  const ConversionFrontEnd page{into(messages), never_replaces, read_bytes, offer, &input};
  const std::string_view arguments[] = {name};
  const int status = run_conversion(arguments, page, call.conversion);
  put_number(call, "status", status);
  put_text(call, "messages", messages);
  std::string verdict;
  say_conversion_verdict(into(verdict), status, call.conversion);
  put_verdict(call, verdict, status == EXIT_CONVERTED);
  if (status != EXIT_CONVERTED) return finish(call);
  const Bytes upload =
      std::span(call.conversion.upload.bytes).first(call.conversion.conversion.bytes);
  put_bytes(call, "upload", upload);
  put_text(call, "upload_name", call.conversion.output);
  std::string map;
  static_cast<void>(say_block_map(upload, call.content, into(map)));
  put_text(call, "map", map);
  put_text(call, "download_label", said(DOWNLOAD_LABEL, call.conversion.output));
  put_text(call, "offer",
           said(OFFER_CONVERTED, call.conversion.output, static_cast<Number>(upload.size())));
  return finish(call);
}

// Checks the upload `upload_name` against the firmware `firmware_name` (none if that is empty) as
// ferrolet-check would. Fields: status, report, verdict, good, and for a valid upload offer.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* web_check(WebSession* session, const char* upload_name,
                                                   const std::uint8_t* upload, std::size_t size,
                                                   const char* firmware_name,
                                                   const std::uint8_t* firmware,
                                                   std::size_t firmware_size) {
  CallState& call = fresh_call(session);
  const bool with_firmware = *firmware_name != '\0';
  if (with_firmware) {
    read_hex_bytes({reinterpret_cast<const char*>(firmware), firmware_size}, call.firmware.image,
                   call.firmware.summary, keep_firmware_fault, &call.firmware);
  }
  std::string report;
  const int status =
      write_check_report({upload, size}, upload_name, with_firmware ? &call.firmware : nullptr,
                         firmware_name, call.content, into(report));
  put_number(call, "status", status);
  put_text(call, "report", report);
  std::string verdict;
  say_check_verdict(into(verdict), status, with_firmware);
  put_verdict(call, verdict, status == CHECK_VALID);
  if (status == CHECK_VALID) {
    put_text(call, "offer", said(OFFER_CHECKED, upload_name, static_cast<Number>(size)));
  }
  return finish(call);
}

// Plans sending the upload `name` to the port `port` with `pause_ms` between frames. Fields:
// steps and, for each step, offset, length, at_us, end_us, block, and the sentences progress
// (once it is handed over), cancelled and stopped (after it); done, and pause_ms as applied.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* web_plan(WebSession* session, const std::uint8_t* upload,
                                                  std::size_t size, const char* name,
                                                  double pause_ms, const char* port) {
  CallState& call = fresh_call(session);
  // Whatever the page passes (NaN included) becomes a pause the plan can take.
  const double max_ms = static_cast<double>(MAX_EXTRA_PAUSE_MILLISECONDS);
  const auto pause_us =
      static_cast<std::int64_t>((pause_ms > 0 ? std::min(pause_ms, max_ms) : 0) * 1000);
  const std::size_t steps = plan_send({upload, size}, pause_us, call.plan, call.content);
  put_number(call, "steps", static_cast<double>(steps));
  if (steps == 0) return finish(call);
  const std::span<const SendStep> plan = std::span(call.plan).first(steps);
  const std::int32_t blocks = plan.back().block;
  std::vector<double> offset, length, at_us, end_us, block;
  std::vector<std::string> progress, cancelled, stopped;
  for (const SendStep& step : plan) {
    offset.push_back(static_cast<double>(step.offset));
    length.push_back(static_cast<double>(step.length));
    at_us.push_back(static_cast<double>(step.at_us));
    end_us.push_back(static_cast<double>(step.end_us));
    block.push_back(step.block);
    const std::int32_t handed = step.block < 0 ? 0 : step.block;
    progress.push_back(said(SEND_PROGRESS, handed, blocks));
    cancelled.push_back(said(SEND_CANCELLED, handed, blocks));
    stopped.push_back(said(SEND_STOPPED, handed, blocks));
  }
  put_numbers(call, "offset", offset);
  put_numbers(call, "length", length);
  put_numbers(call, "at_us", at_us);
  put_numbers(call, "end_us", end_us);
  put_numbers(call, "block", block);
  put_list(call, "progress", progress);
  put_list(call, "cancelled", cancelled);
  put_list(call, "stopped", stopped);
  const std::int64_t applied_ms = pause_us / 1000;
  put_number(call, "pause_ms", static_cast<double>(applied_ms));
  put_text(call, "done",
           said(SEND_DONE, name, blocks, static_cast<Number>(size), port,
                Seconds{plan.back().end_us}, Grouped{DIN_BYTES_PER_SECOND}, applied_ms));
  return finish(call);
}

// What the page shows before any file is chosen: the pause's limits and label, the sentences
// about MIDI, and the line that says nothing is ready to send.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* web_page(WebSession* session) {
  CallState& call = fresh_call(session);
  put_number(call, "pause_min_ms", 0);
  put_number(call, "pause_max_ms", static_cast<double>(MAX_EXTRA_PAUSE_MILLISECONDS));
  put_text(call, "pause_label", said(PAUSE_LABEL, 0, MAX_EXTRA_PAUSE_MILLISECONDS));
  put_text(call, "midi_missing", said(MIDI_MISSING));
  put_text(call, "midi_refused", said(MIDI_REFUSED));
  put_text(call, "midi_ready", said(MIDI_READY));
  put_text(call, "midi_no_port", said(MIDI_NO_PORT));
  put_text(call, "nothing_to_send", said(NOTHING_TO_SEND));
  return finish(call);
}

}  // extern "C"

// What the page says beyond what the programs print: its one-sentence verdicts, the hint for a
// file chosen in the wrong box, the words for the visitor's browser, and what a run of the
// interface test found.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/conversion.hpp"
#include "core/text.hpp"
#include "send/loop_test.hpp"
#include "send/send_plan.hpp"

namespace ferrolet {

// A sink that collects what is said into `text`: the page's results are texts.
[[nodiscard]] TextSink into(std::string& text);

// The page's one-sentence verdict on a run that returned `exit_code`.
void say_conversion_verdict(const TextSink& sink, int exit_code, const ConversionWork& work);

// What a file looks like from its first bytes and its size, so that the page can say when one is
// in the wrong box.
enum class FileKind : std::uint8_t {
  Empty,
  Upload,   // begins as SysEx does, which no HEX text does
  HexText,  // its first character other than white space is the ':' of a record
  Other,
};
[[nodiscard]] FileKind file_kind(std::span<const std::uint8_t> start, std::uint64_t size) noexcept;

// Says, for a file `name` of `kind` that the converter refused, what is wrong with it and which
// box takes it; nothing where the file looks like a HEX file.
void say_firmware_hint(const TextSink& sink, std::string_view name, FileKind kind) noexcept;

// The same for a file of `kind` given to the verifier that it called invalid.
void say_upload_hint(const TextSink& sink, std::string_view name, FileKind kind) noexcept;

// The page's one-sentence verdict on a report that returned `status` for an upload file that
// looks like `kind`.
void say_check_verdict(const TextSink& sink, int status, bool with_firmware,
                       FileKind kind) noexcept;

// Browsers whose MIDI needs its own words: Firefox allows it per site, Safari has none.
enum class Browser : std::uint8_t { Firefox, Safari, Other };

// The browser a user agent string names, where its MIDI needs its own words.
[[nodiscard]] Browser browser_of(std::string_view user_agent);

// Says what one run of the interface test found: the upload planned as `plan`, sent with
// `pause_ms` extra between frames.
void say_loop_report(const TextSink& sink, const LoopReport& report, std::span<const SendStep> plan,
                     std::int64_t pause_ms);

}  // namespace ferrolet

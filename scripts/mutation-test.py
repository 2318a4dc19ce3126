#!/usr/bin/env python3
"""Applies realistic faults to the code one at a time and tells which the test suite catches.

Each fault is a small edit of one source file (an off-by-one, a wrong constant, a dropped check,
a wrong order). The tree is copied to a scratch folder; for every fault the copy is edited, built
and tested (the suite without the 100 MB tests), then restored. A fault that the suite does not
notice survives; a fault that does not build counts as neither.

Faults in the page (web/) are judged by its tests in Node and then in the browsers; faults in the shared core that the
native suite misses are given to the browser tests too, with the unchanged programs as their
oracle.

Usage: python3 scripts/mutation-test.py [NAME-FILTER...] (the faults whose names hold any of them)
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

# (name, file, text in the file, text that replaces it)
FAULTS = [
    # the ground floor: the target's limits and the upload format
    ("target: gap one byte short", "target/limits.hpp",
     "GAP_SIZE = 62;", "GAP_SIZE = 61;"),
    ("target: DIN line taken as 300 us a byte", "target/limits.hpp",
     "DIN_MICROSECONDS_PER_BYTE = 320;", "DIN_MICROSECONDS_PER_BYTE = 300;"),
    ("target: block count rounded up", "target/limits.hpp",
     "return highest / BLOCK_SIZE + 1;", "return (highest + BLOCK_SIZE - 1) / BLOCK_SIZE;"),
    ("target: frame start byte changed", "target/limits.hpp",
     "0xF0, 0x70, 0x68, 0x00, 0x15, 0x55", "0xF0, 0x70, 0x68, 0x00, 0x15, 0x56"),
    ("target: preamble byte changed", "target/limits.hpp",
     "0x17, 0x04, 0x02, 0xF7", "0x71, 0x04, 0x02, 0xF7"),
    ("target: packed size rounded down", "target/limits.hpp",
     "return (8 * length + 6) / 7;", "return (8 * length + 5) / 7;"),
    # the reader
    ("hex: stores one byte past the image", "hex/hex_reader.cpp",
     "reader.address < IMAGE_SIZE", "reader.address <= IMAGE_SIZE"),
    ("hex: lowest off by one", "hex/hex_reader.cpp",
     "summary.lowest = std::min(summary.lowest, reader.address);",
     "summary.lowest = std::min(summary.lowest, reader.address + 1);"),
    ("hex: checksum reduced to 7 bits", "hex/hex_reader.cpp",
     "reader.sum &= 0xFF;", "reader.sum &= 0x7F;"),
    ("hex: type-01 data stored too", "hex/hex_reader.cpp",
     "reader.record_type == 0 ? IMAGE_SIZE : 0", "reader.record_type <= 1 ? IMAGE_SIZE : 0"),
    ("hex: highest one past the last pair", "hex/hex_reader.cpp",
     "summary.highest = std::max(summary.highest, address - 1);",
     "summary.highest = std::max(summary.highest, address);"),
    ("hex: low address byte summed at the wrong digit", "hex/hex_reader.cpp",
     "} else if (reader.digit_index == 4) {", "} else if (reader.digit_index == 3) {"),
    ("hex: a space taken for a line end", "hex/hex_reader.cpp",
     "if (ch == '\\n' || ch == '\\r') return {};",
     "if (ch == '\\n' || ch == '\\r' || ch == ' ') return {};"),
    ("hex: address bytes swapped in the header shortcut", "hex/hex_reader.cpp",
     "reader.address = address_high * 256 + address_low;",
     "reader.address = address_low * 256 + address_high;"),
    ("hex: a record open before the first colon", "hex/hex_reader.cpp",
     "return reader.state != RecordState::AwaitColon && !reader.checksum_seen;",
     "return !reader.checksum_seen;"),
    ("hex: end-of-input check dropped", "hex/hex_reader.cpp",
     "if (last.fault != HexFault::None) sink(last, context);", "static_cast<void>(last);"),
    ("hex: checksum mark not reset on a colon", "hex/hex_reader.cpp",
     "    reader.checksum_seen = false;\n    return event;", "    return event;"),
    ("hex: pair shortcut shifts by a digit", "hex/hex_reader.cpp",
     "reader.field_value * 256 + value", "reader.field_value * 16 + value"),
    ("hex: data pairs run into the checksum", "hex/hex_reader.cpp",
     "std::min(bytes.size() / 2, static_cast<std::size_t>(reader.remaining))", "bytes.size() / 2"),
    ("hex: unexpected byte sign-extended", "hex/hex_reader.cpp",
     "summary.records, static_cast<unsigned char>(ch)};", "summary.records, ch};"),
    ("hex: addresses wrapped to the memory", "hex/hex_reader.cpp",
     "reader.address = reader.field_value;", "reader.address = reader.field_value & 0x3FFF;"),
    ("hex: read error taken for the end", "hex/hex_reader.cpp",
     "if (std::ferror(input) != 0) return false;", ""),
    # the upload encoder and decoder
    ("sysex: wrong CRC polynomial", "sysex/sysex_upload.cpp", "0xA001U", "0xA002U"),
    ("sysex: CRC start value 0", "sysex/sysex_upload.cpp",
     "std::uint32_t crc = 0xFFFF;", "std::uint32_t crc = 0;"),
    ("sysex: CRC high byte first", "sysex/sysex_upload.cpp",
     "payload[length] = static_cast<std::uint8_t>(crc & 0xFF);\n"
     "  payload[length + 1] = static_cast<std::uint8_t>(crc >> 8);",
     "payload[length] = static_cast<std::uint8_t>(crc >> 8);\n"
     "  payload[length + 1] = static_cast<std::uint8_t>(crc & 0xFF);"),
    ("sysex: packing shift off by one", "sysex/sysex_upload.cpp",
     "(bits >> (49 - 7 * i))", "(bits >> (48 - 7 * i))"),
    ("sysex: last partial group not left-aligned", "sysex/sysex_upload.cpp",
     "(pending << (7 - pending_bits)) & 0x7F", "pending & 0x7F"),
    ("sysex: builder takes highest = IMAGE_SIZE", "sysex/sysex_upload.cpp",
     "highest >= IMAGE_SIZE) return 0;", "highest > IMAGE_SIZE) return 0;"),
    ("sysex: header announces one block less", "sysex/sysex_upload.cpp",
     "payload[1] = static_cast<std::uint8_t>(blocks & 0xFF);",
     "payload[1] = static_cast<std::uint8_t>((blocks - 1) & 0xFF);"),
    ("sysex: one image byte too many in the last block", "sysex/sysex_upload.cpp",
     "std::min<std::size_t>(BLOCK_SIZE, image_end - first)",
     "std::min<std::size_t>(BLOCK_SIZE, image_end - first + 1)"),
    ("sysex: filler one character short", "sysex/sysex_upload.hpp",
     "return k < UPLOAD_FILLER.size()", "return k + 1 < UPLOAD_FILLER.size()"),
    ("sysex: filler starts at its second character", "sysex/sysex_upload.cpp",
     "payload[1 + from_image + k] = filler_byte(k);", "payload[1 + from_image + k] = filler_byte(k + 1);"),
    ("sysex: padding bits not checked", "sysex/sysex_upload.cpp",
     "if (bits != 0) return {UploadFault::PaddingBits, end - 1};", ""),
    ("sysex: decoder takes 129 blocks", "sysex/sysex_upload.cpp",
     "blocks > MAX_BLOCKS) {", "blocks > MAX_BLOCKS + 1) {"),
    ("sysex: block numbers only checked upwards", "sysex/sysex_upload.cpp",
     "if (payload[0] != block) return", "if (payload[0] < block) return"),
    ("sysex: undercounting header taken for stray bytes", "sysex/sysex_upload.cpp",
     "payload[0] == blocks + 1;", "payload[0] == blocks;"),
    ("sysex: filler compared from the second position", "sysex/sysex_upload.cpp",
     "for (std::size_t i = used; i < block.size(); ++i) {",
     "for (std::size_t i = used + 1; i < block.size(); ++i) {"),
    ("sysex: a block of filler alone counts as filler", "sysex/sysex_upload.cpp",
     "for (std::size_t used = 1; used < block.size(); ++used) {",
     "for (std::size_t used = 0; used < block.size(); ++used) {"),
    ("sysex: filler looked for in every block", "sysex/sysex_upload.cpp",
     "  if (last) {\n    for (std::size_t used", "  {\n    for (std::size_t used"),
    ("sysex: header byte 2 not checked", "sysex/sysex_upload.cpp",
     "payload[2] != 0 || ", ""),
    ("sysex: packed length one short allowed", "sysex/sysex_upload.cpp",
     "end - body <= packed && file[end] <= 0x7F", "end - body < packed && file[end] <= 0x7F"),
    ("sysex: a missing block called a cut file", "sysex/sysex_upload.cpp",
     "if (at == file.size()) return {UploadFault::BlockCount, block, at, blocks};",
     "if (at == file.size()) return {UploadFault::FileLength, block, at, blocks};"),
    ("sysex: first gap byte checked as preamble", "sysex/sysex_upload.cpp",
     "return {i < PREAMBLE_SIZE ? UploadFault::Preamble", "return {i <= PREAMBLE_SIZE ? UploadFault::Preamble"),
    ("sysex: frame encoder needs one byte of CRC room", "sysex/sysex_upload.cpp",
     "if (payload.size() < length + 2 ||", "if (payload.size() < length + 1 ||"),
    # the conversion core and its texts
    ("core: errors tested before the lowest address", "core/conversion.cpp",
     "  if (summary.lowest != 0) return Refusal::LowestNotZero;\n"
     "  if (summary.errors != 0) return Refusal::ReadErrors;",
     "  if (summary.errors != 0) return Refusal::ReadErrors;\n"
     "  if (summary.lowest != 0) return Refusal::LowestNotZero;"),
    ("core: highest = IMAGE_SIZE let through", "core/conversion.cpp",
     "summary.highest >= IMAGE_SIZE", "summary.highest > IMAGE_SIZE"),
    ("core: a 4-byte name taken", "core/conversion.cpp",
     "name.size() >= 5", "name.size() >= 4"),
    ("core: the dot looked for one place late", "core/conversion.cpp",
     "name[name.size() - 4] == '.'", "name[name.size() - 3] == '.'"),
    ("core: output name loses the dot", "core/conversion.cpp",
     "input_path.substr(0, input_path.size() - 3)", "input_path.substr(0, input_path.size() - 4)"),
    ("core: summary says highest for lowest", "core/messages.cpp",
     "summary.characters, summary.lowest, summary.highest", "summary.characters, summary.highest, summary.lowest"),
    ("core: memory size in the message off by one", "core/conversion.cpp",
     "say(sink, BEYOND_MEMORY, summary.highest, IMAGE_SIZE);",
     "say(sink, BEYOND_MEMORY, summary.highest, IMAGE_SIZE - 1);"),
    ("core: header block counted as a data block", "core/conversion.cpp",
     "say(front_end.say, WRITTEN, work.conversion.blocks,", "say(front_end.say, WRITTEN, work.conversion.blocks + 1,"),
    ("core: two arguments taken", "core/conversion.cpp",
     "if (arguments.size() != 1 ||", "if (arguments.size() < 1 ||"),
    ("core: a failed write called a failed open", "core/conversion.cpp",
     "      say(front_end.say, CANNOT_WRITE_OUTPUT, work.output);",
     "      say(front_end.say, CANNOT_OPEN_OUTPUT, work.output);"),
    ("core: an unreadable input called missing", "core/conversion.cpp",
     "      say(front_end.say, INPUT_UNREADABLE, work.input);", "      say(front_end.say, INPUT_NOT_FOUND, work.input);"),
    ("core: a refused build leaves the buffer's count", "core/conversion.cpp",
     "  upload.used = 0;\n  const Refusal refusal", "  const Refusal refusal"),
    ("core: the established typo corrected", "core/messages.hpp",
     "read {} charactes, from", "read {} characters, from"),
    ("core: a padding fault described as a CRC fault", "core/messages.cpp",
     "return say(sink, PADDING_BITS_FAULT);", "return say(sink, CRC_FAULT);"),
    ("core: legend with and without the firmware swapped", "core/messages.cpp",
     "  if (with_firmware) {\n    say(sink, MAP_LEGEND_WITH_FIRMWARE",
     "  if (!with_firmware) {\n    say(sink, MAP_LEGEND_WITH_FIRMWARE"),
    ("core: negative numbers lose their sign", "core/text.cpp",
     "if (number < 0) digits[--at] = '-';", ""),
    ("core: hex digits written backwards", "core/text.cpp",
     "text[count - 1 - i] = DIGITS", "text[i] = DIGITS"),
    ("core: seconds cut instead of rounded", "core/text.cpp",
     "(time.microseconds + 5000) / 10000", "time.microseconds / 10000"),
    ("core: a long text cut at the buffer", "core/text.cpp",
     "  while (!text.empty()) {\n    if (out.used == out.buffer.size()) flush(out);",
     "  if (!text.empty()) {\n    if (out.used == out.buffer.size()) flush(out);"),
    # the verifier's report
    ("check: last firmware byte not compared", "check/check_report.cpp",
     "std::min(highest + 1, blocks * BLOCK_SIZE)", "std::min(highest, blocks * BLOCK_SIZE)"),
    ("check: more blocks than the firmware needs let through", "check/check_report.cpp",
     "if (blocks != needed) {", "if (blocks < needed) {"),
    ("check: filler expected one byte early", "check/check_report.cpp",
     "static_cast<std::size_t>(highest + 1 - (needed - 1) * BLOCK_SIZE)",
     "static_cast<std::size_t>(highest - (needed - 1) * BLOCK_SIZE)"),
    ("check: map compares one firmware byte too few", "check/check_report.cpp",
     "firmware->summary.highest + 1 - first", "firmware->summary.highest - first"),
    ("check: map line broken one block early", "check/check_report.cpp",
     "if ((block + 1) % MAP_WIDTH == 0 || last)", "if (block % MAP_WIDTH == 0 || last)"),
    ("check: largest upload taken as too long", "check/check_report.cpp",
     "if (upload.size() > OUTPUT_CAPACITY) {", "if (upload.size() >= OUTPUT_CAPACITY) {"),
    ("check: only errors make a firmware unconvertible", "check/check_report.cpp",
     "if (refusal_of(summary) != Refusal::None) {", "if (summary.errors != 0) {"),
    ("check: 'more faults' line for exactly eight", "check/check_report.cpp",
     "if (firmware.fault_count > static_cast<std::int64_t>(shown)) {",
     "if (firmware.fault_count >= static_cast<std::int64_t>(shown)) {"),
    ("check: header block named the file layout", "check/check_report.cpp",
     "if (check.frame < 0) {", "if (check.frame <= 0) {"),
    ("check: block 1 named the header block", "check/check_report.cpp",
     "} else if (check.frame == 0) {", "} else if (check.frame <= 1) {"),
    ("check: seven faults shown", "check/check_report.cpp",
     "std::min(static_cast<std::size_t>(firmware.fault_count), firmware.faults.size())",
     "std::min(static_cast<std::size_t>(firmware.fault_count), firmware.faults.size() - 1)"),
    ("check: a ninth fault kept past the array", "check/check_report.cpp",
     "if (read.fault_count < static_cast<std::int64_t>(read.faults.size())) {",
     "if (read.fault_count <= static_cast<std::int64_t>(read.faults.size())) {"),
    ("check: map 32 blocks to a line", "check/check_report.cpp",
     "constexpr std::int32_t MAP_WIDTH = 64;", "constexpr std::int32_t MAP_WIDTH = 32;"),
    ("check: a broken upload still mapped", "check/check_report.cpp",
     "  if (check.fault != UploadFault::None) return false;\n  say_map", "  say_map"),
    # the send plan
    ("plan: no pause for the gap", "send/send_plan.cpp",
     "std::int64_t next = wire_time(PREAMBLE_SIZE + GAP_SIZE);",
     "std::int64_t next = wire_time(PREAMBLE_SIZE);"),
    ("plan: extra pause not limited", "send/send_plan.cpp",
     "std::clamp<std::int64_t>(extra_pause_us, 0, MAX_EXTRA_PAUSE_MICROSECONDS)",
     "std::max<std::int64_t>(extra_pause_us, 0)"),
    ("plan: first data frame paced as a header", "send/send_plan.cpp",
     "block == 0 ? HEADER_FRAME_SIZE : DATA_FRAME_SIZE", "block <= 1 ? HEADER_FRAME_SIZE : DATA_FRAME_SIZE"),
    ("plan: a frame's wire time forgotten", "send/send_plan.cpp",
     "next += wire_time(length) + pause;", "next += pause;"),
    ("plan: a frame ends when it starts", "send/send_plan.cpp",
     "plan[steps++] = {offset, length, next, next + wire_time(length), block};",
     "plan[steps++] = {offset, length, next, next, block};"),
    ("plan: last block not planned", "send/send_plan.cpp",
     "for (std::int32_t block = 0; block <= check.blocks; ++block) {",
     "for (std::int32_t block = 0; block < check.blocks; ++block) {"),
    ("plan: pause limited to 0.1 s", "send/send_plan.hpp",
     "MAX_EXTRA_PAUSE_MICROSECONDS = 1000000;", "MAX_EXTRA_PAUSE_MICROSECONDS = 100000;"),
    # the interface test
    ("loop: frames never seen not counted as lost", "send/loop_test.cpp",
     "  report.lost += static_cast<std::int32_t>(plan.size() - next);\n  return report;", "  return report;"),
    ("loop: a changed frame taken for another program's", "send/loop_test.cpp",
     "got[0] == 0xF0 && looks_sent(got)) {", "got[0] == 0xF0 && false) {"),
    ("loop: the last change noted, not the first", "send/loop_test.cpp",
     "  if (report.changed_step >= 0) return;\n", ""),
    ("loop: MIDI start taken for the clock", "send/loop_test.cpp",
     "    case 0xF8:\n      return Stray::Clock;", "    case 0xFA:\n      return Stray::Clock;"),
    ("loop: the time taken not from the start", "send/loop_test.cpp",
     "report.took_ms = message.at_ms - start_ms;", "report.took_ms = message.at_ms;"),
    ("loop: one pass taken as enough", "send/loop_test.cpp",
     "if (passed && ++search.passes == 2) return SearchStep::Found;",
     "if (passed && ++search.passes == 1) return SearchStep::Found;"),
    ("loop: a failed pause tried again", "send/loop_test.cpp",
     "TRIED_PAUSES_MS[tried] <= search.pause_ms", "TRIED_PAUSES_MS[tried] < search.pause_ms"),
    ("loop: the test pattern one block short", "send/loop_test.cpp",
     "return build_upload(image, IMAGE_SIZE - 1, upload);", "return build_upload(image, IMAGE_SIZE - 129, upload);"),
    # the command
    ("ferrolet: extra arguments dropped", "driver/main.cpp",
     "std::clamp(argc - 1, 0, 2)", "std::clamp(argc - 1, 0, 1)"),
    ("ferrolet: a folder as input called missing", "driver/main.cpp",
     "return std::filesystem::is_directory(file_path(path), ec) ? InputRead::CannotRead",
     "return false ? InputRead::CannotRead"),
    ("ferrolet: read error taken for the end", "driver/main.cpp",
     "return read_to_end ? InputRead::Read : InputRead::CannotRead;", "return InputRead::Read;"),
    ("ferrolet: would-replace check dropped", "driver/main.cpp",
     "return would_replace_input(std::string(input), output);", "return false;"),
    # the upload write
    ("write: a non-regular upload path accepted", "driver/output_file.cpp",
     "earlier.replaceable = S_ISREG(earlier.status.st_mode) &&", "earlier.replaceable ="),
    ("write: read-only upload replaced", "driver/output_file.cpp",
     "faccessat(folder.descriptor, name.c_str(), W_OK, AT_EACCESS) == 0", "true"),
    ("write: earlier mode not kept", "driver/output_file.cpp",
     "static_cast<void>(fchmod(temporary.file, earlier.status.st_mode & 07777));", ""),
    ("write: earlier owner not kept", "driver/output_file.cpp",
     "const bool kept = fchown(temporary.file, earlier.status.st_uid, earlier.status.st_gid) == 0 ||",
     "const bool kept = false ||"),
    ("write: group not kept when the owner cannot be", "driver/output_file.cpp",
     "|| fchown(temporary.file, static_cast<uid_t>(-1), earlier.status.st_gid) == 0;", "|| false;"),
    ("write: new uploads created private", "driver/output_file.cpp",
     "exists ? 0600 : 0666", "0600"),
    ("write: shortened name one byte too long", "driver/output_file.cpp",
     "keep = name_max - suffix_length;", "keep = name_max - suffix_length + 1;"),
    ("write: shortened name cut inside a character", "driver/output_file.cpp",
     "while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)\n      --keep;", ""),
    ("write: temporary file kept after a failure", "driver/output_file.cpp",
     "if (!written) static_cast<void>(unlinkat(at, temporary.name.c_str(), 0));", ""),
    ("write: renamed even when the write failed", "driver/output_file.cpp",
     "written = written && renameat(", "written = renameat("),
    ("write: signal handler leaves the file", "driver/output_file.cpp",
     "if (temporary_live != 0) static_cast<void>(unlinkat(temporary_folder, temporary_path.data(), 0));",
     ""),
    ("write: same device taken for the same file", "driver/output_file.cpp",
     "in.st_dev == out.st_dev && in.st_ino == out.st_ino", "in.st_dev == out.st_dev"),
    ("write: a missing input would be replaced", "driver/output_file.cpp",
     "if (stat(input.c_str(), &in) != 0) return false;",
     "if (stat(input.c_str(), &in) != 0) return true;"),
    ("write: link replaced instead of its target", "driver/output_file.cpp",
     "if (!fs::is_symlink(fs::symlink_status(target, ec))) return true;", "return true;"),
    ("write: a link followed from the working folder", "driver/output_file.cpp",
     "target = fs::canonical(target, ec);", "target = fs::read_symlink(target, ec);"),
    ("write: handlers never installed", "driver/output_file.cpp",
     "current.sa_handler == SIG_IGN", "current.sa_handler != SIG_IGN"),
    ("write: an ignored signal gets the handler", "driver/output_file.cpp",
     "|| current.sa_handler == SIG_IGN) continue;", ") continue;"),
    ("write: an existing temporary name overwritten", "driver/output_file.cpp",
     "O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW", "O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW"),
    ("write: not on disk before the rename", "driver/output_file.cpp",
     "return fsync(temporary.file) == 0 || errno == EINVAL;", "return true;"),
    # ferrolet-check's command line
    ("ferrolet-check: --help exits 2", "driver/check_main.cpp",
     "return help ? CHECK_VALID : CHECK_USAGE;", "return CHECK_USAGE;"),
    ("ferrolet-check: no argument taken", "driver/check_main.cpp",
     "if (help || (argc != 2 && argc != 3)) {", "if (help || argc > 3) {"),
    ("ferrolet-check: firmware read error ignored", "driver/check_main.cpp",
     "  return read_to_end;\n}", "  return read_to_end || true;\n}"),
    ("ferrolet-check: cannot-read on standard output", "driver/check_main.cpp",
     "say(STANDARD_ERROR, CANNOT_READ_UPLOAD, upload_path);",
     "say(STANDARD_OUTPUT, CANNOT_READ_UPLOAD, upload_path);"),
    ("ferrolet-check: compared with an empty firmware", "driver/check_main.cpp",
     "firmware_path != nullptr ? &files.firmware : nullptr,", "&files.firmware,"),
    ("ferrolet-check: a longer upload read as the largest", "driver/check_main.cpp",
     "std::array<std::uint8_t, UPLOAD_READ_CAPACITY> upload{};",
     "std::array<std::uint8_t, OUTPUT_CAPACITY> upload{};"),
    ("platform: lost output noticed only after the flush at exit", "driver/platform.cpp",
     "if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0)", "if (std::ferror(stdout) != 0)"),
    ("platform: standard error written to standard output", "driver/platform.cpp",
     "piece.size(), stderr));", "piece.size(), stdout));"),
    # the readable rendering of a byte, which the page shows
    ("core: a tilde shown by its value", "core/messages.cpp",
     "event.value < 0x20 || event.value > 0x7E", "event.value < 0x20 || event.value >= 0x7E"),
    # sending through Web MIDI, the service worker, the page with a firmware inside
    ("sending: messages handed over without their time", "web/sending.js",
     "output.send(bytes.subarray(steps.offset[i], steps.offset[i] + steps.length[i]), due);",
     "output.send(bytes.subarray(steps.offset[i], steps.offset[i] + steps.length[i]));"),
    ("sending: one more message after Cancel", "web/sending.js",
     "    await pauseUntil(current, due - LOOKAHEAD_MS);\n    if (current.stopped) break;\n",
     "    await pauseUntil(current, due - LOOKAHEAD_MS);\n"),
    ("sending: sent before the last frame is through", "web/sending.js",
     "  if (!current.stopped) await pauseUntil(current, current.start + steps.end_us[steps.steps - 1] / 1000);\n", ""),
    ("sending: messages due 10 % early", "web/sending.js",
     "const due = current.start + steps.at_us[i] / 1000;", "const due = current.start + (steps.at_us[i] / 1000) * 0.9;"),
    ("sending: a failing port taken for Cancel", "web/sending.js",
     "stopTransmission(current, 'lost', /** @type {Error} */ (error).message);",
     "stopTransmission(current, 'cancel', /** @type {Error} */ (error).message);"),
    ("sw: the page's files not taken from the cache", "web/sw.js",
     "event.respondWith(fetch(current(event.request.url, event.request.mode)).catch(() => kept(event.request)));",
     "event.respondWith(fetch(event.request));"),
    ("web.sh: a refused firmware put in a page", "scripts/web.sh",
     'if ! (cd "$work" && "$OLDPWD/build/tool/ferrolet" "$name" >"$work/messages"); then',
     'if ! (cd "$work" && "$OLDPWD/build/tool/ferrolet" "$name" >"$work/messages") && false; then'),
    ("sw: old caches kept", "web/sw.js",
     ".filter((n) => n.startsWith('ferrolet-') && n !== CACHE)", ".filter(() => false)"),
    # the page published with a firmware inside, and its new versions
    ("sw: the cache first, the network only for what it lacks", "web/sw.js",
     "event.respondWith(fetch(current(event.request.url, event.request.mode)).catch(() => kept(event.request)));",
     "event.respondWith(kept(event.request).then((hit) => (hit.ok ? hit : fetch(event.request))));"),
    ("sw: a kept file not marked as kept", "web/sw.js",
     "  headers.set('Ferrolet-Kept', 'yes');\n", ""),
    # the boundary: its declaration, the core's side written from it, the worker's encoding
    ("boundary: every flag read as set", "web/boundary.js",
     "result[field] = heap[body] === 1;", "result[field] = heap[body] !== 2;"),
    ("boundary: a choice read from the byte after it", "web/boundary.js",
     "else result[field] = kind[heap[body]];", "else result[field] = kind[heap[body + 1]];"),
    ("boundary: the last of a list of numbers dropped", "web/boundary.js",
     "Array.from({ length: size / 8 },", "Array.from({ length: size / 8 - 1 },"),
    ("boundary: an undeclared argument let through", "web/boundary.js",
     "if (!(given in declared)) throw new TypeError(`${name}: no argument ${given}`);", ""),
    ("boundary: any value taken for a flag", "web/boundary.js",
     "flag: (v) => typeof v === 'boolean',", "flag: (v) => v !== undefined,"),
    ("boundary: fields written in the reverse order", "web/boundary.mjs",
     "'  out.clear();', ...puts,", "'  out.clear();', ...puts.reverse(),"),
    ("boundary: a flag argument passed inverted", "web/boundary.mjs",
     "flag: (a) => [[`int ${a}`], `${a} != 0`],", "flag: (a) => [[`int ${a}`], `${a} == 0`],"),
    ("boundary: a length written with its bytes swapped", "web/wire.hpp",
     "static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),",
     "static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length),"),
    ("worker: texts passed without their end", "web/core-actions.js",
     "copy(encoder.encode(`${value}\\0`))", "copy(encoder.encode(String(value)))"),
    # the core's answers
    ("web: the upload's first bytes one short", "web/ferrolet_web.cpp",
     ".upload_start = static_cast<double>(UPLOAD_READ_CAPACITY)", ".upload_start = static_cast<double>(UPLOAD_READ_CAPACITY - 1)"),
    ("web: the pause limit in microseconds", "web/ferrolet_web.cpp",
     ".pause_max_ms = static_cast<double>(MAX_EXTRA_PAUSE_MILLISECONDS),", ".pause_max_ms = static_cast<double>(MAX_EXTRA_PAUSE_MICROSECONDS),"),
    ("web: memory counted in thousands of bytes", "web/ferrolet_web.cpp",
     ".memory_kb = IMAGE_SIZE / 1024,", ".memory_kb = IMAGE_SIZE / 1000,"),
    ("web: a check's firmware faults capped like the Convert box's", "web/ferrolet_web.cpp",
     "keep_firmware_fault, &call.firmware, INT64_MAX);", "keep_firmware_fault, &call.firmware, SHOWN_PAGE_FAULTS);"),
    ("web: a conversion that ended early ended again", "web/ferrolet_web.cpp",
     "  if (call.ended) return convert_result(call, *call.ended);\n", ""),
    ("web: a check's firmware bytes shown raw", "web/ferrolet_web.cpp",
     "into(result.report), RawBytes::Readable);", "into(result.report), RawBytes::AsTheyAre);"),
    ("web: the faults not shown counted from the first", "web/ferrolet_web.cpp",
     "call.read.faults - call.read.shown", "call.read.faults"),
    ("web: the end-of-input fault said after the summary", "web/ferrolet_web.cpp",
     "  if (!args.unreadable) finish_read(call.read);\n  call.said_reading = call.messages.size();",
     "  call.said_reading = call.messages.size();\n  if (!args.unreadable) finish_read(call.read);"),
    ("web: a bad name taken for an unreadable file", "web/ferrolet_web.cpp",
     "if (status == EXIT_WRONG_COMMAND_LINE) return ConvertEndOutcome::BadName;",
     "if (status == EXIT_WRONG_COMMAND_LINE) return ConvertEndOutcome::Unreadable;"),
    ("web: data beyond the memory called not at zero", "web/ferrolet_web.cpp",
     "      return ConvertEndOutcome::BeyondMemory;", "      return ConvertEndOutcome::LowestNotZero;"),
    ("web: a pause over the limit planned", "web/ferrolet_web.cpp",
     "(args.pause_ms > 0 ? std::min(args.pause_ms, max_ms) : 0)", "(args.pause_ms > 0 ? args.pause_ms : 0)"),
    ("web: the blocks of a plan taken from its first step", "web/ferrolet_web.cpp",
     "result.blocks = call.plan[steps - 1].block;", "result.blocks = call.plan[0].block;"),
    ("web: an unreadable upload checked as an empty one", "web/ferrolet_web.cpp",
     "if (call.upload_unreadable || args.unreadable) {", "if (args.unreadable) {"),
    ("web: a valid upload handed back without its bytes", "web/ferrolet_web.cpp",
     "  if (status == CHECK_VALID) result.upload = call.upload_start;\n", ""),
    ("web: a call's state kept for the next", "web/ferrolet_web.cpp",
     "  session.call = std::make_unique<CallState>();", "  if (!session.call) session.call = std::make_unique<CallState>();"),
    ("page read: the file's kind taken from its last chunk", "web/page_read.cpp",
     "if (read.read == 0) read.kind = file_kind(", "read.kind = file_kind("),
    ("page read: the end-of-input check dropped", "web/page_read.cpp",
     "if (last.fault != HexFault::None) show_some(last, &read);", "static_cast<void>(last);"),
    ("page read: one fault more shown than the cap", "web/page_read.cpp",
     "if (read.faults++ < read.shown)", "if (read.faults++ <= read.shown)"),
    ("loop findings: a frame cut short one byte shorter", "web/loop_findings.cpp",
     "report.changed_at + (!both && report.got_byte >= 0)", "report.changed_at"),
    ("loop findings: clock and active sensing swapped", "web/loop_findings.cpp",
     ".clock = stray(Stray::Clock), .sensing = stray(Stray::ActiveSensing),",
     ".clock = stray(Stray::ActiveSensing), .sensing = stray(Stray::Clock),"),
    ("loop findings: the changed frame named by its step", "web/loop_findings.cpp",
     "result.changed_block = plan[static_cast<std::size_t>(report.changed_step)].block;",
     "result.changed_block = report.changed_step;"),
    ("loop findings: a pause found taken for the one Send uses", "web/loop_findings.cpp",
     "    case SearchStep::Found:\n      return LoopStep::Found;", "    case SearchStep::Found:\n      return LoopStep::Carries;"),
    ("file kind: a one-byte file called empty", "web/file_kind.cpp",
     "if (size == 0) return FileKind::Empty;", "if (size <= 1) return FileKind::Empty;"),
    ("file kind: an upload taken by its end byte", "web/file_kind.cpp",
     "if (!start.empty() && start[0] == PREAMBLE[0]) return FileKind::Upload;",
     "if (!start.empty() && start[0] == 0xF7) return FileKind::Upload;"),
    ("file kind: line ends before the first record not taken for white space", "web/file_kind.cpp",
     'constexpr std::string_view SPACE = " \\t\\r\\n\\xEF\\xBB\\xBF";', 'constexpr std::string_view SPACE = " \\t\\xEF\\xBB\\xBF";'),
    # the worker and its client
    ("worker: an unreadable chunk taken for the end", "web/core-actions.js",
     "        chunk = await withinStall(file.slice(at, at + CHUNK).arrayBuffer());\n      } catch {\n        return false;\n      }",
     "        chunk = await withinStall(file.slice(at, at + CHUNK).arrayBuffer());\n      } catch {\n        return true;\n      }"),
    ("worker: a stalled stream read never noticed", "web/core-actions.js",
     "      if (read === null) {", "      if (read === undefined) {"),
    ("worker: slice reads after a stall start over", "web/core-actions.js",
     "      at = stream.at;", "      at = 0;"),
    ("worker: a file that reads short taken whole", "web/core-actions.js",
     "if (stream.ended) return stream.at === file.size;", "if (stream.ended) return true;"),
    ("worker: an upload that reads short checked as it came", "web/core-actions.js",
     "return start.byteLength === Math.min(upload.size, limits.upload_start) ? new Uint8Array(start) : null;",
     "return new Uint8Array(start);"),
    ("worker: a check's firmware never fed", "web/core-actions.js",
     "const unreadable = begun.reading && firmware !== null && !(await feed(firmware, tell));", "const unreadable = false;"),
    ("worker: a stall reported as a crash", "web/core-worker.js",
     "if (stalled !== undefined) postMessage", "if (stalled === null) postMessage"),
    ("core.js: no new worker after Stop", "web/core.js",
     "        core.running = null;\n        start();", "        core.running = null;"),
    ("core.js: Stop ends every box's requests", "web/core.js",
     "const mine = core.queue.filter((r) => r.owner === owner);\n      core.queue = core.queue.filter((r) => r.owner !== owner);",
     "const mine = core.queue;\n      core.queue = [];"),
    ("core.js: requests handed over at once, not in turn", "web/core.js",
     "if (core.running || core.queue.length === 0 || !core.worker) return;", "if (core.queue.length === 0 || !core.worker) return;"),
    ("core.js: another request's answer taken", "web/core.js",
     "if (!request || data.id !== request.id) return;", "if (!request) return;"),
    # the state and its rules
    ("state: the last box answered offers, not the last chosen", "web/state.js",
     "if (check.stamp > convert.stamp) {", "if (check.answer) {"),
    ("state: a conversion without an upload offered", "web/state.js",
     "if (!a || a.outcome !== 'converted' || a.upload.length === 0) return null;", "if (!a || a.outcome !== 'converted') return null;"),
    ("state: Send offered while sending", "web/state.js",
     "!state.planning && state.sending === null && !state.test.running", "!state.planning && !state.test.running"),
    ("state: Copy report offered between the runs of a test", "web/state.js",
     "state.sending === null && !state.test.running && !state.planning;", "state.sending === null && !state.planning;"),
    ("state: a port gone from the list kept as the choice", "web/state.js",
     "(ports.some((p) => p.id === id) ? id : ports[0]?.id ?? '')", "(id || ports[0]?.id || '')"),
    ("state: a pause that is not a number kept", "web/state.js",
     "Math.round(Number(value) || 0)", "Math.round(Number(value))"),
    ("state: blocked storage throws", "web/state.js",
     "    try {\n      return use(open());\n    } catch {\n      return null;\n    }", "    return use(open());"),
    ("state: stamps counted per box", "web/state.js",
     "stamp: ++state.stamps,", "stamp: b.stamp + 1,"),
    # the view
    ("view: every verdict shown as good", "web/view.js",
     "`verdict ${good ? 'good' : 'bad'}`", "'verdict good'"),
    ("view: the block map left out", "web/view.js",
     "put(el.map, answer ? answer.map : '');", "put(el.map, '');"),
    ("view: the newest offer shown over what is being sent", "web/view.js",
     "sending ? say.offer({ ...sending, how: 'being sent' }) : offer ? say.offer(offer) : say.NOTHING_TO_SEND",
     "offer ? say.offer(offer) : sending ? say.offer({ ...sending, how: 'being sent' }) : say.NOTHING_TO_SEND"),
    ("view: the progress bar counts the preamble and header", "web/view.js",
     "el.progress.max = shown ? shown.plan.blocks : 1;", "el.progress.max = shown ? shown.plan.steps : 1;"),
    ("view: Cancel offered when nothing is sent", "web/view.js",
     "el.cancelButton.disabled = sending === null;", "el.cancelButton.disabled = false;"),
    ("view: pickers offer any file", "web/view.js",
     "  el.hexFile.accept = limits.firmware_types;\n", ""),
    ("view: the held firmware still named once out of date", "web/view.js",
     "  if (state.outdated) return '';\n  if (state.manifest.trouble)", "  if (state.manifest.trouble)"),
    ("view: the reading line kept once the read is over", "web/view.js",
     "box.busy && reading.read >= 0 ? say.reading(", "reading.read >= 0 ? say.reading("),
    # the page's words
    ("words: seconds rounded down", "web/words.js",
     "Math.floor((Math.trunc(us) + 5000) / 10000)", "Math.floor(Math.trunc(us) / 10000)"),
    ("words: thousands grouped by four", "web/words.js",
     "/\\B(?=(\\d{3})+(?!\\d))/g", "/\\B(?=(\\d{4})+(?!\\d))/g"),
    ("words: a refused name given a hint about its content", "web/words.js",
     "const READ_REFUSED = ['lowest_not_zero',", "const READ_REFUSED = ['bad_name', 'lowest_not_zero',"),
    ("words: the faults not shown counted before those shown", "web/words.js",
     "(c.messages + (c.more_faults > 0 ? `... and ${c.more_faults} more\\n` : '') + c.closing)",
     "((c.more_faults > 0 ? `... and ${c.more_faults} more\\n` : '') + c.messages + c.closing)"),
    ("words: a HEX file in the Check box called broken", "web/words.js",
     "  if (c.outcome === 'invalid' && c.kind === 'hex_text') return 'Not an upload: this is a HEX file.';\n", ""),
    ("words: verdicts with and without firmware swapped", "web/words.js",
     "return c.with_firmware ? 'Valid: the upload is whole and carries exactly this firmware.' : 'Valid: every frame, CRC and block number is right.';",
     "return c.with_firmware ? 'Valid: every frame, CRC and block number is right.' : 'Valid: the upload is whole and carries exactly this firmware.';"),
    ("words: Chrome taken for Safari", "web/words.js",
     "const chromium = userAgent.includes('Chrome/') || userAgent.includes('Chromium/');", "const chromium = userAgent.includes('Chromium/');"),
    ("words: a port lost before any message said to leave a partial upload", "web/words.js",
     "export const portLost = (plan, last) => (last < 0", "export const portLost = (plan, last) => (last < -1"),
    ("words: blocks handed over counted by steps", "web/words.js",
     "Math.max(0, plan.block[Math.max(0, i)])", "Math.max(0, i)"),
    ("words: strays named when there are none", "web/words.js",
     "  if (strays > 0) {", "  if (strays >= 0) {"),
    ("words: the report's input always none", "web/words.js",
     "MIDI input: ${run.input || 'none'}", "MIDI input: none"),
    ("words: a frame cut short left unsaid", "web/words.js",
     "} else if (r.first_change === 'length') {", "} else if (r.first_change === 'none') {"),
    ("words: an unreadable upload called broken", "web/words.js",
     "  if (c.outcome === 'unreadable') return UNREADABLE;\n  if (c.outcome === 'invalid'", "  if (c.outcome === 'invalid'"),
    # the page's handlers
    ("app: a firmware chosen while the core loads dropped", "web/app.js",
     "    if (files.hex) convertFile(files.hex);\n    if (files.upload) checkFiles();", "    if (files.upload) checkFiles();"),
    ("manifest: its firmware put over a file chosen while the core loads", "web/manifest.js",
     "!(isUpload(firmwares[0].file) ? chosen.upload : chosen.hex) ? 0 : -1", "true ? 0 : -1"),
    ("manifest: an upload's choice taken for a firmware's", "web/manifest.js",
     "isUpload(firmwares[0].file) ? chosen.upload : chosen.hex", "isUpload(firmwares[0].file) ? chosen.hex : chosen.upload"),
    ("app: the plain element asks for a firmware list", "web/app.js",
     "    if (manifest) {\n      state.manifest.trouble", "    {\n      state.manifest.trouble"),
    ("app: a file chosen while the held firmware is fetched replaced by it", "web/app.js",
     "    // A file chosen meanwhile is what the box takes instead.\n    if (!current(state, box, stamp)) return;", ""),
    ("app: an older choice's answer kept", "web/app.js",
     "    if (!current(state, box, stamp)) return null;\n    b.answer =", "    b.answer ="),
    ("app: the dropped upload taken for its firmware", "web/app.js",
     "files.firmware = dropped.find((f) => f !== files.upload) || null;", "files.firmware = dropped.find((f) => f === files.upload) || null;"),
    ("app: Stop in Check stops Convert", "web/app.js",
     "el.check.stop.addEventListener('click', () => core.stop('check'));", "el.check.stop.addEventListener('click', () => core.stop('convert'));"),
    ("app: Stop says nothing", "web/app.js",
     "if (failure === 'stopped') b.ended = say.readingStopped(b.reading.name);", "if (failure === 'stopped') b.ended = '';"),
    ("app: a page from disk not told so", "web/app.js",
     "  if (location.protocol === 'file:') {\n    state.failure = say.FAILURES.file;\n    return show();\n  }\n", ""),
    ("app: a newer build taking over goes unsaid", "web/app.js",
     "  sw.addEventListener('controllerchange', () => sw.controller && sw.controller.postMessage('build'));\n", ""),
    ("app: pause not remembered", "web/app.js",
     "  storage.set(PAUSE_KEY, state.pause);\n  show();\n}", "  show();\n}"),
    ("app: an interrupted send not said on the next visit", "web/app.js",
     "state.send.result = storage.get(INTERRUPTED_KEY) || '';", "state.send.result = '';"),
    ("app: leaving always asks", "web/app.js",
     "if (state.sending) event.preventDefault();", "event.preventDefault();"),
    # sending and the interface test
    ("midi: MIDI asked for without SysEx", "web/midi.js",
     "requestMIDIAccess({ sysex: true })", "requestMIDIAccess({})"),
    ("midi: a port going away not noticed", "web/midi.js",
     "port.state === 'disconnected'", "port.state === 'closed'"),
    ("midi: a port not waited for before sending", "web/midi.js",
     "    await output.open();", "    output.open();"),
    ("midi: a send goes on after its offer was withdrawn", "web/midi.js",
     "if (!plan || plan.steps === 0 || offerOf(state)?.stamp !== offer.stamp) return show();", "if (!plan || plan.steps === 0) return show();"),
    ("midi: a port gone from the list passes in silence", "web/midi.js",
     "      Object.assign(state.send, { result: say.portGone(port), failed: true });\n      return show();", "      return;"),
    ("midi: Cancel leaves what the port holds", "web/midi.js",
     "if (sending.stopped === 'cancel') /** @type {{ clear?: () => void }} */ (sending.output).clear?.();", ""),
    ("midi: a send in progress not recorded", "web/midi.js",
     "(i) => storage.set(INTERRUPTED_KEY, say.sendInterrupted(name, plan, i))", "() => {}"),
    ("midi: a finished send reported as cut off", "web/midi.js",
     "  endTransmission(sending);\n  storage.remove(INTERRUPTED_KEY);", "  endTransmission(sending);"),
    ("midi: the pause found not set for Send", "web/midi.js",
     "        state.pause = String(judged.pause_ms);\n", ""),
    ("midi: the test stops listening with the last frame", "web/midi.js",
     "  await linger(sending, ECHO_MS);\n", ""),
    ("midi: the times of what came back lost", "web/midi.js",
     "index.set([at, m.data.length, m.at], 3 * i);", "index.set([at, m.data.length, 0], 3 * i);"),
    ("midi: the report not put on the clipboard", "web/midi.js",
     "  await navigator.clipboard.writeText(state.pageReport).catch(() => {});\n", ""),
    ("midi: the last port taken, not the chosen one", "web/midi.js",
     "const id = chosenPort(ports[kind], state.midi[kind === 'outputs' ? 'output' : 'input']);", "const id = ports[kind].at(-1)?.id ?? '';"),
    ("midi: a lost port's reason dropped", "web/midi.js",
     "  state.send.detail = detail;", "  state.send.detail = '';"),
    ("midi: the verdict given the next pause, not the one that passed", "web/midi.js",
     "state.test.status = say.loopVerdict(judged, ran, limits());", "state.test.status = say.loopVerdict(judged, judged.pause_ms, limits());"),
    # the element, its manifest and what it tells its host page
    ("element: styles looked for beside the host page", "web/ferrolet-updater.js",
     "styles.href = new URL('style.css', import.meta.url).href;", "styles.href = 'style.css';"),
    ("element: built at once, before the host page paints", "web/ferrolet-updater.js",
     "    afterHostPaint(() => {", "    (() => {"),
    ("element: its markup shown before its styles are there", "web/ferrolet-updater.js",
     "      styled.then(() => {", "      Promise.resolve().then(() => {"),
    ("element: the host's own content hidden until it is built", "web/ferrolet-updater.js",
     "    root.innerHTML = '<slot></slot>';\n", ""),
    ("element: the buttons' text not taken from its custom property", "web/style.css",
     "  color: var(--on-accent);", "  color: var(--bg);"),
    ("element: a second connection mounts it again", "web/ferrolet-updater.js",
     "    if (this.shadowRoot) return;\n", ""),
    ("element: its elements looked up in the host page", "web/app.js",
     "  const el = findElements(root);", "  const el = findElements(document);"),
    ("manifest: a SHA-256 of any form taken", "web/manifest.js",
     "const SHA256 = /^[0-9a-f]{64}$/;", "const SHA256 = /^[0-9a-fA-F]+$/;"),
    ("manifest: an empty list taken", "web/manifest.js",
     "if (!Array.isArray(firmwares) || firmwares.length === 0)", "if (!Array.isArray(firmwares))"),
    ("manifest: a file without its extension's case taken for an upload", "web/manifest.js",
     "export const isUpload = (file) => /\\.syx$/i.test(file);", "export const isUpload = (file) => /\\.syx$/.test(file);"),
    ("manifest: a firmware's name keeps its query", "web/manifest.js",
     "file.split(/[?#]/)[0].split('/').pop()", "file.split('/').pop()"),
    ("manifest: a firmware that does not match its SHA-256 offered", "web/manifest.js",
     "entry.sha256 === '' || entry.sha256 === sha256;", "entry.sha256 === '' || entry.sha256 !== sha256;"),
    ("manifest: a given SHA-256 not compared at all", "web/manifest.js",
     "entry.sha256 === '' || entry.sha256 === sha256;", "entry.sha256 !== undefined;"),
    ("app: a firmware's path taken from the page, not from its manifest", "web/app.js",
     "fetchCurrent(new URL(entry.file, state.manifest.url))", "fetchCurrent(new URL(entry.file, document.baseURI))"),
    ("app: a firmware the server refused said to be out of the network's reach", "web/app.js",
     "        why = got.status;", "        why = 'network';"),
    ("app: an upload in the manifest converted", "web/app.js",
     "    if (upload) checkFiles({ file: new File([bytes], name), about }, stamp);\n    else convertFile",
     "    convertFile"),
    ("app: a manifest's firmware fetched from the browser's cache", "web/app.js",
     "const fetchCurrent = (url) => fetch(url, { cache: 'no-cache' });", "const fetchCurrent = (url) => fetch(url);"),
    ("app: events that stay in the shadow root", "web/app.js",
     "new CustomEvent(type, { bubbles: true, composed: true, detail })", "new CustomEvent(type, { bubbles: true, detail })"),
    ("app: the same offer told again on every render", "web/app.js",
     "if (offer && offer.stamp !== told.offer) emit(", "if (offer) emit("),
    ("app: a service worker registered on a maker's site", "web/app.js",
     "    if (build && 'serviceWorker' in navigator) {", "    if ('serviceWorker' in navigator) {"),
    ("midi: a send cut off told as sent", "web/midi.js",
     "    if (!stopped) emit('ferrolet-sent',", "    emit('ferrolet-sent',"),
    ("view: a Stop told as a failure", "web/view.js",
     "    if (b.failed) return b.ended;", "    if (b.ended) return b.ended;"),
    ("words: a list with a field of the wrong kind said to lack it", "web/words.js",
     "why.missing ? `has no \"${why.at}\"`", "why.want ? `has no \"${why.at}\"`"),
    ("strip: the code after a comment's end dropped", "web/strip.mjs",
     "      code = code.slice(end + 2).trim();", "      code = '';"),

]


def pattern(text):
    """The fault's text as a pattern that any spacing or line breaking of the code matches."""
    return re.compile(r"\s*".join(re.escape(part) for part in text.split()))


def run(command, cwd, timeout=900, env=None):
    return subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=timeout, check=False, env=env)


def copy_tree(source, tree):
    files = subprocess.run(["git", "ls-files"], cwd=source, stdout=subprocess.PIPE, text=True,
                           check=True).stdout.split()
    for name in files:
        os.makedirs(os.path.dirname(os.path.join(tree, name)), exist_ok=True)
        shutil.copy2(os.path.join(source, name), os.path.join(tree, name))


def native_suite(tree):
    """Builds and runs the native suite without the 100 MB tests; None if the build fails."""
    if run(["cmake", "--build", "--preset", "release"], tree).returncode != 0:
        return None
    test = ["ctest", "--test-dir", "build/release", "-LE", "large", "-j", "2", "--timeout", "60"]
    return run(test, tree).returncode == 0


def web_suite(tree, oracle):
    """Builds the page and runs its browser tests against the unchanged programs in `oracle`;
    None if the page does not build."""
    if run(["bash", "scripts/web.sh", "--build-only", "--firmware", "examples/blink.hex"],
           tree).returncode != 0:
        return None
    # The lint of the page's JavaScript is part of its suite.
    if run(["bash", "scripts/lint.sh", "--page-only"], tree).returncode != 0:
        return False
    # One browser is enough to judge a fault, and takes half the time; the suite runs both.
    env = dict(os.environ, FERROLET_ORACLE=oracle, FERROLET_BAIL="1",
               FERROLET_BROWSERS=os.environ.get("MUTATION_BROWSERS", "chrome"))
    return run(["npm", "test", "--silent"], os.path.join(tree, "tests", "web"), env=env).returncode == 0


def main():
    source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    wanted = sys.argv[1:] or [""]
    for name, path, old, _ in FAULTS:
        found = len(pattern(old).findall(open(os.path.join(source, path), encoding="utf-8").read()))
        if found != 1:
            sys.exit(f"fault '{name}': its text occurs {found} times in {path}")
    work = tempfile.mkdtemp(prefix="ferrolet-mutation-")
    tree = os.path.join(work, "tree")
    oracle_tree = os.path.join(work, "oracle")
    copy_tree(source, tree)
    copy_tree(source, oracle_tree)
    # The page's tests compare it with the programs; those stay unchanged whatever the fault.
    for folder in (tree, oracle_tree):
        if run(["cmake", "--preset", "release"], folder).returncode != 0 or \
                run(["cmake", "--build", "--preset", "release"], folder).returncode != 0:
            sys.exit("the unchanged tree does not build")
    oracle = os.path.join(oracle_tree, "build", "release")
    shutil.copytree(os.path.join(source, "tests", "web", "node_modules"),
                    os.path.join(tree, "tests", "web", "node_modules"), symlinks=True)
    if not native_suite(tree) or not web_suite(tree, oracle):
        sys.exit("the unchanged tree fails its tests")

    results = []  # (folder, name, verdict)
    for name, path, old, new in FAULTS:
        if not any(w in name for w in wanted):
            continue
        full = os.path.join(tree, path)
        original = open(full, encoding="utf-8").read()
        open(full, "w", encoding="utf-8").write(pattern(old).sub(lambda _: new, original, count=1))
        try:
            # The page is built from everything but the programs' own files; its texts are
            # compiled natively too, for the unit tests.
            native = not path.startswith("web/") or path.startswith("web/file_kind")
            passed = native_suite(tree) if native else None
            if passed is not False and not path.startswith("driver/"):
                passed = web_suite(tree, oracle)
            verdict = {None: "does not build", False: "caught", True: "SURVIVED"}[passed]
        except subprocess.TimeoutExpired:
            verdict = "caught (timed out)"
        finally:
            open(full, "w", encoding="utf-8").write(original)
        results.append((path.split("/")[0], name, verdict))
        print(f"{verdict:>20}  {name}", flush=True)
    report(results)
    shutil.rmtree(work, ignore_errors=True)
    sys.exit(1 if any(v == "SURVIVED" for _, _, v in results) else 0)


def report(results):
    judged = [r for r in results if r[2] != "does not build"]
    caught = [r for r in judged if r[2].startswith("caught")]
    if judged:
        print(f"\n{len(caught)} of {len(judged)} faults caught "
              f"({100 * len(caught) / len(judged):.1f} %), "
              f"{len(results) - len(judged)} did not build")
    for folder in sorted({r[0] for r in judged}):
        mine = [r for r in judged if r[0] == folder]
        got = [r for r in mine if r[2].startswith("caught")]
        print(f"  {folder + '/':10} {len(got)} of {len(mine)} ({100 * len(got) / len(mine):.0f} %)")
    for _, name, verdict in results:
        if verdict == "SURVIVED":
            print(f"survived: {name}")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Applies realistic faults to the code one at a time and tells which the test suite catches.

Each fault is a small edit of one source file (an off-by-one, a wrong constant, a dropped check,
a wrong order). The tree is copied to a scratch folder; for every fault the copy is edited, built
and tested (the suite without the 100 MB tests), then restored. A fault that the suite does not
notice survives; a fault that does not build counts as neither.

Usage: python3 scripts/mutation-test.py [NAME-FILTER]
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

# (name, file, text in the file, text that replaces it)
FAULTS = [
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
    # the upload encoder and decoder
    ("sysex: wrong CRC polynomial", "sysex/sysex_upload.cpp", "0xA001U", "0xA002U"),
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
    # the conversion core
    ("core: errors tested before the lowest address", "core/conversion.cpp",
     "  if (summary.lowest != 0) return Refusal::LowestNotZero;\n"
     "  if (summary.errors != 0) return Refusal::ReadErrors;",
     "  if (summary.errors != 0) return Refusal::ReadErrors;\n"
     "  if (summary.lowest != 0) return Refusal::LowestNotZero;"),
    ("core: highest = IMAGE_SIZE let through", "core/conversion.cpp",
     "summary.highest >= IMAGE_SIZE", "summary.highest > IMAGE_SIZE"),
    ("core: a 5-byte name refused", "core/conversion.cpp",
     "name.size() >= 5", "name.size() > 5"),
    ("core: the dot looked for one place late", "core/conversion.cpp",
     "name[name.size() - 4] == '.'", "name[name.size() - 3] == '.'"),
    ("core: output name loses the dot", "core/conversion.cpp",
     "input_path.substr(0, input_path.size() - 3)", "input_path.substr(0, input_path.size() - 4)"),
    ("core: summary prints highest for lowest", "core/conversion.cpp",
     "static_cast<long long>(summary.characters), summary.lowest,\n"
     "                              summary.highest,",
     "static_cast<long long>(summary.characters), summary.highest,\n"
     "                              summary.lowest,"),
    ("core: memory size in the message off by one", "core/conversion.cpp",
     "summary.highest, IMAGE_SIZE),", "summary.highest, IMAGE_SIZE - 1),"),
    ("core: header block counted as a data block", "core/conversion.cpp",
     "conversion.blocks, static_cast<int>", "conversion.blocks + 1, static_cast<int>"),
    # the verifier's report
    ("check: last firmware byte not compared", "core/check_report.cpp",
     "std::min(highest + 1, blocks * BLOCK_SIZE)", "std::min(highest, blocks * BLOCK_SIZE)"),
    ("check: more blocks than the firmware needs let through", "core/check_report.cpp",
     "if (blocks != needed) {", "if (blocks < needed) {"),
    ("check: filler expected one byte early", "core/check_report.cpp",
     "static_cast<std::size_t>(highest + 1 - (needed - 1) * BLOCK_SIZE)",
     "static_cast<std::size_t>(highest - (needed - 1) * BLOCK_SIZE)"),
    ("check: map compares one firmware byte too few", "core/check_report.cpp",
     "firmware->summary.highest + 1 - first", "firmware->summary.highest - first"),
    ("check: map line broken one block early", "core/check_report.cpp",
     "if ((block + 1) % MAP_WIDTH == 0 || last)", "if (block % MAP_WIDTH == 0 || last)"),
    ("check: largest upload taken as too long", "core/check_report.cpp",
     "if (upload.size() > OUTPUT_CAPACITY) {", "if (upload.size() >= OUTPUT_CAPACITY) {"),
    ("check: only errors make a firmware unconvertible", "core/check_report.cpp",
     "if (refusal_of(summary) != Refusal::None) {", "if (summary.errors != 0) {"),
    ("check: 'more faults' line for exactly eight", "core/check_report.cpp",
     "if (firmware.fault_count > static_cast<std::int64_t>(shown)) {",
     "if (firmware.fault_count >= static_cast<std::int64_t>(shown)) {"),
    ("check: header block named the file layout", "core/check_report.cpp",
     "if (frame < 0) return \"the file layout\";", "if (frame <= 0) return \"the file layout\";"),
    # the send plan
    ("plan: no pause for the gap", "core/send_plan.cpp",
     "std::int64_t next = wire_time(PREAMBLE_SIZE + GAP_SIZE);",
     "std::int64_t next = wire_time(PREAMBLE_SIZE);"),
    ("plan: extra pause not limited", "core/send_plan.cpp",
     "std::clamp<std::int64_t>(extra_pause_us, 0, MAX_EXTRA_PAUSE_MICROSECONDS)",
     "std::max<std::int64_t>(extra_pause_us, 0)"),
    ("plan: first data frame paced as a header", "core/send_plan.cpp",
     "block == 0 ? HEADER_FRAME_SIZE : DATA_FRAME_SIZE", "block <= 1 ? HEADER_FRAME_SIZE : DATA_FRAME_SIZE"),
    # the command
    ("ferrolet: extra arguments accepted", "driver/main.cpp",
     "if (argc != 2 || !valid_input_name(argv[1])) {", "if (argc < 2 || !valid_input_name(argv[1])) {"),
    ("ferrolet: would-replace check dropped", "driver/main.cpp",
     "if (would_replace_input(input_path, output_path)) {", "if (false) {"),
    ("ferrolet: refusal exits 0", "driver/main.cpp",
     "if (conversion.refusal != Refusal::None) return EXIT_REFUSED_INPUT;",
     "if (conversion.refusal != Refusal::None) return EXIT_CONVERTED;"),
    ("ferrolet: cannot-open exits as unreadable input", "driver/main.cpp",
     "      std::printf(CANNOT_OPEN_OUTPUT, output_path.c_str());\n"
     "      return EXIT_OUTPUT_UNWRITABLE;",
     "      std::printf(CANNOT_OPEN_OUTPUT, output_path.c_str());\n"
     "      return EXIT_INPUT_UNREADABLE;"),
    ("ferrolet: a folder as input called missing", "driver/main.cpp",
     "const bool folder = std::filesystem::is_directory(file_path(input_path), ec);",
     "const bool folder = false;"),
    ("ferrolet: read error taken for the end", "driver/main.cpp",
     "if (!read_to_end) {", "if (false) {"),
    # the upload write
    ("write: a non-regular upload path accepted", "driver/output_file.cpp",
     "if (exists && (!S_ISREG(earlier.st_mode) ||", "if (exists && ("),
    ("write: read-only upload replaced", "driver/output_file.cpp",
     "faccessat(folder, name.c_str(), W_OK, AT_EACCESS) != 0", "false"),
    ("write: earlier mode not kept", "driver/output_file.cpp",
     "static_cast<void>(fchmod(file, earlier.st_mode & 07777));", ""),
    ("write: earlier owner not kept", "driver/output_file.cpp",
     "if (fchown(file, earlier.st_uid, earlier.st_gid) != 0) {", "if (true) {"),
    ("write: new uploads created private", "driver/output_file.cpp",
     "exists ? 0600 : 0666", "0600"),
    ("write: shortened name one byte too long", "driver/output_file.cpp",
     "keep = name_max - suffix_length;", "keep = name_max - suffix_length + 1;"),
    ("write: temporary file kept after a failure", "driver/output_file.cpp",
     "if (!written) static_cast<void>(unlinkat(folder, temporary.c_str(), 0));", ""),
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
    ("write: handlers never installed", "driver/output_file.cpp",
     "current.sa_handler == SIG_IGN", "current.sa_handler != SIG_IGN"),
    ("write: an existing temporary name overwritten", "driver/output_file.cpp",
     "O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW", "O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW"),
    # ferrolet-check's command line
    ("ferrolet-check: --help exits 2", "driver/check_main.cpp",
     "CHECK_USAGE_TEXT.data());\n    return CHECK_VALID;", "CHECK_USAGE_TEXT.data());\n    return CHECK_USAGE;"),
    ("ferrolet-check: no argument taken", "driver/check_main.cpp",
     "if (argc != 2 && argc != 3) {", "if (argc > 3) {"),
    ("ferrolet-check: firmware read error ignored", "driver/check_main.cpp",
     "  return read_to_end;\n}", "  return read_to_end || true;\n}"),
    ("ferrolet-check: cannot-read on standard output", "driver/check_main.cpp",
     "std::fprintf(stderr, CANNOT_READ_UPLOAD, upload_path);",
     "std::printf(CANNOT_READ_UPLOAD, upload_path);"),
    ("platform: lost output noticed only after the flush at exit", "driver/platform.cpp",
     "if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {", "if (std::ferror(stdout) != 0) {"),
]


def pattern(text):
    """The fault's text as a pattern that any spacing or line breaking of the code matches."""
    return re.compile(r"\s*".join(re.escape(part) for part in text.split()))


def run(command, cwd, timeout=900):
    return subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=timeout, check=False)


def main():
    source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    wanted = sys.argv[1] if len(sys.argv) > 1 else ""
    for name, path, old, _ in FAULTS:
        found = len(pattern(old).findall(open(os.path.join(source, path), encoding="utf-8").read()))
        if found != 1:
            sys.exit(f"fault '{name}': its text occurs {found} times in {path}")
    work = tempfile.mkdtemp(prefix="ferrolet-mutation-")
    tree = os.path.join(work, "tree")
    files = subprocess.run(["git", "ls-files"], cwd=source, stdout=subprocess.PIPE, text=True,
                           check=True).stdout.split()
    for name in files:
        os.makedirs(os.path.dirname(os.path.join(tree, name)), exist_ok=True)
        shutil.copy2(os.path.join(source, name), os.path.join(tree, name))
    if run(["cmake", "--preset", "release"], tree).returncode != 0 or \
            run(["cmake", "--build", "--preset", "release"], tree).returncode != 0:
        sys.exit("the unchanged tree does not build")
    test = ["ctest", "--test-dir", "build/release", "-LE", "large", "-j", "2", "--timeout", "60"]
    if run(test, tree).returncode != 0:
        sys.exit("the unchanged tree fails its tests")

    caught, survived, unbuilt = [], [], []
    for name, path, old, new in FAULTS:
        if wanted not in name:
            continue
        full = os.path.join(tree, path)
        original = open(full, encoding="utf-8").read()
        open(full, "w", encoding="utf-8").write(pattern(old).sub(lambda _: new, original, count=1))
        try:
            if run(["cmake", "--build", "--preset", "release"], tree).returncode != 0:
                unbuilt.append(name)
                verdict = "does not build"
            elif run(test, tree).returncode != 0:
                caught.append(name)
                verdict = "caught"
            else:
                survived.append(name)
                verdict = "SURVIVED"
        except subprocess.TimeoutExpired:
            caught.append(name)
            verdict = "caught (timed out)"
        finally:
            open(full, "w", encoding="utf-8").write(original)
        print(f"{verdict:>20}  {name}", flush=True)

    judged = len(caught) + len(survived)
    if judged:
        print(f"\n{len(caught)} of {judged} faults caught ({100 * len(caught) / judged:.1f} %), "
              f"{len(unbuilt)} did not build")
    for name in survived:
        print(f"survived: {name}")
    shutil.rmtree(work, ignore_errors=True)
    sys.exit(1 if survived else 0)


if __name__ == "__main__":
    main()

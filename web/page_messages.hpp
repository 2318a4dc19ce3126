// The web page's own sentences: its verdicts and hints, what it says of the files it reads, of
// MIDI, of sending and of the interface test, and its report. Said with `say` (core/text.hpp),
// like the programs' messages beside which the page shows them.
#pragma once

#include <cstdint>

#include "core/messages.hpp"

namespace ferrolet {

inline constexpr Message<> VERDICT_BAD_NAME =
    "Refused: the file name needs a three-character extension, like firmware.hex.";
inline constexpr Message<Number, Number> VERDICT_CONVERTED =
    "Converted: {} data blocks, {} bytes, ready to download or send.";
inline constexpr Message<> VERDICT_NOT_AT_ZERO =
    "Refused: the firmware's data do not start at address 0.";
inline constexpr Message<> VERDICT_READ_ERRORS =
    "Refused: the HEX file has errors; the messages below name each one.";
inline constexpr Message<Number> VERDICT_BEYOND_MEMORY =
    "Refused: the firmware does not fit into the {} KB of program memory.";
inline constexpr Message<> VERDICT_NOTHING_BUILT = "Refused: no upload could be built.";
inline constexpr Message<> VERDICT_UPLOAD_VALID =
    "Valid: every frame, CRC and block number is right.";
inline constexpr Message<> VERDICT_UPLOAD_INVALID =
    "Invalid: the upload is broken; do not send it.";
inline constexpr Message<> VERDICT_FIRMWARE_CARRIED =
    "Valid: the upload is whole and carries exactly this firmware.";
inline constexpr Message<> VERDICT_FIRMWARE_DIFFERS =
    "Not this firmware, or a broken upload: see the report.";
inline constexpr Message<Name> DOWNLOAD_LABEL = "Download {}";
inline constexpr Message<Name, Name> HELD_FIRMWARE =
    "This page holds the firmware {} (SHA-256 {}). It is converted below, ready to download or "
    "send; you can still choose another file.";
inline constexpr Message<Name, Name> HELD_FIRMWARE_KEPT =
    "This page holds the firmware {} (SHA-256 {}), kept from your last visit: the network cannot "
    "be reached now, so a newer firmware may be published here since. It is converted below, "
    "ready to download or send; you can still choose another file.";
inline constexpr Message<> HELD_FIRMWARE_MISSING =
    "This page holds a firmware, but it could not be fetched. Reload the page when the network "
    "can be reached, or choose the firmware's HEX file yourself.";
inline constexpr Message<> PAGE_OUTDATED =
    "A newer version of this page is published here (a new firmware, or a new release of "
    "ferrolet), so this one offers nothing more to download or send. Reload the page to use the "
    "new one.";
inline constexpr Message<Name, Number> OFFER_CONVERTED = "{} (converted, {} bytes)";
inline constexpr Message<Name, Number> OFFER_CHECKED = "{} (checked, {} bytes)";
inline constexpr Message<> NOTHING_TO_SEND = "convert a firmware or check an upload first.";
inline constexpr Message<Number, Number> PAUSE_LABEL =
    "Extra pause between frames, in milliseconds ({} to {}; more for slow receivers)";
inline constexpr Message<> MIDI_MISSING =
    "This browser cannot send MIDI (it has no Web MIDI). Convert and download still work: "
    "send the .syx file with a SysEx tool, or open this page in a browser with Web MIDI.";
inline constexpr Message<> MIDI_MISSING_SAFARI =
    "Safari has no Web MIDI, so this page cannot send from it. Convert and download still work: "
    "send the .syx file with a SysEx tool, or open this page in Chrome, Edge or Firefox.";
inline constexpr Message<> MIDI_REFUSED =
    "MIDI access with SysEx was not allowed, so the page cannot send. Convert and download "
    "still work; allow MIDI for this page in the browser settings to send from here.";
inline constexpr Message<> MIDI_REFUSED_FIREFOX =
    "Firefox did not allow MIDI for this page, so it cannot send. Press Find MIDI ports again "
    "and allow it when Firefox asks (Firefox adds a small site permission add-on for it), or "
    "allow MIDI for this site in Settings, Privacy & Security, Permissions. Convert and "
    "download still work.";
inline constexpr Message<> MIDI_READY =
    "MIDI is ready. Choose the port the device is connected to.";
inline constexpr Message<> MIDI_NO_PORT =
    "MIDI is ready, but no output port is connected. Connect the interface; it appears here.";
inline constexpr Message<Name, Number> SENDING = "{} (being sent, {} bytes)";
inline constexpr Message<Number, Number> SEND_PROGRESS = "block {} of {}";
inline constexpr Message<Number, Number> SEND_CANCELLED =
    "Cancelled after block {} of {}; send the whole upload again.";
inline constexpr Message<Number, Number> SEND_LOST =
    "The MIDI port was lost after block {} of {}: the device now holds a partial upload. "
    "Connect the interface again, then send the whole upload again.";
inline constexpr Message<> SEND_LOST_BEFORE_ANY =
    "The MIDI port was lost before anything was sent: nothing reached the device. Connect the "
    "interface again, then press Send again.";
inline constexpr Message<Name> PORT_UNAVAILABLE =
    "The MIDI port {} could not be opened: another program may be using it, or it is not "
    "available. Close the other program (a music or SysEx program, say), then press Send again. "
    "Nothing was sent.";
inline constexpr Message<Name, Number, Number> SEND_INTERRUPTED =
    "The last send of {} was cut off after block {} of {} when the page was closed or "
    "reloaded: the device holds a partial upload. Send the whole upload again.";
inline constexpr Message<Name, Number, Number, Name, Seconds, Grouped, Number> SEND_DONE =
    "Sent {}: {} data blocks, {} bytes, to {} in {} s, paced at DIN MIDI speed ({} bytes/s) with "
    "{} ms extra between frames.";
inline constexpr Message<Name, Grouped, Grouped> READING = "Reading {}: {} of {} bytes";
inline constexpr Message<Name> READING_STOPPED =
    "Stopped reading {}. Choose the file again to start over.";
inline constexpr Message<Name> READING_STALLED =
    "Reading {} stopped making progress, so it was ended. Choose the file again to try again; "
    "if it lies on a removable drive or a network folder, copy it to this computer first.";
inline constexpr Message<Number> LOOP_RUNNING =
    "Testing the interface with {} ms extra between frames: the frames go out of the output and "
    "should come back on the input.";
inline constexpr Message<Number, Number, Number, Number, Number> LOOP_COUNTS =
    "At {} ms extra between frames: {} of {} frames came back intact, {} lost, {} changed.\n";
inline constexpr Message<Name, Number, Hex, Hex> LOOP_FIRST_CHANGE =
    "First change: {}, byte {}: sent 0x{}, came back 0x{}.\n";
inline constexpr Message<Name, Number> LOOP_FIRST_CUT =
    "First change: {} came back {} bytes long.\n";
inline constexpr Message<Seconds, Seconds> LOOP_TIME =
    "It took {} s; a DIN MIDI line needs {} s for these frames.\n";
inline constexpr Message<Number, Number, Number, Number, Number> LOOP_STRAYS =
    "Ignored {} messages that were not sent: {} MIDI clock, {} active sensing, {} SysEx of "
    "another program, {} other. Traffic like this during an upload can itself break it: stop the "
    "programs and devices that send it.\n";
inline constexpr Message<> LOOP_PREAMBLE = "the preamble";
inline constexpr Message<> LOOP_HEADER = "the header block";
inline constexpr Message<Number> LOOP_BLOCK = "data block {}";
inline constexpr Message<Number> LOOP_CARRIES =
    "The interface carries this upload with the extra pause Send uses ({} ms).";
inline constexpr Message<Number, Number> LOOP_FOUND =
    "The interface lost or changed frames with shorter pauses; with {} ms extra between frames it "
    "carried the upload twice in a row, so Send now uses {} ms.";
inline constexpr Message<Number> LOOP_GAVE_UP =
    "This interface cannot carry this upload: frames were lost or changed even with {} ms extra "
    "between frames. Try another cable or another USB port, or a powered USB hub, and test "
    "again.";
inline constexpr Message<Number, Number> LOOP_CANCELLED =
    "Test cancelled at {} ms extra between frames after block {}.";
inline constexpr Message<> TEST_PATTERN_NAME = "test-pattern.syx";
inline constexpr Message<Name, Name, Name, Name, Name, Number, Number, Name, Number, Grouped>
    PAGE_REPORT =
        "ferrolet {} web page\n"
        "Browser: {}\n"
        "MIDI output: {}\n"
        "MIDI input: {}\n"
        "Upload: {}, {} bytes, {} data blocks, SHA-256 {}\n"
        "Pacing: {} ms extra between frames at DIN MIDI speed ({} bytes/s)\n";
inline constexpr Message<Name> REPORT_OUTCOME = "Outcome: {}\n";
inline constexpr Message<> NO_INPUT_PORT = "none";

// Beyond this many faults the page says how many more there are; its counts stay exact.
inline constexpr std::int64_t SHOWN_PAGE_FAULTS = 1000;
inline constexpr Message<Number> MORE_FAULTS = "... and {} more\n";
inline constexpr Message<Name> HINT_EMPTY_FIRMWARE =
    "{} is empty: choose the firmware's HEX file (.hex).";
inline constexpr Message<Name> HINT_UPLOAD_IN_CONVERT =
    "{} is an upload (.syx), not a HEX file: check it in box 2 and send it from there.";
inline constexpr Message<Name> HINT_NOT_HEX =
    "{} does not look like a HEX file (its records would start with ':'): choose the "
    "firmware's .hex file.";
inline constexpr Message<Name> HINT_HEX_IN_CHECK =
    "{} is a HEX file, not an upload: convert it in box 1, then download or send the upload "
    "from there.";
inline constexpr Message<Name> HINT_EMPTY_UPLOAD = "{} is empty: choose an upload file (.syx).";
inline constexpr Message<> VERDICT_NOT_AN_UPLOAD = "Not an upload: this is a HEX file.";
inline constexpr Message<> VERDICT_UNREADABLE =
    "Refused: the file could not be read. Choose it again; if it lies on a removable drive or "
    "a network folder, copy it to this computer first.";

}  // namespace ferrolet

// Every sentence the page shows of its own, as small functions over what the core answered: its
// verdicts and hints, what it says of reading, of MIDI, of sending and of the interface test, and
// its report. What the programs print (their messages, block map and report) comes from the core
// as it is. A new sentence, or a translation, is written here and nowhere else.

/** @typedef {import('./boundary.js').Result<'convert_end'>} Converted */
/** @typedef {import('./boundary.js').Result<'check_end'>} Checked */
/** @typedef {import('./boundary.js').Result<'loop'>} Loop */
/** @typedef {import('./boundary.js').Result<'limits'>} Limits */
/** @typedef {import('./boundary.js').Result<'plan'>} Plan */

/** A whole number with its thousands separated by commas: 3,125. @param {number} n */
export const grouped = (n) => String(Math.trunc(n)).replace(/\B(?=(\d{3})+(?!\d))/g, ',');

/** Microseconds as seconds with two decimals, rounded half up: 0.25. @param {number} us */
export function seconds(us) {
  const hundredths = Math.floor((Math.trunc(us) + 5000) / 10000);
  return `${Math.floor(hundredths / 100)}.${String(hundredths % 100).padStart(2, '0')}`;
}

/** A byte as two upper-case hex digits. @param {number} byte */
const hex = (byte) => byte.toString(16).toUpperCase().padStart(2, '0');

export const FAILURES = {
  file: 'This page was opened from a file, and browsers do not run it from there. Open it through ' +
    'a web server instead: run bash scripts/web.sh and visit http://127.0.0.1:8000, or copy the ' +
    "page's files to any static web host.",
  load: 'The converter could not be loaded, so this page cannot convert, check or send. Reload ' +
    'the page; if that does not help, the page is incomplete on this server (its ferrolet.wasm ' +
    'must be served too, as application/wasm).',
  /** @param {string} error */
  crash: (error) => 'The converter stopped with an error, so this file was not handled. Reload the page and ' +
    `try again. The error: ${error}`,
};

const UNREADABLE = 'Refused: the file could not be read. Choose it again; if it lies on a removable drive or ' +
  'a network folder, copy it to this computer first.';

/** The one-sentence verdict on a conversion. @param {Converted} c @param {Limits} limits */
export function convertVerdict(c, limits) {
  switch (c.outcome) {
    case 'converted': return `Converted: ${c.blocks} data blocks, ${c.upload.length} bytes, ready to download or send.`;
    case 'bad_name': return 'Refused: the file name needs a three-character extension, like firmware.hex.';
    case 'unreadable': return UNREADABLE;
    case 'lowest_not_zero': return "Refused: the firmware's data do not start at address 0.";
    case 'read_errors': return 'Refused: the HEX file has errors; the messages below name each one.';
    case 'beyond_memory': return `Refused: the firmware does not fit into the ${limits.memory_kb} KB of program memory.`;
    case 'nothing_built': return 'Refused: no upload could be built.';
  }
}

const READ_REFUSED = ['lowest_not_zero', 'read_errors', 'beyond_memory', 'nothing_built'];

/** For a firmware `name` whose read was refused, what is wrong with it and which box takes it. @param {Converted} c @param {string} name */
export function convertHint(c, name) {
  if (!READ_REFUSED.includes(c.outcome)) return '';
  if (c.kind === 'empty') return `${name} is empty: choose the firmware's HEX file (.hex).`;
  if (c.kind === 'upload') return `${name} is an upload (.syx), not a HEX file: check it in box 2 and send it from there.`;
  if (c.kind === 'other') return `${name} does not look like a HEX file (its records would start with ':'): choose the firmware's .hex file.`;
  return '';
}

/** What the command said, as the page shows it: from after its empty first line, the faults beyond the shown ones counted. @param {Converted} c */
export const convertMessages = (c) =>
  (c.messages + (c.more_faults > 0 ? `... and ${c.more_faults} more\n` : '') + c.closing).replace(/^\n/, '');

/** The one-sentence verdict on a check. @param {Checked} c */
export function checkVerdict(c) {
  if (c.outcome === 'unreadable') return UNREADABLE;
  if (c.outcome === 'invalid' && c.kind === 'hex_text') return 'Not an upload: this is a HEX file.';
  if (c.outcome === 'valid') {
    return c.with_firmware ? 'Valid: the upload is whole and carries exactly this firmware.' : 'Valid: every frame, CRC and block number is right.';
  }
  return c.with_firmware ? 'Not this firmware, or a broken upload: see the report.' : 'Invalid: the upload is broken; do not send it.';
}

/** For an upload `name` checked invalid, what is wrong with it and which box takes it. @param {Checked} c @param {string} name */
export function checkHint(c, name) {
  if (c.outcome !== 'invalid') return '';
  if (c.kind === 'empty') return `${name} is empty: choose an upload file (.syx).`;
  if (c.kind === 'hex_text') return `${name} is a HEX file, not an upload: convert it in box 1, then download or send the upload from there.`;
  return '';
}

export const DOWNLOAD_NOTHING = 'Download the upload';
/** @param {string} name */
export const downloadLabel = (name) => `Download ${name}`;
export const NOTHING_TO_SEND = 'convert a firmware or check an upload first.';
/** What Send sends. @param {{ name: string, bytes: Uint8Array, how: 'converted' | 'checked' | 'being sent' }} o */
export const offer = (o) => `${o.name} (${o.how}, ${o.bytes.length} bytes)`;

/** The firmware (or upload) that the page holds, and what became of it. @param {{ name: string, sha256: string, kept: boolean, upload?: boolean }} h */
export function held(h) {
  const what = h.upload ? 'upload' : 'firmware';
  const kept = h.kept ? `, kept from your last visit: the network cannot be reached now, so a newer ${what} may be published here since.` : '.';
  const then = h.upload ? 'It is checked below, and offered to send if it is valid' : 'It is converted below, ready to download or send';
  return `This page holds the ${what} ${h.name} (SHA-256 ${h.sha256})${kept} ${then}; you can still choose another file.`;
}
/** A firmware whose bytes are not the ones its manifest names. @param {string} name @param {string} wanted @param {string} got */
export const heldMismatch = (name, wanted, got) => `The firmware ${name} is not the one this page's firmware list names: ` +
  `its SHA-256 is ${got}, the list gives ${wanted}. The site may be copied only in part, or the file kept from an older ` +
  'version, so nothing is offered. Reload the page; if this stays, tell the site\'s maker, or choose the firmware\'s file yourself.';

const WANTS = { object: 'an object', text: 'a text', list: 'a list of at least one firmware', sha256: '64 lowercase hex digits' };
/**
 * A firmware list that cannot be used: `why` is the HTTP status it was refused with, 'json' where
 * it is no JSON, or its first problem (web/manifest.js).
 * @param {string} url @param {number | 'network' | 'json' | import('./manifest.js').Problem} why
 */
export function manifestUnusable(url, why) {
  const what = why === 'network' ? 'could not be fetched: the network cannot be reached'
    : typeof why === 'number' ? `could not be fetched: the server answered ${why}`
      : why === 'json' ? 'is not JSON'
        : why.at === '' ? 'is not a JSON object'
          : why.missing ? `has no "${why.at}"` : `has a "${why.at}" that is not ${WANTS[why.want]}`;
  return `The firmware list ${url} ${what}, so this page offers no firmware of its own. Choose the firmware's file ` +
    "yourself, or tell the site's maker.";
}
/**
 * The firmware `name` the page holds that could not be fetched: `why` is the HTTP status it was
 * refused with, or 'network' where nothing answered.
 * @param {string} name @param {number | 'network'} why
 */
export const heldMissing = (name, why) => (why === 'network'
  ? `This page holds the firmware ${name}, but it could not be fetched: the network cannot be reached. Reload the page ` +
    "when it can, or choose the firmware's file yourself."
  : `This page holds the firmware ${name}, but it could not be fetched: the server answered ${why}. The site may be copied ` +
    "only in part. Reload the page; if this stays, tell the site's maker, or choose the firmware's file yourself.");
export const OUTDATED = 'A newer version of this page is published here (a new firmware, or a new release of ferrolet), ' +
  'so this one offers nothing more to download or send. Reload the page to use the new one.';

/** @param {string} name @param {number} read @param {number} size */
export const reading = (name, read, size) => `Reading ${name}: ${grouped(read)} of ${grouped(size)} bytes`;
/** @param {string} name */
export const readingStopped = (name) => `Stopped reading ${name}. Choose the file again to start over.`;
/** @param {string} name */
export const readingStalled = (name) => `Reading ${name} stopped making progress, so it was ended. Choose the file again to try ` +
  'again; if it lies on a removable drive or a network folder, copy it to this computer first.';

/** @param {number} max */
export const pauseLabel = (max) => `Extra pause between frames, in milliseconds (0 to ${max}; more for slow receivers)`;

/** Which browser a user agent names, where its MIDI needs its own words. @param {string} userAgent */
function browserOf(userAgent) {
  if (userAgent.includes('Firefox/')) return 'firefox';
  const chromium = userAgent.includes('Chrome/') || userAgent.includes('Chromium/');
  return !chromium && userAgent.includes('Safari/') ? 'safari' : 'other';
}

/** @param {string} userAgent */
export const midiMissing = (userAgent) => browserOf(userAgent) === 'safari'
  ? 'Safari has no Web MIDI, so this page cannot send from it. Convert and download still work: send the .syx file with ' +
    'a SysEx tool, or open this page in Chrome, Edge or Firefox.'
  : 'This browser cannot send MIDI (it has no Web MIDI). Convert and download still work: send the .syx file with a ' +
    'SysEx tool, or open this page in a browser with Web MIDI.';
/** @param {string} userAgent */
export const midiRefused = (userAgent) => browserOf(userAgent) === 'firefox'
  ? 'Firefox did not allow MIDI for this page, so it cannot send. Press Find MIDI ports again and allow it when ' +
    'Firefox asks (Firefox adds a small site permission add-on for it), or allow MIDI for this site in Settings, ' +
    'Privacy & Security, Permissions. Convert and download still work.'
  : 'MIDI access with SysEx was not allowed, so the page cannot send. Convert and download still work; allow MIDI ' +
    'for this page in the browser settings to send from here.';
export const MIDI_READY = 'MIDI is ready. Choose the port the device is connected to.';
export const MIDI_NO_PORT = 'MIDI is ready, but no output port is connected. Connect the interface; it appears here.';

/** Blocks handed over once plan step `i` is. @param {Plan} plan @param {number} i */
export const handed = (plan, i) => Math.max(0, plan.block[Math.max(0, i)]);
/** @param {Plan} plan @param {number} i */
export const progress = (plan, i) => `block ${handed(plan, i)} of ${plan.blocks}`;
/** @param {Plan} plan @param {number} last the last step handed over */
export const sendCancelled = (plan, last) => `Cancelled after block ${handed(plan, last)} of ${plan.blocks}; send the whole upload again.`;
/** A port lost mid-send; nothing reached the device if not one message was handed over. @param {Plan} plan @param {number} last */
export const portLost = (plan, last) => (last < 0
  ? 'The MIDI port was lost before anything was sent: nothing reached the device. Connect the interface again, then ' +
    'press Send again.'
  : `The MIDI port was lost after block ${handed(plan, last)} of ${plan.blocks}: the device now holds a partial upload. ` +
    'Connect the interface again, then send the whole upload again.');
/** @param {string} port */
export const portUnavailable = (port) => `The MIDI port ${port} could not be opened: another program may be using it, or ` +
  'it is not available. Close the other program (a music or SysEx program, say), then press Send again. Nothing was sent.';
/** @param {string} port */
export const portGone = (port) => `The MIDI port ${port || 'chosen'} is no longer there, so nothing was sent. Connect the ` +
  'interface again and choose its port, then press Send or Test the interface again.';
/** @param {string} name @param {Plan} plan @param {number} last */
export const sendInterrupted = (name, plan, last) => `The last send of ${name} was cut off after block ${handed(plan, last)} ` +
  `of ${plan.blocks} when the page was closed or reloaded: the device holds a partial upload. Send the whole upload again.`;
/** @param {string} name @param {number} bytes @param {string} port @param {Plan} plan @param {Limits} limits */
export const sendDone = (name, bytes, port, plan, limits) => `Sent ${name}: ${plan.blocks} data blocks, ${bytes} bytes, to ` +
  `${port} in ${seconds(plan.end_us[plan.steps - 1])} s, paced at DIN MIDI speed (${grouped(limits.din_bytes_per_second)} ` +
  `bytes/s) with ${plan.pause_ms} ms extra between frames.`;

export const TEST_PATTERN_NAME = 'test-pattern.syx';
/** @param {number} pause */
export const testRunning = (pause) => `Testing the interface with ${pause} ms extra between frames: the frames go out of ` +
  'the output and should come back on the input.';
/** @param {number} pause @param {Plan} plan @param {number} last */
export const testCancelled = (pause, plan, last) => `Test cancelled at ${pause} ms extra between frames after block ${handed(plan, last)}.`;

/** @param {number} block */
const frameName = (block) => (block < 0 ? 'the preamble' : block === 0 ? 'the header block' : `data block ${block}`);

/** What one run of the interface test at `pause` found. @param {Loop} r @param {number} pause */
export function loopReport(r, pause) {
  let text = `At ${pause} ms extra between frames: ${r.intact} of ${r.frames} frames came back intact, ${r.lost} lost, ${r.changed} changed.\n`;
  if (r.first_change === 'byte') {
    text += `First change: ${frameName(r.changed_block)}, byte ${r.changed_at}: sent 0x${hex(r.sent_byte)}, came back 0x${hex(r.got_byte)}.\n`;
  } else if (r.first_change === 'length') {
    text += `First change: ${frameName(r.changed_block)} came back ${r.changed_at} bytes long.\n`;
  }
  text += `It took ${seconds(r.took_ms * 1000)} s; a DIN MIDI line needs ${seconds(r.line_ms * 1000)} s for these frames.\n`;
  const strays = r.clock + r.sensing + r.sysex + r.other;
  if (strays > 0) {
    text += `Ignored ${strays} messages that were not sent: ${r.clock} MIDI clock, ${r.sensing} active sensing, ${r.sysex} ` +
      `SysEx of another program, ${r.other} other. Traffic like this during an upload can itself break it: stop the ` +
      'programs and devices that send it.\n';
  }
  return text;
}

/** The verdict once the search for a pause is over, at the pause of its last run. @param {Loop} r @param {number} pause @param {Limits} limits */
export function loopVerdict(r, pause, limits) {
  if (r.step === 'carries') return `The interface carries this upload with the extra pause Send uses (${pause} ms).`;
  if (r.step === 'found') {
    return `The interface lost or changed frames with shorter pauses; with ${pause} ms extra between frames it carried ` +
      `the upload twice in a row, so Send now uses ${pause} ms.`;
  }
  return 'This interface cannot carry this upload: frames were lost or changed even with ' +
    `${limits.longest_test_pause_ms} ms extra between frames. Try another cable or another USB port, or a powered USB ` +
    'hub, and test again.';
}

/**
 * The plain-text report of a send or a test, made only of what the page showed.
 * @param {{ output: string, input: string, name: string, bytes: number, blocks: number, sha256: string, pause: number,
 *   outcome: string, test: string }} run
 * @param {string} userAgent @param {Limits} limits
 */
export const pageReport = (run, userAgent, limits) =>
  `ferrolet ${limits.version} web page\nBrowser: ${userAgent}\nMIDI output: ${run.output}\nMIDI input: ${run.input || 'none'}\n` +
  `Upload: ${run.name}, ${run.bytes} bytes, ${run.blocks} data blocks, SHA-256 ${run.sha256}\n` +
  `Pacing: ${run.pause} ms extra between frames at DIN MIDI speed (${grouped(limits.din_bytes_per_second)} bytes/s)\n` +
  `Outcome: ${run.outcome}\n${run.test}`;

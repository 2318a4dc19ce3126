// The page's rules without a browser: its sentences over the core's data, what Send offers and
// which answers a box still takes, the guarded storage, the checked boundary and the core's
// client (with a worker that answers as the test says). Sentences are written out here.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import { CALLS, orderedArgs, readResult } from '../../web/boundary.js';
import { startCore } from '../../web/core.js';
import { fileName, firstOffered, isUpload, matches, readManifest } from '../../web/manifest.js';
import {
  canCopyReport, canSend, canTest, choose, chosenPort, current, downloadOf, guardedStorage, newState, offerOf, withinPauseLimits,
} from '../../web/state.js';
import { shownFailures } from '../../web/view.js';
import * as say from '../../web/words.js';

const limits = {
  version: '1.00', upload_start: 32769, pause_max_ms: 1000, firmware_types: '.hex', upload_types: '.syx', memory_kb: 16,
  shown_faults: 1000, din_bytes_per_second: 3125, longest_test_pause_ms: 1000,
};
const bytes = (n) => new Uint8Array(n);
const converted = (over = {}) => ({
  outcome: 'converted', messages: '', more_faults: 0, closing: '\nread 1 charactes\n', kind: 'hex_text', blocks: 3,
  upload: bytes(555), upload_name: 'blink.syx', map: '', ...over,
});
const checked = (over = {}) => ({ outcome: 'valid', with_firmware: false, kind: 'upload', report: '', upload: bytes(555), ...over });
const plan = (over = {}) => ({ steps: 5, offset: [], length: [], at_us: [], end_us: [0, 0, 0, 0, 177600], block: [-1, 0, 1, 2, 3], blocks: 3, pause_ms: 0, ...over });
const loop = (over = {}) => ({
  frames: 5, intact: 5, lost: 0, changed: 0, first_change: 'none', changed_block: 0, changed_at: 0, sent_byte: -1, got_byte: -1,
  took_ms: 180.4, line_ms: 177.6, clock: 0, sensing: 0, sysex: 0, other: 0, step: 'carries', pause_ms: 0, tried: -1, passes: 0, ...over,
});

describe('sentences', () => {
  test('numbers as the page shows them', () => {
    const rows = [
      [say.grouped(0), '0'], [say.grouped(999), '999'], [say.grouped(1000), '1,000'], [say.grouped(209715200), '209,715,200'],
      [say.seconds(0), '0.00'], [say.seconds(4999), '0.00'], [say.seconds(5000), '0.01'], [say.seconds(177600), '0.18'],
      [say.seconds(1995000), '2.00'], [say.seconds(12345678), '12.35'],
    ];
    for (const [got, wanted] of rows) assert.equal(got, wanted);
  });

  test('the verdict and hint on every outcome of a conversion', () => {
    const rows = [
      [converted(), 'Converted: 3 data blocks, 555 bytes, ready to download or send.', ''],
      [converted({ outcome: 'bad_name' }), 'Refused: the file name needs a three-character extension, like firmware.hex.', ''],
      [converted({ outcome: 'unreadable', kind: 'empty' }), 'Refused: the file could not be read. Choose it again; if it lies on a ' +
        'removable drive or a network folder, copy it to this computer first.', ''],
      [converted({ outcome: 'lowest_not_zero', kind: 'empty' }), "Refused: the firmware's data do not start at address 0.",
        "fw.hex is empty: choose the firmware's HEX file (.hex)."],
      [converted({ outcome: 'read_errors', kind: 'upload' }), 'Refused: the HEX file has errors; the messages below name each one.',
        'fw.hex is an upload (.syx), not a HEX file: check it in box 2 and send it from there.'],
      [converted({ outcome: 'beyond_memory', kind: 'other' }), 'Refused: the firmware does not fit into the 16 KB of program memory.',
        "fw.hex does not look like a HEX file (its records would start with ':'): choose the firmware's .hex file."],
      [converted({ outcome: 'nothing_built' }), 'Refused: no upload could be built.', ''],
      [converted({ outcome: 'read_errors', kind: 'hex_text' }), 'Refused: the HEX file has errors; the messages below name each one.', ''],
    ];
    for (const [c, verdict, hint] of rows) {
      assert.equal(say.convertVerdict(c, limits), verdict, c.outcome);
      assert.equal(say.convertHint(c, 'fw.hex'), hint, c.outcome);
    }
  });

  test("the command's messages from after its first empty line, with the faults not shown counted", () => {
    const rows = [
      [converted({ messages: '', closing: '\nread 15 charactes\n' }), 'read 15 charactes\n'],
      [converted({ messages: 'Line 1 x\n', more_faults: 0, closing: '\nread 2\n' }), 'Line 1 x\n\nread 2\n'],
      [converted({ messages: 'Line 1 x\n', more_faults: 12, closing: '\nread 2\n' }), 'Line 1 x\n... and 12 more\n\nread 2\n'],
      [converted({ messages: '\nUsage: ferrolet filename.hex\n', closing: '' }), 'Usage: ferrolet filename.hex\n'],
    ];
    for (const [c, shown] of rows) assert.equal(say.convertMessages(c), shown);
  });

  test('the verdict and hint on every outcome of a check', () => {
    const rows = [
      [checked(), 'Valid: every frame, CRC and block number is right.', ''],
      [checked({ with_firmware: true }), 'Valid: the upload is whole and carries exactly this firmware.', ''],
      [checked({ outcome: 'invalid' }), 'Invalid: the upload is broken; do not send it.', ''],
      [checked({ outcome: 'invalid', with_firmware: true }), 'Not this firmware, or a broken upload: see the report.', ''],
      [checked({ outcome: 'invalid', kind: 'hex_text' }), 'Not an upload: this is a HEX file.',
        'up.syx is a HEX file, not an upload: convert it in box 1, then download or send the upload from there.'],
      [checked({ outcome: 'invalid', kind: 'empty' }), 'Invalid: the upload is broken; do not send it.', 'up.syx is empty: choose an upload file (.syx).'],
      // A file that cannot be read is no broken upload.
      [checked({ outcome: 'unreadable', kind: 'empty' }), 'Refused: the file could not be read. Choose it again; if it lies on a ' +
        'removable drive or a network folder, copy it to this computer first.', ''],
    ];
    for (const [c, verdict, hint] of rows) {
      assert.equal(say.checkVerdict(c), verdict, `${c.outcome} ${c.kind}`);
      assert.equal(say.checkHint(c, 'up.syx'), hint, `${c.outcome} ${c.kind}`);
    }
  });

  test("the browser's own words for MIDI", () => {
    const safari = 'Mozilla/5.0 (Macintosh; Intel Mac OS X 14_5) AppleWebKit/605.1.15 (KHTML, like Gecko) Version/17.5 Safari/605.1.15';
    const chrome = 'Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/156.0.0.0 Safari/537.36';
    const firefox = 'Mozilla/5.0 (X11; Linux x86_64; rv:128.0) Gecko/20100101 Firefox/128.0';
    const rows = [
      [say.midiMissing(safari), /^Safari has no Web MIDI/], [say.midiMissing(chrome), /^This browser cannot send MIDI/],
      [say.midiMissing(firefox), /^This browser cannot send MIDI/], [say.midiRefused(firefox), /^Firefox did not allow MIDI/],
      [say.midiRefused(chrome), /^MIDI access with SysEx was not allowed/], [say.midiRefused(safari), /^MIDI access with SysEx/],
    ];
    for (const [got, wanted] of rows) assert.match(got, wanted);
  });

  test('sending: progress, its end, and what a lost or missing port leaves', () => {
    const p = plan({ pause_ms: 30, end_us: [0, 0, 0, 0, 267600] });
    const rows = [
      [say.progress(p, 0), 'block 0 of 3'], [say.progress(p, 1), 'block 0 of 3'], [say.progress(p, 4), 'block 3 of 3'],
      [say.sendCancelled(p, -1), 'Cancelled after block 0 of 3; send the whole upload again.'],
      [say.sendCancelled(p, 3), 'Cancelled after block 2 of 3; send the whole upload again.'],
      [say.portLost(p, -1), 'The MIDI port was lost before anything was sent: nothing reached the device. Connect the interface ' +
        'again, then press Send again.'],
      [say.portLost(p, 0), 'The MIDI port was lost after block 0 of 3: the device now holds a partial upload. Connect the ' +
        'interface again, then send the whole upload again.'],
      [say.sendInterrupted('blink.syx', p, 2), 'The last send of blink.syx was cut off after block 1 of 3 when the page was closed ' +
        'or reloaded: the device holds a partial upload. Send the whole upload again.'],
      [say.sendDone('blink.syx', 555, 'Test port', p, limits), 'Sent blink.syx: 3 data blocks, 555 bytes, to Test port in 0.27 s, ' +
        'paced at DIN MIDI speed (3,125 bytes/s) with 30 ms extra between frames.'],
      [say.portGone('Test port'), 'The MIDI port Test port is no longer there, so nothing was sent. Connect the interface again ' +
        'and choose its port, then press Send or Test the interface again.'],
      [say.testCancelled(1000, p, 2), 'Test cancelled at 1000 ms extra between frames after block 1.'],
      [say.offer({ name: 'a.syx', bytes: bytes(7), how: 'checked' }), 'a.syx (checked, 7 bytes)'],
      [say.held({ name: 'b.hex', sha256: 'ab', kept: false }), 'This page holds the firmware b.hex (SHA-256 ab). It is converted ' +
        'below, ready to download or send; you can still choose another file.'],
      [say.held({ name: 'b.hex', sha256: 'ab', kept: true }), 'This page holds the firmware b.hex (SHA-256 ab), kept from your ' +
        'last visit: the network cannot be reached now, so a newer firmware may be published here since. It is converted below, ' +
        'ready to download or send; you can still choose another file.'],
      [say.reading('big.hex', 1048576, 209715200), 'Reading big.hex: 1,048,576 of 209,715,200 bytes'],
    ];
    for (const [got, wanted] of rows) assert.equal(got, wanted);
  });

  test('what a run of the interface test found, and its verdict', () => {
    const rows = [
      [loop(), 'At 0 ms extra between frames: 5 of 5 frames came back intact, 0 lost, 0 changed.\n' +
        'It took 0.18 s; a DIN MIDI line needs 0.18 s for these frames.\n'],
      [loop({ intact: 4, changed: 1, first_change: 'byte', changed_block: 1, changed_at: 50, sent_byte: 0x0a, got_byte: 0x0b }),
        'At 0 ms extra between frames: 4 of 5 frames came back intact, 0 lost, 1 changed.\n' +
        'First change: data block 1, byte 50: sent 0x0A, came back 0x0B.\nIt took 0.18 s; a DIN MIDI line needs 0.18 s for these frames.\n'],
      [loop({ intact: 4, changed: 1, first_change: 'length', changed_block: -1, changed_at: 7 }),
        'At 0 ms extra between frames: 4 of 5 frames came back intact, 0 lost, 1 changed.\n' +
        'First change: the preamble came back 7 bytes long.\nIt took 0.18 s; a DIN MIDI line needs 0.18 s for these frames.\n'],
      [loop({ first_change: 'length', changed_block: 0, changed_at: 13, clock: 3, other: 1 }),
        'At 0 ms extra between frames: 5 of 5 frames came back intact, 0 lost, 0 changed.\n' +
        'First change: the header block came back 13 bytes long.\nIt took 0.18 s; a DIN MIDI line needs 0.18 s for these frames.\n' +
        'Ignored 4 messages that were not sent: 3 MIDI clock, 0 active sensing, 0 SysEx of another program, 1 other. Traffic like ' +
        'this during an upload can itself break it: stop the programs and devices that send it.\n'],
    ];
    for (const [r, wanted] of rows) assert.equal(say.loopReport(r, 0), wanted);
    assert.equal(say.loopVerdict(loop({ step: 'carries' }), 0, limits), 'The interface carries this upload with the extra pause Send uses (0 ms).');
    assert.equal(say.loopVerdict(loop({ step: 'found' }), 20, limits), 'The interface lost or changed frames with shorter pauses; with ' +
      '20 ms extra between frames it carried the upload twice in a row, so Send now uses 20 ms.');
    assert.match(say.loopVerdict(loop({ step: 'gave_up' }), 1000, limits), /^This interface cannot carry this upload: frames were lost or changed even with 1000 ms/);
  });

  test('the report of a send, and of a test with what it found', () => {
    const run = { output: 'Out', input: '', name: 'b.syx', bytes: 555, blocks: 3, sha256: 'ff', pause: 30, outcome: 'Sent.', test: '' };
    assert.equal(say.pageReport(run, 'UA/1', limits), 'ferrolet 1.00 web page\nBrowser: UA/1\nMIDI output: Out\nMIDI input: none\n' +
      'Upload: b.syx, 555 bytes, 3 data blocks, SHA-256 ff\nPacing: 30 ms extra between frames at DIN MIDI speed (3,125 bytes/s)\n' +
      'Outcome: Sent.\n');
    assert.match(say.pageReport({ ...run, input: 'In', test: 'At 0 ms\n' }, 'UA/1', limits), /\nMIDI input: In\n[^]*\nOutcome: Sent\.\nAt 0 ms\n$/);
  });
});

describe('the state', () => {
  test('what Send offers: the latest choice of either box, once it has a good answer', () => {
    const rows = [
      { name: 'nothing chosen', steps: [], offer: null },
      { name: 'a conversion', steps: [['convert', converted()]], offer: 'blink.syx converted' },
      { name: 'a refused conversion', steps: [['convert', converted({ outcome: 'read_errors', upload: bytes(0) })]], offer: null },
      { name: 'a conversion that built nothing', steps: [['convert', converted({ upload: bytes(0) })]], offer: null },
      { name: 'a valid check', steps: [['check', checked()]], offer: 'up.syx checked' },
      { name: 'an invalid check', steps: [['check', checked({ outcome: 'invalid' })]], offer: null },
      { name: 'an unreadable upload', steps: [['check', checked({ outcome: 'unreadable' })]], offer: null },
      { name: 'a check after a conversion', steps: [['convert', converted()], ['check', checked()]], offer: 'up.syx checked' },
      { name: 'a broken check after a conversion', steps: [['convert', converted()], ['check', checked({ outcome: 'invalid' })]], offer: null },
      { name: 'a conversion after a check', steps: [['check', checked()], ['convert', converted()]], offer: 'blink.syx converted' },
      { name: 'a check still under way after a conversion', steps: [['convert', converted()], ['check', null]], offer: null },
      { name: 'out of date', steps: [['convert', converted()]], outdated: true, offer: null },
    ];
    for (const row of rows) {
      const state = newState();
      for (const [box, answer] of row.steps) {
        choose(state, box, box === 'check' ? 'up.syx' : 'blink.hex');
        state[box].answer = answer;
      }
      state.outdated = row.outdated ?? false;
      const offer = offerOf(state);
      assert.equal(offer && `${offer.name} ${offer.how}`, row.offer, row.name);
    }
  });

  test('each box takes only the answers to its own latest choice', () => {
    const state = newState();
    const convert = choose(state, 'convert', 'big.hex');
    // An upload chosen in Check while Convert still reads leaves Convert's answer its own.
    const check = choose(state, 'check', 'up.syx');
    assert.ok(current(state, 'convert', convert), "the other box's choice");
    assert.ok(current(state, 'check', check));
    const again = choose(state, 'convert', 'blink.hex');
    assert.ok(!current(state, 'convert', convert), 'an older choice of the same box');
    assert.ok(current(state, 'convert', again));
    assert.ok(current(state, 'check', check));
    // The stamps order the choices of both boxes, so Send follows the latest.
    assert.ok(state.convert.stamp > state.check.stamp);
  });

  test('what can be pressed, and a report only of a send or test that is over', () => {
    const ready = () => {
      const state = newState();
      state.midi.access = /** @type {any} */ ({});
      state.midi.ports = { outputs: [{ id: 'o', name: 'Out' }], inputs: [{ id: 'i', name: 'In' }] };
      choose(state, 'convert', 'blink.hex');
      state.convert.answer = converted();
      state.lastRun = { output: 'Out', input: '', name: 'b', upload: bytes(1), blocks: 1, pause: 0, outcome: '', test: '' };
      return state;
    };
    const rows = [
      { name: 'ready', change: () => {}, send: true, test: true, copy: true },
      { name: 'no MIDI yet', change: (s) => { s.midi.access = null; }, send: false, test: false, copy: true },
      { name: 'no output port', change: (s) => { s.midi.ports.outputs = []; }, send: false, test: false, copy: true },
      { name: 'no input port', change: (s) => { s.midi.ports.inputs = []; }, send: true, test: false, copy: true },
      { name: 'planning', change: (s) => { s.planning = true; }, send: false, test: false, copy: false },
      { name: 'sending', change: (s) => { s.sending = /** @type {any} */ ({}); }, send: false, test: false, copy: false },
      { name: 'between two runs of a test', change: (s) => { s.test.running = true; }, send: false, test: false, copy: false },
      { name: 'nothing on offer', change: (s) => { s.convert.answer = null; }, send: false, test: true, copy: true },
      { name: 'no run yet', change: (s) => { s.lastRun = null; }, send: true, test: true, copy: false },
      { name: 'out of date', change: (s) => { s.outdated = true; }, send: false, test: true, copy: true },
    ];
    for (const row of rows) {
      const state = ready();
      row.change(state);
      assert.deepEqual([canSend(state), canTest(state), canCopyReport(state)], [row.send, row.test, row.copy], row.name);
    }
  });

  test('download, ports and the pause', () => {
    const state = newState();
    assert.equal(downloadOf(state), null);
    choose(state, 'convert', 'blink.hex');
    state.convert.answer = converted();
    choose(state, 'check', 'up.syx');
    assert.equal(downloadOf(state)?.name, 'blink.syx', 'a choice in Check leaves the download');
    state.outdated = true;
    assert.equal(downloadOf(state), null);
    const ports = [{ id: 'a', name: 'A' }, { id: 'b', name: 'B' }];
    assert.deepEqual([chosenPort(ports, 'b'), chosenPort(ports, 'gone'), chosenPort(ports, ''), chosenPort([], 'a')], ['b', 'a', 'a', '']);
    const pauses = [['30', 30], ['5000', 1000], ['-4', 0], ['garbage', 0], [null, 0], ['12.6', 13], [undefined, 0]];
    for (const [given, taken] of pauses) assert.equal(withinPauseLimits(given, 1000), taken, String(given));
  });

  test('storage that the browser blocks is forgotten, never fatal', () => {
    const blocked = guardedStorage(() => { throw new DOMException('The operation is insecure.', 'SecurityError'); });
    assert.equal(blocked.get('k'), null);
    assert.doesNotThrow(() => blocked.set('k', 'v'));
    assert.doesNotThrow(() => blocked.remove('k'));
    const full = guardedStorage(() => ({ getItem: () => 'kept', setItem: () => { throw new DOMException('full', 'QuotaExceededError'); } }));
    assert.equal(full.get('k'), 'kept');
    assert.doesNotThrow(() => full.set('k', 'v'));
    const kept = new Map();
    const working = guardedStorage(() => ({ getItem: (k) => kept.get(k) ?? null, setItem: (k, v) => kept.set(k, v), removeItem: (k) => kept.delete(k) }));
    working.set('k', 'v');
    assert.equal(working.get('k'), 'v');
    working.remove('k');
    assert.equal(working.get('k'), null);
  });
});

describe("a maker's manifest", () => {
  const hash = 'a'.repeat(64);
  const entry = (over = {}) => ({ version: '1.2', file: 'fw/t-1.2.hex', sha256: hash, notes: 'Faster.', ...over });
  test('what is read of it, and the first thing wrong with it', () => {
    const rows = [
      [{ name: 'T', firmwares: [entry()] }, { name: 'T', firmwares: [entry()] }],
      [{ name: 'T', firmwares: [entry({ sha256: undefined, notes: undefined })] },
        { name: 'T', firmwares: [{ version: '1.2', file: 'fw/t-1.2.hex', sha256: '', notes: '' }] }],
      [[entry()], { at: '', want: 'object', missing: false }],
      [null, { at: '', want: 'object', missing: false }],
      [{ firmwares: [entry()] }, { at: 'name', want: 'text', missing: true }],
      [{ name: 3, firmwares: [entry()] }, { at: 'name', want: 'text', missing: false }],
      [{ name: 'T' }, { at: 'firmwares', want: 'list', missing: true }],
      [{ name: 'T', firmwares: [] }, { at: 'firmwares', want: 'list', missing: false }],
      [{ name: 'T', firmwares: [entry(), 'x.hex'] }, { at: 'firmwares[1]', want: 'object', missing: false }],
      [{ name: 'T', firmwares: [entry({ version: '' })] }, { at: 'firmwares[0].version', want: 'text', missing: false }],
      [{ name: 'T', firmwares: [entry({ file: undefined })] }, { at: 'firmwares[0].file', want: 'text', missing: true }],
      [{ name: 'T', firmwares: [entry(), entry({ sha256: 'A'.repeat(64) })] }, { at: 'firmwares[1].sha256', want: 'sha256', missing: false }],
      [{ name: 'T', firmwares: [entry({ sha256: hash.slice(1) })] }, { at: 'firmwares[0].sha256', want: 'sha256', missing: false }],
      [{ name: 'T', firmwares: [entry({ notes: 5 })] }, { at: 'firmwares[0].notes', want: 'text', missing: false }],
    ];
    for (const [json, wanted] of rows) {
      const read = readManifest(json);
      assert.deepEqual('problem' in read ? read.problem : read, wanted, JSON.stringify(json));
    }
  });

  test('which firmware is offered at the start, and only bytes that match their SHA-256', () => {
    const hex = entry();
    const syx = entry({ file: 'fw/t.syx' });
    const rows = [
      [firstOffered([hex, syx], { hex: null, upload: null }), 0], [firstOffered([hex], { hex: 'a.hex', upload: null }), -1],
      [firstOffered([hex], { hex: null, upload: 'u.syx' }), 0], [firstOffered([syx, hex], { hex: 'a.hex', upload: null }), 0],
      [firstOffered([syx], { hex: null, upload: 'u.syx' }), -1], [firstOffered([], { hex: null, upload: null }), -1],
      [matches(hex, hash), true], [matches(hex, 'b'.repeat(64)), false], [matches(entry({ sha256: '' }), 'b'.repeat(64)), true],
    ];
    for (const [i, [got, wanted]] of rows.entries()) assert.equal(got, wanted, `row ${i}`);
  });

  test('which box takes a file, under which name, and what is said when the list cannot be used', () => {
    const rows = [
      [isUpload('fw/a.syx'), true], [isUpload('A.SYX'), true], [isUpload('fw/a.hex'), false], [isUpload('a.syx.hex'), false],
      [fileName('fw/sub/t%201.2.hex?v=3'), 't 1.2.hex'], [fileName('t.hex'), 't.hex'],
      [say.manifestUnusable('fw/m.json', 404), "The firmware list fw/m.json could not be fetched: the server answered 404, so this " +
        "page offers no firmware of its own. Choose the firmware's file yourself, or tell the site's maker."],
      [say.manifestUnusable('m.json', 'network'), /^The firmware list m\.json could not be fetched: the network cannot be reached, so/],
      [say.manifestUnusable('m.json', 'json'), /^The firmware list m\.json is not JSON, so/],
      [say.manifestUnusable('m.json', { at: '', want: 'object', missing: false }), /^The firmware list m\.json is not a JSON object, so/],
      [say.manifestUnusable('m.json', { at: 'firmwares[0].file', want: 'text', missing: true }), /^The firmware list m\.json has no "firmwares\[0\]\.file", so/],
      [say.manifestUnusable('m.json', { at: 'firmwares[1].sha256', want: 'sha256', missing: false }),
        /^The firmware list m\.json has a "firmwares\[1\]\.sha256" that is not 64 lowercase hex digits, so/],
      [say.heldMissing('t.hex', 404), "This page holds the firmware t.hex, but it could not be fetched: the server answered 404. " +
        "The site may be copied only in part. Reload the page; if this stays, tell the site's maker, or choose the firmware's file yourself."],
      [say.heldMissing('t.hex', 'network'), /^This page holds the firmware t\.hex, but it could not be fetched: the network cannot be reached\. Reload the page when it can/],
      [say.held({ name: 'b.syx', sha256: 'ab', kept: false, upload: true }), 'This page holds the upload b.syx (SHA-256 ab). It is ' +
        'checked below, and offered to send if it is valid; you can still choose another file.'],
    ];
    for (const [got, wanted] of rows) {
      if (wanted instanceof RegExp) assert.match(got, wanted);
      else assert.equal(got, wanted);
    }
  });

  test('the failures the host page is told of', () => {
    const state = newState();
    state.limits = limits;
    const told = () => shownFailures(state).filter(([, m]) => m).map(([where]) => where);
    assert.deepEqual(told(), []);
    choose(state, 'convert', 'a.hex');
    state.convert.answer = converted({ outcome: 'read_errors' });
    choose(state, 'check', 'b.syx');
    state.check.answer = checked();
    assert.deepEqual(told(), ['convert']);
    state.check.answer = checked({ outcome: 'unreadable' });
    state.manifest.trouble = 'The firmware list is wrong.';
    state.send = { result: 'Cancelled after block 1 of 3; send the whole upload again.', detail: '', failed: false, shown: null };
    assert.deepEqual(told(), ['convert', 'check', 'held']);
    state.send.failed = true;
    state.failure = 'The converter could not be loaded.';
    assert.deepEqual(told(), ['status', 'convert', 'check', 'held', 'send']);
    choose(state, 'convert', 'c.hex');
    Object.assign(state.convert, { ended: say.readingStopped('c.hex'), failed: false });
    assert.ok(!told().includes('convert'), 'a Stop is no failure');
    state.convert.failed = true;
    assert.ok(told().includes('convert'), 'a read that stalled is');
  });
});

describe('the boundary', () => {
  test('arguments are named and checked against their declaration', () => {
    const rows = [
      [{ name: 'a.hex', size: 3 }, null],
      [{ name: 'a.hex' }, /size must be a number/],
      [{ name: 'a.hex', size: '3' }, /size must be a number/],
      [{ nam: 'a.hex', size: 3 }, /no argument nam/],
      [{ name: 3, size: 'a.hex' }, /name must be a text/],
    ];
    for (const [args, error] of rows) {
      if (error) assert.throws(() => orderedArgs('convert_begin', args), error, JSON.stringify(args));
      else assert.deepEqual(orderedArgs('convert_begin', args), [['text', 'a.hex'], ['number', 3]]);
    }
    assert.throws(() => orderedArgs('convert_end', { unreadable: 1 }), /unreadable must be a flag/);
    assert.throws(() => orderedArgs('plan', { upload: [1, 2], pause_ms: 0 }), /upload must be a bytes/);
  });

  test('a result is read field by field in its declared order', () => {
    // Written here from the format: each field a 4-byte little-endian length, then its body.
    const parts = [];
    const field = (body) => {
      const length = new Uint8Array(4);
      new DataView(length.buffer).setUint32(0, body.length, true);
      parts.push(length, body);
    };
    const number = (n) => { const b = new Uint8Array(8); new DataView(b.buffer).setFloat64(0, n, true); return b; };
    const text = (t) => new TextEncoder().encode(t);
    const names = Object.keys(CALLS.check_end.result);
    assert.deepEqual(names, ['outcome', 'with_firmware', 'kind', 'report', 'upload']);
    field(Uint8Array.of(2)); field(Uint8Array.of(1)); field(Uint8Array.of(3)); field(text('Cannot read é\n')); field(Uint8Array.of(0xf0, 0xf7));
    const heap = new Uint8Array(7 + parts.reduce((n, p) => n + p.length, 0));
    let at = 7;
    for (const p of parts) { heap.set(p, at); at += p.length; }
    assert.deepEqual(readResult('check_end', heap, 7),
      { outcome: 'unreadable', with_firmware: true, kind: 'other', report: 'Cannot read é\n', upload: Uint8Array.of(0xf0, 0xf7) });
    parts.length = 0;
    field(number(5)); field(Uint8Array.from([...number(1.5), ...number(-2)]));
    for (let i = 0; i < 4; i++) field(new Uint8Array());
    field(number(3)); field(number(30));
    const plans = new Uint8Array(parts.reduce((n, p) => n + p.length, 0));
    at = 0;
    for (const p of parts) { plans.set(p, at); at += p.length; }
    assert.deepEqual(readResult('plan', plans, 0),
      { steps: 5, offset: [1.5, -2], length: [], at_us: [], end_us: [], block: [], blocks: 3, pause_ms: 30 });
  });
});

describe("the core's client", () => {
  // A worker that keeps what it is asked and answers when the test says.
  class FakeWorker {
    static made = [];
    constructor() { this.asked = []; this.ended = false; FakeWorker.made.push(this); }
    postMessage(data) { this.asked.push(data); }
    terminate() { this.ended = true; }
    answer(data) { this.onmessage({ data }); }
  }
  globalThis.Worker = FakeWorker;
  const settle = () => new Promise((resolve) => setImmediate(resolve));
  const outcome = (promise) => promise.then((result) => ({ result }), (failure) => ({ failure: failure.failure }));

  test('requests go to the worker one at a time, in order, each with its own progress', async () => {
    FakeWorker.made = [];
    const core = startCore();
    const [worker] = FakeWorker.made;
    const heard = [];
    const first = outcome(core.ask.convert({ file: 'a' }, { owner: 'convert', progress: (n) => heard.push(['a', n]) }));
    const second = outcome(core.ask.check({ upload: 'b' }, { owner: 'check', progress: (n) => heard.push(['b', n]) }));
    assert.deepEqual(worker.asked.map((m) => m.action), ['convert']);
    worker.answer({ id: worker.asked[0].id, progress: 10 });
    worker.answer({ id: worker.asked[0].id, result: 'A' });
    await settle();
    assert.deepEqual(worker.asked.map((m) => m.action), ['convert', 'check']);
    worker.answer({ id: worker.asked[0].id, result: 'late' }); // not the request under way: ignored
    worker.answer({ id: worker.asked[1].id, progress: 20 });
    worker.answer({ id: worker.asked[1].id, result: 'B' });
    assert.deepEqual([await first, await second], [{ result: 'A' }, { result: 'B' }]);
    assert.deepEqual(heard, [['a', 10], ['b', 20]]);
  });

  test("stopping a box ends its own requests only; the other box's go on in a new worker", async () => {
    FakeWorker.made = [];
    const core = startCore();
    const [worker] = FakeWorker.made;
    const converting = outcome(core.ask.convert({ file: 'big' }, { owner: 'convert' }));
    const checking = outcome(core.ask.check({ upload: 'u' }, { owner: 'check' }));
    const queued = outcome(core.ask.convert({ file: 'next' }, { owner: 'convert' }));
    core.stop('check');
    assert.deepEqual(await checking, { failure: 'stopped' }, 'a waiting request');
    assert.ok(!worker.ended, 'the request under way is not the stopped box');
    const planning = outcome(core.ask.plan({ upload: new Uint8Array(), pause_ms: 0 }, { owner: '' }));
    core.stop('convert');
    assert.deepEqual([await converting, await queued], [{ failure: 'stopped' }, { failure: 'stopped' }]);
    assert.ok(worker.ended);
    const fresh = FakeWorker.made[1];
    assert.deepEqual(fresh.asked.map((m) => m.action), ['plan']);
    fresh.answer({ id: fresh.asked[0].id, result: 'P' });
    assert.deepEqual(await planning, { result: 'P' });
  });

  test('a worker that cannot start fails what it had and every later request', async () => {
    FakeWorker.made = [];
    const core = startCore();
    const [worker] = FakeWorker.made;
    const waiting = [outcome(core.ask.limits({})), outcome(core.ask.convert({ file: 'x' }))];
    worker.onerror({ message: 'gone', preventDefault() {} });
    assert.deepEqual(await Promise.all(waiting), [{ failure: 'load' }, { failure: 'load' }]);
    assert.deepEqual(await outcome(core.ask.limits({})), { failure: 'load' });
  });
});

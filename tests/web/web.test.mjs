// The web page in Debian's Chromium, served from 127.0.0.1. The oracle is the command itself:
// the page must show what ferrolet and ferrolet-check print and download what ferrolet writes.
// Needs build/web (scripts/web.sh --build-only) and build/release (the native build).
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdtempSync, mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, test } from 'node:test';
import { launchChromium, root, servePage } from './serve.mjs';

const pageDir = join(root, 'build/web');
// FERROLET_ORACLE names another build of the programs (the mutation pass keeps them unchanged).
const oracle = process.env.FERROLET_ORACLE || join(root, 'build/release');
const ferrolet = join(oracle, 'ferrolet');
const ferroletCheck = join(oracle, 'ferrolet-check');
const shots = join(root, 'build/web-screenshots');
const BANNER = 'ferrolet Version 1.00\nHex-File to Sys-Ex Converter for ATMega168 on Tarvenbox\n';
const US_PER_BYTE = 320; // a DIN MIDI line: 3,125 bytes a second
const decode = (bytes) => new TextDecoder().decode(bytes);

// A HEX record with its checksum, written here from the record format.
function record(address, type, data) {
  const bytes = [data.length, (address >> 8) & 0xff, address & 0xff, type, ...data];
  const sum = bytes.reduce((a, b) => a + b, 0);
  const hex = (b) => b.toString(16).toUpperCase().padStart(2, '0');
  return ':' + bytes.map(hex).join('') + hex((0x100 - (sum & 0xff)) & 0xff) + '\r\n';
}
const upTo = (highest) => {
  let text = '';
  for (let a = 0; a <= highest; a += 16) {
    const data = [];
    for (let i = a; i <= Math.min(highest, a + 15); i++) data.push(i & 0xff);
    text += record(a, 0, data);
  }
  return text + ':00000001FF\r\n';
};

// The command run on `files` in a fresh folder: its stdout, status and the files it wrote.
function command(program, args, files) {
  const dir = mkdtempSync(join(tmpdir(), 'ferrolet-web-'));
  for (const [name, bytes] of Object.entries(files)) writeFileSync(join(dir, name), bytes);
  const run = spawnSync(program, args, { cwd: dir });
  return { out: run.stdout, status: run.status, file: (name) => readFileSync(join(dir, name)) };
}

let server;
let browser;
let base;

before(async () => {
  mkdirSync(shots, { recursive: true });
  ({ server, url: base } = await servePage());
  browser = await launchChromium();
});

after(async () => {
  await browser?.close();
  server?.close();
});

// A fresh page; `midi` is 'fake' (a recording output), 'none' (no Web MIDI) or 'refused'.
async function open(midi) {
  const context = await browser.newContext({ acceptDownloads: true });
  if (midi === 'fake') await context.grantPermissions(['midi', 'midi-sysex'], { origin: base.slice(0, -1) });
  await context.addInitScript((mode) => {
    if (mode === 'none') {
      delete Navigator.prototype.requestMIDIAccess;
      return;
    }
    if (mode === 'refused') {
      navigator.requestMIDIAccess = () => Promise.reject(new DOMException('denied', 'SecurityError'));
      return;
    }
    // As the standard requires, anything but whole valid MIDI messages is refused.
    const valid = (d) => {
      if (d.length === 0 || d[0] < 0x80) return false;
      if (d[0] === 0xf0) return d[d.length - 1] === 0xf7 && d.slice(1, -1).every((b) => b < 0x80);
      return d.slice(1).every((b) => b < 0x80) && d.length <= 3;
    };
    window.sent = [];
    const output = {
      id: 'fake-out', name: 'Test port', type: 'output', state: 'connected',
      send(data, timestamp) {
        const bytes = Array.from(data);
        if (!valid(bytes)) throw new TypeError('not a whole valid MIDI message');
        window.sent.push({ bytes, at: timestamp });
      },
      clear() { window.cleared = true; },
    };
    navigator.requestMIDIAccess = async (options) => {
      if (!options?.sysex) throw new DOMException('no sysex', 'SecurityError');
      return { outputs: new Map([[output.id, output]]), inputs: new Map(), sysexEnabled: true, addEventListener() {} };
    };
  }, midi);
  const page = await context.newPage();
  await page.goto(base);
  await page.waitForSelector('body[data-ready="yes"]');
  return page;
}

const file = (name, content) => ({ name, mimeType: 'application/octet-stream', buffer: Buffer.from(content) });

const example = readFileSync(join(root, 'examples/blink.hex'));
const convertCases = [
  { name: 'blink.hex', hex: example },
  { name: 'bad_checksum.hex', hex: ':0100000041BF\r\n:01000100 02FC\r\n:00000001FF\r\n' },
  { name: 'starts_at_0100.hex', hex: record(0x100, 0, [1, 2]) + ':00000001FF\r\n' },
  { name: 'beyond_memory.hex', hex: record(0, 0, [1]) + record(16376, 0, new Array(16).fill(0x5a)) },
  { name: 'cut_short.hex', hex: upTo(40) + ':0100' },
  { name: 'fw.hexx', hex: upTo(40) },
];

test('convert shows the command\'s messages and downloads its upload', async () => {
  const page = await open('fake');
  for (const c of convertCases) {
    const expected = command(ferrolet, [c.name], { [c.name]: c.hex });
    await page.setInputFiles('#hex-file', file(c.name, c.hex));
    await page.waitForFunction(() => document.querySelector('#convert-verdict').textContent !== '');
    const shown = await page.textContent('#convert-messages');
    assert.equal(shown, decode(expected.out).slice(BANNER.length), c.name);
    const downloadable = await page.isEnabled('#download');
    assert.equal(downloadable, expected.status === 0, c.name);
    if (expected.status === 0) {
      const [download] = await Promise.all([page.waitForEvent('download'), page.click('#download')]);
      const wanted = c.name.slice(0, -3) + 'syx';
      assert.equal(download.suggestedFilename(), wanted);
      assert.deepEqual(readFileSync(await download.path()), expected.file(wanted), c.name);
    }
    await page.evaluate(() => { document.querySelector('#convert-verdict').textContent = ''; });
  }
  await page.setInputFiles('#hex-file', file('blink.hex', example));
  await page.screenshot({ path: join(shots, 'convert.png'), fullPage: true });
  await page.context().close();
});

test('check gives ferrolet-check\'s report and verdict', async () => {
  const upload = command(ferrolet, ['blink.hex'], { 'blink.hex': example }).file('blink.syx');
  const corrupted = Buffer.from(upload);
  corrupted[300] ^= 0x01;
  const other = upTo(273);
  const cases = [
    { name: 'good upload', files: { 'blink.syx': upload }, status: 0 },
    { name: 'good upload with its firmware', files: { 'blink.syx': upload, 'blink.hex': example }, status: 0 },
    { name: 'corrupted upload', files: { 'broken.syx': corrupted }, status: 1 },
    { name: 'differing firmware', files: { 'blink.syx': upload, 'other.hex': other }, status: 1 },
  ];
  const page = await open('fake');
  for (const c of cases) {
    const names = Object.keys(c.files);
    const expected = command(ferroletCheck, names, c.files);
    assert.equal(expected.status, c.status, c.name);
    await page.setInputFiles('#check-hex-file', names[1] ? file(names[1], c.files[names[1]]) : []);
    await page.evaluate(() => { document.querySelector('#check-verdict').textContent = ''; });
    await page.setInputFiles('#syx-file', file(names[0], c.files[names[0]]));
    await page.waitForFunction(() => document.querySelector('#check-verdict').textContent !== '');
    assert.equal(await page.textContent('#check-report'), decode(expected.out), c.name);
    assert.equal((await page.getAttribute('#check-verdict', 'class')).includes('good'), c.status === 0);
    await page.screenshot({ path: join(shots, `check-${c.name.replaceAll(' ', '-')}.png`), fullPage: true });
  }
  await page.context().close();
});

test('send paces whole MIDI messages at DIN speed, shows progress and can be cancelled', async () => {
  const page = await open('fake');
  const upload = command(ferrolet, ['blink.hex'], { 'blink.hex': example }).file('blink.syx');
  await page.setInputFiles('#hex-file', file('blink.hex', example));
  await page.waitForSelector('#send-button:not([disabled])');
  const blocks = (upload.length - 84) / 157;
  for (const pauseMs of [0, 30]) {
    await page.evaluate(() => { window.sent = []; });
    await page.fill('#pause', String(pauseMs));
    await page.dispatchEvent('#pause', 'change');
    await page.click('#send-button');
    await page.waitForFunction(() => document.querySelector('#send-result').textContent.startsWith('Sent'));
    const sent = await page.evaluate(() => window.sent);
    const joined = [...sent[0].bytes, ...new Array(62).fill(0), ...sent.slice(1).flatMap((m) => m.bytes)];
    assert.deepEqual(Buffer.from(joined), upload, 'the messages with the gap put back are the upload');
    assert.equal(sent.length, blocks + 2);
    const eps = 1e-6;
    assert.ok(sent[1].at - (sent[0].at + (8 * US_PER_BYTE) / 1000) >= 19.84 - eps, 'pause after the preamble');
    for (let i = 2; i < sent.length; i++) {
      const end = sent[i - 1].at + (sent[i - 1].bytes.length * US_PER_BYTE) / 1000;
      assert.ok(sent[i].at - end >= pauseMs - eps, `message ${i} sent too soon`);
    }
    assert.equal(await page.textContent('#progress-text'), `block ${blocks} of ${blocks}`);
    assert.equal(await page.evaluate(() => document.querySelector('#progress').value), blocks);
    assert.match(await page.textContent('#send-result'), new RegExp(`with ${pauseMs} ms extra between frames`));
  }
  await page.screenshot({ path: join(shots, 'send.png'), fullPage: true });

  // Remembered for the next visit.
  await page.reload();
  await page.waitForSelector('body[data-ready="yes"]');
  assert.equal(await page.inputValue('#pause'), '30');

  // With a long pause between frames, Cancel stops what is not handed over yet.
  await page.setInputFiles('#hex-file', file('blink.hex', example));
  await page.fill('#pause', '1000');
  await page.dispatchEvent('#pause', 'change');
  await page.evaluate(() => { window.sent = []; });
  await page.click('#send-button');
  await page.waitForFunction(() => window.sent.length >= 2);
  await page.click('#cancel-button');
  await page.waitForFunction(() => document.querySelector('#send-result').textContent.startsWith('Cancelled'));
  const count = await page.evaluate(() => window.sent.length);
  await page.waitForTimeout(1200);
  assert.equal(await page.evaluate(() => window.sent.length), count);
  assert.ok(count < blocks + 2);
  await page.screenshot({ path: join(shots, 'send-cancelled.png'), fullPage: true });
  await page.context().close();
});

test('without Web MIDI, or without permission, the page says so and still converts', async () => {
  for (const mode of ['none', 'refused']) {
    const page = await open(mode);
    await page.waitForFunction(() => document.querySelector('#midi-status').textContent !== '');
    assert.match(await page.textContent('#midi-status'), mode === 'none' ? /no Web MIDI/ : /not allowed/);
    await page.setInputFiles('#hex-file', file('blink.hex', example));
    await page.waitForSelector('#download:not([disabled])');
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#download')]);
    assert.equal(download.suggestedFilename(), 'blink.syx');
    assert.ok(await page.isDisabled('#send-button'));
    await page.setViewportSize({ width: 360, height: 800 });
    await page.screenshot({ path: join(shots, `no-midi-${mode}-360px.png`), fullPage: true });
    await page.context().close();
  }
});

test('everything the page loads weighs at most 100 KB', () => {
  const total = execFileSync('sh', ['-c', `cat ${pageDir}/* | wc -c`]).toString();
  assert.ok(Number(total) <= 100 * 1024, `${total} bytes`);
});

// The web page in Debian's Chromium and Firefox ESR, served from 127.0.0.1. The oracle is the
// command itself: the page must show what ferrolet and ferrolet-check print and download what
// ferrolet writes. Sentences of the page's own are written out here. Needs build/web
// (scripts/web.sh --build-only) and build/release (the native build).
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import { cpSync, mkdtempSync, mkdirSync, readdirSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, relative } from 'node:path';
import { after, before, describe, test as nodeTest } from 'node:test';
import { BROWSERS, launchBrowser, root, servePage } from './serve.mjs';

// Each test fails after four minutes rather than hanging; the file as a whole may take longer
// (package.json gives it a quarter of an hour). With FERROLET_BAIL set (the mutation pass), the
// tests after a failing one are skipped: one failure is its verdict.
const bail = { wanted: Boolean(process.env.FERROLET_BAIL), failed: false };
const test = (name, fn) => nodeTest(name, { timeout: 240000 }, async (t) => {
  if (bail.wanted && bail.failed) return t.skip('a test before failed');
  try {
    return await fn(t);
  } catch (error) {
    bail.failed = true;
    throw error;
  }
});

const pageDir = join(root, 'build/web');
// FERROLET_ORACLE names another build of the programs (the mutation pass keeps them unchanged).
const oracle = process.env.FERROLET_ORACLE || join(root, 'build/release');
const ferrolet = join(oracle, 'ferrolet');
const ferroletCheck = join(oracle, 'ferrolet-check');
const shots = join(root, 'build/web-screenshots');
const BANNER = 'ferrolet Version 1.00\nHex-File to Sys-Ex Converter for ATMega168 on Tarvenbox\n';
const US_PER_BYTE = 320; // a DIN MIDI line: 3,125 bytes a second
const decode = (bytes) => new TextDecoder().decode(bytes);
const files = mkdtempSync(join(tmpdir(), 'ferrolet-web-files-'));
const axeSource = readFileSync(join(root, 'tests/web/node_modules/axe-core/axe.min.js'), 'utf8');

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

// The command run on `given` files in a fresh folder: its stdout, status and the files it wrote.
function command(program, args, given) {
  const dir = mkdtempSync(join(tmpdir(), 'ferrolet-web-'));
  for (const [name, bytes] of Object.entries(given)) writeFileSync(join(dir, name), bytes);
  const run = spawnSync(program, args, { cwd: dir, maxBuffer: 1 << 28 });
  return { out: run.stdout, status: run.status, file: (name) => readFileSync(join(dir, name)) };
}
// A line of the command's output as the page shows it: an unexpected byte that is no printable
// ASCII shown by its value.
function readable(line) {
  const m = /^(.*Line \d+ unexpected character \()(.)(\)\n)$/s.exec(line.toString('latin1'));
  if (!m || (m[2].charCodeAt(0) >= 0x20 && m[2].charCodeAt(0) <= 0x7e)) return line;
  return Buffer.from(`${m[1]}byte 0x${m[2].charCodeAt(0).toString(16).toUpperCase().padStart(2, '0')}${m[3]}`, 'latin1');
}
const readableReport = (out) => decode(Buffer.concat(out.toString('latin1').split(/(?<=\n)/).map((l) => readable(Buffer.from(l, 'latin1')))));
// What the page shows of the command's output: everything after the banner and the empty line
// that follows it, each unexpected byte that is no printable ASCII shown by its value, and beyond
// 1,000 faults how many more there are.
function asThePageShows(out) {
  const after = out.subarray(BANNER.length);
  const bytes = after[0] === 0x0a ? after.subarray(1) : after;
  const lines = [];
  let start = 0;
  for (let i = 0; i < bytes.length; i++) {
    if (bytes[i] !== 0x0a) continue;
    lines.push(readable(Buffer.from(bytes.subarray(start, i + 1))));
    start = i + 1;
  }
  const faults = lines.filter((l) => l.toString('latin1').startsWith('Line ')).length;
  const shown = faults > 1000 ? [...lines.slice(0, 1000), Buffer.from(`... and ${faults - 1000} more\n`), ...lines.slice(faults)] : lines;
  return decode(Buffer.concat(shown));
}
const example = readFileSync(join(root, 'examples/blink.hex'));
const blinkUpload = command(ferrolet, ['blink.hex'], { 'blink.hex': example }).file('blink.syx');

// Runs in the page before its own script: records downloads and when the send result changes,
// and stands in for Web MIDI as `mode` says: 'fake' (a recording output port that, as the
// standard requires, refuses anything but whole valid MIDI messages), 'none' or 'refused'.
function pageSetup(mode) {
  // The updater's elements, in its shadow root (in the page itself where the element never ran).
  const root = () => document['querySelector']('ferrolet-updater')?.shadowRoot ?? document;
  window.$ = (selector) => root().querySelector(selector);
  window.$active = () => (root().activeElement ?? document.activeElement)?.id;
  window.downloads = [];
  const blobs = new Map();
  const createObjectURL = URL.createObjectURL;
  URL.createObjectURL = (blob) => {
    const url = createObjectURL.call(URL, blob);
    blobs.set(url, blob);
    return url;
  };
  HTMLAnchorElement.prototype.click = function click() {
    if (this.download) window.downloads.push({ name: this.download, blob: blobs.get(this.href) });
  };
  // With `slowReads` set, a read of a file's bytes on the page's own thread takes a second.
  const arrayBuffer = Blob.prototype.arrayBuffer;
  Blob.prototype.arrayBuffer = async function read() {
    if (window.slowReads) await new Promise((resolve) => setTimeout(resolve, 1000));
    return arrayBuffer.call(this);
  };
  window.cspViolations = [];
  // What the page's own files do; the tests' own scripts (axe-core's style, say) are not the page's.
  document.addEventListener('securitypolicyviolation', (e) => {
    if (/^(https?|file):/.test(e.sourceFile || location.href)) window.cspViolations.push(`${e.violatedDirective} ${e.blockedURI} ${e.sourceFile}`);
  });
  // Runs `start` once the updater's markup is in place (the element builds it after the host's
  // first paint; the page without the element has it from the start).
  const whenBuilt = (start) => document.addEventListener('DOMContentLoaded', () => {
    const shadow = document['querySelector']('ferrolet-updater')?.shadowRoot;
    if (!shadow || $('#send-result')) return start();
    const built = new MutationObserver(() => {
      if (!$('#send-result')) return;
      built.disconnect();
      start();
    });
    built.observe(shadow, { childList: true });
  });
  whenBuilt(() => {
    window.builtAt = performance.now();
    window.styledWhenBuilt = Boolean($('link[rel="stylesheet"]')?.sheet);
  });
  whenBuilt(() => {
    new MutationObserver(() => { window.resultAt = performance.now(); })
      .observe($('#send-result'), { childList: true, characterData: true, subtree: true });
  });
  whenBuilt(() => {
    const copy = $('#copy-report');
    const status = $('#test-status');
    new MutationObserver(() => { if (!copy.hidden && status.textContent.startsWith('Testing')) window.copiedMidTest = true; })
      .observe(copy, { attributes: true });
  });
  if (mode === 'blocked') {
    const refuse = { get() { throw new DOMException('The operation is insecure.', 'SecurityError'); }, configurable: true };
    Object.defineProperty(window, 'localStorage', refuse);
    mode = 'fake';
  }
  // Errors no script of the page caught.
  window.errors = [];
  addEventListener('error', (e) => window.errors.push(e.message));
  // What the updater tells its host page.
  window.events = [];
  for (const type of ['ferrolet-ready', 'ferrolet-sent', 'ferrolet-failed']) {
    document.addEventListener(type, (e) => window.events.push({ type, from: e.target.id, ...e.detail }));
  }
  window.midiRequests = 0;
  if (mode === 'none') {
    delete Navigator.prototype.requestMIDIAccess;
    return;
  }
  const valid = (d) => {
    if (d.length === 0 || d[0] < 0x80) return false;
    if (d[0] === 0xf0) return d[d.length - 1] === 0xf7 && d.slice(1, -1).every((b) => b < 0x80);
    return d.slice(1).every((b) => b < 0x80) && d.length <= 3;
  };
  window.sent = [];
  window.sentElsewhere = [];
  const listeners = [];
  // The input, for the interface test: with `loop` set, the output feeds it each message once the
  // message's DIN wire time has passed: 'clean', 'drop' (a message that starts less than 12 ms
  // after the previous one ended is lost), 'change' (the first data block comes back with one byte
  // changed, the first time only) or 'clock' (MIDI clock every 10 ms besides).
  const input = { id: 'fake-in', name: 'Test input', type: 'input', state: 'connected', connection: 'open',
    onmidimessage: null };
  const arrive = (bytes) => input.onmidimessage?.({ data: new Uint8Array(bytes), timeStamp: performance.now() });
  let previousEnd = -Infinity;
  let changed = false;
  function echo(bytes, timestamp) {
    const start = Math.max(timestamp ?? 0, performance.now());
    const end = start + bytes.length * 0.32;
    const dropped = window.loop === 'drop' && start < previousEnd + 12;
    previousEnd = end;
    if (window.loop === 'change' && !changed && bytes[0] === 0xf0 && bytes.length === 157) {
      changed = true;
      bytes = [...bytes];
      bytes[50] ^= 0x01;
    }
    if (!dropped) setTimeout(() => arrive(bytes), end - performance.now());
  }
  setInterval(() => { if (window.loop === 'clock' && input.onmidimessage) arrive([0xf8]); }, 10);
  const output = {
    id: 'fake-out', name: 'Test port', type: 'output', state: 'connected', connection: 'open',
    send(data, timestamp) {
      if (output.state !== 'connected' || window.portFails) throw new DOMException('Port is disconnected.', 'InvalidStateError');
      const bytes = Array.from(data);
      if (!valid(bytes)) throw new TypeError('not a whole valid MIDI message');
      window.sent.push({ bytes, at: timestamp });
      if (window.loop) echo(bytes, timestamp);
    },
    clear() { window.cleared = true; },
    // A port another program holds (`portBusy`) cannot be opened; one may take `openMs` to open.
    async open() {
      if (window.openMs) await new Promise((resolve) => setTimeout(resolve, window.openMs));
      if (window.portBusy) throw new DOMException('Port is in use', 'InvalidAccessError');
      return output;
    },
  };
  const other = { id: 'other-out', name: 'Other port', type: 'output', state: 'connected', connection: 'open',
    send(data) { window.sentElsewhere.push(Array.from(data)); }, clear() {}, async open() { return other; } };
  window.disconnectPort = (port = output) => {
    port.state = 'disconnected';
    for (const listener of listeners) listener({ port });
  };
  window.disconnectOther = () => window.disconnectPort(other);
  window.reconnectPort = () => { output.state = 'connected'; };
  // A port gone from the browser's list with no word of it.
  window.removePort = () => access.outputs.delete(output.id);
  window.restorePort = () => access.outputs.set(output.id, output);
  const access = {
    outputs: new Map([[output.id, output], [other.id, other]]), inputs: new Map([[input.id, input]]), sysexEnabled: true,
    addEventListener(type, listener) { if (type === 'statechange') listeners.push(listener); },
  };
  window.copied = [];
  Object.defineProperty(navigator, 'clipboard', { configurable: true, value: { writeText: async (t) => { window.copied.push(t); } } });
  Object.defineProperty(Navigator.prototype, 'requestMIDIAccess', {
    configurable: true,
    value: async (options) => {
      window.midiRequests += 1;
      if (mode === 'refused' || !options?.sysex) throw new DOMException('denied', 'SecurityError');
      return access;
    },
  });
}

const clear = (page, selector) =>
  page.evaluate((s) => { $(s).files = new DataTransfer().files; }, selector);
// Writes `content` as the file `name` and chooses it in the picker `selector`.
async function choose(page, selector, name, content) {
  // A picker is there to choose in once the element has built its markup.
  await page.waitForSelector(deep(selector));
  await clear(page, selector);
  const dir = mkdtempSync(join(files, 'f-'));
  writeFileSync(join(dir, name), content);
  const input = await page.$(deep(selector));
  await input.uploadFile(join(dir, name));
}
// The updater's elements are in its shadow root: selectors reach into it.
const deep = (selector) => (selector.startsWith('#') ? `ferrolet-updater >>> ${selector}` : selector);
const text = (page, selector) => page.$eval(deep(selector), (e) => e.textContent);
const isDisabled = (page, selector) => page.$eval(deep(selector), (e) => e.disabled);
const until = (page, fn, ...args) => page.waitForFunction(fn, { polling: 20, timeout: 30000 }, ...args);
const downloaded = (page) =>
  page.evaluate(async () => {
    const last = window.downloads.at(-1);
    return last && { name: last.name, bytes: [...new Uint8Array(await last.blob.arrayBuffer())] };
  });
// Waits until the element's text is no longer `before` and returns it.
async function changed(page, selector, before) {
  await until(page, (s, b) => $(s).textContent !== b, selector, before);
  return text(page, selector);
}

// Pages that scripts/web.sh builds from another folder, once for both browsers: the example's
// page again (relative paths), one with another firmware, and one with a firmware it refuses.
const built = {};
before(() => {
  execFileSync('bash', [join(root, 'scripts/web.sh'), '--build-only', '--firmware', relative(files, join(root, 'examples/blink.hex')),
    '--into', 'again'], { cwd: files, stdio: 'ignore' });
  writeFileSync(join(files, 'full.hex'), upTo(16383));
  execFileSync('bash', [join(root, 'scripts/web.sh'), '--build-only', '--firmware', 'full.hex', '--into', 'republished'],
    { cwd: files, stdio: 'ignore' });
  writeFileSync(join(files, 'bad.hex'), ':0100000041BF\r\n');
  built.refused = spawnSync('bash', [join(root, 'scripts/web.sh'), '--build-only', '--firmware', join(files, 'bad.hex')],
    { encoding: 'utf8', cwd: root });
});

// A maker's site, made of the bundle's files alone (no build): the updater copied into updater/,
// firmwares and manifests of its own in fw/, and pages that hold the element.
const sha = (bytes) => createHash('sha256').update(bytes).digest('hex');
const site = join(files, 'site');
const siteFirmwares = { 'tarvenbox-1.2.hex': example, 'tarvenbox-1.1.hex': upTo(16383), 'blink.syx': blinkUpload };
const SITE_CSP = "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; style-src 'self'";
before(() => {
  cpSync(pageDir, join(site, 'updater'), { recursive: true });
  mkdirSync(join(site, 'fw'));
  for (const [name, bytes] of Object.entries(siteFirmwares)) writeFileSync(join(site, 'fw', name), bytes);
  const broken = Buffer.from(blinkUpload);
  broken[300] ^= 1;
  writeFileSync(join(site, 'fw', 'broken.syx'), broken);
  const manifests = {
    'manifest.json': { name: 'Tarvenbox', firmwares: [
      { version: '1.2', file: 'tarvenbox-1.2.hex', sha256: sha(example), notes: 'Blinks twice as fast.' },
      { version: '1.1', file: 'tarvenbox-1.1.hex', sha256: sha(siteFirmwares['tarvenbox-1.1.hex']), notes: 'Fills the memory.' }] },
    'wrong-sha.json': { name: 'Tarvenbox', firmwares: [{ version: '1.2', file: 'tarvenbox-1.2.hex', sha256: sha(blinkUpload) }] },
    'uploads.json': { name: 'Tarvenbox', firmwares: [{ version: 'good', file: 'blink.syx', sha256: sha(blinkUpload) }, { version: 'broken', file: 'broken.syx' }] },
    'missing.json': { name: 'Tarvenbox', firmwares: [{ version: '1.0' }] },
    'absent.json': { name: 'Tarvenbox', firmwares: [{ version: '1.3', file: 'tarvenbox-1.3.hex' }] },
  };
  for (const [name, json] of Object.entries(manifests)) writeFileSync(join(site, 'fw', name), JSON.stringify(json));
  const pageOf = (body, head = '') => '<!doctype html><html lang="en"><head><meta charset="utf-8"><title>Tarvenbox support</title>' +
    `<script type="module" src="updater/ferrolet-updater.js"></script>${head}</head><body><main><h1>Tarvenbox</h1>${body}</main></body></html>`;
  for (const name of Object.keys(manifests)) {
    writeFileSync(join(site, name.replace('.json', '.html')), pageOf(`<ferrolet-updater manifest="fw/${name}"></ferrolet-updater>`));
  }
  // A host stylesheet that would hide every control it reaches, and themes the element.
  writeFileSync(join(site, 'hostile.css'), 'button, input, select { display: none !important; }\n' +
    'ferrolet-updater { --ferrolet-accent: rgb(1, 2, 3); --ferrolet-on-accent: rgb(4, 5, 6); } ferrolet-updater::part(title) { letter-spacing: 3px; }\n');
  writeFileSync(join(site, 'two.html'), pageOf('<section id="host-section"><ferrolet-updater id="a" manifest="fw/manifest.json">' +
    '</ferrolet-updater></section><ferrolet-updater id="b"></ferrolet-updater>', '<link rel="stylesheet" href="hostile.css">'));
});

test('a page with a firmware inside is the same files from any folder, and a firmware the converter refuses is never put in one', () => {
  const first = join(root, 'build/web-firmware');
  const again = join(files, 'again');
  const listed = (dir) => readdirSync(dir, { recursive: true }).sort();
  assert.deepEqual(listed(again), listed(first));
  for (const name of listed(first).filter((n) => statSync(join(first, n)).isFile())) {
    assert.ok(readFileSync(join(again, name)).equals(readFileSync(join(first, name))), name);
  }
  const cacheOf = (dir) => readFileSync(join(dir, 'sw.js'), 'utf8').match(/const CACHE = '([^']+)'/)[1];
  assert.equal(cacheOf(again), cacheOf(first));
  assert.notEqual(cacheOf(join(files, 'republished')), cacheOf(first));
  assert.notEqual(built.refused.status, 0);
  assert.match(built.refused.stdout, /Line 1 Checksum error \(sum=1\)\n\nread 15 charactes, from adress 0 to 0 with 1 errors\n/);
});

for (const browserName of BROWSERS) {
  describe(browserName, () => {
    let server;
    let browser;
    let base;

    before(async () => {
      mkdirSync(shots, { recursive: true });
      ({ server, url: base } = await servePage());
      browser = await launchBrowser(browserName);
    });

    after(async () => {
      await browser?.close();
      server?.close();
    });

    // A fresh page in a context of its own (nothing remembered from another test).
    async function open(midi, { url = base, ready = true } = {}) {
      const context = await browser.createBrowserContext();
      const page = await context.newPage();
      await page.evaluateOnNewDocument(`(${pageSetup})(${JSON.stringify(midi)})`);
      await page.goto(url);
      if (ready) await page.waitForSelector('ferrolet-updater[data-ready="yes"]');
      return page;
    }
    // No page state breaks an accessibility rule, and the page's own policy is never violated.
    async function accessible(page, state) {
      await page.evaluate(axeSource);
      const violations = await page.evaluate(async () =>
        (await window.axe.run(document, { resultTypes: ['violations'] })).violations.map((v) => `${v.id}: ${v.nodes.map((n) => n.target).join(' ')}`));
      assert.deepEqual(violations, [], state);
      assert.deepEqual(await page.evaluate(() => window.cspViolations), [], state);
    }
    const shot = (page, name) => page.screenshot({ path: join(shots, `${browserName}-${name}.png`), fullPage: true });

    const convertCases = [
      { name: 'blink.hex', hex: example, verdict: 'Converted: 3 data blocks, 555 bytes, ready to download or send.',
        map: 'block map (# data, . all 0x00, + data then filler):\n##+\n', shot: 'converted' },
      { name: 'full.hex', hex: upTo(16383), verdict: 'Converted: 128 data blocks, 20180 bytes, ready to download or send.',
        map: `block map (# data, . all 0x00, + data then filler):\n${'#'.repeat(64)}\n${'#'.repeat(64)}\n` },
      { name: 'bad_checksum.hex', hex: ':0100000041BF\r\n:01000100 02FC\r\n:01000200\x0941BD\xE9\r\n:00000001FF\r\n',
        verdict: 'Refused: the HEX file has errors; the messages below name each one.', shot: 'refused' },
      { name: 'starts_at_0100.hex', hex: record(0x100, 0, [1, 2]) + ':00000001FF\r\n',
        verdict: "Refused: the firmware's data do not start at address 0." },
      // Longer than one chunk of the read, its last chunk all line ends: what the file looks like
      // is told by its first bytes.
      { name: 'starts_at_0100_long.hex', hex: record(0x100, 0, [1, 2]) + '\r\n'.repeat(3 << 19),
        verdict: "Refused: the firmware's data do not start at address 0." },
      { name: 'beyond_memory.hex', hex: record(0, 0, [1]) + record(16376, 0, new Array(16).fill(0x5a)),
        verdict: 'Refused: the firmware does not fit into the 16 KB of program memory.' },
      { name: 'cut_short.hex', hex: upTo(40) + ':0100', verdict: 'Refused: the HEX file has errors; the messages below name each one.' },
      { name: 'fw.hexx', hex: upTo(40), verdict: 'Refused: the file name needs a three-character extension, like firmware.hex.' },
      { name: 'blink.hex', hex: example, verdict: 'Converted: 3 data blocks, 555 bytes, ready to download or send.',
        map: 'block map (# data, . all 0x00, + data then filler):\n##+\n' },
    ];

    const verdictOf = async (page, box) => {
      await until(page, (b) => $(`#${b}-verdict`).textContent !== '', box);
      return text(page, `#${box}-verdict`);
    };

    test("convert shows the command's messages and downloads its upload, one file after another", async () => {
      const page = await open('fake');
      await accessible(page, 'a new page');
      assert.equal(await page.$eval('ferrolet-updater >>> #hex-file', (e) => e.accept), '.hex,.ihx,.eep');
      assert.equal(await page.$eval('ferrolet-updater >>> #syx-file', (e) => e.accept), '.syx');
      for (const c of convertCases) {
        const expected = command(ferrolet, [c.name], { [c.name]: c.hex });
        await choose(page, '#hex-file', c.name, c.hex);
        assert.equal(await verdictOf(page, 'convert'), c.verdict, c.name);
        assert.equal(await text(page, '#convert-messages'), asThePageShows(expected.out), c.name);
        assert.equal(await text(page, '#convert-hint'), c.hint ?? '', c.name);
        assert.equal(await page.$eval('ferrolet-updater >>> #convert-verdict', (e) => e.className), `verdict ${expected.status === 0 ? 'good' : 'bad'}`);
        assert.equal(await text(page, '#convert-map'), c.map ?? '', c.name);
        assert.equal(await isDisabled(page, '#download'), expected.status !== 0, c.name);
        assert.equal(await text(page, '#download'), expected.status === 0 ? `Download ${c.name.slice(0, -3)}syx` : 'Download the upload');
        assert.equal(await page.evaluate(() => $active()), expected.status === 0 ? 'download' : 'hex-file');
        if (expected.status === 0) {
          await page.click('ferrolet-updater >>> #download');
          const wanted = c.name.slice(0, -3) + 'syx';
          const got = await downloaded(page);
          assert.equal(got.name, wanted);
          assert.deepEqual(Buffer.from(got.bytes), expected.file(wanted), c.name);
        }
        if (c.shot) {
          await accessible(page, c.name);
          await shot(page, `convert-${c.shot}`);
        }
      }
      await page.setViewport({ width: 360, height: 800 });
      await choose(page, '#hex-file', 'full.hex', upTo(16383));
      await verdictOf(page, 'convert');
      // At 360 px the map keeps its 64-mark lines and scrolls sideways in a focusable region.
      assert.ok(await page.$eval('ferrolet-updater >>> #convert-map', (e) => e.scrollWidth > e.clientWidth && e.tabIndex === 0));
      await accessible(page, 'full image at 360 px');
      await shot(page, 'convert-360px');
      await page.browserContext().close();
    });

    test("check gives ferrolet-check's report and verdict, and offers only a valid upload", async () => {
      const corrupted = Buffer.from(blinkUpload);
      corrupted[300] ^= 0x01;
      const full = command(ferrolet, ['full.hex'], { 'full.hex': upTo(16383) }).file('full.syx');
      const cases = [
        { name: 'corrupted upload', files: { 'broken.syx': corrupted }, verdict: 'Invalid: the upload is broken; do not send it.' },
        { name: 'full upload', files: { 'full.syx': full }, verdict: 'Valid: every frame, CRC and block number is right.' },
        { name: 'good upload', files: { 'blink.syx': blinkUpload }, verdict: 'Valid: every frame, CRC and block number is right.' },
        { name: 'good upload with its firmware', files: { 'blink.syx': blinkUpload, 'blink.hex': example },
          verdict: 'Valid: the upload is whole and carries exactly this firmware.' },
        { name: 'differing firmware', files: { 'blink.syx': blinkUpload, 'other.hex': upTo(273) },
          verdict: 'Not this firmware, or a broken upload: see the report.' },
        { name: 'a HEX file in the place of the upload', files: { 'blink.hex': example }, verdict: 'Not an upload: this is a HEX file.',
          hint: 'blink.hex is a HEX file, not an upload: convert it in box 1, then download or send the upload from there.' },
        { name: 'an empty upload', files: { 'empty.syx': '' }, verdict: 'Invalid: the upload is broken; do not send it.',
          hint: 'empty.syx is empty: choose an upload file (.syx).' },
        { name: 'good upload again', files: { 'blink.syx': blinkUpload }, verdict: 'Valid: every frame, CRC and block number is right.' },
        // Shown as the Convert box shows them, and counted in full beyond the page's cap.
        { name: 'a firmware with bytes that are no printable characters', files: { 'blink.syx': blinkUpload, 'fw.hex': Buffer.from([0x12, 0x94, 0x3a]) },
          verdict: 'Not this firmware, or a broken upload: see the report.' },
        { name: 'a firmware with 1,500 faults', files: { 'blink.syx': blinkUpload, 'bad.hex': 'Z'.repeat(1500) },
          verdict: 'Not this firmware, or a broken upload: see the report.' },
        { name: 'a file longer than any upload', files: { 'long.syx': Buffer.concat([blinkUpload, Buffer.alloc(33000)]) },
          verdict: 'Invalid: the upload is broken; do not send it.' },
      ];
      const page = await open('fake');
      await page.click('ferrolet-updater >>> #find-ports');
      for (const c of cases) {
        const names = Object.keys(c.files);
        const expected = command(ferroletCheck, names, c.files);
        await clear(page, '#check-hex-file');
        if (names[1]) await choose(page, '#check-hex-file', names[1], c.files[names[1]]);
        await choose(page, '#syx-file', names[0], c.files[names[0]]);
        assert.equal(await verdictOf(page, 'check'), c.verdict, c.name);
        assert.equal(await text(page, '#check-report'), readableReport(expected.out), c.name);
        assert.equal(await text(page, '#check-hint'), c.hint ?? '', c.name);
        assert.equal(await page.$eval('ferrolet-updater >>> #check-verdict', (e) => e.className), `verdict ${expected.status === 0 ? 'good' : 'bad'}`);
        // Only an upload checked valid is offered; a broken one withdraws what was on offer.
        assert.equal(await isDisabled(page, '#send-button'), expected.status !== 0, c.name);
        assert.equal(await text(page, '#send-source'),
          expected.status === 0 ? `${names[0]} (checked, ${c.files[names[0]].length} bytes)` : 'convert a firmware or check an upload first.');
        if (c.name.startsWith('a ')) await accessible(page, c.name);
      }
      await page.setViewport({ width: 360, height: 800 });
      // At 360 px the report is whole, down to its verdict, and scrolls sideways.
      assert.ok(await page.$eval('ferrolet-updater >>> #check-report', (e) => e.scrollHeight <= e.clientHeight + 1));
      await accessible(page, 'report at 360 px');
      await shot(page, 'check-360px');
      // Dropped together on the Check box: the upload is checked against the firmware.
      await page.evaluate((u, h) => {
        const list = new DataTransfer();
        list.items.add(new File([new Uint8Array(h)], 'blink.hex'));
        list.items.add(new File([new Uint8Array(u)], 'blink.syx'));
        $('#check-verdict').textContent = '';
        // Firefox leaves the data out of a drop event made by a script; the page reads only this.
        const drop = new Event('drop', { bubbles: true, cancelable: true });
        Object.defineProperty(drop, 'dataTransfer', { value: list });
        $('#check').dispatchEvent(drop);
      }, [...blinkUpload], [...example]);
      assert.equal(await verdictOf(page, 'check'), 'Valid: the upload is whole and carries exactly this firmware.');
      // A broken upload chosen while a firmware still converts: the conversion's result, older than
      // that choice, offers nothing.
      await page.evaluate((h) => {
        $('#check-verdict').textContent = '';
        for (const [id, name, bytes] of [['#hex-file', 'blink.hex', h], ['#syx-file', 'empty.syx', []]]) {
          const list = new DataTransfer();
          list.items.add(new File([new Uint8Array(bytes)], name));
          $(id).files = list.files;
          $(id).dispatchEvent(new Event('change'));
        }
      }, [...example]);
      assert.equal(await verdictOf(page, 'check'), 'Not this firmware, or a broken upload: see the report.');
      assert.ok(await isDisabled(page, '#send-button'));
      assert.equal(await text(page, '#send-source'), 'convert a firmware or check an upload first.');
      // A refused firmware chosen just after a valid upload's check: whatever the page still reads
      // of that upload, nothing is offered.
      await page.evaluate(() => { window.slowReads = true; });
      await clear(page, '#check-hex-file');
      await choose(page, '#syx-file', 'blink.syx', blinkUpload);
      assert.equal(await verdictOf(page, 'check'), 'Valid: every frame, CRC and block number is right.');
      await choose(page, '#hex-file', 'bad.hex', ':0100000041BF\r\n');
      await new Promise((resolve) => setTimeout(resolve, 1500));
      assert.equal(await text(page, '#send-source'), 'convert a firmware or check an upload first.');
      assert.ok(await isDisabled(page, '#send-button'));
      await page.browserContext().close();
    });

    // Starts sending the converted example with `pauseMs` between frames; resolves once `count`
    // messages have gone out.
    async function startSending(page, pauseMs, count) {
      await page.$eval('ferrolet-updater >>> #pause', (e, v) => { e.value = v; e.dispatchEvent(new Event('change')); }, String(pauseMs));
      await page.evaluate(() => { window.sent = []; });
      await page.click('ferrolet-updater >>> #send-button');
      await until(page, (n) => window.sent.length >= n, count);
    }

    test('send paces whole MIDI messages at DIN speed, shows progress and can be cancelled', async () => {
      const page = await open('fake');
      assert.equal(await page.evaluate(() => window.midiRequests), 0, 'no MIDI permission asked for on load');
      await choose(page, '#hex-file', 'blink.hex', example);
      await page.click('ferrolet-updater >>> #find-ports');
      await until(page, () => !$('#send-button').disabled);
      assert.equal(await page.evaluate(() => window.midiRequests), 1);
      assert.equal(await page.evaluate(() => $active()), 'port');
      const blocks = (blinkUpload.length - 84) / 157;
      for (const pauseMs of [0, 30]) {
        await page.$eval('ferrolet-updater >>> #pause', (e, v) => { e.value = v; e.dispatchEvent(new Event('change')); }, String(pauseMs));
        await page.evaluate(() => { window.sent = []; });
        await page.click('ferrolet-updater >>> #send-button');
        assert.ok(await isDisabled(page, '#send-button'), 'Send is not offered twice at once');
        await until(page, () => $active() === 'cancel-button');
        await until(page, () => $('#send-result').textContent.startsWith('Sent'));
        assert.equal(await page.evaluate(() => $active()), 'send-button');
        assert.ok(await isDisabled(page, '#cancel-button'), 'nothing to cancel once sent');
        const sent = await page.evaluate(() => window.sent);
        const joined = [...sent[0].bytes, ...new Array(62).fill(0), ...sent.slice(1).flatMap((m) => m.bytes)];
        assert.deepEqual(Buffer.from(joined), blinkUpload, 'the messages with the gap put back are the upload');
        assert.equal(sent.length, blocks + 2);
        // Each message is due exactly when the line is free again: no sooner, and no later.
        const eps = 0.01;
        const gap = sent[1].at - (sent[0].at + (8 * US_PER_BYTE) / 1000);
        assert.ok(Math.abs(gap - 19.84) < eps, `pause after the preamble ${gap}`);
        for (let i = 2; i < sent.length; i++) {
          const end = sent[i - 1].at + (sent[i - 1].bytes.length * US_PER_BYTE) / 1000;
          assert.ok(Math.abs(sent[i].at - end - pauseMs) < eps, `message ${i}: ${sent[i].at - end} ms after the line is free`);
        }
        // Firefox rounds its clock to the millisecond.
        const last = sent.at(-1);
        const resultAt = await page.evaluate(() => window.resultAt);
        assert.ok(resultAt >= last.at + (last.bytes.length * US_PER_BYTE) / 1000 - 2, `sent before the last frame is through: ${resultAt} ${last.at}`);
        assert.equal(await text(page, '#progress-text'), `block ${blocks} of ${blocks}`);
        assert.deepEqual(await page.$eval('ferrolet-updater >>> #progress', (e) => [e.value, e.max]), [blocks, blocks]);
        const seconds = ((555 * US_PER_BYTE + 3 * pauseMs * 1000) / 1e6).toFixed(2);
        assert.equal(await text(page, '#send-result'), `Sent blink.syx: 3 data blocks, 555 bytes, to Test port in ${seconds} s, ` +
          `paced at DIN MIDI speed (3,125 bytes/s) with ${pauseMs} ms extra between frames.`);
      }
      await accessible(page, 'sent');
      await shot(page, 'send');
      // The core keeps any pause within its limits, whatever it is handed.
      const planned = await page.evaluate((u) => window.ferrolet.plan(new Uint8Array(u), 'x.syx', 5000, 'p'), [...blinkUpload]);
      assert.equal(planned.pause_ms, 1000);
      assert.equal(planned.at_us[3] - planned.end_us[2], 1000000);

      // Kept within the limits, and remembered for the next visit.
      await page.$eval('ferrolet-updater >>> #pause', (e) => { e.value = '5000'; e.dispatchEvent(new Event('change')); });
      assert.equal(await page.$eval('ferrolet-updater >>> #pause', (e) => e.value), '1000');
      await page.$eval('ferrolet-updater >>> #pause', (e) => { e.value = '30'; e.dispatchEvent(new Event('change')); });
      await page.reload();
      await page.waitForSelector('ferrolet-updater[data-ready="yes"]');
      assert.equal(await page.$eval('ferrolet-updater >>> #pause', (e) => e.value), '30');
      await page.evaluate(() => localStorage.setItem('ferrolet.extraPauseMs', 'garbage'));
      await page.reload();
      await page.waitForSelector('ferrolet-updater[data-ready="yes"]');
      assert.equal(await page.$eval('ferrolet-updater >>> #pause', (e) => e.value), '0');

      // With a long pause between frames, Cancel stops what is not handed over yet and clears
      // what the port already holds; while it runs, the upload being sent stays what it was.
      await choose(page, '#hex-file', 'blink.hex', example);
      await page.click('ferrolet-updater >>> #find-ports');
      await until(page, () => !$('#send-button').disabled);
      await startSending(page, 1000, 3);
      assert.equal(await text(page, '#send-source'), 'blink.syx (being sent, 555 bytes)');
      await choose(page, '#hex-file', 'full.hex', upTo(16383));
      await verdictOf(page, 'convert');
      assert.equal(await text(page, '#send-source'), 'blink.syx (being sent, 555 bytes)');
      assert.ok(await page.evaluate(() => !window.dispatchEvent(new Event('beforeunload', { cancelable: true }))),
        'leaving the page mid-send asks first');
      const atCancel = await page.evaluate(() => {
        $('#cancel-button').click();
        return window.sent.length;
      });
      await until(page, () => $('#send-result').textContent.startsWith('Cancelled'));
      assert.equal(await page.evaluate(() => $active()), 'send-button');
      await new Promise((resolve) => setTimeout(resolve, 1200));
      assert.equal(await page.evaluate(() => window.sent.length), atCancel);
      assert.ok(await page.evaluate(() => window.cleared === true), 'what the port holds is cleared');
      assert.equal(await text(page, '#send-result'), `Cancelled after block ${atCancel - 2} of 3; send the whole upload again.`);
      assert.equal(await text(page, '#send-source'), 'full.syx (converted, 20180 bytes)');
      assert.ok(await page.evaluate(() => window.dispatchEvent(new Event('beforeunload', { cancelable: true }))));
      await shot(page, 'send-cancelled');

      // A port that fails, or that goes away, stops the send at once and says what to do.
      await choose(page, '#hex-file', 'blink.hex', example);
      await until(page, () => !$('#send-button').disabled);
      for (const how of ['send() throws', 'statechange']) {
        await startSending(page, 1000, 3);
        await page.evaluate((h) => { if (h === 'statechange') window.disconnectPort(); else window.portFails = true; }, how);
        await until(page, () => $('#send-result').textContent.startsWith('The MIDI port was lost'));
        assert.equal(await text(page, '#send-result'), 'The MIDI port was lost after block 1 of 3: the device now holds a ' +
          'partial upload. Connect the interface again, then send the whole upload again.', how);
        assert.equal(await text(page, '#send-detail'), how === 'statechange' ? '' : 'Port is disconnected.');
        assert.equal(await page.evaluate(() => window.sent.length), 3, how);
        await page.evaluate(() => { window.portFails = false; });
      }
      // A port held by another program is never handed anything; one lost before the first
      // message leaves nothing at the device; another port going away leaves the send alone.
      await page.evaluate(() => { window.sent = []; window.portBusy = true; });
      await page.click('ferrolet-updater >>> #send-button');
      await until(page, () => $('#send-result').textContent !== '');
      assert.equal(await text(page, '#send-result'), 'The MIDI port Test port could not be opened: another program may be using ' +
        'it, or it is not available. Close the other program (a music or SysEx program, say), then press Send again. Nothing was sent.');
      assert.equal(await page.evaluate(() => window.sent.length), 0);
      await page.evaluate(() => { window.portBusy = false; window.portFails = true; });
      await page.click('ferrolet-updater >>> #send-button');
      await until(page, () => $('#send-result').textContent.startsWith('The MIDI port was lost'));
      assert.equal(await text(page, '#send-result'), 'The MIDI port was lost before anything was sent: nothing reached the device. ' +
        'Connect the interface again, then press Send again.');
      await page.evaluate(() => { window.portFails = false; window.reconnectPort(); });
      await startSending(page, 100, 2);
      await page.evaluate(() => window.disconnectOther());
      await until(page, () => /^Sent /.test($('#send-result').textContent));
      // A port gone from the browser's list since it was shown: nothing is sent, and Send says so.
      await page.evaluate(() => { window.sent = []; window.removePort(); });
      await page.click('ferrolet-updater >>> #send-button');
      await until(page, () => $('#send-result').textContent.includes('no longer there'));
      assert.equal(await text(page, '#send-result'), 'The MIDI port Test port is no longer there, so nothing was sent. Connect the ' +
        'interface again and choose its port, then press Send or Test the interface again.');
      assert.equal(await page.evaluate(() => window.sent.length), 0);
      await page.evaluate(() => window.restorePort());
      // A choice made while the port is being opened withdraws the offer: nothing is sent.
      await page.evaluate(() => { window.sent = []; window.openMs = 1000; });
      await page.click('ferrolet-updater >>> #send-button');
      await choose(page, '#hex-file', 'bad.hex', ':0100000041BF\r\n');
      await new Promise((resolve) => setTimeout(resolve, 1500));
      assert.equal(await page.evaluate(() => window.sent.length), 0);
      assert.equal(await text(page, '#send-source'), 'convert a firmware or check an upload first.');
      await accessible(page, 'port lost');
      await page.browserContext().close();
    });

    test('the interface test sends through a loop, finds a pause that works and reports it', async () => {
      let page = await open('fake');
      await choose(page, '#hex-file', 'blink.hex', example);
      await page.click('ferrolet-updater >>> #find-ports');
      await until(page, () => !$('#test-button').disabled);
      const intact = (pause, n) => `At ${pause} ms extra between frames: ${n} of ${n} frames came back intact, 0 lost, 0 changed.\n`;
      const time = /^It took \d+\.\d\d s; a DIN MIDI line needs (0\.18|0\.\d\d|\d+\.\d\d) s for these frames\.$/;
      const rows = [
        { loop: 'clean', pause: '0', first: intact(0, 5), verdict: 'The interface carries this upload with the extra pause Send uses (0 ms).', after: '0' },
        { loop: 'drop', pause: '0', first: 'At 0 ms extra between frames: 2 of 5 frames came back intact, 3 lost, 0 changed.\n',
          verdict: 'The interface lost or changed frames with shorter pauses; with 20 ms extra between frames it carried the ' +
            'upload twice in a row, so Send now uses 20 ms.', after: '20', runs: 5 },
        { loop: 'change', pause: '0', first: 'At 0 ms extra between frames: 4 of 5 frames came back intact, 0 lost, 1 changed.\n' +
            `First change: data block 1, byte 50: sent 0x${blinkUpload[84 + 50].toString(16).toUpperCase().padStart(2, '0')}, ` +
            `came back 0x${(blinkUpload[84 + 50] ^ 1).toString(16).toUpperCase().padStart(2, '0')}.\n`,
          verdict: 'The interface lost or changed frames with shorter pauses; with 5 ms extra between frames it carried the ' +
            'upload twice in a row, so Send now uses 5 ms.', after: '5', runs: 3 },
        { loop: 'clock', pause: '0', first: intact(0, 5), strays: /^Ignored (\d+) messages that were not sent: \1 MIDI clock, 0 active sensing, 0 SysEx of another program, 0 other\./m,
          verdict: 'The interface carries this upload with the extra pause Send uses (0 ms).', after: '0' },
      ];
      for (const row of rows) {
        await page.evaluate((l) => { window.loop = l; window.sent = []; }, row.loop);
        await page.$eval('ferrolet-updater >>> #pause', (e, v) => { e.value = v; e.dispatchEvent(new Event('change')); }, row.pause);
        await page.evaluate(() => { $('#test-status').textContent = ''; });
        await page.click('ferrolet-updater >>> #test-button');
        await until(page, () => /^(The interface|This interface)/.test($('#test-status').textContent));
        assert.equal(await text(page, '#test-status'), row.verdict, row.loop);
        const report = await text(page, '#test-report');
        assert.ok(report.startsWith(row.first), `${row.loop}: ${report}`);
        assert.match(report.split('\n')[row.first.split('\n').length - 1], time, row.loop);
        assert.equal(report.match(/^At /gm).length, row.runs ?? 1, row.loop);
        if (row.strays) assert.match(report, row.strays);
        else assert.doesNotMatch(report, /Ignored/, row.loop);
        assert.equal(await page.$eval('ferrolet-updater >>> #pause', (e) => e.value), row.after, row.loop);
        assert.equal(await page.evaluate(() => localStorage.getItem('ferrolet.extraPauseMs')), row.after, 'remembered');
        assert.deepEqual(await page.evaluate(() => window.sentElsewhere), [], 'nothing goes to a port that was not chosen');
      }
      assert.notEqual(await page.evaluate(() => window.copiedMidTest), true, 'Copy report offered between the runs of a test');
      await accessible(page, 'after an interface test');
      await shot(page, 'interface-test');
      // The report of the last test, copied and shown.
      await page.click('ferrolet-updater >>> #copy-report');
      await until(page, () => window.copied.length > 0);
      const copied = await page.evaluate(() => window.copied[0]);
      assert.equal(await text(page, '#page-report'), copied);
      const lines = copied.split('\n');
      assert.equal(lines[0], 'ferrolet 1.00 web page');
      assert.equal(lines[1], `Browser: ${await page.evaluate(() => navigator.userAgent)}`);
      assert.deepEqual(lines.slice(2, 6), ['MIDI output: Test port', 'MIDI input: Test input',
        `Upload: blink.syx, 555 bytes, 3 data blocks, SHA-256 ${createHash('sha256').update(blinkUpload).digest('hex')}`,
        'Pacing: 0 ms extra between frames at DIN MIDI speed (3,125 bytes/s)']);
      assert.equal(lines[6], 'Outcome: The interface carries this upload with the extra pause Send uses (0 ms).');
      assert.ok(copied.endsWith(await text(page, '#test-report')));
      // After a send, its outcome.
      await page.evaluate(() => { window.loop = null; window.copied = []; });
      await page.click('ferrolet-updater >>> #send-button');
      await until(page, () => $('#send-result').textContent.startsWith('Sent'));
      await page.click('ferrolet-updater >>> #copy-report');
      await until(page, () => window.copied.length > 0);
      assert.match(await page.evaluate(() => window.copied[0]), /\nMIDI input: none\n[^]*\nOutcome: Sent blink\.syx: 3 data blocks, 555 bytes, to Test port in 0\.\d\d s, /);
      // Cancel stops a test as it stops a send.
      await page.evaluate(() => { window.loop = 'clean'; window.sent = []; });
      await page.$eval('ferrolet-updater >>> #pause', (e) => { e.value = '1000'; e.dispatchEvent(new Event('change')); });
      await page.click('ferrolet-updater >>> #test-button');
      await until(page, () => window.sent.length >= 3);
      await page.click('ferrolet-updater >>> #cancel-button');
      await until(page, () => $('#test-status').textContent.startsWith('Test cancelled'));
      assert.equal(await text(page, '#test-status'), 'Test cancelled at 1000 ms extra between frames after block 1.');
      // With nothing chosen, a full-memory test pattern (a new page: Firefox keeps a chosen file
      // over a reload, and the page now converts it).
      await page.browserContext().close();
      page = await open('fake');
      await page.click('ferrolet-updater >>> #find-ports');
      await page.evaluate(() => { window.loop = 'clean'; });
      await page.$eval('ferrolet-updater >>> #pause', (e) => { e.value = '0'; e.dispatchEvent(new Event('change')); });
      await until(page, () => !$('#test-button').disabled);
      await page.click('ferrolet-updater >>> #test-button');
      await until(page, () => /^The interface/.test($('#test-status').textContent));
      assert.ok((await text(page, '#test-report')).startsWith(intact(0, 130)));
      await page.browserContext().close();
    });

    test('a page published with a firmware inside converts it without a file chosen', async () => {
      const { server: held, url } = await servePage({ dir: join(root, 'build/web-firmware') });
      const page = await open('fake', { url });
      assert.equal(await verdictOf(page, 'convert'), 'Converted: 3 data blocks, 555 bytes, ready to download or send.');
      assert.equal(await text(page, '#held'), `This page holds the firmware blink.hex (SHA-256 ${createHash('sha256').update(example).digest('hex')}). ` +
        'It is converted below, ready to download or send; you can still choose another file.');
      assert.equal(await page.$eval('ferrolet-updater >>> #hex-file', (e) => e.files.length), 0);
      await page.click('ferrolet-updater >>> #download');
      const got = await downloaded(page);
      assert.equal(got.name, 'blink.syx');
      assert.deepEqual(Buffer.from(got.bytes), blinkUpload);
      await page.click('ferrolet-updater >>> #find-ports');
      await until(page, () => !$('#send-button').disabled);
      assert.equal(await text(page, '#send-source'), 'blink.syx (converted, 555 bytes)');
      await choose(page, '#hex-file', 'full.hex', upTo(16383));
      assert.equal(await verdictOf(page, 'convert'), 'Converted: 128 data blocks, 20180 bytes, ready to download or send.');
      assert.equal(await text(page, '#held'), '');
      await accessible(page, 'a page with a firmware inside');
      await page.browserContext().close();
      held.close();
      // A file chosen while the page still fetches its manifest, or its firmware, is what stays converted.
      for (const held of ['/firmware.json', '/firmware/blink.hex']) {
        const { server: slow, url: slowUrl } = await servePage({ dir: join(root, 'build/web-firmware'),
          delay: (path) => (path === held ? 1500 : 0) });
        const early = await open('fake', { url: slowUrl });
        await choose(early, '#hex-file', 'full.hex', upTo(16383));
        await new Promise((resolve) => setTimeout(resolve, 2500));
        assert.equal(await verdictOf(early, 'convert'), 'Converted: 128 data blocks, 20180 bytes, ready to download or send.', held);
        assert.equal(await text(early, '#held'), '', held);
        await early.browserContext().close();
        slow.close();
      }
    });

    test('a send cut off by reloading the page is reported when it comes back', async () => {
      const page = await open('fake');
      await choose(page, '#hex-file', 'blink.hex', example);
      await page.click('ferrolet-updater >>> #find-ports');
      await until(page, () => !$('#send-button').disabled);
      await startSending(page, 1000, 3);
      // The browser asks before it leaves a page that is sending.
      let asked = '';
      page.once('dialog', (dialog) => {
        asked = dialog.type();
        dialog.accept();
      });
      await page.reload();
      await page.waitForSelector('ferrolet-updater[data-ready="yes"]');
      assert.equal(asked, 'beforeunload');
      assert.equal(await text(page, '#send-result'), 'The last send of blink.syx was cut off after block 1 of 3 when the page was ' +
        'closed or reloaded: the device holds a partial upload. Send the whole upload again.');
      await page.reload();
      await page.waitForSelector('ferrolet-updater[data-ready="yes"]');
      assert.equal(await text(page, '#send-result'), '', 'said once');
      // A send that ends in full leaves nothing to report on the next visit.
      await choose(page, '#hex-file', 'blink.hex', example);
      await page.click('ferrolet-updater >>> #find-ports');
      await until(page, () => !$('#send-button').disabled);
      await startSending(page, 0, 5);
      await until(page, () => /^Sent /.test($('#send-result').textContent));
      await page.reload();
      await page.waitForSelector('ferrolet-updater[data-ready="yes"]');
      assert.equal(await text(page, '#send-result'), '', 'a finished send');
      await page.browserContext().close();
    });

    test('without Web MIDI, or without permission, the page says so and still converts', async () => {
      for (const mode of ['none', 'refused']) {
        const page = await open(mode);
        if (mode === 'refused') await page.click('ferrolet-updater >>> #find-ports');
        await until(page, () => $('#midi-status').textContent !== '');
        const refused = browserName === 'firefox' ? /Firefox did not allow MIDI for this page/ : /not allowed/;
        assert.match(await text(page, '#midi-status'), mode === 'none' ? /no Web MIDI/ : refused);
        await choose(page, '#hex-file', 'blink.hex', example);
        await until(page, () => !$('#download').disabled);
        await page.click('ferrolet-updater >>> #download');
        assert.equal((await downloaded(page)).name, 'blink.syx');
        assert.ok(await isDisabled(page, '#send-button'));
        await page.setViewport({ width: 360, height: 800 });
        await accessible(page, `no MIDI (${mode})`);
        await shot(page, `no-midi-${mode}-360px`);
        await page.browserContext().close();
      }
    });

    test('a file in the wrong box, one that is no HEX file, or one that cannot be read, is named as such', async () => {
      const page = await open('fake');
      const cases = [
        { name: 'empty.hex', hex: '', hint: 'empty.hex is empty: choose the firmware\'s HEX file (.hex).' },
        { name: 'blink.syx', hex: blinkUpload, hint: 'blink.syx is an upload (.syx), not a HEX file: check it in box 2 and send it from there.' },
        { name: 'blink.bin', hex: Buffer.from([0x0c, 0x94, 0x34, 0x00, 0x0c, 0x94, 0x3e, 0x00]),
          hint: "blink.bin does not look like a HEX file (its records would start with ':'): choose the firmware's .hex file." },
      ];
      for (const c of cases) {
        // The command would not write blink.syx over itself; the page has no such file.
        const expected = command(ferrolet, ['x.hex'], { 'x.hex': c.hex });
        await choose(page, '#hex-file', c.name, c.hex);
        await verdictOf(page, 'convert');
        assert.equal(await text(page, '#convert-hint'), c.hint, c.name);
        assert.equal(await text(page, '#convert-messages'), asThePageShows(expected.out), c.name);
      }
      await accessible(page, 'an upload in the Convert box');
      await shot(page, 'convert-an-upload');
      // Files that are gone from the disk once chosen: as a firmware to check against, and dropped
      // on the Convert box.
      const dir = mkdtempSync(join(files, 'gone-'));
      writeFileSync(join(dir, 'gone.hex'), example);
      await clear(page, '#syx-file');
      await (await page.$('ferrolet-updater >>> #check-hex-file')).uploadFile(join(dir, 'gone.hex'));
      rmSync(dir, { recursive: true });
      await choose(page, '#syx-file', 'blink.syx', blinkUpload);
      assert.equal(await verdictOf(page, 'check'), 'Refused: the file could not be read. Choose it again; if it lies on a ' +
        'removable drive or a network folder, copy it to this computer first.');
      assert.equal(await text(page, '#check-report'), 'Cannot read firmware file gone.hex\n');
      assert.ok(await isDisabled(page, '#send-button'));
      await page.evaluate(() => {
        const list = new DataTransfer();
        list.items.add($('#check-hex-file').files[0]);
        const drop = new Event('drop', { bubbles: true, cancelable: true });
        Object.defineProperty(drop, 'dataTransfer', { value: list });
        $('#convert').dispatchEvent(drop);
      });
      assert.equal(await verdictOf(page, 'convert'), 'Refused: the file could not be read. Choose it again; if it lies on a ' +
        'removable drive or a network folder, copy it to this computer first.');
      assert.equal(await text(page, '#convert-messages'), 'Input file gone.hex cannot be read\n');
      // An upload that cannot be read is said to be so, as ferrolet-check says it, not called broken.
      const goneUpload = mkdtempSync(join(files, 'gone-'));
      writeFileSync(join(goneUpload, 'gone.syx'), blinkUpload);
      await clear(page, '#check-hex-file');
      await (await page.$('ferrolet-updater >>> #syx-file')).uploadFile(join(goneUpload, 'gone.syx'));
      rmSync(goneUpload, { recursive: true });
      await page.$eval('ferrolet-updater >>> #syx-file', (e) => e.dispatchEvent(new Event('change')));
      await until(page, () => $('#check-report').textContent.startsWith('Cannot read upload'));
      assert.equal(await text(page, '#check-verdict'), 'Refused: the file could not be read. Choose it again; if it lies on a ' +
        'removable drive or a network folder, copy it to this computer first.');
      assert.equal(await text(page, '#check-report'), 'Cannot read upload file gone.syx\n');
      await page.browserContext().close();
    });

    test('a large file is read without holding up the page, its faults counted, and can be stopped', async () => {
      const page = await open('fake');
      const random = Buffer.alloc(3 * 1024 * 1024);
      let state = 12345;
      for (let i = 0; i < random.length; i++) {
        state = (state * 1103515245 + 12345) >>> 0;
        random[i] = state >>> 24;
      }
      const expected = command(ferrolet, ['random.hex'], { 'random.hex': random });
      await choose(page, '#hex-file', 'random.hex', random);
      assert.equal(await verdictOf(page, 'convert'), "Refused: the firmware's data do not start at address 0.");
      const shown = await text(page, '#convert-messages');
      assert.equal(shown, asThePageShows(expected.out));
      assert.match(shown, /\n\.\.\. and \d+ more\n\nread 3145728 charactes/);
      // A file far larger than any firmware: progress while it is read, then Stop.
      const big = join(mkdtempSync(join(files, 'big-')), 'big.hex');
      writeFileSync(big, Buffer.alloc(200 * 1024 * 1024, 0x20));
      await (await page.$('ferrolet-updater >>> #hex-file')).uploadFile(big);
      await until(page, () => /^Reading big\.hex: [\d,]+ of 209,715,200 bytes$/.test($('#convert-reading').textContent));
      assert.equal(await page.evaluate(() => { const t0 = performance.now(); while (performance.now() - t0 < 5); return 'responsive'; }), 'responsive');
      await page.click('ferrolet-updater >>> #convert-stop');
      assert.equal(await verdictOf(page, 'convert'), 'Stopped reading big.hex. Choose the file again to start over.');
      assert.equal(await text(page, '#convert-reading'), '');
      // The same file as the firmware to check an upload against, stopped in the Check box.
      await (await page.$('ferrolet-updater >>> #check-hex-file')).uploadFile(big);
      await choose(page, '#syx-file', 'blink.syx', blinkUpload);
      await until(page, () => /^Reading big\.hex: /.test($('#check-reading').textContent));
      await page.click('ferrolet-updater >>> #check-stop');
      assert.equal(await verdictOf(page, 'check'), 'Stopped reading big.hex. Choose the file again to start over.');
      await clear(page, '#check-hex-file');
      await clear(page, '#syx-file');

      // Either box used while the other still reads: each keeps its own answer.
      for (const other of ['#syx-file', '#check-hex-file']) {
        await page.evaluate(() => { for (const b of ['convert', 'check']) $(`#${b}-verdict`).textContent = ''; });
        await clear(page, '#syx-file');
        await clear(page, '#check-hex-file');
        await choose(page, '#hex-file', 'random.hex', random);
        await choose(page, other, 'blink.syx', blinkUpload);
        assert.equal(await verdictOf(page, 'convert'), "Refused: the firmware's data do not start at address 0.", other);
        assert.equal(await text(page, '#convert-messages'), asThePageShows(expected.out), other);
        if (other === '#syx-file') assert.equal(await verdictOf(page, 'check'), 'Valid: every frame, CRC and block number is right.');
      }
      // The core goes on working afterwards.
      await choose(page, '#hex-file', 'blink.hex', example);
      assert.equal(await verdictOf(page, 'convert'), 'Converted: 3 data blocks, 555 bytes, ready to download or send.');
      // Two requests at once are answered in turn, each whole.
      const [read, plan] = await page.evaluate(async (r, u) => {
        const { convertMessages } = await import('./words.js');
        const [c, p] = await Promise.all([window.ferrolet.convert('random.hex', new Uint8Array(r)),
          window.ferrolet.plan(new Uint8Array(u), 'blink.syx', 0, 'p')]);
        return [convertMessages(c), p.steps];
      }, [...random], [...blinkUpload]);
      assert.equal(read, asThePageShows(expected.out));
      assert.equal(plan, 5);
      // Every read ends, however many came before it.
      for (let i = 0; i < 60; i++) {
        await page.evaluate(() => { $('#convert-verdict').textContent = ''; });
        await choose(page, '#hex-file', 'b.hex', ':00000001FF\r\n');
        assert.equal(await verdictOf(page, 'convert'), "Refused: the firmware's data do not start at address 0.", `file ${i + 1}`);
      }
      await page.browserContext().close();
      // A stream read that stalls after its first chunk goes on by slices from where it stood;
      // one whose slices stall too ends with a sentence, as one whose slices cannot be read
      // does. The worker is served with its reads made to stall so.
      // A stream that ends before the file's size (a file that changed or went since it was chosen)
      // is no whole file either.
      for (const slices of ['read', 'stall', 'fail', 'short']) {
        const stalling = `{
          const stream = Blob.prototype.stream;
          Blob.prototype.stream = function () {
            const reader = stream.call(this).getReader();
            let pulls = 0;
            return new ReadableStream({ async pull(into) {
              if (pulls++ > 0) return '${slices}' === 'short' ? into.close() : new Promise(() => {});
              const { done, value } = await reader.read();
              if (done) into.close(); else into.enqueue(value);
            } });
          };
          if ('${slices}' === 'stall') Blob.prototype.arrayBuffer = () => new Promise(() => {});
          if ('${slices}' === 'fail') Blob.prototype.arrayBuffer = () => Promise.reject(new DOMException('gone', 'NotReadableError'));
          const whole = Blob.prototype.arrayBuffer;
          if ('${slices}' === 'short') Blob.prototype.arrayBuffer = async function () { return (await whole.call(this)).slice(0, 10); };
        }\n` + readFileSync(join(pageDir, 'core-worker.js'), 'utf8');
        // A read that brings nothing for half a second counts as stalled here, not after five.
        const actions = readFileSync(join(pageDir, 'core-actions.js'), 'utf8').replace('const STALL_MS = 5000;', 'const STALL_MS = 500;');
        assert.ok(actions.includes('const STALL_MS = 500;'));
        const served = { '/core-worker.js': stalling, '/core-actions.js': actions };
        const { server, url } = await servePage({ answer: (path) => served[path] });
        const stalled = await open('fake', { url });
        await choose(stalled, '#hex-file', 'random.hex', random);
        if (slices === 'stall') {
          assert.equal(await verdictOf(stalled, 'convert'), 'Reading random.hex stopped making progress, so it was ended. ' +
            'Choose the file again to try again; if it lies on a removable drive or a network folder, copy it to this computer first.');
        } else if (slices === 'fail' || slices === 'short') {
          assert.equal(await verdictOf(stalled, 'convert'), 'Refused: the file could not be read. Choose it again; if it lies ' +
            'on a removable drive or a network folder, copy it to this computer first.');
        } else {
          assert.equal(await verdictOf(stalled, 'convert'), "Refused: the firmware's data do not start at address 0.");
          assert.equal(await text(stalled, '#convert-messages'), asThePageShows(expected.out));
        }
        if (slices === 'short') {
          // An upload whose first bytes read shorter than the file is unreadable, not broken.
          await choose(stalled, '#syx-file', 'blink.syx', blinkUpload);
          await verdictOf(stalled, 'check');
          assert.equal(await text(stalled, '#check-report'), 'Cannot read upload file blink.syx\n');
        }
        await stalled.browserContext().close();
        server.close();
      }
    });

    test('the page says what to do when it cannot start, and loses no file chosen while it starts', async () => {
      const { server: slow, url: slowUrl } = await servePage({ delay: (path) => (path === '/ferrolet.wasm' ? 3000 : 0) });
      const early = await open('fake', { url: slowUrl, ready: false });
      await choose(early, '#hex-file', 'blink.hex', example);
      await choose(early, '#syx-file', 'blink.syx', blinkUpload);
      assert.equal(await verdictOf(early, 'convert'), 'Converted: 3 data blocks, 555 bytes, ready to download or send.');
      assert.equal(await verdictOf(early, 'check'), 'Valid: every frame, CRC and block number is right.');
      await early.browserContext().close();
      slow.close();
      // Where the browser blocks site data, the page works and forgets the pause.
      const blocked = await open('blocked');
      assert.ok(await blocked.$eval('ferrolet-updater >>> #status', (e) => e.hidden));
      assert.ok(!(await isDisabled(blocked, '#find-ports')));
      await blocked.$eval('ferrolet-updater >>> #pause', (e) => { e.value = '30'; e.dispatchEvent(new Event('change')); });
      await choose(blocked, '#hex-file', 'blink.hex', example);
      assert.equal(await verdictOf(blocked, 'convert'), 'Converted: 3 data blocks, 555 bytes, ready to download or send.');
      await blocked.reload();
      await blocked.waitForSelector('ferrolet-updater[data-ready="yes"]');
      assert.equal(await blocked.$eval('ferrolet-updater >>> #pause', (e) => e.value), '0');
      await blocked.browserContext().close();
      // Opened from disk.
      const fromDisk = await open('fake', { url: `file://${pageDir}/index.html`, ready: false });
      await until(fromDisk, () => /bash scripts\/web\.sh/.test($('#status').textContent));
      assert.ok(await fromDisk.evaluate(() => !$('#status').hidden && $('#status').offsetHeight > 0));
      // Chromium runs no module script from a file, so only the page's own line can speak there.
      assert.match(await fromDisk.evaluate(() => $('#status').textContent.trim()), browserName === 'chrome' ? /^Loading… If this line stays/ :
        /^This page was opened from a file, and browsers do not run it from there\. Open it through a web server/);
      await fromDisk.browserContext().close();
      // Its core cannot be loaded.
      for (const broken of [null, Buffer.from('not WebAssembly')]) {
        const { server: other, url } = await servePage({ answer: (path) => (path === '/ferrolet.wasm' ? broken : undefined) });
        const page = await open('fake', { url, ready: false });
        await until(page, () => /The converter could not be loaded/.test($('#status').textContent));
        await page.browserContext().close();
        other.close();
      }
    });

    test("a maker's site: the element and a manifest, served with the site's CSP, offers exactly what the manifest names", async () => {
      const asked = [];
      const { server, url } = await servePage({ dir: site, headers: { 'content-security-policy': SITE_CSP },
        answer: (path) => void asked.push(path) });
      const events = (page) => page.evaluate(() => window.events.splice(0));
      // The first firmware converts by itself; the other is offered on choice. The page asks the
      // host for nothing it does not have (no service worker of its own on a maker's site).
      const context = await browser.createBrowserContext();
      const page = await context.newPage();
      const failed = [];
      // (The browser's own request for a favicon is the maker's page's business.)
      page.on('response', (r) => r.status() >= 400 && !r.url().endsWith('/favicon.ico') && failed.push(`${r.status()} ${r.url()}`));
      await page.evaluateOnNewDocument(`(${pageSetup})("fake")`);
      await page.goto(`${url}manifest.html`);
      await page.waitForSelector('ferrolet-updater[data-ready="yes"]');
      // The updater leaves the host page's first paint alone: it builds after it, never shown
      // without its styles, and until then an element shows what the host put inside it.
      assert.deepEqual(await page.evaluate(() => {
        const painted = performance.getEntriesByName('first-contentful-paint')[0]?.startTime;
        const fresh = document.createElement('ferrolet-updater');
        fresh.innerHTML = '<p>Loading…</p>';
        document.body.append(fresh);
        const shown = fresh.shadowRoot?.querySelector('slot')?.assignedNodes().map((n) => n.textContent);
        const held = [...(fresh.shadowRoot?.children ?? [])].map((e) => e.localName);
        fresh.remove();
        return { paintedFirst: painted < window.builtAt, styled: window.styledWhenBuilt, shown, held };
      }), { paintedFirst: true, styled: true, shown: ['Loading…'], held: ['slot'] });
      assert.equal(await verdictOf(page, 'convert'), 'Converted: 3 data blocks, 555 bytes, ready to download or send.');
      assert.equal(await text(page, '#held'), `This page holds the firmware tarvenbox-1.2.hex (SHA-256 ${sha(example)}). It is converted ` +
        'below, ready to download or send; you can still choose another file.');
      assert.equal(await text(page, '#notes'), 'Blinks twice as fast.');
      assert.deepEqual(await page.$$eval('ferrolet-updater >>> #version option', (o) => o.map((e) => e.textContent)), ['1.2', '1.1']);
      await page.click('ferrolet-updater >>> #download');
      const wanted = command(ferrolet, ['tarvenbox-1.2.hex'], { 'tarvenbox-1.2.hex': example }).file('tarvenbox-1.2.syx');
      assert.deepEqual(Buffer.from((await downloaded(page)).bytes), wanted);
      assert.deepEqual(await events(page), [{ type: 'ferrolet-ready', from: '', name: 'tarvenbox-1.2.syx', bytes: 555 }]);
      await page.$eval('ferrolet-updater >>> #version', (e) => { e.value = '1'; e.dispatchEvent(new Event('change')); });
      await until(page, () => $('#convert-verdict').textContent.startsWith('Converted: 128'));
      assert.equal(await text(page, '#notes'), 'Fills the memory.');
      assert.deepEqual(await events(page), [{ type: 'ferrolet-ready', from: '', name: 'tarvenbox-1.1.syx', bytes: 20180 }]);
      await page.click('ferrolet-updater >>> #download');
      assert.deepEqual(Buffer.from((await downloaded(page)).bytes),
        command(ferrolet, ['tarvenbox-1.1.hex'], siteFirmwares).file('tarvenbox-1.1.syx'));
      // A whole upload sent through Web MIDI is told as such.
      await page.click('ferrolet-updater >>> #find-ports');
      await until(page, () => !$('#send-button').disabled);
      await page.click('ferrolet-updater >>> #send-button');
      await until(page, () => window.events.some((e) => e.type === 'ferrolet-sent'));
      assert.deepEqual((await events(page)).filter((e) => e.type === 'ferrolet-sent'), [{ type: 'ferrolet-sent', from: '', name: 'tarvenbox-1.1.syx', bytes: 20180 }]);
      // A send cut off is not told as sent.
      await startSending(page, 1000, 3);
      await page.click('ferrolet-updater >>> #cancel-button');
      await until(page, () => $('#send-result').textContent.startsWith('Cancelled'));
      assert.deepEqual((await events(page)).filter((e) => e.type === 'ferrolet-sent'), []);
      await accessible(page, "a maker's page");
      assert.deepEqual(failed, []);
      assert.ok(!asked.includes('/sw.js'), 'a service worker asked for on a maker\'s site');
      await shot(page, 'maker-site');
      await page.browserContext().close();
      // A host that lets browsers keep the manifest for an hour: a firmware published since is
      // what the page offers all the same.
      let manifestOf = { name: 'Tarvenbox', firmwares: [{ version: '1.2', file: 'tarvenbox-1.2.hex' }] };
      const kept = await servePage({ dir: site, headers: { 'cache-control': 'max-age=3600' },
        answer: (path) => (path === '/fw/manifest.json' ? JSON.stringify(manifestOf) : undefined) });
      const returning = await open('fake', { url: `${kept.url}manifest.html` });
      assert.equal(await verdictOf(returning, 'convert'), 'Converted: 3 data blocks, 555 bytes, ready to download or send.');
      manifestOf = { name: 'Tarvenbox', firmwares: [{ version: '1.1', file: 'tarvenbox-1.1.hex' }] };
      await returning.reload();
      await returning.waitForSelector('ferrolet-updater[data-ready="yes"]');
      assert.equal(await verdictOf(returning, 'convert'), 'Converted: 128 data blocks, 20180 bytes, ready to download or send.');
      await returning.browserContext().close();
      kept.server.close();
      // A firmware whose bytes are not the manifest's, a manifest that lacks a field, and uploads
      // in the manifest: only what checks valid and matches is offered, and the host is told why not.
      const refused = [
        { page: 'wrong-sha', held: `The firmware tarvenbox-1.2.hex is not the one this page's firmware list names: its SHA-256 is ${sha(example)}, ` +
          `the list gives ${sha(blinkUpload)}. The site may be copied only in part, or the file kept from an older version, so nothing ` +
          "is offered. Reload the page; if this stays, tell the site's maker, or choose the firmware's file yourself." },
        { page: 'missing', held: 'The firmware list fw/missing.json has no "firmwares[0].file", so this page offers no firmware of its ' +
          "own. Choose the firmware's file yourself, or tell the site's maker." },
        { page: 'absent', held: 'This page holds the firmware tarvenbox-1.3.hex, but it could not be fetched: the server answered 404. ' +
          "The site may be copied only in part. Reload the page; if this stays, tell the site's maker, or choose the firmware's file yourself." },
      ];
      for (const row of refused) {
        const other = await open('fake', { url: `${url}${row.page}.html` });
        await until(other, () => $('#held').textContent !== '');
        assert.equal(await text(other, '#held'), row.held, row.page);
        assert.equal(await text(other, '#send-source'), 'convert a firmware or check an upload first.');
        assert.ok(await isDisabled(other, '#download'));
        assert.deepEqual(await events(other), [{ type: 'ferrolet-failed', from: '', message: row.held }], row.page);
        assert.deepEqual(await other.evaluate(() => window.cspViolations), [], row.page);
        await other.browserContext().close();
      }
      const uploads = await open('fake', { url: `${url}uploads.html` });
      assert.equal(await verdictOf(uploads, 'check'), 'Valid: every frame, CRC and block number is right.');
      assert.equal(await text(uploads, '#send-source'), 'blink.syx (checked, 555 bytes)');
      assert.match(await text(uploads, '#held'), /^This page holds the upload blink\.syx \(SHA-256 [0-9a-f]{64}\)\. It is checked below/);
      await uploads.$eval('ferrolet-updater >>> #version', (e) => { e.value = '1'; e.dispatchEvent(new Event('change')); });
      await until(uploads, () => $('#check-verdict').textContent.startsWith('Invalid'));
      assert.equal(await text(uploads, '#send-source'), 'convert a firmware or check an upload first.');
      assert.deepEqual(await events(uploads), [{ type: 'ferrolet-ready', from: '', name: 'blink.syx', bytes: 555 },
        { type: 'ferrolet-failed', from: '', message: 'Invalid: the upload is broken; do not send it.' }]);
      await uploads.browserContext().close();
      // Two elements on one page under a hostile stylesheet: each keeps its own state, its
      // controls stay visible, its styles stay inside, and the host themes it where it may.
      const two = await open('fake', { url: `${url}two.html` });
      await until(two, () => document.querySelector('#b').dataset.ready === 'yes');
      assert.equal(await verdictOf(two, 'convert'), 'Converted: 3 data blocks, 555 bytes, ready to download or send.');
      await (await two.$('#b >>> #hex-file')).uploadFile(join(site, 'fw', 'tarvenbox-1.1.hex'));
      await until(two, () => document.querySelector('#b').shadowRoot.querySelector('#convert-verdict').textContent !== '');
      assert.equal(await two.$eval('#b >>> #convert-verdict', (e) => e.textContent), 'Converted: 128 data blocks, 20180 bytes, ready to download or send.');
      assert.equal(await text(two, '#convert-verdict'), 'Converted: 3 data blocks, 555 bytes, ready to download or send.');
      assert.equal(await two.$eval('#b >>> #held', (e) => e.textContent), '');
      // Moved on its page, an element keeps what it shows, and its code runs once.
      await two.evaluate(() => document.querySelector('main').prepend(document.querySelector('#b')));
      assert.equal(await two.$eval('#b >>> #convert-verdict', (e) => e.textContent), 'Converted: 128 data blocks, 20180 bytes, ready to download or send.');
      assert.deepEqual(await two.evaluate(() => window.errors), []);
      for (const id of ['#a', '#b']) assert.ok(await two.$eval(`${id} >>> #find-ports`, (e) => e.offsetHeight > 0), id);
      assert.equal(await two.$eval('#host-section', (e) => getComputedStyle(e).borderTopWidth), '0px');
      assert.deepEqual(await two.$eval('#a >>> #find-ports', (e) => [getComputedStyle(e).backgroundColor, getComputedStyle(e).color]),
        ['rgb(1, 2, 3)', 'rgb(4, 5, 6)']);
      assert.equal(await two.$eval('#a >>> #convert-title', (e) => getComputedStyle(e).letterSpacing), '3px');
      assert.deepEqual(await two.evaluate(() => window.cspViolations), []);
      await shot(two, 'maker-two-elements');
      await two.browserContext().close();
      server.close();
    });

    test('after one visit the page, with a firmware inside or without, works without the network', async () => {
      const heldDir = join(root, 'build/web-firmware');
      const blinkSha = createHash('sha256').update(example).digest('hex');
      for (const dir of [pageDir, heldDir]) {
        const { server, url } = await servePage({ dir });
        // What an earlier version of the page left: a new one replaces it.
        const page = await open('fake', { url: `${url}icon.svg`, ready: false });
        await page.evaluate(() => caches.open('ferrolet-0.99-0123456789ab'));
        // The page asks for nothing that is not there, and logs no error (the icon's own page,
        // opened above, asks the browser's favicon.ico).
        const problems = [];
        const own = (where) => !where.endsWith('/favicon.ico');
        page.on('console', (m) => m.type() === 'error' && own(m.location().url || '') && problems.push(m.text()));
        page.on('response', (r) => r.status() >= 400 && own(r.url()) && problems.push(`${r.status()} ${r.url()}`));
        await page.goto(url);
        await page.waitForSelector('ferrolet-updater[data-ready="yes"]');
        await page.evaluate(() => navigator.serviceWorker.ready);
        await until(page, () => navigator.serviceWorker.controller !== null);
        assert.deepEqual(problems, []);
        const kept = await page.evaluate(() => caches.keys());
        assert.equal(kept.length, 1, kept.join(' '));
        assert.match(kept[0], /^ferrolet-1\.00-[0-9a-f]{12}$/);
        server.close();
        server.closeAllConnections();
        await page.reload();
        await page.waitForSelector('ferrolet-updater[data-ready="yes"]');
        if (dir === heldDir) {
          assert.equal(await verdictOf(page, 'convert'), 'Converted: 3 data blocks, 555 bytes, ready to download or send.');
          assert.equal(await text(page, '#held'), `This page holds the firmware blink.hex (SHA-256 ${blinkSha}), kept from ` +
            'your last visit: the network cannot be reached now, so a newer firmware may be published here since. It is ' +
            'converted below, ready to download or send; you can still choose another file.');
          await page.click('ferrolet-updater >>> #download');
          assert.deepEqual(Buffer.from((await downloaded(page)).bytes), blinkUpload);
          await shot(page, 'held-kept-offline');
        } else {
          // The plain page holds no firmware and says nothing of one.
          assert.equal(await text(page, '#held'), '');
          await choose(page, '#hex-file', 'blink.hex', example);
          assert.equal(await verdictOf(page, 'convert'), 'Converted: 3 data blocks, 555 bytes, ready to download or send.');
        }
        await page.browserContext().close();
      }
    });

    test('a firmware published anew at the same address is what a returning visitor gets; a page left open says it is out of date', async () => {
      const first = join(root, 'build/web-firmware');
      const republished = join(files, 'republished');
      // One address, its files from `published`; the new service worker's script is held back.
      let published = first;
      const { server, url } = await servePage({
        dir: first,
        answer: (path) => (published === first ? undefined : readFileSync(join(published, path))),
        delay: (path) => (path === '/sw.js' && published !== first ? 4000 : 0),
      });
      const page = await open('fake', { url });
      await page.evaluate(() => navigator.serviceWorker.ready);
      await until(page, () => navigator.serviceWorker.controller !== null);
      const leftOpen = await page.browserContext().newPage();
      await leftOpen.evaluateOnNewDocument(`(${pageSetup})("fake")`);
      await leftOpen.goto(url);
      await leftOpen.waitForSelector('ferrolet-updater[data-ready="yes"]');
      assert.equal(await verdictOf(leftOpen, 'convert'), 'Converted: 3 data blocks, 555 bytes, ready to download or send.');
      published = republished;
      await page.reload();
      await page.waitForSelector('ferrolet-updater[data-ready="yes"]');
      assert.equal(await verdictOf(page, 'convert'), 'Converted: 128 data blocks, 20180 bytes, ready to download or send.');
      assert.match(await text(page, '#held'), /^This page holds the firmware full\.hex \(SHA-256 [0-9a-f]{64}\)\. It is converted below/);
      // Once the new version's service worker has taken over, the page left open offers nothing.
      await until(leftOpen, () => !$('#status').hidden);
      assert.equal(await text(leftOpen, '#status'), 'A newer version of this page is published here (a new firmware, or a ' +
        'new release of ferrolet), so this one offers nothing more to download or send. Reload the page to use the new one.');
      assert.ok(await leftOpen.$eval('ferrolet-updater >>> #download', (e) => e.disabled));
      assert.equal(await text(leftOpen, '#convert-verdict') + await text(leftOpen, '#held'), '');
      await shot(leftOpen, 'outdated');
      assert.equal(await text(leftOpen, '#send-source'), 'convert a firmware or check an upload first.');
      assert.ok(await page.$eval('ferrolet-updater >>> #status', (e) => e.hidden));
      await page.browserContext().close();
      server.close();
    });
  });
}

test('everything the page loads weighs at most 128 KB', () => {
  const total = execFileSync('sh', ['-c', `cat ${pageDir}/* | wc -c`]).toString();
  assert.ok(Number(total) <= 128 * 1024, `${total} bytes`);
});

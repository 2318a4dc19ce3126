// The page: what happens when a file is chosen or dropped, a button pressed, a port comes or goes,
// or a newer build is published. Handlers change the state (web/state.js) and call the one render
// (web/view.js); every rule, limit and program message is the core's, asked of its worker
// (web/core.js); the page's own sentences are in web/words.js. Sending is web/midi.js's.
import { startCore } from './core.js';
import { INTERRUPTED_KEY, midiHandlers, PAUSE_KEY, sha256Of } from './midi.js';
import { canSend, choose, current, downloadOf, guardedStorage, newState, withinPauseLimits } from './state.js';
import { findElements, render } from './view.js';
import * as say from './words.js';

/** @typedef {import('./state.js').BoxName} BoxName */

const el = findElements(document);
const state = newState();
// The files in the pickers, as they were chosen or dropped.
const files = { hex: /** @type {File | null} */ (null), upload: /** @type {File | null} */ (null), firmware: /** @type {File | null} */ (null) };
// Where the browser blocks site data, the page works all the same and forgets the pause.
const storage = guardedStorage(() => localStorage);
const core = startCore();
const show = () => render(state, el);
const midi = midiHandlers({ state, core, show, storage });
const limits = () => /** @type {import('./state.js').Limits} */ (state.limits);

// What the build wrote into the page: which build it is, and where its firmware is named if it
// holds one.
/** @param {string} name */
const meta = (name) => /** @type {HTMLMetaElement | null} */ (document.querySelector(`meta[name="${name}"]`))?.content || '';
const BUILD = meta('ferrolet-build');
const HELD_MANIFEST = meta('ferrolet-firmware');

/**
 * Runs `request` for the choice `stamp` of `box`, which shows how far `reading` has come and
 * offers Stop meanwhile. Keeps and returns the answer if the choice is still the box's latest;
 * otherwise, or if it failed (which the box or the status line then says), null.
 * @template {import('./state.js').Converted | import('./state.js').Checked} A
 * @param {BoxName} box @param {number} stamp @param {{ name: string, size: number }} reading
 * @param {(options: import('./core.js').Options) => Promise<A>} request
 * @returns {Promise<A | null>}
 */
async function askFor(box, stamp, reading, request) {
  const b = state[box];
  Object.assign(b, { busy: true, reading: { name: reading.name, size: reading.size, read: -1 } });
  show();
  const progress = (/** @type {number} */ read) => {
    if (current(state, box, stamp)) b.reading.read = read;
    show();
  };
  try {
    const answer = await request({ owner: box, progress });
    if (!current(state, box, stamp)) return null;
    b.answer = /** @type {any} */ (answer);
    return answer;
  } catch (error) {
    const { failure, detail } = /** @type {import('./core.js').Failure} */ (error);
    if (!current(state, box, stamp)) return null;
    if (failure === 'stopped') b.ended = say.readingStopped(b.reading.name);
    else if (failure === 'stalled') b.ended = say.readingStalled(detail);
    else state.failure = failure === 'load' ? say.FAILURES.load : say.FAILURES.crash(detail);
    return null;
  } finally {
    if (current(state, box, stamp)) b.busy = false;
    show();
  }
}

/**
 * Converts `file`; `held` names the firmware the page holds when that is what it is, converted
 * for the choice `stamp` made when its fetch began.
 * @param {File} file @param {import('./state.js').Held | null} held @param {number} stamp
 */
async function convertFile(file, held = null, stamp = 0) {
  if (!state.limits || (stamp && !current(state, 'convert', stamp))) return; // a file chosen meanwhile is converted instead
  core.stop('convert');
  stamp = stamp || choose(state, 'convert', file.name);
  Object.assign(state.convert, { name: file.name, held });
  const answer = await askFor('convert', stamp, file, (options) => core.ask.convert({ file }, options));
  if (!answer) return;
  state.heldMissing = false;
  state.focus = downloadOf(state) ? 'download' : 'hexFile';
  show();
}

async function checkFiles() {
  if (!state.limits) return; // kept in its picker, and checked once the core has answered
  core.stop('check');
  const { upload, firmware } = files;
  const stamp = choose(state, 'check', upload ? upload.name : '');
  if (!upload) return show();
  const answer = await askFor('check', stamp, firmware || upload, (options) => core.ask.check({ upload, firmware }, options));
  if (!answer) return;
  state.focus = canSend(state) ? 'sendButton' : 'syxFile';
  show();
}

function downloadUpload() {
  const download = downloadOf(state);
  if (!download) return;
  const url = URL.createObjectURL(new Blob([download.bytes], { type: 'application/octet-stream' }));
  const link = document.createElement('a');
  link.href = url;
  link.download = download.name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(url), 1000);
}

/** Puts `file` (or none) in the picker `input`, as if it had been chosen there. @param {HTMLInputElement} input @param {File | null} file */
function putInPicker(input, file) {
  const list = new DataTransfer();
  if (file) list.items.add(file);
  input.files = list.files;
}

/** Files dropped on `box`: on Check, the upload and, optionally, its firmware. @param {BoxName} box @param {File[]} dropped */
function drop(box, dropped) {
  state.dragging = '';
  show();
  if (dropped.length === 0) return;
  if (box === 'convert') {
    // Kept in the picker, as a chosen file is, so that a drop before the core answers is not lost.
    files.hex = dropped[0];
    putInPicker(el.hexFile, files.hex);
    convertFile(files.hex);
    return;
  }
  files.upload = dropped.find((f) => f.name.toLowerCase().endsWith('.syx')) || dropped[0];
  files.firmware = dropped.find((f) => f !== files.upload) || null;
  putInPicker(el.syxFile, files.upload);
  putInPicker(el.checkHexFile, files.firmware);
  checkFiles();
}

function changePause() {
  if (!state.limits) return;
  state.pause = String(withinPauseLimits(el.pause.value, limits().pause_max_ms));
  storage.set(PAUSE_KEY, state.pause);
  show();
}

/** @param {BoxName} box @param {HTMLElement} section */
function acceptDrops(box, section) {
  section.addEventListener('dragover', (e) => {
    e.preventDefault();
    if (state.dragging === box) return;
    state.dragging = box;
    show();
  });
  section.addEventListener('dragleave', () => {
    state.dragging = '';
    show();
  });
  section.addEventListener('drop', (e) => {
    e.preventDefault();
    drop(box, [...(e.dataTransfer?.files ?? [])]);
  });
}

// Every handler, wired once.
function wire() {
  el.hexFile.addEventListener('change', () => {
    files.hex = el.hexFile.files?.[0] ?? null;
    if (files.hex) convertFile(files.hex);
  });
  const pickUpload = () => {
    files.upload = el.syxFile.files?.[0] ?? null;
    files.firmware = el.checkHexFile.files?.[0] ?? null;
    checkFiles();
  };
  el.syxFile.addEventListener('change', pickUpload);
  el.checkHexFile.addEventListener('change', pickUpload);
  el.convert.stop.addEventListener('click', () => core.stop('convert'));
  el.check.stop.addEventListener('click', () => core.stop('check'));
  el.download.addEventListener('click', downloadUpload);
  acceptDrops('convert', el.convert.section);
  acceptDrops('check', el.check.section);
  el.pause.addEventListener('input', () => {
    state.pause = el.pause.value;
  });
  el.pause.addEventListener('change', changePause);
  el.findPorts.addEventListener('click', midi.startMidi);
  el.port.addEventListener('change', () => {
    state.midi.output = el.port.value;
    show();
  });
  el.inputPort.addEventListener('change', () => {
    state.midi.input = el.inputPort.value;
    show();
  });
  el.sendButton.addEventListener('click', midi.send);
  el.testButton.addEventListener('click', midi.testInterface);
  el.copyReport.addEventListener('click', midi.copyReport);
  el.cancelButton.addEventListener('click', midi.cancel);
  // A send cut off by closing or reloading the page leaves the device with part of an upload.
  addEventListener('beforeunload', (event) => {
    if (state.sending) event.preventDefault();
  });
}

// For the page's own tests and benchmarks: the calls the page makes, on bytes and names.
/** @type {any} */ (window).ferrolet = {
  /** @param {string} name @param {Uint8Array<ArrayBuffer>} bytes */
  convert: (name, bytes) => core.ask.convert({ file: new File([bytes], name) }),
  /** @param {Uint8Array<ArrayBuffer>} bytes @param {string} _name @param {number} pauseMs */
  plan: (bytes, _name, pauseMs) => core.ask.plan({ upload: bytes, pause_ms: pauseMs }),
};

// A page published with a firmware inside converts it at once (its manifest names it), unless a
// file is chosen meanwhile. Both are asked of the server again, never taken as the browser kept
// them; the service worker answers from its cache only when the network cannot, and says so.
async function convertHeldFirmware() {
  const stamp = choose(state, 'convert', '');
  try {
    const named = await fetch(HELD_MANIFEST, { cache: 'no-cache' });
    const { name } = await named.json();
    const got = await fetch(`firmware/${encodeURIComponent(name)}`, { cache: 'no-cache' });
    if (!named.ok || !got.ok) throw new Error(`${got.status}`);
    const kept = [named, got].some((r) => r.headers.get('Ferrolet-Kept') === 'yes');
    const bytes = new Uint8Array(await got.arrayBuffer());
    convertFile(new File([bytes], name), { name, sha256: await sha256Of(bytes), kept }, stamp);
  } catch {
    state.heldMissing = true;
    show();
  }
}

// A newer build that takes this page over (after a visit in another tab, or the check when the
// page is shown again) says which build it is; one other than this page's means that this page
// is out of date: from then on it offers nothing and says so.
/** @param {ServiceWorkerRegistration} registration */
function watchForNewVersion(registration) {
  const sw = navigator.serviceWorker;
  sw.addEventListener('controllerchange', () => sw.controller && sw.controller.postMessage('build'));
  sw.addEventListener('message', ({ data }) => {
    if (!BUILD || !data || !data.build || data.build === BUILD || state.outdated) return;
    state.outdated = true;
    show();
  });
  document.addEventListener('visibilitychange', () => {
    if (document.visibilityState === 'visible') registration.update().catch(() => {});
  });
}

async function main() {
  if (location.protocol === 'file:') {
    state.failure = say.FAILURES.file;
    return show();
  }
  wire();
  try {
    state.limits = await core.ask.limits({});
  } catch {
    state.failure = say.FAILURES.load;
    return show();
  }
  state.userAgent = navigator.userAgent;
  state.pause = String(withinPauseLimits(storage.get(PAUSE_KEY), limits().pause_max_ms));
  if (!navigator.requestMIDIAccess) state.midi.denied = 'missing';
  state.send.result = storage.get(INTERRUPTED_KEY) || '';
  storage.remove(INTERRUPTED_KEY);
  show();
  // Files chosen while the core was loading (or kept by the browser) are handled now; a held
  // firmware only if none was.
  files.hex ??= el.hexFile.files?.[0] ?? null;
  files.upload ??= el.syxFile.files?.[0] ?? null;
  files.firmware ??= el.checkHexFile.files?.[0] ?? null;
  if (files.hex) convertFile(files.hex);
  else if (HELD_MANIFEST) convertHeldFirmware();
  if (files.upload) checkFiles();
  if ('serviceWorker' in navigator) navigator.serviceWorker.register('sw.js').then(watchForNewVersion, () => {});
  performance.mark('ferrolet-ready');
  document.body.dataset.ready = 'yes';
}

main();

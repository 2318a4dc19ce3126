// The updater in one element: what happens when a file is chosen or dropped, a button pressed, a
// port comes or goes, a manifest's firmware is fetched or a newer build is published. Handlers
// change the element's state (web/state.js) and call the one render (web/view.js); every rule,
// limit and program message is the core's, asked of the element's own worker (web/core.js); the
// page's own sentences are in web/words.js. Sending is web/midi.js's.
import { startCore } from './core.js';
import { fileName, firstOffered, isUpload, matches, readManifest } from './manifest.js';
import { INTERRUPTED_KEY, midiHandlers, PAUSE_KEY, sha256Of } from './midi.js';
import { canSend, choose, current, downloadOf, guardedStorage, newState, offerOf, withinPauseLimits } from './state.js';
import { findElements, render, shownFailures } from './view.js';
import * as say from './words.js';

/** @typedef {import('./state.js').BoxName} BoxName */

// What the build wrote into the project's own pages: which build they are (a page of another
// site has none, and no service worker of ours).
/** @param {string} name */
const meta = (name) => /** @type {HTMLMetaElement | null} */ (document.querySelector(`meta[name="${name}"]`))?.content || '';

/**
 * Mounts the updater in `root`, the shadow root of the element `host`; `manifest` is the address
 * of the firmware list it offers from, if it has one.
 * @param {HTMLElement} host @param {ShadowRoot} root @param {{ manifest: string }} options
 */
export function mountUpdater(host, root, { manifest }) {
  const el = findElements(root);
  const state = newState();
  // The files in the pickers, as they were chosen or dropped.
  const files = { hex: /** @type {File | null} */ (null), upload: /** @type {File | null} */ (null), firmware: /** @type {File | null} */ (null) };
  // Where the browser blocks site data, the updater works all the same and forgets the pause.
  const storage = guardedStorage(() => localStorage);
  const core = startCore();
  const limits = () => /** @type {import('./state.js').Limits} */ (state.limits);
  /** @param {string} type @param {object} detail */
  const emit = (type, detail) => host.dispatchEvent(new CustomEvent(type, { bubbles: true, composed: true, detail }));
  // What the host page has been told: the offer it heard of last, and each failure it was told.
  const told = { offer: 0, failures: new Map() };
  const show = () => {
    render(state, el);
    const offer = offerOf(state);
    if (offer && offer.stamp !== told.offer) emit('ferrolet-ready', { name: offer.name, bytes: offer.bytes.length });
    told.offer = offer ? offer.stamp : 0;
    for (const [where, message] of shownFailures(state)) {
      if (message && told.failures.get(where) !== message) emit('ferrolet-failed', { message });
      told.failures.set(where, message);
    }
  };
  const midi = midiHandlers({ state, core, show, storage, emit });

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
      else if (failure === 'stalled') Object.assign(b, { ended: say.readingStalled(detail), failed: true });
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
    if (!state.limits) return; // kept in its picker, and converted once the core has answered
    core.stop('convert');
    stamp = stamp || choose(state, 'convert', file.name);
    Object.assign(state.convert, { name: file.name, held });
    const answer = await askFor('convert', stamp, file, (options) => core.ask.convert({ file }, options));
    if (!answer) return;
    state.focus = downloadOf(state) ? 'download' : 'hexFile';
    show();
  }

  /** Checks the upload in the pickers, or `held` (an upload the page holds) for the choice `stamp`. */
  async function checkFiles(held = /** @type {{ file: File, about: import('./state.js').Held } | null} */ (null), stamp = 0) {
    if (!state.limits) return; // kept in its picker, and checked once the core has answered
    core.stop('check');
    const upload = held ? held.file : files.upload;
    const firmware = held ? null : files.firmware;
    stamp = stamp || choose(state, 'check', upload ? upload.name : '');
    Object.assign(state.check, { name: upload ? upload.name : '', held: held && held.about });
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
    el.version.addEventListener('change', () => offerFirmware(Number(el.version.value)));
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

  /** Fetches `url` as the host has it now, never as the browser kept it; the service worker marks what it kept. @param {string | URL} url */
  const fetchCurrent = (url) => fetch(url, { cache: 'no-cache' });
  const kept = (/** @type {Response} */ response) => response.headers.get('Ferrolet-Kept') === 'yes';

  /** Reads and checks the firmware list the element offers from: what is wrong with it, if anything. */
  async function readFirmwareList() {
    const url = new URL(manifest, document.baseURI);
    const unreadable = Symbol('no JSON');
    let json;
    try {
      const got = await fetchCurrent(url);
      if (!got.ok) return say.manifestUnusable(manifest, got.status);
      state.manifest.kept = kept(got);
      json = await got.json().catch(() => unreadable);
    } catch {
      return say.manifestUnusable(manifest, 'network');
    }
    if (json === unreadable) return say.manifestUnusable(manifest, 'json');
    const read = readManifest(json);
    if ('problem' in read) return say.manifestUnusable(manifest, read.problem);
    Object.assign(state.manifest, { name: read.name, firmwares: read.firmwares, url: url.href });
    return '';
  }

  // Offers the manifest's firmware `chosen`: fetched as published now, its SHA-256 compared with
  // the one the manifest gives, then converted (a HEX file) or checked (an upload), unless a file
  // is chosen meanwhile. Nothing is offered of a file that is not the one the manifest names.
  /** @param {number} chosen */
  async function offerFirmware(chosen) {
    const entry = state.manifest.firmwares[chosen];
    const upload = isUpload(entry.file);
    const box = upload ? 'check' : 'convert';
    const name = fileName(entry.file);
    // What the box still reads for an earlier choice is of no use now.
    core.stop(box);
    const stamp = choose(state, box, name);
    Object.assign(state.manifest, { chosen, trouble: '' });
    show();
    let bytes;
    /** @type {number | 'network'} */
    let why = 'network';
    try {
      const got = await fetchCurrent(new URL(entry.file, state.manifest.url));
      if (got.ok) {
        bytes = new Uint8Array(await got.arrayBuffer());
        state.manifest.kept ||= kept(got);
      } else {
        why = got.status;
      }
    } catch {
      why = 'network';
    }
    if (!bytes) {
      if (current(state, box, stamp)) state.manifest.trouble = say.heldMissing(name, why);
      return show();
    }
    const sha256 = await sha256Of(bytes);
    // A file chosen meanwhile is what the box takes instead.
    if (!current(state, box, stamp)) return;
    if (!matches(entry, sha256)) {
      state.manifest.trouble = say.heldMismatch(name, entry.sha256, sha256);
      return show();
    }
    const about = { name, sha256, kept: state.manifest.kept, upload };
    if (upload) checkFiles({ file: new File([bytes], name), about }, stamp);
    else convertFile(new File([bytes], name), about, stamp);
  }

  // A newer build that takes this page over (after a visit in another tab, or the check when the
  // page is shown again) says which build it is; one other than this page's means that this page
  // is out of date: from then on it offers nothing and says so.
  /** @param {string} build @param {ServiceWorkerRegistration} registration */
  function watchForNewVersion(build, registration) {
    const sw = navigator.serviceWorker;
    sw.addEventListener('controllerchange', () => sw.controller && sw.controller.postMessage('build'));
    sw.addEventListener('message', ({ data }) => {
      if (!data || !data.build || data.build === build || state.outdated) return;
      state.outdated = true;
      show();
    });
    document.addEventListener('visibilitychange', () => {
      if (document.visibilityState === 'visible') registration.update().catch(() => {});
    });
  }

  async function start() {
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
    // Files chosen while the core was loading (or kept by the browser) are handled now; a
    // manifest's firmware only where none was.
    files.hex ??= el.hexFile.files?.[0] ?? null;
    files.upload ??= el.syxFile.files?.[0] ?? null;
    files.firmware ??= el.checkHexFile.files?.[0] ?? null;
    if (files.hex) convertFile(files.hex);
    if (files.upload) checkFiles();
    if (manifest) {
      state.manifest.trouble = await readFirmwareList();
      show();
      const first = firstOffered(state.manifest.firmwares, files);
      if (first >= 0) offerFirmware(first);
    }
    const build = meta('ferrolet-build');
    if (build && 'serviceWorker' in navigator) {
      navigator.serviceWorker.register('sw.js').then((registration) => watchForNewVersion(build, registration), () => {});
    }
    // For the page's own tests and benchmarks: the calls the element makes, on bytes and names.
    /** @type {any} */ (window).ferrolet ??= {
      /** @param {string} name @param {Uint8Array<ArrayBuffer>} bytes */
      convert: (name, bytes) => core.ask.convert({ file: new File([bytes], name) }),
      /** @param {Uint8Array<ArrayBuffer>} bytes @param {string} _name @param {number} pauseMs */
      plan: (bytes, _name, pauseMs) => core.ask.plan({ upload: bytes, pause_ms: pauseMs }),
    };
    performance.mark('ferrolet-ready');
    host.dataset.ready = 'yes';
  }

  start();
}

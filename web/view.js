// The page's view: its elements, looked up once, and the one render that shows the state in them.
// Nothing is read back from the page; what a box shows follows from its state alone.
import * as say from './words.js';
import { canCopyReport, canSend, canTest, chosenPort, downloadOf, offerOf } from './state.js';

/** @typedef {import('./state.js').State} State */

/**
 * The element `id` of `root`, which must be a `kind`.
 * @template {HTMLElement} T
 * @param {Document | ShadowRoot} root @param {string} id @param {{ new (): T }} kind
 * @returns {T}
 */
function find(root, id, kind) {
  const found = root.getElementById(id);
  if (!(found instanceof kind)) throw new Error(`the page has no ${kind.name} #${id}`);
  return found;
}

/** @param {Document | ShadowRoot} root @param {'convert' | 'check'} box */
const boxOf = (root, box) => ({
  section: find(root, box, HTMLElement),
  reading: find(root, `${box}-reading`, HTMLElement),
  stop: find(root, `${box}-stop`, HTMLButtonElement),
  verdict: find(root, `${box}-verdict`, HTMLElement),
  hint: find(root, `${box}-hint`, HTMLElement),
});

/** @param {Document | ShadowRoot} root */
export function findElements(root) {
  return {
    status: find(root, 'status', HTMLElement),
    convert: boxOf(root, 'convert'),
    check: boxOf(root, 'check'),
    held: find(root, 'held', HTMLElement),
    versions: find(root, 'versions', HTMLElement),
    version: find(root, 'version', HTMLSelectElement),
    notes: find(root, 'notes', HTMLElement),
    hexFile: find(root, 'hex-file', HTMLInputElement),
    messages: find(root, 'convert-messages', HTMLElement),
    map: find(root, 'convert-map', HTMLElement),
    download: find(root, 'download', HTMLButtonElement),
    syxFile: find(root, 'syx-file', HTMLInputElement),
    checkHexFile: find(root, 'check-hex-file', HTMLInputElement),
    report: find(root, 'check-report', HTMLElement),
    midiStatus: find(root, 'midi-status', HTMLElement),
    sendSource: find(root, 'send-source', HTMLElement),
    findPorts: find(root, 'find-ports', HTMLButtonElement),
    port: find(root, 'port', HTMLSelectElement),
    pauseLabel: find(root, 'pause-label', HTMLElement),
    pause: find(root, 'pause', HTMLInputElement),
    sendButton: find(root, 'send-button', HTMLButtonElement),
    cancelButton: find(root, 'cancel-button', HTMLButtonElement),
    progress: find(root, 'progress', HTMLProgressElement),
    progressText: find(root, 'progress-text', HTMLElement),
    sendResult: find(root, 'send-result', HTMLElement),
    sendDetail: find(root, 'send-detail', HTMLElement),
    inputPort: find(root, 'input-port', HTMLSelectElement),
    testButton: find(root, 'test-button', HTMLButtonElement),
    copyReport: find(root, 'copy-report', HTMLButtonElement),
    testStatus: find(root, 'test-status', HTMLElement),
    testReport: find(root, 'test-report', HTMLElement),
    pageReport: find(root, 'page-report', HTMLElement),
  };
}
/** @typedef {ReturnType<typeof findElements>} Elements */

/** Sets `text` where it differs, so that a render that changes nothing moves nothing. @param {HTMLElement} e @param {string} text */
function put(e, text) {
  if (e.textContent !== text) e.textContent = text;
}

// The options a select was last given, so that it is filled anew only when they change.
const filled = new WeakMap();
/** @param {HTMLSelectElement} select @param {import('./state.js').Port[]} ports @param {string} chosen */
function fillOptions(select, ports, chosen) {
  const key = JSON.stringify(ports);
  if (filled.get(select) !== key) {
    select.replaceChildren(...ports.map((p) => new Option(p.name, p.id)));
    filled.set(select, key);
  }
  select.value = chosen;
  select.disabled = ports.length === 0;
}

/** What a box shows while it reads and once it has answered. @param {State} state @param {'convert' | 'check'} name @param {Elements['convert']} e */
function showBox(state, name, e) {
  const box = state[name];
  const { reading } = box;
  put(e.reading, box.busy && reading.read >= 0 ? say.reading(reading.name, reading.read, reading.size) : '');
  e.stop.hidden = !box.busy;
  e.section.classList.toggle('dragging', state.dragging === name);
  const answer = state.outdated ? null : box.answer;
  const limits = /** @type {import('./state.js').Limits} */ (state.limits);
  const verdict = state.outdated ? '' : box.ended || (answer === null ? '' : name === 'convert'
    ? say.convertVerdict(/** @type {any} */ (answer), limits) : say.checkVerdict(/** @type {any} */ (answer)));
  put(e.verdict, verdict);
  const good = answer !== null && (answer.outcome === 'converted' || answer.outcome === 'valid');
  e.verdict.className = box.ended || answer === null ? 'verdict' : `verdict ${good ? 'good' : 'bad'}`;
  return answer;
}

/** What the page says of the firmware it holds: what went wrong with it, or what it is. @param {State} state */
function heldLine(state) {
  if (state.outdated) return '';
  if (state.manifest.trouble) return state.manifest.trouble;
  const { convert, check } = state;
  const box = convert.held && convert.answer ? convert : check.held && check.answer ? check : null;
  return box && box.held ? say.held(box.held) : '';
}

/**
 * Each failure the element shows, by where it shows: what refused a file, a read that stalled,
 * what went wrong with the held firmware, with the core, or with a send or a test; empty where
 * there is none. The host page is told of each as it appears.
 * @param {State} state
 * @returns {[string, string][]}
 */
export function shownFailures(state) {
  const box = (/** @type {'convert' | 'check'} */ name) => {
    const b = state[name];
    if (b.failed) return b.ended;
    const a = b.answer;
    if (!a || state.outdated) return '';
    if (name === 'check') return a.outcome === 'valid' ? '' : say.checkVerdict(/** @type {any} */ (a));
    return a.outcome === 'converted' ? '' : say.convertVerdict(/** @type {any} */ (a), /** @type {any} */ (state.limits));
  };
  return [
    ['status', state.failure], ['convert', box('convert')], ['check', box('check')], ['held', state.manifest.trouble],
    ['send', state.send.failed ? state.send.result : ''], ['test', state.test.failed ? state.test.status : ''],
  ];
}

/** @param {State} state @param {Elements} el */
function showConvert(state, el) {
  const box = state.convert;
  const answer = /** @type {State['convert']['answer']} */ (showBox(state, 'convert', el.convert));
  put(el.convert.hint, answer ? say.convertHint(answer, box.name) : '');
  put(el.messages, answer ? say.convertMessages(answer) : '');
  put(el.map, answer ? answer.map : '');
  put(el.held, heldLine(state));
  const { firmwares, chosen } = state.manifest;
  el.versions.hidden = firmwares.length < 2;
  fillOptions(el.version, firmwares.map((f, i) => ({ id: String(i), name: f.version })), String(chosen));
  put(el.notes, state.outdated ? '' : firmwares[chosen]?.notes ?? '');
  const download = downloadOf(state);
  el.download.disabled = download === null;
  put(el.download, download ? say.downloadLabel(download.name) : say.DOWNLOAD_NOTHING);
}

/** @param {State} state @param {Elements} el */
function showCheck(state, el) {
  const answer = /** @type {State['check']['answer']} */ (showBox(state, 'check', el.check));
  put(el.check.hint, answer ? say.checkHint(answer, state.check.name) : '');
  put(el.report, answer ? answer.report : '');
}

/** @param {State} state @param {Elements} el */
function showSend(state, el) {
  const { midi, sending } = state;
  const limits = /** @type {import('./state.js').Limits} */ (state.limits);
  const denied = { missing: say.midiMissing, refused: say.midiRefused, '': () => '' }[midi.denied](state.userAgent);
  put(el.midiStatus, denied || (midi.access ? (midi.ports.outputs.length ? say.MIDI_READY : say.MIDI_NO_PORT) : ''));
  const offer = offerOf(state);
  put(el.sendSource, sending ? say.offer({ ...sending, how: 'being sent' }) : offer ? say.offer(offer) : say.NOTHING_TO_SEND);
  el.findPorts.disabled = false;
  fillOptions(el.port, midi.ports.outputs, chosenPort(midi.ports.outputs, midi.output));
  fillOptions(el.inputPort, midi.ports.inputs, chosenPort(midi.ports.inputs, midi.input));
  put(el.pauseLabel, say.pauseLabel(limits.pause_max_ms));
  el.pause.min = '0';
  el.pause.max = String(limits.pause_max_ms);
  if (el.pause.value !== state.pause) el.pause.value = state.pause;
  el.sendButton.disabled = !canSend(state);
  el.cancelButton.disabled = sending === null;
  const { shown } = state.send;
  el.progress.max = shown ? shown.plan.blocks : 1;
  el.progress.value = shown ? say.handed(shown.plan, shown.last) : 0;
  put(el.progressText, shown && shown.last >= 0 ? say.progress(shown.plan, shown.last) : '');
  put(el.sendResult, state.send.result);
  put(el.sendDetail, state.send.detail);
  el.testButton.disabled = !canTest(state);
  el.copyReport.hidden = !canCopyReport(state);
  put(el.testStatus, state.test.status);
  put(el.testReport, state.test.reports.join(''));
  put(el.pageReport, state.pageReport);
}

/** Shows `state` in the page's elements `el`, then moves the focus where it was asked for. @param {State} state @param {Elements} el */
export function render(state, el) {
  // Until the core has answered, the page's own line (which also speaks where no script runs) stays.
  const status = state.failure || (state.outdated ? say.OUTDATED : '');
  if (status) put(el.status, status);
  el.status.hidden = !status && state.limits !== null;
  if (!state.limits) return;
  const limits = state.limits;
  el.hexFile.accept = limits.firmware_types;
  el.checkHexFile.accept = limits.firmware_types;
  el.syxFile.accept = limits.upload_types;
  showConvert(state, el);
  showCheck(state, el);
  showSend(state, el);
  if (state.focus) {
    /** @type {Record<string, HTMLElement>} */ (/** @type {unknown} */ (el))[state.focus]?.focus();
    state.focus = '';
  }
}

// The page: choosing files, showing what the core says, downloading, and pacing the messages the
// core plans through Web MIDI. Every rule (reading, deciding, encoding, checking, planning), every
// limit and every sentence shown is the core's, compiled to WebAssembly and run in a worker; the
// only sentences here are for when the core itself cannot speak.
import { startCore } from './core.js';
import { handOver, linger, newTransmission, stopTransmission } from './sending.js';

/** @typedef {import('./boundary.js').Answers} Answers */
/** @typedef {{ bytes: Uint8Array<ArrayBuffer>, name: string, text: string }} Offer */
/** @typedef {ReturnType<typeof newTransmission>} Transmission */
/** @typedef {{ output: string, input: string, name: string, bytes: Uint8Array<ArrayBuffer>, pause: number, outcome: string, test: string }} Run */

const PAUSE_KEY = 'ferrolet.extraPauseMs';
const INTERRUPTED_KEY = 'ferrolet.interruptedSend';

const FAILURES = {
  file: 'This page was opened from a file, and browsers do not run it from there. Open it through ' +
    'a web server instead: run bash scripts/web.sh and visit http://127.0.0.1:8000, or copy the ' +
    "page's files to any static web host.",
  load: 'The converter could not be loaded, so this page cannot convert, check or send. Reload ' +
    'the page; if that does not help, the page is incomplete on this server (its ferrolet.wasm ' +
    'must be served too, as application/wasm).',
  crash: 'The converter stopped with an error, so this file was not handled. Reload the page and ' +
    'try again. The error: ',
};

/**
 * The element `id`, which must be a `kind`.
 * @template {HTMLElement} T
 * @param {string} id
 * @param {{ new (): T }} kind
 * @returns {T}
 */
function find(id, kind) {
  const found = document.getElementById(id);
  if (!(found instanceof kind)) throw new Error(`the page has no ${kind.name} #${id}`);
  return found;
}

/** @param {'convert' | 'check'} box */
const boxOf = (box) => ({
  reading: find(`${box}-reading`, HTMLElement),
  stop: find(`${box}-stop`, HTMLButtonElement),
  verdict: find(`${box}-verdict`, HTMLElement),
  hint: find(`${box}-hint`, HTMLElement),
});

// The page's elements, looked up once.
const el = {
  status: find('status', HTMLElement),
  boxes: { convert: boxOf('convert'), check: boxOf('check') },
  convert: find('convert', HTMLElement),
  check: find('check', HTMLElement),
  held: find('held', HTMLElement),
  hexFile: find('hex-file', HTMLInputElement),
  messages: find('convert-messages', HTMLElement),
  map: find('convert-map', HTMLElement),
  download: find('download', HTMLButtonElement),
  syxFile: find('syx-file', HTMLInputElement),
  checkHexFile: find('check-hex-file', HTMLInputElement),
  report: find('check-report', HTMLElement),
  midiStatus: find('midi-status', HTMLElement),
  sendSource: find('send-source', HTMLElement),
  findPorts: find('find-ports', HTMLButtonElement),
  port: find('port', HTMLSelectElement),
  pauseLabel: find('pause-label', HTMLElement),
  pause: find('pause', HTMLInputElement),
  sendButton: find('send-button', HTMLButtonElement),
  cancelButton: find('cancel-button', HTMLButtonElement),
  progress: find('progress', HTMLProgressElement),
  progressText: find('progress-text', HTMLElement),
  sendResult: find('send-result', HTMLElement),
  sendDetail: find('send-detail', HTMLElement),
  inputPort: find('input-port', HTMLSelectElement),
  testButton: find('test-button', HTMLButtonElement),
  copyReport: find('copy-report', HTMLButtonElement),
  testStatus: find('test-status', HTMLElement),
  testReport: find('test-report', HTMLElement),
  pageReport: find('page-report', HTMLElement),
};

// The page's one mutable state.
const state = {
  /** @type {Answers['page'] | null} the page's texts and limits, once the core has answered */
  page: null,
  /** @type {MIDIAccess | null} */
  midi: null,
  /** @type {{ box: 'convert' | 'check', stopped: string } | null} the request whose box shows progress */
  reading: null,
  /** @type {Offer | null} what Send would send: the upload of the latest choice, if that gave one */
  offer: null,
  // A choice in either box withdraws the offer at once; only the latest choice may make a new one.
  latestChoice: 0,
  /** @type {{ bytes: Uint8Array<ArrayBuffer>, name: string } | null} */
  download: null,
  /** @type {Transmission | null} */
  sending: null,
  // Set from the moment Send is pressed until its plan is there.
  planning: false,
  /** @type {Run | null} the last send or test, for its report */
  lastRun: null,
  // Set once a newer version of the page is published and installed: it then offers nothing.
  outdated: false,
};

// What the build wrote into the page: which build it is, and where its firmware is named if it
// holds one.
const meta = (name) => /** @type {HTMLMetaElement | null} */ (document.querySelector(`meta[name="${name}"]`))?.content || '';
const BUILD = meta('ferrolet-build');
const HELD_MANIFEST = meta('ferrolet-firmware');

const core = startCore((progress, stopped) => {
  if (!state.reading) return;
  state.reading.stopped = stopped;
  el.boxes[state.reading.box].reading.textContent = progress;
});

function showFailure(text) {
  el.status.textContent = text;
  el.status.hidden = false;
}

/**
 * Runs a core request for `box`, showing progress and offering Stop while it runs. Resolves to
 * the result, or to null when it was stopped or the core failed (which it then says).
 * @template {'convert' | 'check'} A
 * @param {A} action
 * @param {...any} args
 * @returns {Promise<Answers[A] | null>}
 */
async function requestFor(action, ...args) {
  const box = el.boxes[action];
  const mine = { box: action, stopped: '' };
  state.reading = mine;
  box.stop.hidden = false;
  try {
    return await core.request(action, ...args);
  } catch ({ failure, detail }) {
    if (failure === 'stopped') box.verdict.textContent = mine.stopped;
    else if (failure === 'stalled') box.verdict.textContent = detail;
    else showFailure(failure === 'load' ? FAILURES.load : FAILURES.crash + detail);
    return null;
  } finally {
    if (state.reading === mine) state.reading = null;
    box.stop.hidden = true;
    box.reading.textContent = '';
  }
}

/** @param {'convert' | 'check'} name @param {{ verdict: string, good: boolean, hint: string }} result */
function showVerdict(name, result) {
  const box = el.boxes[name];
  box.verdict.textContent = result.verdict;
  box.verdict.className = 'verdict ' + (result.good ? 'good' : 'bad');
  box.hint.textContent = result.hint;
}

/** @param {'convert' | 'check'} name */
function clearBox(name, ...more) {
  const box = el.boxes[name];
  for (const shown of [box.verdict, box.hint, ...more]) shown.textContent = '';
}

// The Send box: what it would send, and which of its buttons can be pressed.
function renderSend() {
  if (!state.page) return;
  const { midi, offer, sending, planning } = state;
  el.sendSource.textContent = sending ? sending.steps.sending : offer ? offer.text : state.page.nothing_to_send;
  const idle = midi && !planning && sending === null && el.port.options.length > 0;
  el.sendButton.disabled = !idle || !offer || state.outdated;
  el.testButton.disabled = !idle || el.inputPort.options.length === 0;
}

function withdraw() {
  state.offer = null;
  renderSend();
  return ++state.latestChoice;
}

const downloadLabel = el.download.textContent;

/** @param {Answers['convert'] | null} result */
function showDownload(result) {
  const good = result && result.upload.length > 0 && !state.outdated;
  state.download = good ? { bytes: result.upload, name: result.upload_name } : null;
  el.download.disabled = state.download === null;
  el.download.textContent = state.download ? result.download_label : downloadLabel;
}

/**
 * Converts `file`; `heldSha256` is the hash of the page's own firmware, `heldKept` whether it was
 * kept from the last visit.
 * @param {File} file @param {string} heldSha256 @param {boolean} heldKept
 */
async function convertFile(file, heldSha256 = '', heldKept = false) {
  if (!state.page) return; // kept in its picker, and converted once the core has answered
  const choice = withdraw();
  showDownload(null);
  clearBox('convert', el.messages, el.map);
  const result = await requestFor('convert', file, heldSha256, heldKept);
  if (!result || choice !== state.latestChoice) return;
  showVerdict('convert', result);
  el.held.textContent = result.held;
  el.messages.textContent = result.messages;
  el.map.textContent = result.map;
  showDownload(result);
  if (state.download) state.offer = { bytes: result.upload, name: result.upload_name, text: result.offer };
  renderSend();
  (state.download ? el.download : el.hexFile).focus();
}

function downloadUpload() {
  const { bytes, name } = state.download;
  const url = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
  const link = document.createElement('a');
  link.href = url;
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(url), 1000);
}

async function checkFiles() {
  const upload = el.syxFile.files[0];
  const hex = el.checkHexFile.files[0];
  if (!state.page) return; // kept in its picker, and checked once the core has answered
  const choice = withdraw();
  clearBox('check', el.report);
  if (!upload) return;
  const result = await requestFor('check', upload, hex || null);
  if (!result || choice !== state.latestChoice) return;
  showVerdict('check', result);
  el.report.textContent = result.report;
  if (result.offer && !state.outdated) state.offer = { bytes: result.upload, name: upload.name, text: result.offer };
  renderSend();
  (!el.sendButton.disabled ? el.sendButton : el.syxFile).focus();
}

/** Puts `file` (or none) in the picker `input`, as if it had been chosen there. */
function choose(input, file) {
  const list = new DataTransfer();
  if (file) list.items.add(file);
  input.files = list.files;
}

// Dropped on the Check box: the upload and, optionally, its HEX file.
function dropOnCheck(files) {
  const isUpload = (f) => f.name.toLowerCase().endsWith('.syx');
  const upload = files.find(isUpload) || files[0];
  choose(el.syxFile, upload);
  choose(el.checkHexFile, files.find((f) => f !== upload));
  checkFiles();
}

/** @param {HTMLElement} section */
function acceptDrops(section) {
  section.addEventListener('dragover', (e) => {
    e.preventDefault();
    section.classList.add('dragging');
  });
  section.addEventListener('dragleave', () => section.classList.remove('dragging'));
  section.addEventListener('drop', (e) => {
    e.preventDefault();
    section.classList.remove('dragging');
    const files = [...e.dataTransfer.files];
    if (files.length === 0) return;
    if (section !== el.convert) dropOnCheck(files);
    else {
      // Kept in the picker, as a chosen file is, so that a drop before the core answers is not lost.
      choose(el.hexFile, files[0]);
      convertFile(files[0]);
    }
  });
}

/** Fills `select` with `ports`, keeping the choice where that port is still there. */
function fillPorts(select, ports) {
  const chosen = select.value;
  select.replaceChildren(...[...ports.values()].map((p) => new Option(portName(p), p.id)));
  if ([...select.options].some((o) => o.value === chosen)) select.value = chosen;
  select.disabled = select.options.length === 0;
}

function listPorts() {
  fillPorts(el.port, state.midi.outputs);
  fillPorts(el.inputPort, state.midi.inputs);
  el.midiStatus.textContent = el.port.options.length ? state.page.midi_ready : state.page.midi_no_port;
  renderSend();
}

// A port that goes away during a send stops it at once.
/** @param {MIDIConnectionEvent} event */
function portChanged(event) {
  const { sending } = state;
  if (sending && event.port && event.port.id === sending.output.id && event.port.state === 'disconnected') {
    stopTransmission(sending, 'lost', '');
  }
  listPorts();
}

// Asked for only when the user wants the ports, so that no permission prompt greets a visitor.
async function startMidi() {
  if (!navigator.requestMIDIAccess) {
    el.midiStatus.textContent = state.page.midi_missing;
    return;
  }
  if (!state.midi) {
    try {
      state.midi = await navigator.requestMIDIAccess({ sysex: true });
    } catch {
      el.midiStatus.textContent = state.page.midi_refused;
      return;
    }
    state.midi.addEventListener('statechange', portChanged);
  }
  listPorts();
  el.port.focus();
}

/** What the end of a send says: done, cancelled, or the port lost. @param {Transmission} current */
function endSending(current) {
  const { steps, output } = current;
  const last = Math.max(0, current.last);
  if (current.stopped === 'cancel' && output.clear) output.clear();
  el.sendResult.textContent =
    current.stopped === 'cancel' ? steps.cancelled[last] : current.stopped === 'lost' ? lostAt(current) : steps.done;
  el.sendDetail.textContent = current.detail || '';
}

/** What a lost port leaves: nothing at the device if not one message was handed over. @param {Transmission} current */
const lostAt = (current) => (current.last < 0 ? current.steps.lost_before_any : current.steps.lost[current.last]);

const chosenOutput = () => state.midi && state.midi.outputs.get(el.port.value);
/** @param {MIDIPort | undefined} port */
const portName = (port) => (port ? port.name || port.id : '');

/**
 * The core's plan for sending `bytes`, with `output` opened for it; Send and the test are not
 * offered meanwhile. Null if `output` cannot be opened (held by another program, say), which is
 * then said in `says`: nothing is handed to a port that is not open.
 * @param {MIDIOutput} output @param {Uint8Array} bytes @param {string} name @param {number} pauseMs
 * @param {HTMLElement} says
 * @returns {Promise<Answers['plan'] | null>}
 */
async function planFor(output, bytes, name, pauseMs, says) {
  state.planning = true;
  renderSend();
  try {
    const steps = await core.request('plan', bytes, name, pauseMs, portName(output));
    try {
      await output.open();
    } catch {
      says.textContent = steps.port_unavailable;
      return null;
    }
    return steps;
  } finally {
    state.planning = false;
    renderSend();
  }
}

/** @param {Answers['plan']} steps @param {number} i */
function showProgress(steps, i) {
  el.progress.value = Math.max(0, steps.block[i]);
  el.progressText.textContent = steps.progress[i];
}

/** Starts handing `bytes` to `output` as `steps` plans; the page's controls follow it. */
function beginTransmission(output, steps, bytes) {
  state.sending = newTransmission(output, steps, bytes);
  el.sendResult.textContent = '';
  el.sendDetail.textContent = '';
  el.progress.max = steps.block[steps.steps - 1];
  el.progress.value = 0;
  el.cancelButton.disabled = false;
  el.copyReport.hidden = true;
  renderSend();
  el.cancelButton.focus();
  return state.sending;
}

function endTransmission() {
  state.sending = null;
  el.cancelButton.disabled = true;
  el.copyReport.hidden = false;
  renderSend();
  (el.sendButton.disabled ? el.findPorts : el.sendButton).focus();
}

// Sends the upload on offer to the chosen port, as the core plans it.
async function send() {
  const output = chosenOutput();
  const chosen = state.offer;
  if (!output || !chosen) return;
  const { bytes, name } = chosen;
  el.sendResult.textContent = '';
  el.sendDetail.textContent = '';
  const steps = await planFor(output, bytes, name, Number(el.pause.value), el.sendResult);
  // A new choice while the plan was made or the port opened withdrew this offer.
  if (!steps || steps.steps === 0 || state.offer !== chosen) return;
  const current = beginTransmission(output, steps, bytes);
  await handOver(current, (i) => {
    showProgress(steps, i);
    localStorage.setItem(INTERRUPTED_KEY, steps.interrupted[i]);
  });
  endSending(current);
  localStorage.removeItem(INTERRUPTED_KEY);
  const outcome = [el.sendResult.textContent, el.sendDetail.textContent].filter(Boolean).join(' ');
  state.lastRun = { output: portName(output), input: '', name, bytes, pause: steps.pause_ms, outcome, test: '' };
  endTransmission();
}

// How long after the last frame the test still listens for it to come back.
const ECHO_MS = 250;

/**
 * Listens on `input` for what comes back. The function returned stops listening and gives the
 * bytes heard and, three numbers a message, where each begins, its length and when it came.
 * @param {MIDIInput} input
 */
function listen(input) {
  /** @type {{ data: Uint8Array, at: number }[]} */
  const heard = [];
  input.onmidimessage = (event) => heard.push({ data: event.data, at: event.timeStamp });
  return () => {
    input.onmidimessage = null;
    const bytes = new Uint8Array(heard.reduce((n, m) => n + m.data.length, 0));
    const index = new Float64Array(3 * heard.length);
    let at = 0;
    heard.forEach((m, i) => {
      bytes.set(m.data, at);
      index.set([at, m.data.length, m.at], 3 * i);
      at += m.data.length;
    });
    return { bytes, index: new Uint8Array(index.buffer) };
  };
}

/**
 * One run of the interface test at `search.pause`: the core's judgement, or null if it was
 * cancelled or the port was lost (which it then says).
 * @returns {Promise<Answers['loop'] | null>}
 */
async function testRun(output, input, source, search) {
  const steps = await planFor(output, source.bytes, source.name, search.pause, el.testStatus);
  if (!steps) return null;
  el.testStatus.textContent = steps.test_running;
  const stopListening = listen(input);
  const current = beginTransmission(output, steps, source.bytes);
  await handOver(current, (i) => showProgress(steps, i));
  await linger(current, ECHO_MS);
  const back = stopListening();
  endTransmission();
  const last = Math.max(0, current.last);
  if (current.stopped === 'cancel' && output.clear) output.clear();
  if (current.stopped) {
    el.testStatus.textContent = current.stopped === 'lost' ? lostAt(current) : steps.test_cancelled[last];
    return null;
  }
  return core.request('loop', source.bytes, search.pause, back.bytes, back.index, current.start, search.tried,
    search.passes);
}

// Tests the interface through a loop from the chosen output to the chosen input with the upload
// on offer (or a test pattern), trying longer pauses until one carries it twice in a row.
async function testInterface() {
  const output = chosenOutput();
  const input = state.midi.inputs.get(el.inputPort.value);
  if (!output || !input) return;
  const pattern = state.offer ? null : await core.request('testPattern');
  const source = state.offer || { bytes: pattern.upload, name: pattern.upload_name };
  let search = { pause: Number(el.pause.value), tried: -1, passes: 0 };
  const reports = [];
  el.testReport.textContent = '';
  for (let judged = await testRun(output, input, source, search); judged;
    judged = await testRun(output, input, source, search)) {
    reports.push(judged.report);
    el.testReport.textContent = reports.join('');
    search = { pause: judged.pause_ms, tried: judged.tried, passes: judged.passes };
    if (judged.step === 'run') continue;
    el.testStatus.textContent = judged.verdict;
    if (judged.step === 'found') {
      el.pause.value = String(judged.pause_ms);
      localStorage.setItem(PAUSE_KEY, el.pause.value);
    }
    break;
  }
  state.lastRun = { output: portName(output), input: portName(input), name: source.name, bytes: source.bytes,
    pause: search.pause, outcome: el.testStatus.textContent, test: reports.join('') };
}

/** The SHA-256 of `bytes`, in hex. @param {BufferSource} bytes */
async function sha256Of(bytes) {
  const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', bytes));
  return [...digest].map((b) => b.toString(16).padStart(2, '0')).join('');
}

// Puts the plain-text report of the last send or test on the clipboard, and shows it.
async function copyReport() {
  const run = state.lastRun;
  const { report } = await core.request('report', navigator.userAgent, run.output, run.input, run.name,
    run.bytes.length, await sha256Of(run.bytes), run.pause, run.outcome, run.test);
  el.pageReport.textContent = report;
  await navigator.clipboard.writeText(report).catch(() => {});
}

const withinPauseLimits = (value) =>
  Math.min(state.page.pause_max_ms, Math.max(state.page.pause_min_ms, Math.round(Number(value) || 0)));

function changePause() {
  if (!state.page) return;
  el.pause.value = String(withinPauseLimits(el.pause.value));
  localStorage.setItem(PAUSE_KEY, el.pause.value);
}

// Every handler, wired once; those that need the core's texts wait for them.
function wire() {
  el.hexFile.addEventListener('change', () => el.hexFile.files[0] && convertFile(el.hexFile.files[0]));
  el.syxFile.addEventListener('change', checkFiles);
  el.checkHexFile.addEventListener('change', checkFiles);
  el.boxes.convert.stop.addEventListener('click', () => core.stop());
  el.boxes.check.stop.addEventListener('click', () => core.stop());
  el.download.addEventListener('click', downloadUpload);
  acceptDrops(el.convert);
  acceptDrops(el.check);
  el.pause.addEventListener('change', changePause);
  el.findPorts.addEventListener('click', startMidi);
  el.sendButton.addEventListener('click', send);
  el.testButton.addEventListener('click', testInterface);
  el.copyReport.addEventListener('click', copyReport);
  el.cancelButton.addEventListener('click', () => stopTransmission(state.sending, 'cancel', ''));
  // A send cut off by closing or reloading the page leaves the device with part of an upload.
  addEventListener('beforeunload', (event) => {
    if (state.sending) event.preventDefault();
  });
}

// The page's own texts and limits, from the core; and the pause remembered for the next visit.
function setUpPage() {
  const { page } = state;
  el.pauseLabel.textContent = page.pause_label;
  el.pause.min = String(page.pause_min_ms);
  el.pause.max = String(page.pause_max_ms);
  el.pause.value = String(withinPauseLimits(localStorage.getItem(PAUSE_KEY)));
  el.hexFile.accept = page.firmware_types;
  el.checkHexFile.accept = page.firmware_types;
  el.syxFile.accept = page.upload_types;
  el.findPorts.disabled = false;
  if (!navigator.requestMIDIAccess) el.midiStatus.textContent = page.midi_missing;
  el.sendResult.textContent = localStorage.getItem(INTERRUPTED_KEY) || '';
  localStorage.removeItem(INTERRUPTED_KEY);
  renderSend();
}

// For the page's own tests and benchmarks: the calls the page makes, on bytes and a name.
/** @type {any} */ (window).ferrolet = {
  convert: (name, bytes) => core.request('convert', new File([bytes], name)),
  check: (name, bytes, hexName, hexBytes) =>
    core.request('check', new File([bytes], name), hexBytes ? new File([hexBytes], hexName) : null),
  plan: (bytes, name, pauseMs, port) => core.request('plan', bytes, name, pauseMs, port),
  report: () => state.lastRun,
  page: (userAgent) => core.request('page', userAgent),
};

// A page published with a firmware inside converts it at once (its manifest names it), unless a
// file is chosen meanwhile. Both are asked of the server again, never taken as the browser kept
// them; the service worker answers from its cache only when the network cannot, and says so.
async function convertHeldFirmware() {
  const choice = state.latestChoice;
  let file;
  try {
    const named = await fetch(HELD_MANIFEST, { cache: 'no-cache' });
    const { name } = await named.json();
    const got = await fetch(`firmware/${encodeURIComponent(name)}`, { cache: 'no-cache' });
    if (!named.ok || !got.ok) throw new Error(`${got.status}`);
    const kept = [named, got].some((r) => r.headers.get('Ferrolet-Kept') === 'yes');
    file = { bytes: await got.arrayBuffer(), name, kept };
  } catch {
    el.held.textContent = state.page.held_missing;
    return;
  }
  if (choice !== state.latestChoice) return;
  convertFile(new File([file.bytes], file.name), await sha256Of(file.bytes), file.kept);
}

// A newer build that takes this page over (after a visit in another tab, or the check when the
// page is shown again) says which build it is; one other than this page's means that this page
// is out of date: from then on it offers nothing and says so.
function watchForNewVersion(registration) {
  const sw = navigator.serviceWorker;
  sw.addEventListener('controllerchange', () => sw.controller && sw.controller.postMessage('build'));
  sw.addEventListener('message', ({ data }) => {
    if (!BUILD || !data || !data.build || data.build === BUILD || state.outdated) return;
    state.outdated = true;
    withdraw();
    showDownload(null);
    // What the boxes said of this build's uploads no longer holds either.
    clearBox('convert', el.held, el.messages, el.map);
    clearBox('check', el.report);
    showFailure(state.page.outdated);
  });
  document.addEventListener('visibilitychange', () => {
    if (document.visibilityState === 'visible') registration.update().catch(() => {});
  });
}

async function main() {
  if (location.protocol === 'file:') {
    showFailure(FAILURES.file);
    return;
  }
  wire();
  try {
    state.page = await core.request('page', navigator.userAgent);
  } catch {
    showFailure(FAILURES.load);
    return;
  }
  setUpPage();
  el.status.hidden = true;
  // Files chosen while the core was loading are handled now; a held firmware only if none was.
  if (el.hexFile.files[0]) convertFile(el.hexFile.files[0]);
  else if (HELD_MANIFEST) convertHeldFirmware();
  if (el.syxFile.files[0]) checkFiles();
  if ('serviceWorker' in navigator) navigator.serviceWorker.register('sw.js').then(watchForNewVersion, () => {});
  performance.mark('ferrolet-ready');
  document.body.dataset.ready = 'yes';
}

main();

// The page: choosing files, showing what the core says, downloading, and pacing the messages the
// core plans through Web MIDI. Every rule (reading, deciding, encoding, checking, planning), every
// limit and every sentence shown is the core's, compiled to WebAssembly and run in a worker; the
// only sentences here are for when the core itself cannot speak.
import { startCore } from './core.js';
import { handOver, linger, newTransmission, stopTransmission } from './sending.js';

const $ = (id) => document.getElementById(id);
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

// A request that is running in the worker, so that its box can show progress and Stop.
let reading = null;
const core = startCore((progress, stopped) => {
  if (!reading) return;
  reading.stopped = stopped;
  $(`${reading.box}-reading`).textContent = progress;
});

function showFailure(text) {
  const status = $('status');
  status.textContent = text;
  status.hidden = false;
}

// Runs a core request for `box`, showing progress and offering Stop while it runs. Resolves to
// the result, or to null when it was stopped or the core failed (which it then says).
async function requestFor(box, action, ...args) {
  reading = { box, stopped: '' };
  const mine = reading;
  $(`${box}-stop`).hidden = false;
  try {
    return await core.request(action, ...args);
  } catch ({ failure, detail }) {
    if (failure === 'stopped') $(`${box}-verdict`).textContent = mine.stopped;
    else if (failure === 'stalled') $(`${box}-verdict`).textContent = detail;
    else showFailure(failure === 'load' ? FAILURES.load : FAILURES.crash + detail);
    return null;
  } finally {
    if (reading === mine) reading = null;
    $(`${box}-stop`).hidden = true;
    $(`${box}-reading`).textContent = '';
  }
}

function showVerdict(box, result) {
  $(`${box}-verdict`).textContent = result.verdict;
  $(`${box}-verdict`).className = 'verdict ' + (result.good ? 'good' : 'bad');
  $(`${box}-hint`).textContent = result.hint || '';
}

// What Send would send: the upload of the latest choice, if that gave one. A choice in either
// box withdraws the offer at once; only the result of the latest choice may make a new one.
let offer = null;
let latestChoice = 0;
let sending = null;

function showSendSource() {
  if (!page) return;
  $('send-source').textContent = sending ? sending.steps.sending : offer ? offer.text : page.nothing_to_send;
  updateSendButton();
}

function withdraw() {
  offer = null;
  showSendSource();
  return ++latestChoice;
}

let download = null;
const downloadLabel = $('download').textContent;

function showDownload(result) {
  download = result && result.upload.length > 0 ? { bytes: result.upload, name: result.upload_name } : null;
  $('download').disabled = download === null;
  $('download').textContent = download ? result.download_label : downloadLabel;
}

async function convertFile(file, heldSha256 = '') {
  if (!page) return; // kept in its picker, and converted once the core has answered
  const choice = withdraw();
  showDownload(null);
  for (const id of ['convert-verdict', 'convert-hint', 'convert-messages', 'convert-map']) $(id).textContent = '';
  const result = await requestFor('convert', 'convert', file, heldSha256);
  if (!result || choice !== latestChoice) return;
  showVerdict('convert', result);
  $('held').textContent = result.held;
  $('convert-messages').textContent = result.messages;
  $('convert-map').textContent = result.map || '';
  showDownload(result);
  if (download) offer = { bytes: download.bytes, name: download.name, text: result.offer };
  showSendSource();
  (download ? $('download') : $('hex-file')).focus();
}

$('download').addEventListener('click', () => {
  const url = URL.createObjectURL(new Blob([download.bytes], { type: 'application/octet-stream' }));
  const link = document.createElement('a');
  link.href = url;
  link.download = download.name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(url), 1000);
});

async function checkFiles() {
  const upload = $('syx-file').files[0];
  const hex = $('check-hex-file').files[0];
  if (!page) return; // kept in its picker, and checked once the core has answered
  const choice = withdraw();
  for (const id of ['check-verdict', 'check-hint', 'check-report']) $(id).textContent = '';
  if (!upload) return;
  const result = await requestFor('check', 'check', upload, hex || null);
  if (!result || choice !== latestChoice) return;
  showVerdict('check', result);
  $('check-report').textContent = result.report;
  if (result.offer) offer = { bytes: result.upload, name: upload.name, text: result.offer };
  showSendSource();
  (!$('send-button').disabled ? $('send-button') : $('syx-file')).focus();
}

$('hex-file').addEventListener('change', () => $('hex-file').files[0] && convertFile($('hex-file').files[0]));
$('syx-file').addEventListener('change', checkFiles);
$('check-hex-file').addEventListener('change', checkFiles);
$('convert-stop').addEventListener('click', () => core.stop());
$('check-stop').addEventListener('click', () => core.stop());

// Dropped on the Check box: the upload and, optionally, its HEX file.
function dropOnCheck(files) {
  const isUpload = (f) => f.name.toLowerCase().endsWith('.syx');
  const upload = files.find(isUpload) || files[0];
  const hex = files.find((f) => f !== upload);
  const set = (input, file) => {
    const list = new DataTransfer();
    if (file) list.items.add(file);
    input.files = list.files;
  };
  set($('syx-file'), upload);
  set($('check-hex-file'), hex);
  checkFiles();
}

for (const section of [$('convert'), $('check')]) {
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
    if (section.id !== 'convert') dropOnCheck(files);
    else {
      // Kept in the picker, as a chosen file is, so that a drop before the core answers is not lost.
      const list = new DataTransfer();
      list.items.add(files[0]);
      $('hex-file').files = list.files;
      convertFile(files[0]);
    }
  });
}

let page = null;
let midi = null;

// Set from the moment Send is pressed until its plan is there.
let planning = false;

function updateSendButton() {
  const idle = midi && !planning && sending === null && $('port').options.length > 0;
  $('send-button').disabled = !idle || !offer;
  $('test-button').disabled = !idle || $('input-port').options.length === 0;
}

// Fills `select` with `ports`, keeping the choice where that port is still there.
function fillPorts(select, ports) {
  const chosen = select.value;
  select.replaceChildren(...[...ports.values()].map((p) => new Option(portName(p), p.id)));
  if ([...select.options].some((o) => o.value === chosen)) select.value = chosen;
  select.disabled = select.options.length === 0;
}

function listPorts() {
  fillPorts($('port'), midi.outputs);
  fillPorts($('input-port'), midi.inputs);
  $('midi-status').textContent = $('port').options.length ? page.midi_ready : page.midi_no_port;
  updateSendButton();
}

// A port that goes away during a send stops it at once.
function portChanged(event) {
  if (sending && event.port && event.port.id === sending.output.id && event.port.state === 'disconnected') {
    stopTransmission(sending, 'lost', '');
  }
  listPorts();
}

// Asked for only when the user wants the ports, so that no permission prompt greets a visitor.
async function startMidi() {
  if (!navigator.requestMIDIAccess) {
    $('midi-status').textContent = page.midi_missing;
    return;
  }
  if (!midi) {
    try {
      midi = await navigator.requestMIDIAccess({ sysex: true });
    } catch (error) {
      $('midi-status').textContent = page.midi_refused;
      return;
    }
    midi.addEventListener('statechange', portChanged);
  }
  listPorts();
  $('port').focus();
}

// What the end of a send says: done, cancelled, or the port lost.
function endSending(current) {
  const { steps, output } = current;
  const last = Math.max(0, current.last);
  if (current.stopped === 'cancel' && output.clear) output.clear();
  $('send-result').textContent =
    current.stopped === 'cancel' ? steps.cancelled[last] : current.stopped === 'lost' ? lostAt(current) : steps.done;
  $('send-detail').textContent = current.detail || '';
}

// What a lost port leaves: nothing at the device if not one message was handed over.
const lostAt = (current) => (current.last < 0 ? current.steps.lost_before_any : current.steps.lost[current.last]);

const chosenOutput = () => midi && midi.outputs.get($('port').value);
const portName = (port) => (port ? port.name || port.id : '');

// The core's plan for sending `bytes`, with `output` opened for it; Send and the test are not
// offered meanwhile. Null if `output` cannot be opened (held by another program, say), which is
// then said in `says`: nothing is handed to a port that is not open.
async function planFor(output, bytes, name, pauseMs, says) {
  planning = true;
  updateSendButton();
  try {
    const steps = await core.request('plan', bytes, name, pauseMs, portName(output));
    try {
      await output.open();
    } catch {
      $(says).textContent = steps.port_unavailable;
      return null;
    }
    return steps;
  } finally {
    planning = false;
    updateSendButton();
  }
}

function showProgress(steps, i) {
  $('progress').value = Math.max(0, steps.block[i]);
  $('progress-text').textContent = steps.progress[i];
}

// Starts handing `bytes` to `output` as `steps` plans; the page's controls follow it.
function beginTransmission(output, steps, bytes) {
  sending = newTransmission(output, steps, bytes);
  $('send-result').textContent = '';
  $('send-detail').textContent = '';
  $('progress').max = steps.block[steps.steps - 1];
  $('progress').value = 0;
  $('cancel-button').disabled = false;
  $('copy-report').hidden = true;
  showSendSource();
  $('cancel-button').focus();
  return sending;
}

function endTransmission() {
  sending = null;
  $('cancel-button').disabled = true;
  $('copy-report').hidden = false;
  showSendSource();
  ($('send-button').disabled ? $('find-ports') : $('send-button')).focus();
}

// What the last send or test was, for its report.
let lastRun = null;

// Sends the upload on offer to the chosen port, as the core plans it.
async function send() {
  const output = chosenOutput();
  if (!output || !offer) return;
  const chosen = offer;
  const { bytes, name } = chosen;
  $('send-result').textContent = '';
  $('send-detail').textContent = '';
  const steps = await planFor(output, bytes, name, Number(pauseInput.value), 'send-result');
  // A new choice while the plan was made or the port opened withdrew this offer.
  if (!steps || steps.steps === 0 || offer !== chosen) return;
  const current = beginTransmission(output, steps, bytes);
  await handOver(current, (i) => {
    showProgress(steps, i);
    localStorage.setItem(INTERRUPTED_KEY, steps.interrupted[i]);
  });
  endSending(current);
  localStorage.removeItem(INTERRUPTED_KEY);
  const outcome = [$('send-result').textContent, $('send-detail').textContent].filter(Boolean).join(' ');
  lastRun = { output: portName(output), input: '', name, bytes, pause: steps.pause_ms, outcome, test: '' };
  endTransmission();
}

// How long after the last frame the test still listens for it to come back.
const ECHO_MS = 250;

// Listens on `input` for what comes back. The function returned stops listening and gives the
// bytes heard and, three numbers a message, where each begins, its length and when it came.
function listen(input) {
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

// One run of the interface test at `search.pause`: the core's judgement, or null if it was
// cancelled or the port was lost (which it then says).
async function testRun(output, input, source, search) {
  const steps = await planFor(output, source.bytes, source.name, search.pause, 'test-status');
  if (!steps) return null;
  $('test-status').textContent = steps.test_running;
  const stopListening = listen(input);
  const current = beginTransmission(output, steps, source.bytes);
  await handOver(current, (i) => showProgress(steps, i));
  await linger(current, ECHO_MS);
  const back = stopListening();
  endTransmission();
  const last = Math.max(0, current.last);
  if (current.stopped === 'cancel' && output.clear) output.clear();
  if (current.stopped) {
    $('test-status').textContent = current.stopped === 'lost' ? lostAt(current) : steps.test_cancelled[last];
    return null;
  }
  return core.request('loop', source.bytes, search.pause, back.bytes, back.index, current.start, search.tried,
    search.passes);
}

// Tests the interface through a loop from the chosen output to the chosen input with the upload
// on offer (or a test pattern), trying longer pauses until one carries it twice in a row.
async function testInterface() {
  const output = chosenOutput();
  const input = midi.inputs.get($('input-port').value);
  if (!output || !input) return;
  const pattern = offer ? null : await core.request('testPattern');
  const source = offer || { bytes: pattern.upload, name: pattern.upload_name };
  let search = { pause: Number(pauseInput.value), tried: -1, passes: 0 };
  const reports = [];
  $('test-report').textContent = '';
  for (let judged = await testRun(output, input, source, search); judged;
    judged = await testRun(output, input, source, search)) {
    reports.push(judged.report);
    $('test-report').textContent = reports.join('');
    search = { pause: judged.pause_ms, tried: judged.tried, passes: judged.passes };
    if (judged.step === 'run') continue;
    $('test-status').textContent = judged.verdict;
    if (judged.step === 'found') {
      pauseInput.value = String(judged.pause_ms);
      localStorage.setItem(PAUSE_KEY, pauseInput.value);
    }
    break;
  }
  lastRun = { output: portName(output), input: portName(input), name: source.name, bytes: source.bytes,
    pause: search.pause, outcome: $('test-status').textContent, test: reports.join('') };
}

// Puts the plain-text report of the last send or test on the clipboard, and shows it.
async function copyReport() {
  const run = lastRun;
  const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', run.bytes));
  const sha256 = [...digest].map((b) => b.toString(16).padStart(2, '0')).join('');
  const { report } = await core.request('report', navigator.userAgent, run.output, run.input, run.name,
    run.bytes.length, sha256, run.pause, run.outcome, run.test);
  $('page-report').textContent = report;
  await navigator.clipboard.writeText(report).catch(() => {});
}

// A send cut off by closing or reloading the page leaves the device with part of an upload.
addEventListener('beforeunload', (event) => {
  if (sending) event.preventDefault();
});

const pauseInput = $('pause');
const withinPauseLimits = (value) =>
  Math.min(page.pause_max_ms, Math.max(page.pause_min_ms, Math.round(Number(value) || 0)));

// The page's own texts and limits, from the core; and the pause remembered for the next visit.
function setUpPage() {
  $('pause-label').textContent = page.pause_label;
  pauseInput.min = String(page.pause_min_ms);
  pauseInput.max = String(page.pause_max_ms);
  pauseInput.value = String(withinPauseLimits(localStorage.getItem(PAUSE_KEY)));
  pauseInput.addEventListener('change', () => {
    pauseInput.value = String(withinPauseLimits(pauseInput.value));
    localStorage.setItem(PAUSE_KEY, pauseInput.value);
  });
  $('hex-file').accept = page.firmware_types;
  $('check-hex-file').accept = page.firmware_types;
  $('syx-file').accept = page.upload_types;
  $('find-ports').addEventListener('click', startMidi);
  $('send-button').addEventListener('click', send);
  $('test-button').addEventListener('click', testInterface);
  $('copy-report').addEventListener('click', copyReport);
  $('cancel-button').addEventListener('click', () => stopTransmission(sending, 'cancel', ''));
  if (!navigator.requestMIDIAccess) $('midi-status').textContent = page.midi_missing;
  $('send-result').textContent = localStorage.getItem(INTERRUPTED_KEY) || '';
  localStorage.removeItem(INTERRUPTED_KEY);
  showSendSource();
}

// For the page's own tests and benchmarks: the calls the page makes, on bytes and a name.
window.ferrolet = {
  convert: (name, bytes) => core.request('convert', new File([bytes], name)),
  check: (name, bytes, hexName, hexBytes) =>
    core.request('check', new File([bytes], name), hexBytes ? new File([hexBytes], hexName) : null),
  plan: (bytes, name, pauseMs, port) => core.request('plan', bytes, name, pauseMs, port),
  report: () => lastRun,
  page: (userAgent) => core.request('page', userAgent),
};

// A page published with a firmware inside converts it at once (firmware.json names it).
async function convertHeldFirmware() {
  const named = await fetch('firmware.json').catch(() => null);
  if (!named || !named.ok) return;
  const { name } = await named.json();
  const bytes = await (await fetch(`firmware/${encodeURIComponent(name)}`)).arrayBuffer();
  const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', bytes));
  convertFile(new File([bytes], name), [...digest].map((b) => b.toString(16).padStart(2, '0')).join(''));
}

async function main() {
  if (location.protocol === 'file:') {
    showFailure(FAILURES.file);
    return;
  }
  try {
    page = await core.request('page', navigator.userAgent);
  } catch ({ detail }) {
    showFailure(FAILURES.load);
    return;
  }
  setUpPage();
  $('status').hidden = true;
  // Files chosen while the core was loading are handled now; a held firmware only if none was.
  if ($('hex-file').files[0]) convertFile($('hex-file').files[0]);
  else convertHeldFirmware();
  if ($('syx-file').files[0]) checkFiles();
  if ('serviceWorker' in navigator) navigator.serviceWorker.register('sw.js').catch(() => {});
  performance.mark('ferrolet-ready');
  document.body.dataset.ready = 'yes';
}

main();

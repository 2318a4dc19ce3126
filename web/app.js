// The page: choosing files, showing what the core says, downloading, and pacing the messages the
// core plans through Web MIDI. Every rule (reading, deciding, encoding, checking, planning), every
// limit and every sentence shown is the core's, compiled to WebAssembly and run in a worker; the
// only sentences here are for when the core itself cannot speak.
import { startCore } from './core.js';

const $ = (id) => document.getElementById(id);
const PAUSE_KEY = 'ferrolet.extraPauseMs';
const INTERRUPTED_KEY = 'ferrolet.interruptedSend';
// Messages are handed to the MIDI port this long before they are due, so that Cancel can still
// hold back everything later.
const LOOKAHEAD_MS = 60;

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
  download = result && result.upload ? { bytes: result.upload, name: result.upload_name } : null;
  $('download').disabled = download === null;
  $('download').textContent = download ? result.download_label : downloadLabel;
}

async function convertFile(file) {
  const choice = withdraw();
  showDownload(null);
  for (const id of ['convert-verdict', 'convert-hint', 'convert-messages', 'convert-map']) $(id).textContent = '';
  const result = await requestFor('convert', 'convert', file);
  if (!result || choice !== latestChoice) return;
  showVerdict('convert', result);
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
  const choice = withdraw();
  for (const id of ['check-verdict', 'check-hint', 'check-report']) $(id).textContent = '';
  if (!upload) return;
  const result = await requestFor('check', 'check', upload, hex || null);
  if (!result || choice !== latestChoice) return;
  showVerdict('check', result);
  $('check-report').textContent = result.report;
  if (result.offer) {
    offer = { bytes: new Uint8Array(await upload.arrayBuffer()), name: upload.name, text: result.offer };
  }
  showSendSource();
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
    if (section.id === 'convert') convertFile(files[0]);
    else dropOnCheck(files);
  });
}

let page = null;
let midi = null;

// Set from the moment Send is pressed until its plan is there.
let planning = false;

function updateSendButton() {
  $('send-button').disabled = !midi || !offer || planning || sending !== null || $('port').options.length === 0;
}

function listPorts() {
  const select = $('port');
  const chosen = select.value;
  select.replaceChildren(...[...midi.outputs.values()].map((o) => new Option(o.name || o.id, o.id)));
  if ([...select.options].some((o) => o.value === chosen)) select.value = chosen;
  select.disabled = select.options.length === 0;
  $('midi-status').textContent = select.options.length ? page.midi_ready : page.midi_no_port;
  updateSendButton();
}

// A port that goes away during a send stops it at once.
function portChanged(event) {
  if (sending && event.port && event.port.id === sending.output.id && event.port.state === 'disconnected') {
    stopSending('lost', '');
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

function stopSending(why, detail) {
  if (!sending || sending.stopped) return;
  sending.stopped = why;
  sending.detail = detail;
  sending.wake();
}

// Waits until `time`, or until the send is stopped.
function pauseUntil(current, time) {
  return new Promise((resolve) => {
    const timer = setTimeout(resolve, Math.max(0, time - performance.now()));
    current.wake = () => {
      clearTimeout(timer);
      resolve();
    };
  });
}

// Hands each planned message to the port shortly before it is due, until all are handed over or
// the send is stopped; then waits for the last one to be through the line.
async function handOver(current) {
  const { output, steps, bytes } = current;
  const start = performance.now() + LOOKAHEAD_MS;
  for (let i = 0; i < steps.steps && !current.stopped; i++) {
    const due = start + steps.at_us[i] / 1000;
    await pauseUntil(current, due - LOOKAHEAD_MS);
    if (current.stopped) break;
    try {
      output.send(bytes.subarray(steps.offset[i], steps.offset[i] + steps.length[i]), due);
    } catch (error) {
      stopSending('lost', error.message);
      break;
    }
    current.last = i;
    localStorage.setItem(INTERRUPTED_KEY, steps.interrupted[i]);
    $('progress').value = Math.max(0, steps.block[i]);
    $('progress-text').textContent = steps.progress[i];
  }
  if (!current.stopped) await pauseUntil(current, start + steps.end_us[steps.steps - 1] / 1000);
}

// What the end of a send says: done, cancelled, or the port lost.
function endSending(current) {
  const { steps, output } = current;
  const last = Math.max(0, current.last);
  if (current.stopped === 'cancel' && output.clear) output.clear();
  $('send-result').textContent =
    current.stopped === 'cancel' ? steps.cancelled[last] : current.stopped === 'lost' ? steps.lost[last] : steps.done;
  $('send-detail').textContent = current.detail || '';
}

// Sends the upload on offer to the chosen port, as the core plans it.
async function send() {
  const output = midi.outputs.get($('port').value);
  if (!output || !offer) return;
  const { bytes, name } = offer;
  planning = true;
  updateSendButton();
  const steps = await core.request('plan', bytes, name, Number(pauseInput.value), output.name || output.id)
    .finally(() => { planning = false; });
  if (steps.steps === 0) return;
  sending = { output, steps, bytes, stopped: null, detail: '', last: -1, wake: () => {} };
  const current = sending;
  $('send-result').textContent = '';
  $('send-detail').textContent = '';
  $('progress').max = steps.block[steps.steps - 1];
  $('progress').value = 0;
  $('cancel-button').disabled = false;
  showSendSource();
  $('cancel-button').focus();
  await handOver(current);
  endSending(current);
  localStorage.removeItem(INTERRUPTED_KEY);
  sending = null;
  $('cancel-button').disabled = true;
  showSendSource();
  ($('send-button').disabled ? $('find-ports') : $('send-button')).focus();
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
  $('cancel-button').addEventListener('click', () => stopSending('cancel', ''));
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
  page: (userAgent) => core.request('page', userAgent),
};

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
  if ('serviceWorker' in navigator) navigator.serviceWorker.register('sw.js').catch(() => {});
  performance.mark('ferrolet-ready');
  document.body.dataset.ready = 'yes';
}

main();

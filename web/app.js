// The page: file choosing, showing what the core says, downloading, and pacing the messages the
// core plans through Web MIDI. Every rule (reading, deciding, encoding, checking, planning), every
// limit and every sentence shown is the core's, compiled to WebAssembly.
import loadFerrolet from './ferrolet.js';

const $ = (id) => document.getElementById(id);
const PAUSE_KEY = 'ferrolet.extraPauseMs';
// Messages are handed to the MIDI port this long before they are due, so that Cancel can still
// hold back everything later.
const LOOKAHEAD_MS = 60;

const core = await loadFerrolet();
const session = core._web_session();

// Reads a call's result; its layout is described where it is made, in web/ferrolet_web.cpp.
function readResult(at) {
  const heap = core.HEAPU8;
  const view = new DataView(heap.buffer);
  const text = (from, to) => new TextDecoder().decode(heap.subarray(from, to));
  const result = {};
  while (heap[at] !== 0) {
    const kind = String.fromCharCode(heap[at]);
    const nameEnd = heap.indexOf(0, at + 1);
    const name = text(at + 1, nameEnd);
    const size = view.getUint32(nameEnd + 1, true);
    const body = nameEnd + 5;
    if (kind === 't') result[name] = text(body, body + size);
    if (kind === 'b') result[name] = heap.slice(body, body + size);
    if (kind === 'n') result[name] = view.getFloat64(body, true);
    if (kind === 'a') result[name] = Array.from({ length: size / 8 }, (_, i) => view.getFloat64(body + 8 * i, true));
    if (kind === 'l') {
      result[name] = [];
      for (let p = body; p < body + size; p += 4 + view.getUint32(p, true)) {
        result[name].push(text(p + 4, p + 4 + view.getUint32(p, true)));
      }
    }
    at = body + size;
  }
  return result;
}

// Calls a core function with texts and byte arrays copied into its memory; numbers go as they
// are. The copies are freed afterwards; the result is read before anything else runs.
function call(fn, ...args) {
  const copies = [];
  const copy = (bytes) => {
    const p = core._malloc(Math.max(1, bytes.length));
    core.HEAPU8.set(bytes, p);
    copies.push(p);
    return p;
  };
  const values = args.flatMap((a) => {
    if (typeof a === 'string') return [copy(new TextEncoder().encode(a + '\0'))];
    if (a instanceof Uint8Array) return [copy(a), a.length];
    return [a];
  });
  try {
    return readResult(fn(session, ...values));
  } finally {
    copies.forEach((p) => core._free(p));
  }
}

// Converts `bytes`, the file `name`, as the command would.
const convert = (name, bytes) => call(core._web_convert, name, bytes);
// Checks an upload, optionally against its firmware, as ferrolet-check would.
const check = (uploadName, uploadBytes, firmwareName, firmwareBytes) =>
  call(core._web_check, uploadName, uploadBytes, firmwareName, firmwareBytes || new Uint8Array());
// The messages of an upload, when each is due, and what to say while they go out.
const plan = (upload, name, pauseMs, port) => call(core._web_plan, upload, name, pauseMs, port);
const page = call(core._web_page);

// For the page's own tests and benchmarks: the same calls the page makes.
window.ferrolet = { convert, check, plan };

const readFile = (file) => file.arrayBuffer().then((b) => new Uint8Array(b));

function showVerdict(element, result) {
  element.textContent = result.verdict;
  element.className = 'verdict ' + (result.good ? 'good' : 'bad');
}

// What Send would send: the last upload converted, or the last upload checked valid.
let sendable = null;

function offerForSending(bytes, name, offer) {
  sendable = { bytes, name };
  $('send-source').textContent = offer;
  updateSendButton();
}

let download = null;
const downloadLabel = $('download').textContent;

async function convertFile(file) {
  const result = convert(file.name, await readFile(file));
  showVerdict($('convert-verdict'), result);
  $('convert-messages').textContent = result.messages;
  $('convert-map').textContent = result.map || '';
  download = result.upload ? { bytes: result.upload, name: result.upload_name } : null;
  $('download').disabled = download === null;
  $('download').textContent = download ? result.download_label : downloadLabel;
  if (download) offerForSending(download.bytes, download.name, result.offer);
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
  if (!upload) return;
  const hex = $('check-hex-file').files[0];
  const bytes = await readFile(upload);
  const result = check(upload.name, bytes, hex ? hex.name : '', hex ? await readFile(hex) : null);
  showVerdict($('check-verdict'), result);
  $('check-report').textContent = result.report;
  if (result.offer) offerForSending(bytes, upload.name, result.offer);
}

$('hex-file').addEventListener('change', () => $('hex-file').files[0] && convertFile($('hex-file').files[0]));
$('syx-file').addEventListener('change', checkFiles);
$('check-hex-file').addEventListener('change', checkFiles);

// Dropped on the Check box: the upload and, optionally, its HEX file.
function dropOnCheck(files) {
  const isUpload = (f) => f.name.toLowerCase().endsWith('.syx');
  const upload = files.find(isUpload);
  const hex = files.find((f) => !isUpload(f));
  const set = (input, file) => {
    const list = new DataTransfer();
    if (file) list.items.add(file);
    input.files = list.files;
  };
  if (upload) set($('syx-file'), upload);
  if (hex || upload) set($('check-hex-file'), hex);
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
    if (section.id === 'convert') {
      if (files[0]) convertFile(files[0]);
    } else {
      dropOnCheck(files);
    }
  });
}

// The extra pause, within the core's limits, remembered for the next visit.
const pauseInput = $('pause');
const withinPauseLimits = (value) =>
  Math.min(page.pause_max_ms, Math.max(page.pause_min_ms, Math.round(Number(value) || 0)));
$('pause-label').textContent = page.pause_label;
pauseInput.min = String(page.pause_min_ms);
pauseInput.max = String(page.pause_max_ms);
pauseInput.value = String(withinPauseLimits(localStorage.getItem(PAUSE_KEY)));
pauseInput.addEventListener('change', () => {
  pauseInput.value = String(withinPauseLimits(pauseInput.value));
  localStorage.setItem(PAUSE_KEY, pauseInput.value);
});
$('send-source').textContent = page.nothing_to_send;

let midi = null;
let sending = null;

function updateSendButton() {
  $('send-button').disabled = !midi || !sendable || sending !== null || $('port').options.length === 0;
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

// Asked for only when the user wants the ports, so that no permission prompt greets a visitor.
async function startMidi() {
  if (!navigator.requestMIDIAccess) {
    $('midi-status').textContent = page.midi_missing;
    return;
  }
  if (midi) return;
  try {
    midi = await navigator.requestMIDIAccess({ sysex: true });
  } catch (error) {
    $('midi-status').textContent = page.midi_refused;
    return;
  }
  midi.addEventListener('statechange', listPorts);
  listPorts();
}

const sleepUntil = (time) =>
  new Promise((resolve) => setTimeout(resolve, Math.max(0, time - performance.now())));

// Hands each planned message to the port shortly before it is due; returns the index of the last
// step handed over (-1 for none).
async function handOver(output, bytes, steps, current) {
  const start = performance.now() + LOOKAHEAD_MS;
  current.start = start;
  let last = -1;
  for (let i = 0; i < steps.steps; i++) {
    const due = start + steps.at_us[i] / 1000;
    await sleepUntil(due - LOOKAHEAD_MS);
    if (current.cancelled) break;
    output.send(bytes.subarray(steps.offset[i], steps.offset[i] + steps.length[i]), due);
    last = i;
    $('progress').value = Math.max(0, steps.block[i]);
    $('progress-text').textContent = steps.progress[i];
    current.last = i;
  }
  return last;
}

// Sends the upload offered for sending to the chosen port, as the core plans it.
async function send() {
  const output = midi.outputs.get($('port').value);
  const { bytes, name } = sendable;
  const steps = plan(bytes, name, Number(pauseInput.value), output ? output.name || output.id : '');
  if (!output || steps.steps === 0) return;
  sending = { cancelled: false, last: -1 };
  const current = sending;
  updateSendButton();
  $('cancel-button').disabled = false;
  $('send-result').textContent = '';
  $('progress').max = steps.block[steps.steps - 1];
  $('progress').value = 0;
  try {
    const last = await handOver(output, bytes, steps, current);
    if (current.cancelled) {
      if (output.clear) output.clear();
      $('send-result').textContent = steps.cancelled[Math.max(0, last)];
    } else {
      await sleepUntil(current.start + steps.end_us[steps.steps - 1] / 1000);
      $('send-result').textContent = steps.done;
    }
  } catch (error) {
    $('send-result').textContent = `${steps.stopped[Math.max(0, current.last)]} ${error.message}`;
  } finally {
    sending = null;
    $('cancel-button').disabled = true;
    updateSendButton();
  }
}

$('find-ports').addEventListener('click', startMidi);
$('send-button').addEventListener('click', send);
$('cancel-button').addEventListener('click', () => {
  if (sending) sending.cancelled = true;
});

$('loading').remove();
performance.mark('ferrolet-ready');
document.body.dataset.ready = 'yes';
if (!navigator.requestMIDIAccess) $('midi-status').textContent = page.midi_missing;

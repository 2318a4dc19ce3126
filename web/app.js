// The page: file choosing, showing what the core says, downloading, and pacing the messages the
// core plans through Web MIDI. Every rule (reading, deciding, encoding, checking, planning) is
// the core's, compiled to WebAssembly.
import loadFerrolet from './ferrolet.js';

const $ = (id) => document.getElementById(id);
const PAUSE_KEY = 'ferrolet.extraPauseMs';
// Messages are handed to the MIDI port this long before they are due, so that Cancel can still
// hold back everything later.
const LOOKAHEAD_MS = 60;

const core = await loadFerrolet();

// Copies `bytes` into the core's input `which` (0 or 1).
function give(which, bytes) {
  const at = core._web_input(which, bytes.length);
  core.HEAPU8.set(bytes, at);
}

// Calls a core function with string arguments, freeing their copies afterwards.
function call(fn, ...texts) {
  const pointers = texts.map((t) => {
    const size = core.lengthBytesUTF8(t) + 1;
    const p = core._malloc(size);
    core.stringToUTF8(t, p, size);
    return p;
  });
  try {
    return fn(...pointers);
  } finally {
    pointers.forEach((p) => core._free(p));
  }
}

const textOut = () =>
  new TextDecoder().decode(core.HEAPU8.subarray(core._web_text(), core._web_text() + core._web_text_size()));

// Converts `bytes`, the file `name`, as the command would.
function convert(name, bytes) {
  give(0, bytes);
  const exitCode = call(core._web_convert, name);
  const size = core._web_upload_size();
  const upload = core.HEAPU8.slice(core._web_upload(), core._web_upload() + size);
  const mapAt = core._web_block_map();
  return {
    exitCode,
    messages: textOut(),
    verdict: core.UTF8ToString(core._web_verdict()),
    upload: size > 0 ? upload : null,
    uploadName: core.UTF8ToString(core._web_upload_name()),
    map: new TextDecoder().decode(core.HEAPU8.subarray(mapAt, mapAt + core._web_block_map_size())),
  };
}

// Checks an upload, optionally against its firmware, as ferrolet-check would.
function check(uploadName, uploadBytes, firmwareName, firmwareBytes) {
  give(0, uploadBytes);
  if (firmwareBytes) give(1, firmwareBytes);
  const status = call(core._web_check, uploadName, firmwareBytes ? firmwareName : '');
  return { status, report: textOut(), verdict: core.UTF8ToString(core._web_verdict()) };
}

// The messages of an upload and when each is due, in microseconds from the start.
function plan(upload, pauseMs) {
  give(0, upload);
  const count = core._web_plan_send(pauseMs * 1000);
  const steps = [];
  for (let i = 0; i < count; i++) {
    const field = (f) => core._web_plan_step(i, f);
    steps.push({ offset: field(0), length: field(1), atUs: field(2), endUs: field(3), block: field(4) });
  }
  return steps;
}

// For the page's own tests and benchmarks: the same calls the page makes.
window.ferrolet = { convert, check, plan };

const readFile = (file) => file.arrayBuffer().then((b) => new Uint8Array(b));

function showVerdict(element, text, good) {
  element.textContent = text;
  element.className = 'verdict ' + (good ? 'good' : 'bad');
}

// What Send would send: the last upload converted, or the last upload checked valid.
let sendable = null;

function offerForSending(bytes, name, how) {
  sendable = { bytes, name };
  $('send-source').textContent = `${name} (${how}, ${bytes.length} bytes)`;
  updateSendButton();
}

let download = null;

async function convertFile(file) {
  const result = convert(file.name, await readFile(file));
  showVerdict($('convert-verdict'), result.verdict, result.exitCode === 0);
  $('convert-messages').textContent = result.messages;
  $('convert-map').textContent = result.map ? 'block map (# data, . all 0x00, + data then filler):\n' + result.map : '';
  download = result.upload ? { bytes: result.upload, name: result.uploadName } : null;
  $('download').disabled = download === null;
  $('download').textContent = download ? `Download ${download.name}` : 'Download the upload';
  if (download) offerForSending(download.bytes, download.name, 'converted');
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
  showVerdict($('check-verdict'), result.verdict, result.status === 0);
  $('check-report').textContent = result.report;
  if (result.status === 0) offerForSending(bytes, upload.name, 'checked');
}

$('hex-file').addEventListener('change', () => $('hex-file').files[0] && convertFile($('hex-file').files[0]));
$('syx-file').addEventListener('change', checkFiles);
$('check-hex-file').addEventListener('change', checkFiles);

// Dropping files: on the Convert box a HEX file, on the Check box an upload and its HEX file.
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
    if (section.id === 'convert' && files[0]) {
      convertFile(files[0]);
      return;
    }
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
  });
}

// Sending.
const pauseInput = $('pause');
pauseInput.value = String(Math.min(1000, Math.max(0, Number(localStorage.getItem(PAUSE_KEY)) || 0)));
pauseInput.addEventListener('change', () => {
  const ms = Math.min(1000, Math.max(0, Math.round(Number(pauseInput.value) || 0)));
  pauseInput.value = String(ms);
  localStorage.setItem(PAUSE_KEY, String(ms));
});

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
  $('midi-status').textContent = select.options.length
    ? 'MIDI is ready. Choose the port the device is connected to.'
    : 'MIDI is ready, but no output port is connected.';
  updateSendButton();
}

async function startMidi() {
  if (!navigator.requestMIDIAccess) {
    $('midi-status').textContent =
      'This browser cannot send MIDI (it has no Web MIDI). Convert and download still work: ' +
      'send the .syx file with a SysEx tool, or open this page in a browser with Web MIDI.';
    return;
  }
  try {
    midi = await navigator.requestMIDIAccess({ sysex: true });
  } catch (error) {
    $('midi-status').textContent =
      'MIDI access with SysEx was not allowed, so the page cannot send. Convert and download ' +
      'still work; allow MIDI for this page in the browser settings to send from here.';
    return;
  }
  midi.addEventListener('statechange', listPorts);
  listPorts();
}

const sleepUntil = (time) =>
  new Promise((resolve) => setTimeout(resolve, Math.max(0, time - performance.now())));

async function send() {
  const output = midi.outputs.get($('port').value);
  const pauseMs = Number(pauseInput.value);
  const steps = plan(sendable.bytes, pauseMs);
  const { bytes, name } = sendable;
  if (!output || steps.length === 0) return;
  const blocks = steps[steps.length - 1].block;
  sending = { cancelled: false };
  const current = sending;
  updateSendButton();
  $('cancel-button').disabled = false;
  $('send-result').textContent = '';
  const progress = $('progress');
  progress.max = blocks;
  progress.value = 0;
  const start = performance.now() + LOOKAHEAD_MS;
  let handedOver = 0;
  try {
    for (const step of steps) {
      const due = start + step.atUs / 1000;
      await sleepUntil(due - LOOKAHEAD_MS);
      if (current.cancelled) break;
      output.send(bytes.subarray(step.offset, step.offset + step.length), due);
      handedOver = Math.max(0, step.block);
      progress.value = handedOver;
      $('progress-text').textContent = `block ${handedOver} of ${blocks}`;
    }
    if (current.cancelled) {
      if (output.clear) output.clear();
      $('send-result').textContent = `Cancelled after block ${handedOver} of ${blocks}; send the whole upload again.`;
    } else {
      const end = steps[steps.length - 1].endUs;
      await sleepUntil(start + end / 1000);
      const seconds = (end / 1e6).toFixed(2);
      $('send-result').textContent =
        `Sent ${name}: ${blocks} data blocks, ${bytes.length} bytes, to ${output.name || output.id} ` +
        `in ${seconds} s, paced at DIN MIDI speed (3,125 bytes/s) with ${pauseMs} ms extra between frames.`;
    }
  } catch (error) {
    $('send-result').textContent = `Sending stopped: ${error.message}`;
  } finally {
    sending = null;
    $('cancel-button').disabled = true;
    updateSendButton();
  }
}

$('send-button').addEventListener('click', send);
$('cancel-button').addEventListener('click', () => {
  if (sending) sending.cancelled = true;
});

$('loading').remove();
performance.mark('ferrolet-ready');
document.body.dataset.ready = 'yes';
startMidi();

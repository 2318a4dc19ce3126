// The core's worker: loads the WebAssembly core and answers the page's requests one at a time.
// A file is read while the core works on it, a chunk at a time when the core asks for one, so
// that neither a large file nor a long read ever holds up the page.
import loadFerrolet from './ferrolet.js';

// The file the running request reads, and how far.
let reading = null;
let core = null;
let session = 0;

function pageRead(into, room) {
  if (reading === null) return 0;
  try {
    const chunk = new FileReaderSync().readAsArrayBuffer(reading.blob.slice(reading.at, reading.at + room));
    core.HEAPU8.set(new Uint8Array(chunk), into);
    reading.at += chunk.byteLength;
    return chunk.byteLength;
  } catch {
    return -1;
  }
}

const pageProgress = (progress, stopped) => postMessage({ progress, stopped });

const ready = loadFerrolet({ pageRead, pageProgress }).then((loaded) => {
  core = loaded;
  session = core._web_session();
});

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

// Calls a core function with texts and byte arrays copied into its memory (a byte array as its
// place and length); numbers go as they are. The copies are freed once the result is read.
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

// The first bytes of an upload: enough to tell a file longer than any upload.
const UPLOAD_START = 32769;
const start = (blob) => new Uint8Array(new FileReaderSync().readAsArrayBuffer(blob.slice(0, UPLOAD_START)));

const actions = {
  page: (userAgent) => call(core._web_page, userAgent),
  convert(file) {
    reading = { blob: file, at: 0 };
    return call(core._web_convert, file.name, file.size);
  },
  check(upload, firmware) {
    reading = firmware ? { blob: firmware, at: 0 } : null;
    return call(core._web_check, upload.name, start(upload), upload.size, firmware ? firmware.name : '',
      firmware ? firmware.size : 0);
  },
  plan: (bytes, name, pauseMs, port) => call(core._web_plan, bytes, name, pauseMs, port),
};

onmessage = async ({ data: { id, action, args } }) => {
  try {
    await ready;
  } catch (error) {
    postMessage({ id, failure: 'load', detail: String(error) });
    return;
  }
  try {
    const result = actions[action](...args);
    postMessage({ id, result }, Object.values(result).filter((v) => v instanceof Uint8Array).map((v) => v.buffer));
  } catch (error) {
    postMessage({ id, failure: 'crash', detail: String(error) });
  } finally {
    reading = null;
  }
};

// The core's worker: loads the WebAssembly core and answers the page's requests one at a time.
// A file is read as a stream into one reused buffer and handed to the core a chunk at a time, so
// that neither a large file nor a long read ever holds up the page or fills its memory.
import loadFerrolet from './ferrolet.js';

let core = null;
let session = 0;
const ready = loadFerrolet().then((loaded) => {
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

// Reads `blob` a chunk at a time, feeding each to the core and saying how far it has come; false
// if it cannot be read to its end. It reads a byte stream into one reused buffer; a stream read
// can stall for good in Chromium (after some dozens of files), so a read that brings nothing for
// STALL_MS goes on from where it stood with a slice read of its own, and a slice that stalls too
// ends the read as stalled: the page never waits forever.
const CHUNK = 1 << 20;
const STALL_MS = 5000;
async function withinStall(promise) {
  let timer = 0;
  const stalled = new Promise((resolve) => { timer = setTimeout(() => resolve(null), STALL_MS); });
  try {
    return await Promise.race([promise, stalled]);
  } finally {
    clearTimeout(timer);
  }
}

function fed(chunk) {
  postMessage(call(core._web_feed, chunk));
  return chunk.length;
}

// Reads the stream of `blob`: the bytes fed, and true at its end, null where it stalled.
async function feedStream(blob) {
  const stream = blob.stream();
  let byob = null;
  try {
    byob = stream.getReader({ mode: 'byob' });
  } catch {
    // Without byte streams each chunk comes in a buffer of its own.
  }
  const reader = byob || stream.getReader();
  let buffer = new ArrayBuffer(CHUNK);
  let at = 0;
  for (;;) {
    const read = await withinStall(byob ? byob.read(new Uint8Array(buffer)) : reader.read());
    if (read === null) {
      reader.cancel().catch(() => {});
      return { at, ended: null };
    }
    if (read.done) return { at, ended: true };
    at += fed(read.value);
    if (byob) buffer = read.value.buffer;
  }
}

async function feed(blob, stalledText) {
  let at;
  try {
    const stream = await feedStream(blob);
    if (stream.ended) return true;
    at = stream.at;
  } catch {
    return false;
  }
  for (; at < blob.size; at += CHUNK) {
    let chunk;
    try {
      chunk = await withinStall(blob.slice(at, at + CHUNK).arrayBuffer());
    } catch {
      return false;
    }
    if (chunk === null) throw { stalled: stalledText };
    fed(new Uint8Array(chunk));
  }
  return true;
}

// The first bytes of an upload: enough to tell a file longer than any upload.
const UPLOAD_START = 32769;
const start = async (blob) => new Uint8Array(await blob.slice(0, UPLOAD_START).arrayBuffer());

const actions = {
  page: (userAgent) => call(core._web_page, userAgent),
  async convert(file, heldSha256 = '') {
    const begun = call(core._web_convert_begin, file.name, file.size, heldSha256);
    if (!begun.reading) return begun;
    return call(core._web_convert_end, (await feed(file, begun.stalled)) ? 0 : 1);
  },
  async check(upload, firmware) {
    let first;
    try {
      first = await start(upload);
    } catch {
      first = new Uint8Array();
    }
    const begun = call(core._web_check_begin, upload.name, first, upload.size, firmware ? firmware.name : '',
      firmware ? firmware.size : 0);
    if (!begun.reading) return begun;
    return call(core._web_check_end, (await feed(firmware, begun.stalled)) ? 0 : 1);
  },
  plan: (bytes, name, pauseMs, port) => call(core._web_plan, bytes, name, pauseMs, port),
  testPattern: () => call(core._web_test_pattern),
  loop: (bytes, pauseMs, back, index, startMs, tried, passes) =>
    call(core._web_loop, bytes, pauseMs, back, index, startMs, tried, passes),
  report: (...fields) => call(core._web_report, ...fields),
};

// One request at a time, in order: an action that reads a file spans several calls of the core.
async function answer({ id, action, args }) {
  try {
    await ready;
  } catch (error) {
    postMessage({ id, failure: 'load', detail: String(error) });
    return;
  }
  try {
    const result = await actions[action](...args);
    postMessage({ id, result }, Object.values(result).filter((v) => v instanceof Uint8Array).map((v) => v.buffer));
  } catch (error) {
    if (error && error.stalled) postMessage({ id, failure: 'stalled', detail: error.stalled });
    else postMessage({ id, failure: 'crash', detail: String(error) });
  }
}

let queue = Promise.resolve();
onmessage = ({ data }) => {
  queue = queue.then(() => answer(data));
};

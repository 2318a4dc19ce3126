// The core's worker: loads the WebAssembly core and answers the page's requests one at a time.
// A file is read as a stream into one reused buffer and handed to the core a chunk at a time, so
// that neither a large file nor a long read ever holds up the page or fills its memory.
import loadFerrolet from './ferrolet.js';
import { CALLS, readResult } from './boundary.js';

// The worker's one state: the loaded core, its session, the limits it reads by, and the requests
// waiting their turn.
const worker = { core: null, session: 0, uploadStart: 0, queue: Promise.resolve() };
const ready = loadFerrolet().then((loaded) => {
  worker.core = loaded;
  worker.session = loaded._web_session();
  worker.uploadStart = call('limits').upload_start;
});

/**
 * Calls the core's web_NAME with `args` as boundary.js declares them: texts and byte arrays are
 * copied into its memory (a byte array as its place and length) and freed once the result is read.
 * @template {keyof typeof CALLS} C
 * @param {C} name
 * @param {...any} args
 * @returns {import('./boundary.js').Result<C>}
 */
function call(name, ...args) {
  const { core } = worker;
  const copies = [];
  const copy = (bytes) => {
    const p = core._malloc(Math.max(1, bytes.length));
    core.HEAPU8.set(bytes, p);
    copies.push(p);
    return p;
  };
  const values = CALLS[name].args.flatMap((kind, i) => {
    const a = args[i];
    if (kind === 'text') return [copy(new TextEncoder().encode(String(a) + '\0'))];
    if (kind === 'bytes') return [copy(a), a.length];
    if (kind === 'flag') return [a ? 1 : 0];
    return [Number(a)];
  });
  try {
    return readResult(name, core.HEAPU8, core[`_web_${name}`](worker.session, ...values));
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
  postMessage(call('feed', chunk));
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
const start = async (blob) => new Uint8Array(await blob.slice(0, worker.uploadStart).arrayBuffer());

// Each request of the page; boundary.js names the core call whose result answers it.
const actions = {
  page: (userAgent) => call('page', userAgent),
  async convert(file, heldSha256 = '', heldKept = false) {
    const begun = call('convert_begin', file.name, file.size, heldSha256, heldKept);
    if (!begun.reading) return call('convert_end', false);
    return call('convert_end', !(await feed(file, begun.stalled)));
  },
  async check(upload, firmware) {
    let first;
    try {
      first = await start(upload);
    } catch {
      first = new Uint8Array();
    }
    const begun = call('check_begin', upload.name, first, upload.size, firmware ? firmware.name : '',
      firmware ? firmware.size : 0);
    if (!begun.reading) return call('check_end', false);
    return call('check_end', !(await feed(firmware, begun.stalled)));
  },
  plan: (bytes, name, pauseMs, port) => call('plan', bytes, name, pauseMs, port),
  testPattern: () => call('test_pattern'),
  loop: (bytes, pauseMs, back, index, startMs, tried, passes) =>
    call('loop', bytes, pauseMs, back, index, startMs, tried, passes),
  report: (...fields) => call('report', ...fields),
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

onmessage = ({ data }) => {
  worker.queue = worker.queue.then(() => answer(data));
};

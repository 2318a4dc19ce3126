// What the core's worker does for the page: its actions, each called by name with named
// arguments and answered with the core's result. A file is read as a stream into one reused buffer
// and handed to the core a chunk at a time, so that neither a large file nor a long read ever
// holds up the page or fills its memory. This object is the page's API (web/core.js calls it).
import { orderedArgs, readResult } from './boundary.js';

/** @typedef {import('./boundary.js').Call} Call */
/** @typedef {(read: number) => void} Tell how many bytes of the file have been read so far */

// A stream read can stall for good in Chromium (after some dozens of files), so a read that
// brings nothing for STALL_MS goes on from where it stood with a slice read of its own, and a
// slice that stalls too ends the read as stalled: the page never waits forever.
const CHUNK = 1 << 20;
const STALL_MS = 5000;

/** @template T @param {Promise<T>} promise @returns {Promise<T | null>} null once it has stalled */
async function withinStall(promise) {
  let timer = 0;
  const stalled = new Promise((resolve) => { timer = setTimeout(() => resolve(null), STALL_MS); });
  try {
    return await Promise.race([promise, stalled]);
  } finally {
    clearTimeout(timer);
  }
}

/** A read that stalled: the worker tells the page which file it was. @param {string} name */
const stalledReading = (name) => Object.assign(new Error(`reading ${name} stalled`), { stalled: name });

/** @param {import('./ferrolet.js').Core} core */
export function coreActions(core) {
  const session = core._web_session();
  const encoder = new TextEncoder();

  /**
   * Calls the core's web_NAME with `args` as boundary.js declares them: texts and byte arrays are
   * copied into its memory (a byte array as its place and length) and freed once the result is read.
   * @template {Call} C
   * @param {C} name @param {import('./boundary.js').Args<C>} args
   * @returns {import('./boundary.js').Result<C>}
   */
  function call(name, args) {
    /** @type {number[]} */
    const copies = [];
    const copy = (/** @type {Uint8Array} */ bytes) => {
      const p = core._malloc(Math.max(1, bytes.length));
      core.HEAPU8.set(bytes, p);
      copies.push(p);
      return p;
    };
    const values = orderedArgs(name, args).flatMap(([kind, value]) => {
      if (kind === 'text') return [copy(encoder.encode(`${value}\0`))];
      if (kind === 'bytes') return [copy(/** @type {Uint8Array} */ (value)), /** @type {Uint8Array} */ (value).length];
      if (kind === 'flag') return [value ? 1 : 0];
      return [/** @type {number} */ (value)];
    });
    try {
      return readResult(name, core.HEAPU8, core[`_web_${name}`](session, ...values));
    } finally {
      copies.forEach((p) => core._free(p));
    }
  }
  const limits = call('limits', {});

  /** @param {Uint8Array} chunk @param {Tell} tell */
  const fed = (chunk, tell) => {
    tell(call('feed', { chunk }).read);
    return chunk.length;
  };

  /** The stream of `blob` fed to the core: the bytes fed, and true at its end, null where it stalled. @param {Blob} blob @param {Tell} tell */
  async function feedStream(blob, tell) {
    const stream = blob.stream();
    /** @type {ReadableStreamBYOBReader | null} */
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
      const read = await withinStall(byob ? byob.read(new Uint8Array(buffer)) : /** @type {ReadableStreamDefaultReader<Uint8Array>} */ (reader).read());
      if (read === null) {
        reader.cancel().catch(() => {});
        return { at, ended: null };
      }
      if (read.done || !read.value) return { at, ended: true };
      at += fed(read.value, tell);
      if (byob) buffer = /** @type {ArrayBuffer} */ (read.value.buffer);
    }
  }

  /**
   * Feeds `file` to the core whole: false if it cannot be read, or reads shorter than it was when
   * chosen; throws where it stalls.
   * @param {File} file @param {Tell} tell
   */
  async function feed(file, tell) {
    let at;
    try {
      const stream = await feedStream(file, tell);
      if (stream.ended) return stream.at === file.size;
      at = stream.at;
    } catch {
      return false;
    }
    for (; at < file.size; at += CHUNK) {
      let chunk;
      try {
        chunk = await withinStall(file.slice(at, at + CHUNK).arrayBuffer());
      } catch {
        return false;
      }
      if (chunk === null) throw stalledReading(file.name);
      fed(new Uint8Array(chunk), tell);
    }
    return true;
  }

  /**
   * The first bytes of an upload, enough to tell a file longer than any upload; null if they
   * cannot be read (a browser may read a file gone from the disk as shorter than it was chosen).
   * @param {File} upload
   */
  async function uploadStart(upload) {
    let start;
    try {
      start = await withinStall(upload.slice(0, limits.upload_start).arrayBuffer());
    } catch {
      return null;
    }
    if (start === null) throw stalledReading(upload.name);
    return start.byteLength === Math.min(upload.size, limits.upload_start) ? new Uint8Array(start) : null;
  }

  return {
    limits: async (/** @type {Record<string, never>} */ _none) => limits,
    /** Converts `file` as `ferrolet FILE` would. @param {{ file: File }} args @param {Tell} tell */
    async convert({ file }, tell) {
      const begun = call('convert_begin', { name: file.name, size: file.size });
      const unreadable = begun.reading && !(await feed(file, tell));
      return call('convert_end', { unreadable });
    },
    /** Checks `upload` (against `firmware`, if given) as ferrolet-check would. @param {{ upload: File, firmware: File | null }} args @param {Tell} tell */
    async check({ upload, firmware }, tell) {
      const start = await uploadStart(upload);
      const begun = call('check_begin', {
        upload_name: upload.name, upload_start: start || new Uint8Array(), upload_size: upload.size,
        upload_unreadable: start === null, firmware_name: firmware ? firmware.name : '', firmware_size: firmware ? firmware.size : 0,
      });
      const unreadable = begun.reading && firmware !== null && !(await feed(firmware, tell));
      return call('check_end', { unreadable });
    },
    /** The plan for sending `upload` with `pause_ms` between frames. @param {import('./boundary.js').Args<'plan'>} args */
    plan: async (args) => call('plan', args),
    testPattern: async (/** @type {Record<string, never>} */ none) => call('test_pattern', none),
    /** Judges one run of the interface test. @param {import('./boundary.js').Args<'loop'>} args */
    loop: async (args) => call('loop', args),
  };
}
/** @typedef {ReturnType<typeof coreActions>} Actions */

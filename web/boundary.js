// The boundary between the page and its core, declared once: each call the core exports (web_NAME),
// its named arguments and the fields of its result, in order. Results are data (choices, counts,
// sizes, names, bytes, plans) and the programs' own text only; the page's sentences are its own
// (web/words.js). web/boundary.mjs writes the core's side from this at configure time (an
// arguments struct and a result struct per call, the result's encoder, the C entry point that
// passes the one to the other, the export list); the worker encodes arguments and reads results
// with it; the type checker derives both from it, so an argument or a field misspelt, missing or
// of the wrong kind fails the lint.
//
// A result is its fields in the declared order, each a 4-byte little-endian length, then the body:
// a text's UTF-8 bytes, bytes as they are, a number as an 8-byte little-endian double, a flag or a
// choice (a field whose kind lists its values) as one byte, numbers as doubles one after another.
//
// An argument's kind: 'text' (a NUL-ended string), 'bytes' (place and length), 'number' (a double)
// or 'flag' (an int, 0 or 1).

/** @typedef {{ text: string, bytes: Uint8Array<ArrayBuffer>, number: number, flag: boolean, numbers: number[] }} Kinds */
/** @typedef {{ text: string, bytes: Uint8Array, number: number, flag: boolean }} ArgumentKinds */

// What a file looks like from its first bytes, so that the page can say when one is in the wrong box.
const KIND = /** @type {const} */ (['empty', 'upload', 'hex_text', 'other']);

export const CALLS = /** @type {const} */ ({
  limits: {
    args: {},
    result: {
      version: 'text', upload_start: 'number', pause_max_ms: 'number', firmware_types: 'text',
      upload_types: 'text', memory_kb: 'number', shown_faults: 'number', din_bytes_per_second: 'number',
      longest_test_pause_ms: 'number',
    },
  },
  convert_begin: { args: { name: 'text', size: 'number' }, result: { reading: 'flag' } },
  feed: { args: { chunk: 'bytes' }, result: { read: 'number' } },
  convert_end: {
    args: { unreadable: 'flag' },
    result: {
      outcome: ['converted', 'bad_name', 'unreadable', 'lowest_not_zero', 'read_errors', 'beyond_memory', 'nothing_built'],
      // What the command says: `messages` while reading (its first shown_faults faults), then
      // `more_faults` not shown, then `closing` (the summary and what came of it).
      messages: 'text', more_faults: 'number', closing: 'text', kind: KIND, blocks: 'number', upload: 'bytes',
      upload_name: 'text', map: 'text',
    },
  },
  check_begin: {
    args: {
      upload_name: 'text', upload_start: 'bytes', upload_size: 'number', upload_unreadable: 'flag',
      firmware_name: 'text', firmware_size: 'number',
    },
    result: { reading: 'flag' },
  },
  check_end: {
    args: { unreadable: 'flag' },
    result: {
      outcome: ['valid', 'invalid', 'unreadable'], with_firmware: 'flag', kind: KIND, report: 'text', upload: 'bytes',
    },
  },
  plan: {
    args: { upload: 'bytes', pause_ms: 'number' },
    result: {
      steps: 'number', offset: 'numbers', length: 'numbers', at_us: 'numbers', end_us: 'numbers', block: 'numbers',
      blocks: 'number', pause_ms: 'number',
    },
  },
  test_pattern: { args: {}, result: { upload: 'bytes' } },
  loop: {
    args: {
      upload: 'bytes', pause_ms: 'number', back: 'bytes', index: 'bytes', start_ms: 'number', tried: 'number',
      passes: 'number',
    },
    result: {
      frames: 'number', intact: 'number', lost: 'number', changed: 'number',
      // The first frame that came back changed: its block (-1 the preamble, 0 the header), and
      // either the byte where it first differs with the bytes sent and received there, or the
      // length it came back with.
      first_change: ['none', 'byte', 'length'], changed_block: 'number', changed_at: 'number', sent_byte: 'number',
      got_byte: 'number', took_ms: 'number', line_ms: 'number', clock: 'number', sensing: 'number', sysex: 'number',
      other: 'number', step: ['run', 'carries', 'found', 'gave_up'], pause_ms: 'number', tried: 'number',
      passes: 'number',
    },
  },
});

/** @typedef {keyof typeof CALLS} Call */

/**
 * The value of a declared kind: a choice is one of its values.
 * @template K
 * @typedef {K extends readonly string[] ? K[number] : Kinds[K & keyof Kinds]} Of
 */

/**
 * @template K
 * @typedef {ArgumentKinds[K & keyof ArgumentKinds]} ArgumentOf
 */

/**
 * The arguments of a core call, by name.
 * @template {Call} C
 * @typedef {{ -readonly [A in keyof typeof CALLS[C]['args']]: ArgumentOf<typeof CALLS[C]['args'][A]> }} Args
 */

/**
 * The result of a core call: a field for each declared one, of its kind.
 * @template {Call} C
 * @typedef {{ -readonly [F in keyof typeof CALLS[C]['result']]: Of<typeof CALLS[C]['result'][F]> }} Result
 */

/** @type {Record<string, (value: unknown) => boolean>} */
const CHECKS = {
  text: (v) => typeof v === 'string',
  number: (v) => typeof v === 'number',
  flag: (v) => typeof v === 'boolean',
  bytes: (v) => v instanceof Uint8Array,
};

/**
 * The arguments of the call `name` in their declared order, each checked: a name that is not
 * declared, a declared one missing or a value of another kind throws.
 * @template {Call} C
 * @param {C} name
 * @param {Args<C>} args
 * @returns {[string, unknown][]} each argument's kind and value
 */
export function orderedArgs(name, args) {
  const declared = /** @type {Record<string, string>} */ (CALLS[name].args);
  for (const given of Object.keys(args)) {
    if (!(given in declared)) throw new TypeError(`${name}: no argument ${given}`);
  }
  return Object.entries(declared).map(([arg, kind]) => {
    const value = /** @type {Record<string, unknown>} */ (args)[arg];
    if (!CHECKS[kind](value)) throw new TypeError(`${name}: ${arg} must be ${kind === 'flag' ? 'a flag' : `a ${kind}`}`);
    return [kind, value];
  });
}

/**
 * Reads the result of the call `name` from `heap` at `at`.
 * @template {Call} C
 * @param {C} name
 * @param {Uint8Array} heap
 * @param {number} at
 * @returns {Result<C>}
 */
export function readResult(name, heap, at) {
  const view = new DataView(heap.buffer);
  const decoder = new TextDecoder();
  /** @type {Record<string, unknown>} */
  const result = {};
  for (const [field, kind] of Object.entries(CALLS[name].result)) {
    const size = view.getUint32(at, true);
    const body = at + 4;
    const end = body + size;
    if (kind === 'text') result[field] = decoder.decode(heap.subarray(body, end));
    else if (kind === 'bytes') result[field] = heap.slice(body, end);
    else if (kind === 'number') result[field] = view.getFloat64(body, true);
    else if (kind === 'flag') result[field] = heap[body] === 1;
    else if (kind === 'numbers') result[field] = Array.from({ length: size / 8 }, (_, i) => view.getFloat64(body + 8 * i, true));
    else result[field] = kind[heap[body]];
    at = end;
  }
  return /** @type {Result<C>} */ (result);
}

// The boundary between the page and its core, declared once: each call the core exports (web_NAME),
// the kinds of its arguments, and the fields of its result, in order. web/boundary.mjs writes the
// core's side from it at configure time (its result structs and their encoders, the calls'
// prototypes, the export list); the worker reads results with it; the type checker derives each
// result's type from it, so a field misspelt or of the wrong kind fails the lint.
//
// A result is its fields in the declared order, each a 4-byte little-endian length, then the body:
// a text's UTF-8 bytes, bytes as they are, a number as an 8-byte little-endian double, a flag or a
// choice (a field whose kind lists its values) as one byte, numbers as doubles one after another,
// texts as each one's length (4 bytes) and bytes in turn.
//
// An argument's kind: 'text' (a NUL-ended string), 'bytes' (place and length), 'number' (a double)
// or 'flag' (an int, 0 or 1).

/** @typedef {'text' | 'number' | 'flag' | 'bytes'} ArgumentKind */
/** @typedef {{ text: string, bytes: Uint8Array<ArrayBuffer>, number: number, flag: boolean, numbers: number[], texts: string[] }} Kinds */

const READING = /** @type {const} */ ({ reading: 'flag', stalled: 'text' });

export const CALLS = /** @type {const} */ ({
  limits: { args: [], result: { upload_start: 'number' } },
  page: {
    args: ['text'],
    result: {
      pause_min_ms: 'number', pause_max_ms: 'number', pause_label: 'text', midi_missing: 'text',
      midi_refused: 'text', midi_ready: 'text', midi_no_port: 'text', nothing_to_send: 'text',
      firmware_types: 'text', upload_types: 'text', held_missing: 'text', outdated: 'text',
    },
  },
  convert_begin: { args: ['text', 'number', 'text', 'flag'], result: READING },
  feed: { args: ['bytes'], result: { progress: 'text', stopped: 'text' } },
  convert_end: {
    args: ['flag'],
    result: {
      status: 'number', messages: 'text', held: 'text', verdict: 'text', good: 'flag', hint: 'text',
      upload: 'bytes', upload_name: 'text', download_label: 'text', offer: 'text', map: 'text',
    },
  },
  check_begin: { args: ['text', 'bytes', 'number', 'text', 'number'], result: READING },
  check_end: {
    args: ['flag'],
    result: { status: 'number', report: 'text', verdict: 'text', good: 'flag', hint: 'text', upload: 'bytes', offer: 'text' },
  },
  plan: {
    args: ['bytes', 'text', 'number', 'text'],
    result: {
      steps: 'number', offset: 'numbers', length: 'numbers', at_us: 'numbers', end_us: 'numbers',
      block: 'numbers', progress: 'texts', cancelled: 'texts', lost: 'texts', interrupted: 'texts',
      test_cancelled: 'texts', lost_before_any: 'text', test_running: 'text', sending: 'text',
      port_unavailable: 'text', pause_ms: 'number', done: 'text',
    },
  },
  test_pattern: { args: [], result: { upload: 'bytes', upload_name: 'text' } },
  loop: {
    args: ['bytes', 'number', 'bytes', 'bytes', 'number', 'number', 'number'],
    result: {
      report: 'text', passed: 'flag', step: ['run', 'carries', 'found', 'gave_up'], pause_ms: 'number',
      tried: 'number', passes: 'number', verdict: 'text',
    },
  },
  report: {
    args: ['text', 'text', 'text', 'text', 'number', 'text', 'number', 'text', 'text'],
    result: { report: 'text' },
  },
});

// The worker's requests, each answered with the result of the core call named.
export const REQUESTS = /** @type {const} */ ({
  page: 'page', convert: 'convert_end', check: 'check_end', plan: 'plan', testPattern: 'test_pattern',
  loop: 'loop', report: 'report',
});

/**
 * The result of a core call: a field for each declared one, of its kind.
 * @template {keyof typeof CALLS} C
 * @typedef {{ -readonly [F in keyof typeof CALLS[C]['result']]: typeof CALLS[C]['result'][F] extends readonly string[]
 *   ? typeof CALLS[C]['result'][F][number] : Kinds[typeof CALLS[C]['result'][F] & keyof Kinds] }} Result
 */

/** @typedef {{ [R in keyof typeof REQUESTS]: Result<typeof REQUESTS[R]> }} Answers */

/**
 * Reads the result of the call `name` from `heap` at `at`.
 * @template {keyof typeof CALLS} C
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
    else if (kind === 'texts') {
      const texts = [];
      for (let p = body; p < end; p += 4 + view.getUint32(p, true)) {
        texts.push(decoder.decode(heap.subarray(p + 4, p + 4 + view.getUint32(p, true))));
      }
      result[field] = texts;
    } else result[field] = kind[heap[body]];
    at = end;
  }
  return /** @type {Result<C>} */ (result);
}

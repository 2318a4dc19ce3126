// The page's state, a part per box, and the rules over it: which answers a box still takes, what
// Send offers, what can be pressed. Pure functions of the state, so that they are tested without
// a browser; handlers change the state and the view (web/view.js) shows it.

/** @typedef {import('./boundary.js').Result<'convert_end'>} Converted */
/** @typedef {import('./boundary.js').Result<'check_end'>} Checked */
/** @typedef {import('./boundary.js').Result<'limits'>} Limits */
/** @typedef {import('./boundary.js').Result<'plan'>} Plan */
/** @typedef {{ id: string, name: string }} Port */
/** @typedef {{ name: string, sha256: string, kept: boolean, upload?: boolean }} Held */
/** @typedef {{ output: string, input: string, name: string, upload: Uint8Array, blocks: number, pause: number, outcome: string, test: string }} Run */

/**
 * A box that reads a file and shows the core's answer: the stamp of its latest choice, the file
 * it reads (with how much has come, or -1), whether a request of its is under way, and what
 * came of it: the answer, or the sentence said instead (stopped, stalled).
 * @template A
 */
function newBox() {
  return {
    stamp: 0,
    name: '',
    reading: { name: '', size: 0, read: -1 },
    busy: false,
    /** @type {A | null} */
    answer: null,
    ended: '',
    // Set where what was said instead of an answer is a failure (a read that stalled), not a Stop.
    failed: false,
    /** @type {Held | null} the firmware (or upload) the page holds, when that is what this choice is */
    held: null,
  };
}

export function newState() {
  return {
    /** @type {Limits | null} the core's limits, once it has answered */
    limits: null,
    userAgent: '',
    /** @type {string} why the page cannot work, if it cannot */
    failure: '',
    // Set once a newer version of the page is published and installed: it then offers nothing.
    outdated: false,
    stamps: 0,
    convert: /** @type {ReturnType<typeof newBox<Converted>>} */ (newBox()),
    check: /** @type {ReturnType<typeof newBox<Checked>>} */ (newBox()),
    // The firmware list of the element's manifest: its firmwares, the one chosen, whether the
    // service worker answered for it from its cache, and what went wrong with it, if anything.
    manifest: {
      name: '', url: '', chosen: 0, kept: false, trouble: '',
      /** @type {import('./manifest.js').Firmware[]} */
      firmwares: [],
    },
    /** @type {'convert' | 'check' | ''} the box a file is dragged over */
    dragging: '',
    pause: '0',
    midi: {
      /** @type {MIDIAccess | null} */
      access: null,
      /** @type {'' | 'missing' | 'refused'} */
      denied: '',
      /** @type {{ outputs: Port[], inputs: Port[] }} */
      ports: { outputs: [], inputs: [] },
      output: '',
      input: '',
    },
    // From the moment Send or the test is pressed until its plan is there and its port open.
    planning: false,
    /** @type {import('./sending.js').Transmission | null} what is being handed over */
    sending: null,
    /** @type {{ result: string, detail: string, failed: boolean, shown: { plan: Plan, last: number } | null }} the last send's or test run's progress and outcome, and whether it failed */
    send: { result: '', detail: '', failed: false, shown: null },
    test: { running: false, status: '', failed: false, reports: /** @type {string[]} */ ([]) },
    /** @type {Run | null} the last send or test, for its report */
    lastRun: null,
    pageReport: '',
    /** @type {string} the element to move the focus to once shown */
    focus: '',
  };
}
/** @typedef {ReturnType<typeof newState>} State */
/** @typedef {'convert' | 'check'} BoxName */

/**
 * A new choice in `box`: what it showed goes, and only answers stamped with the returned stamp
 * are taken from now on. Stamps count over both boxes, so the latest choice of all is known.
 * @param {State} state @param {BoxName} box @param {string} name @param {Held | null} held
 */
export function choose(state, box, name, held = null) {
  const b = state[box];
  Object.assign(b, { stamp: ++state.stamps, name, answer: null, ended: '', failed: false, held, busy: false });
  b.reading = { name: '', size: 0, read: -1 };
  return b.stamp;
}

/** True if `stamp` is still `box`'s latest choice: an answer for an older one is dropped. @param {State} state @param {BoxName} box @param {number} stamp */
export const current = (state, box, stamp) => state[box].stamp === stamp;

/**
 * What Send would send: the upload of the latest choice in either box, if that gave one, and
 * nothing once the page is out of date.
 * @param {State} state
 * @returns {{ stamp: number, name: string, bytes: Uint8Array, how: 'converted' | 'checked' } | null}
 */
export function offerOf(state) {
  if (state.outdated) return null;
  const { convert, check } = state;
  if (check.stamp > convert.stamp) {
    const a = check.answer;
    return a && a.outcome === 'valid' ? { stamp: check.stamp, name: check.name, bytes: a.upload, how: 'checked' } : null;
  }
  const a = convert.answer;
  if (!a || a.outcome !== 'converted' || a.upload.length === 0) return null;
  return { stamp: convert.stamp, name: a.upload_name, bytes: a.upload, how: 'converted' };
}

/** What Download saves: the Convert box's upload, if it made one. @param {State} state */
export function downloadOf(state) {
  const a = state.convert.answer;
  return !state.outdated && a && a.outcome === 'converted' && a.upload.length > 0 ? { name: a.upload_name, bytes: a.upload } : null;
}

/** The port of `ports` that is chosen: `id` while it is there, else the first. @param {Port[]} ports @param {string} id */
export const chosenPort = (ports, id) => (ports.some((p) => p.id === id) ? id : ports[0]?.id ?? '');

/** @param {State} state */
const idle = (state) => state.midi.access !== null && !state.planning && state.sending === null && !state.test.running;
/** @param {State} state */
export const canSend = (state) => idle(state) && state.midi.ports.outputs.length > 0 && offerOf(state) !== null;
/** @param {State} state */
export const canTest = (state) => idle(state) && state.midi.ports.outputs.length > 0 && state.midi.ports.inputs.length > 0;
// A report tells of a send or a test that is over, never of one between its runs.
/** @param {State} state */
export const canCopyReport = (state) => state.lastRun !== null && state.sending === null && !state.test.running && !state.planning;

/** `value` as a pause the page takes: a whole number of ms from 0 to `max`. @param {unknown} value @param {number} max */
export const withinPauseLimits = (value, max) => Math.min(max, Math.max(0, Math.round(Number(value) || 0)));

/**
 * The page's storage, reached through `open` (which may throw, as `localStorage` does where the
 * browser blocks site data): each use that fails does nothing, and reads give null.
 * @param {() => Storage} open
 */
export function guardedStorage(open) {
  /** @template T @param {(s: Storage) => T} use @returns {T | null} */
  const attempt = (use) => {
    try {
      return use(open());
    } catch {
      return null;
    }
  };
  return {
    /** @param {string} key */
    get: (key) => attempt((s) => s.getItem(key)),
    /** @param {string} key @param {string} value */
    set: (key, value) => void attempt((s) => s.setItem(key, value)),
    /** @param {string} key */
    remove: (key) => void attempt((s) => s.removeItem(key)),
  };
}

// Handing an upload's messages to a MIDI output at the times the core planned: for Send and for
// the interface test alike. A transmission is { output, plan (the core's), bytes, name, stopped,
// detail, last (the last step handed over), start }; it can be stopped at any moment, and stops by
// itself if the port fails.

// Messages are handed to the port this long before they are due, so that a stop can still hold
// back everything later.
export const LOOKAHEAD_MS = 60;

/**
 * @param {MIDIOutput} output @param {import('./boundary.js').Result<'plan'>} plan @param {Uint8Array} bytes
 * @param {string} name
 */
export function newTransmission(output, plan, bytes, name) {
  return {
    output, plan, bytes, name,
    /** @type {'cancel' | 'lost' | null} */
    stopped: null,
    detail: '', last: -1, start: 0, wake: () => {},
  };
}
/** @typedef {ReturnType<typeof newTransmission>} Transmission */

/**
 * Stops `current` at once, for `why`; the first reason given stands.
 * @param {Transmission | null} current @param {'cancel' | 'lost'} why @param {string} detail
 */
export function stopTransmission(current, why, detail) {
  if (!current || current.stopped) return;
  current.stopped = why;
  current.detail = detail;
  current.wake();
}

/** Waits until `time`, or until the transmission is stopped. @param {Transmission} current @param {number} time */
function pauseUntil(current, time) {
  return /** @type {Promise<void>} */ (new Promise((resolve) => {
    const timer = setTimeout(resolve, Math.max(0, time - performance.now()));
    current.wake = () => {
      clearTimeout(timer);
      resolve();
    };
  }));
}

// Hands each planned message to the port shortly before it is due, calling `handed(i)` after
// each, until all are handed over or the transmission is stopped; then waits for the last one to
// be through the line.
/** @param {Transmission} current @param {(i: number) => void} handed */
export async function handOver(current, handed) {
  const { output, plan: steps, bytes } = current;
  current.start = performance.now() + LOOKAHEAD_MS;
  for (let i = 0; i < steps.steps && !current.stopped; i++) {
    const due = current.start + steps.at_us[i] / 1000;
    await pauseUntil(current, due - LOOKAHEAD_MS);
    if (current.stopped) break;
    try {
      output.send(bytes.subarray(steps.offset[i], steps.offset[i] + steps.length[i]), due);
    } catch (error) {
      stopTransmission(current, 'lost', /** @type {Error} */ (error).message);
      break;
    }
    current.last = i;
    handed(i);
  }
  if (!current.stopped) await pauseUntil(current, current.start + steps.end_us[steps.steps - 1] / 1000);
}

/** Waits `ms` more, unless the transmission is stopped first. @param {Transmission} current @param {number} ms */
export const linger = (current, ms) => (current.stopped ? Promise.resolve() : pauseUntil(current, performance.now() + ms));

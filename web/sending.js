// Handing an upload's messages to a MIDI output at the times the core planned: for Send and for
// the interface test alike. A transmission is { output, steps (the core's plan), bytes, stopped,
// detail, last, start }; it can be stopped at any moment, and stops by itself if the port fails.

// Messages are handed to the port this long before they are due, so that a stop can still hold
// back everything later.
export const LOOKAHEAD_MS = 60;

export function newTransmission(output, steps, bytes) {
  return { output, steps, bytes, stopped: null, detail: '', last: -1, start: 0, wake: () => {} };
}

// Stops `current` at once, for `why` ('cancel' or 'lost'); the first reason given stands.
export function stopTransmission(current, why, detail) {
  if (!current || current.stopped) return;
  current.stopped = why;
  current.detail = detail;
  current.wake();
}

// Waits until `time`, or until the transmission is stopped.
function pauseUntil(current, time) {
  return new Promise((resolve) => {
    const timer = setTimeout(resolve, Math.max(0, time - performance.now()));
    current.wake = () => {
      clearTimeout(timer);
      resolve();
    };
  });
}

// Hands each planned message to the port shortly before it is due, calling `handed(i)` after
// each, until all are handed over or the transmission is stopped; then waits for the last one to
// be through the line.
export async function handOver(current, handed) {
  const { output, steps, bytes } = current;
  current.start = performance.now() + LOOKAHEAD_MS;
  for (let i = 0; i < steps.steps && !current.stopped; i++) {
    const due = current.start + steps.at_us[i] / 1000;
    await pauseUntil(current, due - LOOKAHEAD_MS);
    if (current.stopped) break;
    try {
      output.send(bytes.subarray(steps.offset[i], steps.offset[i] + steps.length[i]), due);
    } catch (error) {
      stopTransmission(current, 'lost', error.message);
      break;
    }
    current.last = i;
    handed(i);
  }
  if (!current.stopped) await pauseUntil(current, current.start + steps.end_us[steps.steps - 1] / 1000);
}

// Waits `ms` more, unless the transmission is stopped first.
export const linger = (current, ms) => (current.stopped ? Promise.resolve() : pauseUntil(current, performance.now() + ms));

// The page's side of the core: requests to the core's worker, answered in the order they were
// made, and a way to stop what the worker is doing (it is ended and a new one started).

// Answers every request still waiting with `failure`.
function fail(core, failure, detail) {
  for (const { reject } of core.pending.values()) reject({ failure, detail });
  core.pending.clear();
}

function answered(core, { data }) {
  if (data.progress !== undefined) {
    core.onProgress(data.progress, data.stopped);
    return;
  }
  const { resolve, reject } = core.pending.get(data.id);
  core.pending.delete(data.id);
  if (data.failure) reject({ failure: data.failure, detail: data.detail });
  else resolve(data.result);
}

function startWorker(core) {
  core.worker = new Worker(new URL('./core-worker.js', import.meta.url), { type: 'module' });
  core.worker.onmessage = (event) => answered(core, event);
  // A worker that cannot even start (its script missing, say) fails every request.
  core.worker.onerror = (event) => {
    event.preventDefault();
    fail(core, 'load', event.message || 'the worker could not start');
  };
}

// `onProgress(progress, stopped)` hears how far a read has come and what to say if it is stopped.
export function startCore(onProgress) {
  const core = { worker: null, next: 0, pending: new Map(), onProgress };
  startWorker(core);
  return {
    /**
     * Resolves to the result of `action`, or rejects with { failure: 'load', 'crash', 'stalled'
     * or 'stopped', detail }.
     * @template {keyof import('./boundary.js').Answers} A
     * @param {A} action
     * @param {...any} args
     * @returns {Promise<import('./boundary.js').Answers[A]>}
     */
    request(action, ...args) {
      const id = core.next++;
      return new Promise((resolve, reject) => {
        core.pending.set(id, { resolve, reject });
        core.worker.postMessage({ id, action, args });
      });
    },
    // Ends what the worker is doing; the requests it had are answered as stopped.
    stop() {
      core.worker.terminate();
      fail(core, 'stopped', '');
      startWorker(core);
    },
  };
}

// The page's side of the core: requests to the core's worker, answered in the order they were
// made, and a way to stop what the worker is doing (it is ended and a new one started).
export function startCore(onProgress) {
  let worker = null;
  let next = 0;
  const pending = new Map();

  const fail = (failure, detail) => {
    for (const { reject } of pending.values()) reject({ failure, detail });
    pending.clear();
  };
  const start = () => {
    worker = new Worker(new URL('./core-worker.js', import.meta.url), { type: 'module' });
    worker.onmessage = ({ data }) => {
      if (data.progress !== undefined) {
        onProgress(data.progress, data.stopped);
        return;
      }
      const { resolve, reject } = pending.get(data.id);
      pending.delete(data.id);
      if (data.failure) reject({ failure: data.failure, detail: data.detail });
      else resolve(data.result);
    };
    // A worker that cannot even start (its script missing, say) fails every request.
    worker.onerror = (event) => {
      event.preventDefault();
      fail('load', event.message || 'the worker could not start');
    };
  };
  start();

  return {
    request(action, ...args) {
      const id = next++;
      return new Promise((resolve, reject) => {
        pending.set(id, { resolve, reject });
        worker.postMessage({ id, action, args });
      });
    },
    // Ends what the worker is doing; the requests it had are answered as stopped.
    stop() {
      worker.terminate();
      fail('stopped', '');
      start();
    },
  };
}

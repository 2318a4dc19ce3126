// The page's side of the core: the worker's actions (web/core-actions.js), called by name with
// their named arguments. Requests are handed to the worker one at a time, in the order they were
// made; each belongs to an owner (a box), and stopping an owner ends only its own requests: one
// under way ends the worker, which is started anew for the requests still waiting.

/** @typedef {import('./core-actions.js').Actions} Actions */
/** @typedef {{ failure: 'load' | 'crash' | 'stalled' | 'stopped', detail: string }} Failure */
/** @typedef {{ owner?: string, progress?: (read: number) => void }} Options */
/**
 * @typedef {{ [A in keyof Actions]: (args: Parameters<Actions[A]>[0], options?: Options) => Promise<Awaited<ReturnType<Actions[A]>>> }} Ask
 */
/**
 * @typedef {{ id: number, action: string, args: unknown, owner: string, progress: (read: number) => void,
 *   resolve: (result: any) => void, reject: (failure: Failure) => void }} Request
 */

/** @param {Request} request @param {Failure['failure']} failure @param {string} detail */
const fail = (request, failure, detail) => request.reject({ failure, detail });

export function startCore() {
  const core = {
    /** @type {Worker | null} */
    worker: null,
    /** @type {Request[]} */
    queue: [],
    /** @type {Request | null} */
    running: null,
    next: 0,
    // Set once the worker could not even start (its script missing, say): every request fails so.
    broken: '',
  };

  function pump() {
    if (core.running || core.queue.length === 0 || !core.worker) return;
    const request = /** @type {Request} */ (core.queue.shift());
    core.running = request;
    core.worker.postMessage({ id: request.id, action: request.action, args: request.args });
  }

  /** @param {MessageEvent} event */
  function answered({ data }) {
    const request = core.running;
    if (!request || data.id !== request.id) return;
    if (data.progress !== undefined) return request.progress(data.progress);
    core.running = null;
    if (data.failure) fail(request, data.failure, data.detail);
    else request.resolve(data.result);
    pump();
  }

  function start() {
    const worker = new Worker(new URL('./core-worker.js', import.meta.url), { type: 'module' });
    worker.onmessage = answered;
    worker.onerror = (event) => {
      event.preventDefault();
      core.broken = event.message || 'the worker could not start';
      for (const request of [core.running, ...core.queue]) if (request) fail(request, 'load', core.broken);
      core.running = null;
      core.queue = [];
    };
    core.worker = worker;
  }

  /** @param {string} action @param {unknown} args @param {Options} options */
  const ask = (action, args, { owner = '', progress = () => {} } = {}) => new Promise((resolve, reject) => {
    const request = { id: core.next++, action, args, owner, progress, resolve, reject };
    if (core.broken) return fail(request, 'load', core.broken);
    core.queue.push(request);
    pump();
  });

  start();
  return {
    /** @type {Ask} each action of the worker, by its name */
    ask: /** @type {any} */ (new Proxy({}, {
      get: (_, action) => (/** @type {unknown} */ args, /** @type {Options | undefined} */ options) => ask(String(action), args, options),
    })),
    /** Ends `owner`'s requests, waiting or under way; they fail as stopped. @param {string} owner */
    stop(owner) {
      const mine = core.queue.filter((r) => r.owner === owner);
      core.queue = core.queue.filter((r) => r.owner !== owner);
      const running = core.running && core.running.owner === owner ? core.running : null;
      if (running) {
        core.worker?.terminate();
        core.running = null;
        start();
      }
      for (const request of running ? [...mine, running] : mine) fail(request, 'stopped', '');
      pump();
    },
  };
}

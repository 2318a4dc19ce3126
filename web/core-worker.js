// The core's worker: loads the WebAssembly core and answers the page's requests (web/core.js
// sends one at a time), each an action of web/core-actions.js called by its name.
import loadFerrolet from './ferrolet.js';
import { coreActions } from './core-actions.js';

const ready = loadFerrolet().then(coreActions);

/** @param {MessageEvent<{ id: number, action: keyof import('./core-actions.js').Actions, args: any }>} event */
onmessage = async ({ data: { id, action, args } }) => {
  let actions;
  try {
    actions = await ready;
  } catch (error) {
    postMessage({ id, failure: 'load', detail: String(error) });
    return;
  }
  try {
    const result = await actions[action](args, (read) => postMessage({ id, progress: read }));
    postMessage({ id, result }, Object.values(result).filter((v) => v instanceof Uint8Array).map((v) => v.buffer));
  } catch (error) {
    const stalled = /** @type {{ stalled?: string }} */ (error).stalled;
    if (stalled !== undefined) postMessage({ id, failure: 'stalled', detail: stalled });
    else postMessage({ id, failure: 'crash', detail: String(error) });
  }
};

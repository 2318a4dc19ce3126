// Sending through Web MIDI and testing the interface: the ports, the plan asked of the core, the
// messages handed over at its times, and what came of it, for the report. Handlers change the
// page's state and call its render, as app.js does.
import { handOver, linger, newTransmission, stopTransmission } from './sending.js';
import { canCopyReport, canSend, chosenPort, offerOf, withinPauseLimits } from './state.js';
import * as say from './words.js';

/** @typedef {import('./sending.js').Transmission} Transmission */
/** @typedef {import('./boundary.js').Result<'plan'>} Plan */

export const PAUSE_KEY = 'ferrolet.extraPauseMs';
export const INTERRUPTED_KEY = 'ferrolet.interruptedSend';
// How long after the last frame the interface test still listens for it to come back.
const ECHO_MS = 250;

/** @param {Uint8Array} bytes @returns {Promise<string>} the SHA-256 of `bytes`, in hex */
export async function sha256Of(bytes) {
  const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', /** @type {Uint8Array<ArrayBuffer>} */ (bytes)));
  return [...digest].map((b) => b.toString(16).padStart(2, '0')).join('');
}

/**
 * The element's MIDI handlers over its `state`, its `core`, its `show` (the render), its
 * `storage` and its `emit` (an event to the host page).
 * @param {{ state: import('./state.js').State, core: ReturnType<typeof import('./core.js').startCore>, show: () => void,
 *   storage: ReturnType<typeof import('./state.js').guardedStorage>, emit: (type: string, detail: object) => void }} page
 */
export function midiHandlers({ state, core, show, storage, emit }) {
  const limits = () => /** @type {import('./state.js').Limits} */ (state.limits);

  /** @param {MIDIInputMap | MIDIOutputMap} ports */
  const listed = (ports) => [...ports.values()].map((p) => ({ id: p.id, name: p.name || p.id }));

  function listPorts() {
    const access = /** @type {MIDIAccess} */ (state.midi.access);
    state.midi.ports = { outputs: listed(access.outputs), inputs: listed(access.inputs) };
    show();
  }

  // A port that goes away during a send stops it at once.
  /** @param {Event} event */
  function portChanged(event) {
    const { port } = /** @type {MIDIConnectionEvent} */ (event);
    const { sending } = state;
    if (sending && port && port.id === sending.output.id && port.state === 'disconnected') stopTransmission(sending, 'lost', '');
    listPorts();
  }

  // Asked for only when the user wants the ports, so that no permission prompt greets a visitor.
  async function startMidi() {
    if (!navigator.requestMIDIAccess) return;
    if (!state.midi.access) {
      try {
        state.midi.access = await navigator.requestMIDIAccess({ sysex: true });
      } catch {
        state.midi.denied = 'refused';
        return show();
      }
      state.midi.denied = '';
      state.midi.access.addEventListener('statechange', portChanged);
    }
    state.focus = 'port';
    listPorts();
  }

  /**
   * The chosen port of `kind` with its name, or only its name where it has gone from the browser's
   * list since it was shown (nothing is then sent).
   * @template {'outputs' | 'inputs'} K @param {K} kind
   */
  function chosen(kind) {
    const { access, ports } = state.midi;
    const id = chosenPort(ports[kind], state.midi[kind === 'outputs' ? 'output' : 'input']);
    const name = ports[kind].find((p) => p.id === id)?.name ?? '';
    const port = /** @type {(K extends 'outputs' ? MIDIOutput : MIDIInput) | undefined} */ (access?.[kind].get(id));
    return { port, name };
  }

  /**
   * The core's plan for sending `bytes` with `pause` extra between frames, with `output` opened for
   * it; Send and the test are not offered meanwhile. Null if `output` cannot be opened (held by
   * another program, say): nothing is handed to a port that is not open.
   * @param {MIDIOutput} output @param {Uint8Array} bytes @param {number} pause
   */
  async function planFor(output, bytes, pause) {
    state.planning = true;
    show();
    try {
      const plan = await core.ask.plan({ upload: /** @type {Uint8Array<ArrayBuffer>} */ (bytes), pause_ms: pause });
      await output.open();
      return plan;
    } catch {
      return null;
    } finally {
      state.planning = false;
    }
  }

  /** Starts handing `bytes` to `output` as `plan` says; the page follows it. @param {MIDIOutput} output @param {Plan} plan @param {string} name @param {Uint8Array} bytes */
  async function transmit(output, plan, name, bytes, handed = (/** @type {number} */ _i) => {}) {
    const sending = newTransmission(output, plan, bytes, name);
    state.sending = sending;
    state.send = { result: '', detail: '', failed: false, shown: sending };
    state.focus = 'cancelButton';
    show();
    await handOver(sending, (i) => {
      handed(i);
      show();
    });
    return sending;
  }

  /** @param {Transmission} sending */
  function endTransmission(sending) {
    // Not every browser's MIDI output can drop what it holds.
    if (sending.stopped === 'cancel') /** @type {{ clear?: () => void }} */ (sending.output).clear?.();
    state.sending = null;
  }

  // Sends the upload on offer to the chosen port, as the core plans it.
  async function send() {
    const offer = offerOf(state);
    if (!offer) return;
    const { port: output, name: port } = chosen('outputs');
    state.send = { result: '', detail: '', failed: false, shown: state.send.shown };
    if (!output) {
      Object.assign(state.send, { result: say.portGone(port), failed: true });
      return show();
    }
    const plan = await planFor(output, offer.bytes, withinPauseLimits(state.pause, limits().pause_max_ms));
    // A new choice while the plan was made or the port opened withdrew this offer.
    if (!plan) Object.assign(state.send, { result: say.portUnavailable(port), failed: true });
    if (!plan || plan.steps === 0 || offerOf(state)?.stamp !== offer.stamp) return show();
    const { name, bytes } = offer;
    const sending = await transmit(output, plan, name, bytes, (i) => storage.set(INTERRUPTED_KEY, say.sendInterrupted(name, plan, i)));
    endTransmission(sending);
    storage.remove(INTERRUPTED_KEY);
    const { stopped, last, detail } = sending;
    state.send.result = stopped === 'cancel' ? say.sendCancelled(plan, last) : stopped === 'lost' ? say.portLost(plan, last)
      : say.sendDone(name, bytes.length, port, plan, limits());
    state.send.detail = detail;
    state.send.failed = stopped === 'lost';
    if (!stopped) emit('ferrolet-sent', { name, bytes: bytes.length });
    const outcome = [state.send.result, detail].filter(Boolean).join(' ');
    state.lastRun = { output: port, input: '', name, upload: bytes, blocks: plan.blocks, pause: plan.pause_ms, outcome, test: '' };
    state.focus = canSend(state) ? 'sendButton' : 'findPorts';
    show();
  }

  /**
   * Listens on `input` for what comes back. The function returned stops listening and gives the
   * bytes heard and, three numbers a message, where each begins, its length and when it came.
   * @param {MIDIInput} input
   */
  function listen(input) {
    /** @type {{ data: Uint8Array, at: number }[]} */
    const heard = [];
    input.onmidimessage = (event) => heard.push({ data: /** @type {Uint8Array} */ (event.data), at: event.timeStamp });
    return () => {
      input.onmidimessage = null;
      const bytes = new Uint8Array(heard.reduce((n, m) => n + m.data.length, 0));
      const index = new Float64Array(3 * heard.length);
      let at = 0;
      heard.forEach((m, i) => {
        bytes.set(m.data, at);
        index.set([at, m.data.length, m.at], 3 * i);
        at += m.data.length;
      });
      return { bytes, index: new Uint8Array(index.buffer) };
    };
  }

  /**
   * One run of the interface test at `search.pause`: the core's judgement, or null if it was
   * cancelled, the port could not be opened or was lost (which the test's status then says).
   * @param {MIDIOutput} output @param {MIDIInput} input @param {string} port
   * @param {{ bytes: Uint8Array<ArrayBuffer>, name: string }} source @param {{ pause: number, tried: number, passes: number }} search
   */
  async function testRun(output, input, port, source, search) {
    const plan = await planFor(output, source.bytes, search.pause);
    if (!plan) {
      Object.assign(state.test, { status: say.portUnavailable(port), failed: true });
      return null;
    }
    state.test.status = say.testRunning(plan.pause_ms);
    const stopListening = listen(input);
    const sending = await transmit(output, plan, source.name, source.bytes);
    await linger(sending, ECHO_MS);
    const back = stopListening();
    endTransmission(sending);
    if (sending.stopped) {
      state.test.status = sending.stopped === 'lost' ? say.portLost(plan, sending.last) : say.testCancelled(plan.pause_ms, plan, sending.last);
      state.test.failed = sending.stopped === 'lost';
      return null;
    }
    return core.ask.loop({ upload: source.bytes, pause_ms: search.pause, back: back.bytes, index: back.index,
      start_ms: sending.start, tried: search.tried, passes: search.passes });
  }

  // Tests the interface through a loop from the chosen output to the chosen input with the upload
  // on offer (or a test pattern), trying longer pauses until one carries it twice in a row.
  async function testInterface() {
    const out = chosen('outputs');
    const { port: input, name: inputName } = chosen('inputs');
    if (!out.port || !input) {
      Object.assign(state.test, { status: say.portGone(out.port ? inputName : out.name), failed: true });
      return show();
    }
    state.test = { running: true, status: '', failed: false, reports: [] };
    show();
    const offer = offerOf(state);
    const source = offer ? { bytes: /** @type {Uint8Array<ArrayBuffer>} */ (offer.bytes), name: offer.name }
      : { bytes: (await core.ask.testPattern({})).upload, name: say.TEST_PATTERN_NAME };
    let search = { pause: withinPauseLimits(state.pause, limits().pause_max_ms), tried: -1, passes: 0 };
    try {
      for (let judged = await testRun(out.port, input, out.name, source, search); judged;
        judged = await testRun(out.port, input, out.name, source, search)) {
        const ran = search.pause;
        state.test.reports.push(say.loopReport(judged, ran));
        search = { pause: judged.pause_ms, tried: judged.tried, passes: judged.passes };
        if (judged.step === 'run') continue;
        state.test.status = say.loopVerdict(judged, ran, limits());
        state.test.failed = judged.step === 'gave_up';
        if (judged.step === 'found') {
          state.pause = String(judged.pause_ms);
          storage.set(PAUSE_KEY, state.pause);
        }
        break;
      }
    } finally {
      state.test.running = false;
    }
    state.lastRun = { output: out.name, input: inputName, name: source.name, upload: source.bytes,
      blocks: state.send.shown?.plan.blocks ?? 0, pause: search.pause, outcome: state.test.status, test: state.test.reports.join('') };
    show();
  }

  // Puts the plain-text report of the last send or test on the clipboard, and shows it.
  async function copyReport() {
    const run = state.lastRun;
    if (!run || !canCopyReport(state)) return;
    state.pageReport = say.pageReport({ ...run, bytes: run.upload.length, sha256: await sha256Of(run.upload) }, state.userAgent, limits());
    show();
    await navigator.clipboard.writeText(state.pageReport).catch(() => {});
  }

  return { startMidi, send, testInterface, copyReport, cancel: () => stopTransmission(state.sending, 'cancel', '') };
}

// The updater's markup, put into each element's shadow root: its status line, the choice among a
// manifest's firmwares, and the three boxes. Its labels and explanations are the page's own
// words, as web/words.js holds its sentences; the parts a host page may style are named by `part`.

/** The markup; the element puts its styles before it. */
export const markup = () => `
<p id="status" part="status" role="alert" hidden></p>
<section id="convert" class="drop" part="box" aria-labelledby="convert-title">
  <h2 id="convert-title" part="title">1. Convert a firmware</h2>
  <div id="versions" hidden>
    <label for="version">Firmware version</label>
    <select id="version" part="select"></select>
  </div>
  <p id="notes" class="hint"></p>
  <p id="held" class="hint"></p>
  <label for="hex-file">Firmware HEX file (choose it, or drop it on this box)</label>
  <input type="file" id="hex-file" part="input">
  <p class="reading"><span id="convert-reading" role="status"></span>
    <button type="button" id="convert-stop" part="button" hidden>Stop</button></p>
  <p id="convert-verdict" class="verdict" part="verdict" role="status" aria-live="polite"></p>
  <p id="convert-hint" class="hint"></p>
  <pre id="convert-messages" tabindex="0" aria-label="Messages, as the ferrolet command prints them"></pre>
  <pre id="convert-map" class="map" tabindex="0" aria-label="Block map"></pre>
  <button type="button" id="download" part="button" disabled>Download the upload</button>
</section>
<section id="check" class="drop" part="box" aria-labelledby="check-title">
  <h2 id="check-title" part="title">2. Check an upload</h2>
  <label for="syx-file">Upload file (.syx; choose it, or drop it with its firmware on this box)</label>
  <input type="file" id="syx-file" part="input">
  <label for="check-hex-file">Its firmware (.hex, optional)</label>
  <input type="file" id="check-hex-file" part="input">
  <p class="reading"><span id="check-reading" role="status"></span>
    <button type="button" id="check-stop" part="button" hidden>Stop</button></p>
  <p id="check-verdict" class="verdict" part="verdict" role="status" aria-live="polite"></p>
  <p id="check-hint" class="hint"></p>
  <pre id="check-report" class="map" tabindex="0" aria-label="Report, as ferrolet-check prints it"></pre>
</section>
<section id="send" part="box" aria-labelledby="send-title">
  <h2 id="send-title" part="title">3. Send to the device</h2>
  <p id="midi-status" role="status"></p>
  <p>To send: <span id="send-source"></span></p>
  <button type="button" id="find-ports" part="button" disabled>Find MIDI ports</button>
  <label for="port">MIDI output</label>
  <select id="port" part="select" disabled></select>
  <label for="pause" id="pause-label">Extra pause between frames, in milliseconds</label>
  <input type="number" id="pause" part="input" step="1" value="0">
  <div class="buttons">
    <button type="button" id="send-button" part="button" disabled>Send</button>
    <button type="button" id="cancel-button" part="button" disabled>Cancel</button>
  </div>
  <progress id="progress" max="1" value="0" aria-labelledby="progress-text"></progress>
  <span id="progress-text"></span>
  <p id="send-result" role="status" aria-live="polite"></p>
  <p id="send-detail" class="hint"></p>
  <h3>Test the interface first</h3>
  <p>Cable the interface's MIDI OUT to its own MIDI IN, choose that input, and test: the frames
  go out and must come back unchanged. If they do not, the test looks for a longer pause that
  works and sets it for Send.</p>
  <label for="input-port">MIDI input (the same interface's input)</label>
  <select id="input-port" part="select" disabled></select>
  <div class="buttons">
    <button type="button" id="test-button" part="button" disabled>Test the interface</button>
    <button type="button" id="copy-report" part="button" hidden>Copy report</button>
  </div>
  <p id="test-status" role="status" aria-live="polite"></p>
  <pre id="test-report" class="map" tabindex="0" aria-label="What came back in the interface test"></pre>
  <pre id="page-report" class="map" tabindex="0" aria-label="Report of the last send or test"></pre>
</section>
`;

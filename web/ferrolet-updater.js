// <ferrolet-updater>: the updater as an element that any page can hold. Copy the page's files into
// a folder of a site, load this module from there, and put the element on a page; with a
// `manifest` attribute it offers the firmwares that manifest names. It finds its styles, the rest
// of its code and its core beside this module, wherever that is. Each element keeps its own
// state and its own core, in an open shadow root that the host page's styles do not reach.
import { markup } from './markup.js';

class FerroletUpdater extends HTMLElement {
  connectedCallback() {
    if (this.shadowRoot) return;
    const root = this.attachShadow({ mode: 'open' });
    root.innerHTML = markup(new URL('style.css', import.meta.url).href);
    // The rest of the updater and its core load once the element is on a page, apart from the
    // host page's own work.
    import('./app.js').then(
      ({ mountUpdater }) => mountUpdater(this, root, { manifest: this.getAttribute('manifest') || '' }),
      () => import('./words.js').then(({ FAILURES }) => {
        const status = /** @type {HTMLElement} */ (root.getElementById('status'));
        status.textContent = FAILURES.load;
        status.hidden = false;
      }));
  }
}

if (!customElements.get('ferrolet-updater')) customElements.define('ferrolet-updater', FerroletUpdater);

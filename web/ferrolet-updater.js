// <ferrolet-updater>: the updater as an element that any page can hold. Copy the page's files into
// a folder of a site, load this module from there, and put the element on a page; with a
// `manifest` attribute it offers the firmwares that manifest names. It finds its styles, the rest
// of its code and its core beside this module, wherever that is. Each element keeps its own
// state and its own core, in an open shadow root that the host page's styles do not reach.
import { markup } from './markup.js';

// Runs `start` once the host page has painted what it has: the first frame after this one is
// past, so the updater's markup, styles and layout never hold the host's first paint, nor share
// a task with the host's own work at the end of parsing. A hidden page paints nothing and runs no
// frames, so there it starts at once.
/** @param {() => void} start */
const afterHostPaint = (start) => {
  if (document.visibilityState === 'hidden') setTimeout(start);
  else requestAnimationFrame(() => setTimeout(start));
};

class FerroletUpdater extends HTMLElement {
  connectedCallback() {
    if (this.shadowRoot) return;
    // Until the updater is built, the element shows what the host page put inside it.
    const root = this.attachShadow({ mode: 'open' });
    root.innerHTML = '<slot></slot>';
    afterHostPaint(() => {
      // The rest of the updater and its core load while its styles do; the markup goes in once
      // the styles are there (or have failed), so it is never shown unstyled.
      const app = import('./app.js');
      app.catch(() => {}); // told below, once there is a status line to tell it in
      const styles = document.createElement('link');
      styles.rel = 'stylesheet';
      styles.href = new URL('style.css', import.meta.url).href;
      const styled = new Promise((settle) => {
        styles.addEventListener('load', settle);
        styles.addEventListener('error', settle);
      });
      root.append(styles);
      styled.then(() => {
        root.querySelector('slot')?.remove();
        styles.insertAdjacentHTML('afterend', markup());
        return app;
      }).then(
        ({ mountUpdater }) => mountUpdater(this, root, { manifest: this.getAttribute('manifest') || '' }),
        () => import('./words.js').then(({ FAILURES }) => {
          const status = /** @type {HTMLElement} */ (root.getElementById('status'));
          status.textContent = FAILURES.load;
          status.hidden = false;
        }));
    });
  }
}

if (!customElements.get('ferrolet-updater')) customElements.define('ferrolet-updater', FerroletUpdater);

// What the updater costs a maker's page, in Debian's Chromium: a page with the element and a
// manifest (converting its firmware at once) beside the same page without it, ten loads each,
// side by side. For each: the first contentful paint (median) and the longest main-thread task
// from navigation until the firmware is converted (or two seconds without the element).
// Usage: node bench/web-host.mjs (needs build/web: bash scripts/web.sh --build-only)
import { cpSync, mkdirSync, mkdtempSync, readFileSync, writeFileSync } from 'node:fs';
import { createHash } from 'node:crypto';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { launchBrowser, root, servePage } from '../tests/web/serve.mjs';

const site = mkdtempSync(join(tmpdir(), 'ferrolet-host-'));
cpSync(join(root, 'build/web'), join(site, 'updater'), { recursive: true });
mkdirSync(join(site, 'fw'));
const firmware = readFileSync(join(root, 'examples/blink.hex'));
writeFileSync(join(site, 'fw/blink.hex'), firmware);
writeFileSync(join(site, 'fw/manifest.json'), JSON.stringify({ name: 'Tarvenbox', firmwares: [
  { version: '1', file: 'blink.hex', sha256: createHash('sha256').update(firmware).digest('hex') }] }));
const text = '<p>' + 'A maker\'s support page with its own text. '.repeat(40) + '</p>';
const page = (element) => `<!doctype html><html lang="en"><head><meta charset="utf-8"><title>Support</title>${element ? '<script type="module" src="updater/ferrolet-updater.js"></script>' : ''}</head>` +
  `<body><main><h1>Tarvenbox</h1>${text}${element ? '<ferrolet-updater manifest="fw/manifest.json"></ferrolet-updater>' : ''}</main></body></html>`;
writeFileSync(join(site, 'with.html'), page(true));
writeFileSync(join(site, 'without.html'), page(false));

const { server, url } = await servePage({ dir: site, headers: { 'content-security-policy': "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; style-src 'self'" } });
const browser = await launchBrowser('chrome');
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const results = { with: { paint: [], task: [] }, without: { paint: [], task: [] } };
for (let round = 0; round < 10; round++) {
  for (const which of ['with', 'without']) {
    const tab = await (await browser.createBrowserContext()).newPage();
    await tab.evaluateOnNewDocument(() => {
      window.longest = 0;
      new PerformanceObserver((list) => {
        for (const e of list.getEntries()) window.longest = Math.max(window.longest, e.duration);
      }).observe({ type: 'longtask', buffered: true });
    });
    await tab.goto(`${url}${which}.html`);
    if (which === 'with') {
      await tab.waitForFunction(() => document.querySelector('ferrolet-updater')?.shadowRoot?.querySelector('#convert-verdict')?.textContent !== '',
        { polling: 20, timeout: 30000 });
    } else {
      await new Promise((resolve) => setTimeout(resolve, 2000));
    }
    const [paint, task] = await tab.evaluate(() => [performance.getEntriesByName('first-contentful-paint')[0]?.startTime ?? NaN, window.longest]);
    results[which].paint.push(paint);
    results[which].task.push(task);
    if (process.env.VERBOSE) console.log(which, paint.toFixed(1), task.toFixed(0));
    await tab.browserContext().close();
  }
}
for (const [which, { paint, task }] of Object.entries(results)) {
  console.log(`${which} the updater: first contentful paint, median of 10 loads: ${median(paint).toFixed(1)} ms; ` +
    `longest main-thread task over all loads: ${Math.max(...task).toFixed(0)} ms (0: none over 50 ms reported)`);
}
await browser.close();
server.close();

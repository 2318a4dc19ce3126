// What the updater costs a maker's page, in Debian's Chromium: a page with the element and a
// manifest (converting its firmware at once) beside the same page without it, loaded in turn,
// side by side. For each: the first contentful paint (median), how many loads had a main-thread
// task over 50 ms from navigation until the firmware is converted (or a second, without the
// element), and the longest such task. Further bundles (an older build/web, say) are loaded in
// the same turns, for a comparison.
// Usage: node bench/web-host.mjs [BUNDLE ...]   (default build/web: bash scripts/web.sh --build-only)
//   LOADS=N   loads of each page (default 20)
//   SLOW=N    the CPU slowed N times, as on a slow phone (default 1)
import { cpSync, mkdirSync, mkdtempSync, readFileSync, writeFileSync } from 'node:fs';
import { createHash } from 'node:crypto';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { launchBrowser, root, servePage } from '../tests/web/serve.mjs';

const bundles = process.argv.slice(2).length ? process.argv.slice(2).map((b) => resolve(b)) : [join(root, 'build/web')];
const loads = Number(process.env.LOADS || 20);
const slow = Number(process.env.SLOW || 1);
const site = mkdtempSync(join(tmpdir(), 'ferrolet-host-'));
mkdirSync(join(site, 'fw'));
const firmware = readFileSync(join(root, 'examples/blink.hex'));
writeFileSync(join(site, 'fw/blink.hex'), firmware);
writeFileSync(join(site, 'fw/manifest.json'), JSON.stringify({ name: 'Tarvenbox', firmwares: [
  { version: '1', file: 'blink.hex', sha256: createHash('sha256').update(firmware).digest('hex') }] }));
const text = '<p>' + 'A maker\'s support page with its own text. '.repeat(40) + '</p>';
const page = (folder) => `<!doctype html><html lang="en"><head><meta charset="utf-8"><title>Support</title>${folder ? `<script type="module" src="${folder}/ferrolet-updater.js"></script>` : ''}</head>` +
  `<body><main><h1>Tarvenbox</h1>${text}${folder ? '<ferrolet-updater manifest="fw/manifest.json"></ferrolet-updater>' : ''}</main></body></html>`;
const pages = [{ name: 'without the updater', file: 'without.html' }];
writeFileSync(join(site, 'without.html'), page(''));
bundles.forEach((bundle, i) => {
  cpSync(bundle, join(site, `updater${i}`), { recursive: true });
  writeFileSync(join(site, `with${i}.html`), page(`updater${i}`));
  pages.push({ name: `with ${bundle}`, file: `with${i}.html`, element: true });
});

const { server, url } = await servePage({ dir: site, headers: { 'content-security-policy': "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; style-src 'self'" } });
const browser = await launchBrowser('chrome');
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
for (const p of pages) Object.assign(p, { paint: [], longest: [] });
for (let round = 0; round < loads; round++) {
  for (const p of pages) {
    const tab = await (await browser.createBrowserContext()).newPage();
    if (slow > 1) await (await tab.createCDPSession()).send('Emulation.setCPUThrottlingRate', { rate: slow });
    await tab.evaluateOnNewDocument(() => {
      window.longest = 0;
      new PerformanceObserver((list) => {
        for (const e of list.getEntries()) window.longest = Math.max(window.longest, e.duration);
      }).observe({ type: 'longtask', buffered: true });
    });
    await tab.goto(`${url}${p.file}`);
    if (p.element) {
      await tab.waitForFunction(() => document.querySelector('ferrolet-updater')?.shadowRoot?.querySelector('#convert-verdict')?.textContent,
        { polling: 20, timeout: 30000 });
    } else {
      await new Promise((done) => setTimeout(done, 1000));
    }
    const [paint, longest] = await tab.evaluate(() => [performance.getEntriesByName('first-contentful-paint')[0]?.startTime ?? NaN, window.longest]);
    p.paint.push(paint);
    p.longest.push(longest);
    if (process.env.VERBOSE) console.log(p.name, paint.toFixed(1), longest.toFixed(0));
    await tab.browserContext().close();
  }
}
console.log(`${loads} loads of each page, CPU slowed ${slow} times:`);
for (const p of pages) {
  console.log(`${p.name}: first contentful paint ${median(p.paint).toFixed(0)} ms (median); ` +
    `${p.longest.filter((t) => t > 0).length} loads with a task over 50 ms, the longest ${Math.max(...p.longest).toFixed(0)} ms`);
}
await browser.close();
server.close();

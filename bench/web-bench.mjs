// The web page's speed in Debian's Chromium: how soon after navigation it is ready to convert
// (10 loads) and the median time of converting the full 16 KB image (46 KB of HEX) in the page,
// over 100 runs timed with performance.now(). Given more than one built page, each is measured
// in turn, five rounds of 20 runs each, so that they share the machine's drift side by side.
// Usage: node bench/web-bench.mjs FULL_16K.hex [PAGE_DIR...] (build/web/ if none is given)
import { readFileSync } from 'node:fs';
import { launchBrowser, servePage } from '../tests/web/serve.mjs';

const hex = readFileSync(process.argv[2]);
const dirs = process.argv.length > 3 ? process.argv.slice(3) : [undefined];
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const ROUNDS = 5;

const browser = await launchBrowser('chrome');
const pages = [];
for (const dir of dirs) {
  const { server, url } = await servePage({ dir });
  pages.push({ dir: dir || 'build/web', server, url, page: await browser.newPage(), ready: [], times: [] });
}
for (const measured of pages) {
  for (let i = 0; i < 10; i++) {
    await measured.page.goto(measured.url);
    await measured.page.waitForSelector('ferrolet-updater[data-ready="yes"]');
    measured.ready.push(await measured.page.evaluate(() => performance.getEntriesByName('ferrolet-ready')[0].startTime));
  }
}
// Each run is a whole request to the core's worker: the file handed over, read, converted and
// the result back on the page.
for (let round = 0; round < ROUNDS; round++) {
  for (const measured of pages) {
    measured.times.push(...await measured.page.evaluate(async (bytes, runs) => {
      const input = new Uint8Array(bytes);
      const result = [];
      for (let i = 0; i < runs; i++) {
        const start = performance.now();
        await window.ferrolet.convert('full_16k.hex', input);
        result.push(performance.now() - start);
      }
      return result;
    }, [...hex], 100 / ROUNDS));
  }
}
for (const { dir, ready, times, server } of pages) {
  // Without cross-origin isolation the browser rounds performance.now() to 0.1 ms, so the mean
  // of the runs is shown beside the median.
  const mean = times.reduce((a, b) => a + b, 0) / times.length;
  console.log(`${dir}: page ready after navigation, median of 10 loads: ${median(ready).toFixed(1)} ms`);
  console.log(`${dir}: convert full 16 KB image in the page, median of ${times.length} runs: ` +
    `${median(times).toFixed(3)} ms (mean ${mean.toFixed(3)} ms)`);
  server.close();
}
await browser.close();

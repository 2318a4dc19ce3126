// The web page's speed in Debian's Chromium: how soon after navigation it is ready to convert
// (10 loads) and the median time of converting the full 16 KB image (46 KB of HEX) in the page,
// over 100 runs timed with performance.now(). Usage: node bench/web-bench.mjs FULL_16K.hex
import { readFileSync } from 'node:fs';
import { launchBrowser, servePage } from '../tests/web/serve.mjs';

const hex = readFileSync(process.argv[2]);
const median = (values) => values.sort((a, b) => a - b)[Math.floor(values.length / 2)];

const { server, url } = await servePage();
const browser = await launchBrowser('chrome');
const page = await browser.newPage();
const ready = [];
for (let i = 0; i < 10; i++) {
  await page.goto(url);
  await page.waitForSelector('body[data-ready="yes"]');
  ready.push(await page.evaluate(() => performance.getEntriesByName('ferrolet-ready')[0].startTime));
}
// Each run is a whole request to the core's worker: the file handed over, read, converted and
// the result back on the page.
const times = await page.evaluate(async (bytes) => {
  const input = new Uint8Array(bytes);
  const result = [];
  for (let i = 0; i < 100; i++) {
    const start = performance.now();
    await window.ferrolet.convert('full_16k.hex', input);
    result.push(performance.now() - start);
  }
  return result;
}, [...hex]);
console.log(`page ready after navigation, median of 10 loads: ${median(ready).toFixed(1)} ms`);
// Without cross-origin isolation the browser rounds performance.now() to 0.1 ms, so the mean of
// the 100 runs is shown beside the median.
const mean = times.reduce((a, b) => a + b, 0) / times.length;
console.log(`convert full 16 KB image in the page, median of 100 runs: ${median(times).toFixed(3)} ms` +
  ` (mean ${mean.toFixed(3)} ms)`);
await browser.close();
server.close();

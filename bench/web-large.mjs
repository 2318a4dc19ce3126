// Large inputs in the page, beside the command, in one run: 100 MB of random bytes and 100 MB
// of valid records, each the time from choosing the file to the summary (median of RUNS), the
// longest task on the page's main thread while it is read, and the browser's peak memory beyond
// that of the same page before any file is chosen. Chromium only reports long tasks.
// Usage: node bench/web-large.mjs WORKLOAD_DIR [RUNS] [BROWSER]
import { spawnSync } from 'node:child_process';
import { copyFileSync, mkdtempSync, readdirSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { launchBrowser, root, servePage } from '../tests/web/serve.mjs';

const [dir, runs = '3', browserName = 'chrome'] = process.argv.slice(2);
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

// Resident memory of the browser and every process it started, in KiB.
function browserMemory(pid) {
  const all = readdirSync('/proc').filter((p) => /^\d+$/.test(p));
  const parent = new Map(all.map((p) => {
    try {
      return [Number(p), Number(readFileSync(`/proc/${p}/stat`, 'utf8').split(') ')[1].split(' ')[1])];
    } catch {
      return [Number(p), 0];
    }
  }));
  const family = new Set([pid]);
  for (let grew = true; grew;) {
    grew = false;
    for (const [p, pp] of parent) if (family.has(pp) && !family.has(p)) { family.add(p); grew = true; }
  }
  let kib = 0;
  for (const p of family) {
    try {
      kib += Number(/RssAnon:\s+(\d+)/.exec(readFileSync(`/proc/${p}/status`, "utf8"))[1]);
    } catch { /* gone */ }
  }
  return kib;
}

// The command on the same file, its messages to /dev/null, in a folder of its own.
function commandSeconds(file) {
  const work = mkdtempSync(join(tmpdir(), 'ferrolet-large-'));
  copyFileSync(file, join(work, 'in.hex'));
  const times = [];
  for (let i = 0; i < Number(runs); i++) {
    const t0 = process.hrtime.bigint();
    spawnSync('sh', ['-c', `"${root}/build/release/ferrolet" in.hex >/dev/null`], { cwd: work });
    times.push(Number(process.hrtime.bigint() - t0) / 1e9);
  }
  rmSync(work, { recursive: true });
  return median(times);
}

async function pageRun(browser, url, file) {
  const page = await (await browser.createBrowserContext()).newPage();
  await page.goto(url);
  await page.waitForSelector('ferrolet-updater[data-ready="yes"]');
  await page.evaluate(() => {
    window.longest = null;
    if (PerformanceObserver.supportedEntryTypes.includes('longtask')) {
      window.longest = 0;
      new PerformanceObserver((list) => {
        for (const e of list.getEntries()) window.longest = Math.max(window.longest, e.duration);
      }).observe({ type: 'longtask' });
    }
  });
  const before = browserMemory(browser.process().pid);
  let peak = before;
  const sampler = setInterval(() => { peak = Math.max(peak, browserMemory(browser.process().pid)); }, 100);
  const t0 = Date.now();
  await (await page.$('ferrolet-updater >>> #hex-file')).uploadFile(file);
  await page.waitForFunction(() => document.querySelector('ferrolet-updater').shadowRoot.querySelector('#convert-verdict').textContent !== '', { timeout: 600000, polling: 50 });
  const seconds = (Date.now() - t0) / 1000;
  clearInterval(sampler);
  const longest = await page.evaluate(() => window.longest);
  await page.browserContext().close();
  return { seconds, longest, extraMiB: (peak - before) / 1024 };
}

const { server, url } = await servePage(process.env.PAGE_DIR ? { dir: process.env.PAGE_DIR } : {});
const browser = await launchBrowser(browserName);
for (const name of ['random_100m.hex', 'stream_100m.hex']) {
  const file = join(dir, name);
  const command = commandSeconds(file);
  const results = [];
  for (let i = 0; i < Number(runs); i++) results.push(await pageRun(browser, url, file));
  const seconds = median(results.map((r) => r.seconds));
  const longest = results[0].longest === null ? 'not reported by this browser'
    : `${Math.max(...results.map((r) => r.longest)).toFixed(0)} ms`;
  console.log(`${name} in ${browserName}: summary after ${seconds.toFixed(2)} s (command ${command.toFixed(2)} s, ` +
    `${(seconds / command).toFixed(2)}x), longest main-thread task ${longest}, ` +
    `peak memory ${Math.max(...results.map((r) => r.extraMiB)).toFixed(1)} MiB above the page before the file`);
}
await browser.close();
server.close();

// What the browser tests and the web benchmarks share: a static server for build/web on
// 127.0.0.1 and the two browsers of Debian, Chromium and Firefox ESR, driven by puppeteer-core
// (Chromium through its DevTools protocol, Firefox through WebDriver BiDi).
import { readFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { extname, join } from 'node:path';
import puppeteer from 'puppeteer-core';

export const root = new URL('../../', import.meta.url).pathname;

const TYPES = {
  '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm',
  '.webmanifest': 'application/manifest+json', '.svg': 'image/svg+xml', '.png': 'image/png',
};

// Serves `dir` on a free port of 127.0.0.1; `headers` go with every answer and `answer(path)`
// may replace a file's bytes (null: not found); `delay(path)` holds an answer back that many ms.
// Resolves to the server and the page's address.
export async function servePage({ dir = join(root, 'build/web'), headers = {}, answer, delay } = {}) {
  const server = createServer(async (request, response) => {
    const path = request.url === '/' ? '/index.html' : request.url.split('?')[0];
    const held = delay ? delay(path) : 0;
    if (held) await new Promise((resolve) => setTimeout(resolve, held));
    try {
      const given = answer ? answer(path) : undefined;
      if (given === null) throw new Error('held back');
      const body = given ?? readFileSync(join(dir, path));
      response.writeHead(200, { 'content-type': TYPES[extname(path)] || 'application/octet-stream', ...headers });
      response.end(body);
    } catch {
      response.writeHead(404);
      response.end();
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  // A test that fails before it closes its server must not keep the test process from ending.
  server.unref();
  return { server, url: `http://127.0.0.1:${server.address().port}/` };
}

export const BROWSERS = (process.env.FERROLET_BROWSERS || 'chrome,firefox').split(',');

// Starts Debian's Chromium (as this machine's closed network needs it) or Firefox ESR.
export function launchBrowser(name) {
  if (name === 'firefox') {
    return puppeteer.launch({
      browser: 'firefox',
      executablePath: process.env.FIREFOX || '/usr/bin/firefox-esr',
      headless: true,
    });
  }
  return puppeteer.launch({
    browser: 'chrome',
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

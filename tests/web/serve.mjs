// What the browser tests and the web benchmark share: a static server for build/web on
// 127.0.0.1 and Debian's Chromium, started as this machine's closed network needs it.
import { readFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { extname, join } from 'node:path';
import { chromium } from 'playwright-core';

export const root = new URL('../../', import.meta.url).pathname;

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm' };

// Serves build/web on a free port of 127.0.0.1; resolves to the server and the page's address.
export async function servePage() {
  const server = createServer((request, response) => {
    const path = request.url === '/' ? '/index.html' : request.url.split('?')[0];
    try {
      const body = readFileSync(join(root, 'build/web', path));
      response.writeHead(200, { 'content-type': TYPES[extname(path)] || 'application/octet-stream' });
      response.end(body);
    } catch {
      response.writeHead(404);
      response.end();
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return { server, url: `http://127.0.0.1:${server.address().port}/` };
}

export function launchChromium() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

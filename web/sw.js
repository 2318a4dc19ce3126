// Keeps the page's files for use without the network. The cache is named after the build (its
// version and its files' content), so a new version of the page replaces the old cache as soon as
// it is installed.
const CACHE = '@FERROLET_BUILD@';
const FILES = [/* @FERROLET_PAGE_FILES@ */];

// Every request of the service worker asks the host whether its file is still current, so that
// neither its cache nor the page is filled from what the browser's own cache kept of an older
// version (a host that sends no Cache-Control lets the browser keep files for a while).
// A page's address that the host redirects is followed by the browser itself, as without a
// service worker.
const current = (url, mode) => new Request(url, { cache: 'no-cache', redirect: mode === 'navigate' ? 'manual' : 'follow' });

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(FILES.map((file) => current(file)))).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys()
    .then((names) => Promise.all(names.filter((n) => n.startsWith('ferrolet-') && n !== CACHE).map((n) => caches.delete(n))))
    .then(() => self.clients.claim()));
});

// A page asks which build now serves it, to tell whether it is still the one published.
self.addEventListener('message', (event) => {
  if (event.data === 'build') event.source.postMessage({ build: CACHE });
});

// A file kept from the last visit, marked as such (the page then says that its firmware was kept).
async function kept(request) {
  const hit = await caches.match(request, { ignoreSearch: true, cacheName: CACHE });
  if (!hit) return Response.error();
  const headers = new Headers(hit.headers);
  headers.set('Ferrolet-Kept', 'yes');
  return new Response(hit.body, { status: hit.status, statusText: hit.statusText, headers });
}

// The network first, the cache only when the network cannot answer: a visitor who is online gets
// the page and the firmware published at its address now, never older ones kept from a visit
// before, however slow the network.
self.addEventListener('fetch', (event) => {
  if (event.request.method !== 'GET' || new URL(event.request.url).origin !== self.location.origin) return;
  event.respondWith(fetch(current(event.request.url, event.request.mode)).catch(() => kept(event.request)));
});

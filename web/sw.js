// Keeps the page's files for use without the network. The cache is named after the build, so a
// new version of the page replaces the old cache as soon as it is installed.
const CACHE = 'ferrolet-@FERROLET_BUILD@';
const FILES = [/* @FERROLET_PAGE_FILES@ */];

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(FILES)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys()
    .then((names) => Promise.all(names.filter((n) => n.startsWith('ferrolet-') && n !== CACHE).map((n) => caches.delete(n))))
    .then(() => self.clients.claim()));
});

// The page's own files come from the cache; anything else goes to the network.
self.addEventListener('fetch', (event) => {
  if (event.request.method !== 'GET') return;
  event.respondWith(caches.match(event.request, { ignoreSearch: true }).then((hit) => hit || fetch(event.request)));
});

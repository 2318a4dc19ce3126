// A maker's manifest: the firmwares an updater offers, each a version, a file (its address taken
// from the manifest's own) and, optionally, the SHA-256 the file must have and notes. Read and
// checked before any firmware is fetched; what is wrong is said by web/words.js.

/** @typedef {{ version: string, file: string, sha256: string, notes: string }} Firmware */
/** @typedef {{ at: string, want: 'object' | 'text' | 'list' | 'sha256', missing: boolean }} Problem */

const SHA256 = /^[0-9a-f]{64}$/;

/** @param {unknown} v */
const isObject = (v) => typeof v === 'object' && v !== null && !Array.isArray(v);

/**
 * The manifest in `json` (parsed), or the first problem with it.
 * @param {unknown} json
 * @returns {{ name: string, firmwares: Firmware[] } | { problem: Problem }}
 */
export function readManifest(json) {
  const problem = (/** @type {string} */ at, /** @type {Problem['want']} */ want, /** @type {unknown} */ value) =>
    ({ problem: { at, want, missing: value === undefined } });
  if (!isObject(json)) return problem('', 'object', json);
  const { name, firmwares } = /** @type {Record<string, unknown>} */ (json);
  if (typeof name !== 'string' || name === '') return problem('name', 'text', name);
  if (!Array.isArray(firmwares) || firmwares.length === 0) return problem('firmwares', 'list', firmwares);
  /** @type {Firmware[]} */
  const read = [];
  for (const [i, entry] of firmwares.entries()) {
    const at = `firmwares[${i}]`;
    if (!isObject(entry)) return problem(at, 'object', entry);
    const { version, file, sha256, notes } = entry;
    if (typeof version !== 'string' || version === '') return problem(`${at}.version`, 'text', version);
    if (typeof file !== 'string' || file === '') return problem(`${at}.file`, 'text', file);
    if (sha256 !== undefined && (typeof sha256 !== 'string' || !SHA256.test(sha256))) return problem(`${at}.sha256`, 'sha256', sha256);
    if (notes !== undefined && typeof notes !== 'string') return problem(`${at}.notes`, 'text', notes);
    read.push({ version, file, sha256: sha256 ?? '', notes: notes ?? '' });
  }
  return { name, firmwares: read };
}

/** True if the bytes whose SHA-256 is `sha256` may be offered as `entry`: no SHA-256 given, or this one. @param {Firmware} entry @param {string} sha256 */
export const matches = (entry, sha256) => entry.sha256 === '' || entry.sha256 === sha256;

/**
 * The entry of `firmwares` to offer when the element starts: the first, unless the user has
 * already chosen a file for the box it goes to (a firmware for a .hex, an upload for a .syx).
 * @param {Firmware[]} firmwares @param {{ hex: unknown, upload: unknown }} chosen
 */
export const firstOffered = (firmwares, chosen) =>
  (firmwares.length > 0 && !(isUpload(firmwares[0].file) ? chosen.upload : chosen.hex) ? 0 : -1);

/** Whether the updater checks the file `file` (an upload) or converts it (a HEX file). @param {string} file */
export const isUpload = (file) => /\.syx$/i.test(file);

/** The file's own name, from its path in the manifest. @param {string} file */
export const fileName = (file) => decodeURIComponent(file.split(/[?#]/)[0].split('/').pop() || file);

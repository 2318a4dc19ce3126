// Copies the page's JavaScript modules into the folder given without what only their readers
// need: comment lines, JSDoc blocks and indentation. The code itself is left as it is, line for
// line; no template literal of the page spans lines, so no line that is cut can be inside one.
//   node web/strip.mjs OUT_DIR FILE.js...
import { readFileSync, writeFileSync } from 'node:fs';
import { basename, join } from 'node:path';

/** @param {string} text */
function strip(text) {
  const kept = [];
  let inBlock = false;
  for (const line of text.split('\n')) {
    let code = line.trim();
    if (inBlock) {
      const end = code.indexOf('*/');
      if (end < 0) continue;
      inBlock = false;
      code = code.slice(end + 2).trim();
    }
    if (code.startsWith('/*')) {
      const end = code.indexOf('*/', 2);
      if (end < 0) {
        inBlock = true;
        continue;
      }
      // A cast (/** @type {T} */ (x)) keeps its code; a comment alone on its line goes.
      if (end + 2 === code.length) continue;
    }
    if (code === '' || code.startsWith('//')) continue;
    kept.push(code);
  }
  return kept.join('\n') + '\n';
}

const [out, ...files] = process.argv.slice(2);
for (const file of files) {
  const text = strip(readFileSync(file, 'utf8'));
  let old = null;
  try {
    old = readFileSync(join(out, basename(file)), 'utf8');
  } catch {
    // not written yet
  }
  if (old !== text) writeFileSync(join(out, basename(file)), text);
}

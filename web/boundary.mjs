// Writes the core's side of the boundary that web/boundary.js declares, into the folder given:
// boundary.hpp (a struct for each call's result, its encoder, the calls' C prototypes) and
// exports.txt (the list of exports the WebAssembly module must keep). Run at configure time, so a
// call or field declared in boundary.js and not made the same way in the core fails the build.
//   node web/boundary.mjs OUT_DIR
import { readFileSync, writeFileSync, mkdirSync } from 'node:fs';

const source = readFileSync(new URL('./boundary.js', import.meta.url), 'utf8');
// Imported from its text, so that it loads as a module without a package.json beside the page.
const { CALLS } = await import('data:text/javascript;base64,' + Buffer.from(source).toString('base64'));

const camel = (name) => name.replace(/(^|_)([a-z])/g, (_, __, c) => c.toUpperCase());
const TYPES = {
  text: 'std::string', bytes: 'std::span<const std::uint8_t>', number: 'double', flag: 'bool',
  numbers: 'std::vector<double>', texts: 'std::vector<std::string>',
};
const ARGUMENTS = { text: ['const char*'], bytes: ['const std::uint8_t*', 'std::size_t'], number: ['double'], flag: ['int'] };

const lines = [
  '// Written by web/boundary.mjs from web/boundary.js; edit that declaration, not this file.',
  '#pragma once',
  '#include <cstddef>',
  '#include <cstdint>',
  '#include <span>',
  '#include <string>',
  '#include <vector>',
  '',
  '#include "web/wire.hpp"',
  '',
  'namespace ferrolet {',
  'struct WebSession;',
];
const exports = ['_malloc', '_free', '_web_session'];
const prototypes = ['ferrolet::WebSession* web_session();'];

for (const [call, { args, result }] of Object.entries(CALLS)) {
  const struct = `${camel(call)}Result`;
  const members = [];
  const puts = [];
  for (const [field, kind] of Object.entries(result)) {
    if (Array.isArray(kind)) {
      const type = `${camel(call)}${camel(field)}`;
      lines.push('', `enum class ${type} : std::uint8_t { ${kind.map(camel).join(', ')} };`);
      members.push(`  ${type} ${field}{};`);
      puts.push(`  put_choice(out, static_cast<std::uint8_t>(result.${field}));`);
    } else {
      if (!TYPES[kind]) throw new Error(`${call}.${field}: no kind ${kind}`);
      members.push(`  ${TYPES[kind]} ${field}{};`);
      puts.push(`  put_${kind}(out, result.${field});`);
    }
  }
  lines.push('', `struct ${struct} {`, ...members, '};', '',
    `inline const std::uint8_t* encode(std::vector<std::uint8_t>& out, const ${struct}& result) {`,
    '  out.clear();', ...puts, '  return out.data();', '}');
  const parameters = args.flatMap((kind) => {
    if (!ARGUMENTS[kind]) throw new Error(`${call}: no argument kind ${kind}`);
    return ARGUMENTS[kind];
  });
  prototypes.push(`const std::uint8_t* web_${call}(${['ferrolet::WebSession*', ...parameters].join(', ')});`);
  exports.push(`_web_${call}`);
}
lines.push('}  // namespace ferrolet', '', 'extern "C" {', ...prototypes, '}', '');

const out = process.argv[2];
mkdirSync(out, { recursive: true });
const write = (name, text) => {
  // Left alone when unchanged, so that configuring again rebuilds nothing.
  let old = null;
  try {
    old = readFileSync(`${out}/${name}`, 'utf8');
  } catch {
    // not written yet
  }
  if (old !== text) writeFileSync(`${out}/${name}`, text);
};
write('boundary.hpp', lines.join('\n'));
write('exports.txt', exports.join(','));

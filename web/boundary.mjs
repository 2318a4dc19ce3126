// Writes the core's side of the boundary that web/boundary.js declares, into the folder given:
// boundary.hpp (for each call an arguments struct, a result struct and its encoder, and the
// prototype of the function that answers it, answer_NAME, which the core's side defines),
// boundary.cpp (each call's C entry point, web_NAME, which passes its arguments by name to
// answer_NAME and encodes what it returns) and exports.txt (the exports the WebAssembly module
// must keep). Run at configure time, so that a call, an argument or a field declared in
// boundary.js and not used the same way in the core fails the build.
//   node web/boundary.mjs OUT_DIR
import { readFileSync, writeFileSync, mkdirSync } from 'node:fs';

const source = readFileSync(new URL('./boundary.js', import.meta.url), 'utf8');
// Imported from its text, so that it loads as a module without a package.json beside the page.
const { CALLS } = await import('data:text/javascript;base64,' + Buffer.from(source).toString('base64'));

const camel = (name) => name.replace(/(^|_)([a-z])/g, (_, __, c) => c.toUpperCase());
const FIELDS = { text: 'std::string', bytes: 'std::span<const std::uint8_t>', number: 'double', flag: 'bool', numbers: 'std::vector<double>' };
const ARGUMENTS = { text: 'std::string_view', bytes: 'std::span<const std::uint8_t>', number: 'double', flag: 'bool' };
// An argument's C parameters, and how the struct's member is made of them.
const PARAMETERS = {
  text: (a) => [[`const char* ${a}`], a],
  bytes: (a) => [[`const std::uint8_t* ${a}`, `std::size_t ${a}_size`], `{${a}, ${a}_size}`],
  number: (a) => [[`double ${a}`], a],
  flag: (a) => [[`int ${a}`], `${a} != 0`],
};

const header = [
  '// Written by web/boundary.mjs from web/boundary.js; edit that declaration, not this file.',
  '#pragma once',
  '#include <cstddef>',
  '#include <cstdint>',
  '#include <span>',
  '#include <string>',
  '#include <string_view>',
  '#include <vector>',
  '',
  '#include "web/wire.hpp"',
  '',
  'namespace ferrolet {',
  '',
  '// The page\'s handle, made once; defined by the core\'s side with the buffer results are encoded into.',
  'struct WebSession;',
  'Wire& wire_of(WebSession& session);',
];
const entries = [
  '// Written by web/boundary.mjs from web/boundary.js; edit that declaration, not this file.',
  '#include "boundary.hpp"',
  '',
  'using namespace ferrolet;',
  '',
  'extern "C" {',
  'WebSession* web_session();',
];
const exports = ['_malloc', '_free', '_web_session'];

function fieldOf(call, field, kind, puts) {
  if (Array.isArray(kind)) {
    const type = `${camel(call)}${camel(field)}`;
    header.push('', `enum class ${type} : std::uint8_t { ${kind.map(camel).join(', ')} };`);
    puts.push(`  put_choice(out, static_cast<std::uint8_t>(result.${field}));`);
    return `  ${type} ${field}{};`;
  }
  if (!FIELDS[kind]) throw new Error(`${call}.${field}: no kind ${kind}`);
  puts.push(`  put_${kind}(out, result.${field});`);
  return `  ${FIELDS[kind]} ${field}{};`;
}

for (const [call, { args, result }] of Object.entries(CALLS)) {
  const name = camel(call);
  const puts = [];
  const members = Object.entries(result).map(([field, kind]) => fieldOf(call, field, kind, puts));
  const parameters = ['WebSession* session'];
  const given = [];
  const arguments_ = Object.entries(args).map(([arg, kind]) => {
    if (!ARGUMENTS[kind]) throw new Error(`${call}.${arg}: no argument kind ${kind}`);
    const [c, made] = PARAMETERS[kind](arg);
    parameters.push(...c);
    given.push(`.${arg} = ${made}`);
    return `  ${ARGUMENTS[kind]} ${arg}{};`;
  });
  header.push('', `struct ${name}Args {`, ...arguments_, '};', '', `struct ${name}Result {`, ...members, '};', '',
    `inline const std::uint8_t* encode(Wire& out, const ${name}Result& result) {`,
    '  out.clear();', ...puts, '  return out.data();', '}', '',
    `${name}Result answer_${call}(WebSession& session, const ${name}Args& args);`);
  entries.push('', `const std::uint8_t* web_${call}(${parameters.join(', ')}) {`,
    `  return encode(wire_of(*session), answer_${call}(*session, {${given.join(', ')}}));`, '}');
  exports.push(`_web_${call}`);
}
header.push('', '}  // namespace ferrolet', '');
entries.push('}', '');

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
write('boundary.hpp', header.join('\n'));
write('boundary.cpp', entries.join('\n'));
write('exports.txt', exports.join(','));

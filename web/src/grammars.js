// The grammars of the common languages, as highlight.js's own common set registers them: each
// made only when a code block first asks for its language (see highlighter.js).
import xml from 'highlight.js/lib/languages/xml';
import bash from 'highlight.js/lib/languages/bash';
import c from 'highlight.js/lib/languages/c';
import cpp from 'highlight.js/lib/languages/cpp';
import csharp from 'highlight.js/lib/languages/csharp';
import css from 'highlight.js/lib/languages/css';
import markdown from 'highlight.js/lib/languages/markdown';
import diff from 'highlight.js/lib/languages/diff';
import ruby from 'highlight.js/lib/languages/ruby';
import go from 'highlight.js/lib/languages/go';
import graphql from 'highlight.js/lib/languages/graphql';
import ini from 'highlight.js/lib/languages/ini';
import java from 'highlight.js/lib/languages/java';
import javascript from 'highlight.js/lib/languages/javascript';
import json from 'highlight.js/lib/languages/json';
import kotlin from 'highlight.js/lib/languages/kotlin';
import less from 'highlight.js/lib/languages/less';
import lua from 'highlight.js/lib/languages/lua';
import makefile from 'highlight.js/lib/languages/makefile';
import perl from 'highlight.js/lib/languages/perl';
import objectivec from 'highlight.js/lib/languages/objectivec';
import php from 'highlight.js/lib/languages/php';
import php_template from 'highlight.js/lib/languages/php-template';
import plaintext from 'highlight.js/lib/languages/plaintext';
import python from 'highlight.js/lib/languages/python';
import python_repl from 'highlight.js/lib/languages/python-repl';
import r from 'highlight.js/lib/languages/r';
import rust from 'highlight.js/lib/languages/rust';
import scss from 'highlight.js/lib/languages/scss';
import shell from 'highlight.js/lib/languages/shell';
import sql from 'highlight.js/lib/languages/sql';
import swift from 'highlight.js/lib/languages/swift';
import yaml from 'highlight.js/lib/languages/yaml';
import typescript from 'highlight.js/lib/languages/typescript';
import vbnet from 'highlight.js/lib/languages/vbnet';
import wasm from 'highlight.js/lib/languages/wasm';

export const grammars = [
  ['xml', xml],
  ['bash', bash],
  ['c', c],
  ['cpp', cpp],
  ['csharp', csharp],
  ['css', css],
  ['markdown', markdown],
  ['diff', diff],
  ['ruby', ruby],
  ['go', go],
  ['graphql', graphql],
  ['ini', ini],
  ['java', java],
  ['javascript', javascript],
  ['json', json],
  ['kotlin', kotlin],
  ['less', less],
  ['lua', lua],
  ['makefile', makefile],
  ['perl', perl],
  ['objectivec', objectivec],
  ['php', php],
  ['php-template', php_template],
  ['plaintext', plaintext],
  ['python', python],
  ['python-repl', python_repl],
  ['r', r],
  ['rust', rust],
  ['scss', scss],
  ['shell', shell],
  ['sql', sql],
  ['swift', swift],
  ['yaml', yaml],
  ['typescript', typescript],
  ['vbnet', vbnet],
  ['wasm', wasm],
];

// The other names each grammar answers to, as the grammars themselves declare them (a test holds
// the two together): a fence's "py" makes the Python grammar without making every grammar to
// learn whose alias it is.
export const grammarAliases = Object.fromEntries(Object.entries({
  xml: ['html', 'xhtml', 'rss', 'atom', 'xjb', 'xsd', 'xsl', 'plist', 'wsf', 'svg'],
  bash: ['sh', 'zsh'],
  c: ['h'],
  cpp: ['cc', 'c++', 'h++', 'hpp', 'hh', 'hxx', 'cxx'],
  csharp: ['cs', 'c#'],
  markdown: ['md', 'mkdown', 'mkd'],
  diff: ['patch'],
  ruby: ['rb', 'gemspec', 'podspec', 'thor', 'irb'],
  go: ['golang'],
  graphql: ['gql'],
  ini: ['toml'],
  java: ['jsp'],
  javascript: ['js', 'jsx', 'mjs', 'cjs'],
  json: ['jsonc', 'json5'],
  kotlin: ['kt', 'kts', 'ktm', 'ktx'],
  lua: ['pluto'],
  makefile: ['mk', 'mak', 'make'],
  perl: ['pl', 'pm'],
  objectivec: ['mm', 'objc', 'obj-c', 'obj-c++', 'objective-c++'],
  plaintext: ['text', 'txt'],
  python: ['py', 'gyp', 'ipython'],
  'python-repl': ['pycon'],
  rust: ['rs'],
  shell: ['console', 'shellsession'],
  yaml: ['yml'],
  typescript: ['ts', 'tsx', 'mts', 'cts'],
  vbnet: ['vb'],
}).flatMap(([name, aliases]) => aliases.map((alias) => [alias, name])));

// Builds the page into one folder that works when opened as a file: URL:
//   node build.mjs [--outdir <dir>]     (default: dist/)
import * as esbuild from 'esbuild';
import { cp, mkdir, rm, copyFile } from 'node:fs/promises';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));

function outdirFromArgs(argv) {
  const i = argv.indexOf('--outdir');
  if (i < 0) return { dir: join(here, 'dist'), clean: true };
  const dir = argv[i + 1];
  if (!dir) {
    console.error('build: --outdir needs a folder');
    process.exit(2);
  }
  return { dir: resolve(process.cwd(), dir), clean: false };
}

// Qt 6.4's web engine is Chromium 102; nothing newer may be assumed.
const common = {
  bundle: true, format: 'iife', minify: !process.env.QV_NOMINIFY, target: ['chrome102'], legalComments: 'none', logLevel: 'warning',
};

const FONTS = [
  ['@fontsource/inter/files', ['400-normal', '400-italic', '600-normal', '700-normal'], 'inter-latin'],
  ['@fontsource/source-serif-4/files', ['400-normal', '400-italic', '600-normal', '700-normal'], 'source-serif-4-latin'],
  ['@fontsource/jetbrains-mono/files', ['400-normal', '700-normal'], 'jetbrains-mono-latin'],
];

async function build() {
  const { dir, clean } = outdirFromArgs(process.argv.slice(2));
  if (clean) await rm(dir, { recursive: true, force: true });
  await mkdir(join(dir, 'fonts'), { recursive: true });
  await esbuild.build({ ...common, entryPoints: { quorvel: join(here, 'src/main.js') }, outdir: dir });
  // The diagram renderer is big; the page loads it only for a document that
  // has a diagram.
  await esbuild.build({ ...common, entryPoints: { mermaid: join(here, 'src/mermaid-chunk.js') }, outdir: dir });
  // Code colouring on a helper thread, for a long document written out at once.
  await esbuild.build({ ...common, entryPoints: { highlight: join(here, 'src/highlightworker.js') }, outdir: dir });
  await copyFile(join(here, 'index.html'), join(dir, 'index.html'));
  await copyFile(join(here, 'style.css'), join(dir, 'style.css'));
  const katex = join(here, 'node_modules/katex/dist');
  await mkdir(join(dir, 'katex'), { recursive: true });
  await copyFile(join(katex, 'katex.min.css'), join(dir, 'katex/katex.min.css'));
  await cp(join(katex, 'fonts'), join(dir, 'katex/fonts'), { recursive: true });
  for (const [pkg, styles, prefix] of FONTS) {
    for (const style of styles) {
      const name = `${prefix}-${style}.woff2`;
      await copyFile(join(here, 'node_modules', pkg, name), join(dir, 'fonts', name));
    }
  }
  console.log(`build: wrote ${dir}`);
}

build().catch((err) => {
  console.error(err);
  process.exit(1);
});

// Prints the page's benchmark figures: CommonMark conformance, the
// render/serialize round trip, and render speed on a 1 MB document.
import { runConformance } from './conformance.mjs';
import { runSpeed } from './speed.mjs';

const pct = (n, d) => `${((100 * n) / d).toFixed(1)} %`;
const ms = (x) => `${x.toFixed(1)} ms`;

// Speed first, on a fresh heap: the conformance run leaves a great deal of
// garbage behind.
const s = runSpeed();
const c = runConformance();
console.log('CommonMark conformance (commonmark-spec examples)');
console.log(`  as specified:              ${c.passed} / ${c.total}`);
console.log(`  allowed differences:       ${c.allowed.length}`);
console.log(`  conformance:               ${pct(c.passed + c.allowed.length, c.total)} (target 99 %)`);
console.log(`  failing, not allowed:      ${c.failed.map((f) => `#${f.number}`).join(' ') || 'none'}`);
console.log('  allowed differences:');
for (const a of c.allowed) console.log(`    #${a.number} (${a.section}): ${a.reason}`);
console.log('Round trip: render(serialize(render(x))) equals render(x)');
console.log(`  equal:                     ${c.total - c.roundTripFailed.length} / ${c.total}`);
console.log(`  round trip:                ${pct(c.total - c.roundTripFailed.length, c.total)} (target 97 %)`);
console.log(`  differing:                 ${c.roundTripFailed.map((f) => `#${f.number}`).join(' ')}`);

console.log(`Speed on ${(s.bytes / 1048576).toFixed(2)} MB of package documentation (${s.files} files, ${s.blocks} blocks), median`);
console.log(`  full render, Markdown to block HTML:     ${ms(s.parseMs)} (target 250 ms)`);
console.log(`  incremental, one typed character:        ${ms(s.incrementalMs)} (target 20 ms; whole page in jsdom, DOM patch included)`);
console.log(`    of which Markdown to block HTML:       ${ms(s.incrementalUpdateMs)}`);
console.log(`  full render, whole page in jsdom:        ${ms(s.fullMs)} (for reference: jsdom builds DOM far slower than a browser)`);

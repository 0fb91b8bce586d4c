// worklet_test.js SITE_DIR ASSETS_DIR - the page's audio worklet (vrom2022-audio.js
// with vrom2022-audio.wasm) under node, in a stand-in for the browser's
// AudioWorkletGlobalScope: the quanta it gives, a pause and a resume, its
// count of starved quanta, and its report of a module that does not load.
'use strict';
const fs = require('fs');
const path = require('path');
const vm = require('vm');

const [site, assets] = process.argv.slice(2);
let failures = 0;
function check(what, ok) {
  console.log((ok ? 'ok: ' : 'FAIL: ') + what);
  if (!ok) failures += 1;
}

const RATE = 48000, QUANTUM = 128;
const source = fs.readFileSync(path.join(site, 'vrom2022-audio.js'), 'utf8');

// One processor in a scope of its own, with clocks the test moves: the
// context's and the wall clock (Date.now(), in ms), which runs on with it.
function makeProcessor(options) {
  const wall = { ms: 1.7e12 };
  const scope = { sampleRate: RATE, currentFrame: 0, currentTime: 0, console, WebAssembly, Math, Error, Uint8Array,
                  Float32Array, DataView, String, Date: { now: () => wall.ms } };
  const sent = [];
  scope.AudioWorkletProcessor = class { constructor() { this.port = { postMessage: (m) => sent.push(m), onmessage: null }; } };
  scope.registerProcessor = (name, type) => { scope.type = type; };
  vm.runInNewContext(source, scope);
  const processor = new scope.type({ processorOptions: options });
  return {
    sent, scope, processor, wall,
    post(message) { processor.port.onmessage({ data: Object.assign({ sent: wall.ms }, message) }); },
    // One quantum, as the audio thread asks for it; its two channels.
    quantum(skippedQuanta = 0) {
      scope.currentFrame += skippedQuanta * QUANTUM;
      const out = [new Float32Array(QUANTUM), new Float32Array(QUANTUM)];
      processor.process([], [out]);
      scope.currentFrame += QUANTUM;
      scope.currentTime = scope.currentFrame / RATE;
      wall.ms += 1000 * QUANTUM / RATE;
      return out;
    },
    stats() { return sent.filter((m) => m.op === 'stats').map((m) => m.stats).pop(); },
  };
}

const options = {
  wasm: fs.readFileSync(path.join(site, 'vrom2022-audio.wasm')),
  melo: new Uint8Array(fs.readFileSync(path.join(assets, 'vrom2022_melo.ogg'))),
  space: new Uint8Array(fs.readFileSync(path.join(assets, 'vrom2022_space.ogg'))),
};
const peak = (quanta) => Math.max(0, ...quanta.flatMap((q) => [...q[0], ...q[1]].map(Math.abs)));
const same = (a, b) => a.length === b.length && a.every((x, i) => Object.is(x, b[i]));

const a = makeProcessor(options), b = makeProcessor(options);
check('the worklet says it is ready (' + JSON.stringify(a.sent[0]) + ')', a.sent[0] && a.sent[0].op === 'ready');
check('  and says nothing else on the way', a.sent.length === 1);

// The output runs: told once, when the audio thread has asked for a quarter
// of a second of quanta (94 at 48000 Hz), before the show starts.
{
  const c = makeProcessor(options);
  const warm = () => c.sent.filter((m) => m.op === 'warm').length;
  for (let i = 0; i < 93; ++i) c.quantum();
  check('the worklet does not say the output runs after 93 quanta (' + warm() + ')', warm() === 0);
  c.quantum();
  check('  and says it after the 94th', warm() === 1);
  for (let i = 0; i < 400; ++i) c.quantum();
  check('  and only once', warm() === 1);
}

// The show's start: the tracks wait for the first audible volumes.
for (const p of [a, b]) { p.post({ op: 'start', hold: true }); p.post({ op: 'volumes', melo: 0, space: 0 }); }
const held = [];
for (let i = 0; i < 40; ++i) { held.push(a.quantum()); b.quantum(); }
check('at volume 0 the quanta are silent (peak ' + peak(held) + ')', peak(held) === 0);
for (const p of [a, b]) p.post({ op: 'volumes', melo: 1, space: 0.5 });
const playing = [];
for (let i = 0; i < 375; ++i) { playing.push(a.quantum()); b.quantum(); } // 1 s
check('at the show\'s volumes the music plays (peak ' + peak(playing).toFixed(3) + ')', peak(playing) > 0.05);
check('  and from the first quantum after the change', peak([playing[0]]) > 0);

// A pause: one quantum fades out, then silence, and the music waits.
a.post({ op: 'pause', paused: true });
const fade = a.quantum();
const reference = b.quantum();
check('the pause fades the next quantum out to silence, sample by sample',
      fade[0].every((x, i) => Math.abs(x - reference[0][i] * (1 - (i + 1) / QUANTUM)) < 1e-7) && fade[0][QUANTUM - 1] === 0);
const paused = [];
for (let i = 0; i < 100; ++i) paused.push(a.quantum());
check('and the quanta after it are silent', peak(paused) === 0);
a.post({ op: 'pause', paused: false });
const first = a.quantum(), expected = b.quantum();
check('a resume fades in what comes next', first[1].every((x, i) => Math.abs(x - expected[1][i] * (i + 1) / QUANTUM) < 1e-7));
let continues = true;
for (let i = 0; i < 200; ++i) { const x = a.quantum(), y = b.quantum(); continues = continues && same(x[0], y[0]) && same(x[1], y[1]); }
check('  and goes on where the music stopped, bit for bit like a run without the pause', continues);

// The starved count: nothing so far; quanta the clock skipped count.
const before = a.stats();
check('no quantum starved so far (' + JSON.stringify(before) + ')', before && before.starved === 0);
a.quantum(3);
for (let i = 0; i < 40; ++i) a.quantum();
check('three quanta the audio thread skipped count as three starved (' + a.stats().starved + ')', a.stats().starved === 3);
// Silence after the worklet (the browser's output ran dry): the wall clock
// runs on while no quantum is asked for. Counted once; the clocks' slow drift
// (here 200 ppm) is not a gap.
for (let i = 0; i < 750; ++i) { a.quantum(); a.wall.ms += 0.2 * 128 / RATE; }
check('the clocks\' drift is no gap (' + a.stats().outputGaps + ')', a.stats().outputGaps === 0);
a.wall.ms += 8;
for (let i = 0; i < 750; ++i) a.quantum();
check('8 ms of silence after the worklet count as one gap it saw (' + a.stats().outputGaps + ')',
      a.stats().outputGaps === 1);
check('  which the worklet\'s own count of starved quanta leaves to the page', a.stats().starved === 3);
a.post({ op: 'volumes', melo: 1, space: 0.5, sent: a.wall.ms - 40 });
a.post({ op: 'pause', paused: true, sent: a.wall.ms - 25 });
a.quantum();
for (let i = 0; i < 40; ++i) a.quantum();
check('the pause reports its wait: the message\'s and the fade (' + a.stats().pauseWaitMs.toFixed(2) +
      ' ms, posted 25 ms back)', Math.abs(a.stats().pauseWaitMs - (25 + 128000 / RATE)) < 0.01);
check('  and a volume change the longest wait of its kind (' + a.stats().volumeWaitMs.toFixed(2) + ' ms, posted 40 ms back)',
      a.stats().volumeWaitMs === 40);
check('  of the three volume changes it took (' + a.stats().volumeChanges + ')', a.stats().volumeChanges === 3);
check('  and quanta while paused are not starved ones', a.stats().starved === 3);

// A module that does not load is reported, not thrown out of the constructor.
const broken = makeProcessor(Object.assign({}, options, { wasm: new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 255]) }));
check('a damaged module: "failed" with the reason (' + JSON.stringify(broken.sent[0]) + ')',
      broken.sent[0] && broken.sent[0].op === 'failed' && /did not start/.test(broken.sent[0].why));
check('  and the worklet gives silence, not an exception', peak([broken.quantum()]) === 0);

process.exit(failures ? 1 : 0);

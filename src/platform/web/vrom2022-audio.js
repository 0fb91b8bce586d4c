// vrom2022-audio.js - the audio worklet: the page's sound, pulled by the
// browser's audio thread one render quantum at a time.
//
// processorOptions: module (vrom2022-audio.wasm, compiled by the page; or
// wasm, its bytes, compiled here) and the two Ogg files (melo, space). The
// module has no JavaScript runtime: the few system calls its C library may
// make get minimal answers here (text written to its standard output or
// error comes to the page as a log line).
//
// Messages from the page: start {hold}, seek {t}, volumes {melo, space},
// pause {paused}, each stamped with the wall clock (Date.now()) as it was
// posted (sent).
// To the page: ready, failed {why}, log {text}, warm (the audio thread has
// asked for a quarter of a second of quanta: the output runs), and stats every 0.5 s with
// the context time of the quantum rendered (time): quanta played, starved
// ones (silent or short here, or skipped by the audio thread), outputGaps
// (silences after this thread, told by the context's clock), the volume
// changes taken, and the waits of the longest of them and of the last
// pause, from the frame that
// posted it to the quantum that takes it (the pause's with its fade; the
// page adds the context's latency to the ear)
// (see audio_page.js).
const QUANTUM_FRAMES = 128;
const STATS_SECONDS = 0.5; // how often the page hears how the sound goes
const OUTPUT_GAP_MS = 3;   // a step in the lag of the context's clock this long is a gap (see process)
const WARM_SECONDS = 0.25; // quanta asked for before the page is told the output runs

class VromAudio extends AudioWorkletProcessor {
  constructor(options) {
    super();
    this.stats = { quanta: 0, starved: 0, outputGaps: 0, volumeChanges: 0, volumeWaitMs: 0, pauseWaitMs: 0 };
    this.leastLagMs = Infinity; // this half second's least lag of the context's clock behind the wall clock
    this.lastLagMs = null;      // the last half second's
    this.paused = false;  // no mixing while paused: the music waits where it stopped
    this.ramp = 0;        // +1: the next quantum fades in, -1: fades out
    this.started = false; // the show's start has come
    this.lastFrame = -1;  // currentFrame of the last quantum
    this.pulled = 0;      // quanta asked for, playing or not
    this.warmQuanta = Math.ceil(WARM_SECONDS * sampleRate / QUANTUM_FRAMES);
    this.sentAt = 0;
    this.ready = false;
    try {
      const o = options.processorOptions;
      this.open(o.module || new WebAssembly.Module(o.wasm), [o.melo, o.space]);
      this.ready = true;
      this.port.postMessage({ op: 'ready' });
    } catch (e) {
      this.port.postMessage({ op: 'failed', why: 'the audio engine did not start: ' + (e.message || e) });
    }
    this.port.onmessage = (event) => this.command(event.data);
  }

  open(module, oggs) {
    const imports = {};
    let memory = null;
    const text = [];
    const system = {
      // fd_write(fd, iovs, count, written): standard output and error become log lines.
      fd_write: (fd, iovs, count, written) => {
        const view = new DataView(memory.buffer);
        let total = 0;
        for (let i = 0; i < count; ++i) {
          const at = view.getUint32(iovs + 8 * i, true), length = view.getUint32(iovs + 8 * i + 4, true);
          for (const byte of new Uint8Array(memory.buffer, at, length)) {
            if (byte === 10) { this.port.postMessage({ op: 'log', text: String.fromCharCode(...text) }); text.length = 0; }
            else text.push(byte);
          }
          total += length;
        }
        view.setUint32(written, total, true);
        return 0;
      },
      proc_exit: (status) => { throw new Error('the audio engine ended (status ' + status + ')'); },
    };
    for (const entry of WebAssembly.Module.imports(module)) {
      if (entry.kind !== 'function') continue;
      imports[entry.module] = imports[entry.module] || {};
      // Whatever else it may ask for (files, clocks) it does not get: 52, ENOSYS.
      imports[entry.module][entry.name] = system[entry.name] || (() => 52);
    }
    const instance = new WebAssembly.Instance(module, imports);
    const x = instance.exports;
    memory = x.memory;
    if (x._initialize) x._initialize(); // the C++ constructors
    if (x.vrom_audio_open(sampleRate, QUANTUM_FRAMES) !== 0) throw new Error('no engine at ' + sampleRate + ' Hz');
    oggs.forEach((bytes, track) => {
      const data = new Uint8Array(bytes);
      const at = x.vrom_audio_buffer(data.length);
      new Uint8Array(memory.buffer, at, data.length).set(data);
      const result = x.vrom_audio_load(track, at, data.length);
      if (result !== 0) this.port.postMessage({ op: 'log', text: 'track ' + track + ' did not load (' + result + ')' });
    });
    this.x = x;
    this.memory = memory;
  }

  command(m) {
    if (!this.ready) return;
    // From the frame that posted it to the quantum rendered next.
    const waitedMs = Math.max(0, Date.now() - m.sent);
    if (m.op === 'start') {
      this.x.vrom_audio_start(m.hold ? 1 : 0);
      this.started = true;
    } else if (m.op === 'seek') {
      this.x.vrom_audio_seek(m.t);
    } else if (m.op === 'volumes') {
      this.x.vrom_audio_volumes(m.melo, m.space);
      this.stats.volumeChanges += 1;
      this.stats.volumeWaitMs = Math.max(this.stats.volumeWaitMs, waitedMs);
    } else if (m.op === 'pause' && m.paused !== this.paused) {
      this.paused = m.paused;
      this.ramp = m.paused ? -1 : 1;
      if (m.paused) this.stats.pauseWaitMs = waitedMs + 1000 * QUANTUM_FRAMES / sampleRate; // and its fade
    }
  }

  process(inputs, outputs) {
    const out = outputs[0];
    const frames = out[0].length;
    // A browser may open its output stream only when the first node is
    // connected (Firefox), and its first callbacks come unevenly: the page
    // starts the show once they have come for a while.
    if (++this.pulled === this.warmQuanta) this.port.postMessage({ op: 'warm' });
    const playing = this.started && (!this.paused || this.ramp < 0);
    // The audio thread's clock moved on by more than one quantum: quanta
    // that were never asked for went out as silence.
    if (this.lastFrame >= 0 && this.started && !this.paused && currentFrame - this.lastFrame > frames)
      this.stats.starved += Math.round((currentFrame - this.lastFrame - frames) / frames);
    this.lastFrame = currentFrame;
    if (playing) {
      const mixed = this.ready ? this.x.vrom_audio_mix(frames) : 0;
      if (mixed < frames) this.stats.starved += 1;
      if (mixed > 0) {
        const stride = (mixed + 15) & ~15;
        // A view made again only when the module's memory has grown: no
        // garbage on the audio thread, quantum after quantum.
        if (!this.mix || this.mix.buffer !== this.memory.buffer || this.mixStride !== stride) {
          this.mix = new Float32Array(this.memory.buffer, this.x.vrom_audio_output(), 2 * stride);
          this.mixStride = stride;
        }
        const mix = this.mix;
        for (let c = 0; c < out.length && c < 2; ++c) {
          const channel = out[c];
          channel.set(mix.subarray(c * stride, c * stride + mixed));
          // Into and out of a pause, one quantum's linear fade: no click.
          if (this.ramp < 0) for (let i = 0; i < mixed; ++i) channel[i] *= 1 - (i + 1) / mixed;
          if (this.ramp > 0) for (let i = 0; i < mixed; ++i) channel[i] *= (i + 1) / mixed;
        }
      }
      this.ramp = 0;
      this.stats.quanta += 1;
    }
    // Where the output ran dry after this thread (the browser's own buffer,
    // the sound server), the listener heard silence that no quantum here
    // shows: the context's clock moves only as quanta are asked for, so it
    // falls behind the wall clock by the silence. The least lag of each half
    // second (the quantum asked for most promptly) against the last one's: a
    // step of OUTPUT_GAP_MS or more is a gap; the clocks' slow drift is not.
    const lagMs = Date.now() - 1000 * currentTime;
    if (lagMs < this.leastLagMs) this.leastLagMs = lagMs;
    if (currentTime - this.sentAt >= STATS_SECONDS) {
      this.sentAt = currentTime;
      if (this.lastLagMs !== null && this.leastLagMs - this.lastLagMs >= OUTPUT_GAP_MS && this.started && !this.paused)
        this.stats.outputGaps += 1;
      this.lastLagMs = this.leastLagMs;
      this.leastLagMs = Infinity;
      this.port.postMessage({ op: 'stats', stats: this.stats, time: currentTime });
    }
    return true;
  }
}

registerProcessor('vrom-audio', VromAudio);

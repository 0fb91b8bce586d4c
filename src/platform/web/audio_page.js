// audio_page.js - the page's side of the sound (built into vrom2022.js).
//
// The page's thread draws; the browser's audio thread plays. vromAudio opens
// the AudioContext inside the start click, loads the audio worklet
// (vrom2022-audio.js) with its own engine (vrom2022-audio.wasm, compiled
// here: compiled on the audio thread, Firefox ESR can deadlock the page) and
// both Ogg files, and posts it what the show does to its music: start, seek, the
// volumes of each frame, pause and resume. The worklet pulls its sound as the
// device plays, so a slow frame delays a volume change, never the sound.
//
// The page never asks a context for its output latency or timestamps
// (outputLatency, getOutputTimestamp): Firefox ESR answers them through its
// sound server while holding the lock of its audio graph, which each of the
// audio thread's callbacks takes too, and the page and the audio thread can
// deadlock (the tab stops answering). That holds from the moment the context
// runs, with or without a worklet. So the latency is the base latency, plus
// the output's as the browser reports it on its own (Chromium's
// playbackStats), and messages are stamped with the wall clock (Date.now()),
// which the worklet reads too. Nor does the page open a second context where
// it can help it (the autoplay probe, see index.html).
//
// What the worklet reports comes back in vromAudio.stats:
//   state            "closed", "loading", "starting" (connected, waiting for
//                    the output to run), "playing", "paused", or "failed: why"
//   quanta           render quanta (128 frames) played since the start
//   starved          quanta that went out silent or short while the show
//                    played: the engine not ready, or the audio thread late
//                    (its clock moved on by more than the quanta it asked
//                    for); and the times its output ran dry after the
//                    worklet (outputUnderruns): as the browser reports them
//                    (Chromium), else as the worklet's clock shows them
//                    (outputUnderrunsFrom says which; outputGaps is the
//                    clock's count in either browser)
//   volumeChanges    volume changes the worklet has taken
//   volumeWaitMs     the longest wait of a volume change, from the frame that
//                    posted it to the quantum that took it (ms)
//   pauseWaitMs      the same for the last pause, to the end of its fade-out
//   latencyMs        the context's own latency from there to the ear: the
//                    base latency, plus the most output latency the browser
//                    has seen (Chromium's playbackStats); where it tells none
//                    (Firefox), the base latency alone
//   volumeDelayMs, pauseDelayMs
//                    the two waits with the latency: the delays a listener has
var vromAudio = {
  context: null,
  node: null,
  stats: { state: 'closed', quanta: 0, starved: 0, volumeChanges: 0, volumeWaitMs: 0, pauseWaitMs: 0, latencyMs: 0,
           volumeDelayMs: 0, pauseDelayMs: 0 },

  // Inside the click: the context starts running. Returns its rate, or 0.
  open() {
    try {
      // The default ("interactive") latency: a pause is heard within 50 ms
      // (about 45 ms in Chromium; "balanced" 47-51 ms, "playback" 80 ms).
      // The worklet mixes as the device asks, so a short buffer is safe but
      // for the browser's own output on a machine whose every core is busy.
      this.context = new AudioContext();
    } catch (e) {
      this.fail('this browser gives no AudioContext (' + e.message + ')');
      return 0;
    }
    // The click lets it run; begin() waits for that (a second at most).
    const context = this.context;
    this.running = Promise.race([context.resume().catch(() => {}),
                                 new Promise((done) => setTimeout(done, 1000))]);
    return context.sampleRate;
  },

  // Loads the worklet with both tracks; calls onReady(true) when it plays,
  // onReady(false) when it cannot (the show then goes on without sound).
  begin(meloPath, spacePath, onReady) {
    if (!this.context) return onReady(false);
    if (!this.context.audioWorklet) {
      this.fail('the page is not a secure context (AudioWorklet needs https:// or http://localhost)');
      return onReady(false);
    }
    this.stats.state = 'loading';
    const context = this.context;
    Promise.all([this.running,
                 context.audioWorklet.addModule('vrom2022-audio.js'),
                 fetch('vrom2022-audio.wasm').then((r) => {
                   if (!r.ok) throw new Error('vrom2022-audio.wasm: HTTP ' + r.status);
                   return r.arrayBuffer();
                 }).then((bytes) => WebAssembly.compile(bytes))])
      .then(([, , module]) => {
        const melo = FS.readFile(meloPath), space = FS.readFile(spacePath);
        const baseLatencyMs = 1000 * (context.baseLatency || 0);
        this.stats.latencyMs = baseLatencyMs;
        const node = new AudioWorkletNode(context, 'vrom-audio', {
          numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [2],
          processorOptions: { module, melo, space },
        });
        node.onprocessorerror = () => this.fail('the audio worklet stopped with an error');
        // The show starts once the output runs (the worklet says 'warm'),
        // so that the uneven start of a browser's output stream falls before
        // the music; or after two seconds without it (a context the browser
        // holds suspended: the sound comes when it runs).
        let begun = false;
        const play = () => {
          if (begun || this.node !== node) return;
          begun = true;
          this.stats.state = 'playing';
          onReady(true);
        };
        node.port.onmessage = (event) => {
          const m = event.data;
          if (m.op === 'ready') {
            this.node = node;
            node.connect(context.destination);
            this.stats.state = 'starting';
            setTimeout(play, 2000);
          } else if (m.op === 'warm') {
            play();
          } else if (m.op === 'failed') {
            this.fail(m.why);
            onReady(false);
          } else if (m.op === 'stats') {
            Object.assign(this.stats, m.stats);
            // The times the output ran dry after the worklet had delivered:
            // as the browser tells them where it does (Chromium's
            // playbackStats), else as the worklet's clock shows them
            // (outputGaps). The clock's count is a guess from lag, which
            // errs both ways: in Chromium it once saw a 12 ms gap that
            // playbackStats missed, and once a gap that no recording had.
            const playback = context.playbackStats;
            const told = !!playback && typeof playback.underrunEvents === 'number';
            this.stats.outputUnderruns = told ? playback.underrunEvents : m.stats.outputGaps;
            this.stats.outputUnderrunsFrom = told ? 'browser' : 'worklet';
            if (told && playback.maximumLatency > 0)
              this.stats.latencyMs = Math.max(this.stats.latencyMs, baseLatencyMs + 1000 * playback.maximumLatency);
            this.stats.volumeDelayMs = this.stats.volumeWaitMs + this.stats.latencyMs;
            this.stats.pauseDelayMs = this.stats.pauseWaitMs + this.stats.latencyMs;
            this.stats.starved = m.stats.starved + this.stats.outputUnderruns;
          } else if (m.op === 'log') {
            console.log('vrom2022-audio: ' + m.text);
          }
        };
      })
      .catch((e) => {
        this.fail(String(e.message || e));
        onReady(false);
      });
  },

  // What the show does to its music, stamped with the wall clock as it is
  // posted. The worklet takes it into the quantum it renders next and
  // reports the wait; with the context's latency added (see the stats
  // above) it is the delay a listener has. (The context's own
  // clock is no help on this thread: currentTime can be as old as the frame
  // being drawn, Firefox updates it between tasks, and its output timestamp
  // is one of the questions that can deadlock Firefox; see above.)
  post(message) {
    if (!this.node) return;
    message.sent = Date.now();
    this.node.port.postMessage(message);
  },
  pause(paused) {
    if (!this.node) return;
    this.post({ op: 'pause', paused });
    this.stats.state = paused ? 'paused' : 'playing';
  },

  fail(why) {
    this.stats.state = 'failed: ' + why;
    console.warn('vROm 2022 plays without sound: ' + why);
    if (typeof vromShowMessage === 'function') vromShowMessage('No sound', why);
  },

  close() {
    if (this.node) this.node.disconnect();
    if (this.context) this.context.close().catch(() => {});
    this.node = this.context = null;
    this.stats.state = 'closed';
  },
};

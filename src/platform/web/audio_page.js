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
// What the worklet reports comes back in vromAudio.stats:
//   state            "closed", "loading", "playing", "paused", or "failed: why"
//   quanta           render quanta (128 frames) played since the start
//   starved          quanta that went out silent or short while the show
//                    played: the engine not ready, or the audio thread late
//                    (its clock moved on by more than the quanta it asked
//                    for); and, where the browser reports them, the times its
//                    output ran dry after the worklet (outputUnderruns)
//   volumeDelayMs    the longest delay of a volume change, from the frame that
//                    posted it to when the quantum that took it is heard (ms)
//   pauseDelayMs     the same for the last pause, to the end of its fade-out
//   latencyMs        the context's own latency (base and output) as it
//                    started playing, which both delays include
var vromAudio = {
  context: null,
  node: null,
  stats: { state: 'closed', quanta: 0, starved: 0, volumeDelayMs: 0, pauseDelayMs: 0, latencyMs: 0 },

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
    this.context.resume().catch(() => {});
    return this.context.sampleRate;
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
    Promise.all([context.audioWorklet.addModule('vrom2022-audio.js'),
                 fetch('vrom2022-audio.wasm').then((r) => {
                   if (!r.ok) throw new Error('vrom2022-audio.wasm: HTTP ' + r.status);
                   return r.arrayBuffer();
                 }).then((bytes) => WebAssembly.compile(bytes))])
      .then(([, module]) => {
        const melo = FS.readFile(meloPath), space = FS.readFile(spacePath);
        const node = new AudioWorkletNode(context, 'vrom-audio', {
          numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [2],
          processorOptions: { module, melo, space },
        });
        node.onprocessorerror = () => this.fail('the audio worklet stopped with an error');
        node.port.onmessage = (event) => {
          const m = event.data;
          if (m.op === 'ready') {
            // Read once, as the sound starts (see now()).
            this.stats.latencyMs = 1000 * ((context.baseLatency || 0) + (context.outputLatency || 0));
            this.node = node;
            node.connect(context.destination);
            this.stats.state = 'playing';
            onReady(true);
          } else if (m.op === 'failed') {
            this.fail(m.why);
            onReady(false);
          } else if (m.op === 'stats') {
            Object.assign(this.stats, m.stats);
            // Where the browser tells (Chromium's playbackStats), the times
            // its own audio output ran dry after the worklet had delivered.
            const playback = context.playbackStats;
            if (playback && typeof playback.underrunEvents === 'number') {
              this.stats.outputUnderruns = playback.underrunEvents;
              this.stats.starved = m.stats.starved + playback.underrunEvents;
            }
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

  // What the show does to its music, stamped with the context time being
  // heard as it is posted. The worklet takes it into the quantum it renders
  // next, heard at that quantum's own context time: the difference is the
  // delay a listener has. currentTime on the page's thread can be as old as
  // the frame being drawn (Firefox updates it between tasks), so the time is
  // the output's last timestamp carried forward on the page's clock.
  now() {
    const stamp = this.context.getOutputTimestamp ? this.context.getOutputTimestamp() : null;
    if (!stamp || !(stamp.contextTime > 0)) return this.context.currentTime;
    return stamp.contextTime + (performance.now() - stamp.performanceTime) / 1000;
  },
  post(message) {
    if (!this.node) return;
    message.at = this.now();
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

# sound_servers.sh - private sound servers for the end-to-end tests, sourced
# after lib.sh. Each runs in a runtime folder of its own (XDG_RUNTIME_DIR),
# speaks only on a unix socket there, and plays into a null sink at 48000 Hz,
# whose monitor the tests record. Stopped when the test exits.

# start_pulseaudio: PulseAudio 16 with one null sink "vrom" at 48000 Hz.
# Exports XDG_RUNTIME_DIR and PULSE_SERVER.
start_pulseaudio() {
    SOUND_RUNTIME=$(mktemp -d)
    export XDG_RUNTIME_DIR=$SOUND_RUNTIME
    mkdir -p "$SOUND_RUNTIME/pulse"
    export PULSE_SERVER=unix:$SOUND_RUNTIME/pulse/native
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no -F /dev/null \
        --load="module-native-protocol-unix socket=$SOUND_RUNTIME/pulse/native auth-anonymous=1" \
        --load="module-null-sink sink_name=vrom rate=48000 channels=2" \
        >"$SOUND_RUNTIME/server.log" 2>&1 &
    SOUND_PIDS=$!
    trap 'stop_sound_servers; stop_xvfb' EXIT
    local i
    for i in $(seq 1 100); do
        pactl info >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "PulseAudio did not start:"; tail -n 5 "$SOUND_RUNTIME/server.log"; return 1
}

# start_pipewire: PipeWire with WirePlumber and pipewire-pulse on a D-Bus
# session bus of their own, and a null sink "vrom" at 48000 Hz (the graph
# runs at 48000 Hz). Exports XDG_RUNTIME_DIR, PULSE_SERVER and
# DBUS_SESSION_BUS_ADDRESS.
start_pipewire() {
    SOUND_RUNTIME=$(mktemp -d)
    export XDG_RUNTIME_DIR=$SOUND_RUNTIME
    chmod 700 "$SOUND_RUNTIME"
    mkdir -p "$SOUND_RUNTIME/config/pipewire/pipewire.conf.d"
    cat >"$SOUND_RUNTIME/config/pipewire/pipewire.conf.d/vrom.conf" <<'CONF'
context.properties = { default.clock.rate = 48000  default.clock.allowed-rates = [ 48000 ] }
context.objects = [
    { factory = adapter
      args = { factory.name = support.null-audio-sink  node.name = "vrom"  media.class = "Audio/Sink"
               audio.position = [ FL FR ]  audio.rate = 48000  object.linger = true
               monitor.channel-volumes = true } }
]
CONF
    export XDG_CONFIG_HOME=$SOUND_RUNTIME/config
    export PULSE_SERVER=unix:$SOUND_RUNTIME/pulse/native
    dbus-daemon --session --fork --nopidfile --address="unix:path=$SOUND_RUNTIME/bus" --print-pid >"$SOUND_RUNTIME/dbus.pid"
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$SOUND_RUNTIME/bus
    SOUND_PIDS=$(cat "$SOUND_RUNTIME/dbus.pid")
    pipewire >"$SOUND_RUNTIME/pipewire.log" 2>&1 &
    SOUND_PIDS="$SOUND_PIDS $!"
    sleep 0.5
    wireplumber >"$SOUND_RUNTIME/wireplumber.log" 2>&1 &
    SOUND_PIDS="$SOUND_PIDS $!"
    pipewire-pulse >"$SOUND_RUNTIME/pipewire-pulse.log" 2>&1 &
    SOUND_PIDS="$SOUND_PIDS $!"
    trap 'stop_sound_servers; stop_xvfb' EXIT
    # The sink exists as soon as PipeWire runs, but streams are linked only
    # once WirePlumber is up: it then makes "vrom" the default sink. Until
    # then a new stream waits, and after 30 s fails ("Stream error: Timeout").
    local i
    for i in $(seq 1 300); do
        pactl info 2>/dev/null | grep -qx "Default Sink: vrom" && return 0
        sleep 0.1
    done
    echo "PipeWire did not start (no default sink after 30 s):"; tail -n 5 "$SOUND_RUNTIME"/*.log; return 1
}

stop_sound_servers() {
    [ -n "${RECORD_PID:-}" ] && kill "$RECORD_PID" 2>/dev/null
    local pid
    for pid in ${SOUND_PIDS:-}; do kill "$pid" 2>/dev/null; done
    for pid in ${SOUND_PIDS:-}; do wait "$pid" 2>/dev/null; done
    SOUND_PIDS=
    [ -n "${SOUND_RUNTIME:-}" ] && rm -rf "$SOUND_RUNTIME"
    SOUND_RUNTIME=
    return 0
}

# start_recording FILE: records the sink's monitor as raw 32-bit float
# stereo at 48000 Hz (RECORD_PID). Returns once the recording has data: the
# monitor gives samples (silence until something plays) as soon as the
# stream runs. A server that has just started may refuse or stall the first
# recording stream while its session manager settles, so a recorder that
# ends, or has no data after 10 s, is started again: five tries in all.
start_recording() {
    local attempt i
    for attempt in 1 2 3 4 5; do
        rm -f "$1"
        parecord --device=vrom.monitor --rate=48000 --channels=2 --format=float32le --raw --latency-msec=20 "$1" &
        RECORD_PID=$!
        for i in $(seq 1 100); do
            sleep 0.1
            kill -0 "$RECORD_PID" 2>/dev/null || break
            [ -s "$1" ] && return 0
        done
        kill "$RECORD_PID" 2>/dev/null; wait "$RECORD_PID" 2>/dev/null
        echo "note: the recording did not start (attempt $attempt)" >&2
    done
    RECORD_PID=
    return 1
}
stop_recording() {
    kill "$RECORD_PID" 2>/dev/null; wait "$RECORD_PID" 2>/dev/null
    RECORD_PID=
}

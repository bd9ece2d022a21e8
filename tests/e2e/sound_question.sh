#!/usr/bin/env bash
# One question as a user meets it: the real program on a private X server and
# a private PulseAudio server whose only sink is a null sink. The settings file
# fixes the key, the key type, the key reference, the tempo and one interval;
# Start is pressed with Alt+S, the null sink's monitor is recorded, and the
# chords and notes found in the recording are compared with that question.
# Then the program is closed through its File menu and must have rewritten
# the settings file.
#
# Usage: sound_question.sh PATH-TO-SONAVEL. Exit 0 passed, 1 failed, 77 skipped
# (a tool is missing, or the X or sound server cannot start here).
# KEEP_E2E_FILES=1 keeps the working folder with the recording and the logs.
set -u

program=${1:?usage: sound_question.sh PATH-TO-SONAVEL}
here=$(cd "$(dirname "$0")" && pwd)
fixture=$here/../fixtures/settings/default.dat

# The question that the settings file asks for. Bb is key 8 of the scale
# catalogue, its root 2 semitones below C; a low key keeps the notes where the
# pitch trackers are sure of them (above about MIDI 93 they hear a piano note
# an octave or a twelfth low).
key_index=8
key_root=-2
key_type=1             # Minor (Natural)
scale=(0 2 3 5 7 8 10) # its semitones, degree 1 to 7
interval=7             # Perfect fifth, ascending only
tempo=120              # not the default, so the file is seen to count
key_reference=0        # I - IV - V - I cadence, fixed
# The cadence's chords above the key's root: each one's bass note, and the
# note that a minor key lowers by a semitone (the third of I and IV, the
# leading note of V).
cadence_bass=(48 41 43 48)
cadence_third=(52 57 59 52)
minor_third_db=10 # how much stronger the lowered note must sound

# Largest error of an onset against the question's rhythm. Undisturbed
# onsets land within about 10 ms; a busy machine that holds up the program's
# thread for a moment moves the onsets after it by 20 to 150 ms.
onset_tolerance_ms=40
startup_timeout_s=20

started_ns=$(date +%s%N)
elapsed_ms() { echo $((($(date +%s%N) - started_ns) / 1000000)); }
log() { printf '[%6d ms] %s\n' "$(elapsed_ms)" "$*"; }

work=""
pids=()
names=()
dump_logs() {
    [ -n "$work" ] || return 0
    local f
    for f in "$work"/*.log; do
        [ -s "$f" ] || continue
        echo "----- $(basename "$f") (last lines)"
        tail -n 25 "$f"
    done
}
skip() {
    echo "SKIPPED: $*"
    dump_logs
    exit 77
}
fail() {
    echo "FAILED: $*"
    dump_logs
    exit 1
}

# Ends what this script started, newest first, each by its process id.
cleanup() {
    local i pid n
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        pid=${pids[i]}
        kill -0 "$pid" 2>/dev/null || continue
        kill -TERM "$pid" 2>/dev/null
        for ((n = 0; n < 30; n++)); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        if kill -0 "$pid" 2>/dev/null; then
            echo "note: ${names[i]} (pid $pid) ignored TERM; killing it"
            kill -KILL "$pid" 2>/dev/null
        fi
        wait "$pid" 2>/dev/null
    done
    if [ -n "$work" ]; then
        if [ "${KEEP_E2E_FILES:-0}" = 1 ]; then
            echo "kept $work"
        else
            rm -rf "$work"
        fi
    fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Children get TERM should this script die without its cleanup (a test
# killed on time-out).
guard=()
setpriv --pdeathsig TERM true 2>/dev/null && guard=(setpriv --pdeathsig TERM)

started() { # name pid
    names+=("$1")
    pids+=("$2")
}

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
    local deadline=$(($(date +%s%N) + ${1%.*} * 1000000000))
    shift
    until "$@"; do
        [ "$(date +%s%N)" -lt "$deadline" ] || return 1
        sleep 0.05
    done
}

# ---------------------------------------------------------------- tools
[ -x "$program" ] || fail "no program at '$program'"
[ -r "$fixture" ] || fail "no settings fixture at $fixture"
for tool in Xvfb xdotool xprop pulseaudio pactl parecord aubioonset aubiopitch sox; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps.sh installs it)"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/sonavel-e2e.XXXXXX") || fail "cannot make a working folder"
mkdir -p "$work/home" "$work/run"
chmod 700 "$work/run"

# Nothing of the user's session may leak in: no desktop bus, no Wayland, no
# PipeWire, no settings file of the real profile.
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR SESSION_MANAGER
export HOME=$work/home USERPROFILE=$work/home XDG_RUNTIME_DIR=$work/run
export XDG_CONFIG_HOME=$work/home/.config XDG_CACHE_HOME=$work/home/.cache
export PULSE_SERVER=unix:$work/run/pulse/native
export QT_QPA_PLATFORM=xcb

# ---------------------------------------------------------------- X server
"${guard[@]}" Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
started Xvfb $!
xvfb_pid=$!
display_known() { [ -s "$work/display" ] || ! kill -0 "$xvfb_pid" 2>/dev/null; }
wait_for 15 display_known || skip "Xvfb gave no display number within 15 s"
kill -0 "$xvfb_pid" 2>/dev/null || skip "Xvfb did not start"
DISPLAY=:$(tr -dc '0-9' <"$work/display")
export DISPLAY
log "Xvfb on $DISPLAY (pid $xvfb_pid)"

# ---------------------------------------------------------------- sound server
# Without rewinds: a sink that rewinds re-renders sound its monitor has
# already recorded (when a stream starts, or comes back after running dry),
# and the recording then holds some of it twice, which moves all after it.
"${guard[@]}" pulseaudio --daemonize=no -n --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
    -L "module-null-sink sink_name=nul rate=48000 norewinds=1" -L module-native-protocol-unix \
    -L module-always-sink >"$work/pulseaudio.log" 2>&1 &
started pulseaudio $!
pulse_pid=$!
pulse_answers() { pactl info >/dev/null 2>&1 || ! kill -0 "$pulse_pid" 2>/dev/null; }
wait_for 15 pulse_answers || skip "PulseAudio did not answer within 15 s"
kill -0 "$pulse_pid" 2>/dev/null || skip "PulseAudio did not start"
pactl info 2>/dev/null | grep -q '^Default Sink: nul$' || fail "the null sink is not the default sink"
log "PulseAudio answers (pid $pulse_pid)"

# ---------------------------------------------------------------- settings file
# The layout the program writes, with this test's values, and one comment line
# of its own that the program does not write back.
settings=$work/home/snv2_settings.dat
asc=$(for i in $(seq 0 12); do [ "$i" = "$interval" ] && printf 1 || printf 0; [ "$i" -lt 12 ] && printf ,; done)
# shellcheck disable=SC2054 # the commas are in the values
declare -A values=(
    [CurrentKey]=$key_index [RandomKey]=0
    [CurrentKeyType]=$key_type [RandomKeyType]=0
    [SelIntervalsAsc]=$asc [SelIntervalsDesc]=0,0,0,0,0,0,0,0,0,0,0,0,0
    [SelIntervalsHarm]=0,0,0,0,0,0,0,0,0,0,0,0,0
    [CurrentKeyReference]=$key_reference [KeyReferenceSettings]=0
    [PlaybackSpeed]=$tempo [CurrentNoteDuration]=1
    [MIDIDevice]=0 [MIDIRandomInstrumentKR]=0 [MIDIRandomInstrumentRN]=0
)
marker="- written by the end-to-end test"
cp "$fixture" "$settings"
for k in "${!values[@]}"; do
    grep -q "^$k=" "$settings" || fail "the fixture has no line $k="
    sed -i "s/^$k=[^\r]*/$k=${values[$k]}/" "$settings"
done
printf '%s\r\n' "$marker" >>"$settings"
[ "$(grep -c $'\r$' "$settings")" = "$(wc -l <"$settings")" ] || fail "settings lines are not CR LF terminated"
touch -d '2001-01-01 00:00:00' "$settings"

# ---------------------------------------------------------------- program
"${guard[@]}" "$program" >"$work/sonavel.log" 2>&1 &
started sonavel $!
app_pid=$!
window=$(timeout "$startup_timeout_s" xdotool search --sync --onlyvisible --pid "$app_pid" --name '^Sonavel - Advanced$' 2>/dev/null | head -n 1)
[ -n "$window" ] || fail "no window \"Sonavel - Advanced\" within $startup_timeout_s s"

# The only window of the program must be the main window: the error dialog
# carries the same title but is a dialog.
only_main_window() {
    local ids id
    kill -0 "$app_pid" 2>/dev/null || fail "the program ended ($1)"
    ids=$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null)
    for id in $ids; do
        if [ "$id" != "$window" ]; then
            fail "a second window \"$(xdotool getwindowname "$id")\" ($(xprop -id "$id" _NET_WM_WINDOW_TYPE | sed 's/.*= //')) is open ($1)"
        fi
    done
    [ "$(xdotool getwindowname "$window")" = "Sonavel - Advanced" ] || fail "the main window's title changed ($1)"
    xprop -id "$window" _NET_WM_WINDOW_TYPE | grep -q '_NET_WM_WINDOW_TYPE_NORMAL$' || fail "the window found is not the main window ($1)"
}
only_main_window "after start-up"
log "main window $window (pid $app_pid)"

# ---------------------------------------------------------------- the question
round_even() { awk -v x="$1" 'BEGIN { r = int(x + 0.5); if (r - x == 0.5 && r % 2) r--; print r }'; }
beat_ms=$(round_even "$(awk -v t="$tempo" 'BEGIN { print 60000 / t }')")
pause_ms=$(round_even "$(awk -v t="$(round_even "$(awk -v t="$tempo" 'BEGIN { print t * 0.75 }')")" 'BEGIN { print 60000 / t }')")
note_ms=$beat_ms # quarter notes
chords=${#cadence_bass[@]}
expected=() lengths=() events=() thirds=()
for ((c = 0; c < chords; c++)); do
    expected+=($((c * beat_ms)))
    lengths+=("$beat_ms")
    events+=("chord_$((c + 1))")
    thirds+=("$((key_root + cadence_third[c] - 1)):$((key_root + cadence_third[c]))")
done
first_note_at=$((chords * beat_ms + pause_ms))
expected+=("$first_note_at" $((first_note_at + note_ms)))
lengths+=("$note_ms" "$note_ms")
events+=(note_1 note_2)
thirds+=("" "")
question_ms=$((first_note_at + 2 * note_ms))

# The first note lies in the octave above middle C shifted to the key, on a
# degree whose interval above is in the scale too.
candidates=()
for s in "${scale[@]}"; do
    for t in "${scale[@]}"; do
        (((s + interval) % 12 == t)) && candidates+=($((72 + key_root + s)))
    done
done

# ---------------------------------------------------------------- one play
# play KEY N: starts a recording of the null sink's monitor, presses KEY in
# the main window, waits until the question has sounded and the sound has
# died away, and judges the recording into $work/play-N.txt.
#
# A short recording latency makes parecord deliver at once. With its default
# of 2 s, parecord delivers only after 1.5 to 2 s, and a low-latency stream
# that opens meanwhile (the synthesizer's, at the first Start) is heard only
# from about 1.8 s on.
play() {
    local key=$1 n=$2 rec=$work/play-$2.wav record_pid peak
    "${guard[@]}" parecord --latency-msec=20 --device=nul.monitor --file-format=wav --rate=48000 \
        --channels=1 "$rec" >"$work/parecord-$n.log" 2>&1 &
    started "parecord $n" $!
    record_pid=$!
    size() { stat -c %s "$rec" 2>/dev/null || echo 0; }
    recording_runs() { [ "$(size)" -gt 4096 ] || ! kill -0 "$record_pid" 2>/dev/null; }
    wait_for 10 recording_runs || fail "parecord delivered nothing within 10 s"
    kill -0 "$record_pid" 2>/dev/null || fail "parecord ended at once"

    timeout 10 xdotool windowfocus --sync "$window" || fail "cannot focus the main window"
    # The file grows in real time: its size tells where the press falls.
    local press=$((($(size) - 44) / 96))
    xdotool key --clearmodifiers "$key"
    log "play $n: $key pressed at $press ms of the recording"
    # The program connects its stream at start-up, paused: wait until it
    # plays, so that a slow start does not end the recording before it.
    sound_started() { pactl list sink-inputs 2>/dev/null | grep -q 'Corked: no'; }
    wait_for 15 sound_started || fail "no sound stream played within 15 s of $key"

    # The question's length, then until the last half second is silent, so a
    # slow machine only makes the test slower.
    tail_silent() {
        peak=$(tail -c 48000 "$rec" | sox -t raw -r 48000 -e signed-integer -b 16 -c 1 - -n stat 2>&1 |
            awk '/^Maximum amplitude/ { print $3 }')
        awk -v p="${peak:-1}" 'BEGIN { exit !(p < 0.001) }'
    }
    sleep "$(awk -v ms=$((question_ms + 500)) 'BEGIN { print ms / 1000 }')"
    wait_for 15 tail_silent || fail "still sound 15 s after the question should have ended"
    kill -INT "$record_pid"
    wait "$record_pid" 2>/dev/null
    log "play $n: recorded $(soxi -D "$rec" 2>/dev/null) s"

    # Stretches of digital silence between two audible samples: the sound
    # server ran dry because the busy machine held up the synthesizer.
    sox "$rec" -t dat "$work/samples-$n.dat" || fail "sox cannot read the recording"
    awk '
        NR > 2 {
            a = $2 < 0 ? -$2 : $2
            if ($2 == 0) { if (!z) { from = $1; before = last }; z++; next }
            if (z >= 16 && z <= 14400 && before > 0.0005 && a > 0.0005)
                printf "%.1f %.1f\n", from * 1000, ($1 * 1000)
            z = 0; last = a
        }' "$work/samples-$n.dat" >"$work/dropouts-$n.txt"
    aubioonset -i "$rec" -H 32 -T ms >"$work/onsets-$n.txt" 2>"$work/aubioonset.log" || fail "aubioonset failed"
    # Two pitch trackers. After the first note, its release and the second
    # note together can imply a common fundamental that yinfft follows (Bb4
    # then F5 reads as Bb3); mcomb hears the notes right. On chords mcomb
    # wavers between neighbouring classes where yinfft does not, and the other
    # way round, so a chord is judged by both trackers' votes.
    aubiopitch -i "$rec" -p mcomb -u midi >"$work/mcomb-$n.txt" 2>"$work/aubiopitch.log" || fail "aubiopitch failed"
    aubiopitch -i "$rec" -p yinfft -u midi >"$work/yinfft-$n.txt" 2>"$work/aubiopitch.log" || fail "aubiopitch failed"
    awk -v press="$press" -v tolerance="$onset_tolerance_ms" \
        -v expected="$(IFS=,; echo "${expected[*]}")" -v lengths="$(IFS=,; echo "${lengths[*]}")" \
        -v names="$(IFS=,; echo "${events[*]}")" -v thirds="$(IFS=,; echo "${thirds[*]}")" \
        -f "$here/judge_question.awk" "$work/dropouts-$n.txt" "$work/onsets-$n.txt" "$work/mcomb-$n.txt" "$work/yinfft-$n.txt" "$work/samples-$n.dat" \
        >"$work/play-$n.txt" || fail "judging play $n failed"
    printf '        %-8s %8s %8s %6s %8s %-9s %6s %6s %10s %s\n' event expected found by error status mcomb yinfft class "third (dB)"
    awk '$1 == "event" { printf "        %-8s %8s %8s %6s %8s %-9s %6s %6s %4s (%2d%%) %s%s%s\n", $2, $3, $4, $14, $5, $6, $7, $8, $9, $10, $11, ($12 == "0" ? " (dropout)" : ""), ($13 == "0" ? " pitch unjudged (dropout)" : "") }
         $1 != "event" { print "        " $0 }' "$work/play-$n.txt"
    log "play $n: first sound $(line "$n" first | awk -v p="$press" '{ printf "%d", $1 - p }') ms after the key press"
    only_main_window "after play $n"
}

# ---------------------------------------------------------------- judging
failures=()
rounded() { awk -v p="$1" 'BEGIN { if (p == "none") print "none"; else printf "%d\n", int(p + 0.5) }'; }
in_tune() { [ "$1" != none ] && awk -v p="$1" 'BEGIN { d = p - int(p + 0.5); exit !(d < 0.35 && d > -0.35) }'; }
field() { awk -v e="$2" -v f="$3" '$1 == "event" && $2 == e { print $f }' "$work/play-$1.txt"; }
line() { awk -v k="$2" '$1 == k { $1 = ""; sub(/^ /, ""); print }' "$work/play-$1.txt"; }

# judge_sound N: what a play must sound like whatever the machine did. Sound
# before the key press or after the question fails at once, and so does a
# wrong pitch where no dropout garbled it.
judge_sound() {
    local n=$1 c e want got p r1 r2
    [ "$(line "$n" first)" != "-" ] || { failures+=("play $n: nothing sounded"); return; }
    [ -z "$(line "$n" early)" ] || failures+=("play $n: sound before the key press, starting at $(line "$n" early) ms")
    [ -z "$(line "$n" extra)" ] || failures+=("play $n: sound after the question, starting at $(line "$n" extra) ms")
    # The key reference: the pitch class most of each chord's estimates fall
    # on is its bass note's.
    for ((c = 0; c < chords; c++)); do
        e=${events[c]}
        [ "$(field "$n" "$e" 13)" = 1 ] || continue
        want=$(((key_root + cadence_bass[c] + 120) % 12))
        got=$(field "$n" "$e" 9)
        if [ "$got" = "$want" ]; then
            judged[class:$e]=1
        else
            failures+=("play $n, $e: pitch class $got ($(field "$n" "$e" 10)% of the estimates), expected $want, the bass note's")
        fi
    done
    [ "$(field "$n" note_1 13)" = 1 ] && [ "$(field "$n" note_2 13)" = 1 ] || return
    p=$(field "$n" note_1 7)
    in_tune "$p" || failures+=("play $n, note_1: no clear pitch (median $p)")
    r1=$(rounded "$p")
    p=$(field "$n" note_2 7)
    in_tune "$p" || failures+=("play $n, note_2: no clear pitch (median $p)")
    r2=$(rounded "$p")
    [ "$r1" != none ] && [ "$r2" != none ] || return
    [[ " ${candidates[*]} " == *" $r1 "* ]] ||
        failures+=("play $n: the first note is MIDI $r1; this question can only start on one of ${candidates[*]}")
    ((r2 - r1 == interval)) ||
        failures+=("play $n: the notes MIDI $r1 and $r2 are $((r2 - r1)) semitones apart, not $interval ascending")
    # Play again sounds the question again.
    if [ -n "$question_notes" ] && [ "$question_notes" != "$r1 $r2" ]; then
        failures+=("play $n sounded MIDI $r1 $r2, an earlier play MIDI $question_notes: Play again changed the question")
    fi
    question_notes="$r1 $r2"
    judged[notes]=1
}

# ---------------------------------------------------------------- Start, Play again
# Start, then Play again, which must sound the same question. Every onset and
# every chord's third must be judged right in at least one play; more plays
# follow until they are, up to six. A dropout of the sound server leaves what
# is near it unjudged, and an onset may be late once when the busy machine
# holds up the program's thread (the window repaints between chords); a fault
# of the program is wrong in every play. Wrong pitches fail at once.
timeout 10 xdotool windowfocus --sync "$window" || fail "cannot focus the main window"
log "question: key $key_index, key type $key_type, tempo $tempo, onsets expected at ${expected[*]} ms"
declare -A judged=() missed=()
required=$((${#events[@]} + 2 * chords + 1))
question_notes=""
plays=0
for key in alt+s alt+a alt+a alt+a alt+a alt+a; do
    plays=$((plays + 1))
    play "$key" "$plays"
    judge_sound "$plays"
    ((${#failures[@]})) && break
    for e in "${events[@]}"; do
        case $(field "$plays" "$e" 6) in
        ok) judged[time:$e]=1 ;;
        wrong) missed[time:$e]+=" play $plays: onset at $(field "$plays" "$e" 4) ms, $(field "$plays" "$e" 5) ms off;" ;;
        esac
    done
    # A chord of a minor key: its lowered note sounds, the major one does not.
    for ((c = 0; c < chords; c++)); do
        e=${events[c]}
        [ "$(field "$plays" "$e" 12)" = 1 ] || continue
        db=$(field "$plays" "$e" 11)
        if awk -v d="$db" -v m="$minor_third_db" 'BEGIN { exit !(d >= m) }'; then
            judged[third:$e]=1
        else
            missed[third:$e]+=" play $plays: MIDI ${thirds[c]%%:*} only $db dB stronger than MIDI ${thirds[c]#*:};"
        fi
    done
    ((plays >= 2 && ${#judged[@]} == required)) && break
done
# Errors in parentheses were not judged: a dropout was near.
log "onset errors after the fit (ms): $(for n in $(seq 1 "$plays"); do
    awk '$1 == "event" { printf($6 == "unjudged" ? "(%s) " : "%s ", $5) }' "$work/play-$n.txt"
    printf '| '
done)"
if ((${#failures[@]} == 0)); then
    for e in "${events[@]}"; do
        [ -n "${judged[time:$e]:-}" ] ||
            failures+=("$e: its onset was right in none of $plays plays (tolerance $onset_tolerance_ms ms, dropouts aside):${missed[time:$e]:- dropouts in every play}")
    done
    for ((c = 0; c < chords; c++)); do
        e=${events[c]}
        [ -n "${judged[third:$e]:-}" ] ||
            failures+=("$e: it sounded as the minor key's chord in none of $plays plays:${missed[third:$e]:- dropouts in every play}")
        [ -n "${judged[class:$e]:-}" ] || failures+=("$e: dropouts garbled its pitch in every one of $plays plays")
    done
    [ -n "${judged[notes]:-}" ] || failures+=("the two notes: dropouts garbled their pitch in every one of $plays plays")
fi
if ((${#failures[@]})); then
    printf 'FAILED: %s\n' "${failures[@]}"
    dump_logs
    exit 1
fi
log "the question sounded as set: MIDI $question_notes (the first note can be one of ${candidates[*]})"

# ---------------------------------------------------------------- exit
# File > Exit from the keyboard, as there is no window manager for Alt+F4.
timeout 10 xdotool windowfocus --sync "$window" || fail "cannot focus the main window to close it"
xdotool key --clearmodifiers alt+f
menu_open() { [ "$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | wc -l)" -ge 2 ]; }
wait_for 5 menu_open || fail "Alt+F opened no menu"
xdotool key x
app_ended() { ! kill -0 "$app_pid" 2>/dev/null; }
wait_for 15 app_ended || fail "the program did not end within 15 s of File > Exit"
wait "$app_pid"
status=$?
[ "$status" = 0 ] || fail "the program ended with status $status"
log "program ended"

# The program rewrote the whole file with the settings in force.
[ "$(stat -c %Y "$settings")" -gt "$(date -d '2001-01-02' +%s)" ] || fail "the settings file was not written on exit"
grep -qF -e "$marker" "$settings"
[ $? = 1 ] || fail "the settings file still has the test's own line: not rewritten"
[ "$(grep -c $'\r$' "$settings")" = "$(wc -l <"$settings")" ] || fail "the rewritten settings file has lines without CR LF"
for k in "${!values[@]}"; do
    grep -qx "$k=${values[$k]}"$'\r' "$settings" || fail "the rewritten settings file lacks $k=${values[$k]}"
done
log "settings file rewritten on exit"
echo "PASSED"

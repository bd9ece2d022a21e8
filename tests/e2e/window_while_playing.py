#!/usr/bin/env python3
"""The window answers while a slow question plays, and a close ends it at once.

The real program on a private X server (no window manager, as the X11 platform
delivers events there) and a private PulseAudio server whose only sink is a
null sink. Tempo 40, whole notes, the cadence: the cadence lasts 6 s, the pause
2 s and each note 6 s. While the question plays:
  - the View menu, opened with Alt+V during the cadence, the pause and a note,
    shows within 150 ms;
  - About, opened during the first note and closed 3 s later, leaves no note
    sounding past its planned end (read in the built-in synthesizer's MIDI
    trace);
  - a close request of the window manager (a WM_DELETE_WINDOW client message)
    during a note of the question played again ends the process within 500 ms,
    with the note stopped and the settings file rewritten.

Usage: window_while_playing.py PATH-TO-SONAVEL. Exit 0 passed, 1 failed, 77
skipped (a tool is missing, or the X or sound server cannot start here).
"""
import ctypes
import ctypes.util
import os
import shutil
import subprocess
import sys
import tempfile
import time

BEAT_MS = 1500  # tempo 40
NOTE_MS = 6000  # whole notes at tempo 40
PAUSE_MS = 2000  # the pause after the key reference at tempo 40
CADENCE_MS = 4 * BEAT_MS
MENU_MS = 150
EXIT_MS = 500
SLACK_MS = 60  # scheduling of this script and of the sender, on a busy machine

here = os.path.dirname(os.path.abspath(__file__))
fixture = os.path.join(here, "..", "fixtures", "settings", "default.dat")
started = time.monotonic()
children = []
work = None


def log(text):
    print(f"[{(time.monotonic() - started) * 1000:7.0f} ms] {text}", flush=True)


def finish(code, text):
    print(("SKIPPED: " if code == 77 else "FAILED: " if code else "") + text, flush=True)
    for child in reversed(children):
        if child.poll() is None:
            child.kill()
            child.wait()
    if code == 1 and work:
        for name in sorted(os.listdir(work)):
            if name.endswith(".log"):
                with open(os.path.join(work, name), errors="replace") as f:
                    print(f"----- {name} (last lines)\n" + "".join(f.readlines()[-20:]))
    if work and not os.environ.get("KEEP_E2E_FILES"):
        shutil.rmtree(work, ignore_errors=True)
    sys.exit(code)


def start(args, name, **kw):
    child = subprocess.Popen(args, stdout=open(os.path.join(work, name + ".log"), "w"),
                             stderr=subprocess.STDOUT, **kw)
    children.append(child)
    return child


def wait_for(seconds, test, step=0.005):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if test():
            return True
        time.sleep(step)
    return test()


def xdotool(*args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True).stdout.split()


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("l", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]


class Xlib:
    """Just enough of Xlib to send what a window manager sends on close."""

    def __init__(self):
        self.x = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XInternAtom.restype = ctypes.c_ulong
        self.x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        self.x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                                      ctypes.c_long, ctypes.c_void_p]
        self.x.XFlush.argtypes = [ctypes.c_void_p]
        self.display = self.x.XOpenDisplay(None)
        if not self.display:
            finish(77, "cannot open the X display")

    def close_request(self, window):
        event = XEvent()
        message = event.xclient
        message.type = 33  # ClientMessage
        message.window = window
        message.message_type = self.x.XInternAtom(self.display, b"WM_PROTOCOLS", 0)
        message.format = 32
        message.l[0] = self.x.XInternAtom(self.display, b"WM_DELETE_WINDOW", 0)
        self.x.XSendEvent(self.display, window, 0, 0, ctypes.byref(event))
        self.x.XFlush(self.display)


def visible_windows(pid):
    return xdotool("search", "--all", "--onlyvisible", "--pid", str(pid))


def notes_from_trace(path):
    """(channel, note, on_ms, off_ms) for every note in the trace; off_ms None if never stopped."""
    sounding, notes = {}, []
    with open(path) as f:
        for line in f:
            if line.startswith("#"):
                continue
            nanos, packed = line.split()[:2]
            ms, message = int(nanos) / 1e6, int(packed, 16)
            status, note, velocity = message & 0xFF, (message >> 8) & 0x7F, (message >> 16) & 0x7F
            if status & 0xF0 not in (0x80, 0x90):
                continue
            key = (status & 0x0F, note)
            if status & 0xF0 == 0x90 and velocity > 0:
                sounding[key] = ms
            elif key in sounding:
                notes.append((*key, sounding.pop(key), ms))
    return notes + [(*key, on, None) for key, on in sounding.items()]


def main():
    global work
    program = sys.argv[1] if len(sys.argv) > 1 else ""
    if not os.access(program, os.X_OK):
        finish(1, f"no program at '{program}'")
    for tool in ("Xvfb", "xdotool", "pulseaudio", "pactl"):
        if not shutil.which(tool):
            finish(77, f"{tool} is not installed (scripts/install-deps.sh installs it)")
    if not ctypes.util.find_library("X11"):
        finish(77, "libX11 is not installed")

    work = tempfile.mkdtemp(prefix="sonavel-e2e-")
    home, run = os.path.join(work, "home"), os.path.join(work, "run")
    os.makedirs(home)
    os.makedirs(run, mode=0o700)
    for name in ("DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "PIPEWIRE_REMOTE",
                 "PIPEWIRE_RUNTIME_DIR", "SESSION_MANAGER"):
        os.environ.pop(name, None)
    os.environ.update(HOME=home, USERPROFILE=home, XDG_RUNTIME_DIR=run,
                      PULSE_SERVER=f"unix:{run}/pulse/native", QT_QPA_PLATFORM="xcb")

    read_end, write_end = os.pipe()
    xvfb = start(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                  "-nolisten", "tcp"], "xvfb", pass_fds=(write_end,))
    os.close(write_end)
    number = os.read(read_end, 16).decode().strip()
    if not number or xvfb.poll() is not None:
        finish(77, "Xvfb did not start")
    os.environ["DISPLAY"] = ":" + number
    pulse = start(["pulseaudio", "--daemonize=no", "-n", "--exit-idle-time=-1",
                   "--disallow-exit", "--use-pid-file=no",
                   "-L", "module-null-sink sink_name=nul rate=48000 norewinds=1",
                   "-L", "module-native-protocol-unix"], "pulseaudio")
    if not wait_for(15, lambda: subprocess.run(["pactl", "info"], capture_output=True)
                    .returncode == 0 or pulse.poll() is not None, 0.05) or pulse.poll() is not None:
        finish(77, "PulseAudio did not start")
    x = Xlib()

    values = {"CurrentKey": "0", "RandomKey": "0", "CurrentKeyType": "0", "RandomKeyType": "0",
              "SelIntervalsAsc": "0,0,0,0,0,0,0,1,0,0,0,0,0",
              "SelIntervalsDesc": ",".join("0" * 13), "SelIntervalsHarm": ",".join("0" * 13),
              "CurrentKeyReference": "0", "KeyReferenceSettings": "0",
              "PlaybackSpeed": "40", "CurrentNoteDuration": "3", "MIDIDevice": "0"}
    settings = os.path.join(home, "snv2_settings.dat")
    with open(fixture, newline="") as f:
        lines = f.read().split("\r\n")
    for i, line in enumerate(lines):
        key = line.split("=", 1)[0]
        if key in values:
            lines[i] = f"{key}={values.pop(key)}"
    if values:
        finish(1, f"the fixture has no lines {sorted(values)}")
    with open(settings, "w", newline="") as f:
        f.write("\r\n".join(lines))
    os.utime(settings, (978307200, 978307200))  # 2001

    trace = os.path.join(work, "trace.txt")
    app = start([program], "sonavel", env=dict(os.environ, SONAVEL_TRACE_MIDI=trace))
    found = []
    if not wait_for(20, lambda: found.extend(xdotool("search", "--all", "--onlyvisible", "--pid",
                                                     str(app.pid), "--name",
                                                     "^Sonavel - Advanced$")) or found, 0.1):
        finish(1, "no window \"Sonavel - Advanced\" within 20 s")
    window = found[0]
    log(f"window {window} of pid {app.pid}")

    def focus():
        subprocess.run(["xdotool", "windowfocus", "--sync", window], timeout=10)

    def key(*keys):
        subprocess.run(["xdotool", "key", "--clearmodifiers", *keys])

    def at(ms, t0):
        delay = t0 + ms / 1000 - time.monotonic()
        if delay < 0:
            finish(1, f"fell behind the question by {-delay * 1000:.0f} ms")
        time.sleep(delay)

    def menu_shows(when):
        before = time.monotonic()
        key("alt+v")
        if not wait_for(2, lambda: len(visible_windows(app.pid)) >= 2):
            finish(1, f"the View menu did not show {when}")
        shown = (time.monotonic() - before) * 1000
        log(f"View menu {when}: shown after {shown:.0f} ms")
        key("Escape")
        wait_for(2, lambda: len(visible_windows(app.pid)) == 1)
        if shown > MENU_MS:
            finish(1, f"the View menu took {shown:.0f} ms to show {when} (at most {MENU_MS})")

    focus()
    t0 = time.monotonic()
    key("alt+s")
    log("Start")
    menu_shows_at = [(1000, "during the cadence"), (CADENCE_MS + 800, "during the pause"),
                     (CADENCE_MS + PAUSE_MS + 1000, "during a note")]
    for ms, when in menu_shows_at:
        at(ms, t0)
        menu_shows(when)

    at(CADENCE_MS + PAUSE_MS + 2000, t0)
    key("alt+h", "a")
    dialogs = []
    if not wait_for(2, lambda: dialogs.extend(xdotool("search", "--all", "--onlyvisible", "--pid",
                                                      str(app.pid), "--name", "^About ")) or
                    dialogs):
        finish(1, "About did not open during the note")
    log("About open")
    time.sleep(3)
    x.close_request(int(dialogs[0]))
    if not wait_for(2, lambda: len(visible_windows(app.pid)) == 1):
        names = [xdotool("getwindowname", w) for w in visible_windows(app.pid)]
        finish(1, f"About did not close: {dialogs} {names}")
    log("About closed")

    # The rest of the question plays on; then it is played again and closed
    # during its first note.
    at(CADENCE_MS + PAUSE_MS + 2 * NOTE_MS + 500, t0)
    focus()
    t1 = time.monotonic()
    key("alt+a")
    log("Play again")
    at(CADENCE_MS + PAUSE_MS + 1500, t1)
    before = time.monotonic()
    x.close_request(int(window))
    try:
        app.wait(timeout=10)
    except subprocess.TimeoutExpired:
        finish(1, "the program did not end within 10 s of the close request")
    ended = (time.monotonic() - before) * 1000
    log(f"close request: the program ended after {ended:.0f} ms")
    if ended > EXIT_MS:
        finish(1, f"the program took {ended:.0f} ms to end after the close (at most {EXIT_MS})")
    if os.stat(settings).st_mtime < 1e9 + 1e8:
        finish(1, "the settings file was not rewritten")

    notes = notes_from_trace(trace)
    # The whole question (four chords of four notes and two notes), then the
    # key reference and the first note of the question played again.
    if len(notes) != 18 + 17:
        finish(1, f"the trace holds {len(notes)} notes, not 18 and 17 of the two questions")
    close_ms = before * 1000
    for channel, note, on, off in notes:
        # The chords of the key reference last a beat; the notes of the
        # question, each started alone, a whole note.
        in_chord = sum(abs(other[2] - on) < 5 for other in notes) > 1
        planned = BEAT_MS if in_chord else NOTE_MS
        if off is None:
            finish(1, f"note {note} on channel {channel + 1} was never stopped")
        if off - on > planned + SLACK_MS:
            finish(1, f"note {note} on channel {channel + 1} sounded {off - on:.0f} ms, "
                      f"planned {planned}")
    last_off = max(off for _, _, _, off in notes)
    if last_off > close_ms + EXIT_MS:
        finish(1, f"a note was stopped {last_off - close_ms:.0f} ms after the close request")
    finish(0, "the window answered while the question played, and the close ended it at once")


if __name__ == "__main__":
    main()

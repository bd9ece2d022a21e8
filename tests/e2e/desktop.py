"""What the end-to-end tests of the real program share: a private X server
(no window manager) and a private PulseAudio server whose only sink is a null
sink, a settings file made from the fixture, the program started on them, and
the built-in synthesizer's MIDI trace. Exit codes: 0 passed, 1 failed, 77
skipped (a tool is missing, or a server cannot start here)."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

here = os.path.dirname(os.path.abspath(__file__))
fixture = os.path.join(here, "..", "fixtures", "settings", "default.dat")
started = time.monotonic()
children = []
work = None


def log(text):
    print(f"[{(time.monotonic() - started) * 1000:7.0f} ms] {text}", flush=True)


def finish(code, text):
    """Ends the test: its children by process id, its folder unless
    KEEP_E2E_FILES is set, and on failure the last lines of every log."""
    print(("SKIPPED: " if code == 77 else "FAILED: " if code else "") + text, flush=True)
    for child in reversed(children):
        if child.poll() is None:
            child.terminate()
            try:
                child.wait(5)
            except subprocess.TimeoutExpired:
                child.kill()
                child.wait()
    if code == 1 and work:
        for name in sorted(os.listdir(work)):
            if name.endswith(".log"):
                with open(os.path.join(work, name), errors="replace") as f:
                    print(f"----- {name} (last lines)\n" + "".join(f.readlines()[-20:]))
    if work and not os.environ.get("KEEP_E2E_FILES"):
        shutil.rmtree(work, ignore_errors=True)
    elif work:
        print(f"kept {work}")
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


def open_session(program, tools=()):
    """The working folder, the environment and both servers; returns the home
    folder. Nothing of the user's session leaks in."""
    global work
    if not os.access(program, os.X_OK):
        finish(1, f"no program at '{program}'")
    for tool in ("Xvfb", "xdotool", "pulseaudio", "pactl", *tools):
        if not shutil.which(tool):
            finish(77, f"{tool} is not installed (scripts/install-deps.sh installs it)")
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
    # Without rewinds: a sink that rewinds re-renders sound its monitor has
    # already recorded, and a recording then holds some of it twice.
    pulse = start(["pulseaudio", "--daemonize=no", "-n", "--exit-idle-time=-1",
                   "--disallow-exit", "--use-pid-file=no",
                   "-L", "module-null-sink sink_name=nul rate=48000 norewinds=1",
                   "-L", "module-native-protocol-unix"], "pulseaudio")
    if not wait_for(15, lambda: subprocess.run(["pactl", "info"], capture_output=True)
                    .returncode == 0 or pulse.poll() is not None, 0.05) or pulse.poll() is not None:
        finish(77, "PulseAudio did not start")
    return home


def write_settings(home, values):
    """The fixture with these values, dated 2001 so that a rewrite shows."""
    values = dict(values)
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
    os.utime(settings, (978307200, 978307200))
    return settings


def start_program(program, trace):
    """The program with its MIDI trace, once its main window shows: (process, window)."""
    app = start([program], "sonavel", env=dict(os.environ, SONAVEL_TRACE_MIDI=trace))
    found = []
    if not wait_for(20, lambda: found.extend(xdotool("search", "--all", "--onlyvisible", "--pid",
                                                     str(app.pid), "--name",
                                                     "^Sonavel - Advanced$")) or found, 0.1):
        finish(1, "no window \"Sonavel - Advanced\" within 20 s")
    log(f"window {found[0]} of pid {app.pid}")
    return app, found[0]


def key(window, *keys):
    subprocess.run(["xdotool", "windowfocus", "--sync", window], timeout=10)
    subprocess.run(["xdotool", "key", "--clearmodifiers", *keys])


def notes_from_trace(path):
    """(channel, note, on_ms, off_ms) for every note in the trace, at the
    moments the messages were due; off_ms None if never stopped."""
    sounding, notes = {}, []
    with open(path) as f:
        for line in f:
            if line.startswith("#"):
                continue
            fields = line.split()
            ms, message = int(fields[-1]) / 1e6, int(fields[1], 16)
            status, note, velocity = message & 0xFF, (message >> 8) & 0x7F, (message >> 16) & 0x7F
            if status & 0xF0 not in (0x80, 0x90):
                continue
            index = (status & 0x0F, note)
            if status & 0xF0 == 0x90 and velocity > 0:
                sounding[index] = ms
            elif index in sounding:
                notes.append((*index, sounding.pop(index), ms))
    return sorted(notes + [(*index, on, None) for index, on in sounding.items()],
                  key=lambda n: n[2])

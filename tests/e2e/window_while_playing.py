#!/usr/bin/env python3
"""The window answers while a slow question plays, and a close ends it at once.

The real program on a private X server (no window manager, as the X11 platform
delivers events there) and a private PulseAudio server whose only sink is a
null sink. Tempo 60, whole notes, the cadence: the cadence lasts 4 s, the pause
1.3 s and each note 4 s. While the question plays:
  - the View menu, opened with Alt+V during the cadence, the pause and a note,
    shows within 150 ms;
  - About, opened during the first note and closed 2 s later, leaves no note
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
import subprocess
import sys
import time

from desktop import (finish, log, notes_from_trace, open_session, start_program,
                     wait_for, write_settings, xdotool)

BEAT_MS = 1000  # tempo 60
NOTE_MS = 4000  # whole notes at tempo 60
PAUSE_MS = 1333  # the pause after the key reference: a beat at tempo 45
CADENCE_MS = 4 * BEAT_MS
MENU_MS = 150
EXIT_MS = 500
SLACK_MS = 60  # scheduling of this script and of the sender, on a busy machine


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


def main():
    program = sys.argv[1] if len(sys.argv) > 1 else ""
    home = open_session(program)
    if not ctypes.util.find_library("X11"):
        finish(77, "libX11 is not installed")
    x = Xlib()
    settings = write_settings(home, {
        "CurrentKey": "0", "RandomKey": "0", "CurrentKeyType": "0", "RandomKeyType": "0",
        "SelIntervalsAsc": "0,0,0,0,0,0,0,1,0,0,0,0,0", "SelIntervalsDesc": ",".join("0" * 13),
        "SelIntervalsHarm": ",".join("0" * 13), "CurrentKeyReference": "0",
        "KeyReferenceSettings": "0", "PlaybackSpeed": "60", "CurrentNoteDuration": "3",
        "MIDIDevice": "0"})
    trace = os.path.join(os.path.dirname(home), "trace.txt")
    app, window = start_program(program, trace)

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
    time.sleep(2)
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

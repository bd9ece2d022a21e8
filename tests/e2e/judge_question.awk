# Judges one recorded question for sound_question.sh.
#
# Input files, in this order:
#   dropouts   "start_ms end_ms" of every stretch of digital silence inside
#              the sound: the sound server got no data in time
#   onsets     aubioonset output in ms
#   mcomb      aubiopitch -p mcomb output: seconds, MIDI pitch (0 unvoiced)
#   yinfft     aubiopitch -p yinfft output, the same
#   samples    the recording as sox's "dat" text: seconds, sample value
# Variables:
#   press      where the key press falls in the recording, ms
#   expected   the events' onsets after the first one, ms, comma separated
#   lengths    how long each event sounds, ms, comma separated
#   names      the events' names, comma separated
#   tolerance  largest onset error accepted, ms
#   thirds     per event, "WANT:OTHER" MIDI notes whose strength is compared
#              (the note that the key type lowers, and the same note not
#              lowered), or empty; comma separated
#
# Each event is compared with the rhythm the question should have, counted
# from the first audible sample after the key press. Where sound starts from
# silence, its first audible sample marks the onset (moved by the detector's
# lag, so that both kinds compare); elsewhere the detector's onset does. The
# onsets are fitted to the expected ones by one common shift (the median
# difference), so the first chord's own latency does not count against the
# others. An event that does not start from silence and has a dropout just
# before its onset is not judged for time: the sound server, not the program,
# moved it, and the dropout's click and gap mislead the detector.
#
# Output, one line per event:
#   event NAME EXPECTED FOUND ERROR STATUS MCOMB YINFFT CLASS SHARE THIRD CLEAN
#         PCLEAN HOW
# with FOUND and ERROR in ms on the stream's clock, that is the recording's
# without the dropouts ("-" when no onset is near), STATUS one of ok,
# wrong, unjudged, MCOMB and YINFFT the median MIDI pitch of each tracker over
# the event ("none" when unvoiced), and CLASS the pitch class (0 = C) that most
# estimates of both trackers round to, SHARE their share in percent: a chord's
# estimates jump between its notes, so a median means nothing there, and
# THIRD how much stronger (dB) the chord's WANT note sounds than its OTHER
# note ("-" where no notes are given), CLEAN 1 when dropouts take no more
# than a few ms of the stretch that THIRD measures, PCLEAN the same for where
# the pitch trackers look, and HOW whether FOUND is where sound starts
# after silence ("start") or an onset the detector found ("onset"); then
#   first FIRST_ONSET_MS   on the stream's clock
#   extra STARTS...   sound starting from silence after the last note did
#   early STARTS...   sound starting before the key press (recording times)
#   dropouts COUNT TOTAL_MS

function abs(x) { return x < 0 ? -x : x }
function median(a, n,    i, j, t) {
    for (i = 2; i <= n; i++) {
        t = a[i]
        for (j = i - 1; j >= 1 && a[j] > t; j--) a[j + 1] = a[j]
        a[j + 1] = t
    }
    return (n % 2) ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
}
function hz(midi) { return 440 * exp((midi - 69) * log(2) / 12) }
# Power at one frequency over samples from..to (ms), Hann-windowed (Goertzel).
function power(f, from, to,    a, b, k, c, s0, s1, s2, w, n) {
    a = int(from * rate / 1000); b = int(to * rate / 1000)
    if (b > ns) b = ns
    c = 2 * cos(2 * 3.14159265358979 * f / rate)
    s1 = s2 = 0; n = b - a
    for (k = a; k < b; k++) {
        w = 0.5 - 0.5 * cos(2 * 3.14159265358979 * (k - a) / n)
        s0 = x[k] * w + c * s1 - s2
        s2 = s1; s1 = s0
    }
    return s1 * s1 + s2 * s2 - c * s1 * s2
}
# Whether a sample from a to b (sample numbers) reaches level.
function loud(a, b, level,    k) {
    for (k = a; k < b && k < ns; k++)
        if (x[k] > level || x[k] < -level) return 1
    return 0
}
# Recording time to the time of the synthesizer's stream: the sound server
# delays the stream by each dropout before t rather than skip any of it.
function stream(t,    k, d) {
    d = 0
    for (k = 1; k <= nd; k++)
        if (ds[k] < t) d += (de[k] < t ? de[k] : t) - ds[k]
    return t - d
}
# And back: a time of the stream to the recording.
function recording(t,    k) {
    for (k = 1; k <= nd; k++)
        if (ds[k] < t) t += de[k] - ds[k]
    return t
}
# How many ms of dropouts fall between from and to.
function dropped(from, to,    k, d) {
    d = 0
    for (k = 1; k <= nd; k++)
        if (de[k] > from && ds[k] < to) d += (de[k] < to ? de[k] : to) - (ds[k] > from ? ds[k] : from)
    return d
}
function near_dropout(from, to,    k) {
    for (k = 1; k <= nd; k++)
        if (de[k] >= from && ds[k] <= to) return 1
    return 0
}

FILENAME == ARGV[1] { nd++; ds[nd] = $1; de[nd] = $2; dropped_ms += $2 - $1; next }
FILENAME == ARGV[2] {
    # An onset right after a dropout is the click of the sound coming back.
    for (k = 1; k <= nd; k++)
        if ($1 >= ds[k] - 2 && $1 <= de[k] + 15) next
    no++; on[no] = $1
    next
}
FILENAME == ARGV[3] { np++; pt[np] = $1 * 1000; pv[np] = $2; pm[np] = 1; next }
FILENAME == ARGV[4] { np++; pt[np] = $1 * 1000; pv[np] = $2; pm[np] = 0; next }
FILENAME == ARGV[5] {
    if ($1 == ";" && $2 == "Sample" && $3 == "Rate") rate = $4
    if ($1 != ";") x[ns++] = $2
    next
}

END {
    ne = split(expected, ex, ",")
    split(lengths, len, ",")
    split(names, nm, ",")
    split(thirds, th, ",")
    window = 150
    # Dropouts that a chord or note may hold and still be judged by pitch:
    # a few of the usual millisecond gaps leave the estimates as they were.
    budget = 4
    # Where sound starts after at least 20 ms of digital silence: the first
    # audible sample marks such an onset exactly, even where a dropout right
    # after it (new voices cost the most) disturbs the onset detector. A dying
    # tail that comes back after a dropout is no start: a start grows loud.
    nst = 0
    quiet = 0
    for (k = 0; k < ns; k++) {
        if (x[k] > 0.001 || x[k] < -0.001) {
            if (quiet >= rate / 50 && loud(k, k + rate * 0.03, 0.02)) {
                nst++; st[nst] = k * 1000 / rate
            }
            quiet = 0
        } else if (x[k] < 0.0005 && x[k] > -0.0005) {
            quiet++
        }
    }
    first = ""
    early = ""
    for (k = 1; k <= nst; k++)
        if (st[k] < press - 100) early = early sprintf(" %.1f", st[k])
        else if (first == "") first = st[k]
    if (first == "") {
        for (i = 1; i <= ne; i++) print "event", nm[i], ex[i], "-", "-", "wrong", "none", "none", "none", 0, "-", "-", 0, "-"
        print "first -"
        print "extra"
        print "early" early
        printf "dropouts %d %.1f\n", nd, dropped_ms
        exit
    }
    # From here on times are on the stream's clock, except where a recording
    # time is needed to look at the recording.
    for (k = 1; k <= nst; k++) sst[k] = stream(st[k])
    for (k = 1; k <= no; k++) son[k] = stream(on[k])
    first = stream(first)
    nfit = 0
    for (i = 1; i <= ne; i++) {
        want = first + ex[i]
        found[i] = ""; how[i] = "-"; rec[i] = ""
        for (k = 1; k <= nst; k++)
            if (abs(sst[k] - want) <= window && (found[i] == "" || abs(sst[k] - want) < abs(found[i] - want))) {
                found[i] = sst[k]; rec[i] = st[k]
            }
        if (found[i] != "") {
            how[i] = "start"
            judged[i] = 1
        } else {
            for (k = 1; k <= no; k++)
                if (abs(son[k] - want) <= window && (found[i] == "" || abs(son[k] - want) < abs(found[i] - want))) {
                    found[i] = son[k]; rec[i] = on[k]
                }
            if (found[i] != "") how[i] = "onset"
            if (rec[i] != "")
                judged[i] = !near_dropout(rec[i] - 50, rec[i] + 10)
            else
                judged[i] = !near_dropout(recording(want - window), recording(want + window))
        }
    }
    # The detector reports an onset some ms after sound starts; starts move by
    # as much as it lags where it saw them too, so both kinds compare.
    nlag = 0
    for (i = 1; i <= ne; i++) {
        if (how[i] != "start") continue
        for (k = 1; k <= no; k++)
            if (on[k] >= rec[i] - 5 && on[k] <= rec[i] + 40) { nlag++; lags[nlag] = on[k] - rec[i]; break }
    }
    lag = nlag ? median(lags, nlag) : 0
    for (i = 1; i <= ne; i++) {
        if (how[i] == "start") found[i] += lag
        if (found[i] != "" && judged[i]) { nfit++; fit[nfit] = found[i] - first - ex[i] }
    }
    shift = nfit ? median(fit, nfit) : 0
    for (i = 1; i <= ne; i++) {
        want = first + ex[i]
        # Where the event lies in the recording, for its pitch.
        at = (rec[i] != "") ? rec[i] : recording(want + shift)
        n = 0; m = 0; votes = 0
        split("", classes)
        for (k = 1; k <= np; k++)
            if (pt[k] >= at + 40 && pt[k] <= at + len[i] - 60 && pv[k] > 0) {
                if (pm[k]) { m++; vm[m] = pv[k] } else { n++; v[n] = pv[k] }
                classes[int(pv[k] + 0.5) % 12]++
                votes++
            }
        sound = (m ? sprintf("%.2f", median(vm, m)) : "none") " " (n ? sprintf("%.2f", median(v, n)) : "none")
        class = "none"; share = 0
        for (c = 0; c < 12; c++)
            if (classes[c] > share) { class = c; share = classes[c] }
        share = votes ? int(100 * share / votes) : 0
        third = "- -"
        if (th[i] != "") {
            split(th[i], pair, ":")
            to = at + (len[i] < 500 ? len[i] : 500) - 20
            # A dropout spreads every partial over its neighbours.
            third = sprintf("%.1f %d", 10 * log((power(hz(pair[1]), at + 30, to) + 1e-12) / (power(hz(pair[2]), at + 30, to) + 1e-12)) / log(10), dropped(at + 30, to) <= budget)
        }
        # The trackers look 43 ms ahead; dropouts there garble their view.
        sound = sound " " class " " share " " third " " (dropped(at - 10, at + len[i] - 60) <= budget)
        if (found[i] == "") {
            status = judged[i] ? "wrong" : "unjudged"
            printf "event %s %d - - %s %s -\n", nm[i], ex[i], status, sound
        } else {
            err = found[i] - want - shift
            status = !judged[i] ? "unjudged" : (abs(err) <= tolerance ? "ok" : "wrong")
            printf "event %s %d %.1f %.1f %s %s %s\n", nm[i], ex[i], found[i] - first, err, status, sound, how[i]
        }
    }
    printf "first %.1f\n", first
    # After the last note has started nothing starts from silence.
    extra = ""
    for (k = 1; k <= nst; k++)
        if (sst[k] > first + shift + ex[ne] + 100) extra = extra sprintf(" %.1f", st[k])
    print "extra" extra
    print "early" early
    printf "dropouts %d %.1f\n", nd, dropped_ms
}

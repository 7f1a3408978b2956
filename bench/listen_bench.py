#!/usr/bin/env python3
"""Speech listener benchmark: accuracy, cost and latency.

    agent/voice/.venv/bin/python bench/listen_bench.py [VOICE...]

1. Word error rate of the agent's command phrases and of free sentences,
   spoken by each voice (flite's slt, kal16, rms, awb and espeak-ng), for the
   listener's combined result and for each of its two decoders alone.
2. Real-time factor: decoding CPU time over audio time, in process.
3. The listener as the palette runs it, fed by a stand-in arecord that
   delivers the same audio at the pace of a microphone: time from the end
   of each utterance's speech to its "final" line, and the resident memory.
"""

import array
import json
import os
import resource
import select
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "agent", "test"))
import speech  # noqa: E402
import listen  # noqa: E402
from phrases import COMMANDS  # noqa: E402

# The flite voices and espeak-ng (22 kHz formant synthesis, which the
# acoustic model fits badly: shown apart).
VOICES = speech.FLITE + ("espeak",)


def word_errors(reference, heard):
    """Word-level edit distance between what was said and what was heard."""
    a, b = reference.split(), heard.split()
    row = list(range(len(b) + 1))
    for i, wa in enumerate(a, 1):
        prev, row[0] = row[0], i
        for j, wb in enumerate(b, 1):
            prev, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, prev + (wa != wb))
    return row[len(b)]


class Traced(listen.Recogniser):
    """Keeps what each decoder said at the end of every utterance."""

    def best(self):
        g, c = self.general.hyp(), self.commands.hyp()
        frames = max(self.general.n_frames(), 1)
        self.trace = (g.hypstr if g else "", c.hypstr if c else "",
                      (c.best_score - g.best_score) / frames if g and c and c.hypstr else None)
        return super().best()


def accuracy(voices, folder):
    rec = Traced(listen.MODEL_DIR)
    totals = {}
    cpu = audio = 0.0
    margins = {}
    for voice in voices:
        for kind, texts in (("commands", COMMANDS), ("free", speech.FREE)):
            for i, text in enumerate(texts):
                samples = speech.pcm(speech.speak(text, voice, os.path.join(folder, "%s-%s-%d.wav" % (voice, kind, i))))
                start = time.process_time()
                finals, traces = [], []
                for j in range(0, len(samples), 3200):
                    for e, t in rec.feed(samples[j:j + 3200]):
                        if e == "final":
                            finals.append(t)
                            traces.append(rec.trace)
                for e, t in rec.finish():
                    finals.append(t)
                    traces.append(rec.trace)
                cpu += time.process_time() - start
                audio += len(samples) / 32000
                heard = " ".join(finals)
                general = " ".join(t[0] for t in traces)
                grammar = " ".join(t[1] for t in traces)
                n = len(text.split())
                for name, words in (("combined", heard), ("general", general), ("grammar", grammar)):
                    key = (voice, kind, name)
                    errors, count = totals.get(key, (0, 0))
                    totals[key] = (errors + word_errors(text, words), count + n)
                margins.setdefault((voice, kind), []).extend(t[2] for t in traces if t[2] is not None)
                if heard != text:
                    print("  %-6s %-8s %-38r heard %r (general %r, grammar %r, margins %s)" % (
                        voice, kind, text, heard, general, grammar,
                        [None if t[2] is None else round(t[2], 1) for t in traces]))
    print("\nword error rate (errors / words)")
    print("%-8s %-9s %9s %9s %9s" % ("voice", "set", "listener", "general", "grammar"))
    for kind in ("commands", "free"):
        sums = {"combined": [0, 0], "general": [0, 0], "grammar": [0, 0]}
        for voice in voices:
            row = []
            for name in ("combined", "general", "grammar"):
                e, c = totals[(voice, kind, name)]
                sums[name][0] += e
                sums[name][1] += c
                row.append("%8.1f%%" % (100.0 * e / c))
            print("%-8s %-9s %s" % (voice, kind, " ".join(row)))
        print("%-8s %-9s %s" % ("all", kind, " ".join("%8.1f%%" % (100.0 * e / c) for e, c in sums.values())))
    print("\ngrammar's score margin per frame over the general model (kept from %.1f up)" % listen.Recogniser.MARGIN)
    for (voice, kind), values in sorted(margins.items()):
        if values:
            values.sort()
            print("  %-8s %-9s lowest %6.1f  median %6.1f  highest %6.1f" % (
                voice, kind, values[0], values[len(values) // 2], values[-1]))
    print("\nreal-time factor (decoding CPU / audio): %.3f over %.0f s of audio" % (cpu / audio, audio))


FAKE_ARECORD = r'''#!%s
# Delivers a raw recording at the pace of a microphone, 100 ms at a time.
import os, sys, time
data = open(os.environ["BENCH_RAW"], "rb").read()
start = time.monotonic()
with open(os.environ["BENCH_START"], "w") as f:
    f.write(repr(start))
for i in range(0, len(data), 3200):
    delay = start + (i + 3200) / 32000 - time.monotonic()
    if delay > 0:
        time.sleep(delay)
    os.write(1, data[i:i + 3200])
time.sleep(3600)
'''


def speech_end(samples, threshold=300):
    """Seconds from the start of the samples to the last loud one."""
    a = array.array("h", samples)
    for i in range(len(a) - 1, -1, -1):
        if abs(a[i]) > threshold:
            return (i + 1) / 16000
    return 0.0


def latency(voice, folder):
    texts = COMMANDS[:8] + speech.FREE[:2]
    offsets, raw = [], b""
    for i, text in enumerate(texts):
        samples = speech.pcm(speech.speak(text, voice, os.path.join(folder, "lat-%d.wav" % i)))
        offsets.append((len(raw) + speech_end(samples) * 32000) / 32000)
        raw += samples + bytes(int(1.5 * 32000))
    bin_dir = os.path.join(folder, "bin")
    os.makedirs(bin_dir, exist_ok=True)
    with open(os.path.join(bin_dir, "arecord"), "w") as f:
        f.write(FAKE_ARECORD % sys.executable)
    os.chmod(os.path.join(bin_dir, "arecord"), 0o755)
    with open(os.path.join(folder, "lat.raw"), "wb") as f:
        f.write(raw)
    env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"],
               BENCH_RAW=os.path.join(folder, "lat.raw"), BENCH_START=os.path.join(folder, "start"))
    env.pop("OSTREL_LISTEN_WAV", None)
    proc = subprocess.Popen([sys.executable, speech.LISTENER], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, env=env)
    finals, lines, rss = [], [], 0
    deadline = time.monotonic() + len(raw) / 32000 + 60
    while len(finals) < len(texts) and time.monotonic() < deadline:
        ready, _, _ = select.select([proc.stdout], [], [], 1)
        if ready:
            line = proc.stdout.readline()
            if not line:
                break
            event = json.loads(line)
            lines.append(event)
            if event["event"] == "final":
                finals.append((time.monotonic(), event["text"]))
        for pid in children(proc.pid):
            rss = max(rss, resident(pid))
    proc.stdin.write(b"quit\n")
    proc.stdin.close()
    proc.wait()
    with open(os.path.join(folder, "start")) as f:
        start = float(f.read())
    delays = []
    for (at, text), offset in zip(finals, offsets):
        delays.append(at - (start + offset))
    print("\nlistener fed at microphone pace (%s, %d utterances): %d finals" % (voice, len(texts), len(finals)))
    for (at, text), d, want in zip(finals, delays, texts):
        print("  %5.2f s after speech  %r%s" % (d, text, "" if text == want else "  (said %r)" % want))
    if delays:
        delays.sort()
        print("end of speech -> final: median %.2f s, max %.2f s" % (delays[len(delays) // 2], delays[-1]))
    print("partial lines: %d; worker resident memory, peak seen: %.1f MB; listener + worker max RSS %.1f MB" % (
        sum(e["event"] == "partial" for e in lines), rss / 1024,
        resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024))


def children(pid):
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            return [pid] + [int(p) for p in f.read().split()]
    except OSError:
        return []


def resident(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def main():
    voices = sys.argv[1:] or list(VOICES)
    with tempfile.TemporaryDirectory() as folder:
        accuracy(voices, folder)
        latency(voices[0], folder)


if __name__ == "__main__":
    main()

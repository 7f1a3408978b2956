"""Ostrel's speech listener.

Prints what it hears as JSON lines on standard output:
    {"event": "partial", "text": "set a timer"}     while an utterance goes on
    {"event": "final", "text": "set a timer for three minutes"}
    {"event": "error", "text": "no microphone: ..."}
and obeys one-word lines on standard input: "pause" (stop capturing and drop
the utterance under way), "resume" (capture again; a microphone that failed
is tried again) and "quit". It also ends on SIGTERM and when its standard
input closes.

Audio comes from the microphone through arecord or parec, or from the WAV
file named by OSTREL_LISTEN_WAV (for tests and demos: read as fast as it
decodes, then the listener waits for commands). OSTREL_LISTEN_MODEL names
another pocketsphinx model folder (en-us/, en-us.lm.bin, cmudict-en-us.dict).

The recogniser's C library ends the process when a model file is bad, so the
decoding runs in a worker process of this same script; this process only
passes commands down and events up, and reports a worker that died.
"""

import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import wave

MODEL_DIR = "/usr/share/pocketsphinx/model/en-us"
RATE = 16000
CHUNK = RATE * 2 // 10  # 100 ms of 16-bit mono samples
COMMAND_LIMIT = 4096
REPORTED = 3  # a worker's exit status after it printed its own error line


class Stop(Exception):
    """Ends the listener quietly (quit, SIGTERM, closed input or output)."""


def on_signal(signum, frame):
    # Once: a second signal must not interrupt the clean-up the first began.
    signal.signal(signal.SIGTERM, signal.SIG_IGN)
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    raise Stop()


def write_line(event, text=""):
    line = json.dumps({"event": event, "text": text}, ensure_ascii=False) + "\n"
    try:
        sys.stdout.buffer.write(line.encode("utf-8"))
        sys.stdout.buffer.flush()
    except (BrokenPipeError, ValueError):
        raise Stop()


def last_line(text, fallback):
    lines = [l.strip() for l in text.splitlines() if l.strip()]
    return lines[-1][:200] if lines else fallback


class Lines:
    """Whole lines from a pipe, read without blocking once select said so."""

    def __init__(self, fd, limit=COMMAND_LIMIT):
        self.fd = fd
        self.limit = limit
        self.pending = b""
        self.closed = False

    def read(self):
        data = os.read(self.fd, 4096)
        if not data:
            self.closed = True
            return []
        self.pending += data
        *lines, self.pending = self.pending.split(b"\n")
        if len(self.pending) > self.limit:
            self.pending = b""
        return [l.decode("utf-8", "replace").strip() for l in lines]


# ---------------------------------------------------------------- recognition


def model_files(folder):
    return {
        "hmm": os.path.join(folder, "en-us"),
        "lm": os.path.join(folder, "en-us.lm.bin"),
        "dict": os.path.join(folder, "cmudict-en-us.dict"),
    }


class Recogniser:
    """Two decoders over the same audio: the general English language model,
    and a grammar of the agent's commands (phrases.py). The grammar is nearly
    always right on a command but forces any other speech onto some command,
    so its result is kept only when its path scores clearly better per frame
    than the general model's; otherwise the general model's words stand."""

    # Per-frame score margin of the grammar over the general model from
    # which the grammar's words are trusted. Spoken commands come out at 7 to
    # 28, other sentences at -4 and below (bench/listen_bench.py).
    MARGIN = 3.0

    # The installed applications and open windows are looked at again
    # between utterances, this often at most.
    REFRESH_S = 10.0

    def __init__(self, folder):
        from pocketsphinx import Decoder  # an ImportError is reported by the caller

        files = model_files(folder)
        missing = [p for p in files.values() if not os.path.exists(p)]
        if missing:
            raise LookupError("no speech model at " + folder + " (missing " + ", ".join(missing) + ")")

        def config(**extra):
            c = Decoder.default_config()
            c.set_string("-hmm", files["hmm"])
            c.set_string("-dict", files["dict"])
            c.set_string("-logfn", os.devnull)
            # End an utterance after 0.3 s of silence rather than 0.5 s:
            # the palette's field should settle soon after the speaker stops.
            c.set_int("-vad_postspeech", 30)
            for key, value in extra.items():
                if isinstance(value, float):
                    c.set_float("-" + key, value)
                else:
                    c.set_string("-" + key, value)
            return c

        self.general = Decoder(config(lm=files["lm"]))
        # The grammar is small, so its search can afford wider beams than the
        # defaults, which now and then prune the right phrase before its end.
        self.commands = Decoder(config(beam=1e-60, pbeam=1e-60, wbeam=1e-40))
        with open(files["dict"], encoding="utf-8", errors="replace") as f:
            self.known = {line.split(" ", 1)[0].split("(", 1)[0] for line in f if line.strip()}
        self.grammar = None
        self.checked = None
        self.stamps = self.names = self.titles = None
        self.decoders = (self.general, self.commands)
        self.begin()

    def refresh(self):
        """Builds the grammar again when the installed applications (their
        folders' stamps) or the open windows' titles have changed."""
        import phrases

        now = time.monotonic()
        if self.checked is not None and now - self.checked < self.REFRESH_S:
            return
        self.checked = now
        stamps = []
        for folder in phrases.application_dirs():
            try:
                stamps.append(os.stat(folder).st_mtime_ns)
            except OSError:
                stamps.append(None)
        # Reading every desktop file is slow: only a folder's new stamp asks for it.
        if stamps != self.stamps:
            self.stamps, self.names = stamps, phrases.installed_names()
            self.titles = None
        titles = phrases.window_titles()
        if titles == self.titles:
            return
        self.titles = titles
        text = phrases.grammar(self.names, titles, self.known)
        if text != self.grammar:
            self.commands.set_jsgf_string("commands", text)
            self.commands.set_search("commands")
            self.grammar = text

    def best(self):
        """The words to show for the audio of this utterance so far."""
        general, command = self.general.hyp(), self.commands.hyp()
        words = general.hypstr if general else ""
        if command and command.hypstr:
            if not words or command.hypstr == words:
                return command.hypstr
            frames = max(self.general.n_frames(), 1)
            margin = (command.best_score - general.best_score) / frames
            if margin >= self.MARGIN:
                return command.hypstr
        return words

    def feed(self, chunk):
        """Decodes one chunk; returns the events it completes."""
        for d in self.decoders:
            d.process_raw(chunk, False, False)
        events = []
        if self.general.get_in_speech():
            self.speaking = True
            words = self.best()
            if words and words != self.shown:
                self.shown = words
                events.append(("partial", words))
        elif self.speaking:
            events += self.finish()
        return events

    def finish(self):
        """Ends the utterance under way; returns its final event, if any."""
        for d in self.decoders:
            d.end_utt()
        words = self.best() if self.speaking else ""
        self.begin()
        return [("final", words)] if words else []

    def drop(self):
        """Forgets the utterance under way."""
        for d in self.decoders:
            d.end_utt()
        self.begin()

    def begin(self):
        self.refresh()
        for d in self.decoders:
            d.start_utt()
        self.speaking = False
        self.shown = ""


# ---------------------------------------------------------------- audio


class AudioError(Exception):
    pass


class WavFile:
    """A recording, 16 kHz mono 16-bit as it is or through sox."""

    def __init__(self, path):
        self.child = None
        self.stream = None
        self.log = None
        try:
            w = wave.open(path, "rb")
            if (w.getframerate(), w.getnchannels(), w.getsampwidth()) == (RATE, 1, 2):
                self.stream = w
                return
            w.close()
        except (wave.Error, EOFError):
            pass  # not a plain PCM WAV: sox may still read it
        except OSError as e:
            raise AudioError("unreadable audio: " + path + ": " + (e.strerror or str(e)))
        if not shutil.which("sox"):
            raise AudioError("unreadable audio: " + path + " is not 16 kHz mono and sox is not installed")
        self.log = tempfile.TemporaryFile()
        self.child = subprocess.Popen(
            ["sox", "-q", path, "-t", "raw", "-r", str(RATE), "-c", "1", "-b", "16",
             "-e", "signed-integer", "-L", "-"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=self.log)
        self.path = path

    def fileno(self):
        return None if self.stream else self.child.stdout.fileno()

    def read(self):
        """Up to one chunk; b"" at the end. Raises AudioError when sox failed."""
        if self.stream:
            return self.stream.readframes(CHUNK // 2)
        data = os.read(self.child.stdout.fileno(), CHUNK)
        if not data and self.child.wait() != 0:
            self.log.seek(0)
            why = last_line(self.log.read().decode("utf-8", "replace"), "sox failed")
            raise AudioError("unreadable audio: " + why)
        return data

    def close(self):
        if self.stream:
            self.stream.close()
        if self.child:
            stop_child(self.child)


class Microphone:
    """Raw 16 kHz mono from the first capture program that delivers."""

    PROGRAMS = (
        ["arecord", "-q", "-t", "raw", "-f", "S16_LE", "-r", str(RATE), "-c", "1"],
        ["parec", "--raw", "--format=s16le", "--rate=" + str(RATE), "--channels=1"],
    )

    def __init__(self):
        self.candidates = [p for p in self.PROGRAMS if shutil.which(p[0])]
        if not self.candidates:
            raise AudioError("no microphone: neither arecord nor parec is installed")
        self.problems = []
        self.child = None
        self.next()

    def next(self):
        """Starts the next capture program; AudioError when none is left."""
        while self.candidates:
            program = self.candidates.pop(0)
            self.log = tempfile.TemporaryFile()
            try:
                self.child = subprocess.Popen(program, stdin=subprocess.DEVNULL,
                                              stdout=subprocess.PIPE, stderr=self.log)
                self.delivered = False
                return
            except OSError as e:
                self.problems.append(program[0] + ": " + (e.strerror or str(e)))
        self.child = None
        raise AudioError("no microphone: " + "; ".join(self.problems))

    def fileno(self):
        return self.child.stdout.fileno()

    def read(self):
        data = os.read(self.fileno(), CHUNK)
        if data:
            self.delivered = True
            return data
        status = self.child.wait()
        self.log.seek(0)
        why = last_line(self.log.read().decode("utf-8", "replace"), "ended with status " + str(status))
        self.problems.append(self.child.args[0] + ": " + why)
        if self.delivered:
            raise AudioError("the microphone stopped: " + why)
        self.next()
        return self.read()

    def close(self):
        if self.child:
            stop_child(self.child)


def stop_child(child):
    if child.poll() is None:
        child.terminate()
        try:
            child.wait(timeout=2)
        except subprocess.TimeoutExpired:
            child.kill()
            child.wait()
    if child.stdout:
        child.stdout.close()


def whole_samples(carry, data):
    """The bytes of a read after the carry of the one before, cut to whole
    16-bit samples, and the odd byte left over, which starts the next."""
    data = carry + data
    cut = len(data) - len(data) % 2
    return data[:cut], data[cut:]


def open_audio(wav):
    return WavFile(wav) if wav else Microphone()


# ---------------------------------------------------------------- worker


def worker():
    """Captures and decodes; commands arrive on stdin from the main process."""
    try:
        recogniser = Recogniser(os.environ.get("OSTREL_LISTEN_MODEL") or MODEL_DIR)
    except ImportError as e:
        write_line("error", "no speech recogniser: " + str(e) + " (install python3-pocketsphinx)")
        return REPORTED
    except LookupError as e:
        write_line("error", str(e))
        return REPORTED
    except RuntimeError as e:
        write_line("error", "the speech model does not load: " + str(e))
        return REPORTED

    wav = os.environ.get("OSTREL_LISTEN_WAV")
    commands = Lines(0)
    audio = None
    capturing = True
    carry = b""  # an odd byte left by a short read belongs to the next sample
    wav_done = False

    def start():
        nonlocal audio
        try:
            audio = open_audio(wav)
        except AudioError as e:
            write_line("error", str(e))

    def stop():
        nonlocal audio, carry
        if audio:
            audio.close()
        audio, carry = None, b""

    try:
        start()
        while True:
            fd = audio.fileno() if audio and capturing else None
            ready_now = audio is not None and capturing and fd is None
            readable, _, _ = select.select([0] + ([fd] if fd is not None else []), [], [],
                                           0 if ready_now else None)
            if 0 in readable:
                for line in commands.read():
                    if line == "quit":
                        return 0
                    if line == "pause" and capturing:
                        capturing = False
                        recogniser.drop()
                        if not wav:
                            stop()  # let go of the microphone while paused
                    elif line == "resume" and not capturing:
                        capturing = True
                        if not audio and not wav_done:
                            start()
                    elif line == "resume" and not audio and not wav:
                        start()  # a microphone that failed gets another chance
                    elif line not in ("", "pause", "resume"):
                        write_line("error", "unknown command: " + line[:80])
                if commands.closed:
                    return 0
                continue
            if not audio or not capturing:
                continue
            try:
                data = audio.read()
            except AudioError as e:
                write_line("error", str(e))
                for event in recogniser.finish():
                    write_line(*event)
                stop()
                wav_done = bool(wav)
                continue
            if not data:
                for event in recogniser.finish():
                    write_line(*event)
                stop()
                wav_done = True
                continue
            data, carry = whole_samples(carry, data)
            for event in recogniser.feed(data):
                write_line(*event)
    finally:
        stop()


# ---------------------------------------------------------------- main


def tell(child, line):
    try:
        child.stdin.write(line.encode("utf-8") + b"\n")
        child.stdin.flush()
    except BrokenPipeError:
        pass  # the worker is gone; its end is reported when its output ends


def main():
    try:
        child = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--worker"],
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    except OSError as e:
        write_line("error", "no speech recogniser: " + (e.strerror or str(e)))
        return 1
    commands = Lines(0)
    events = Lines(child.stdout.fileno(), limit=1 << 20)
    try:
        while True:
            readable, _, _ = select.select([0, events.fd], [], [])
            if events.fd in readable:
                for line in events.read():
                    if line:
                        sys.stdout.buffer.write(line.encode("utf-8") + b"\n")
                sys.stdout.buffer.flush()
                if events.closed:
                    status = child.wait()
                    if status not in (0, REPORTED):
                        why = ("signal " + str(-status)) if status < 0 else ("status " + str(status))
                        model = os.environ.get("OSTREL_LISTEN_MODEL") or MODEL_DIR
                        write_line("error", "the speech recogniser stopped (" + why + ", model " + model + ")")
                    return 0 if status == 0 else 1
            if 0 in readable:
                lines = commands.read()
                for line in lines:
                    if line == "quit":
                        return 0
                    tell(child, line)
                if commands.closed:
                    return 0
    except (BrokenPipeError, Stop):
        return 0
    finally:
        stop_child(child)


def run(body):
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    try:
        return body()
    except Stop:
        return 0
    except Exception as e:  # a fault of ours still ends as one line
        try:
            write_line("error", "the listener failed: " + type(e).__name__ + ": " + str(e))
        except Stop:
            pass
        return REPORTED


if __name__ == "__main__":
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    try:
        status = run(worker if sys.argv[1:] == ["--worker"] else main)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        signal.signal(signal.SIGINT, signal.SIG_IGN)
    except Stop:  # a signal between run's own handlers and here
        status = 0
    sys.exit(status)

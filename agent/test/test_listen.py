"""The speech listener over flite recordings, run by its own interpreter:
agent/voice/.venv/bin/python -m unittest discover -s agent/test -p 'test_*.py'"""

import json
import os
import select
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import speech
import listen
from phrases import COMMANDS


def setUpModule():
    global tmp, recogniser, two
    tmp = tempfile.TemporaryDirectory()
    unittest.addModuleCleanup(tmp.cleanup)
    # The grammar takes in the applications installed: here the real packaged entries of the agent's tests.
    os.environ.update(XDG_DATA_HOME=tmp.name, XDG_DATA_DIRS=os.path.join(os.path.dirname(speech.HERE), "test", "data"))
    os.environ.pop("DISPLAY", None)
    recogniser = listen.Recogniser(listen.MODEL_DIR)
    two = os.path.join(tmp.name, "two.wav")  # at 44.1 kHz in stereo, so that the listener needs sox for it
    subprocess.run(["sox", spoken("left half", "awb"), spoken("how is my battery"), "-r", "44100", "-c", "2", two], check=True)


def spoken(text, voice="slt"):
    path = os.path.join(tmp.name, "%s-%s.wav" % (voice, text.replace(" ", "_")))
    return path if os.path.exists(path) else speech.speak(text, voice, path)


def heard(text, voice="slt"):
    """Every final for the recording fed to the recogniser in 100 ms chunks."""
    samples = speech.pcm(spoken(text, voice))
    events = [e for i in range(0, len(samples), 3200) for e in recogniser.feed(samples[i:i + 3200])]
    return [t for e, t in events + list(recogniser.finish()) if e == "final"]


def folder_with(files):
    """A fresh folder holding the given files (name -> text; '#!' makes it executable)."""
    path = tempfile.mkdtemp(dir=tmp.name)
    for name, text in files.items():
        os.makedirs(os.path.dirname(os.path.join(path, name)), exist_ok=True)
        with open(os.path.join(path, name), "w") as f:
            f.write(text)
        os.chmod(f.name, 0o755 if text.startswith("#!") else 0o644)
    return path


class Recognition(unittest.TestCase):
    def test_commands_free_speech_and_a_dropped_utterance(self):
        for i, text in enumerate(COMMANDS):
            with self.subTest(text=text):
                self.assertEqual(heard(text, speech.FLITE[i % len(speech.FLITE)]), [text])
        for text, voice in zip(speech.FREE, speech.FLITE):  # free speech is not forced onto a command
            words = " ".join(heard(text, voice)).split()
            self.assertGreater(len(set(words) & set(text.split())), len(text.split()) // 2, (text, words))
        first = speech.pcm(spoken("what apps are open"))
        recogniser.feed(first[:len(first) * 2 // 3])
        recogniser.drop()  # as on pause: nothing of the first utterance may reach the next final
        self.assertEqual(heard("maximize"), ["maximize"])


class Grammar(unittest.TestCase):
    def test_takes_in_installed_names_and_window_titles_in_words_it_can_say(self):
        import phrases
        text = phrases.grammar(["Firefox ESR", "Qalculate!"], ["/home/anna/shopping-list.txt - Mousepad"], recogniser.known)
        apps = next(line for line in text.splitlines() if line.startswith("<app> ="))
        self.assertIn("| firefox", apps)
        self.assertNotIn("esr", apps)  # not in the dictionary: the recogniser could not say it
        self.assertIn("| shopping list", text)
        folder = os.path.join(os.environ["XDG_DATA_HOME"], "applications")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "bank.desktop"), "w") as f:
            f.write("[Desktop Entry]\nType=Application\nName=Piggy Bank\nExec=true\n")
        recogniser.checked = None  # as once REFRESH_S has passed
        recogniser.drop()  # between utterances, where the grammar is looked at again
        self.assertIn("| piggy bank", recogniser.grammar)

    def test_window_titles_stop_at_one_second_on_a_hung_x_server(self):
        # The first window answers at once, the next two slowly, the rest never:
        # the titles read in time are kept, a byte that is no UTF-8 replaced.
        import phrases
        xprop = folder_with({"xprop": r"""#!/bin/sh
case "$2" in
  _NET_CLIENT_LIST) echo '_NET_CLIENT_LIST(WINDOW): window id # 0x1, 0x2, 0x3, 0x4, 0x5'; exit ;;
  0x1) ;;
  0x[23]) sleep 0.6 ;;
  *) exec sleep 60 ;;
esac
printf '_NET_WM_NAME(UTF8_STRING) = "%s\377"\n' "$2"
"""})
        began = time.monotonic()
        titles = phrases.window_titles(dict(os.environ, DISPLAY=":99", PATH=xprop + os.pathsep + os.environ["PATH"]))
        self.assertLess(time.monotonic() - began, 1.8)
        self.assertIn(titles, (["0x1\ufffd"], ["0x1\ufffd", "0x2\ufffd"]))


class Samples(unittest.TestCase):
    def test_reads_of_any_length_give_whole_samples_and_lose_no_byte(self):
        audio = bytes(range(256)) * 4
        for sizes in ((1, 2, 3, 4), (3,), (3200, 1), (5, 7, 1)):
            with self.subTest(sizes=sizes):
                carry, out, at, k = b"", [], 0, 0
                while at < len(audio):
                    data, carry = listen.whole_samples(carry, audio[at:at + sizes[k % len(sizes)]])
                    at, k = at + sizes[k % len(sizes)], k + 1
                    self.assertEqual(len(data) % 2, 0)
                    out.append(data)
                self.assertEqual(b"".join(out) + carry, audio)


READ_TIMEOUT = 60  # seconds for one line: a listener that stops talking fails the test rather than hanging it


class Process(unittest.TestCase):  # listen.py as the palette runs it: command lines in, JSON lines out
    def start(self, *commands, **env):
        env = dict({k: v for k, v in os.environ.items() if k != "OSTREL_LISTEN_WAV"}, **env)
        proc = subprocess.Popen([sys.executable, speech.LISTENER], stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env, bufsize=0)
        proc.unread = b""
        self.addCleanup(lambda: (proc.terminate(), proc.wait(), proc.stdin.close(), proc.stdout.close()))
        return self.send(proc, *commands)

    def send(self, proc, *lines):
        proc.stdin.write("".join(line + "\n" for line in lines).encode())
        proc.stdin.flush()
        return proc

    def raw_line(self, proc, timeout=READ_TIMEOUT):
        """One line of output (b"" at its end), failing the test when none comes in time."""
        deadline = time.monotonic() + timeout
        while b"\n" not in proc.unread:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([proc.stdout], [], [], left)[0]:
                self.fail("the listener printed no line within %d s (so far: %r)" % (timeout, proc.unread[:200]))
            data = os.read(proc.stdout.fileno(), 65536)
            if not data:
                line, proc.unread = proc.unread, b""
                return line
            proc.unread += data
        line, proc.unread = proc.unread.split(b"\n", 1)
        return line + b"\n"

    def line(self, proc):
        return json.loads(self.raw_line(proc) or "null")

    def finals(self, proc, count):
        """The finals up to the count-th, with only non-empty partials between them."""
        texts = []
        while len(texts) < count:
            line = self.line(proc)
            self.assertTrue(line and line["event"] in ("partial", "final") and line["text"], (line, texts))
            texts += [line["text"]] if line["event"] == "final" else []
        return texts

    def end(self, proc, *commands):
        self.send(proc, *commands)
        lines = []
        for line in iter(lambda: self.raw_line(proc), b""):
            lines.append(json.loads(line))
        return lines, proc.wait(timeout=60)

    def test_pause_resume_quit_and_the_microphone(self):
        # Commands are taken in order before any audio, and nothing is heard while paused.
        proc = self.start("pause", "hello", OSTREL_LISTEN_WAV=two)
        self.assertEqual(self.line(proc), {"event": "error", "text": "unknown command: hello"})
        self.assertEqual(self.finals(self.send(proc, "resume"), 2), ["left half", "how is my battery"])
        self.assertEqual(self.end(proc, "resume", "pause", "quit"), ([], 0))
        # The microphone is let go of while paused, and taken again on resume.
        log = os.path.join(tmp.name, "arecord.log")
        arecord = folder_with({"arecord": "#!/bin/sh\necho start >> '%s'\ntrap 'echo end >> \"%s\"; kill $!; exit 0' TERM\n"
                               "sox '%s' -t raw -r 16000 -c 1 -b 16 -e signed-integer -L -\nsleep 60 & wait $!\n"
                               % (log, log, spoken("maximize", "rms"))})
        proc = self.start(PATH=arecord + os.pathsep + os.environ["PATH"])
        self.assertEqual(self.finals(proc, 1), ["maximize"])
        def captures():
            with open(log) as f:
                return f.read().split()
        for command, state in (("pause", ["start", "end"]), ("resume", ["start", "end", "start"])):
            self.send(proc, command)
            deadline = time.monotonic() + READ_TIMEOUT
            while captures() != state and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertEqual(captures(), state, "after " + command)
        self.assertEqual(self.finals(proc, 1), ["maximize"])

    def test_ends_without_leaving_a_process_behind(self):
        for how in ("quit", "SIGTERM", "closed input"):
            with self.subTest(how=how):
                proc = self.start(OSTREL_LISTEN_WAV=two)
                self.assertEqual(self.line(proc)["event"], "partial")
                with open("/proc/%d/task/%d/children" % (proc.pid, proc.pid)) as f:
                    worker = int(f.read().split()[0])
                {"quit": lambda: self.send(proc, "quit"), "SIGTERM": lambda: proc.send_signal(signal.SIGTERM),
                 "closed input": proc.stdin.close}[how]()
                self.assertEqual(proc.wait(timeout=60), 0)
                self.assertFalse(os.path.exists("/proc/%d" % worker))  # reaped before the exit

    def test_failures_are_one_error_line(self):
        model = ("en-us/mdef", "en-us/means", "en-us/variances", "en-us/transition_matrices",
                 "en-us/feat.params", "en-us.lm.bin", "cmudict-en-us.dict")
        no_card = "#!/bin/sh\necho 'arecord: main:831: audio open error: No such file or directory' >&2; exit 1\n"
        cases = (  # environment, start of the error line, whether the listener stays, error lines once resumed
            ({"OSTREL_LISTEN_WAV": "/nonexistent.wav"}, "unreadable audio: /nonexistent.wav", True, 1),
            ({"OSTREL_LISTEN_WAV": os.path.join(folder_with({"a.wav": "RIFF and no more"}), "a.wav")}, "unreadable audio: ", True, 1),
            ({"PATH": folder_with({})}, "no microphone: neither arecord nor parec is installed", True, 2),
            ({"PATH": folder_with({"arecord": no_card})},
             "no microphone: arecord: arecord: main:831: audio open error: No such file or directory", True, 2),
            ({"OSTREL_LISTEN_MODEL": tmp.name}, "no speech model at " + tmp.name, False, 1),
            ({"OSTREL_LISTEN_MODEL": folder_with({name: "not a model\n" for name in model})}, "the speech recogniser stopped", False, 1),
            ({"PYTHONPATH": folder_with({"pocketsphinx.py": "raise ImportError('none here')\n"})}, "no speech recogniser: none here", False, 1),
        )
        for env, error, stays, count in cases:
            with self.subTest(error=error):
                proc = self.start(**env)
                first = [self.line(proc)] if stays else []
                first += [self.line(self.send(proc, "resume"))] if count == 2 else []
                lines, status = self.end(proc, *(["quit"] if count == 2 else ["resume", "quit"] if stays else []))
                self.assertEqual([(l["event"], l["text"][:len(error)]) for l in first + lines], [("error", error)] * count)
                self.assertEqual(status, 0 if stays else 1)

"""The speech listener, over recordings made with flite at test time. Run by
the listener's interpreter: agent/voice/.venv/bin/python -m unittest
discover -s agent/test -p 'test_*.py'"""

import json
import os
import signal
import subprocess
import sys
import tempfile
import unittest

import speech
import listen
from phrases import COMMANDS


def setUpModule():
    global tmp, recogniser
    tmp = tempfile.TemporaryDirectory()
    recogniser = listen.Recogniser(listen.MODEL_DIR)


def tearDownModule():
    tmp.cleanup()


def spoken(text, voice="slt"):
    path = os.path.join(tmp.name, "%s-%s.wav" % (voice, text.replace(" ", "_")))
    return path if os.path.exists(path) else speech.speak(text, voice, path)


def heard(text, voice="slt"):
    return speech.recognise(recogniser, speech.pcm(spoken(text, voice)))


def folder_with(files):
    """A fresh folder holding the given files (name -> text; '#!' makes it executable)."""
    path = tempfile.mkdtemp(dir=tmp.name)
    for name, text in files.items():
        os.makedirs(os.path.dirname(os.path.join(path, name)), exist_ok=True)
        with open(os.path.join(path, name), "w") as f:
            f.write(text)
        os.chmod(os.path.join(path, name), 0o755 if text.startswith("#!") else 0o644)
    return path


class Recognition(unittest.TestCase):
    def test_every_command_of_the_agent(self):
        for i, text in enumerate(COMMANDS):
            voice = speech.FLITE[i % len(speech.FLITE)]
            with self.subTest(text=text, voice=voice):
                self.assertEqual(heard(text, voice), [text])

    def test_free_speech_is_not_forced_onto_a_command(self):
        pairs = [(t, " ".join(heard(t, v))) for t, v in zip(speech.FREE, speech.FLITE)]
        errors = sum(speech.word_errors(t, h) for t, h in pairs)
        self.assertLess(errors / sum(len(t.split()) for t, _ in pairs), 0.35, pairs)

    def test_pause_drops_the_utterance_under_way(self):
        first = speech.pcm(spoken("what apps are open"))
        recogniser.feed(first[:len(first) * 2 // 3])
        recogniser.drop()
        self.assertEqual(heard("maximize"), ["maximize"])


class Process(unittest.TestCase):
    """listen.py as the palette runs it: command lines in, JSON lines out."""

    def start(self, **env):
        env = dict({k: v for k, v in os.environ.items() if k != "OSTREL_LISTEN_WAV"}, **env)
        proc = subprocess.Popen([sys.executable, speech.LISTENER], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, env=env)
        self.addCleanup(lambda: (proc.terminate(), proc.wait(), proc.stdin.close(), proc.stdout.close()))
        return proc

    def send(self, proc, *lines):
        proc.stdin.write("".join(l + "\n" for l in lines).encode())
        proc.stdin.flush()

    def line(self, proc):
        raw = proc.stdout.readline()
        return json.loads(raw) if raw else None

    def finals(self, proc, count):
        """The finals up to the count-th; checks the partials between them."""
        texts = []
        while len(texts) < count:
            line = self.line(proc)
            self.assertIsNotNone(line, "the listener ended after %r" % texts)
            self.assertIn(line["event"], ("partial", "final"))
            self.assertTrue(line["text"])
            if line["event"] == "final":
                texts.append(line["text"])
        return texts

    def end(self, proc):
        return [json.loads(l) for l in proc.stdout.read().splitlines()], proc.wait(timeout=60)

    def recording(self):
        wav = os.path.join(tmp.name, "two.wav")
        if not os.path.exists(wav):
            # At 44.1 kHz in stereo, so that the listener needs sox for it.
            subprocess.run(["sox", spoken("left half", "awb"), spoken("how is my battery"), "-r", "44100", "-c", "2", wav],
                           check=True)
        return wav

    def test_pause_resume_quit(self):
        proc = self.start(OSTREL_LISTEN_WAV=self.recording())
        self.send(proc, "pause", "hello")
        # Commands are taken in order before any audio: nothing is heard
        # while paused, so the first line answers the unknown command.
        self.assertEqual(self.line(proc), {"event": "error", "text": "unknown command: hello"})
        self.send(proc, "resume")
        self.assertEqual(self.finals(proc, 2), ["left half", "how is my battery"])
        # The recording is over and the listener waits for the palette.
        self.send(proc, "resume", "pause", "quit")
        self.assertEqual(self.end(proc), ([], 0))

    def test_ends_without_leaving_a_process_behind(self):
        for how in ("quit", "SIGTERM", "closed input"):
            with self.subTest(how=how):
                proc = self.start(OSTREL_LISTEN_WAV=self.recording())
                self.assertEqual(self.line(proc)["event"], "partial")
                with open("/proc/%d/task/%d/children" % (proc.pid, proc.pid)) as f:
                    worker = int(f.read().split()[0])
                {"quit": lambda: self.send(proc, "quit"), "SIGTERM": lambda: proc.send_signal(signal.SIGTERM),
                 "closed input": proc.stdin.close}[how]()
                self.assertEqual(proc.wait(timeout=60), 0)
                self.assertFalse(os.path.exists("/proc/%d" % worker))  # reaped before the exit

    def test_microphone(self):
        raw = os.path.join(tmp.name, "maximize.raw")
        with open(raw, "wb") as f:
            f.write(speech.pcm(spoken("maximize", "rms")))
        path = folder_with({"arecord": "#!/bin/sh\ncat '%s'; exec sleep 60\n" % raw}) + os.pathsep + os.environ["PATH"]
        proc = self.start(PATH=path)
        self.assertEqual(self.finals(proc, 1), ["maximize"])
        no_card = "#!/bin/sh\necho 'arecord: main:831: audio open error: No such file or directory' >&2; exit 1\n"
        for path, error in ((folder_with({}), "no microphone: neither arecord nor parec is installed"),
                            (folder_with({"arecord": no_card}),
                             "no microphone: arecord: arecord: main:831: audio open error: No such file or directory")):
            with self.subTest(error=error):
                proc = self.start(PATH=path)
                self.assertEqual(self.line(proc), {"event": "error", "text": error})
                self.send(proc, "resume")  # tries the microphone again
                self.assertEqual(self.line(proc), {"event": "error", "text": error})
                self.send(proc, "quit")
                self.assertEqual(self.end(proc), ([], 0))

    def test_failures_are_one_error_line(self):
        model = ("en-us/mdef", "en-us/means", "en-us/variances", "en-us/transition_matrices",
                 "en-us/feat.params", "en-us.lm.bin", "cmudict-en-us.dict")
        cases = (  # environment, start of the error line, whether the listener stays
            ({"OSTREL_LISTEN_WAV": "/nonexistent.wav"}, "unreadable audio: /nonexistent.wav", True),
            ({"OSTREL_LISTEN_WAV": os.path.join(folder_with({"a.wav": "RIFF and no more"}), "a.wav")},
             "unreadable audio: ", True),
            ({"OSTREL_LISTEN_MODEL": tmp.name}, "no speech model at " + tmp.name, False),
            ({"OSTREL_LISTEN_MODEL": folder_with({name: "not a model\n" for name in model})},
             "the speech recogniser stopped", False),
            ({"PYTHONPATH": folder_with({"pocketsphinx.py": "raise ImportError('none here')\n"})},
             "no speech recogniser: none here", False),
        )
        for env, error, stays in cases:
            with self.subTest(error=error):
                proc = self.start(**env)
                first = [self.line(proc)] if stays else []
                if stays:
                    self.send(proc, "resume", "quit")
                lines, status = self.end(proc)
                self.assertEqual(len(first + lines), 1, first + lines)
                self.assertEqual((first + lines)[0]["event"], "error")
                self.assertTrue((first + lines)[0]["text"].startswith(error), (first + lines)[0]["text"])
                self.assertEqual(status, 0 if stays else 1)


if __name__ == "__main__":
    unittest.main()

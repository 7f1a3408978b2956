"""The speech listener, over recordings spoken by flite and espeak-ng.

Run with the listener's own interpreter, from the top of the tree:
    agent/voice/.venv/bin/python -m unittest discover -s agent/test -p 'test_*.py'
"""

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
    global folder, recogniser, tmp
    tmp = tempfile.TemporaryDirectory()
    folder = tmp.name
    recogniser = listen.Recogniser(listen.MODEL_DIR)


def tearDownModule():
    tmp.cleanup()


def spoken(text, voice="slt"):
    path = os.path.join(folder, "%s-%s.wav" % (voice, text.replace(" ", "_")))
    return path if os.path.exists(path) else speech.speak(text, voice, path)


def script(name, body):
    """An executable stand-in for a program, alone in a folder of its own."""
    bin_dir = tempfile.mkdtemp(dir=folder)
    path = os.path.join(bin_dir, name)
    with open(path, "w") as f:
        f.write("#!/bin/sh\n" + body + "\n")
    os.chmod(path, 0o755)
    return bin_dir


class Listener:
    """listen.py as the palette runs it: commands in, JSON lines out."""

    def __init__(self, **env):
        full = dict(os.environ)
        full.pop("OSTREL_LISTEN_WAV", None)
        full.update(env)
        self.proc = subprocess.Popen([sys.executable, speech.LISTENER], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, env=full)

    def send(self, *lines):
        self.proc.stdin.write("".join(l + "\n" for l in lines).encode())
        self.proc.stdin.flush()

    def line(self):
        raw = self.proc.stdout.readline()
        return json.loads(raw) if raw else None

    def until(self, event, count=1):
        """Every line up to and including the count-th of the given event."""
        lines = []
        while sum(l["event"] == event for l in lines) < count:
            line = self.line()
            if line is None:
                raise AssertionError("the listener ended after %r" % lines)
            lines.append(line)
        return lines

    def end(self):
        """Every line left, and the exit status, once the listener has ended."""
        rest = [json.loads(l) for l in self.proc.stdout.read().splitlines()]
        return rest, self.proc.wait(timeout=60)

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdin.close()
        self.proc.stdout.close()


class Recognition(unittest.TestCase):
    def test_every_command_of_the_agent(self):
        for i, text in enumerate(COMMANDS):
            voice = speech.FLITE[i % len(speech.FLITE)]
            with self.subTest(text=text, voice=voice):
                heard = speech.recognise(recogniser, speech.pcm(spoken(text, voice)))
                self.assertEqual(heard, [text])

    def test_free_speech_is_not_forced_onto_a_command(self):
        errors = words = 0
        for i, text in enumerate(speech.FREE[:4]):
            heard = " ".join(speech.recognise(recogniser, speech.pcm(spoken(text, speech.FLITE[i]))))
            errors += speech.word_errors(text, heard)
            words += len(text.split())
        self.assertLess(errors / words, 0.35)

    def test_pause_drops_the_utterance_under_way(self):
        first = speech.pcm(spoken("what apps are open"))
        recogniser.feed(first[:len(first) * 2 // 3])
        recogniser.drop()
        self.assertEqual(speech.recognise(recogniser, speech.pcm(spoken("maximize"))), ["maximize"])


class Process(unittest.TestCase):
    def setUp(self):
        self.wav = os.path.join(folder, "two.wav")
        if not os.path.exists(self.wav):
            # At 44.1 kHz in stereo, so that it goes through sox.
            plain = os.path.join(folder, "two16.wav")
            speech.join([spoken("left half", "awb"), spoken("how is my battery")], plain)
            subprocess.run(["sox", plain, "-r", "44100", "-c", "2", self.wav], check=True)

    def listener(self, **env):
        listener = Listener(**env)
        self.addCleanup(listener.close)
        return listener

    def test_pause_resume_quit(self):
        listener = self.listener(OSTREL_LISTEN_WAV=self.wav)
        listener.send("pause", "hello")
        # Commands are taken in order before any audio, so nothing is heard
        # while paused: the first line answers the unknown command.
        self.assertEqual(listener.line(), {"event": "error", "text": "unknown command: hello"})
        listener.send("resume")
        lines = listener.until("final", 2)
        self.assertEqual([l["text"] for l in lines if l["event"] == "final"], ["left half", "how is my battery"])
        self.assertTrue(all(l["event"] == "partial" and l["text"] for l in lines if l["event"] != "final"))
        # The recording is over; the listener waits for the palette.
        listener.send("resume", "pause", "quit")
        self.assertEqual(listener.end(), ([], 0))

    def test_ends_without_leaving_a_process_behind(self):
        for how in ("quit", "SIGTERM", "closed input"):
            with self.subTest(how=how):
                listener = self.listener(OSTREL_LISTEN_WAV=self.wav)
                listener.until("partial")
                with open("/proc/%d/task/%d/children" % ((listener.proc.pid,) * 2)) as f:
                    worker = int(f.read().split()[0])
                if how == "quit":
                    listener.send("quit")
                elif how == "SIGTERM":
                    listener.proc.send_signal(signal.SIGTERM)
                else:
                    listener.proc.stdin.close()
                self.assertEqual(listener.proc.wait(timeout=60), 0)
                # The listener reaps its worker before it exits.
                self.assertFalse(os.path.exists("/proc/%d" % worker))

    def test_microphone(self):
        raw = os.path.join(folder, "maximize.raw")
        with open(raw, "wb") as f:
            f.write(speech.pcm(spoken("maximize", "rms")) + bytes(32000))
        empty = tempfile.mkdtemp(dir=folder)
        cases = (
            ("no capture program", empty, "no microphone: neither arecord nor parec is installed"),
            ("no sound card", script("arecord", "echo 'arecord: main:831: audio open error: No such file or directory' >&2; exit 1"),
             "no microphone: arecord: arecord: main:831: audio open error: No such file or directory"),
        )
        for name, path, error in cases:
            with self.subTest(name):
                listener = self.listener(PATH=path)
                self.assertEqual(listener.line(), {"event": "error", "text": error})
                listener.send("resume")  # tries the microphone again
                self.assertEqual(listener.line(), {"event": "error", "text": error})
                listener.send("quit")
                self.assertEqual(listener.end(), ([], 0))
        with self.subTest("arecord delivers"):
            listener = self.listener(PATH=script("arecord", "cat '%s'; exec sleep 60" % raw) + os.pathsep + os.environ["PATH"])
            self.assertEqual(listener.until("final")[-1], {"event": "final", "text": "maximize"})

    def test_failures_are_one_error_line(self):
        garbage = os.path.join(folder, "garbage.wav")
        with open(garbage, "w") as f:
            f.write("RIFF but not really audio\n")
        bad_model = tempfile.mkdtemp(dir=folder)
        os.mkdir(os.path.join(bad_model, "en-us"))
        for name in ("en-us/mdef", "en-us/means", "en-us/variances", "en-us/transition_matrices",
                     "en-us/feat.params", "en-us.lm.bin", "cmudict-en-us.dict"):
            with open(os.path.join(bad_model, name), "w") as f:
                f.write("not a model\n")
        fake = tempfile.mkdtemp(dir=folder)
        with open(os.path.join(fake, "pocketsphinx.py"), "w") as f:
            f.write("raise ImportError('No module named pocketsphinx')\n")
        cases = (  # environment, start of the error, whether the listener stays
            ({"OSTREL_LISTEN_WAV": "/nonexistent.wav"}, "unreadable audio: /nonexistent.wav", True),
            ({"OSTREL_LISTEN_WAV": garbage}, "unreadable audio: ", True),
            ({"OSTREL_LISTEN_MODEL": folder}, "no speech model at " + folder, False),
            ({"OSTREL_LISTEN_MODEL": bad_model}, "the speech ", False),
            ({"PYTHONPATH": fake}, "no speech recogniser: ", False),
        )
        for env, error, stays in cases:
            with self.subTest(error=error):
                listener = self.listener(**env)
                if stays:
                    line = listener.line()
                    listener.send("resume", "quit")
                    lines, status = listener.end()
                    lines.insert(0, line)
                else:
                    lines, status = listener.end()
                self.assertEqual(len(lines), 1, lines)
                self.assertEqual(lines[0]["event"], "error")
                self.assertTrue(lines[0]["text"].startswith(error), lines[0]["text"])
                self.assertEqual(status, 0 if stays else 1)


if __name__ == "__main__":
    unittest.main()

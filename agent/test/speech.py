"""Recordings made on the spot with flite or espeak-ng for the listener's tests and benchmark."""

import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
OSTREL = os.path.join(os.path.dirname(HERE), "ostrel")
sys.path.insert(0, OSTREL)
LISTENER = os.path.join(OSTREL, "listen.py")

FLITE = ("slt", "kal16", "rms", "awb")  # 16 kHz, like the acoustic model

FREE = ("the weather is nice today", "i would like a cup of coffee", "please call my mother tonight", "read me the latest news",
        "open the door for the children", "we need more milk and bread", "the meeting starts at noon",
        "turn off the lights in the kitchen")


def speak(text, voice, path, pad=0.5):
    """`text` spoken by `voice` into the WAV `path`, with `pad` seconds of silence either side."""
    raw = path + ".tts.wav"
    tts = ["espeak-ng", "-w", raw, text] if voice == "espeak" else ["flite", "-voice", voice, "-t", text, "-o", raw]
    subprocess.run(tts, check=True)
    subprocess.run(["sox", raw, path, "pad", str(pad), str(pad)], check=True)
    os.unlink(raw)
    return path


def pcm(path):
    """The recording as raw 16 kHz mono 16-bit little-endian samples."""
    return subprocess.run(["sox", path, "-t", "raw", "-r", "16000", "-c", "1", "-b", "16", "-e", "signed-integer", "-L", "-"],
                          check=True, capture_output=True).stdout

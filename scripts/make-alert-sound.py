#!/usr/bin/env python3
"""Writes the program's default alert sound: two short falling chimes, loud
enough to be noticed from across a room, short enough not to annoy.

Usage: make-alert-sound.py OUTPUT.wav
"""
import math
import struct
import sys
import wave

RATE = 22050


def chime(freq, seconds, volume):
    """One struck note: a fast attack, then an exponential decay, with a
    quieter octave above it so small speakers still carry it."""
    frames = []
    count = int(RATE * seconds)
    for i in range(count):
        t = i / RATE
        attack = min(1.0, t / 0.005)
        decay = math.exp(-t * 7.0)
        value = (math.sin(2 * math.pi * freq * t)
                 + 0.35 * math.sin(2 * math.pi * 2 * freq * t))
        frames.append(volume * attack * decay * value / 1.35)
    return frames


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    samples = chime(1318.5, 0.28, 0.8) + chime(987.8, 0.45, 0.8)
    with wave.open(sys.argv[1], "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(b"".join(struct.pack("<h", int(s * 32767)) for s in samples))


if __name__ == "__main__":
    main()

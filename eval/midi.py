"""A minimal Standard MIDI File writer: one track, one channel, notes and a tempo."""

import struct

TICKS_PER_BEAT = 480


def _var_len(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def write_midi(path, notes, bpm, channel=0, program=0, end_beat=None):
    """notes: iterable of (start_beat, length_beats, pitch, velocity)."""
    events = []  # (tick, order, bytes): note-offs sort before note-ons at the same tick
    for start, length, pitch, velocity in notes:
        on = int(round(start * TICKS_PER_BEAT))
        off = max(on + 1, int(round((start + length) * TICKS_PER_BEAT)))
        pitch = int(min(127, max(0, pitch)))
        velocity = int(min(127, max(1, velocity)))
        events.append((on, 1, bytes([0x90 | channel, pitch, velocity])))
        events.append((off, 0, bytes([0x80 | channel, pitch, 0])))
    events.sort(key=lambda e: (e[0], e[1]))
    last = events[-1][0] if events else 0
    if end_beat is not None:
        last = max(last, int(round(end_beat * TICKS_PER_BEAT)))

    tempo = int(round(60_000_000 / bpm))
    body = bytearray()
    body += b"\x00\xff\x51\x03" + tempo.to_bytes(3, "big")
    body += b"\x00" + bytes([0xC0 | channel, program & 0x7F])
    # centred, full volume, no effects send: panning and reverb are applied afterwards
    for controller, value in ((7, 127), (10, 64), (91, 0), (93, 0)):
        body += b"\x00" + bytes([0xB0 | channel, controller, value])
    now = 0
    for tick, _, data in events:
        body += _var_len(tick - now) + data
        now = tick
    body += _var_len(max(0, last - now)) + b"\xff\x2f\x00"

    with open(path, "wb") as f:
        f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, TICKS_PER_BEAT))
        f.write(b"MTrk" + struct.pack(">I", len(body)) + bytes(body))

"""Generates the evaluation songs: every stem rendered on its own, so the references are
exact, and the mixture is their sum.

Each song: drums, bass, two to four other instruments (General MIDI sounds rendered by
fluidsynth from one of three soundfonts), a synthesised lead voice and, in some songs,
backing voices; varied tempo, key, style, panning, reverb and dynamics. Pan songs hold
three to five dry parts at known stereo positions.

The set is split by seed and by instrument set: the development half uses two
soundfonts, the held-out half new seeds and mostly the third soundfont.
"""

import json
import os
import subprocess
import tempfile
import warnings

import numpy as np
from scipy.io import wavfile
from scipy.signal import fftconvolve

from midi import write_midi
from voice import sing

SR = 44100
SOUNDFONTS = {
    "fluid": "/usr/share/sounds/sf2/FluidR3_GM.sf2",
    "timgm": "/usr/share/sounds/sf2/TimGM6mb.sf2",
    "musescore": "/usr/share/sounds/sf3/MuseScore_General.sf3",
}
# name: (soundfont, seeds)
SPLITS = {
    "dev": [("fluid", range(0, 6)), ("timgm", range(6, 12))],
    "heldout": [("musescore", range(100, 108)), ("fluid", range(108, 110)), ("timgm", range(110, 112))],
}
PAN_SPLITS = {
    "dev": [("fluid", range(200, 203)), ("timgm", range(203, 206))],
    "heldout": [("musescore", range(300, 304)), ("fluid", range(304, 306))],
}

PROGRESSIONS = [
    [0, 4, 5, 3], [5, 3, 0, 4], [1, 4, 0, 5], [0, 3, 4, 3], [0, 5, 3, 4], [0, 3, 5, 4], [5, 4, 3, 4],
]
MAJOR = [0, 2, 4, 5, 7, 9, 11]
MINOR = [0, 2, 3, 5, 7, 8, 10]
STYLES = ["rock", "disco", "halftime", "shuffle", "ballad", "funk"]
KITS = [0, 8, 16, 24, 25, 32, 40]
BASSES = [32, 33, 34, 35, 36, 37, 38, 39]
OTHERS = {
    "keys": [0, 1, 2, 4, 5, 6],
    "organ": [16, 17, 18, 19],
    "guitar": [24, 25, 26, 27, 28, 29],
    "strings": [48, 49, 50, 51],
    "pad": [88, 89, 90, 91, 94, 95],
    "winds": [56, 57, 61, 65, 68, 71, 73],
    "mallets": [11, 12, 13, 46, 105, 108],
}
ROLES = ["block", "arpeggio", "stabs", "counter"]


def scale_pitch(key, mode, degree, octave):
    steps = MAJOR if mode == "major" else MINOR
    return 12 * octave + key + steps[degree % 7] + 12 * (degree // 7)


def chord_tones(key, mode, degree, octave):
    return [scale_pitch(key, mode, degree + k, octave) for k in (0, 2, 4)]


def render(sf, notes, bpm, program, channel, end_beat, workdir, name):
    mid = os.path.join(workdir, name + ".mid")
    wav = os.path.join(workdir, name + ".wav")
    write_midi(mid, notes, bpm, channel=channel, program=program, end_beat=end_beat)
    subprocess.run(["fluidsynth", "-ni", "-q", "-R", "0", "-C", "0", "-g", "0.5", "-r", str(SR), "-T", "wav", "-O", "float",
                    "-F", wav, sf, mid], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", wavfile.WavFileWarning)
        _, audio = wavfile.read(wav)
    audio = audio.astype(np.float64)
    return audio.mean(axis=1) if audio.ndim == 2 else audio


def fit(x, n):
    return x[:n] if len(x) >= n else np.concatenate([x, np.zeros(n - len(x))])


def normalise(x, rms, where=None):
    part = x if where is None else x[where]
    return x * (rms / (np.sqrt(np.mean(part ** 2)) + 1e-9))


def pan(mono, position):
    """Constant-power pan, position -1 (left) .. 1 (right)."""
    angle = (position + 1) * np.pi / 4
    return np.stack([np.cos(angle) * mono, np.sin(angle) * mono], axis=1)


def reverb(rng, stereo, rt60, wet):
    n = int(rt60 * SR)
    t = np.arange(n) / SR
    decay = np.exp(-6.9 * t / rt60)
    pre = int(rng.uniform(0.01, 0.03) * SR)
    ir = np.zeros((n + pre, 2))
    for c in range(2):
        ir[pre:, c] = rng.standard_normal(n) * decay
    ir /= np.sqrt(np.sum(ir ** 2, axis=0, keepdims=True))
    mono = stereo.mean(axis=1)
    wet_part = np.stack([fftconvolve(mono, ir[:, c])[: len(mono)] for c in range(2)], axis=1)
    return stereo + wet * wet_part


def db(value):
    return 10 ** (value / 20)


def drum_notes(rng, style, bars, beats_per_bar=4):
    notes = []
    for bar in range(bars):
        base = bar * beats_per_bar
        fill = bar == bars - 1 or (bar % 4 == 3 and rng.random() < 0.5)
        for step in range(16):
            beat = base + step / 4
            v = lambda lo, hi: int(rng.integers(lo, hi))
            if style == "rock":
                if step in (0, 8) or (step == 10 and rng.random() < 0.4): notes.append((beat, 0.25, 36, v(95, 120)))
                if step in (4, 12): notes.append((beat, 0.25, 38, v(95, 120)))
                if step % 2 == 0: notes.append((beat, 0.25, 42, v(60, 90)))
            elif style == "disco":
                if step % 4 == 0: notes.append((beat, 0.25, 36, v(100, 120)))
                if step in (4, 12): notes.append((beat, 0.25, 39 if rng.random() < 0.3 else 38, v(90, 115)))
                notes.append((beat, 0.25, 46 if step % 4 == 2 else 42, v(55, 85)))
            elif style == "halftime":
                if step in (0, 3, 10) or (step == 7 and rng.random() < 0.5): notes.append((beat, 0.25, 36, v(95, 120)))
                if step == 8: notes.append((beat, 0.25, 38, v(100, 125)))
                if step % 2 == 0 or rng.random() < 0.3: notes.append((beat, 0.25, 42, v(50, 85)))
            elif style == "shuffle":
                if step % 4 in (0, 3):
                    swung = beat + (0.08 if step % 4 == 3 else 0)
                    notes.append((swung, 0.25, 51 if rng.random() < 0.7 else 42, v(60, 95)))
                if step in (0, 6, 8): notes.append((beat, 0.25, 36, v(90, 115)))
                if step in (4, 12): notes.append((beat, 0.25, 38, v(90, 115)))
            elif style == "ballad":
                if step in (0, 6): notes.append((beat, 0.25, 36, v(80, 105)))
                if step == 8: notes.append((beat, 0.25, 37 if rng.random() < 0.4 else 38, v(80, 105)))
                if step % 4 == 0: notes.append((beat, 0.25, 51, v(50, 75)))
            else:  # funk
                if step in (0, 3, 6, 10) and rng.random() < 0.9: notes.append((beat, 0.25, 36, v(90, 120)))
                if step in (4, 12): notes.append((beat, 0.25, 38, v(100, 125)))
                if step in (7, 9, 15) and rng.random() < 0.5: notes.append((beat, 0.25, 38, v(30, 50)))
                notes.append((beat, 0.25, 42, v(45, 90)))
            if fill and step >= 12: notes.append((beat, 0.25, int(rng.choice([45, 47, 48, 50])), v(90, 120)))
        if bar % 4 == 0: notes.append((base, 1.0, 49, int(rng.integers(90, 115))))
    return notes


def bass_notes(rng, key, mode, progression, bars, style):
    notes = []
    pattern = rng.choice(["roots", "eighths", "octaves", "walking", "syncopated"])
    for bar in range(bars):
        degree = progression[bar % len(progression)]
        root = scale_pitch(key, mode, degree, 2)
        while root > 43: root -= 12
        while root < 28: root += 12
        base = bar * 4
        if pattern == "roots":
            for b in (0, 2): notes.append((base + b, 1.8, root, rng.integers(85, 110)))
        elif pattern == "eighths":
            for k in range(8): notes.append((base + k / 2, 0.45, root, rng.integers(75, 105)))
        elif pattern == "octaves":
            for k in range(8): notes.append((base + k / 2, 0.4, root + 12 * (k % 2), rng.integers(75, 105)))
        elif pattern == "walking":
            for k in range(4):
                notes.append((base + k, 0.9, scale_pitch(key, mode, degree + k, 2) - (12 if root < scale_pitch(key, mode, degree, 2) else 0), rng.integers(80, 105)))
        else:
            for b, l in ((0, 0.7), (0.75, 0.5), (1.5, 0.4), (2.5, 0.9), (3.5, 0.4)):
                notes.append((base + b, l, root + (7 if b == 2.5 and rng.random() < 0.5 else 0), rng.integers(80, 110)))
    return notes


def other_notes(rng, key, mode, progression, bars, role, octave):
    notes = []
    for bar in range(bars):
        degree = progression[bar % len(progression)]
        tones = chord_tones(key, mode, degree, octave)
        base = bar * 4
        if role == "block":
            for p in tones: notes.append((base, 3.9, p, rng.integers(60, 90)))
        elif role == "arpeggio":
            seq = tones + [tones[0] + 12, tones[2], tones[1]]
            for k in range(8): notes.append((base + k / 2, 0.5, seq[k % len(seq)], rng.integers(60, 95)))
        elif role == "stabs":
            for b in (0.5, 1.5, 2.5, 3.5):
                for p in tones: notes.append((base + b, 0.35, p, rng.integers(65, 100)))
        else:  # counter melody: sparse, on chord tones and passing notes
            k = 0.0
            while k < 4:
                length = float(rng.choice([0.5, 1.0, 1.5, 2.0]))
                if rng.random() < 0.75:
                    notes.append((base + k, length * 0.95, scale_pitch(key, mode, degree + int(rng.integers(0, 7)), octave + 1), rng.integers(60, 90)))
                k += length
    return notes


def lead_melody(rng, key, mode, progression, bars, bpm, low, high):
    """Phrases of sung notes in seconds, with rests between phrases."""
    beat_s = 60.0 / bpm
    notes, bar = [], 0
    scale = [p for p in range(low, high + 1) if (p - key) % 12 in (MAJOR if mode == "major" else MINOR)]
    current = scale[len(scale) // 2]
    while bar < bars:
        phrase_bars = int(rng.integers(1, 3))
        k = 0.0 if bar > 0 else float(rng.choice([0.0, 1.0]))
        end = 4.0 * phrase_bars - float(rng.choice([0.5, 1.0, 2.0]))
        while k < end and bar * 4 + k < bars * 4:
            length = float(rng.choice([0.5, 0.5, 1.0, 1.0, 1.5, 2.0]))
            length = min(length, end - k)
            if length <= 0.2: break
            degree = progression[int(bar + k // 4) % len(progression)]
            if k % 2 == 0 and rng.random() < 0.6:  # chord tone on strong beats
                candidates = [p for p in scale if (p - scale_pitch(key, mode, degree, 0)) % 12 in ((MAJOR if mode == "major" else MINOR)[0], 3, 4, 7)]
                current = min(candidates, key=lambda p: abs(p - current) + rng.random() * 3) if candidates else current
            else:
                i = scale.index(min(scale, key=lambda p: abs(p - current)))
                current = scale[int(np.clip(i + rng.integers(-2, 3), 0, len(scale) - 1))]
            gap = 0.0 if rng.random() < 0.7 else 0.08
            notes.append(((bar * 4 + k) * beat_s, length * beat_s - gap, current))
            k += length
        bar += phrase_bars + int(rng.integers(0, 2))
    return notes


def song_frame(rng, max_bpm, seconds):
    """Tempo, whole bars near the wanted length, its samples, key, mode and chords."""
    bpm = float(rng.uniform(70, max_bpm))
    bars = max(4, int(round(seconds / (4 * 60 / bpm))))
    n = int((bars * 4 * 60 / bpm) * SR)
    key, mode = int(rng.integers(0, 12)), str(rng.choice(["major", "minor"]))
    progression = PROGRESSIONS[rng.integers(len(PROGRESSIONS))]
    return bpm, bars, n, key, mode, progression


def make_song(seed, soundfont, workdir, seconds=20.0):
    rng = np.random.default_rng(seed)
    sf = SOUNDFONTS[soundfont]
    bpm, bars, n, key, mode, progression = song_frame(rng, 160, seconds)
    style = str(rng.choice(STYLES))
    end_beat = bars * 4 + 2
    info = {"seed": seed, "soundfont": soundfont, "bpm": round(bpm, 1), "key": key, "mode": mode, "style": style, "bars": bars}

    with tempfile.TemporaryDirectory() as tmp:
        kit = int(rng.choice(KITS))
        drums = render(sf, drum_notes(rng, style, bars), bpm, kit, 9, end_beat, tmp, "drums")
        drums = pan(normalise(fit(drums, n), 0.14), rng.uniform(-0.1, 0.1)) * db(rng.uniform(-3, 3))
        bass_program = int(rng.choice(BASSES))
        bass = render(sf, bass_notes(rng, key, mode, progression, bars, style), bpm, bass_program, 0, end_beat, tmp, "bass")
        bass = pan(normalise(fit(bass, n), 0.12), rng.uniform(-0.1, 0.1)) * db(rng.uniform(-4, 2))

        n_other = int(rng.integers(2, 5))
        families = rng.choice(list(OTHERS), size=n_other, replace=False)
        roles = list(rng.permutation(ROLES))[:n_other]
        positions = np.sort(rng.uniform(-0.9, 0.9, n_other))
        others, other_info = [], []
        for i, family in enumerate(families):
            program = int(rng.choice(OTHERS[family]))
            octave = 4 if roles[i] != "counter" else 5
            x = render(sf, other_notes(rng, key, mode, progression, bars, roles[i], octave), bpm, program, 0, end_beat, tmp, f"other{i}")
            x = normalise(fit(x, n), 0.1)
            others.append(pan(x, positions[i]) * db(rng.uniform(-8, 0)))
            other_info.append({"program": program, "role": roles[i], "pan": round(float(positions[i]), 2)})

    high_voice = rng.random() < 0.5
    low, high = (57, 77) if high_voice else (47, 67)
    melody = lead_melody(rng, key, mode, progression, bars, bpm, low, high)
    lead, f0, voiced = sing(melody, SR, n, rng, formant_scale=1.15 if high_voice else 1.0, brightness=rng.uniform(0.8, 1.4))
    # the lead is on top of the mix, as in most produced songs
    lead = pan(normalise(lead, 0.16, voiced), rng.uniform(-0.08, 0.08)) * db(rng.uniform(-3, 3))

    backing = np.zeros((n, 2))
    has_backing = rng.random() < 0.5
    if has_backing:
        beat_s = 60 / bpm
        for voice_index in range(int(rng.integers(1, 3))):
            notes = []
            for bar in range(bars):
                if rng.random() < 0.35:
                    continue
                tones = chord_tones(key, mode, progression[bar % len(progression)], 5 if high_voice else 4)
                pitch = tones[(voice_index + 1) % 3]
                while pitch > high + 3: pitch -= 12
                notes.append((bar * 4 * beat_s, 3.8 * beat_s, pitch))
            if notes:
                voice, _, v = sing(notes, SR, n, rng, formant_scale=rng.uniform(0.95, 1.2), fixed_vowel=str(rng.choice(["u", "a", "o"])),
                                   consonants=False, breath_db=-40)
                side = (-1) ** voice_index * rng.uniform(0.3, 0.7)
                backing += pan(normalise(voice, 0.12, v), side) * db(rng.uniform(-12, -6))

    # reverb: one room for the instruments, the voices' own (longer) plate
    room = rng.uniform(0.3, 1.2)
    drums = reverb(rng, drums, room, rng.uniform(0.05, 0.2))
    others = [reverb(rng, x, room, rng.uniform(0.1, 0.35)) for x in others]
    vocal_rt = rng.uniform(0.8, 2.0)
    lead = reverb(rng, lead, vocal_rt, rng.uniform(0.1, 0.3))
    if has_backing:
        backing = reverb(rng, backing, vocal_rt, rng.uniform(0.2, 0.4))

    # dynamics: a louder second half for everything
    ramp = np.ones(n)
    ramp[n // 2:] = db(rng.uniform(0, 4))
    stems = {"drums": drums, "bass": bass, "other": sum(others), "lead": lead, "backing": backing}
    stems = {k: v * ramp[:, None] for k, v in stems.items()}
    peak = np.max(np.abs(sum(stems.values())))
    scale = 0.9 / peak
    os.makedirs(workdir, exist_ok=True)
    for name, x in stems.items():
        wavfile.write(os.path.join(workdir, name + ".wav"), SR, (x * scale).astype(np.float32))
    wavfile.write(os.path.join(workdir, "mix.wav"), SR, (sum(stems.values()) * scale).astype(np.float32))
    write_guide(os.path.join(workdir, "guide.txt"), f0)
    info.update({"kit": kit, "bass": bass_program, "others": other_info, "backing": has_backing, "seconds": n / SR})
    with open(os.path.join(workdir, "song.json"), "w") as f:
        json.dump(info, f, indent=1)
    return info


def write_guide(path, f0, step=256):
    """The true melody as a pitch guide: MIDI per step of `step` samples, -1 where unvoiced."""
    steps = len(f0) // step
    values = []
    for i in range(steps):
        part = f0[i * step:(i + 1) * step]
        voiced = part[part > 0]
        values.append(69 + 12 * np.log2(np.median(voiced) / 440) if len(voiced) > step // 2 else -1.0)
    with open(path, "w") as f:
        f.write(f"{step}\n")
        f.write("\n".join(f"{v:.3f}" for v in values))


def make_pan_song(seed, soundfont, workdir, seconds=15.0):
    rng = np.random.default_rng(seed)
    sf = SOUNDFONTS[soundfont]
    bpm, bars, n, key, mode, progression = song_frame(rng, 150, seconds)
    count = int(rng.integers(3, 6))
    # known positions at least 0.3 apart over -1..1
    while True:
        positions = np.sort(rng.uniform(-1, 1, count))
        if np.all(np.diff(positions) >= 0.3):
            break
    parts = []
    with tempfile.TemporaryDirectory() as tmp:
        families = rng.choice(list(OTHERS), size=count, replace=True)
        for i in range(count):
            if i == 0 and rng.random() < 0.5:
                notes, program = bass_notes(rng, key, mode, progression, bars, "rock"), int(rng.choice(BASSES))
            else:
                notes, program = other_notes(rng, key, mode, progression, bars, ROLES[int(rng.integers(len(ROLES)))], 4), int(rng.choice(OTHERS[families[i]]))
            x = fit(render(sf, notes, bpm, program, 0, bars * 4 + 2, tmp, f"p{i}"), n)
            parts.append(pan(normalise(x, 0.1) * db(rng.uniform(-4, 0)), positions[i]))
    peak = np.max(np.abs(sum(parts)))
    os.makedirs(workdir, exist_ok=True)
    for i, x in enumerate(parts):
        wavfile.write(os.path.join(workdir, f"part{i}.wav"), SR, (x * 0.9 / peak).astype(np.float32))
    wavfile.write(os.path.join(workdir, "mix.wav"), SR, (sum(parts) * 0.9 / peak).astype(np.float32))
    info = {"seed": seed, "soundfont": soundfont, "positions": [round(float(p), 3) for p in positions], "seconds": n / SR}
    with open(os.path.join(workdir, "song.json"), "w") as f:
        json.dump(info, f, indent=1)
    return info


def generate(root, split):
    """Makes (once) every song of a split under root; returns their folders."""
    folders = []
    for kind, splits, maker in (("song", SPLITS, make_song), ("pan", PAN_SPLITS, make_pan_song)):
        for soundfont, seeds in splits[split]:
            for seed in seeds:
                folder = os.path.join(root, split, f"{kind}-{seed:03d}")
                if not os.path.exists(os.path.join(folder, "song.json")):
                    maker(seed, soundfont, folder)
                folders.append(folder)
    return folders

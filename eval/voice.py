"""A sung-like voice: a glottal source through moving formants, with vibrato, glides,
jitter, consonants and breath. Additive synthesis, so the pitch is known exactly."""

import numpy as np

# (F1, F2, F3, F4) in Hz for an adult male; a higher voice scales them up.
VOWELS = {
    "a": (730, 1090, 2440, 3400),
    "e": (530, 1840, 2480, 3500),
    "i": (270, 2290, 3010, 3700),
    "o": (570, 840, 2410, 3300),
    "u": (300, 870, 2240, 3200),
    "ae": (660, 1720, 2410, 3400),
}
BANDWIDTHS = (80.0, 100.0, 140.0, 200.0)
FORMANT_GAINS_DB = (0.0, -6.0, -14.0, -20.0)
CONSONANTS = ("", "", "s", "sh", "t", "k", "p", "m", "n", "f", "l")


def _envelope(freqs, formants, scale):
    """Formant envelope (linear amplitude) at freqs (harmonics x frames)."""
    env = np.full(freqs.shape, 0.01)
    for k in range(4):
        centre = formants[k][None, :] * scale
        half_bw = BANDWIDTHS[k] * scale * 0.5
        env += 10 ** (FORMANT_GAINS_DB[k] / 20) / (1.0 + ((freqs - centre) / half_bw) ** 2)
    return env


def _noise_band(rng, n, sr, low, high):
    spectrum = np.fft.rfft(rng.standard_normal(n))
    f = np.fft.rfftfreq(n, 1.0 / sr)
    spectrum[(f < low) | (f > high)] = 0
    out = np.fft.irfft(spectrum, n)
    return out / (np.max(np.abs(out)) + 1e-12)


def sing(notes, sr, n_samples, rng, formant_scale=1.0, brightness=1.0, breath_db=-32.0, fixed_vowel=None,
         consonants=True):
    """notes: list of (start_s, length_s, midi) in time order. Returns (signal, f0 per sample, voiced mask)."""
    hop = 64
    n_ctrl = n_samples // hop + 2
    t_ctrl = np.arange(n_ctrl) * hop / sr
    midi = np.full(n_ctrl, np.nan)
    amp = np.zeros(n_ctrl)
    formants = np.zeros((4, n_ctrl))
    vowel_names = list(VOWELS)
    last_formants = np.array(VOWELS["a"], dtype=float)
    noise = np.zeros(n_samples)

    for i, (start, length, pitch) in enumerate(notes):
        a, b = int(start * sr / hop), min(n_ctrl, int((start + length) * sr / hop))
        if b <= a:
            continue
        local_t = t_ctrl[a:b] - start
        # glide from the previous note when it ends right before this one
        glide = 0.0
        if i > 0:
            prev_start, prev_len, prev_pitch = notes[i - 1]
            if start - (prev_start + prev_len) < 0.02 and rng.random() < 0.6:
                glide = rng.uniform(0.03, 0.12)
                curve = np.clip(local_t / glide, 0, 1)
                curve = 0.5 - 0.5 * np.cos(np.pi * curve)
                pitch_line = prev_pitch + (pitch - prev_pitch) * curve
            else:
                pitch_line = np.full(b - a, float(pitch))
        else:
            pitch_line = np.full(b - a, float(pitch))
        # vibrato after the onset on held notes, and a slow drift (intonation)
        if length > 0.3:
            rate, depth = rng.uniform(4.8, 6.5), rng.uniform(0.2, 0.55)
            onset = np.clip((local_t - 0.15) / 0.25, 0, 1)
            pitch_line = pitch_line + depth * onset * np.sin(2 * np.pi * rate * local_t + rng.uniform(0, 6.28))
        pitch_line = pitch_line + np.cumsum(rng.normal(0, 0.004, b - a))
        midi[a:b] = pitch_line

        attack, release = 0.03, min(0.08, length / 3)
        env = np.clip(local_t / attack, 0, 1) * np.clip((length - local_t) / release, 0, 1)
        amp[a:b] = env * 10 ** (rng.uniform(-4, 0) / 20)

        # vowel, sometimes a diphthong moving across the note
        v1 = np.array(VOWELS[fixed_vowel or vowel_names[rng.integers(len(vowel_names))]], dtype=float)
        v2 = v1 if (fixed_vowel or rng.random() < 0.5) else np.array(VOWELS[vowel_names[rng.integers(len(vowel_names))]], dtype=float)
        move = np.clip(local_t / max(length, 1e-3), 0, 1)[None, :]
        entry = np.clip(local_t / 0.05, 0, 1)[None, :]  # coarticulation from the last vowel
        target = v1[:, None] * (1 - move) + v2[:, None] * move
        formants[:, a:b] = last_formants[:, None] * (1 - entry) + target * entry
        last_formants = v2

        if consonants:
            kind = CONSONANTS[rng.integers(len(CONSONANTS))]
            s0 = int(start * sr)
            if kind in ("s", "sh", "f"):
                dur = int(rng.uniform(0.05, 0.11) * sr)
                low, high = {"s": (4000, 11000), "sh": (2000, 6000), "f": (1500, 9000)}[kind]
                burst = _noise_band(rng, dur, sr, low, high) * np.hanning(dur) * 10 ** (rng.uniform(-18, -10) / 20)
                begin = max(0, s0 - dur // 2)
                noise[begin:begin + dur] += burst[: max(0, min(dur, n_samples - begin))]
            elif kind in ("t", "k", "p"):
                dur = int(0.025 * sr)
                low, high = {"t": (3000, 9000), "k": (1500, 4000), "p": (300, 2500)}[kind]
                burst = _noise_band(rng, dur, sr, low, high) * np.exp(-np.arange(dur) / (0.006 * sr)) * 0.3
                noise[s0:s0 + dur] += burst[: max(0, min(dur, n_samples - s0))]
            elif kind in ("m", "n", "l"):
                nasal = min(b - a, int(0.06 * sr / hop))
                formants[0, a:a + nasal] = 250 + (kind == "l") * 100
                formants[1, a:a + nasal] = 1200 + (kind == "n") * 500
                amp[a:a + nasal] *= 0.5

    voiced_ctrl = ~np.isnan(midi)
    midi_filled = np.where(voiced_ctrl, midi, 0.0)
    # hold the last pitch through rests so the phase stays continuous (amplitude is zero there)
    idx = np.where(voiced_ctrl, np.arange(n_ctrl), 0)
    np.maximum.accumulate(idx, out=idx)
    midi_filled = midi_filled[idx]
    midi_filled[midi_filled == 0] = 60
    f0_ctrl = 440.0 * 2 ** ((midi_filled - 69) / 12)
    f0_ctrl *= 1 + rng.normal(0, 0.002, n_ctrl)  # jitter

    sample_t = np.arange(n_samples) / sr
    f0 = np.interp(sample_t, t_ctrl, f0_ctrl)
    amp_s = np.interp(sample_t, t_ctrl, amp)
    phase = 2 * np.pi * np.cumsum(f0) / sr
    n_harm = int(min(80, (0.45 * sr) / max(80.0, np.min(f0_ctrl))))
    out = np.zeros(n_samples)
    for h in range(1, n_harm + 1):
        freqs = (h * f0_ctrl)[None, :]
        gain = _envelope(freqs, formants, formant_scale)[0] * h ** (-1.0 / brightness)
        gain[h * f0_ctrl > 0.45 * sr] = 0
        shimmer = 1 + 0.05 * np.sin(2 * np.pi * rng.uniform(0.5, 3) * t_ctrl + rng.uniform(0, 6.28))
        out += np.interp(sample_t, t_ctrl, gain * shimmer) * np.sin(h * phase + rng.uniform(0, 6.28))
    out *= amp_s
    breath = _noise_band(rng, n_samples, sr, 500, 8000) * amp_s * 10 ** (breath_db / 20)
    signal = out / (np.max(np.abs(out)) + 1e-12) + breath + noise
    voiced = np.interp(sample_t, t_ctrl, voiced_ctrl.astype(float)) > 0.5
    return signal, np.where(voiced, f0, 0.0), voiced

"""The floor and the ceiling every engine is compared with, on the engines' own STFT
(periodic Hann, N = 4096, hop N / 4):

- the HPSS floor: FitzGerald's median-filter harmonic/percussive split (17 frames by
  17 bins, Wiener-like soft masks); drums take the percussive part, bass the harmonic
  part below 200 Hz, vocals and other the harmonic part above it;
- the ideal ratio mask: |S_target| / (|S_target| + |S_rest|) per bin and channel,
  the best a gain mask of the mixture can do up to its phase;
- for pan songs, the nearest-position mask: each bin to the known source position
  closest to its own (atan2(|R|, |L|), the engines' azimuth).
"""

import numpy as np
from scipy.ndimage import median_filter
from scipy.signal import istft, stft

NFFT = 4096
HOP = NFFT // 4
BASS_CUTOFF_HZ = 200.0


def spectra(x, sr):
    """x (samples, channels) -> complex (channels, bins, frames)."""
    _, _, z = stft(x.T, fs=sr, window="hann", nperseg=NFFT, noverlap=NFFT - HOP)
    return z


def resynth(z, sr, n):
    _, y = istft(z, fs=sr, window="hann", nperseg=NFFT, noverlap=NFFT - HOP)
    y = y.T[:n]
    return np.vstack([y, np.zeros((n - len(y), y.shape[1]))]) if len(y) < n else y


def hpss_floor(mix, sr):
    """Estimates for drums, bass, vocals and other from the plain HPSS split."""
    z = spectra(mix, sr)
    mag = np.abs(z)
    harm = median_filter(mag, size=(1, 1, 17), mode="reflect")
    perc = median_filter(mag, size=(1, 17, 1), mode="reflect")
    mask_h = harm ** 2 / (harm ** 2 + perc ** 2 + 1e-20)
    freqs = np.arange(z.shape[1]) * sr / NFFT
    low = (freqs < BASS_CUTOFF_HZ)[None, :, None]
    n = len(mix)
    return {
        "drums": resynth(z * (1 - mask_h), sr, n),
        "bass": resynth(z * mask_h * low, sr, n),
        "vocals": resynth(z * mask_h * ~low, sr, n),
        "other": resynth(z * mask_h * ~low, sr, n),
    }


def ideal_mask(target, mix, sr):
    zt, zm = spectra(target, sr), spectra(mix, sr)
    mt, mr = np.abs(zt), np.abs(zm - zt)
    return resynth(zm * mt / (mt + mr + 1e-20), sr, len(mix))


def nearest_position(mix, positions, sr):
    """One estimate per known position (-1 left .. 1 right), in the given order."""
    z = spectra(mix, sr)
    azimuth = np.arctan2(np.abs(z[1]), np.abs(z[0])) * 2 / np.pi  # 0 left .. 1 right
    centres = (np.asarray(positions) + 1) / 2
    owner = np.argmin(np.abs(azimuth[None] - centres[:, None, None]), axis=0)
    return [resynth(z * (owner == k)[None], sr, len(mix)) for k in range(len(positions))]

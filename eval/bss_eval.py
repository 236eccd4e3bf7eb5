"""BSS Eval v4 for source images, as the public separation campaigns compute it.

The distortion filters (512 taps) are time-invariant: they are estimated once over the
whole song; the criteria (SDR, ISR, SIR, SAR) are then computed in 1 s windows and
summarised by their median. A window where a reference or an estimate is exactly
silent is left out (NaN), as the campaigns do; an engine that wrote exact zeros in
the windows it separates worst would gain from that, so the kit's engines are checked
never to do so (their stems are masks of the mixture, zero only where it is).

With a single window over the whole signal this is mir_eval's bss_eval_images, and
the test beside this file checks that both agree.

Arrays are (sources, samples, channels). The references' Gram matrix is factorised
once, so scoring several estimates of the same references (a module, the floor, the
ideal mask) costs one solve each.
"""

import numpy as np
import scipy.linalg
from scipy.linalg import toeplitz

FILTER_LENGTH = 512


def _fft_size(n, flen):
    return int(2 ** np.ceil(np.log2(n + flen - 1)))


class References:
    def __init__(self, references, flen=FILTER_LENGTH):
        self.refs = np.asarray(references, dtype=np.float64)
        self.nsrc, self.n, self.nchan = self.refs.shape
        self.flen = flen
        self.nfft = _fft_size(self.n, flen)
        # spectra of every reference channel, flattened as (source, channel)
        self.sf = np.fft.rfft(self.refs.transpose(0, 2, 1).reshape(-1, self.n), n=self.nfft, axis=1)
        count = self.nsrc * self.nchan
        size = count * flen
        gram = np.zeros((size, size))
        for a in range(count):
            for b in range(a, count):
                xc = np.fft.irfft(self.sf[b] * np.conj(self.sf[a]), n=self.nfft)
                # block[p, q] = sum_t r_a(t - p) r_b(t - q) = xc(p - q)
                block = toeplitz(xc[:flen], np.concatenate(([xc[0]], xc[-1:-flen:-1])))
                gram[a * flen:(a + 1) * flen, b * flen:(b + 1) * flen] = block
                gram[b * flen:(b + 1) * flen, a * flen:(a + 1) * flen] = block.T
        self.gram = gram
        self._factors = {}

    def _factor(self, sources):
        key = tuple(sources)
        if key not in self._factors:
            index = np.concatenate([np.arange(s * self.nchan * self.flen, (s + 1) * self.nchan * self.flen) for s in sources])
            g = self.gram[np.ix_(index, index)]
            g = g + np.eye(len(index)) * (1e-12 * np.trace(g) / len(index) + np.finfo(float).tiny)
            self._factors[key] = (index, scipy.linalg.cho_factor(g))
        return self._factors[key]

    def project(self, estimate, sources):
        """Least-squares projection of estimate (samples, channels) onto the delayed
        reference channels of `sources`; length samples + flen - 1."""
        index, factor = self._factor(sources)
        ef = np.fft.rfft(estimate.T, n=self.nfft, axis=1)
        count = self.nsrc * self.nchan
        d = np.zeros((count * self.flen, self.nchan))
        for a in range(count):
            for c in range(self.nchan):
                xc = np.fft.irfft(ef[c] * np.conj(self.sf[a]), n=self.nfft)
                d[a * self.flen:(a + 1) * self.flen, c] = xc[:self.flen]
        filters = scipy.linalg.cho_solve(factor, d[index])
        out = np.zeros((self.n + self.flen - 1, self.nchan))
        nout = _fft_size(self.n, self.flen)
        for k, s in enumerate(sources):
            for ci in range(self.nchan):
                sig = np.fft.rfft(self.refs[s, :, ci], n=nout)
                base = (k * self.nchan + ci) * self.flen
                for c in range(self.nchan):
                    h = np.fft.rfft(filters[base:base + self.flen, c], n=nout)
                    out[:, c] += np.fft.irfft(sig * h, n=nout)[: self.n + self.flen - 1]
        return out

    def decompose(self, target, estimate):
        pad = self.flen - 1
        s_true = np.vstack([self.refs[target], np.zeros((pad, self.nchan))])
        own = self.project(estimate, [target])
        every = self.project(estimate, list(range(self.nsrc)))
        e_spat = own - s_true
        e_interf = every - own
        e_artif = -every
        e_artif[: self.n] += estimate
        return s_true, e_spat, e_interf, e_artif


def _db(num, den):
    return 10 * np.log10(max(num, 1e-40) / max(den, 1e-40))


def evaluate(refs, estimates, window, hop=None, with_projection=True, silent_others=True):
    """refs: References; estimates: (sources, samples, channels) in the references'
    order. Returns dict of arrays (sources, windows): sdr, isr, sir, sar.

    A window is left out when any reference or estimate is silent in it, as the
    campaigns do; with silent_others False only the source's own reference and
    estimate count (its SDR depends on nothing else), so that the whole mixture can
    be scored as an estimate although its complement is silence."""
    hop = hop or window
    nwin = max(1, int(np.floor((refs.n - window + hop) / hop)))
    out = {k: np.full((refs.nsrc, nwin), np.nan) for k in ("sdr", "isr", "sir", "sar")}
    for j in range(refs.nsrc):
        est = np.asarray(estimates[j], dtype=np.float64)
        if with_projection:
            s, e_spat, e_interf, e_artif = refs.decompose(j, est)
        else:  # SDR alone needs no filters: e_spat + e_interf + e_artif = estimate - reference
            s, e_spat, e_interf, e_artif = refs.refs[j], None, None, est - refs.refs[j]
        for w in range(nwin):
            part = slice(w * hop, w * hop + window)
            if not np.any(refs.refs[j, part]) or not np.any(est[part]) or (
                    silent_others and any(not np.any(x[part]) for x in list(refs.refs) + list(estimates))):
                continue
            st = s[part]
            if e_spat is None:
                out["sdr"][j, w] = _db(np.sum(st ** 2), np.sum(e_artif[part] ** 2))
                continue
            sp, it, ar = e_spat[part], e_interf[part], e_artif[part]
            out["sdr"][j, w] = _db(np.sum(st ** 2), np.sum((sp + it + ar) ** 2))
            out["isr"][j, w] = _db(np.sum(st ** 2), np.sum(sp ** 2))
            out["sir"][j, w] = _db(np.sum((st + sp) ** 2), np.sum(it ** 2))
            out["sar"][j, w] = _db(np.sum((st + sp + it) ** 2), np.sum(ar ** 2))
    return out


def median_sdr(refs_array, estimates, sr, with_projection=False):
    """The campaigns' figure for one song: per source, the median over 1 s windows."""
    refs = refs_array if isinstance(refs_array, References) else _SdrOnly(refs_array)
    scores = evaluate(refs, estimates, window=int(sr), with_projection=with_projection, silent_others=False)
    return np.nanmedian(scores["sdr"], axis=1)


class _SdrOnly:
    """References without the Gram matrix, for SDR alone."""
    def __init__(self, references):
        self.refs = np.asarray(references, dtype=np.float64)
        self.nsrc, self.n, self.nchan = self.refs.shape

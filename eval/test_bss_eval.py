"""Our BSS Eval v4 port against mir_eval's bss_eval_images where both must agree (one
window over the whole signal), and its windowing on a case with a known answer."""

import sys
import unittest
import warnings

import numpy as np
from scipy.signal import lfilter

import bss_eval

with warnings.catch_warnings():
    warnings.simplefilter("ignore")
    import mir_eval.separation


def _case(seed, n=6000, nsrc=3):
    rng = np.random.default_rng(seed)
    refs = np.stack([lfilter([1.0], [1.0, -0.5 * k / nsrc], rng.standard_normal((n, 2)), axis=0) for k in range(nsrc)])
    # estimates: each reference filtered and leaking into the others, plus noise
    est = np.zeros_like(refs)
    for j in range(nsrc):
        est[j] = lfilter([1.0, 0.3, -0.2], [1.0], refs[j], axis=0)
        for k in range(nsrc):
            if k != j:
                est[j] += 0.2 * refs[k][:, ::-1]
        est[j] += 0.05 * rng.standard_normal((n, 2))
    return refs, est


class AgreesWithMirEval(unittest.TestCase):
    def test_whole_signal_criteria_match_bss_eval_images(self):
        for seed, nsrc, n in ((1, 2, 6000), (2, 3, 9000)):  # well over the filters' 512 taps per channel and source
            refs, est = _case(seed, n=n, nsrc=nsrc)
            sdr, isr, sir, sar, _ = mir_eval.separation.bss_eval_images(refs, est, compute_permutation=False)
            # mir_eval sums over the filters' tail too: one window of samples + taps - 1
            ours = bss_eval.evaluate(bss_eval.References(refs), est, window=refs.shape[1] + bss_eval.FILTER_LENGTH - 1)
            for name, theirs in (("sdr", sdr), ("isr", isr), ("sir", sir), ("sar", sar)):
                np.testing.assert_allclose(ours[name][:, 0], theirs, atol=0.01, err_msg=f"{name}, {nsrc} sources")

    def test_windows_report_each_seconds_own_error_and_skip_silence(self):
        sr = 1000
        rng = np.random.default_rng(3)
        refs = rng.standard_normal((2, 4 * sr, 2))
        refs[1, 2 * sr:3 * sr] = 0  # a silent reference window is left out
        est = refs.copy()
        for w, snr in enumerate((0.0, 10.0, 20.0, 30.0)):
            part = slice(w * sr, (w + 1) * sr)
            est[:, part] += 10 ** (-snr / 20) * rng.standard_normal((2, sr, 2))
        scores = bss_eval.evaluate(bss_eval.References(refs, flen=16), est, window=sr)
        self.assertTrue(np.isnan(scores["sdr"][0, 2]) and np.isnan(scores["sdr"][1, 2]))
        np.testing.assert_allclose(scores["sdr"][0, [0, 1, 3]], [0.0, 10.0, 30.0], atol=0.6)
        # SDR alone (no filters), counting each source's own silence only: the same SDRs
        own = bss_eval.evaluate(bss_eval.References(refs, flen=16), est, window=sr, silent_others=False)
        self.assertFalse(np.isnan(own["sdr"][0, 2]))
        np.testing.assert_allclose(bss_eval.median_sdr(refs, est, sr), np.nanmedian(own["sdr"], axis=1), atol=1e-9)


if __name__ == "__main__":
    sys.exit(unittest.main())

"""The separation quality benchmark: generates the songs (once), runs every module on
them, scores the outputs with BSS Eval v4 (median SDR over 1 s windows, then the
median over songs) and prints the table beside the mixture, the HPSS floor and the
ideal ratio mask computed in the same run.

    run.py --bench PATH [--cli PATH] [--split heldout|dev] [--root DIR] [--jobs N] [--only ROWS]

With --cli (kalder-cli), the guided vocals are also run with the melody that the
melody editor's tracker finds as the guide, instead of the true one: tracked on the
automatic vocals when that row ran (separate, track the child, guide the master, as a
user would), else on the mix. Each tracked melody is scored against the true one (raw
pitch accuracy within a quarter tone, voicing recall and false alarms, over the
guide's 256-sample steps).

The held-out half is the one to report; parameters are chosen on the dev half only.
"""

import argparse
import json
import os
import subprocess
import sys
import time
from multiprocessing import Pool

import numpy as np
from scipy.io import wavfile

import bss_eval
import references
import songs

# row label, module, parameters, target stem(s), output file, four-stem output
ROWS = [
    ("vocals, automatic", "vocals", ["mode=Automatic"], ("lead",), "vocals", None),
    ("vocals, guided", "vocals", ["mode=Guided"], ("lead",), "vocals", None),
    ("vocals, guided by tracking", "vocals", ["mode=Guided"], ("lead",), "vocals", None),
    ("all vocals", "all-vocals", [], ("lead", "backing"), "vocals", "vocals"),
    ("drums", "drums", [], ("drums",), "drums", "drums"),
    ("bass", "bass", [], ("bass",), "bass", "bass"),
    ("other", "other", [], ("other",), "other", "other"),
]
STEMS = ("drums", "bass", "other", "lead", "backing")


def read(path):
    sr, x = wavfile.read(path)
    if x.dtype.kind == "i":
        x = x.astype(np.float64) / float(-np.iinfo(x.dtype).min)
    elif x.dtype.kind == "u":  # 8-bit WAV is unsigned, centred on 128
        x = (x.astype(np.float64) - 128.0) / 128.0
    else:
        x = x.astype(np.float64)
    return sr, (x[:, None] if x.ndim == 1 else x)


def separate(bench, module, folder, out, params, guide=None):
    os.makedirs(out, exist_ok=True)
    cmd = [bench, "separate", module, os.path.join(folder, "mix.wav"), out] + params
    if guide:
        cmd += ["--guide", guide]
    started = time.time()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    return time.time() - started


def sdr(target, estimate, mix, sr):
    """Median SDR over 1 s windows of the target, with the rest of the mix as the
    second source (its estimate: the mix minus the target's estimate)."""
    refs = np.stack([target, mix - target])
    ests = np.stack([estimate, mix - estimate])
    return float(bss_eval.median_sdr(refs, ests, sr)[0])


def read_guide(path):
    with open(path) as f:
        lines = [l.strip() for l in f if l.strip()]
    return int(lines[0]), np.array([float(v) for v in lines[1:]])


def melody_scores(true_path, tracked_path):
    """Raw pitch accuracy (within 50 cents) of the voiced steps, voicing recall and false
    alarms of the tracked guide against the true one."""
    _, truth = read_guide(true_path)
    _, tracked = read_guide(tracked_path)
    n = min(len(truth), len(tracked))
    truth, tracked = truth[:n], tracked[:n]
    voiced, said = truth > 0, tracked > 0
    right = voiced & said & (np.abs(tracked - truth) <= 0.5)
    return {
        "pitch accuracy": float(right.sum() / max(1, voiced.sum())),
        "voicing recall": float((voiced & said).sum() / max(1, voiced.sum())),
        "false alarms": float((~voiced & said).sum() / max(1, (~voiced).sum())),
    }


def score_song(args):
    folder, bench, out_root, only, cli = args
    name = os.path.basename(folder)
    info = json.load(open(os.path.join(folder, "song.json")))
    sr, mix = read(os.path.join(folder, "mix.wav"))
    out = os.path.join(out_root, name)
    result = {"song": name, "info": info, "scores": {}, "seconds": {}}
    if name.startswith("pan-"):
        parts = [read(os.path.join(folder, f"part{k}.wav"))[1] for k in range(len(info["positions"]))]
        count = len(parts)
        result["seconds"]["pan"] = separate(bench, "pan", folder, os.path.join(out, "pan"), [f"nSources={count}", "equalSpacing=Off"])
        nearest = references.nearest_position(mix, info["positions"], sr)
        for k, part in enumerate(parts):
            _, est = read(os.path.join(out, "pan", f"source-{k + 1}.wav"))
            result["scores"][f"part {k + 1}"] = {
                "mixture": sdr(part, mix, mix, sr),
                "nearest position": sdr(part, nearest[k], mix, sr),
                "module": sdr(part, est, mix, sr),
                "ideal mask": sdr(part, references.ideal_mask(part, mix, sr), mix, sr),
            }
        return result

    stems = {s: read(os.path.join(folder, s + ".wav"))[1] for s in STEMS}
    floor = references.hpss_floor(mix, sr)
    four = os.path.join(out, "four-stems")
    if only is None or any(r[5] for r in ROWS if r[0] in only):
        result["seconds"]["four stems"] = separate(bench, "four-stems", folder, four, [])
    for label, module, params, target_stems, output, four_output in ROWS:
        if only is not None and label not in only:
            continue
        if label == "all vocals" and not info["backing"]:
            continue  # "All Vocals" is judged on songs with backing voices
        if label == "vocals, guided by tracking" and not cli:
            continue
        target = sum(stems[s] for s in target_stems)
        case = os.path.join(out, label.replace(", ", "-").replace(" ", "-"))
        guide = os.path.join(folder, "guide.txt") if "Guided" in " ".join(params) else None
        if label == "vocals, guided by tracking":
            # As a user would: separate the vocals automatically, track the melody on
            # that child (or on the mix without one), and guide the separation with it.
            os.makedirs(case, exist_ok=True)
            truth = os.path.join(folder, "guide.txt")
            step = str(read_guide(truth)[0])
            result["melody"] = {}
            sources = [("mix", os.path.join(folder, "mix.wav"))]
            automatic = os.path.join(out, "vocals-automatic", "vocals.wav")
            if os.path.exists(automatic):
                sources.append(("automatic vocals", automatic))
            for name, source in sources:
                guide = os.path.join(case, f"tracked-{name.replace(' ', '-')}.txt")
                subprocess.run([cli, "melody", source, guide[:-4] + ".melody", "--steps", guide, "--step", step],
                               check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                result["melody"][name] = melody_scores(truth, guide)
        result["seconds"][label] = separate(bench, module, folder, case, params, guide)
        _, est = read(os.path.join(case, output + ".wav"))
        floor_key = "vocals" if target_stems[0] in ("lead", "backing") else target_stems[0]
        scores = {
            "mixture": sdr(target, mix, mix, sr),
            "HPSS floor": sdr(target, floor[floor_key], mix, sr),
            "module": sdr(target, est, mix, sr),
            "ideal mask": sdr(target, references.ideal_mask(target, mix, sr), mix, sr),
        }
        if four_output:
            scores["four-stem"] = sdr(target, read(os.path.join(four, four_output + ".wav"))[1], mix, sr)
        result["scores"][label] = scores
    return result


def table(results):
    lines = []
    columns = ["mixture", "HPSS floor", "module", "four-stem", "ideal mask"]
    lines.append("| stem | songs | " + " | ".join(columns) + " | half way | met |")
    lines.append("|---" * (len(columns) + 4) + "|")
    for label, *_ in ROWS:
        per = [r["scores"][label] for r in results if label in r["scores"]]
        if not per:
            continue
        med = {c: float(np.median([p[c] for p in per])) for c in columns if c in per[0]}
        goal = (med["HPSS floor"] + med["ideal mask"]) / 2
        if label.startswith("vocals, guided"):
            goal = med["ideal mask"] - 3.0
        cells = [f"{med[c]:.1f}" if c in med else "" for c in columns]
        lines.append(f"| {label} | {len(per)} | " + " | ".join(cells) + f" | {goal:.1f} | {'yes' if med['module'] >= goal else 'no'} |")
    pan = [s for r in results if r["song"].startswith("pan-") for s in r["scores"].values()]
    if pan:
        med = {c: float(np.median([p[c] for p in pan])) for c in ("mixture", "nearest position", "module", "ideal mask")}
        goal = (med["nearest position"] + med["ideal mask"]) / 2
        lines.append("")
        lines.append("| pan parts | parts | mixture | nearest position | module | ideal mask | half way | met |")
        lines.append("|---|---|---|---|---|---|---|---|")
        lines.append(f"| all | {len(pan)} | {med['mixture']:.1f} | {med['nearest position']:.1f} | {med['module']:.1f} | "
                     f"{med['ideal mask']:.1f} | {goal:.1f} | {'yes' if med['module'] >= goal else 'no'} |")
    return "\n".join(lines)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument("--bench", required=True, help="kalder_separation_bench")
    parser.add_argument("--cli", default=None, help="kalder-cli, for the guide the tracker finds")
    parser.add_argument("--split", default="heldout", choices=["heldout", "dev"])
    parser.add_argument("--root", default=os.path.join(here, "..", "build", "eval"))
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--only", default=None, help="row labels separated by semicolons, or 'pan'")
    parser.add_argument("--songs", type=int, default=0, help="limit the number of songs (development only)")
    args = parser.parse_args()

    root = os.path.abspath(args.root)
    print(f"generating the {args.split} songs under {root}/songs (once) ...", file=sys.stderr, flush=True)
    folders = songs.generate(os.path.join(root, "songs"), args.split)
    only = None if args.only is None else set(x.strip() for x in args.only.split(";"))
    if only is not None:
        folders = [f for f in folders if (os.path.basename(f).startswith("pan-")) == ("pan" in only)]
    if args.songs:
        folders = folders[: args.songs]
    out_root = os.path.join(root, "out", args.split)
    cli = os.path.abspath(args.cli) if args.cli else None
    jobs = [(f, os.path.abspath(args.bench), out_root, only, cli) for f in folders]
    results = []
    with Pool(args.jobs) as pool:
        for r in pool.imap_unordered(score_song, jobs):
            print(f"  {r['song']}: " + ", ".join(f"{k} {v['module']:.1f}" for k, v in r["scores"].items()), file=sys.stderr, flush=True)
            results.append(r)
    results.sort(key=lambda r: r["song"])
    with open(os.path.join(root, f"results-{args.split}.json"), "w") as f:
        json.dump(results, f, indent=1)
    print(f"\nSeparation quality, {args.split} half: median SDR in dB (BSS Eval v4, 1 s windows; median over songs)\n")
    print(table(results))
    for label in ("vocals, guided", "vocals, guided by tracking"):
        gains = [r["scores"][label]["module"] - r["scores"]["vocals, automatic"]["module"]
                 for r in results if label in r["scores"] and "vocals, automatic" in r["scores"]]
        if gains:
            print(f"\n{label} over automatic: median gain {np.median(gains):+.1f} dB over {len(gains)} songs "
                  f"(better on {sum(g > 0 for g in gains)})")
    for source in ("mix", "automatic vocals"):
        tracked = [r["melody"][source] for r in results if source in r.get("melody", {})]
        if tracked:
            print(f"\nThe melody tracked on the {source} against the true one (median over songs): "
                  + ", ".join(f"{k} {100 * float(np.median([t[k] for t in tracked])):.0f} %" for k in tracked[0]))


if __name__ == "__main__":
    main()

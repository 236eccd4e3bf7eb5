#!/usr/bin/python3
"""Kills saves of a 3-track edited project at random moments and checks that the project
on disk always opens and sounds as one of the two projects saved over each other.

    kill_during_save.py --cli build/src/tracks/kalder-cli [--trials 200] [--work DIR]

Two edits (A: erase a low band, B: a high band; each then frozen into two new tracks,
so the project holds three) are saved
in turn into one project with `kalder-cli edit ... --save`; each save is killed with
SIGKILL after a random delay (some finish). After every trial `kalder-cli bounce` of the
project must succeed and give, byte for byte, the bounce of A or of B.
"""

import argparse
import hashlib
import os
import random
import shutil
import signal
import subprocess
import sys
import time

import numpy as np
from scipy.io import wavfile

EDITS = {
    "A": ["rect", "0.5", "2.5", "200", "600", "erase", "deselect", "freeze"],
    "B": ["rect", "0.5", "2.5", "2000", "5000", "erase", "deselect", "freeze"],
}


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--trials", type=int, default=200)
    parser.add_argument("--work", default="/tmp/kalder-kill-during-save")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    random.seed(args.seed)
    cli = os.path.abspath(args.cli)
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    song = os.path.join(args.work, "song.wav")
    rng = np.random.default_rng(3)
    t = np.arange(4 * 44100) / 44100
    x = 0.2 * np.sin(2 * np.pi * 440 * t)[:, None] + 0.05 * rng.standard_normal((len(t), 2))
    wavfile.write(song, 44100, x.astype(np.float32))
    project = os.path.join(args.work, "project", "song.orv")
    scratch = os.path.join(args.work, "scratch.wav")

    def run(cmd, **kw):
        return subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, **kw)

    # the bounces of A and B, through saved projects of their own
    expected = {}
    for name, steps in EDITS.items():
        own = os.path.join(args.work, "ref-" + name, "p.orv")
        run([cli, "edit", song, scratch] + steps + ["--save", own], check=True)
        out = os.path.join(args.work, f"ref-{name}.wav")
        run([cli, "bounce", own, out], check=True)
        expected[digest(out)] = name
    run([cli, "edit", song, scratch] + EDITS["A"] + ["--save", project], check=True)

    # how long a whole save takes, so that the kills fall everywhere inside it
    started = time.time()
    run([cli, "edit", song, scratch] + EDITS["B"] + ["--save", project], check=True)
    whole = time.time() - started

    failures, finished, seen = 0, 0, {"A": 0, "B": 0}
    for trial in range(args.trials):
        steps = EDITS["A" if trial % 2 else "B"]
        p = subprocess.Popen([cli, "edit", song, scratch] + steps + ["--save", project],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(random.uniform(0.0, whole * 1.1))
        if p.poll() is None:
            p.send_signal(signal.SIGKILL)
        else:
            finished += 1
        p.wait()
        out = os.path.join(args.work, "check.wav")
        if os.path.exists(out):
            os.remove(out)
        r = run([cli, "bounce", project, out])
        got = expected.get(digest(out)) if r.returncode == 0 and os.path.exists(out) else None
        if got is not None:
            seen[got] += 1
        if got is None:
            failures += 1
            print(f"trial {trial}: the project is neither A nor B ({r.stderr.decode().strip()})", flush=True)
    print(f"{args.trials} kills during a save ({finished} saves finished first, a whole save {whole:.2f} s): "
          f"{args.trials - failures} left a project that opens as A or B (A {seen['A']}, B {seen['B']}), {failures} did not")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

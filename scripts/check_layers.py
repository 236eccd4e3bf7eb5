#!/usr/bin/env python3
"""The folders of src/ include only folders below them.

Prints the include graph of the folders (an arrow for each folder that includes
another, with the number of includes) and fails when an arrow points upward or
sideways, or when a folder is not in the list of layers below. Run by ./kalder test.

    scripts/check_layers.py [--dot]    (--dot: the graph for Graphviz instead)
"""
import collections
import os
import re
import sys

# Bottom first. A folder may include the folders listed before it.
LAYERS = [
    "base",        # progress, durable files: no other folder
    "appcore",     # settings, folders, commands, alerts as data
    "signal",      # the frame store, FFT, data files
    "editing",     # masks and selections, the undo history
    "melody",      # pitch lines and the pitchogram
    "tracks",      # tracks, the mixer, playback, bounce
    "display",     # the spectrogram's images and the focus area
    "project",     # project files: writer and readers
    "separation",  # the separation client
    "service",     # the separation service and its engines
    "ui",          # the window's components
    "app",         # the application: window, commands, sessions
    "cli",         # kalder-cli
]

INCLUDE = re.compile(r'\s*#\s*include\s+"([A-Za-z_]+)/')


def graph(src):
    edges = collections.defaultdict(collections.Counter)
    for root, _, files in os.walk(src):
        folder = os.path.relpath(root, src).split(os.sep)[0]
        for name in files:
            if not name.endswith((".h", ".cpp")):
                continue
            with open(os.path.join(root, name), errors="replace") as f:
                for line in f:
                    m = INCLUDE.match(line)
                    if m and m.group(1) != folder and os.path.isdir(os.path.join(src, m.group(1))):
                        edges[folder][m.group(1)] += 1
    return edges


def main():
    src = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
    edges = graph(src)
    folders = sorted(d for d in os.listdir(src) if os.path.isdir(os.path.join(src, d)))
    if "--dot" in sys.argv:
        print("digraph layers {\n  rankdir=BT;")
        for a in sorted(edges):
            for b, n in sorted(edges[a].items()):
                print(f'  "{a}" -> "{b}" [label={n}];')
        print("}")
        return 0
    problems = [f"{d}: not a layer of scripts/check_layers.py" for d in folders if d not in LAYERS]
    for a in sorted(edges, key=lambda d: LAYERS.index(d) if d in LAYERS else -1):
        arrows = []
        for b, n in sorted(edges[a].items(), key=lambda e: LAYERS.index(e[0]) if e[0] in LAYERS else -1):
            upward = a in LAYERS and b in LAYERS and LAYERS.index(b) > LAYERS.index(a)
            arrows.append(f"{b} ({n})" + ("  <-- UPWARD" if upward else ""))
            if upward:
                problems.append(f"{a} includes {b}, a layer above it")
        print(f"{a:>10} -> " + ", ".join(arrows))
    for p in problems:
        print("check_layers: " + p, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

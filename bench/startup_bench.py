#!/usr/bin/python3
"""Start-up: from the start of the process to the window painted and the
event loop idle, with all sixteen programs installed, offscreen, against an
empty Qt window from the same program (bench/startup_probe.cpp), in turns.
The probe says when it got there, so the end of the process is not counted;
it says when it passed each step on the way too, and a second line tells
where the time of each went (medians of the rounds).

    startup_bench.py PROBE DEMO_ROOT [ROUNDS]
"""
import os
import statistics
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import figures  # noqa: E402


STEPS = ["process start and libraries", "QApplication", "opening the window",
         "to its first paint", "painting"]


def timed(args, cwd, env, steps):
    """Milliseconds from the start of `args` to its window painted and idle;
    appends to `steps` the milliseconds of each step on the way."""
    start = time.monotonic_ns()
    done = subprocess.run(args, cwd=cwd, env=env, check=True, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, text=True)
    marks = [start] + [int(n) for n in done.stdout.split()[:5]]
    # A window painted while it was being opened has no wait before its paint.
    marks[4] = max(marks[4], marks[3])
    steps.append([(b - a) / 1e6 for a, b in zip(marks, marks[1:])])
    return (marks[-1] - start) / 1e6


def where(steps):
    return ", ".join(f"{name} {statistics.median(s[i] for s in steps):.1f}"
                     for i, name in enumerate(STEPS))


def main():
    probe, root = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 41
    # Qt's offscreen screen, 800x800, would have the window drawn smaller.
    screen = os.path.join(root, "screen.json")
    with open(screen, "w") as f:
        f.write('{"screens": [{"width": 1920, "height": 1080}]}')
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen:configfile=" + screen,
               WINEPREFIX=os.path.join(root, "prefix"))
    cwd = os.path.join(root, "drive_d")
    figure = figures.Figure("start-up to the painted, idle window, 16 programs installed, "
                            "offscreen", "ms", "empty Qt window (draws no text)", "lower",
                            "< 2.0")
    ours, empty = [], []
    figures.in_turns(figure, rounds, lambda: timed([probe], cwd, env, ours),
                     lambda: timed([probe, "--empty"], cwd, env, empty))
    print(figure.line(), flush=True)
    # The first two are the warm-up runs.
    print(f"  where it goes, ms: ours: {where(ours[1:])}; empty window: {where(empty[1:])}",
          flush=True)


if __name__ == "__main__":
    main()

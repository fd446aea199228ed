#!/usr/bin/python3
"""Start-up: from process start to the window shown and idle, with all
sixteen programs installed, offscreen, against an empty Qt window built the
same way. Interleaved runs, median of each.

    startup_bench.py PROBE DEMO_ROOT [RUNS]
"""
import os
import statistics
import subprocess
import sys
import time


def timed(args, cwd, env):
    start = time.perf_counter()
    subprocess.run(args, cwd=cwd, env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return (time.perf_counter() - start) * 1000


def main():
    probe, root = sys.argv[1], sys.argv[2]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 21
    # Qt's offscreen screen, 800x800, would have the window drawn smaller.
    screen = os.path.join(root, "screen.json")
    with open(screen, "w") as f:
        f.write('{"screens": [{"width": 1920, "height": 1080}]}')
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen:configfile=" + screen,
               WINEPREFIX=os.path.join(root, "prefix"))
    cwd = os.path.join(root, "drive_d")
    ours, empty = [], []
    timed([probe], cwd, env)  # warm the caches once
    timed([probe, "--empty"], cwd, env)
    for _ in range(runs):
        ours.append(timed([probe], cwd, env))
        empty.append(timed([probe, "--empty"], cwd, env))
    a, b = statistics.median(ours), statistics.median(empty)
    print(f"start-up to idle window, 16 programs installed: {a:.1f} ms vs empty Qt window "
          f"{b:.1f} ms ratio {a / b:.2f} (target < 1.3)")


if __name__ == "__main__":
    main()

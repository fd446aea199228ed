#!/usr/bin/python3
"""Status log: what appending a line costs when the log holds 100,000 lines
against when it holds 1,000. Two windows, each in a process of its own
(bench/log_bench.cpp), so that neither shares Qt's event queue or heap with
the other; their batches are taken in turns. Each log is filled so that the
rounds leave it as far above its size as they started below it.

    log_bench.py LOG_BENCH [LARGE] [ROUNDS] [BATCH]
"""
import os
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import figures  # noqa: E402


class Window:
    def __init__(self, program):
        env = dict(os.environ)
        env.setdefault("QT_QPA_PLATFORM", "offscreen")
        self.process = subprocess.Popen([program], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True, env=env)

    def send(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()

    def answer(self):
        line = self.process.stdout.readline()
        if not line:
            sys.exit("log_bench: a window ended early")
        return line.strip()

    def append(self, lines):
        self.send(f"append {lines}")
        return float(self.answer())

    def close(self):
        self.process.stdin.close()
        self.process.wait(timeout=60)


def main():
    program = sys.argv[1]
    large = int(sys.argv[2]) if len(sys.argv) > 2 else 100000
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 41
    batch = int(sys.argv[4]) if len(sys.argv) > 4 else 25
    small = 1000
    big_log, small_log = Window(program), Window(program)
    try:
        # Both fill at once; the warm-up batch and the rounds add
        # (rounds + 1) * batch lines to each.
        half = (rounds + 1) * batch // 2
        big_log.send(f"fill {large - half}")
        small_log.send(f"fill {small - half}")
        for window in (big_log, small_log):
            if window.answer() != "ready":
                sys.exit("log_bench: a window did not fill")
        figure = figures.Figure(f"status log append at {large:,} lines vs at {small:,} lines",
                                "us/line", f"at {small:,} lines", "lower", "< 1.3")
        figures.in_turns(figure, rounds, lambda: big_log.append(batch),
                         lambda: small_log.append(batch))
        print(figure.line(), flush=True)
    finally:
        big_log.close()
        small_log.close()


if __name__ == "__main__":
    main()

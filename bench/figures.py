#!/usr/bin/python3
"""How every figure of bench/run is taken and printed.

A figure compares ours with a reference measured in the same run, in turns
(ours, reference, ours, reference ...), so that whatever else the machine
does at that moment weighs on both alike. Each round gives one ratio; the
figure is the median of those ratios, printed with its spread (the range in
which the median of many more rounds would lie, with 95 % confidence), the
number of rounds, and the load average of the machine when the figure
started and ended, e.g.

    start-up ...: 21.3 ms vs empty Qt window 19.0 ms ratio 1.12
        (1.09-1.15 over 41 rounds) target < 1.2 [load 0.21-0.40]

A figure whose spread reaches over its target is marked: it could have
fallen on either side by chance.

The Python benchmarks use Figure and in_turns directly. The C++ ones print
their rounds as lines that this module, run as a filter, turns into the same
report (bench/rounds.h writes them):

    @figure<TAB>title<TAB>unit<TAB>reference<TAB>kind<TAB>target
    @round<TAB>ours<TAB>reference
    @end

kind is "lower" (the ratio ours/reference should be low: times), "higher"
(it should be high: throughputs) or "difference" (ours - reference, in the
unit: memory). target is "< 1.3", ">= 0.95", or "-" for none. Any other line
passes through unchanged.
"""
import math
import statistics
import sys


def load_average():
    """The machine's load average over the last minute."""
    try:
        with open("/proc/loadavg") as f:
            return float(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        return float("nan")


def median_interval(values):
    """Where the true median of what `values` were drawn from lies, with 95 %
    confidence: two of the sorted values, chosen by the binomial law, so
    that nothing is assumed of how the values spread. With six values or
    fewer it is their whole range, which is surer still."""
    ordered = sorted(values)
    n = len(ordered)
    # The interval from the j-th smallest to the j-th largest value misses
    # the median with probability 2 P(X < j), X ~ B(n, 1/2): take the largest
    # j for which that is at most 5 %.
    j, below = 0, 0.0
    while below + math.comb(n, j) / 2**n <= 0.025:
        below += math.comb(n, j) / 2**n
        j += 1
    if j == 0:
        return ordered[0], ordered[-1]
    return ordered[j - 1], ordered[n - j]


class Figure:
    """One figure: title, how ours and the reference are shown, and the
    target the median must meet."""

    def __init__(self, title, unit, reference, kind="lower", target=None, digits=None):
        if kind not in ("lower", "higher", "difference"):
            raise ValueError("kind must be lower, higher or difference")
        self.title = title
        self.unit = unit
        self.reference = reference
        self.kind = kind
        self.target = target  # e.g. "< 1.3", ">= 0.95", None
        self.digits = digits
        self.ours = []
        self.references = []
        self.load_start = load_average()

    def add(self, ours, reference):
        self.ours.append(ours)
        self.references.append(reference)

    def _compared(self, ours, reference):
        if self.kind == "difference":
            return ours - reference
        return ours / reference if reference else float("inf")

    def _value(self, v):
        digits = self.digits
        if digits is None:
            digits = 0 if abs(v) >= 100 else 1 if abs(v) >= 10 else 2
        return f"{v:.{digits}f}"

    def _meets(self, value):
        if not self.target:
            return True
        op, bound = self.target.split()
        bound = float(bound)
        return {"<": value < bound, "<=": value <= bound, ">": value > bound,
                ">=": value >= bound}[op]

    def line(self):
        """The report line; "MISSED" when the median misses the target, and
        a warning when the target lies inside the spread."""
        if not self.ours:
            return f"{self.title}: NOT MEASURED"
        per_round = [self._compared(a, b) for a, b in zip(self.ours, self.references)]
        middle = statistics.median(per_round)
        low, high = median_interval(per_round)
        a, b = statistics.median(self.ours), statistics.median(self.references)
        if self.kind == "difference":
            compared = f"difference {middle:+.2f} {self.unit} ({low:+.2f} to {high:+.2f}"
        else:
            compared = f"ratio {middle:.2f} ({low:.2f}-{high:.2f}"
        text = (f"{self.title}: {self._value(a)} {self.unit} vs {self.reference} "
                f"{self._value(b)} {self.unit} {compared} over {len(per_round)} rounds)")
        if self.target:
            text += f" target {self.target}"
            if not self._meets(middle):
                text += " MISSED"
            elif not (self._meets(low) and self._meets(high)):
                text += " (NOT STEADY: the target lies inside the spread)"
        return text + f" [load {self.load_start:.2f}-{load_average():.2f}]"


def in_turns(figure, rounds, ours, reference, warm_up=True):
    """Runs ours() and reference() in turns for `rounds` rounds (after one
    unrecorded run of each when `warm_up`), each returning its value, and
    adds them to `figure`. Returns the figure."""
    if warm_up:
        ours()
        reference()
    for _ in range(rounds):
        a = ours()
        b = reference()
        figure.add(a, b)
    return figure


def filter_rounds(lines, out):
    """Reports the figures written in the @figure/@round/@end lines of
    `lines`; every other line is copied to `out`."""
    figure = None
    for raw in lines:
        line = raw.rstrip("\n")
        fields = line.split("\t")
        if fields[0] == "@figure" and len(fields) == 6:
            title, unit, reference, kind, target = fields[1:]
            figure = Figure(title, unit, reference, kind, None if target == "-" else target)
        elif fields[0] == "@round" and len(fields) == 3 and figure is not None:
            figure.add(float(fields[1]), float(fields[2]))
        elif fields[0] == "@end" and figure is not None:
            print(figure.line(), file=out, flush=True)
            figure = None
        else:
            print(line, file=out, flush=True)
    if figure is not None:  # the program ended inside a figure
        print(figure.line() + " (INCOMPLETE)", file=out, flush=True)


if __name__ == "__main__":
    filter_rounds(sys.stdin, sys.stdout)

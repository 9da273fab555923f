#!/usr/bin/env python3
"""Scan the DDS frequency of a running panel (veloxa2-gui --control).

Sets the frequency box to each value from START to STOP (both in MHz) in steps
of STEP, waits PAUSE seconds at each and prints what the panel settled on; the
panel sends the frequency to the unit as it does when the box is typed in.

    examples/frequency_scan.py 10 12 0.5 --pause 1
"""

import argparse
import sys
import time

from veloxa2_panel import Panel, PanelError


def frequencies(start, stop, step):
    """START, START +- STEP, ... up to STOP (included when on the way)."""
    count = int(abs(stop - start) / step + 1e-9) + 1
    direction = 1 if stop >= start else -1
    return [start + direction * step * i for i in range(count)]


def as_text(mhz):
    """A frequency as the box shows it: "10", "10.5", "-0.25"."""
    return f"{mhz:.6f}".rstrip("0").rstrip(".")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("start", type=float, help="first frequency, MHz")
    parser.add_argument("stop", type=float, help="last frequency, MHz")
    parser.add_argument("step", type=float, help="step between frequencies, MHz (> 0)")
    parser.add_argument("--pause", type=float, default=0.5, help="seconds at each frequency (default 0.5)")
    parser.add_argument("--endpoint", help="the panel's control socket (default: $XDG_RUNTIME_DIR/veloxa2-gui/control)")
    args = parser.parse_args()
    if args.step <= 0:
        parser.error("the step must be greater than 0")

    try:
        with Panel(args.endpoint) as panel:
            for mhz in frequencies(args.start, args.stop, args.step):
                asked = as_text(mhz)
                settled = panel.set("txtFreq", asked)
                note = "" if settled == asked else "  (the panel's rule changed it)"
                print(f"{asked} MHz -> {settled}{note}", flush=True)
                time.sleep(args.pause)
    except OSError as error:  # no panel there, or it went away
        sys.exit(f"frequency_scan: {error}; is the panel running with --control?")
    except PanelError as error:
        sys.exit(f"frequency_scan: the panel refused: {error}")


if __name__ == "__main__":
    main()

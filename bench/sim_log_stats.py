#!/usr/bin/env python3
"""Reads a tarnlink-sim frame log and prints one line of shell assignments:
bytes (frame bytes in and out), frames, wire_s (bytes x 10 bits / baud), span_s (first to
last stamp), and the host's turnaround: the time from an `out` stamp (just before the answer's
first byte is sent) to the next `in` stamp (the request's last byte taken in), in µs, as
turn_n, turn_med_us, turn_p99_us, turn_max_us."""
import statistics
import sys


def main() -> None:
    path = sys.argv[1]
    baud = int(sys.argv[2]) if len(sys.argv) > 2 else 115200
    lines = [line.split() for line in open(path, encoding="ascii") if line.strip()]
    nbytes = sum(len(fields) - 2 for fields in lines)
    turns = [
        int(b[0]) - int(a[0])
        for a, b in zip(lines, lines[1:])
        if a[1] == "out" and b[1] == "in"
    ]
    turns.sort()
    span = (int(lines[-1][0]) - int(lines[0][0])) / 1e6 if lines else 0.0

    def pct(p: float) -> float:
        return turns[min(len(turns) - 1, int(round(p * (len(turns) - 1))))] if turns else 0.0

    print(
        f"bytes={nbytes} frames={len(lines)} wire_s={nbytes * 10 / baud:.6f} span_s={span:.6f} "
        f"turn_n={len(turns)} turn_med_us={statistics.median(turns) if turns else 0:.1f} "
        f"turn_p99_us={pct(0.99):.1f} turn_max_us={turns[-1] if turns else 0:.1f}"
    )


if __name__ == "__main__":
    main()

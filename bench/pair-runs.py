#!/usr/bin/env python3
"""Times whole processes in pairs: COMMAND (A) and, with --vs, a peer command (B), run in turn
(A B A B ...) after one warm-up run each, so a machine whose speed drifts moves both alike.
Prints each figure's minimum, median and maximum (quote the median): wall seconds, user and
system CPU seconds and peak resident memory (MiB) of each command, and the A/B ratios taken pair
by pair. Output of the commands is thrown away. The peak memory cannot read below this
launcher's own (about 15 MiB: the child is forked from it before it runs the command).

usage: pair-runs.py [-n RUNS] [--pin CPUS] [--timeout SECONDS] [--vs 'COMMAND_B'] -- COMMAND [ARG...]
"""
import argparse
import os
import shlex
import statistics
import subprocess
import sys
import time


def run_once(argv, pin, timeout):
    if pin:
        argv = ["taskset", "-c", pin] + argv
    start = time.monotonic()
    proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, start_new_session=True)
    deadline = start + timeout
    while True:
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid:
            break
        if time.monotonic() > deadline:
            os.killpg(proc.pid, 9)
            pid, status, usage = os.wait4(proc.pid, 0)
            break
        time.sleep(0.002)
    wall = time.monotonic() - start
    try:
        os.killpg(proc.pid, 9)  # whatever it left running in its group
    except ProcessLookupError:
        pass
    return {"wall s": wall, "user s": usage.ru_utime, "sys s": usage.ru_stime,
            "cpu s": usage.ru_utime + usage.ru_stime, "peak MiB": usage.ru_maxrss / 1024.0,
            "exit": os.waitstatus_to_exitcode(status)}


def row(name, values):
    print(f"{name:<12} {min(values):>10.3f} {statistics.median(values):>11.3f} {max(values):>11.3f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("-n", type=int, default=5)
    parser.add_argument("--pin", default="")
    parser.add_argument("--timeout", type=float, default=600)
    parser.add_argument("--vs", default="")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no COMMAND")
    commands = {"A": command}
    if args.vs:
        commands["B"] = shlex.split(args.vs)
    for name, argv in commands.items():
        print(f"{name} = {shlex.join(argv)}")
        run_once(argv, args.pin, args.timeout)  # warm-up
    runs = {name: [] for name in commands}
    for _ in range(args.n):
        for name, argv in commands.items():
            runs[name].append(run_once(argv, args.pin, args.timeout))
    print(f"{'':<12} {'min':>10} {'median':>11} {'max':>11}   ({args.n} runs each)")
    for name, results in runs.items():
        exits = sorted({r['exit'] for r in results})
        print(f"{name} exit codes: {exits}")
        for key in ("wall s", "user s", "sys s", "cpu s", "peak MiB"):
            row(f"{name} {key}", [r[key] for r in results])
    if "B" in runs:
        for key in ("wall s", "cpu s"):
            ratios = [a[key] / b[key] for a, b in zip(runs["A"], runs["B"]) if b[key] > 0]
            if ratios:
                row(f"A/B {key.split()[0]}", ratios)
    return 0


if __name__ == "__main__":
    sys.exit(main())

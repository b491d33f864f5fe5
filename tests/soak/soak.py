#!/usr/bin/env python3
"""The randomized fault campaign: runs the updater against the virtual device
many times, each run with its own image, previous device state, answers, port,
decoys and fault, and judges every outcome. See scripts/soak."""

import argparse
import collections
import concurrent.futures
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)

import oracle  # noqa: E402
import run  # noqa: E402
import scenario as scenarios  # noqa: E402

# A loaded machine can make a fault-free run miss the updater's reply time
# of some 150 ms; an operator would try again too.
RECOVERY_ATTEMPTS = 5
# A fault-free run of a 512 KiB image with the realistic timing takes about
# 25 s, under the sanitizers too.
HANG_LIMIT = 180.0


class Result:
    def __init__(self, index, scenario, verdict, obs, recovery, seconds):
        self.index = index
        self.scenario = scenario
        self.verdict = verdict
        self.obs = obs
        self.recovery = recovery      # problems of the last attempt; [] recovered; None not tried
        self.seconds = seconds

    @property
    def unrecoverable(self):
        return bool(self.recovery)

    @property
    def bad(self):
        return self.verdict.category != "ok" or self.unrecoverable

    @property
    def fault_free_failure(self):
        return (self.scenario.fault_kinds == ["none"] and not self.bad
                and self.verdict.outcome not in (None, "programmed", "cancelled"))


def needs_recovery(scenario, verdict):
    # A device seen in the programmed state has shown that it can be programmed.
    return not scenario.recovery_excluded and not (verdict.category == "ok" and verdict.outcome == "programmed")


def recover(folder, tools, image):
    problems = None
    for attempt in range(1, RECOVERY_ATTEMPTS + 1):
        problems = oracle.recovered(run.run_recovery(folder, attempt, tools), image)
        if not problems:
            return []
    return problems


def try_scenario(index, s, tools, folder, keep=False):
    """Runs, judges and, where needed, recovers; the folder goes unless kept."""
    started = time.monotonic()
    obs, image = run.run_scenario(s, tools, folder)
    verdict = oracle.judge(s, obs, image)
    recovery = recover(folder, tools, image) if needs_recovery(s, verdict) else None
    result = Result(index, s, verdict, obs, recovery, time.monotonic() - started)
    if not (keep and result.bad):
        shutil.rmtree(folder, ignore_errors=True)
    return result


def run_one(index, args, tools, work):
    s = scenarios.draw(f"{args.seed}/{index}", args.max_image)
    try:
        return try_scenario(index, s, tools, os.path.join(work, f"run{index}"), args.keep)
    except Exception:
        # A fault of the campaign itself: told like any bad run, not lost
        # with the rest of the campaign.
        verdict = oracle.Verdict()
        verdict.flag("crash", "harness: " + traceback.format_exc())
        return Result(index, s, verdict, run.Observation(), None, 0.0)


# -- reporting ----------------------------------------------------------------

COLUMNS = ("runs", "programmed", "cancelled", "failed", "no box", "wrong", "hang", "crash", "unrecov.")


def table_row(results):
    counts = collections.Counter()
    for r in results:
        counts["runs"] += 1
        outcome = r.verdict.outcome
        counts["programmed" if outcome == "programmed" else "cancelled" if outcome == "cancelled"
               else "no box" if outcome is None else "failed"] += 1
        if r.verdict.category != "ok":
            counts[r.verdict.category] += 1
        counts["unrecov."] += r.unrecoverable
    return [counts[c] for c in COLUMNS]


def summary(results):
    by_kind = collections.defaultdict(list)
    for r in results:
        for kind in r.scenario.fault_kinds:
            by_kind[kind].append(r)
    lines = ["fault kind".ljust(26) + "".join(c.rjust(11) for c in COLUMNS)]
    for kind in sorted(by_kind, key=lambda k: (k != "none", k)):
        lines.append(row(kind, by_kind[kind]))
    lines.append(row("sanitizer build", [r for r in results if r.scenario.sanitize]))
    lines.append(row("all", results))
    lines.append("A run with two fault switches counts in both of their rows.")
    secured = sum(r.obs.after is not None and r.obs.after.security and not r.obs.before.security
                  for r in results)
    if secured:
        lines.append(f"{secured} runs set the security bit, which only a full chip erase clears.")
    return "\n".join(lines)


def row(title, results):
    return title.ljust(26) + "".join(str(n).rjust(11) for n in table_row(results))


def final_line(results):
    counts = collections.Counter(r.verdict.category for r in results)
    unrecoverable = sum(r.unrecoverable for r in results)
    return (f"{len(results)} runs: {counts['wrong']} wrong outcomes, {counts['hang']} hangs, "
            f"{counts['crash']} crashes, {unrecoverable} unrecoverable")


def tail(text, lines=30):
    return "\n".join(text.rstrip("\n").split("\n")[-lines:])


def indent(text):
    return "\n".join("    " + line for line in text.split("\n"))


def replay_command(args, index):
    options = [f"--seed {args.seed}", f"--replay {index}", "--keep"]
    if args.max_image is not None:
        options.append(f"--max-image {args.max_image}")
    return "scripts/soak " + " ".join(options)


def describe_run(r, args):
    s, v, obs = r.scenario, r.verdict, r.obs
    parts = [f"== run {r.index} (seed {s.seed}): {v.category}"
             f"{', unrecoverable' if r.unrecoverable else ''}; outcome {v.outcome or 'no box'}; "
             f"{r.seconds:.1f} s",
             f"replay: {replay_command(args, r.index)}"]
    parts += [f"  - {reason}" for reason in v.reasons]
    if r.recovery:
        parts.append(f"  - recovery failed {RECOVERY_ATTEMPTS} times; last: " + "; ".join(r.recovery))
    parts += ["scenario:", indent(json.dumps(s.describe(), indent=1, default=str))]
    if obs.after is not None:
        parts += [f"device before: {obs.before.bits()}", f"device after: {obs.after.bits()}"]
    parts += ["console (tail):", indent(tail(obs.console))]
    for title, text in (("updater standard error", obs.errors), ("virtual device log", obs.sim_log),
                        ("device status", obs.status_text), ("fault proxy log", obs.proxy_log)):
        if text.strip():
            parts += [f"{title}:", indent(tail(text, 60))]
    if obs.proxy_report:
        parts.append(f"fault proxy report: {json.dumps(obs.proxy_report)}")
    return "\n".join(parts) + "\n\n"


def write_log(args, results, elapsed):
    bad = [r for r in results if r.bad]
    notes = [r for r in results if r.fault_free_failure]
    with open(args.log, "w") as log:
        log.write(f"scripts/soak --seed {args.seed}: {len(results)} runs in {elapsed:.0f} s\n")
        log.write(final_line(results) + "\n\n")
        log.write(summary(results) + "\n\n")
        for r in bad:
            log.write(describe_run(r, args))
        if notes:
            log.write("Fault-free runs that ended in a failure box (allowed, but worth a look):\n\n")
            for r in notes:
                log.write(describe_run(r, args))


# -- the campaign ---------------------------------------------------------------

def campaign(args, tools):
    indexes = [args.replay] if args.replay is not None else range(args.runs)
    work = tempfile.mkdtemp(prefix="zelmiran-soak.")
    started = time.monotonic()
    results = []
    lock = threading.Lock()
    step = max(1, len(indexes) // 10)

    def one(index):
        result = run_one(index, args, tools, work)
        with lock:
            results.append(result)
            done = len(results)
            if not args.quiet and (done % step == 0 or done == len(indexes)):
                bad = sum(r.bad for r in results)
                print(f"  {done}/{len(indexes)} runs, {bad} bad, {time.monotonic() - started:.0f} s", flush=True)
        return result

    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        list(pool.map(one, indexes))
    results.sort(key=lambda r: r.index)
    elapsed = time.monotonic() - started
    write_log(args, results, elapsed)
    print(summary(results))
    print(f"log: {args.log}" + (f"; folders of bad runs kept in {work}" if args.keep else ""))
    print(final_line(results))
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if any(r.bad for r in results) else 0


def whole_number(least):
    def parse(text):
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"takes a whole number, not {text!r}")
        if value < least:
            raise argparse.ArgumentTypeError(f"must be {least} or more, not {text}")
        return value
    return parse


positive, not_negative = whole_number(1), whole_number(0)


def seed_text(text):
    # It names the log file and goes into replay commands.
    if not text or not all(c.isalnum() or c in "-_." for c in text):
        raise argparse.ArgumentTypeError(f"takes letters, digits, '-', '_' and '.', not {text!r}")
    return text


def parse_arguments(argv):
    parser = argparse.ArgumentParser(prog="scripts/soak", description=__doc__)
    parser.add_argument("--runs", type=positive, default=1000, help="number of runs (default 1000)")
    parser.add_argument("--seed", type=seed_text, help="campaign seed (default: drawn and printed)")
    parser.add_argument("--jobs", type=positive, default=2, help="runs at the same time (default 2)")
    parser.add_argument("--replay", type=not_negative, metavar="INDEX", help="only the run with this index")
    parser.add_argument("--keep", action="store_true", help="keep the folders of bad runs")
    parser.add_argument("--max-image", type=not_negative, metavar="BYTES", help="largest image to draw")
    parser.add_argument("--log", help="log of the bad runs (default build/soak-SEED.log)")
    parser.add_argument("--self-test", action="store_true",
                        help="check that the campaign reports fakes of a bad updater, then stop")
    parser.add_argument("--quiet", action="store_true", help="no progress lines")
    args = parser.parse_args(argv)
    if args.seed is None:
        args.seed = str(int.from_bytes(os.urandom(4), "big"))
    if args.log is None:
        args.log = os.path.join(ROOT, "build", f"soak-{args.seed}.log")
    return args


def build():
    """The native and the sanitizer build, brought up to date."""
    for kind in ("native", "sanitize"):
        done = subprocess.run([os.path.join(ROOT, "scripts", "build"), kind], stdout=subprocess.DEVNULL)
        if done.returncode != 0:
            raise SystemExit(f"soak: scripts/build {kind} failed")
    native, sanitize = (os.path.join(ROOT, "build", kind) for kind in ("native", "sanitize"))
    return run.Tools(
        updater=[os.path.join(native, "zelmiran-update")],
        recovery_updater=[os.path.join(native, "zelmiran-update")],
        updater_sanitize=[os.path.join(sanitize, "zelmiran-update")],
        sim=os.path.join(native, "sim", "zelmiran-sim"),
        sim_sanitize=os.path.join(sanitize, "sim", "zelmiran-sim"),
        proxy=[sys.executable, os.path.join(HERE, "fault_proxy.py")],
        hang_limit=HANG_LIMIT)


def main(argv):
    args = parse_arguments(argv)
    tools = build()
    if args.self_test:
        import self_test
        return self_test.main(tools)
    try:
        open(args.log, "w").close()
    except OSError as error:
        raise SystemExit(f"soak: cannot write the log: {error}")
    print(f"Soak: {args.runs if args.replay is None else 1} runs, seed {args.seed}, {args.jobs} at a time")
    return campaign(args, tools)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

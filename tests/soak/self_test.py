"""The campaign's own test: each fake of a bad updater, and a device that can
no longer reach the programmed state, must be reported as such; a byte the
fault proxy is told to spoil must be the one the updater finds spoilt."""

import dataclasses
import os
import shutil
import sys
import tempfile

import soak
from scenario import Fault, Scenario

FAKES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fakes.py")
HANG_LIMIT = 5.0


def plain_scenario(name, **changes):
    """A fault-free run that programs a 3000-byte image into an erased device."""
    s = Scenario(seed=f"self-test/{name}", image_size=3000, image_fill="random", image_name="fw.bin",
                 answers=["y"], port=3, decoys={}, sanitize=False, timing="zero", previous_flash="erased",
                 previous_file_length=0, previous_locks=0, previous_gpnvm=0, previous_security=False,
                 sim_faults=[], proxy=None)
    return dataclasses.replace(s, **changes)


def cases(tools):
    fake = [sys.executable, FAKES]
    real = tools.updater[0]
    return [
        # what, the updater, the scenario, the category, words of the reasons or the console
        ("the real updater", tools.updater, plain_scenario("real"), "ok", ""),
        ("a fake that shows the success box without programming", fake + ["claims-success"],
         plain_scenario("claims-success"), "wrong", "flash not the padded image"),
        ("a flash file tampered with after a good run", fake + ["tampers-flash", real],
         plain_scenario("tampers-flash"), "wrong", "flash not the padded image"),
        ("a fake that never ends", fake + ["never-ends"], plain_scenario("never-ends"), "hang", "did not end"),
        ("a fake that dies of a signal", fake + ["crashes"], plain_scenario("crashes"), "crash", "killed by signal 11"),
        ("a device whose security bit is set", tools.updater,
         plain_scenario("security", answers=["c"], previous_security=True), "unrecoverable", "security bit set"),
        ("the fault proxy spoiling the sixth byte of the first page", tools.updater,
         plain_scenario("proxy", proxy=Fault("proxy", ["--corrupt-after", "to-device:S00202AF4,00000400#:1:5:FF"])),
         "ok", "ADR = 100005 ,"),
    ]


def category_of(result):
    if result.verdict.category == "ok" and result.unrecoverable:
        return "unrecoverable"
    return result.verdict.category


def main(tools):
    work = tempfile.mkdtemp(prefix="zelmiran-soak-self-test.")
    failures = 0
    try:
        for index, (what, updater, s, expected, words) in enumerate(cases(tools)):
            under_test = dataclasses.replace(tools, updater=updater, updater_sanitize=updater,
                                             hang_limit=HANG_LIMIT)
            result = soak.try_scenario(index, s, under_test, os.path.join(work, f"case{index}"))
            reasons = "; ".join(result.verdict.reasons + (result.recovery or []))
            reported = category_of(result)
            good = reported == expected and (words in reasons or words in result.obs.console)
            failures += not good
            print(f"  {'ok  ' if good else 'FAIL'} {what}: reported {reported}" + (f" ({reasons})" if reasons else ""))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"Self-test: {failures} of {len(cases(tools))} cases not reported as they should be")
    return 1 if failures else 0

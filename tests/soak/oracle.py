"""Decides what a run showed and whether that was allowed: the boxes on the
console against the answers given, and the device's state against the box.

Categories: "ok"; "wrong" (an outcome that does not fit the answers, or a
device that is not in the state its box promises); "hang" (the updater did
not end in time); "crash" (a non-zero exit, a signal, a sanitizer report, or
a virtual device or proxy that failed)."""

import dataclasses

from scenario import ALL_LOCKS, BANK_SIZE, BOOT_BIT, MAX_PAGES, MUST_BREAK, PAGE

SANITIZER_MARKS = ("AddressSanitizer", "LeakSanitizer", "UndefinedBehaviorSanitizer", "runtime error:")

# The final boxes each path of answers may end with; None is no box.
OUTCOMES = {
    "y": {"programmed", "error 11"},
    "c": {None},
    "n-n": {None},
    "n-y": {"cancelled", "error 7"},
}
# Before the question, the device check may fail.
CHECK_FAILURES = {"error 4", "error 5"}


@dataclasses.dataclass
class Verdict:
    category: str = "ok"
    outcome: object = None   # the final box, None for none
    reasons: list = dataclasses.field(default_factory=list)

    def flag(self, category, reason):
        # A crash or hang outranks a wrong outcome: it is what ended the run.
        rank = {"ok": 0, "wrong": 1, "hang": 2, "crash": 3}
        if rank[category] > rank[self.category]:
            self.category = category
        self.reasons.append(reason)


def boxes(console):
    """The message boxes on the console, in order, by name."""
    lines = console.split("\n")
    found = []
    for i in range(len(lines) - 3):
        head, caption, rule, text = lines[i:i + 4]
        if not (head.startswith("+-") and rule.startswith("+-") and caption.startswith("| ")
                and caption.rstrip().endswith("] |") and text.startswith("| ")):
            continue
        found.append(box_name(caption[2:].rsplit("[", 1)[0].strip(), text))
    return found


def final_boxes(shown):
    """The boxes that tell an outcome. A read after an applet start that
    could not be sent shows "error 4" right before the run's "error 11":
    that one is part of the failure, not an outcome of its own."""
    finals = [b for b in shown if not b.startswith("ask ")]
    return [b for i, b in enumerate(finals)
            if not (b == "error 4" and finals[i + 1:i + 2] == ["error 11"])]


def box_name(caption, text):
    if caption.startswith("Error "):
        return "error " + caption[len("Error "):]
    if caption == "ZELMIRAN" and "Запись новой программы в прибор выполнена" in text:
        return "programmed"
    if caption == "ZELMIRAN" and "Режим программирования отменен" in text:
        return "cancelled"
    if caption == "Attention" and "Запустить программирование ?" in text:
        return "ask start"
    if caption == "Attention" and "Отменить режим программирования в приборе ?" in text:
        return "ask cancel"
    return f"unknown box {caption!r}"


def programmed_flash(image, before):
    """The flash after a programming run: the image's pages, zero-padded; the
    rest of bank 0 erased; the rest of bank 1 as it was (the erase-all command
    erases bank 0, and each page write erases its own pages)."""
    pages = min(MAX_PAGES, len(image) // PAGE + 1)
    written = image[:pages * PAGE].ljust(pages * PAGE, b"\0")
    flash = bytearray(before)
    flash[:BANK_SIZE] = b"\xff" * BANK_SIZE
    flash[:len(written)] = written
    return bytes(flash)


def first_difference(a, b):
    at = next(i for i in range(len(a)) if a[i] != b[i])
    return f"flash byte {0x100000 + at:X} is {b[at]:02X}, not {a[at]:02X}"


def programmed_problems(image, before, after):
    problems = []
    expected = programmed_flash(image, before.flash)
    if after.flash != expected:
        problems.append("flash not the padded image: " + first_difference(expected, after.flash))
    if after.locks != ALL_LOCKS:
        problems.append(f"lock bits {after.locks:08X}, not all set")
    if not after.gpnvm & BOOT_BIT:
        problems.append("GPNVM2 clear")
    if after.security:
        problems.append("security bit set")
    return problems


def unchanged_problems(before, after, gpnvm_judged=True, security_judged=True):
    problems = []
    if after.flash != before.flash:
        problems.append("flash changed: " + first_difference(before.flash, after.flash))
    if after.locks != before.locks:
        problems.append(f"lock bits {before.locks:08X} became {after.locks:08X}")
    if gpnvm_judged and after.gpnvm != before.gpnvm:
        problems.append(f"GPNVM {before.gpnvm:03b} became {after.gpnvm:03b}")
    if security_judged and after.security != before.security:
        problems.append("security bit changed")
    return problems


def state_problems(outcome, image, before, after):
    """What is wrong with the device's state for the box shown."""
    if outcome == "programmed":
        return programmed_problems(image, before, after)
    # The cancel sets a GPNVM bit; which others it leaves is not promised.
    if outcome == "cancelled":
        problems = unchanged_problems(before, after, gpnvm_judged=False)
        return problems + ([] if after.gpnvm & BOOT_BIT else ["GPNVM2 clear after the cancel box"])
    if outcome == "error 7":  # a failed cancel: the bits are recovery's to judge
        return unchanged_problems(before, after, gpnvm_judged=False, security_judged=False)
    if outcome == "error 11":
        return []  # a run stopped half-way: recovery is the test
    return unchanged_problems(before, after)


def must_break(scenario, status):
    """Why the run may not end in success, if it may not."""
    reasons = []
    if any(f.kind == "sim chip-id" for f in scenario.sim_faults):
        reasons.append("a wrong controller")
    fired = set((status or {}).get("faults_fired", [])) & MUST_BREAK
    reasons += sorted(f"--{name} acted" for name in fired)
    if status and status.get("hang"):
        reasons.append("the device hung")
    return reasons


def check_process(verdict, obs):
    if obs.harness_error:
        verdict.flag("crash", "harness: " + obs.harness_error)
    if obs.timed_out:
        verdict.flag("hang", f"the updater did not end within {obs.seconds:.0f} s")
    elif obs.exit_code is not None and obs.exit_code < 0:
        verdict.flag("crash", f"the updater was killed by signal {-obs.exit_code}")
    elif obs.exit_code != 0:
        verdict.flag("crash", f"the updater ended with {obs.exit_code}")
    for text, who in ((obs.errors, "updater"), (obs.sim_log, "virtual device")):
        if any(mark in text for mark in SANITIZER_MARKS):
            verdict.flag("crash", f"sanitizer report from the {who}")
    if obs.sim_exit != 0:
        verdict.flag("crash", f"the virtual device ended with {obs.sim_exit}")
    if obs.status is None and not obs.harness_error:
        verdict.flag("crash", "no status report from the virtual device")


def judge(scenario, obs, image):
    verdict = Verdict()
    check_process(verdict, obs)
    if scenario.proxy and obs.proxy_exit != 0:
        verdict.flag("crash", f"the fault proxy ended with {obs.proxy_exit}")
    if verdict.category != "ok" and obs.harness_error:
        return verdict
    shown = boxes(obs.console)
    finals = final_boxes(shown)
    verdict.outcome = finals[-1] if finals else None
    questions = [b for b in shown if b.startswith("ask ")]
    path = scenario.path
    if len(finals) > 1:
        verdict.flag("wrong", f"{len(finals)} final boxes: {', '.join(map(str, finals))}")
    # An empty image is refused before the port search.
    if scenario.image_size == 0:
        if questions or verdict.outcome != "error 3":
            verdict.flag("wrong", f"an empty image ended in {verdict.outcome or 'no box'}, not error 3")
    elif not questions:
        if obs.timed_out:
            pass
        elif verdict.outcome not in CHECK_FAILURES:
            verdict.flag("wrong", f"no question, and the outcome is {verdict.outcome or 'no box'}")
    else:
        expected_questions = ["ask start", "ask cancel"] if path.startswith("n") else ["ask start"]
        if questions != expected_questions:
            verdict.flag("wrong", f"questions {questions} for answers {scenario.answers}")
        if not obs.timed_out and verdict.outcome not in OUTCOMES[path]:
            verdict.flag("wrong", f"outcome {verdict.outcome or 'no box'} for answers {scenario.answers}")
    if verdict.outcome in ("programmed", "cancelled"):
        for reason in must_break(scenario, obs.status):
            verdict.flag("wrong", f"{verdict.outcome} although {reason}")
    for problem in state_problems(verdict.outcome, image, obs.before, obs.after):
        verdict.flag("wrong", f"after {verdict.outcome or 'no box'}: {problem}")
    if not obs.decoys_intact:
        verdict.flag("wrong", "a decoy port was changed")
    return verdict


def recovered(obs, image):
    """Problems of a recovery run; empty when the device reached the
    programmed state."""
    verdict = Verdict()
    check_process(verdict, obs)
    problems = list(verdict.reasons)
    finals = final_boxes(boxes(obs.console))
    if finals != ["programmed"]:
        problems.append(f"final boxes {finals}")
    return problems + programmed_problems(image, obs.before, obs.after)

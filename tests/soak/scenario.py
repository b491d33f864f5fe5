"""What one run of the campaign tries: the image, the device's state before
the run, the operator's answers, the port, the decoys and the fault. Drawn
from a seed alone, so that a run can be replayed from its seed."""

import dataclasses
import os
import random

KIB = 1024
FLASH_SIZE = 512 * KIB
BANK_SIZE = 256 * KIB
PAGE = 1024
MAX_PAGES = 512
REGIONS = 32
ALL_LOCKS = 0xFFFFFFFF
BOOT_BIT = 1 << 2  # GPNVM2: boot from flash

# Mailbox command codes of the flash applet, and the frames that carry them.
INIT, ERASE_ALL, WRITE, READ, LOCK, UNLOCK, GPNVM, SECURITY = range(8)
MAILBOX_SEND = "S00202004,00000080#"
# The applet's upload; its first command is the mailbox's in the image, 4
# bytes into it, after the length's 8 digits and '#'.
APPLET_UPLOAD = "S00202000,"
MAILBOX_COMMAND_IN_UPLOAD = 8 + 1 + 4
APPLET_BYTES = os.path.getsize(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                            "applet", "applet.bin"))

DECOY_KINDS = ("file", "dangling link", "folder", "fifo")

# Sim switches whose acting must end the run without a success or cancel box.
MUST_BREAK = {"greeting", "bad-prompt", "silent-after", "fsr-never-ready", "corrupt", "stuck-lock",
              "fail-command", "ignore-lock", "ignore-gpnvm", "skip-run"}


@dataclasses.dataclass
class Fault:
    kind: str        # the row of the summary table
    options: list    # for the virtual device, or for the fault proxy
    note: str = ""   # what it aims at, for the log


@dataclasses.dataclass
class Scenario:
    seed: str
    image_size: int
    image_fill: str          # random, zeros or erased (all 0xFF)
    image_name: str
    answers: list            # lines typed; end of input after them
    port: int
    decoys: dict             # port number -> kind
    sanitize: bool
    timing: str              # zero or realistic
    previous_flash: str      # erased, random, old image, this image
    previous_file_length: int  # bytes the flash file holds; the rest reads erased
    previous_locks: int
    previous_gpnvm: int
    previous_security: bool
    sim_faults: list         # Fault
    proxy: object            # Fault or None

    @property
    def pages(self):
        return min(MAX_PAGES, self.image_size // PAGE + 1)

    @property
    def path(self):
        return choice_of(self.answers)

    @property
    def fault_kinds(self):
        kinds = [f.kind for f in self.sim_faults]
        if self.proxy:
            kinds.append(self.proxy.kind)
        return kinds or ["none"]

    @property
    def recovery_excluded(self):
        # A lock bit that cannot be cleared is broken hardware; an empty
        # image is never programmed.
        return self.image_size == 0 or any(f.kind == "sim stuck-lock" for f in self.sim_faults)

    def describe(self):
        return dataclasses.asdict(self)


def parse_answer(line, with_cancel):
    word = line.strip().lower()
    if word in ("y", "yes"):
        return "y"
    if word in ("n", "no"):
        return "n"
    if with_cancel and word in ("c", "cancel"):
        return "c"
    return None


def choice_of(answers):
    """The path the answers take: y, c, n-y or n-n. End of input is Cancel at
    the first question and No at the second."""
    lines = iter(answers)
    first = next(filter(None, (parse_answer(line, True) for line in lines)), "c")
    if first != "n":
        return first
    return "n-" + next(filter(None, (parse_answer(line, False) for line in lines)), "n")


# -- fault-free traffic, for fire points across the whole run ---------------

@dataclasses.dataclass
class Traffic:
    frames: int = 0          # every frame the monitor answers, the greeting included
    write_replies: int = 0   # W, H, O, S
    starts: int = 0          # G
    data_blocks: int = 0     # S
    to_device: int = 0       # bytes
    to_host: int = 0
    prompts: int = 0         # '>' ending a reply

    def add(self, sent, answer, write=False, start=False, times=1, data=False):
        self.frames += times
        self.data_blocks += times if data else 0
        self.write_replies += times if write else 0
        self.starts += times if start else 0
        self.to_device += sent * times
        self.to_host += answer * times
        self.prompts += 0 if start else times


def traffic(pages, path):
    t = Traffic()
    t.add(3, 3)            # greeting
    t.add(12, 15)          # chip identification
    if path == "n-y":
        t.add(19, 3, write=True, times=5)  # two modes, protection unit, mode, boot bit command
        t.add(12, 15, times=2)             # ready polls
    if path != "y":
        return t

    def exchange(times):
        t.add(19 + 128, 3, write=True, times=times, data=True)
        t.add(10, 2, start=True, times=times)
        t.add(19, 131, times=times)

    t.add(19, 3, write=True, times=2)
    t.add(19 + APPLET_BYTES, 3, write=True, data=True)
    t.add(10, 2, start=True)
    t.add(19, 131)
    exchange(REGIONS + 1)                  # unlocks, erase
    t.add(19 + PAGE, 3, write=True, times=pages, data=True)
    exchange(pages)                        # page writes
    t.add(19, 2 + PAGE + 1, times=pages)   # verify
    exchange(REGIONS + 1)                  # locks, boot bit
    t.add(12, 15, times=2)                 # end state
    return t


def mailbox_commands(pages):
    """The command of each mailbox sent, in order (the first is number 1)."""
    return [UNLOCK] * REGIONS + [ERASE_ALL] + [WRITE] * pages + [LOCK] * REGIONS + [GPNVM]


# -- drawing ------------------------------------------------------------------

def log_uniform(rng, low, high):
    return low * (high / low) ** rng.random()


def draw_image_size(rng, max_image):
    sizes = [0, 1, 1023, 1024, 1025, 2048, 3000]
    roll = rng.random()
    if roll < 0.35:
        size = rng.choice(sizes)
    elif roll < 0.93:
        size = rng.randint(1, 64 * KIB)
    elif roll < 0.97:
        size = FLASH_SIZE
    else:
        size = FLASH_SIZE + rng.randint(1, 64 * KIB)
    return min(size, max_image)


def draw_answers(rng):
    yes = rng.choice(["y", "Y", "yes", "YES"])
    no = rng.choice(["n", "N", "no", "No"])
    answers = rng.choice([
        [yes], [yes], [yes], [no, yes], [no, no], [no],
        [rng.choice(["c", "C", "cancel"])], [],
    ])
    if rng.random() < 0.15:
        answers = [rng.choice(["", "maybe", "yy", "ok", "q"])] + answers
    return answers


def draw_previous_state(rng, size):
    kind = rng.choice(["erased", "random", "old image", "this image"])
    length = {"erased": 0, "random": FLASH_SIZE, "old image": rng.randint(1, FLASH_SIZE),
              "this image": min(size, FLASH_SIZE)}[kind]
    if rng.random() < 0.2:
        length = rng.randint(0, length)  # a short flash file
    locks = rng.choice([0, 0, ALL_LOCKS, rng.getrandbits(32)])
    gpnvm = rng.choice([0, BOOT_BIT, rng.getrandbits(3)])
    return kind, length, locks, gpnvm


def fire_point(rng, total):
    # Across the whole run, now and then just past its end.
    return rng.randint(1, max(1, total + total // 20 + 1))


def region_list(rng):
    return ",".join(str(r) for r in sorted(rng.sample(range(REGIONS), rng.choice([1, 1, 2]))))


def wrong_chip_id(rng):
    while True:
        value = rng.choice([0x272A0940, 0x270B0940, 0x272A0740, rng.getrandbits(32)])
        if value & 0x0FFF0F00 != 0x072A0A00:
            return value


def draw_sim_fault(rng, kind, scenario, t):
    pages = scenario.pages
    if kind == "greeting":
        return [f"--greeting", rng.choice(["silent", "short", "wrong"])]
    if kind == "chip-id":
        return ["--chip-id", f"{wrong_chip_id(rng):08X}"]
    if kind == "bad-prompt":
        return ["--bad-prompt", str(fire_point(rng, t.write_replies))]
    if kind == "silent-after":
        return ["--silent-after", str(fire_point(rng, t.frames) - 1)]
    if kind == "close-after":
        return ["--close-after", str(fire_point(rng, t.frames))]
    if kind == "trickle":
        return ["--trickle", f"{log_uniform(rng, 0.01, 3):.3f}"]
    if kind == "fsr-never-ready":
        return ["--fsr-never-ready"]
    if kind == "corrupt":
        return ["--corrupt", f"{0x100000 + rng.randrange(min(FLASH_SIZE, pages * PAGE + 4096)):X}"]
    if kind == "stuck-lock":
        return ["--stuck-lock", region_list(rng)]
    if kind == "fail-command":
        code, count = rng.choice([(0x01, 8 * pages), (0x04, REGIONS), (0x02, REGIONS), (0x08, 1), (0x0B, 1)])
        return ["--fail-command", f"{code:02X}:{fire_point(rng, count)}"]
    if kind == "ignore-lock":
        return ["--ignore-lock", region_list(rng)]
    if kind == "ignore-gpnvm":
        return ["--ignore-gpnvm"]
    if kind == "flip-byte":
        offset = rng.randrange(128) if rng.random() < 0.7 else rng.randrange(PAGE)
        return ["--flip-byte", f"{fire_point(rng, t.data_blocks)}:{offset}:{rng.randrange(1, 256):02X}"]
    if kind == "skip-run":
        return ["--skip-run", str(fire_point(rng, t.starts))]
    if kind == "budget":
        return ["--budget", str(int(log_uniform(rng, 50, 100000)))]
    if kind == "slow flash":
        option, low, high = rng.choice([("--wp-ms", 2, 60), ("--ea-ms", 10, 400), ("--lock-ms", 1, 300),
                                        ("--gpnvm-ms", 1, 300)])
        return [option, f"{log_uniform(rng, low, high):.1f}"]
    if kind == "latency":
        low, high = (2, 12) if pages <= 16 else (120, 300)
        return ["--latency-ms", f"{log_uniform(rng, low, high):.1f}"]
    raise ValueError(kind)


# Faults that stretch every reply or flash command are kept to small images,
# so that one run stays within seconds.
SIM_KINDS = ["greeting", "chip-id", "bad-prompt", "silent-after", "close-after", "trickle",
             "fsr-never-ready", "corrupt", "stuck-lock", "fail-command", "ignore-lock",
             "ignore-gpnvm", "skip-run", "budget", "slow flash", "latency", "flip-byte"]
SLOW_KINDS = {"trickle", "slow flash"}


def draw_proxy_fault(rng, scenario, t):
    kind = rng.choice(["drop", "corrupt", "delay", "corrupt byte", "corrupt mailbox", "corrupt mailbox",
                       "hang up after bytes", "hang up after prompt"])
    if kind == "corrupt mailbox" and scenario.path != "y":
        kind = "corrupt byte"  # no command goes to the applet
    way = rng.choice(["to-device", "to-host", "both"])
    total = {"to-device": t.to_device, "to-host": t.to_host, "both": t.to_device + t.to_host}[way]
    # Rates that fire a few times to a few dozen times in a run.
    rate = min(1.0, log_uniform(rng, 0.3, 30) / max(1, total))
    if kind == "drop":
        return Fault("proxy drop", ["--drop", f"{way}:{rate:.3g}"])
    if kind == "corrupt":
        return Fault("proxy corrupt", ["--corrupt", f"{way}:{rate:.3g}"])
    if kind == "delay":
        ms = log_uniform(rng, 2, 400)
        return Fault("proxy delay", ["--delay", f"{way}:{min(1.0, rate / 3):.3g}:{ms:.1f}"])
    if kind == "corrupt byte":
        way = rng.choice(["to-device", "to-host"])
        total = t.to_device if way == "to-device" else t.to_host
        return Fault("proxy corrupt byte", ["--corrupt-byte", f"{way}:{fire_point(rng, total)}:{rng.randrange(1, 256):02X}"])
    if kind == "corrupt mailbox":
        return corrupt_mailbox(rng, scenario)
    if kind == "hang up after bytes":
        way = rng.choice(["to-device", "to-host"])
        total = t.to_device if way == "to-device" else t.to_host
        return Fault("proxy hang-up", ["--hang-up-after", f"{way}:{fire_point(rng, total) - 1}"])
    return Fault("proxy hang-up at prompt", ["--hang-up-after-prompt", str(fire_point(rng, t.prompts))])


def corrupt_mailbox(rng, scenario):
    """One byte of a mailbox on its way to the applet: the command word (the
    stored INIT of the applet image, or a mailbox's) half of the time, else
    any byte of the command, the status or the arguments. A spoilt command is
    another command's half of the time, SECURITY included: the applet must
    refuse it without its key."""
    commands = mailbox_commands(scenario.pages)
    if rng.random() < 0.1:
        pattern, occurrence, offset, command = APPLET_UPLOAD, 1, MAILBOX_COMMAND_IN_UPLOAD, INIT
    else:
        occurrence = rng.randint(1, len(commands))
        pattern, offset, command = MAILBOX_SEND, 0, commands[occurrence - 1]
    if rng.random() < 0.5:
        offset += rng.randrange(1, 20)
        mask = rng.randrange(1, 256)
        note = f"mailbox byte {offset} of command {command}"
    else:
        targets = [c for c in range(256) if c != command]
        if rng.random() < 0.5:
            targets = [c for c in targets if c < 8]
        target = rng.choice(targets)
        mask = command ^ target
        note = f"command {command} -> {target}"
    return Fault("proxy corrupt mailbox", ["--corrupt-after", f"to-device:{pattern}:{occurrence}:{offset}:{mask:02X}"],
                 note)


def draw(seed, max_image=None):
    """The scenario of the run with this seed."""
    rng = random.Random(seed)
    size = draw_image_size(rng, FLASH_SIZE + 64 * KIB if max_image is None else max_image)
    port = rng.randint(1, 32)
    decoy_ports = rng.sample(range(1, port), min(port - 1, rng.choice([0, 1, 2, 3])))
    previous, length, locks, gpnvm = draw_previous_state(rng, size)
    s = Scenario(
        seed=seed,
        image_size=size,
        image_fill=rng.choice(["random"] * 8 + ["zeros", "erased"]),
        image_name=rng.choice(["firmware.bin", "fw", "new image.bin", "ZELMIRAN_v2.BIN"]),
        answers=draw_answers(rng),
        port=port,
        decoys={p: rng.choice(DECOY_KINDS) for p in decoy_ports},
        sanitize=rng.random() < 0.25,
        timing="zero",
        previous_flash=previous,
        previous_file_length=length,
        previous_locks=locks,
        previous_gpnvm=gpnvm,
        previous_security=False,
        sim_faults=[],
        proxy=None,
    )
    small = s.pages <= 64
    if rng.random() < (0.3 if small else 0.05):
        s.timing = "realistic"
    t = traffic(s.pages, s.path)
    roll = rng.random()
    if roll < 0.25:
        pass
    elif roll < 0.625:
        kinds = [k for k in SIM_KINDS if small or k not in SLOW_KINDS]
        for kind in rng.sample(kinds, rng.choice([1, 2])):
            s.sim_faults.append(Fault("sim " + kind, draw_sim_fault(rng, kind, s, t)))
    else:
        s.proxy = draw_proxy_fault(rng, s, t)
    return s

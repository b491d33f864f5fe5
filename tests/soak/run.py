"""Carries out one scenario in a folder of its own: the device's previous
state, the decoy ports, the virtual device (behind the fault proxy if the
scenario has one), the updater with the operator's answers, and what is left
afterwards. Judging is the oracle's."""

import dataclasses
import json
import os
import random
import signal
import subprocess
import time

from scenario import BANK_SIZE, FLASH_SIZE

READY_LIMIT = 20.0   # seconds for the device or the proxy to listen
STOP_LIMIT = 10.0    # seconds for either to end after SIGTERM


@dataclasses.dataclass
class Tools:
    updater: list            # the command that runs the updater
    updater_sanitize: list
    recovery_updater: list   # the one that recovers the device: always the real one
    sim: str
    sim_sanitize: str
    proxy: list
    hang_limit: float        # seconds before an updater run counts as hung


@dataclasses.dataclass
class DeviceState:
    flash: bytes
    locks: int
    gpnvm: int
    security: bool

    def bits(self):
        return f"lock bits {self.locks:08X}, GPNVM {self.gpnvm:03b}, security {int(self.security)}"


@dataclasses.dataclass
class Observation:
    console: str = ""
    errors: str = ""             # the updater's standard error
    exit_code: object = None     # None: killed, or never started
    timed_out: bool = False
    seconds: float = 0.0
    status: object = None        # the device's status report
    status_text: str = ""
    sim_exit: object = None      # None: had to be killed
    sim_log: str = ""
    proxy_exit: object = None
    proxy_report: object = None
    proxy_log: str = ""
    before: object = None        # DeviceState
    after: object = None
    decoys_intact: bool = True
    harness_error: str = ""      # the run could not be carried out


def image_of(scenario):
    if scenario.image_fill == "zeros":
        return bytes(scenario.image_size)
    if scenario.image_fill == "erased":
        return b"\xff" * scenario.image_size
    return random.Random(scenario.seed + "/image").randbytes(scenario.image_size)


def previous_flash_of(scenario, image):
    rng = random.Random(scenario.seed + "/flash")
    contents = {
        "erased": b"",
        "random": rng.randbytes(FLASH_SIZE),
        "old image": rng.randbytes(FLASH_SIZE),
        "this image": image[:FLASH_SIZE],
    }[scenario.previous_flash]
    return contents[:scenario.previous_file_length]


def padded(flash):
    return flash + b"\xff" * (FLASH_SIZE - len(flash))


def regions_of(text):
    return sum(1 << int(r) for r in text.split(","))


def write_nvm(path, locks, gpnvm, security):
    with open(path, "w") as out:
        out.write(f"lock_bits 0x{locks:08X}\n")
        out.write(f"gpnvm {gpnvm & 1} {gpnvm >> 1 & 1} {gpnvm >> 2 & 1}\n")
        out.write(f"security {int(security)}\n")


def read_state(flash_path):
    flash = b""
    if os.path.exists(flash_path):
        with open(flash_path, "rb") as f:
            flash = f.read()
    locks, gpnvm, security = 0, 0, False
    if os.path.exists(flash_path + ".nvm"):
        with open(flash_path + ".nvm") as f:
            for line in f:
                key, *values = line.split()
                if key == "lock_bits":
                    locks = int(values[0], 16)
                elif key == "gpnvm":
                    gpnvm = sum(int(v) << i for i, v in enumerate(values))
                elif key == "security":
                    security = values[0] == "1"
    return DeviceState(padded(flash[:FLASH_SIZE]), locks, gpnvm, security)


def read_text(path, limit=None):
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return ""
    if limit is not None:
        data = data[-limit:]
    return data.decode("utf-8", "replace")


def wait_for(path, process, limit):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if os.path.exists(path):
            return True
        if process.poll() is not None:
            return False
        time.sleep(0.01)
    return False


def start(command, log_path, ready_path, what):
    """A helper process that announces itself with a ready file."""
    with open(log_path, "wb") as log:
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=log)
    if not wait_for(ready_path, process, READY_LIMIT):
        stop(process)
        raise HarnessError(f"{what} did not come up: {read_text(log_path, 2000)}")
    return process


def stop(process):
    """SIGTERM and the exit code; None when it had to be killed."""
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
    try:
        return process.wait(STOP_LIMIT)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return None


class HarnessError(Exception):
    pass


def run_updater(command, job, ports, answers, limit, sanitize):
    environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C",
                   "ZELMIRAN_COM_DIR": ports}
    if sanitize:
        environment["ASAN_OPTIONS"] = "abort_on_error=0:detect_leaks=1"
        environment["UBSAN_OPTIONS"] = "print_stacktrace=1"
    text = "".join(line + "\n" for line in answers)
    started = time.monotonic()
    # A group of its own, so that a hung run goes with everything it started.
    process = subprocess.Popen(command, cwd=job, env=environment, stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
    try:
        out, err = process.communicate(text.encode(), timeout=limit)
        timed_out = False
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        out, err = process.communicate()
        timed_out = True
    seconds = time.monotonic() - started
    code = None if timed_out else process.returncode
    return out.decode("utf-8", "replace"), err.decode("utf-8", "replace"), code, timed_out, seconds


def make_decoys(ports, decoys):
    made = {}
    for number, kind in decoys.items():
        path = os.path.join(ports, f"COM{number}")
        if kind == "file":
            with open(path, "wb") as f:
                f.write(b"not a port\n")
        elif kind == "dangling link":
            os.symlink(os.path.join(ports, "gone", f"COM{number}"), path)
        elif kind == "folder":
            os.mkdir(path)
        else:
            os.mkfifo(path)
        made[path] = kind
    return made


def decoys_intact(made):
    for path, kind in made.items():
        if kind == "file" and read_text(path) != "not a port\n":
            return False
        if kind == "dangling link" and (not os.path.islink(path) or os.path.exists(path)):
            return False
        if kind == "folder" and (not os.path.isdir(path) or os.listdir(path)):
            return False
    return True


def prepare(scenario, folder):
    """The job folder, the port folder with its decoys, and the device's
    previous state; the image and the state the device starts in."""
    job, ports, device = (os.path.join(folder, name) for name in ("job", "ports", "device"))
    for path in (job, ports, device):
        os.makedirs(path)
    image = image_of(scenario)
    with open(os.path.join(job, scenario.image_name), "wb") as f:
        f.write(image)
    with open(os.path.join(job, "f_write.txt"), "w") as f:
        f.write(scenario.image_name)
    flash = previous_flash_of(scenario, image)
    flash_path = os.path.join(device, "flash.bin")
    with open(flash_path, "wb") as f:
        f.write(flash)
    write_nvm(flash_path + ".nvm", scenario.previous_locks, scenario.previous_gpnvm, scenario.previous_security)
    # The device adds the regions that are stuck for good at its start.
    locks = scenario.previous_locks
    for fault in scenario.sim_faults:
        if fault.options[0] == "--stuck-lock":
            locks |= regions_of(fault.options[1])
    before = DeviceState(padded(flash), locks, scenario.previous_gpnvm, scenario.previous_security)
    return image, before, make_decoys(ports, scenario.decoys)


def sim_command(binary, link, device, timing, options):
    return [binary, "--link", link, "--ready", os.path.join(device, "ready"),
            "--status", os.path.join(device, "status.json"), "--flash", os.path.join(device, "flash.bin"),
            "--timing", timing] + options


def run_scenario(scenario, tools, folder):
    """Carries the scenario out in `folder`, which must not exist yet."""
    obs = Observation()
    image, obs.before, decoys = prepare(scenario, folder)
    job, ports, device = (os.path.join(folder, name) for name in ("job", "ports", "device"))
    port = os.path.join(ports, f"COM{scenario.port}")
    sim_binary = tools.sim_sanitize if scenario.sanitize else tools.sim
    options = [o for fault in scenario.sim_faults for o in fault.options]
    helpers = []
    try:
        sim_link = os.path.join(device, "port") if scenario.proxy else port
        helpers.append(start(sim_command(sim_binary, sim_link, device, scenario.timing, options),
                             os.path.join(device, "sim.log"), os.path.join(device, "ready"), "the virtual device"))
        if scenario.proxy:
            proxy = os.path.join(folder, "proxy")
            os.makedirs(proxy)
            command = tools.proxy + ["--link", port, "--device", sim_link, "--seed", scenario.seed,
                                     "--ready", os.path.join(proxy, "ready"),
                                     "--report", os.path.join(proxy, "report.json")] + scenario.proxy.options
            helpers.append(start(command, os.path.join(proxy, "log"), os.path.join(proxy, "ready"), "the fault proxy"))
        updater = tools.updater_sanitize if scenario.sanitize else tools.updater
        (obs.console, obs.errors, obs.exit_code, obs.timed_out,
         obs.seconds) = run_updater(updater, job, ports, scenario.answers, tools.hang_limit, scenario.sanitize)
    except HarnessError as error:
        obs.harness_error = str(error)
    finally:
        # The proxy first: the device's status then shows the whole run.
        exits = [stop(process) for process in reversed(helpers)]
        if helpers:
            obs.sim_exit = exits[-1]
        if len(helpers) == 2:
            obs.proxy_exit = exits[0]
    obs.sim_log = read_text(os.path.join(device, "sim.log"), 4000)
    obs.status_text = read_text(os.path.join(device, "status.json"))
    obs.status = parse_json(obs.status_text)
    if scenario.proxy:
        obs.proxy_report = parse_json(read_text(os.path.join(folder, "proxy", "report.json")))
        obs.proxy_log = read_text(os.path.join(folder, "proxy", "log"), 4000)
    obs.after = read_state(os.path.join(device, "flash.bin"))
    obs.decoys_intact = decoys_intact(decoys)
    return obs, image


def run_recovery(folder, attempt, tools):
    """The device restarted without faults on the flash the run left, and
    the updater asked to program the same image."""
    device = os.path.join(folder, "device")
    ports = os.path.join(folder, f"recovery{attempt}")
    os.makedirs(ports)
    obs = Observation(before=read_state(os.path.join(device, "flash.bin")))
    sim = None
    try:
        sim = start(sim_command(tools.sim, os.path.join(ports, "COM1"), device, "zero", []),
                    os.path.join(ports, "sim.log"), os.path.join(device, "ready"), "the virtual device")
        (obs.console, obs.errors, obs.exit_code, obs.timed_out,
         obs.seconds) = run_updater(tools.recovery_updater, os.path.join(folder, "job"), ports, ["y"],
                                      tools.hang_limit, False)
    except HarnessError as error:
        obs.harness_error = str(error)
    finally:
        if sim:
            obs.sim_exit = stop(sim)
    obs.sim_log = read_text(os.path.join(ports, "sim.log"), 4000)
    obs.status_text = read_text(os.path.join(device, "status.json"))
    obs.status = parse_json(obs.status_text)
    obs.after = read_state(os.path.join(device, "flash.bin"))
    return obs


def parse_json(text):
    try:
        return json.loads(text) if text else None
    except ValueError:
        return None

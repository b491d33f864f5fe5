#!/usr/bin/env python3
"""Bad updaters that the campaign must catch, for its self-test:

  fakes.py claims-success        asks the question, then shows the success
                                 box without touching the device
  fakes.py tampers-flash UPDATER runs the real updater, then flips a byte of
                                 the device's flash file (../device/flash.bin)
  fakes.py never-ends            never ends
  fakes.py crashes               dies of SIGSEGV after the banner
"""

import os
import signal
import subprocess
import sys
import time

BANNER = "\n  ***  Обновление встроенного ПО майндмашины 'ЗЕЛМИРАН'  *** ( V1.0 a-test) \n\n"
QUESTION = """
+--------------------------------+
|  Attention           [warning] |
+--------------------------------+
|  Запустить программирование ?  |
+--------------------------------+
| [ Yes ]  [ No ]  [ Cancel ]    |
+--------------------------------+
Answer [y]es, [n]o or [c]ancel: """
SUCCESS = """
+------------------------------------------------+
| ZELMIRAN                         [information] |
+------------------------------------------------+
|    Запись новой программы в прибор выполнена   |
+------------------------------------------------+
| [ OK ]                                         |
+------------------------------------------------+
"""


def claims_success():
    sys.stdout.write(BANNER + QUESTION)
    sys.stdout.write(sys.stdin.readline())
    sys.stdout.write(SUCCESS)


def tampers_flash(updater):
    subprocess.run([updater])
    with open(os.path.join("..", "device", "flash.bin"), "r+b") as flash:
        first = flash.read(1)
        flash.seek(0)
        flash.write(bytes([first[0] ^ 0x01]))


def never_ends():
    signal.signal(signal.SIGTERM, signal.SIG_IGN)
    while True:
        time.sleep(60)


def crashes():
    sys.stdout.write(BANNER)
    sys.stdout.flush()
    os.kill(os.getpid(), signal.SIGSEGV)


def main(argv):
    mode = argv[0] if argv else ""
    if mode == "claims-success":
        claims_success()
    elif mode == "tampers-flash" and len(argv) == 2:
        tampers_flash(argv[1])
    elif mode == "never-ends":
        never_ends()
    elif mode == "crashes":
        crashes()
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])

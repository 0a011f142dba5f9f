"""An interrupted download leaves no temporary file: SIGINT, SIGTERM and
SIGHUP at random moments of a large, slow body, with --force over an older
target and without a target. The process ends promptly, by the signal, with
nothing more printed; the folder holds the older target or the whole new
body, and never a .part- file.

Under Wine, SIGINT reaches a Windows program as Ctrl+C; SIGTERM and SIGHUP
end it without any console event, so only SIGINT is sent there, and Wine's
default handling of Ctrl+C ends the process with exit code 0 instead of
STATUS_CONTROL_C_EXIT.

A signal can also come while the program is already ending, after its
download; the handler must still find its state then (a small download,
signalled at random moments of its whole life)."""

import os
import random
import signal
import subprocess
import time
import unittest

import harness
import server
from server import Reply

BODY_SIZE = 4 << 20
# 64 pieces of 64 KiB, 100 ms apart: about six seconds of transfer, longer
# than the handler waits for the clean-up, so that only ending the blocked
# read makes the program end promptly.
PACE = 0.1
ROUNDS = 12
SIGNALS = ((signal.SIGINT,) if harness.UNDER_WINE else
           (signal.SIGINT, signal.SIGTERM, signal.SIGHUP))
# Wine takes about two seconds to hand Ctrl+C to the program.
PROMPT = 5 if harness.UNDER_WINE else 3


class InterruptionTest(harness.ProgramTestCase):

    @classmethod
    def setUpClass(cls):
        cls.server = server.ScriptedServer()
        cls.server.routes["/slow"] = Reply(body_size=BODY_SIZE, seed=9, pace=PACE)
        cls.server.routes["/small"] = Reply(body_size=1000, seed=4)
        cls.body = server.pattern_bytes(BODY_SIZE, 9)

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def test_interruption_at_any_moment_leaves_no_temporary_file(self):
        seed = random.randrange(1 << 30)
        rng = random.Random(seed)
        target = self.path("ziel.bin")
        for round_number in range(ROUNDS):
            sent = SIGNALS[round_number % len(SIGNALS)]
            force = round_number % 2 == 0
            delay = rng.uniform(0.0, 2.5)
            with self.subTest(seed=seed, round=round_number, signal=sent.name, force=force,
                              delay=round(delay, 3)):
                for name in os.listdir(self.cwd):
                    os.remove(self.path(name))
                older = b"older version %d" % round_number
                if force:
                    with open(target, "wb") as file:
                        file.write(older)
                args = ["--quiet"] + (["--force"] if force else []) + [
                    self.server.url("/slow"), "ziel.bin"]
                process = subprocess.Popen(harness.RUNNER + [harness.PROGRAM] + args,
                                           cwd=self.cwd, env=self.env,
                                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                           stderr=subprocess.PIPE)
                time.sleep(delay)
                process.send_signal(sent)
                signalled = time.monotonic()
                stdout, stderr = process.communicate(timeout=harness.RUN_TIMEOUT)
                self.assertLess(time.monotonic() - signalled, PROMPT, "ends promptly")
                if not harness.UNDER_WINE:
                    self.assertIn(process.returncode, (-sent, 0))
                self.assertEqual((stdout, stderr), (b"", b""))
                self.assertEqual(os.listdir(self.cwd), ["ziel.bin"] if force or
                                 os.path.exists(target) else [])
                if os.path.exists(target):
                    with open(target, "rb") as file:
                        content = file.read()
                    self.assertIn(content, (older, self.body) if force else (self.body,))
                if process.returncode == 0 and not harness.UNDER_WINE:
                    with open(target, "rb") as file:
                        self.assertEqual(file.read(), self.body)

    @unittest.skipIf(harness.UNDER_WINE, "a Wine start takes a second; the race is a native one")
    def test_signal_while_the_program_ends_ends_it_cleanly(self):
        seed = random.randrange(1 << 30)
        rng = random.Random(seed)
        for round_number in range(60):
            sent = SIGNALS[round_number % len(SIGNALS)]
            with self.subTest(seed=seed, round=round_number, signal=sent.name):
                for name in os.listdir(self.cwd):
                    os.remove(self.path(name))
                process = subprocess.Popen(
                    [harness.PROGRAM, "--quiet", self.server.url("/small"), "klein.bin"],
                    cwd=self.cwd, env=self.env, stdin=subprocess.DEVNULL,
                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                time.sleep(rng.uniform(0.0, 0.06))
                process.send_signal(sent)
                stdout, stderr = process.communicate(timeout=harness.RUN_TIMEOUT)
                self.assertEqual((process.returncode, stdout, stderr), (process.returncode, b"", b""))
                self.assertIn(process.returncode, (-sent, 0))
                self.assertIn(os.listdir(self.cwd), ([], ["klein.bin"]))


if __name__ == "__main__":
    unittest.main()

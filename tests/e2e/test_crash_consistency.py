"""No partial target, ever: downloads killed with SIGKILL at random moments
leave the target absent, as it was, or complete with the new body; several
downloads racing onto one target leave exactly one complete body.

Native build only: under Wine a SIGKILL reaches the Wine loader, not the
Windows process, and the rename underneath is Wine's, not the program's."""

import hashlib
import os
import random
import signal
import subprocess
import time
import unittest

import harness
import server
from server import Reply

BODY_SIZE = 32 * 1024 * 1024
ROUNDS = 30
RACERS = 4
RACER_BODY_SIZE = 8 * 1024 * 1024


def file_digest(path):
    with open(path, "rb") as file:
        return hashlib.sha256(file.read()).hexdigest()


@unittest.skipIf(harness.UNDER_WINE,
                 "SIGKILL under Wine ends the Wine loader, not the Windows process")
class CrashConsistencyTest(harness.ProgramTestCase):

    @classmethod
    def setUpClass(cls):
        cls.server = server.ScriptedServer()
        cls.server.routes["/new"] = Reply(body_size=BODY_SIZE, seed=11)
        for number in range(RACERS):
            cls.server.routes["/racer-%d" % number] = Reply(body_size=RACER_BODY_SIZE,
                                                            seed=20 + number)

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def setUp(self):
        super().setUp()
        self.target = self.path("ziel.bin")

    def start(self, *args):
        return subprocess.Popen(harness.RUNNER + [harness.PROGRAM] + list(args), cwd=self.cwd,
                                env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def others(self):
        """Every name in the folder except the target's."""
        return sorted(name for name in os.listdir(self.cwd) if name != "ziel.bin")

    def assert_only_part_files(self):
        for name in self.others():
            self.assertTrue(name.startswith("ziel.bin.part-"),
                            "unexpected file beside the target: %s" % name)

    def test_killed_downloads_leave_the_target_absent_old_or_complete(self):
        old = b"the older version\r\n" * 1000
        old_digest = hashlib.sha256(old).hexdigest()
        new_digest = server.pattern_sha256(BODY_SIZE, 11)
        url = self.server.url("/new")

        # One whole run first: it proves the download works at all and tells
        # how long one takes on this machine (the sanitizer build is slower).
        started = time.monotonic()
        process = self.start("--quiet", url, "ziel.bin")
        self.assertEqual(process.communicate(timeout=harness.RUN_TIMEOUT), (b"", b""))
        self.assertEqual(process.returncode, 0)
        duration = time.monotonic() - started
        self.assertEqual(file_digest(self.target), new_digest)
        self.assertEqual(self.others(), [])

        outcomes = {"absent": 0, "old": 0, "new": 0}
        chooser = random.Random(20261206)
        for round_number in range(ROUNDS):
            over_old = round_number % 2 == 1
            if over_old:
                with open(self.target, "wb") as file:
                    file.write(old)
            elif os.path.exists(self.target):
                os.remove(self.target)
            before = self.others()
            process = self.start("--quiet", *(["--force"] if over_old else []), url, "ziel.bin")
            # From before the first byte until well after the usual end, so
            # that a machine under load still sees runs finish.
            time.sleep(chooser.uniform(0.0, duration * 2.0))
            process.send_signal(signal.SIGKILL)
            stdout, stderr = process.communicate(timeout=harness.RUN_TIMEOUT)
            killed = process.returncode == -signal.SIGKILL
            if not killed:
                self.assertEqual((process.returncode, stdout, stderr), (0, b"", b""))
                self.assertEqual(self.others(), before, "a finished run leaves no temporary file")
            self.assert_only_part_files()
            where = "round %d (%s)" % (round_number, "over an older target" if over_old else
                                      "no target before")
            if not os.path.exists(self.target):
                self.assertFalse(over_old, where + ": the older target vanished")
                self.assertTrue(killed, where + ": a finished run left no target")
                outcomes["absent"] += 1
                continue
            found = file_digest(self.target)
            if found == new_digest:
                outcomes["new"] += 1
                continue
            self.assertTrue(over_old and found == old_digest,
                            "%s: the target is neither absent, old nor new (%d bytes)"
                            % (where, os.path.getsize(self.target)))
            self.assertTrue(killed, where + ": a finished run kept the older target")
            outcomes["old"] += 1
        # The kills must have struck both before and after a commit, or the
        # rounds proved little.
        self.assertGreater(outcomes["absent"] + outcomes["old"], 0, outcomes)
        self.assertGreater(outcomes["new"], 0, outcomes)

    def test_parallel_downloads_onto_one_target_leave_one_complete_body(self):
        digests = {server.pattern_sha256(RACER_BODY_SIZE, 20 + number)
                   for number in range(RACERS)}
        for _ in range(3):
            processes = [self.start("--quiet", "--force", self.server.url("/racer-%d" % number),
                                    "ziel.bin") for number in range(RACERS)]
            for process in processes:
                stdout, stderr = process.communicate(timeout=harness.RUN_TIMEOUT)
                self.assertEqual((process.returncode, stdout, stderr), (0, b"", b""))
            self.assertIn(file_digest(self.target), digests)
            self.assertEqual(self.others(), [], "no temporary file is left behind")


if __name__ == "__main__":
    unittest.main()

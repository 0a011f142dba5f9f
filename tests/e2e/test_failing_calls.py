"""File calls that fail on the machine, made to fail in a native run by
strace's fault injection, with no switch in the program: a flush that fails
and a folder sync that fails after the rename. The download reports the
failure with exit code 5 and leaves no temporary file."""

import os
import shutil
import subprocess
import unittest

import harness
import server
from harness import lines
from server import Reply

STRACE = shutil.which("strace")


@unittest.skipIf(harness.UNDER_WINE, "system-call fault injection is for the native build")
@unittest.skipIf(STRACE is None, "needs strace")
class FailingCallTest(harness.ProgramTestCase):

    @classmethod
    def setUpClass(cls):
        cls.server = server.ScriptedServer()
        cls.server.routes["/data"] = Reply(body_size=5000, seed=8)

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def run_failing(self, *strace_args):
        """A quiet download onto ziel.bin under strace with these arguments."""
        command = [STRACE, "-f", "-o", "/dev/null", *strace_args,
                   harness.PROGRAM, "--quiet", self.server.url("/data"), "ziel.bin"]
        # The sanitizers' leak check does not work under ptrace.
        completed = subprocess.run(command, cwd=self.cwd,
                                   env=dict(self.env, ASAN_OPTIONS="detect_leaks=0"),
                                   stdin=subprocess.DEVNULL, capture_output=True,
                                   timeout=harness.RUN_TIMEOUT, check=False)
        return completed.returncode, completed.stdout, completed.stderr

    def test_failed_flush_commits_nothing(self):
        # The temporary file's fsync is the first.
        self.assertEqual(self.run_failing("-e", "inject=fsync:error=EIO"),
                         (5, b"", lines("Fehler: Ausgabedatei kann nicht vollständig "
                                        "gespeichert werden: Windows-Fehler 1117",
                                        "HTTP-Status: 200")))
        self.assertEqual(os.listdir(self.cwd), [])

    def test_failed_folder_sync_reports_no_left_over_file(self):
        # Only the folder's fsync, after the rename, fails: the target is in
        # place and there is no temporary file left to speak of.
        self.assertEqual(self.run_failing("-P", self.cwd, "-e", "trace=fsync",
                                          "-e", "inject=fsync:error=EIO"),
                         (5, b"", lines("Fehler: Ausgabedatei kann nicht übernommen werden: "
                                        "Windows-Fehler 1117", "HTTP-Status: 200")))
        self.assertEqual(os.listdir(self.cwd), ["ziel.bin"])
        with open(self.path("ziel.bin"), "rb") as file:
            self.assertEqual(file.read(), server.pattern_bytes(5000, 8))


if __name__ == "__main__":
    unittest.main()

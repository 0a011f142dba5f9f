"""File calls that fail on the machine, made to fail in a native run by
strace's fault injection, with no switch in the program: a flush that fails,
a folder sync that fails after the rename, a write that takes no bytes and a
temporary file that cannot be removed. The download reports the failure and
leaves no temporary file, or says that it left one."""

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
        cls.server.routes["/short"] = Reply(body_size=5000, seed=8, cut=100)

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def run_failing(self, *strace_args, route="/data", log="/dev/null"):
        """A quiet download onto ziel.bin under strace with these arguments."""
        command = [STRACE, "-f", "-o", log, *strace_args,
                   harness.PROGRAM, "--quiet", self.server.url(route), "ziel.bin"]
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

    def first_write_to_the_file(self):
        """Which write of its thread first goes to the temporary file, counted
        from 1 as strace counts: the sanitizers' runtime writes to pipes."""
        log = os.path.join(self.work, "writes")
        self.run_failing("-y", "-e", "trace=write", route="/short", log=log)
        with open(log) as file:
            calls = [line.split(" ", 1) for line in file if " write(" in line]
        thread = next(pid for pid, call in calls if ".part-" in call)
        own = [call for pid, call in calls if pid == thread]
        return next(number for number, call in enumerate(own, 1) if ".part-" in call)

    def test_file_calls_that_fail_after_the_file_is_open(self):
        # The run that makes the installation ID writes more than later ones;
        # the only removal is the temporary file's.
        self.run_failing(route="/short")
        read_error = "Fehler: Fehler beim Lesen der HTTP-Antwort: Windows-Fehler 12030"
        # strace arguments, route, exit code, error line, what the folder holds
        cases = [
            ("inject=write:retval=0:when=%d" % self.first_write_to_the_file(), "/data", 5,
             "Fehler: Beim Schreiben wurden unerwartet null Bytes verarbeitet.", []),
            ("inject=unlink,unlinkat:error=EACCES", "/short", 3,
             read_error + " Restdatei konnte nicht entfernt werden: Windows-Fehler 5",
             ["ziel.bin.part-"]),
        ]
        for inject, route, exit_code, error, left in cases:
            with self.subTest(inject=inject):
                self.assertEqual(self.run_failing("-e", inject, route=route),
                                 (exit_code, b"", lines(error, "HTTP-Status: 200")))
                self.assertEqual([name[:14] for name in os.listdir(self.cwd)], left)


if __name__ == "__main__":
    unittest.main()

"""What the machine may do to a run: interrupt or kill it at any moment, race
it onto one target, fill the disk, limit the file size, fail a file call, or
leave a FIFO, a lock, a stale temporary file, a broken values file or a
dangling link in its way. No partial target, no temporary file left, no hang.

Most of this is native only: a signal to the Wine loader is not one to the
Windows process, and the file system, the registry store and the failing
calls are then Wine's, not the program's own POSIX layer's."""

import fcntl
import hashlib
import os
import random
import resource
import shutil
import signal
import subprocess
import time
import unittest

import harness
from harness import NATIVE_ONLY, UNDER_WINE, Reply, Server, lines, pattern

OLD = b"older version\r\n"
WRITE_FAILED = "Fehler: Fehler beim Schreiben der Datei: Windows-Fehler 112"
VALUE_NAME = "{3b7c9e14-5a2d-4f86-b0c3-91d4e6a72f58}"
SIGNALS = (signal.SIGINT,) if UNDER_WINE else (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)


def succeeds(*command):
    return subprocess.run(command, capture_output=True, check=False).returncode == 0


class HazardTest(harness.ProgramTestCase):

    @classmethod
    def setUpClass(cls):
        cls.server = Server()
        # 4 MiB in pieces of 64 KiB 100 ms apart: longer than the handler waits
        # for the clean-up, so only ending the blocked read ends a run promptly.
        cls.server.routes.update({"/slow": Reply(size=4 << 20, seed=9, pace=0.1),
                                  "/big": Reply(size=8 << 20, seed=11), "/small": Reply(
                                      body=b"hallo\r\n"), "/short": Reply(size=5000, cut=100)})
        cls.server.routes.update({"/race%d" % n: Reply(size=8 << 20, seed=20 + n) for n in range(4)})
        cls.url = cls.server.url

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def setUp(self):
        super().setUp()
        # The registry store's folder of the program's key.
        self.key = os.path.join(self.env["XDG_CONFIG_HOME"], "win32-registry",
                                "HKEY_CURRENT_USER", "software", "tolviksoftware", "holwerk")

    def clear(self, older=None):
        for name in self.listing():
            os.remove(self.path(name))
        if older is not None:
            with open(self.path("ziel.bin"), "wb") as file:
                file.write(older)

    def test_interruption_at_any_moment_leaves_no_temporary_file(self):
        # Under Wine only Ctrl+C, which Wine ends with exit code 0.
        seed = random.randrange(1 << 30)
        chooser, body = random.Random(seed), pattern(4 << 20, 9)
        for number in range(12):
            sent, force = SIGNALS[number % len(SIGNALS)], number % 2 == 0
            with self.subTest(seed=seed, round=number, signal=sent.name, force=force):
                self.clear(OLD if force else None)
                process = self.start("--quiet", *(["--force"] if force else []),
                                     self.url("/slow"), "ziel.bin")
                time.sleep(chooser.uniform(0.0, 2.5))
                process.send_signal(sent)
                signalled = time.monotonic()
                self.assertEqual(process.communicate(timeout=harness.RUN_TIMEOUT), (b"", b""))
                self.assertLess(time.monotonic() - signalled, 5 if UNDER_WINE else 3)
                self.assertIn(process.returncode, (0,) if UNDER_WINE else (-sent, 0))
                found = self.read("ziel.bin") if self.listing() else None
                self.assertEqual(self.listing(), ["ziel.bin"] if found else [])
                self.assertIn(found, (body, OLD if force else None) if process.returncode != 0
                              or UNDER_WINE else (body,))

    @NATIVE_ONLY
    def test_signal_while_the_program_ends_ends_it_cleanly(self):
        seed = random.randrange(1 << 30)
        chooser = random.Random(seed)
        for number in range(40):
            sent = SIGNALS[number % 3]
            with self.subTest(seed=seed, round=number, signal=sent.name):
                self.clear()
                process = self.start("--quiet", self.url("/small"), "ziel.bin")
                time.sleep(chooser.uniform(0.0, 0.06))
                process.send_signal(sent)
                self.assertEqual(process.communicate(timeout=harness.RUN_TIMEOUT), (b"", b""))
                self.assertIn(process.returncode, (-sent, 0))
                self.assertIn(self.listing(), ([], ["ziel.bin"]))

    @NATIVE_ONLY
    def test_killed_or_racing_downloads_leave_the_target_absent_old_or_complete(self):
        new = hashlib.sha256(pattern(8 << 20, 11)).hexdigest()
        run = self.run_program("--quiet", self.url("/big"), "ziel.bin")
        seen, chooser = set(), random.Random(20261206)
        for number in range(16):
            older = OLD if number % 2 else None
            self.clear(older)
            process = self.start("--quiet", *(["--force"] if older else []), self.url("/big"),
                                 "ziel.bin")
            # From before the first byte until well after the usual end.
            time.sleep(chooser.uniform(0.0, run.seconds * 2))
            process.kill()
            process.communicate(timeout=harness.RUN_TIMEOUT)
            self.assertTrue(all(name.startswith("ziel.bin.part-") for name in self.listing()
                                if name != "ziel.bin"), self.listing())
            found = self.read("ziel.bin") if os.path.exists(self.path("ziel.bin")) else None
            outcome = found if found in (None, older) else hashlib.sha256(found).hexdigest()
            self.assertIn(outcome, (older, new), "round %d" % number)
            seen.add(outcome == new)
        self.assertEqual(seen, {True, False}, "the kills struck before and after a commit")
        self.clear()
        racers = [self.start("--quiet", "--force", self.url("/race%d" % n), "ziel.bin")
                  for n in range(4)]
        for process in racers:
            self.assertEqual((process.communicate(timeout=60), process.returncode), ((b"", b""), 0))
        self.assertEqual(self.listing(), ["ziel.bin"])
        self.assertIn(self.read("ziel.bin"), [pattern(8 << 20, 20 + n) for n in range(4)])

    def quiet_download(self, path="/small", prefix=(), **options):
        self.clear(options.pop("older", None))
        run = self.run_program("--quiet", *(["--force"] if os.path.exists(self.path("ziel.bin"))
                                            else []), self.url(path), "ziel.bin", prefix=prefix,
                               env=dict(ASAN_OPTIONS="detect_leaks=0"), **options)
        return run.exit_code, run.stdout, run.stderr

    @NATIVE_ONLY
    def test_full_disk_file_size_limit_and_unwritable_folder_end_with_5(self):
        def limit():
            # The default action, as a shell gives it, kills the process unless
            # it ignores SIGXFSZ itself.
            resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))
            signal.signal(signal.SIGXFSZ, signal.SIG_DFL)

        refused = (5, b"", lines(WRITE_FAILED, "HTTP-Status: 200"))
        self.assertEqual(self.quiet_download("/big", older=OLD, preexec_fn=limit), refused)
        self.assertEqual((self.listing(), self.read("ziel.bin")), (["ziel.bin"], OLD))
        if os.geteuid() != 0 or not succeeds("unshare", "-m", "true"):
            self.skipTest("a private tmpfs and another user need root")
        # A 1 MiB tmpfs over the folder, seen only by this one run.
        script = 'mount -t tmpfs -o size=1m full "$0" && cd "$0" && printf "old" > ziel.bin && ' \
                 '"$@"; echo $? >&2; ls -A; cat ziel.bin'
        run = self.run_program("--quiet", "--force", self.url("/big"), "ziel.bin", prefix=[
            "unshare", "-m", "--propagation", "private", "sh", "-c", script, self.cwd])
        self.assertEqual((run.stdout, run.stderr), (b"ziel.bin\nold", refused[2] + b"5\n"))
        os.chmod(self.work, 0o755)
        self.clear()
        self.assertEqual(self.quiet_download(prefix=["setpriv", "--reuid=65534", "--regid=65534",
                                                     "--clear-groups", "--"]), (5, b"", lines(
            "Fehler: Temporäre Ausgabedatei kann nicht angelegt werden: Windows-Fehler 5",
            "HTTP-Status: 200")))
        self.assertEqual(self.listing(), [])

    @NATIVE_ONLY
    @unittest.skipIf(shutil.which("strace") is None, "needs strace")
    def test_file_calls_that_fail(self):
        def strace(*args, log="/dev/null", path="/small"):
            return self.quiet_download(path, prefix=["strace", "-f", "-o", log, *args])

        # The first run makes the installation ID and writes more than later
        # ones; the only later removal is the temporary file's.
        strace(path="/short")
        log = os.path.join(self.work, "writes")
        strace("-y", "-e", "trace=write", log=log, path="/short")
        calls = [line.split(" ", 1) for line in open(log) if " write(" in line]
        thread = next(pid for pid, call in calls if ".part-" in call)
        own = [call for pid, call in calls if pid == thread]
        first_write = next(n for n, call in enumerate(own, 1) if ".part-" in call)
        read_error = harness.READ_FAILED % 12030
        # strace arguments, route, exit code, error line, what the folder holds
        for args, path, code, error, held in [
                (["-e", "inject=fsync:error=EIO"], "/small", 5, "Fehler: Ausgabedatei kann nicht "
                 "vollständig gespeichert werden: Windows-Fehler 1117", []),
                # Only the folder's fsync after the rename: the target is in place.
                (["-P", self.cwd, "-e", "trace=fsync", "-e", "inject=fsync:error=EIO"], "/small",
                 5, "Fehler: Ausgabedatei kann nicht übernommen werden: Windows-Fehler 1117",
                 ["ziel.bin"]),
                (["-e", "inject=write:retval=0:when=%d" % first_write], "/small", 5,
                 "Fehler: Beim Schreiben wurden unerwartet null Bytes verarbeitet.", []),
                (["-e", "inject=unlink,unlinkat:error=EACCES"], "/short", 3, read_error +
                 " Restdatei konnte nicht entfernt werden: Windows-Fehler 5", ["ziel.bin.part-"]),
                # A temporary file already gone has nothing left to speak of.
                (["-e", "inject=unlink,unlinkat:error=ENOENT"], "/short", 3, read_error,
                 ["ziel.bin.part-"])]:
            with self.subTest(args=args):
                self.assertEqual(strace(*args, path=path), (code, b"", lines(error,
                                                                             "HTTP-Status: 200")))
                self.assertEqual([name[:14] for name in self.listing()], held)

    @NATIVE_ONLY
    def test_dangling_link_at_the_target_is_an_existing_target(self):
        os.symlink("nirgendwo", self.path("ziel.bin"))
        run = self.run_program("--quiet", self.url("/small"), "ziel.bin")
        self.assertEqual((run.exit_code, run.stdout, run.stderr), (5, b"", lines(harness.EXISTS)))
        self.assertEqual((self.listing(), os.readlink(self.path("ziel.bin"))),
                         (["ziel.bin"], "nirgendwo"))

    def assert_store_keeps_the_id(self, prefix=()):
        """One run makes the ID, written to the file only after the registry
        took it; a run without the file takes it back from the registry."""
        self.assertEqual(self.quiet_download(prefix=prefix, timeout=10), (0, b"", b""))
        first = self.read_data("installation-id.txt")
        self.assertIsNotNone(first, "the registry refused the installation ID")
        os.remove(os.path.join(self.data, "installation-id.txt"))
        self.assertEqual(self.quiet_download(timeout=10), (0, b"", b""))
        self.assertEqual(self.read_data("installation-id.txt"), first)

    @NATIVE_ONLY
    def test_nothing_in_the_registry_store_holds_up_the_run_or_the_id(self):
        def hold_lock():  # for the whole run, by another process
            descriptor = os.open(self.key, os.O_RDONLY | os.O_DIRECTORY)
            self.addCleanup(os.close, descriptor)
            fcntl.flock(descriptor, fcntl.LOCK_EX)

        def unknown_format():
            with open(os.path.join(self.key, VALUE_NAME), "wb") as file:
                file.write(b"\x00\xffnot a registry\n1:zz:00\n")

        def fifo():
            os.mkfifo(os.path.join(self.key, VALUE_NAME))

        for plant in (fifo, hold_lock, unknown_format):
            with self.subTest(plant.__name__):
                shutil.rmtree(self.env["XDG_CONFIG_HOME"], ignore_errors=True)
                os.makedirs(self.key)
                plant()
                self.assert_store_keeps_the_id()

    @NATIVE_ONLY
    def test_temporary_file_of_an_earlier_process_with_the_same_id_is_passed_over(self):
        # In a fresh PID namespace the program is process 1 on every run, as
        # in a container; its tick count is moved an hour ahead in a time
        # namespace, so that the names its store tries first are taken first.
        namespace = ["unshare", "--pid", "--fork", "--time", "--monotonic", "0", "--"]
        if not succeeds(*namespace, "true"):
            self.skipTest("needs PID and time namespaces (root)")
        first = int(time.clock_gettime(time.CLOCK_MONOTONIC) * 1000) + 3600 * 1000
        os.makedirs(self.key)
        for name in [".tmp-1-0"] + [".tmp-1-%X-1" % (tick & 0xFFFFFFFF)
                                    for tick in range(first, first + 2000)]:
            open(os.path.join(self.key, VALUE_NAME + name), "wb").close()
        # Whole seconds: the run's clock starts less than a second after `first`.
        namespace[5] = str(-(-(first - int(time.clock_gettime(time.CLOCK_MONOTONIC) * 1000))
                             // 1000))
        self.assert_store_keeps_the_id(namespace)


if __name__ == "__main__":
    unittest.main()

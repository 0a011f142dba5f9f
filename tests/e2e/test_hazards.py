"""What the machine may do to a run: interrupt it at any moment, race it onto
one target, limit the file size, fail a file call, or leave a FIFO, a lock, a
stale temporary file or a broken values file in its way. No partial target,
no temporary file left, no hang. Most of it is native only: under Wine a
signal reaches the Wine loader, and the file system and registry are Wine's."""

import collections
import fcntl
import os
import random
import re
import resource
import shutil
import signal
import socket
import subprocess
import time
import unittest

import harness
from harness import NATIVE_ONLY, UNDER_WINE, Reply, Server, lines, pattern

OLD = b"older version\r\n"
VALUE_FILE = "{3b7c9e14-5a2d-4f86-b0c3-91d4e6a72f58}.value"
# Every signal that ends a process by default and can be caught.
SIGNALS = (signal.SIGINT,) if UNDER_WINE else (
    signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGXCPU, signal.SIGALRM,
    signal.SIGUSR1, signal.SIGUSR2, signal.SIGVTALRM, signal.SIGPROF)


# A run under strace with `args`: exit code, error line, the names left (each
# cut to its first 14 characters).
Fault = collections.namedtuple("Fault", "args path code error held")
# A run whose names go to a resolver that never answers.
Lookup = collections.namedtuple("Lookup", "url code stored err")


class HazardTest(harness.ProgramTestCase):

    @classmethod
    def setUpClass(cls):
        cls.server = Server()
        # 4 MiB in pieces of 64 KiB 200 ms apart: far longer than the handler
        # waits for the clean-up, so only ending the blocked read ends a run
        # promptly (Wine takes about two seconds to hand Ctrl+C on).
        cls.server.routes.update({"/slow": Reply(size=4 << 20, seed=9, pace=0.2), "/small": Reply(
            body=b"hallo\r\n"), "/short": Reply(size=5000, cut=100)})
        cls.server.routes.update({"/big%d" % n: Reply(size=8 << 20, seed=n) for n in range(4)})
        cls.url = cls.server.url

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def setUp(self):
        super().setUp()
        self.key = os.path.join(self.env["XDG_CONFIG_HOME"], "win32-registry",
                                "HKEY_CURRENT_USER", "software", "tolviksoftware", "holwerk")

    def clear(self, older=None):
        for name in self.listing():
            os.remove(self.path(name))
        if older:
            harness.put(self.path("ziel.bin"), older)
        return ["--force"] if older else []

    def found(self):
        return self.read("ziel.bin") if os.path.exists(self.path("ziel.bin")) else None

    def test_interruption_at_any_moment_leaves_no_temporary_file(self):
        # Under Wine only Ctrl+C, and only once the program runs: before, it
        # reaches the loader, which a loaded machine may keep busy for seconds.
        # Natively also while a small download ends: the signal may come
        # before, during or after the commit.
        seed = random.randrange(1 << 30)
        chooser = random.Random(seed)
        rounds = [("/slow", pattern(4 << 20, 9), 2.5)] * 12 + (
            [] if UNDER_WINE else [("/small", b"hallo\r\n", 0.06)] * 40)
        for number, (path, body, latest) in enumerate(rounds):
            sent, older = SIGNALS[number % len(SIGNALS)], OLD if number % 2 == 0 else None
            with self.subTest(seed=seed, round=number, signal=sent.name, older=older):
                # No core file of SIGQUIT or SIGXCPU in the folder.
                process = self.start("--quiet", *self.clear(older), self.url(path), "ziel.bin",
                                     preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_CORE,
                                                                           (0, 0)))
                while UNDER_WINE and process.poll() is None and not any(
                        name.startswith("ziel.bin.part-") for name in self.listing()):
                    time.sleep(0.05)
                time.sleep(chooser.uniform(0.0, latest))
                process.send_signal(sent)
                signalled = time.monotonic()
                self.assertEqual(process.communicate(timeout=harness.RUN_TIMEOUT), (b"", b""))
                self.assertLess(time.monotonic() - signalled, 8 if UNDER_WINE else 5)
                self.assertIn(process.returncode, (process.returncode,) if UNDER_WINE else
                              (-sent, 0))
                self.assertEqual(self.listing(), ["ziel.bin"] if self.found() else [])
                self.assertIn(self.found(), (body, older) if process.returncode or UNDER_WINE
                              else (body,))

    @unittest.skipIf(UNDER_WINE, "the rename underneath is Wine's, not the program's")
    def test_racing_downloads_onto_one_target_leave_one_complete_body(self):
        racers = [self.start("--quiet", "--force", self.url("/big%d" % n), "ziel.bin")
                  for n in range(4)]
        for process in racers:
            self.assertEqual((process.communicate(timeout=60), process.returncode), ((b"", b""), 0))
        self.assertEqual(self.listing(), ["ziel.bin"])
        self.assertIn(self.found(), [pattern(8 << 20, n) for n in range(4)])

    def quiet(self, path="/small", older=None, prefix=(), **options):
        run = self.run_program("--quiet", *self.clear(older), self.url(path), "ziel.bin",
                               prefix=prefix, env=dict(ASAN_OPTIONS="detect_leaks=0"), **options)
        return run.exit_code, run.stdout, run.stderr

    @unittest.skipIf(UNDER_WINE, "Wine maps the host's errors itself")
    def test_file_size_limit_fails_the_write_and_keeps_the_target(self):
        def limit():  # SIGXFSZ as a shell leaves it: it kills unless ignored
            resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))
            signal.signal(signal.SIGXFSZ, signal.SIG_DFL)

        self.assertEqual(self.quiet("/big0", OLD, preexec_fn=limit), (5, b"", lines(
            "Fehler: Fehler beim Schreiben der Datei: Windows-Fehler 112", "HTTP-Status: 200")))
        self.assertEqual((self.listing(), self.found()), (["ziel.bin"], OLD))

    @unittest.skipIf(UNDER_WINE, "system-call fault injection is for the native build")
    @unittest.skipIf(shutil.which("strace") is None, "needs strace")
    def test_file_calls_that_fail(self):
        def strace(*args, path="/small"):
            return self.quiet(path, prefix=["strace", "-f", "-o", log, *args])

        # The first run makes the installation ID: later ones write less, and
        # remove only the temporary file.
        log = os.path.join(self.work, "writes")
        strace(path="/short")
        strace("-y", "-e", "trace=write", path="/short")
        calls = [line.split(" ", 1) for line in harness.slurp(log, "r").splitlines()
                 if " write(" in line]
        thread = next(pid for pid, call in calls if ".part-" in call)
        first = next(n for n, call in enumerate((c for p, c in calls if p == thread), 1)
                     if ".part-" in call)
        read = harness.READ_FAILED % 12030
        for fault in [
                Fault(["-e", "inject=fsync:error=EIO"], "/small", 5, "Fehler: Ausgabedatei kann "
                      "nicht vollständig gespeichert werden: Windows-Fehler 1117", []),
                # Only the folder's fsync after the rename: the target is in place.
                Fault(["-P", self.cwd, "-e", "trace=fsync", "-e", "inject=fsync:error=EIO"],
                      "/small", 5, "Fehler: Ausgabedatei kann nicht übernommen werden: "
                      "Windows-Fehler 1117", ["ziel.bin"]),
                Fault(["-e", "inject=write:retval=0:when=%d" % first], "/small", 5,
                      "Fehler: Beim Schreiben wurden unerwartet null Bytes verarbeitet.", []),
                Fault(["-e", "inject=unlink,unlinkat:error=EACCES"], "/short", 3,
                      read + " Restdatei konnte nicht entfernt werden: Windows-Fehler 5",
                      ["ziel.bin.part-"]),
                # Told the file is already gone, the run has nothing to report.
                Fault(["-e", "inject=unlink,unlinkat:error=ENOENT"], "/short", 3, read,
                      ["ziel.bin.part-"])]:
            with self.subTest(args=fault.args):
                self.assertEqual(strace(*fault.args, path=fault.path), (fault.code, b"", lines(
                    fault.error, "HTTP-Status: 200")))
                self.assertEqual([name[:14] for name in self.listing()], fault.held)

    @unittest.skipIf(UNDER_WINE, "system-call fault injection is for the native build")
    @unittest.skipIf(shutil.which("strace") is None, "needs strace")
    def test_interruption_during_a_flush_longer_than_the_wait_leaves_no_temporary_file(self):
        self.quiet()  # makes the installation ID: the next run's first flush is the download's
        for older in (None, OLD):
            with self.subTest(older=older):
                process = self.start("--quiet", *self.clear(older), self.url("/small"), "ziel.bin",
                                     prefix=["strace", "-f", "-o", os.devnull, "-e", "trace=fsync",
                                             "-e", "inject=fsync:delay_enter=8000000:when=1"])
                while not any(name.startswith("ziel.bin.part-") for name in self.listing()):
                    time.sleep(0.02)
                time.sleep(1)  # well inside the flush
                # The name carries the program's process ID, in hexadecimal.
                part = next(name for name in self.listing() if name.startswith("ziel.bin.part-"))
                os.kill(int(part.split("-")[1], 16), signal.SIGINT)
                stdout, stderr = process.communicate(timeout=harness.RUN_TIMEOUT)
                # strace may remark on the signal that came during the delay.
                self.assertEqual((process.returncode, stdout, [line for line in stderr.splitlines()
                                                               if not line.startswith(b"strace: ")]),
                                 (-signal.SIGINT, b"", []))
                self.assertEqual((self.listing(), self.found()),
                                 (["ziel.bin"] if older else [], older))

    @NATIVE_ONLY
    def test_name_server_that_never_answers_outlasts_no_time_limit(self):
        # A resolver file of a private mount namespace names a local port
        # that takes every query and answers none.
        if subprocess.run(["unshare", "--mount", "true"], capture_output=True).returncode:
            self.skipTest("needs a mount namespace (root)")
        silent = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.addCleanup(silent.close)
        # Any loopback address: another test run may hold port 53 of one.
        address = "127.83.%d.%d" % (os.getpid() % 250 + 1, random.randrange(1, 250))
        silent.bind((address, 53))
        silent.settimeout(0)
        resolver = os.path.join(self.work, "resolv.conf")
        harness.put(resolver, "nameserver %s\noptions timeout:30 attempts:1\n" % address)
        namespace = ["unshare", "--mount", "--", "sh", "-c",
                     'mount --bind "$0" /etc/resolv.conf && exec "$@"', resolver]
        os.remove(os.path.join(self.data, "update-state.txt"))  # the update check is due
        for lookup in (
                Lookup("http://nirgendwo.holwerk.example/", 3, None, [harness.SEND_FAILED % 12002]),
                Lookup(self.url("/small"), 0, b"hallo\r\n", [])):
            with self.subTest(url=lookup.url):
                self.clear()
                started = time.monotonic()
                run = self.run_program("--quiet", "--timeout", "3", lookup.url, "ziel.bin",
                                       prefix=namespace)
                try:
                    silent.recv(512)
                except BlockingIOError:
                    self.skipTest("names are not looked up through /etc/resolv.conf here")
                self.assertEqual((run.exit_code, run.stdout, run.stderr),
                                 (lookup.code, b"", lines(*lookup.err)))
                self.assertEqual(self.found(), lookup.stored)
                # The connect time-out (3 s, or the update check's 5 s) and
                # not the resolver's 30 s.
                self.assertLess(time.monotonic() - started, 12)

    @unittest.skipIf(UNDER_WINE, "system-call tracing is for the native build")
    @unittest.skipIf(shutil.which("strace") is None, "needs strace")
    def test_first_run_makes_every_new_folder_and_name_durable(self):
        """A power cut right after a run that reported success loses nothing:
        every folder made and every name renamed into place is followed by a
        sync of the folder that holds it."""
        shutil.rmtree(self.env["XDG_DATA_HOME"])  # a first run makes every folder
        log = os.path.join(self.work, "calls")
        # The update check is due, and its server refuses at once.
        self.env.update(harness.proxy_env("http://127.0.0.1:%d" % harness.refused_port(),
                                          ("127.0.0.1",)))
        self.assertEqual(self.quiet(prefix=["strace", "-f", "-y", "-o", log, "-e",
                                            "trace=mkdir,fsync,rename,renameat,renameat2"]),
                         (0, b"", b""))
        self.assertIsNotNone(self.read_data("update-state.txt"))
        made, calls = [], re.findall(r"^\d+ +(\w+)\((.*)\) += 0$", harness.slurp(log, "r"),
                                     re.MULTILINE)
        for call, arguments in calls:
            if call == "fsync":
                folder = re.match(r"\d+<(.*)>$", arguments).group(1)
                made = [path for path in made if os.path.dirname(path) != folder]
            else:  # the new name: the first of a mkdir, the last of a rename
                name = re.findall(r'"([^"]*)"', arguments)[0 if call == "mkdir" else -1]
                made.append(os.path.join(self.cwd, name))
        self.assertEqual(made, [])
        self.assertGreaterEqual(len(calls), 12)

    def assert_store_keeps_the_id(self, prefix=()):
        """One run makes the ID, written to the file only after the registry
        took it; a run without the file takes it back from the registry."""
        self.assertEqual(self.quiet(prefix=prefix, timeout=harness.PROMPT), (0, b"", b""))
        first = self.read_data("installation-id.txt")
        self.assertIsNotNone(first, "the registry refused the installation ID")
        os.remove(os.path.join(self.data, "installation-id.txt"))
        self.assertEqual(self.quiet(timeout=harness.PROMPT), (0, b"", b""))
        self.assertEqual(self.read_data("installation-id.txt"), first)

    @NATIVE_ONLY
    def test_nothing_in_the_registry_store_holds_up_the_run_or_the_id(self):
        value = os.path.join(self.key, VALUE_FILE)

        def held_lock():  # by another process, for the whole run
            descriptor = os.open(self.key, os.O_RDONLY | os.O_DIRECTORY)
            self.addCleanup(os.close, descriptor)
            fcntl.flock(descriptor, fcntl.LOCK_EX)

        def instead_of_the_key(plant):
            os.rmdir(self.key)
            plant(self.key)

        for name, plant in (
                ("fifo", lambda: os.mkfifo(value)), ("held lock", held_lock),
                ("unknown format", lambda: harness.put(value, b"\x00\xffunknown\n1:zz:00\n")),
                # A subkey of the value's name, and a folder in its file's place.
                ("folders", lambda: [os.makedirs(os.path.join(path, "fremd"))
                                     for path in (value[:-len(".value")], value)]),
                ("file for the key", lambda: instead_of_the_key(harness.put)),
                ("fifo for the key", lambda: instead_of_the_key(os.mkfifo))):
            with self.subTest(name):
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
        if subprocess.run(namespace + ["true"], capture_output=True).returncode:
            self.skipTest("needs PID and time namespaces (root)")
        first = int(time.clock_gettime(time.CLOCK_MONOTONIC) * 1000) + 3600 * 1000
        os.makedirs(self.key)
        for name in [".tmp-1-0"] + [".tmp-1-%X-1" % (tick & 0xFFFFFFFF)
                                    for tick in range(first, first + 2000)]:
            harness.put(os.path.join(self.key, VALUE_FILE + name))
        # Whole seconds: the run's clock starts less than a second after `first`.
        namespace[5] = str(-(-(first - int(time.clock_gettime(time.CLOCK_MONOTONIC) * 1000))
                             // 1000))
        self.assert_store_keeps_the_id(namespace)


if __name__ == "__main__":
    unittest.main()

"""What other processes and the user's own machine may leave in the way: a
FIFO or a held lock in the per-user registry store, a temporary file of an
earlier process with the same process ID, a value file in no known format, a
dangling symbolic link at the target, a file-size limit. None of them may hang
or kill the program, disable the update check for good or let a download pass
over an existing target.

Native build only: these are hazards of the program's own POSIX layer; under
Wine the registry and the file system are Wine's."""

import fcntl
import os
import resource
import shutil
import signal
import subprocess
import time
import unittest

import harness
import server
from harness import lines
from server import Reply

PAYLOAD = b"hallo\r\n"
BODY_SIZE = 4 * 1024 * 1024
# A hazard may cost a run the store's two-second wait for a lock; a run that
# takes this long hangs.
HAZARD_TIMEOUT = 10
# The name of the registry value that holds the installation ID, as the
# store names its file: in lower case.
VALUE_NAME = "{3b7c9e14-5a2d-4f86-b0c3-91d4e6a72f58}"


@unittest.skipIf(harness.UNDER_WINE, "the native layer's own registry store and file system")
class LocalHazardsTest(harness.ProgramTestCase):

    @classmethod
    def setUpClass(cls):
        cls.server = server.ScriptedServer()
        cls.server.routes["/klein"] = Reply(body=PAYLOAD)
        cls.server.routes["/gross"] = Reply(body_size=BODY_SIZE)

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def setUp(self):
        super().setUp()
        self.server.requests.clear()
        # The store's folder of the program's key and the file of its one value.
        self.key_folder = os.path.join(self.env["XDG_CONFIG_HOME"], "win32-registry",
                                       "HKEY_CURRENT_USER", "software", "tolviksoftware",
                                       "holwerk")
        self.value_file = os.path.join(self.key_folder, VALUE_NAME)

    def download(self, command_prefix=()):
        """A quiet download of the small file into ziel.bin, which must work."""
        target = self.path("ziel.bin")
        if os.path.exists(target):
            os.remove(target)
        command = list(command_prefix) + [harness.PROGRAM, "--quiet",
                                          self.server.url("/klein"), "ziel.bin"]
        # The sanitizers' leak check cannot stop the world from inside
        # another process-ID namespace.
        env = dict(self.env, ASAN_OPTIONS="detect_leaks=0") if command_prefix else self.env
        started = time.monotonic()
        completed = subprocess.run(command, cwd=self.cwd, env=env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, timeout=HAZARD_TIMEOUT, check=False)
        self.assertEqual((completed.returncode, completed.stdout, completed.stderr), (0, b"", b""))
        with open(target, "rb") as file:
            self.assertEqual(file.read(), PAYLOAD)
        return time.monotonic() - started

    def assert_store_keeps_the_id(self, command_prefix=()):
        """One run makes an installation ID, which it writes to the file only
        after the registry took it; a second run without the file takes the
        same ID back from the registry."""
        self.download(command_prefix)
        first = self.read_data_file("installation-id.txt")
        self.assertIsNotNone(first, "the registry refused the installation ID")
        os.remove(os.path.join(self.data_folder(), "installation-id.txt"))
        self.download()
        self.assertEqual(self.read_data_file("installation-id.txt"), first)

    # -- the registry store ----------------------------------------------------
    def test_fifo_or_held_lock_in_the_store_does_not_hold_up_the_download_or_the_id(self):
        def plant_fifo():
            os.mkfifo(self.value_file)

        def hold_lock():
            # Another process holds a lock on the key's folder for the whole run.
            descriptor = os.open(self.key_folder, os.O_RDONLY | os.O_DIRECTORY)
            self.addCleanup(os.close, descriptor)
            fcntl.flock(descriptor, fcntl.LOCK_EX)

        for label, plant in (("FIFO as the value file", plant_fifo),
                             ("lock held on the key", hold_lock)):
            with self.subTest(label):
                shutil.rmtree(self.env["XDG_CONFIG_HOME"], ignore_errors=True)
                id_file = os.path.join(self.data_folder(), "installation-id.txt")
                if os.path.exists(id_file):
                    os.remove(id_file)
                os.makedirs(self.key_folder)
                plant()
                self.assertLess(self.download(), 6)
                # A new ID goes to the file only after the registry took it.
                self.assertIsNotNone(self.read_data_file("installation-id.txt"),
                                     "the registry refused the installation ID")

    def test_value_file_in_no_known_format_is_replaced(self):
        os.makedirs(self.key_folder)
        with open(self.value_file, "wb") as file:
            file.write(b"\x00\xffnot a registry\n1:zz:00\n")
        self.assert_store_keeps_the_id()

    def test_temporary_file_of_an_earlier_process_with_the_same_id_is_passed_over(self):
        # In a fresh PID namespace the program is process 1 on every run, as
        # in a container. Its monotonic clock (the tick count) is moved an
        # hour ahead in a time namespace of its own, so that the names its
        # store tries first can be taken beforehand, however long that takes.
        namespace = ["unshare", "--pid", "--fork", "--time", "--monotonic", "0", "--"]
        probe = subprocess.run(namespace + ["true"], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, check=False)
        if probe.returncode != 0:
            self.skipTest("needs PID and time namespaces (root)")

        def milliseconds():
            return int(time.clock_gettime(time.CLOCK_MONOTONIC) * 1000)

        first_tick = milliseconds() + 3600 * 1000
        os.makedirs(self.key_folder)
        stale = [VALUE_NAME + ".tmp-1-0"] + [VALUE_NAME + ".tmp-1-%X-1" % (tick & 0xFFFFFFFF)
                                             for tick in range(first_tick, first_tick + 2000)]
        for name in stale:
            open(os.path.join(self.key_folder, name), "wb").close()
        # Whole seconds only: the run's clock starts less than one second
        # after first_tick.
        offset = -(-(first_tick - milliseconds()) // 1000)
        namespace[namespace.index("--monotonic") + 1] = str(offset)
        self.assert_store_keeps_the_id(namespace)

    # -- the target and the file system ----------------------------------------
    def test_dangling_link_at_the_target_is_an_existing_target(self):
        os.symlink("nirgendwo", self.path("ziel.bin"))
        run = self.run_program("--quiet", self.server.url("/klein"), "ziel.bin")
        self.assertEqual(
            (run.exit_code, run.stdout, run.stderr),
            (5, b"", lines("Fehler: Die Zieldatei existiert bereits. "
                           "Verwenden Sie --force zum Ersetzen.")))
        self.assertEqual(self.server.requests, [], "no request is made")
        self.assertEqual(os.listdir(self.cwd), ["ziel.bin"])
        self.assertEqual(os.readlink(self.path("ziel.bin")), "nirgendwo")

    def test_file_size_limit_fails_the_write_instead_of_killing_the_program(self):
        def limit_file_size():
            resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))
            # The default action, as a shell gives it: the process is killed
            # unless it ignores the signal itself.
            signal.signal(signal.SIGXFSZ, signal.SIG_DFL)

        completed = subprocess.run(
            [harness.PROGRAM, "--quiet", self.server.url("/gross"), "ziel.bin"],
            cwd=self.cwd, env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, preexec_fn=limit_file_size, timeout=harness.RUN_TIMEOUT,
            check=False)
        self.assertEqual(
            (completed.returncode, completed.stdout, completed.stderr),
            (5, b"", lines("Fehler: Fehler beim Schreiben der Datei: Windows-Fehler 112",
                           "HTTP-Status: 200")))
        self.assertEqual(os.listdir(self.cwd), [], "no temporary file is left")


if __name__ == "__main__":
    unittest.main()

"""A full disk and a folder the user may not write: the download ends with
exit code 5 and its message, the target stays as it was and no temporary
file is left behind.

Native build only: Wine maps the host's errors itself, and the full file
system needs a private mount namespace around the program."""

import os
import resource
import signal
import subprocess
import unittest

import harness
import server
from harness import lines
from server import Reply

BODY_SIZE = 4 * 1024 * 1024
OLD = b"older version\r\n"
DISK_FULL = lines("Fehler: Fehler beim Schreiben der Datei: Windows-Fehler 112",
                  "HTTP-Status: 200")


def can_mount_private_tmpfs():
    if os.geteuid() != 0:
        return False
    probe = subprocess.run(["unshare", "-m", "--propagation", "private", "sh", "-c",
                            "d=$(mktemp -d) && mount -t tmpfs -o size=64k probe \"$d\" && "
                            "umount \"$d\"; rmdir \"$d\""],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    return probe.returncode == 0


@unittest.skipIf(harness.UNDER_WINE, "needs the host's file system limits around the program")
class DiskFullTest(harness.ProgramTestCase):

    @classmethod
    def setUpClass(cls):
        cls.server = server.ScriptedServer()
        cls.server.routes["/"] = Reply(body_size=BODY_SIZE)
        cls.url = cls.server.url("/")

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def test_full_file_system_ends_with_5_and_keeps_the_target(self):
        if not can_mount_private_tmpfs():
            self.skipTest("mounting a tmpfs in a private mount namespace needs root")
        # A 1 MiB tmpfs over the working folder, seen only by this one program
        # run: the older target, the program, then a listing and a copy of the
        # target, all inside the namespace; the tmpfs goes with it.
        report = os.path.join(self.work, "report")
        os.makedirs(report)
        script = ('mount -t tmpfs -o size=1m holwerk-full "$1" && cd "$1" && '
                  'printf "older version\\r\\n" > ziel.bin && '
                  '{ "$2" --quiet --force "$3" ziel.bin >"$4/stdout" 2>"$4/stderr"; '
                  'echo $? >"$4/code"; ls -A >"$4/listing"; cp ziel.bin "$4/target"; }')
        completed = subprocess.run(
            ["unshare", "-m", "--propagation", "private", "sh", "-c", script, "sh",
             self.cwd, harness.PROGRAM, self.url, report],
            env=self.env, stdin=subprocess.DEVNULL, timeout=harness.RUN_TIMEOUT, check=False)
        self.assertEqual(completed.returncode, 0)

        def read(name):
            with open(os.path.join(report, name), "rb") as file:
                return file.read()

        self.assertEqual((read("code"), read("stdout"), read("stderr")),
                         (b"5\n", b"", DISK_FULL))
        self.assertEqual(read("listing"), b"ziel.bin\n", "no temporary file is left")
        self.assertEqual(read("target"), OLD)

    def test_file_size_limit_ends_with_5_and_keeps_the_target(self):
        # The same refusal from a file-size limit of 1 MiB, with SIGXFSZ
        # ignored so that the write fails instead of killing the program.
        with open(self.path("ziel.bin"), "wb") as file:
            file.write(OLD)

        def limit_file_size():
            resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)

        completed = subprocess.run(
            [harness.PROGRAM, "--quiet", "--force", self.url, "ziel.bin"],
            cwd=self.cwd, env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, preexec_fn=limit_file_size, timeout=harness.RUN_TIMEOUT,
            check=False)
        self.assertEqual((completed.returncode, completed.stdout, completed.stderr),
                         (5, b"", DISK_FULL))
        self.assertEqual(os.listdir(self.cwd), ["ziel.bin"], "no temporary file is left")
        with open(self.path("ziel.bin"), "rb") as file:
            self.assertEqual(file.read(), OLD)


def unprivileged_runner():
    """A command prefix that runs as the user nobody, or None."""
    if os.geteuid() != 0:
        return None
    for prefix in (["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"],
                   ["runuser", "-u", "nobody", "--"]):
        try:
            probe = subprocess.run(prefix + ["true"], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, check=False)
        except FileNotFoundError:
            continue
        if probe.returncode == 0:
            return prefix
    return None


@unittest.skipIf(harness.UNDER_WINE, "Wine runs as the host user and maps its errors itself")
class UnwritableFolderTest(harness.ProgramTestCase):

    def setUp(self):
        super().setUp()
        self.runner = unprivileged_runner()
        if self.runner is None:
            self.skipTest("needs root to run the program as an unprivileged user "
                          "(root may write anywhere)")
        self.server = server.ScriptedServer()
        self.addCleanup(self.server.close)
        self.server.routes["/"] = Reply(body=b"hallo")
        self.url = self.server.url("/")
        # The unprivileged user may enter and read everything of the test, and
        # write nowhere in it.
        for folder, _, files in os.walk(self.work):
            os.chmod(folder, 0o755)
            for name in files:
                os.chmod(os.path.join(folder, name), 0o644)

    def test_unwritable_target_folder_ends_with_5(self):
        completed = subprocess.run(
            self.runner + [harness.PROGRAM, "--quiet", self.url, "ziel.bin"],
            cwd=self.cwd, env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, timeout=harness.RUN_TIMEOUT, check=False)
        self.assertEqual(
            (completed.returncode, completed.stdout, completed.stderr),
            (5, b"", lines("Fehler: Temporäre Ausgabedatei kann nicht angelegt werden: "
                           "Windows-Fehler 5", "HTTP-Status: 200")))
        self.assertEqual(os.listdir(self.cwd), [])


if __name__ == "__main__":
    unittest.main()

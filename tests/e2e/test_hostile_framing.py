"""Framing a server can abuse, native build: a TLS body that only the
connection's end delimits is stored only when the server ended TLS with
close_notify, and whatever a server sends (endless trailers, a header line
that never ends, interim responses by the hundred thousand) the program's
memory stays bounded and the run ends at once with exit code 3, leaving no
file."""

import os
import subprocess
import time
import unittest

import harness
import server
from harness import lines
from server import Reply

READ_FAILED = "Fehler: Fehler beim Lesen der HTTP-Antwort: Windows-Fehler %d"
SEND_FAILED = "Fehler: HTTP-Anfrage ist fehlgeschlagen: Windows-Fehler %d"
PEAK_MEMORY_LIMIT = 64 * 1024 * 1024
RUN_LIMIT_SECONDS = 6


@unittest.skipIf(harness.UNDER_WINE, "the native client's own promise")
class TlsCloseTest(harness.ProgramTestCase):

    @classmethod
    def setUpClass(cls):
        cls.server = server.ScriptedServer(*harness.test_pki()["server"])

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def test_body_ended_by_close_is_stored_only_after_close_notify(self):
        body = server.pattern_bytes(100000, 9)
        cases = [
            # (path, reply, error or None when stored)
            ("/notified", Reply(body=body, content_length=None, close_notify=True), None),
            ("/closed", Reply(body=body, content_length=None), 12030),
            # Framed bodies are judged by their framing, however TLS ends.
            ("/length", Reply(body=body), None),
            ("/chunked", Reply(body=body, chunked=True), None),
        ]
        self.env.update(harness.tls_env())
        for path, reply, error in cases:
            with self.subTest(path=path):
                self.server.routes[path] = reply
                run = self.run_program("--quiet", self.server.url(path), "ziel.bin")
                if error is None:
                    self.assertEqual((run.exit_code, run.stderr), (0, b""))
                    with open(self.path("ziel.bin"), "rb") as file:
                        self.assertEqual(file.read(), body)
                    os.remove(self.path("ziel.bin"))
                else:
                    self.assertEqual((run.exit_code, run.stdout, run.stderr),
                                     (3, b"", lines(READ_FAILED % error, "HTTP-Status: 200")))
                    self.assertEqual(os.listdir(self.cwd), [])


@unittest.skipIf(harness.UNDER_WINE, "peak memory is measured for the native build")
class MemoryBoundTest(harness.ProgramTestCase):

    @classmethod
    def setUpClass(cls):
        cls.server = server.ScriptedServer()

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def run_measured(self, path):
        """One quiet run; its exit code, stderr and peak resident bytes."""
        process = subprocess.Popen(
            harness.RUNNER + [harness.PROGRAM, "--quiet", "--timeout", "2",
                              self.server.url(path), "ziel.bin"],
            cwd=self.cwd, env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE)
        deadline = time.monotonic() + RUN_LIMIT_SECONDS
        while True:
            pid, status, usage = os.wait4(process.pid, os.WNOHANG)
            if pid != 0:
                break
            if time.monotonic() > deadline:
                process.kill()
                pid, status, usage = os.wait4(process.pid, 0)
                break
            time.sleep(0.05)
        process.returncode = os.waitstatus_to_exitcode(status)
        stderr = process.stderr.read()
        process.stderr.close()
        # ru_maxrss is in KiB on Linux.
        return process.returncode, stderr, usage.ru_maxrss * 1024

    def test_peak_memory_stays_bounded_whatever_the_server_sends(self):
        cases = [
            ("/endless-trailers", Reply(body=b"hallo", chunked=True, trailers_never_end=True),
             lines(READ_FAILED % 12152, "HTTP-Status: 200")),
            ("/endless-line", Reply(header_line_never_ends=True), lines(SEND_FAILED % 12152)),
            # Interim responses count towards the bound of the response head.
            ("/interim", Reply(body=b"hallo", interim=100000), lines(SEND_FAILED % 12152)),
        ]
        for path, reply, stderr in cases:
            with self.subTest(path=path):
                self.server.routes[path] = reply
                started = time.monotonic()
                exit_code, seen, peak = self.run_measured(path)
                self.assertEqual((exit_code, seen), (3, stderr))
                self.assertLess(time.monotonic() - started, 5)
                self.assertLess(peak, PEAK_MEMORY_LIMIT)
                self.assertEqual(os.listdir(self.cwd), [])


if __name__ == "__main__":
    unittest.main()

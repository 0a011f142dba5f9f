"""A server that fails in the middle of a body: the download ends with exit
code 3, commits nothing, leaves no temporary file and an older target as it
was. Also the time-outs of a stalled body and of a head that never ends."""

import os
import time
import unittest

import harness
import server
from harness import lines
from server import Reply

READ_FAILED = "Fehler: Fehler beim Lesen der HTTP-Antwort: Windows-Fehler %d"
# A reset reaches the program as the client's own code for it.
RESET_ERROR = 10054 if harness.UNDER_WINE else 12031
WINE_TIMEOUT_REASON = ("a receive time-out set on the root handle is not inherited by "
                       "requests under Wine")


class BodyFaultTest(harness.ProgramTestCase):

    @classmethod
    def setUpClass(cls):
        cls.server = server.ScriptedServer()

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def read(self, name):
        with open(self.path(name), "rb") as file:
            return file.read()

    def assertFailsAndKeepsOldTarget(self, path, error, extra_args=()):
        """Runs over an older target with --force: the run fails with `error`,
        and the folder holds the older target alone, unchanged."""
        with open(self.path("target.bin"), "wb") as file:
            file.write(b"older version")
        url = self.server.url(path)
        run = self.run_program("--force", *extra_args, url, "target.bin", timeout=30)
        self.assertEqual(run.exit_code, 3)
        self.assertEqual(run.stdout, lines("Holwerk 2.2.1", "GET " + url))
        self.assertEqual(run.stderr, lines(READ_FAILED % error, "HTTP-Status: 200"))
        self.assertEqual(os.listdir(self.cwd), ["target.bin"])
        self.assertEqual(self.read("target.bin"), b"older version")
        return run

    def test_body_that_ends_early_fails(self):
        cases = [
            # More than one read buffer arrives before the server closes.
            ("/short", Reply(body_size=200000, seed=2, cut=150000), 12030),
            # 4294967306 is 2^32 + 10: read as a 32-bit number it would be 10.
            ("/wrap", Reply(body=b"0123456789", content_length="4294967306", cut=10), 12030),
            ("/chunked-short", Reply(body_size=100000, chunked=True, cut=70000), 12030),
            ("/reset", Reply(body_size=100000, cut=40000, after_cut="reset"), RESET_ERROR),
        ]
        for path, reply, error in cases:
            with self.subTest(path=path):
                if path == "/chunked-short" and harness.UNDER_WINE:
                    self.skipTest("Wine reports a chunked body cut short as a clean end of data")
                self.server.routes[path] = reply
                self.assertFailsAndKeepsOldTarget(path, error)

    def test_framing_that_leaves_the_end_in_doubt_is_refused(self):
        # Each with the same 20-byte body: a client's own guess at these
        # values would store a prefix of it, or all of it unchecked.
        body = server.pattern_bytes(20, 3)
        cases = {
            "/length-blank-inside": Reply(body=body, content_length="2 0"),
            "/length-hex": Reply(body=body, content_length="0x14"),
            "/length-exponent": Reply(body=body, content_length="1e3"),
            "/length-fraction": Reply(body=body, content_length="05.0"),
            "/length-list-unequal": Reply(body=body, content_length="10, 20"),
            "/length-plus": Reply(body=body, content_length="+20"),
            "/length-overflow": Reply(body=body, content_length="18446744073709551636"),
            "/length-nines": Reply(body=body, content_length="9" * 100),
            "/lines-unequal": Reply(body=body, headers=[("Content-Length", "10")]),
            "/coding-identity": Reply(body=body, content_length=None,
                                      headers=[("Transfer-Encoding", "identity")]),
            "/coding-gzip-with-length": Reply(body=body,
                                              headers=[("Transfer-Encoding", "gzip")]),
            "/coding-empty": Reply(body=body, content_length=None,
                                   headers=[("Transfer-Encoding", "")]),
        }
        for path, reply in cases.items():
            with self.subTest(path=path):
                self.server.routes[path] = reply
                self.assertFailsAndKeepsOldTarget(path, 12152)

    def test_sound_framing_spellings_are_stored(self):
        body = server.pattern_bytes(20, 4)
        cases = {
            "/length-blanks": Reply(body=body, content_length=" \t20\t "),
            "/length-zeros": Reply(body=body, content_length="0020"),
            "/length-list-equal": Reply(body=body, content_length="20, 20"),
            "/lines-equal": Reply(body=body, headers=[("Content-Length", "20")]),
        }
        for path, reply in cases.items():
            with self.subTest(path=path):
                self.server.routes[path] = reply
                run = self.run_program("--quiet", "--force", self.server.url(path), "sound.bin")
                self.assertEqual((run.exit_code, run.stderr), (0, b""))
                self.assertEqual(self.read("sound.bin"), body)

    def test_short_body_without_older_target_leaves_nothing(self):
        self.server.routes["/short-new"] = Reply(body_size=1000, cut=10)
        run = self.run_program("--quiet", self.server.url("/short-new"), "new.bin")
        self.assertEqual(run.exit_code, 3)
        self.assertEqual(run.stderr, lines(READ_FAILED % 12030, "HTTP-Status: 200"))
        self.assertEqual(os.listdir(self.cwd), [])

    def test_complete_chunked_body_is_stored(self):
        self.server.routes["/chunked"] = Reply(body_size=100000, seed=5, chunked=True)
        run = self.run_program("--quiet", self.server.url("/chunked"), "chunked.bin")
        self.assertEqual(run.exit_code, 0, run.stderr)
        self.assertEqual(self.read("chunked.bin"), server.pattern_bytes(100000, 5))

    @unittest.skipIf(harness.UNDER_WINE, WINE_TIMEOUT_REASON)
    def test_stalled_body_fails_after_the_time_out(self):
        self.server.routes["/stall"] = Reply(body_size=100000, cut=5000, after_cut="stall")
        started = time.monotonic()
        self.assertFailsAndKeepsOldTarget("/stall", 12002, extra_args=("--timeout", "1"))
        self.assertLess(time.monotonic() - started, 10)

    @unittest.skipIf(harness.UNDER_WINE, WINE_TIMEOUT_REASON)
    def test_head_that_never_ends_fails_after_the_time_out(self):
        self.server.routes["/endless-head"] = Reply(head_never_ends=True)
        started = time.monotonic()
        run = self.run_program("--quiet", "--timeout", "1", self.server.url("/endless-head"),
                               "out", timeout=30)
        self.assertEqual(run.exit_code, 3)
        self.assertEqual(run.stderr,
                         lines("Fehler: HTTP-Anfrage ist fehlgeschlagen: Windows-Fehler 12002"))
        self.assertLess(time.monotonic() - started, 10)
        self.assertEqual(os.listdir(self.cwd), [])


if __name__ == "__main__":
    unittest.main()

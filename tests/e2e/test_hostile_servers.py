"""Servers that misbehave on purpose: a huge head, a status line that is no
status line, silence after the request, a redirect loop, a Location value
that is folded or of an absurd length, and an expired
certificate. Each run ends with its exit code and message, no target and no
temporary file.

A head that never ends, a chunked body cut off inside a chunk and the
self-signed, foreign-CA and wrong-host certificates are in
test_download_faults.py and test_download_tls.py."""

import os
import unittest

import harness
import server
from harness import lines
from server import Reply

WINE_TIMEOUT_REASON = ("a receive time-out set on the root handle is not inherited by "
                       "requests under Wine")


class RawReply:
    """Bytes sent as they are instead of a response; then, with `stall`, the
    connection stays open and silent until the client goes."""

    def __init__(self, data, stall=False):
        self.data = data
        self.stall = stall


class HostileServer(server.ScriptedServer):
    """The scripted server, able to send what no HTTP server would."""

    def _answer(self, connection, request, reply):
        if not isinstance(reply, RawReply):
            return super()._answer(connection, request, reply)
        for start in range(0, len(reply.data), 1 << 16):
            connection.sendall(reply.data[start:start + (1 << 16)])
        if reply.stall:
            self._stall(connection)
        return False


class HostileServerTest(harness.ProgramTestCase):

    @classmethod
    def setUpClass(cls):
        cls.server = HostileServer()

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def download(self, path):
        """One quiet run onto ziel.bin with a time-out of 2 seconds."""
        return self.run_program("--quiet", "--timeout", "2", self.server.url(path), "ziel.bin")

    def assert_refused(self, run, exit_code, *stderr_lines):
        self.assertEqual((run.exit_code, run.stdout, run.stderr),
                         (exit_code, b"", lines(*stderr_lines)))
        self.assertEqual(os.listdir(self.cwd), [], "no target and no temporary file")

    def requests_for(self, prefix):
        return [line for line in self.server.request_lines()
                if line.split(b" ")[1].startswith(prefix.encode())]

    # -- heads -----------------------------------------------------------------
    @unittest.skipIf(harness.UNDER_WINE, "Wine's WinINet takes a head of any size")
    def test_huge_head_is_refused(self):
        # 2 MiB of header lines of 1000 bytes each, far beyond any real head.
        filler = ("X-Filler-%d", "f" * 1000)
        self.server.routes["/huge-head"] = Reply(
            body=b"hallo", headers=[(filler[0] % n, filler[1]) for n in range(2048)])
        self.assert_refused(self.download("/huge-head"), 3,
                            "Fehler: HTTP-Anfrage ist fehlgeschlagen: Windows-Fehler 12152")

    @unittest.skipIf(harness.UNDER_WINE, "Wine's WinINet takes a header line of any size")
    def test_huge_header_line_is_refused(self):
        self.server.routes["/huge-line"] = Reply(body=b"hallo",
                                                 headers=[("X-Long", "l" * (1 << 20))])
        self.assert_refused(self.download("/huge-line"), 3,
                            "Fehler: HTTP-Anfrage ist fehlgeschlagen: Windows-Fehler 12152")

    @unittest.skipIf(harness.UNDER_WINE, "Wine's WinINet takes a response without a status "
                     "line as an HTTP/0.9 body with status 200")
    def test_garbage_status_line_is_refused(self):
        self.server.routes["/garbage"] = RawReply(b"GARBAGE \x01\x02 NOT HTTP\r\n\r\nhallo")
        self.assert_refused(self.download("/garbage"), 3,
                            "Fehler: HTTP-Anfrage ist fehlgeschlagen: Windows-Fehler 12152")

    def test_server_that_closes_without_answering_is_refused(self):
        # Wine's client reports success and a status of 0 here; no status was
        # read either way, so there is no "HTTP-Status: " line.
        self.server.routes["/no-answer"] = RawReply(b"")
        failed_call = ("HTTP-Status kann nicht gelesen werden: " if harness.UNDER_WINE
                       else "HTTP-Anfrage ist fehlgeschlagen: ")
        self.assert_refused(self.download("/no-answer"), 3,
                            "Fehler: " + failed_call + "Windows-Fehler 12152")

    @unittest.skipIf(harness.UNDER_WINE, WINE_TIMEOUT_REASON)
    def test_server_that_never_answers_times_out(self):
        self.server.routes["/silent"] = RawReply(b"", stall=True)
        self.assert_refused(self.download("/silent"), 3,
                            "Fehler: HTTP-Anfrage ist fehlgeschlagen: Windows-Fehler 12002")

    # -- redirects ---------------------------------------------------------------
    def test_redirect_loop_ends_after_the_limit(self):
        self.server.routes["/loop"] = server.redirect("/loop")
        self.assert_refused(self.download("/loop"), 6, "Fehler: Zu viele Weiterleitungen.",
                            "HTTP-Status: 302")
        # The first request and five redirects followed; the sixth is refused.
        self.assertEqual(len(self.requests_for("/loop")), 6)

    def test_folded_location_never_reaches_a_request_line(self):
        # CR LF followed by white space: a folded header line.
        self.server.routes["/folded"] = server.redirect("/next\r\n X-Injected: 1\r\n\tmore")
        before = len(self.server.request_lines())
        run = self.download("/folded")
        sent = self.server.request_lines()[before:]
        for request_line in sent:
            self.assertRegex(request_line, rb"^GET /[\x21-\x7e]* HTTP/1\.1$")
        # Followed with the bytes escaped or dropped (then the 404 of the next
        # request), or refused as an unusable target: either way nothing is
        # stored.
        if len(sent) == 2:
            self.assert_refused(run, 4, "Fehler: HTTP-Fehler 404.", "HTTP-Status: 404")
        else:
            self.assertEqual((run.exit_code, run.stdout, len(sent)), (6, b"", 1))
            self.assertEqual(os.listdir(self.cwd), [])

    @unittest.skipIf(harness.UNDER_WINE, "Wine's WinINet follows a Location longer than the "
                     "resolution buffer to the server's root instead of failing")
    def test_location_longer_than_the_resolution_buffer_is_refused(self):
        self.server.routes["/long-location"] = server.redirect("/" + "a" * 16400)
        self.assert_refused(
            self.download("/long-location"), 6,
            "Fehler: Weiterleitungsziel ist ungültig oder zu lang: Windows-Fehler 122",
            "HTTP-Status: 302")
        self.assertEqual(self.requests_for("/aaaa"), [])


class ExpiredCertificateTest(harness.ProgramTestCase):

    @classmethod
    def setUpClass(cls):
        pki = harness.test_pki()
        cls.server = server.ScriptedServer(*pki["expired"])
        cls.server.routes["/"] = Reply(body=b"hallo")

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def test_expired_certificate_is_refused(self):
        run = self.run_program("--quiet", "--timeout", "2", self.server.url("/"), "ziel.bin",
                               env=harness.tls_env())
        self.assertEqual((run.exit_code, run.stdout, run.stderr),
                         (3, b"", lines("Fehler: HTTP-Anfrage ist fehlgeschlagen: "
                                        "Windows-Fehler 12037")))
        self.assertEqual(os.listdir(self.cwd), [])


if __name__ == "__main__":
    unittest.main()

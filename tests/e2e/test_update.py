"""The start-up update check as a user sees it on the console and in the
files: the installation ID, the one request a day, the notice, the 90-day
refusal, and a manifest or update server that cannot be believed. The update
server is reached as its own proxy."""

import collections
import json
import os
import re
import subprocess
import time
import unittest

import harness
from harness import UNDER_WINE, UPDATE_HOST, Reply, Server, lines, today

PAYLOAD = b"the downloaded file\n"
PAGE = "https://downloads.example/holwerk/"
DEFAULT = "https://%s/tolvik-software/Holwerk/" % UPDATE_HOST
MANIFEST = "/tolvik-software/Holwerk/holwerk-version.json"
VALUE_NAME = "{3b7c9e14-5a2d-4f86-b0c3-91d4e6a72f58}"


def state(last, seen=None, version="", page=DEFAULT):
    """The state file's bytes; dates as days before today."""
    return ("last_check=%s\r\nnewer_seen=%s\r\nlatest_version=%s\r\ndownload_url=%s\r\n" % (
        today(last), "" if seen is None else today(seen), version, page)).encode()


def notice(days, page=PAGE, version="2.3.0"):
    return ["Eine neuere Version %s ist verfügbar. Verbleibende Aktualisierungsfrist: %d Tage. "
            "%s" % (version, days, page)]


def manifest(version, download_url):
    return json.dumps(dict(version=version, download_url=download_url),
                      separators=(",", ":")).encode()


def answer(version="2.3.0", page=PAGE, **reply):
    return Reply(body=manifest(version, page), **reply)


MAX_MANIFEST = 65536  # bytes: the largest manifest taken
DEADLINE = 15  # s: the whole manifest fetch
FRAME = b'{"version":"2.3.0","pad":"%s"}'
LARGEST = FRAME % (b"x" * (MAX_MANIFEST - len(FRAME % b"")))
WHOLE = len(manifest("2.3.0", PAGE))
NEWER = state(0, 0, "2.3.0", PAGE)


# One quiet download with the update check: the state file `before` it
# (b"": empty) and `after` it (None: unchanged), the manifest's `reply`, the check's lines on
# standard error and how many distinct manifest requests the server saw. The
# server may show another `certificate`, its proxy answer the CONNECT itself
# (`connect`), or refuse or never answer it (`fault`); `ca` "fifo": a FIFO as
# SSL_CERT_FILE; `took`: the least seconds the run lasts.
Row = collections.namedtuple(
    "Row", "label before reply stderr after requests timeout certificate connect fault ca took "
    "skip", defaults=(None, 1, harness.RUN_TIMEOUT, "server", None, None, None, 0, None))
FAILED = dict(after=state(0), timeout=DEADLINE + 2)
CASES = [
    Row("failing server", state(1, 10, "2.3.0", PAGE), Reply(500, body=b"{}"), notice(80),
        state(0, 10, "2.3.0", PAGE)),
    Row("not again the same day", state(0, 10, "2.3.0", PAGE), answer(), notice(80), requests=0),
    Row("newer", b"", answer(), notice(90), NEWER),
    Row("day 89", state(0, 89, "2.3.0", PAGE), None, notice(1), requests=0),
    Row("stored page unusable", state(0, 10, "2.3.0", "https://downloads.example/a\x1b[2Jb"),
        None, notice(80, DEFAULT), requests=0),
    Row("installed 2.2.1", state(0, 120, "2.2.1", PAGE), None, [], requests=0),
    # The next check after an installed update starts the 90 days today.
    Row("installed, then newer", state(1, 120, "2.2.1", PAGE), answer(), notice(90), NEWER),
    Row("blanks after the brace", b"", Reply(body=manifest("2.3.0", PAGE) + b"   "), notice(90),
        NEWER),
    Row("largest manifest", b"", Reply(body=LARGEST), notice(90, DEFAULT),
        state(0, 0, "2.3.0", DEFAULT)),
] + [Row("current %s" % version, state(1, 120, "2.3.0", PAGE), answer(version), [],
         state(0, None, version, PAGE)) for version in ("2.2.1", "2.1.9")] + [
    Row("refused manifest %d" % number, b"", reply, [], state(0)) for number, reply in enumerate([
        Reply(body=manifest("2.3.0", PAGE) + b"\n"), Reply(body=b"\xef\xbb\xbf" + manifest(
            "2.3.0", PAGE)), Reply(body=b""), Reply(204), Reply(body=LARGEST[:-1] + b" }"),
        answer("2.3"), Reply(302, [("Location", "https://%s%s" % (UPDATE_HOST, MANIFEST))]),
        # Whole, but its framing leaves the end in doubt.
        answer(length="%d, %d" % (WHOLE, WHOLE + 1))])
] + [
    # An address that would break the state file: the forms the program
    # refuses are the manifest unit tests' table.
    Row("unusable address", b"", Reply(body=b'{"version":"2.3.0","download_url":"https://'
                                       b'downloads.example/a\r\nnewer_seen=2000-01-01"}'),
        notice(90, DEFAULT), state(0, 0, "2.3.0", DEFAULT)),
] + [
    # The check gives up after 15 seconds, not before, silently, and not
    # again today.
    Row("dripped", b"", answer(pace=4, step=1), [], state(0), timeout=DEADLINE + 10,
        took=DEADLINE, skip=UNDER_WINE and "Wine's client returns a read only when its piece is "
        "full"),
    Row("refused connection", b"", answer(), [], requests=0, fault="refuse", **FAILED),
    Row("never answered", b"", answer(), [], requests=0, fault="stall", skip=UNDER_WINE and
        "Wine never ends that CONNECT", **FAILED),
    Row("reset", b"", Reply(raw=b"", after="reset"), [], **FAILED),
    # A whole manifest, and its announced length says it is not all.
    Row("short", b"", answer(length=str(WHOLE + 10)), [], **FAILED),
] + [Row("certificate %s" % name, b"", answer(), [], state(0), requests=0, certificate=name)
     for name in ("other", "wronghost")] + [
    # The proxy answers the CONNECT itself: that is not the update server.
    Row("forged by the proxy", b"", answer(), [], state(0), requests=0,
        connect=Reply(203, body=manifest("2.3.0", PAGE))),
    Row("CA file a FIFO", b"", answer(), [], state(0), requests=0, ca="fifo",
        timeout=harness.PROMPT, skip=UNDER_WINE and "the native layer's CA file"),
]


class UpdateTest(harness.ProgramTestCase):
    update_state = False

    @classmethod
    def setUpClass(cls):
        cls.update = Server("server", UPDATE_HOST, tunnel=True)
        cls.target = Server()
        cls.target.routes["/file"] = Reply(body=PAYLOAD)

    @classmethod
    def tearDownClass(cls):
        cls.update.close()
        cls.target.close()

    def setUp(self):
        super().setUp()
        self.proxy(self.update.port)
        self.update.routes.clear()
        self.update.requests.clear()
        self.target.requests.clear()

    def proxy(self, port):
        self.env.update(harness.proxy_env("http://127.0.0.1:%d" % port, ("127.0.0.1", "localhost")))

    def download(self, stderr=(), timeout=harness.RUN_TIMEOUT, env=None):
        """A quiet download that must work: any output is the update check's."""
        if os.path.exists(self.path("out.txt")):
            os.remove(self.path("out.txt"))
        run = self.run_program("--quiet", self.target.url("/file"), "out.txt", timeout=timeout,
                               env=env)
        self.assertEqual((run.exit_code, run.stdout, run.stderr), (0, b"", lines(*stderr)))
        self.assertEqual(self.read("out.txt"), PAYLOAD)

    def requests(self):
        """The manifest requests, without the CONNECTs before them."""
        return [line.decode() for line, _ in self.update.requests if line.startswith(b"GET ")]

    def test_table(self):
        self.addCleanup(setattr, self.update, "stall", False)
        for row in CASES:
            with self.subTest(row.label):
                if row.skip:
                    self.skipTest(row.skip)
                self.update.use_certificate(row.certificate)
                self.update.requests.clear()
                self.update.routes[MANIFEST] = row.reply
                self.update.routes[UPDATE_HOST + ":443"] = row.connect
                self.update.stall = row.fault == "stall"
                self.proxy(harness.refused_port() if row.fault == "refuse" else self.update.port)
                self.write_data("update-state.txt", row.before)
                ca = dict(SSL_CERT_FILE=os.path.join(self.work, "ca.pem")) if row.ca else None
                if ca:
                    os.mkfifo(ca["SSL_CERT_FILE"])
                started = time.monotonic()
                self.download(row.stderr, row.timeout, ca)
                self.assertGreaterEqual(time.monotonic() - started, row.took)
                self.assertEqual(len(set(self.requests())), row.requests)
                self.assertEqual(self.read_data("update-state.txt"), row.after or row.before)

    def test_installation_id_is_made_sent_and_kept_in_the_registry(self):
        # Which copy wins when they differ is the installation ID unit table's.
        self.update.routes[MANIFEST] = answer("2.2.1")
        self.download()
        content = self.read_data("installation-id.txt")
        self.assertRegex(content, rb"^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-"
                                  rb"[0-9a-f]{12}\r\n$")
        request = ("GET %s?installation_id=%s HTTP/1.1" % (MANIFEST, content[:-2].decode()))
        self.assertEqual(self.requests(), [request])
        self.assertEqual(self.read_data("update-state.txt"), state(0, None, "2.2.1", PAGE))
        if UNDER_WINE:
            query = subprocess.run(harness.RUNNER + ["reg", "query", r"HKCU\Software\TolvikSoftware"
                                    r"\Holwerk", "/v", VALUE_NAME], capture_output=True)
            self.assertRegex(query.stdout.decode(errors="replace"), r"%s\s+REG_SZ\s+%s" % (
                re.escape(VALUE_NAME), content[:-2].decode()))

    def test_ninety_days_after_the_first_notice_the_download_is_refused(self):
        self.write_data("update-state.txt", state(0, 90, "2.3.0", PAGE))
        for quiet in ((), ("--quiet",)):
            run = self.run_program(*quiet, self.target.url("/file"), "out.txt")
            self.assertEqual((run.exit_code, run.stdout, run.stderr), (8, b"", lines(
                "Diese Version ist seit 90 Tagen als veraltet erkannt. Vor dem nächsten Download "
                "ist die Aktualisierung auf 2.3.0 erforderlich.", "Download: " + PAGE)))
        self.assertEqual((self.listing(), self.target.requests, self.update.requests), ([], [], []))

    def test_check_that_cannot_keep_its_files_is_skipped_silently(self):
        self.update.routes[MANIFEST] = answer()
        company = os.path.dirname(self.data)
        os.makedirs(os.path.dirname(company), exist_ok=True)
        open(company, "wb").close()  # a file where the company folder belongs
        self.download()
        os.remove(company)
        if not UNDER_WINE:  # Wine's registry cannot be made unwritable here
            open(self.env["XDG_CONFIG_HOME"], "wb").close()  # no installation ID
            self.download()
            self.assertEqual((self.read_data("update-state.txt"),
                              self.read_data("installation-id.txt")), (None, None))
        self.assertEqual(self.requests(), [])


if __name__ == "__main__":
    unittest.main()

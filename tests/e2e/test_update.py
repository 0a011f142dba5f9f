"""The start-up update check: installation ID, daily manifest request, notice
and the 90-day refusal, as a user sees them on the console and in the files."""

import datetime
import os
import re
import socket
import subprocess
import time
import unittest

import harness
from harness import ProgramTestCase, lines
from server import Reply, ScriptedServer
from update_server import UpdateServer

PAYLOAD = b"the downloaded file\n"
PAGE = "https://downloads.example/holwerk/"
ID_PATTERN = re.compile(r"^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$")
VALUE_NAME = "{3b7c9e14-5a2d-4f86-b0c3-91d4e6a72f58}"


def days_back(count):
    today = datetime.date.fromisoformat(harness.today_text())
    return (today - datetime.timedelta(days=count)).isoformat()


def state_text(last_check, newer_seen="", latest_version="", download_url=""):
    return ("last_check=%s\r\nnewer_seen=%s\r\nlatest_version=%s\r\ndownload_url=%s\r\n"
            % (last_check, newer_seen, latest_version, download_url)).encode("utf-8")


def notice(version, days, page):
    return ("Eine neuere Version %s ist verfügbar. Verbleibende Aktualisierungsfrist: %d Tage. %s"
            % (version, days, page))


def refusal(days, version):
    return ("Diese Version ist seit %d Tagen als veraltet erkannt. Vor dem nächsten Download ist "
            "die Aktualisierung auf %s erforderlich." % (days, version))


class UpdateCheckTest(ProgramTestCase):
    place_update_state = False

    @classmethod
    def setUpClass(cls):
        cls.server = UpdateServer()
        cls.target = ScriptedServer()
        cls.target.routes["/file.txt"] = Reply(body=PAYLOAD)
        cls.url = cls.target.url("/file.txt")

    @classmethod
    def tearDownClass(cls):
        cls.target.close()
        cls.server.close()

    def setUp(self):
        super().setUp()
        self.server.clear()
        self.target.requests.clear()
        self.env.update(self.server.env())
        # The program reaches the tests' own download server directly.
        self.env["no_proxy"] = "127.0.0.1;localhost" if harness.UNDER_WINE else "127.0.0.1,localhost"

    # -- helpers ---------------------------------------------------------------
    @property
    def default_page(self):
        return "https://%s/tolvik-software/Holwerk/" % harness.UPDATE_HOST

    def download(self, *extra):
        """A quiet download: any console output is the update check's."""
        output = self.path("out.txt")
        if os.path.exists(output):
            os.remove(output)
        return self.run_program("--quiet", *extra, self.url, "out.txt")

    def assert_downloaded(self, run, stderr=b""):
        self.assertEqual(run.stderr, stderr)
        self.assertEqual(run.stdout, b"")
        self.assertEqual(run.exit_code, 0)
        with open(self.path("out.txt"), "rb") as file:
            self.assertEqual(file.read(), PAYLOAD)

    def installation_id(self):
        content = self.read_data_file("installation-id.txt")
        self.assertIsNotNone(content)
        self.assertTrue(content.endswith(b"\r\n"), content)
        return content[:-2].decode("ascii")

    def manifest_request(self, installation_id):
        return ("GET /tolvik-software/Holwerk/holwerk-version.json?installation_id=%s HTTP/1.1"
                % installation_id)

    # -- installation ID and the daily request ---------------------------------
    def test_first_run_makes_an_id_and_sends_it_with_the_one_request_of_the_day(self):
        self.server.respond(200, UpdateServer.manifest("2.2.1", PAGE))
        self.assert_downloaded(self.download())

        installation_id = self.installation_id()
        self.assertRegex(installation_id, ID_PATTERN)
        self.assertEqual(self.read_data_file("installation-id.txt"),
                         installation_id.encode("ascii") + b"\r\n")
        self.assertEqual(self.server.manifest_requests(),
                         [self.manifest_request(installation_id)])
        state = state_text(harness.today_text(), "", "2.2.1", PAGE)
        self.assertEqual(self.read_data_file("update-state.txt"), state)

        # Later runs of the day reuse the ID and stay off the network.
        self.assert_downloaded(self.download())
        self.assertEqual(len(self.server.manifest_requests()), 1)
        self.assertEqual(self.read_data_file("update-state.txt"), state)
        self.assertEqual(self.installation_id(), installation_id)

        if harness.UNDER_WINE:
            query = subprocess.run(
                harness.RUNNER + ["reg", "query", r"HKCU\Software\TolvikSoftware\Holwerk", "/v",
                                  VALUE_NAME],
                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=harness.RUN_TIMEOUT)
            self.assertRegex(query.stdout.decode("utf-8", "replace"),
                             r"%s\s+REG_SZ\s+%s" % (re.escape(VALUE_NAME), installation_id))

    def test_id_from_the_file_is_used_when_the_registry_has_none(self):
        upper = "A1B2C3D4-E5F6-4A7B-9C8D-0E1F2A3B4C5D"
        self.write_data_file("installation-id.txt", "  " + upper + "\n")
        self.server.respond(200, UpdateServer.manifest("2.2.1"))
        self.assert_downloaded(self.download())
        self.assertEqual(self.server.manifest_requests(), [self.manifest_request(upper.lower())])
        self.assertEqual(self.read_data_file("installation-id.txt"),
                         ("  " + upper + "\n").encode("ascii"))

    def test_failed_request_is_silent_and_not_repeated_the_same_day(self):
        seen = days_back(10)
        self.write_data_file("update-state.txt",
                             state_text(days_back(1), seen, "2.3.0", PAGE))
        self.server.respond(500, "{}")
        expected = lines(notice("2.3.0", 80, PAGE))
        self.assert_downloaded(self.download(), expected)
        self.assertEqual(len(self.server.manifest_requests()), 1)
        self.assertEqual(self.read_data_file("update-state.txt"),
                         state_text(harness.today_text(), seen, "2.3.0", PAGE))

        self.assert_downloaded(self.download(), expected)
        self.assertEqual(len(self.server.manifest_requests()), 1)

    # -- notice and refusal ----------------------------------------------------
    def test_newer_version_gives_the_notice_with_ninety_days(self):
        for version in ("2.3.0", "2.10.0"):
            with self.subTest(version=version):
                self.write_data_file("update-state.txt", b"")
                self.server.respond(200, UpdateServer.manifest(version, PAGE))
                self.assert_downloaded(self.download(), lines(notice(version, 90, PAGE)))
                self.assertEqual(self.read_data_file("update-state.txt"),
                                 state_text(harness.today_text(), harness.today_text(), version,
                                            PAGE))

    def test_ninety_days_back_refuses_the_download(self):
        self.write_data_file("update-state.txt",
                             state_text(harness.today_text(), days_back(90), "2.3.0", PAGE))
        for quiet in ((), ("--quiet",)):
            with self.subTest(quiet=quiet):
                run = self.run_program(*quiet, self.url, "out.txt")
                self.assertEqual(run.stderr, lines(refusal(90, "2.3.0"), "Download: " + PAGE))
                self.assertEqual(run.stdout, b"")
                self.assertEqual(run.exit_code, 8)
                self.assertFalse(os.path.exists(self.path("out.txt")))
        self.assertEqual(self.target.requests, [])
        self.assertEqual(self.server.connects, [])

    def test_current_or_older_manifest_version_clears_the_deadline(self):
        for version in ("2.2.1", "2.2.01", "2.1.9"):
            with self.subTest(version=version):
                self.write_data_file("update-state.txt",
                                     state_text(days_back(1), days_back(120), "2.3.0", PAGE))
                self.server.respond(200, UpdateServer.manifest(version, PAGE))
                self.assert_downloaded(self.download())
                self.assertEqual(self.read_data_file("update-state.txt"),
                                 state_text(harness.today_text(), "", version, PAGE))

    def test_deadline_of_an_installed_update_is_forgotten(self):
        # An earlier release saw 2.2.1, the running version, as newer.
        for stored in ("2.2.1", "2.0.0"):
            with self.subTest(stored=stored):
                self.write_data_file("update-state.txt",
                                     state_text(harness.today_text(), days_back(120), stored,
                                                PAGE))
                self.assert_downloaded(self.download())
                self.assertEqual(self.server.manifest_requests(), [])

        # When the next due check names a newer version, its 90 days start
        # today.
        self.write_data_file("update-state.txt",
                             state_text(days_back(1), days_back(120), "2.2.1", PAGE))
        self.server.respond(200, UpdateServer.manifest("2.3.0", PAGE))
        self.assert_downloaded(self.download(), lines(notice("2.3.0", 90, PAGE)))
        self.assertEqual(self.read_data_file("update-state.txt"),
                         state_text(harness.today_text(), harness.today_text(), "2.3.0", PAGE))

    def test_notice_counts_down_from_the_stored_state_without_a_request(self):
        # The stored download page is used only when usable (which addresses
        # are is the manifest unit tests' table); day 89 leaves one day.
        for seen, stored, left, used in ((89, PAGE, 1, PAGE),
                                         (10, "https://downloads.example/a\x1b[2Jb", 80, None)):
            with self.subTest(seen=seen, stored=stored):
                self.write_data_file("update-state.txt",
                                     state_text(harness.today_text(), days_back(seen), "2.3.0",
                                                stored))
                self.assert_downloaded(self.download(),
                                       lines(notice("2.3.0", left, used or self.default_page)))
        self.assertEqual(self.server.manifest_requests(), [])

    # -- what the manifest must look like ---------------------------------------
    def test_manifest_acceptance(self):
        good = UpdateServer.manifest("2.3.0", PAGE)
        padding = 65536 - len('{"version":"2.3.0","pad":""}')
        largest = '{"version":"2.3.0","pad":"%s"}' % ("x" * padding)
        self.assertEqual(len(largest), 65536)
        default = self.default_page
        # label, status, body, headers, page of an accepted manifest or None
        cases = [
            ("blanks after the brace", 200, good + "   ", [], PAGE),
            ("line break after the brace", 200, good + "\n", [], None),
            ("byte-order mark", 200, b"\xef\xbb\xbf" + good.encode(), [], None),
            ("empty body", 200, b"", [], None),
            ("204", 204, b"", [], None),
            ("redirect", 302, b"", [("Location", "https://%s/tolvik-software/Holwerk/"
                                                 "holwerk-version.json" % harness.UPDATE_HOST)],
             None),
            ("65536 bytes", 200, largest, [], default),
            ("65537 bytes", 200, largest[:-1] + " }", [], None),
            ("invalid version", 200, UpdateServer.manifest("2.3", PAGE), [], None),
        ]
        for label, status, body, headers, page in cases:
            with self.subTest(label):
                self.write_data_file("update-state.txt", b"")
                self.server.clear()
                self.server.respond(status, body, headers)
                if page is not None:
                    expected_state = state_text(harness.today_text(), harness.today_text(),
                                                "2.3.0", page)
                    expected_err = lines(notice("2.3.0", 90, page))
                else:
                    expected_state = state_text(harness.today_text(), "", "", default)
                    expected_err = b""
                self.assert_downloaded(self.download(), expected_err)
                self.assertEqual(len(self.server.manifest_requests()), 1)
                self.assertEqual(self.read_data_file("update-state.txt"), expected_state)

    def test_unusable_download_address_from_the_manifest_is_ignored(self):
        # Which addresses are unusable is the manifest unit tests' table; here
        # one that would add a line to the state file, and a C1 control as
        # UTF-8 and as a raw byte, which a terminal takes for an escape.
        for address in (b"https://downloads.example/a\r\nnewer_seen=2000-01-01",
                        b"https://downloads.example/\xc2\x9b2J", b"https://downloads.example/\x9b2J"):
            with self.subTest(address=address):
                self.write_data_file("update-state.txt", b"")
                self.server.respond(200, b'{"version":"2.3.0","download_url":"' + address + b'"}')
                self.assert_downloaded(self.download(),
                                       lines(notice("2.3.0", 90, self.default_page)))
                self.assertEqual(self.read_data_file("update-state.txt"),
                                 state_text(harness.today_text(), harness.today_text(), "2.3.0",
                                            self.default_page))

    @unittest.skipIf(harness.UNDER_WINE, "Wine's client returns a read only when its piece is "
                     "full and does not end a waiting read when its handle is closed")
    def test_dripped_manifest_cannot_hold_up_the_download(self):
        # A byte every 4 seconds never meets the idle limits; the check gives
        # up after 15 seconds, silently, and is not repeated today.
        self.server.respond(200, UpdateServer.manifest("2.3.0", PAGE), drip=4)
        started = time.monotonic()
        self.assert_downloaded(self.download())
        self.assertLess(time.monotonic() - started, 25)
        self.assertEqual(self.read_data_file("update-state.txt"),
                         state_text(harness.today_text(), download_url=self.default_page))

    def test_unreachable_or_failing_update_server_is_silent(self):
        # Nothing listens on a bound port; what the "short" server sends is a
        # whole manifest, and its announced length says it is not all.
        closed = socket.socket()
        closed.bind(("127.0.0.1", 0))
        self.addCleanup(closed.close)
        # fault, port of the proxy, distinct requests (Wine's client repeats one
        # that was reset)
        cases = [("refuse", closed.getsockname()[1], 0), ("reset", None, 1), ("short", None, 1)]
        if not harness.UNDER_WINE:
            # Wine's client does not end a CONNECT that is never answered, by
            # its time-outs or when its handles are closed.
            cases.append(("stall", None, 0))
        for fault, port, requests in cases:
            with self.subTest(fault=fault):
                self.write_data_file("update-state.txt", b"")
                self.server.clear()
                self.server.respond(200, UpdateServer.manifest("2.3.0", PAGE), fault=fault)
                self.env.update(self.server.env(port))
                started = time.monotonic()
                self.assert_downloaded(self.download())
                self.assertLess(time.monotonic() - started, 17)
                self.assertEqual(len(set(self.server.manifest_requests())), requests)
                self.assertEqual(self.read_data_file("update-state.txt"),
                                 state_text(harness.today_text(), download_url=self.default_page))

    def test_manifest_from_a_server_that_is_not_trusted_is_not_believed(self):
        for certificate in ("other", "selfsigned", "wronghost", "expired"):
            with self.subTest(certificate=certificate):
                self.write_data_file("update-state.txt", b"")
                self.server.clear()
                self.server.use_certificate(certificate)
                self.server.respond(200, UpdateServer.manifest("2.3.0", PAGE))
                self.assert_downloaded(self.download())
                self.assertEqual(self.server.manifest_requests(), [])
                self.assertEqual(self.read_data_file("update-state.txt"),
                                 state_text(harness.today_text(), "", "", self.default_page))

    # -- the check cannot run -----------------------------------------------------
    def test_no_data_folder_skips_the_check_silently(self):
        company = os.path.dirname(self.data_folder())
        os.makedirs(os.path.dirname(company), exist_ok=True)
        with open(company, "wb") as file:
            file.write(b"a file where the company folder belongs")
        self.addCleanup(os.remove, company)
        self.server.respond(200, UpdateServer.manifest("2.3.0", PAGE))
        self.assert_downloaded(self.download())
        self.assertEqual(self.server.manifest_requests(), [])

    @unittest.skipIf(harness.UNDER_WINE, "Wine's registry cannot be made unwritable here")
    def test_no_installation_id_skips_the_check_silently(self):
        with open(self.env["XDG_CONFIG_HOME"], "wb") as file:
            file.write(b"a file where the configuration folder belongs")
        self.server.respond(200, UpdateServer.manifest("2.3.0", PAGE))
        self.assert_downloaded(self.download())
        self.assertEqual(self.server.manifest_requests(), [])
        self.assertIsNone(self.read_data_file("update-state.txt"))
        self.assertIsNone(self.read_data_file("installation-id.txt"))


if __name__ == "__main__":
    unittest.main()

"""The command line as a user meets it: help, version, refused command lines,
the start lines, an output that cannot be written, and (Windows) the
resources Explorer shows. Every expected text is the program's exact bytes."""

import collections
import os
import re
import struct
import subprocess
import unittest

import harness
from harness import START, UNDER_WINE, lines

HINT = "Verwenden Sie --help für die vollständige Hilfe."
HELP = lines(
    START, "Lädt eine HTTP- oder HTTPS-Ressource binärsicher in eine Datei.", "", "Aufruf:",
    "  holwerk [Optionen] URL [Datei]", "", "Optionen:",
    "  -h, --help             Diese Hilfe anzeigen.", "  --version              Programmversion"
    " anzeigen.", "  -head, --head          Nur die Antwort-Header speichern.",
    "  --force                Eine vorhandene Zieldatei ersetzen.",
    "  --quiet                Nur Fehler ausgeben.", "  --timeout SEKUNDEN     Netzwerk-Timeout,"
    " Standard: 30.", "  --max-redirects ANZAHL Weiterleitungen, Standard: 5.",
    "  --                     Ende der Optionsauswertung.", "", "Hinweise:",
    "  Ohne Protokoll wird https:// ergänzt.", "  Ohne Dateinamen wird holwerk.out verwendet.",
    "  Vorhandene Dateien werden nur mit --force ersetzt.",
    "  Beim Start wird höchstens einmal täglich nach Updates gesucht.",
    "  Eine erkannte neuere Version muss binnen 90 Tagen installiert werden.",
    "  Die Abfrage enthält eine zufällige, lokal gespeicherte Installations-ID.", "",
    "Beispiele:", "  holwerk https://example.com/ seite.html", "  holwerk --head https://"
    "example.com/ header.txt", "  holwerk --force --timeout 60 example.com datei.bin", "",
    "Autor: Tolvik Software", "Kontakt: kontakt@tolvik.example",
    "Webseite: https://www.tolvik.example/holwerk/")
AWAY = "127.0.0.1:%d/x" % harness.refused_port()  # nothing listens there
# stderr None: the one error line of a failed download; gone: the output
# whose reader is gone (1, 2) or that is closed (0)
Case = collections.namedtuple("Case", "args code stdout stderr gone", defaults=(None,))
CASES = [Case(args, 0, HELP, b"") for args in (["--help"], [], ["/?"], ["-H", "-y"])] + [
    Case(args, 0, lines(START), b"") for args in (["--version"], ["--quiet", "--version"],
                                                  ["--VERSION", "-x", "a", "b", "c"])] + [
    Case(["--HEAD", AWAY], 3, lines(START, "HEAD https://" + AWAY), None),
    Case(["--quiet", "http://" + AWAY], 3, b"", None),
    Case(["--help"], 0, b"", b"", gone=1), Case(["http://" + AWAY], 3, b"", None, gone=1),
    Case(["-x"], 2, b"", b"", gone=2), Case(["--help"], 0, b"", b"", gone=0),
] + [Case(args, 2, b"", lines("Fehler: " + error, HINT)) for args, error in [
    # Each refusal's text and range is the command-line unit tests' table;
    # here the console bytes and the arguments as the system hands them over.
    (["-x"], "Unbekannter Parameter: -x"),
    # Another scheme is refused here; a redirect to one only later (exit 7).
    (["ftp://" + AWAY], "Unterstützt werden ausschließlich HTTP- und HTTPS-URLs."),
    (["--Größe", "--help"], "Unbekannter Parameter: --Größe"),
    (["-\U0001F600"], "Unbekannter Parameter: -\U0001F600"),
    # Wine replaces bytes that are not UTF-8 before the program starts.
    ([b"\xff\xfe.bin"] if not UNDER_WINE else ["a", ""],
     "Ein leeres Argument ist nicht zulässig.")]]


class CommandLineTest(harness.ProgramTestCase):

    def test_table(self):
        for case in CASES:
            with self.subTest(args=case.args, gone=case.gone):
                reader, writer = os.pipe()
                os.close(reader)
                self.addCleanup(os.close, writer)
                options = {None: {}, 1: dict(stdout=writer), 2: dict(stderr=writer), 0: dict(
                    stdout=subprocess.DEVNULL, preexec_fn=lambda: os.close(1))}[case.gone]
                run = self.run_program(*case.args, **options)
                self.assertEqual((run.exit_code, run.stdout), (case.code, case.stdout))
                if case.stderr is None:
                    self.assertRegex(run.stderr, rb"^Fehler: [^\r\n]+\r\n$")
                else:
                    self.assertEqual(run.stderr, case.stderr)
                self.assertEqual(self.listing(), [])


def resource(kind, name=None):
    """wrestool's listing of the resources of `kind`, or one of them."""
    args = ["-l"] if name is None else ["--raw", "-x", "--name=%d" % name]
    return subprocess.run(["wrestool", *args, "--type=%d" % kind, harness.PROGRAM],
                          capture_output=True, check=True).stdout


@unittest.skipUnless(UNDER_WINE, "the resources belong to the Windows build")
class ResourcesTest(unittest.TestCase):

    def test_manifest_version_block_and_icon(self):
        for text in (b'name="TolvikSoftware.Holwerk"', b'version="2.2.1.0"', b'level="asInvoker"',
                     b'processorArchitecture="amd64"', b"longPathAware>true</"):
            self.assertIn(text, resource(24, 1))
        version = resource(16, 1)
        fixed = struct.unpack_from("<13I", version, version.index(struct.pack("<I", 0xFEEF04BD)))
        # 2.2.1.0 as file and product version, VOS_NT_WINDOWS32, VFT_APP.
        self.assertEqual(fixed[2:6] + fixed[8:10], (0x20002, 0x10000) * 2 + (0x40004, 1))
        for key, value in (("CompanyName", "Tolvik Software"), ("ProductName", "Holwerk"),
                           ("InternalName", "holwerk"), ("OriginalFilename", "holwerk.exe"),
                           ("FileVersion", "2.2.1.0"), ("ProductVersion", "2.2.1.0"), (
                               "FileDescription", "Holwerk - sicherer HTTP-/HTTPS-Dateidownload")):
            self.assertIn((key + "\0").encode("utf-16-le"), version)
            self.assertIn((value + "\0").encode("utf-16-le"), version)
        self.assertIn(struct.pack("<HH", 0x0407, 1200), version)  # German, UTF-16
        (group,) = re.findall(rb"--name=(\d+)", resource(14))
        data = resource(14, int(group))
        sizes = sorted(data[6 + 14 * n] for n in range(struct.unpack_from("<H", data, 4)[0]))
        self.assertEqual(sizes, [16, 32, 48])


if __name__ == "__main__":
    unittest.main()

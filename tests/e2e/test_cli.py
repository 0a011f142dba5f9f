"""The command line as a user meets it: help, version, refused command lines,
the start lines, a standard output that cannot be written, and (Windows) the
resources Explorer shows. Every expected text is the program's exact bytes."""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

import harness
from harness import START, UNDER_WINE, lines

HINT = "Verwenden Sie --help für die vollständige Hilfe."
HELP = lines(
    START, "Lädt eine HTTP- oder HTTPS-Ressource binärsicher in eine Datei.", "", "Aufruf:",
    "  holwerk [Optionen] URL [Datei]", "", "Optionen:",
    "  -h, --help             Diese Hilfe anzeigen.",
    "  --version              Programmversion anzeigen.",
    "  -head, --head          Nur die Antwort-Header speichern.",
    "  --force                Eine vorhandene Zieldatei ersetzen.",
    "  --quiet                Nur Fehler ausgeben.",
    "  --timeout SEKUNDEN     Netzwerk-Timeout, Standard: 30.",
    "  --max-redirects ANZAHL Weiterleitungen, Standard: 5.",
    "  --                     Ende der Optionsauswertung.", "", "Hinweise:",
    "  Ohne Protokoll wird https:// ergänzt.", "  Ohne Dateinamen wird holwerk.out verwendet.",
    "  Vorhandene Dateien werden nur mit --force ersetzt.",
    "  Beim Start wird höchstens einmal täglich nach Updates gesucht.",
    "  Eine erkannte neuere Version muss binnen 90 Tagen installiert werden.",
    "  Die Abfrage enthält eine zufällige, lokal gespeicherte Installations-ID.", "",
    "Beispiele:", "  holwerk https://example.com/ seite.html",
    "  holwerk --head https://example.com/ header.txt",
    "  holwerk --force --timeout 60 example.com datei.bin", "", "Autor: Tolvik Software",
    "Kontakt: kontakt@tolvik.example", "Webseite: https://www.tolvik.example/holwerk/")
REFUSED = "http://127.0.0.1:%d/" % harness.refused_port()
NOT_UTF8 = "Wine replaces bytes that are not UTF-8 before the program starts"
# arguments, exit code, standard output, standard error (None: one error line
# of a download that failed, nothing listens there), skip
CASES = [
    (["--help"], 0, HELP, b""), ([], 0, HELP, b""), (["/?"], 0, HELP, b""),
    (["-H", "--gibt-es-nicht"], 0, HELP, b""), (["--version"], 0, lines(START), b""),
    (["--VERSION", "-x", "a", "b", "c"], 0, lines(START), b""),
    (["--quiet", "--version"], 0, lines(START), b""),
    (["--HEAD", REFUSED[7:] + "x"], 3, lines(START, "HEAD https://" + REFUSED[7:] + "x"), None),
    (["--quiet", REFUSED], 3, b"", None),
] + [(args, 2, b"", lines("Fehler: " + error, HINT)) for args, error in [
    (["-x"], "Unbekannter Parameter: -x"), (["--quiet"], "Die URL fehlt."),
    (["--timeout"], "Nach --timeout wird eine ganze Zahl erwartet."),
    (["--timeout", "301", "a"], "Der Timeout muss zwischen 1 und 300 Sekunden liegen."),
    (["--timeout", "9" * 20, "a"], "Der Timeout muss zwischen 1 und 300 Sekunden liegen."),
    (["--max-redirects", "21", "a"], "Die Zahl der Weiterleitungen muss zwischen 0 und 20 liegen."),
    (["a", "b", "c"], "Zu viele Positionsparameter."),
    (["ftp://a/x"], "Unterstützt werden ausschließlich HTTP- und HTTPS-URLs."),
    (["a", ""], "Ein leeres Argument ist nicht zulässig."),
    (["--Größe", "--help"], "Unbekannter Parameter: --Größe"),
    (["-\U0001F600"], "Unbekannter Parameter: -\U0001F600"),
    ([b"\xff\xfe.bin"] if not UNDER_WINE else [], "Ein leeres Argument ist nicht zulässig.")]]


class CommandLineTest(harness.ProgramTestCase):

    def test_table(self):
        for args, code, stdout, stderr in CASES:
            with self.subTest(args=args):
                if args == [] and code == 2:
                    self.skipTest(NOT_UTF8)
                run = self.run_program(*args)
                self.assertEqual((run.exit_code, run.stdout), (code, stdout))
                if stderr is None:
                    self.assertRegex(run.stderr, rb"^Fehler: [^\r\n]+\r\n$")
                else:
                    self.assertEqual(run.stderr, stderr)
                self.assertEqual(self.listing(), [])

    def test_output_that_cannot_be_written_changes_no_exit_code(self):
        # args, the stream whose reader is gone (None: closed), exit code
        for args, stream, code in ((["--help"], 1, 0), ([REFUSED], 1, 3), (["-x"], 2, 2),
                                   (["--help"], None, 0)):
            with self.subTest(args=args, stream=stream):
                reader, writer = os.pipe()
                os.close(reader)
                streams = {1: -1, 2: -1}
                streams[stream or 1] = writer if stream else subprocess.DEVNULL
                process = subprocess.run(harness.RUNNER + [harness.PROGRAM] + args, cwd=self.cwd,
                                         env=self.env, stdin=subprocess.DEVNULL,
                                         stdout=streams[1], stderr=streams[2], check=False,
                                         timeout=harness.RUN_TIMEOUT, preexec_fn=None if stream
                                         else lambda: os.close(1))
                os.close(writer)
                self.assertEqual(process.returncode, code)
                other = process.stdout if stream == 2 else process.stderr
                self.assertTrue(other.startswith(b"Fehler: ") if code == 3 else other == b"")


def resource(kind, name=None):
    """wrestool's listing of the resources of `kind`, or one of them."""
    args = ["-l"] if name is None else ["--raw", "-x", "--name=%d" % name]
    return subprocess.run(["wrestool", *args, "--type=%d" % kind, harness.PROGRAM],
                          capture_output=True, check=True).stdout


@unittest.skipUnless(UNDER_WINE, "the resources belong to the Windows build")
class ResourcesTest(unittest.TestCase):

    def test_manifest_version_block_and_icon(self):
        manifest = resource(24, 1)
        for text in (b'name="TolvikSoftware.Holwerk"', b'version="2.2.1.0"', b'level="asInvoker"',
                     b'processorArchitecture="amd64"', b"<longPathAware>true</longPathAware>"):
            self.assertIn(text, manifest.replace(b"\r\n", b"\n"))
        version = resource(16, 1)
        fixed = struct.unpack_from("<13I", version, version.index(struct.pack("<I", 0xFEEF04BD)))
        # 2.2.1.0 as file and product version, VOS_NT_WINDOWS32, VFT_APP.
        self.assertEqual(fixed[2:6] + fixed[8:10], (0x20002, 0x10000) * 2 + (0x40004, 1))
        for key, value in (("CompanyName", "Tolvik Software"), ("ProductName", "Holwerk"),
                           ("OriginalFilename", "holwerk.exe"), ("FileVersion", "2.2.1.0"),
                           ("FileDescription", "Holwerk - sicherer HTTP-/HTTPS-Dateidownload"),
                           ("InternalName", "holwerk"), ("ProductVersion", "2.2.1.0")):
            self.assertIn((key + "\0").encode("utf-16-le"), version)
            self.assertIn(value.encode("utf-16-le"), version)
        self.assertIn(struct.pack("<HH", 0x0407, 1200), version)  # German, UTF-16
        (group,) = [line.split("--name=")[1].split()[0] for line in
                    resource(14).decode().splitlines()]
        data = resource(14, int(group))
        sizes = sorted(data[6 + 14 * n] for n in range(struct.unpack_from("<H", data, 4)[0]))
        self.assertEqual(sizes, [16, 32, 48])


class IconSourceTest(unittest.TestCase):

    def test_committed_icon_is_what_its_script_draws(self):
        resources = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                 "resources")
        with tempfile.TemporaryDirectory() as folder:
            subprocess.run([sys.executable, os.path.join(resources, "make_icon.py"),
                            os.path.join(folder, "i.ico")], check=True)
            drawn = open(os.path.join(folder, "i.ico"), "rb").read()
        self.assertEqual(open(os.path.join(resources, "holwerk.ico"), "rb").read(), drawn)


if __name__ == "__main__":
    unittest.main()

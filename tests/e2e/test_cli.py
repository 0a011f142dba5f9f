"""The command line as a user meets it: help, version, refused command lines,
the start lines before a download, and a standard output that cannot be
written. Every expected text is the program's exact bytes."""

import os
import socket
import subprocess
import unittest

import harness
from harness import lines

HINT = "Verwenden Sie --help für die vollständige Hilfe."

HELP = lines(
    "Holwerk 2.2.1",
    "Lädt eine HTTP- oder HTTPS-Ressource binärsicher in eine Datei.",
    "",
    "Aufruf:",
    "  holwerk [Optionen] URL [Datei]",
    "",
    "Optionen:",
    "  -h, --help             Diese Hilfe anzeigen.",
    "  --version              Programmversion anzeigen.",
    "  -head, --head          Nur die Antwort-Header speichern.",
    "  --force                Eine vorhandene Zieldatei ersetzen.",
    "  --quiet                Nur Fehler ausgeben.",
    "  --timeout SEKUNDEN     Netzwerk-Timeout, Standard: 30.",
    "  --max-redirects ANZAHL Weiterleitungen, Standard: 5.",
    "  --                     Ende der Optionsauswertung.",
    "",
    "Hinweise:",
    "  Ohne Protokoll wird https:// ergänzt.",
    "  Ohne Dateinamen wird holwerk.out verwendet.",
    "  Vorhandene Dateien werden nur mit --force ersetzt.",
    "  Beim Start wird höchstens einmal täglich nach Updates gesucht.",
    "  Eine erkannte neuere Version muss binnen 90 Tagen installiert werden.",
    "  Die Abfrage enthält eine zufällige, lokal gespeicherte Installations-ID.",
    "",
    "Beispiele:",
    "  holwerk https://example.com/ seite.html",
    "  holwerk --head https://example.com/ header.txt",
    "  holwerk --force --timeout 60 example.com datei.bin",
    "",
    "Autor: Tolvik Software",
    "Kontakt: kontakt@tolvik.example",
    "Webseite: https://www.tolvik.example/holwerk/",
)

VERSION = lines("Holwerk 2.2.1")


def refused_port():
    """A port on 127.0.0.1 that nothing listens on."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class HelpAndVersionTest(harness.ProgramTestCase):

    def test_help_is_thirty_two_crlf_lines_with_aligned_options(self):
        run = self.run_program("--help")
        self.assertEqual(run.exit_code, 0)
        self.assertEqual(run.stderr, b"")
        self.assertEqual(run.stdout, HELP)
        help_lines = run.stdout.split(b"\r\n")
        self.assertEqual(len(help_lines), 33)  # 32 lines, each ended by CR LF
        self.assertEqual(help_lines[-1], b"")
        self.assertNotIn(b"\n", b"".join(line for line in help_lines))
        for line in help_lines[7:15]:
            # Column 26, counted from 1, is index 25.
            self.assertEqual(line[24:25], b" ", line)
            self.assertNotEqual(line[25:26], b" ", line)
        self.assertIn("Lädt".encode("utf-8"), run.stdout)
        self.assertIn(b"L\xc3\xa4dt", run.stdout)

    def test_no_arguments_and_other_help_words_show_the_help(self):
        for args in ([], ["/?"], ["-H", "--gibt-es-nicht"]):
            with self.subTest(args=args):
                run = self.run_program(*args)
                self.assertEqual((run.exit_code, run.stdout, run.stderr), (0, HELP, b""))

    def test_version_is_one_line_even_with_more_arguments(self):
        for args in (["--version"], ["--VERSION", "-x", "a", "b", "c"]):
            with self.subTest(args=args):
                run = self.run_program(*args)
                self.assertEqual((run.exit_code, run.stdout, run.stderr), (0, VERSION, b""))

    def test_quiet_does_not_silence_help_or_version(self):
        run = self.run_program("--quiet", "--version")
        self.assertEqual((run.exit_code, run.stdout, run.stderr), (0, VERSION, b""))


class RefusedCommandLineTest(harness.ProgramTestCase):

    def assert_refused(self, args, message):
        run = self.run_program(*args)
        self.assertEqual(run.exit_code, 2, args)
        self.assertEqual(run.stdout, b"", args)
        self.assertEqual(run.stderr, lines("Fehler: " + message, HINT), args)

    def test_each_refusal_gives_one_error_line_and_the_hint(self):
        cases = [
            (["-x"], "Unbekannter Parameter: -x"),
            (["--quiet"], "Die URL fehlt."),
            (["--timeout"], "Nach --timeout wird eine ganze Zahl erwartet."),
            (["--timeout", "9" * 20, "example.com"],
             "Der Timeout muss zwischen 1 und 300 Sekunden liegen."),
            (["--max-redirects", "21", "example.com"],
             "Die Zahl der Weiterleitungen muss zwischen 0 und 20 liegen."),
            (["a", "b", "c"], "Zu viele Positionsparameter."),
            (["ftp://example.com/x"], "Unterstützt werden ausschließlich HTTP- und HTTPS-URLs."),
            (["example.com", ""], "Ein leeres Argument ist nicht zulässig."),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                self.assert_refused(args, message)

    def test_arguments_arrive_as_utf8_also_outside_the_bmp(self):
        self.assert_refused(["--Größe", "--help"], "Unbekannter Parameter: --Größe")
        self.assert_refused(["-\U0001F600"], "Unbekannter Parameter: -\U0001F600")

    @unittest.skipIf(harness.UNDER_WINE,
                     "Wine replaces bytes that are not UTF-8 by U+FFFD before the program "
                     "starts; a Windows command line cannot carry them at all")
    def test_argument_that_is_not_utf8_is_refused_as_empty(self):
        self.assert_refused([b"\xff\xfe.bin"], "Ein leeres Argument ist nicht zulässig.")


class StartLinesTest(harness.ProgramTestCase):
    """The run reaches the download; nothing listens at the target, so it
    fails there with exit code 3 and one error line, whatever the cause."""

    def assert_failed_in_download(self, run):
        self.assertEqual(run.exit_code, 3, run.stderr)
        self.assertTrue(run.stderr.startswith(b"Fehler: "), run.stderr)
        self.assertTrue(run.stderr.endswith(b"\r\n"), run.stderr)
        self.assertEqual(run.stderr.count(b"\r\n"), 1, run.stderr)

    def test_start_lines_show_the_version_method_and_completed_url(self):
        url = "127.0.0.1:%d/datei.bin" % refused_port()
        run = self.run_program("--HEAD", url, "ziel.bin")
        self.assert_failed_in_download(run)
        self.assertEqual(run.stdout, lines("Holwerk 2.2.1", "HEAD https://" + url))
        self.assertEqual(os.listdir(self.cwd), [])

    def test_quiet_leaves_standard_output_empty_but_not_the_error(self):
        run = self.run_program("--quiet", "http://127.0.0.1:%d/" % refused_port())
        self.assert_failed_in_download(run)
        self.assertEqual(run.stdout, b"")


class UnwritableOutputTest(harness.ProgramTestCase):
    """A standard output that cannot take the lines must not stop the run:
    the program ends with its normal exit code, and error lines still come."""

    def run_into_closed_pipe(self, *args):
        reader, writer = os.pipe()
        os.close(reader)
        try:
            return self.run_program(*args, stdout=writer)
        finally:
            os.close(writer)

    def test_help_into_a_closed_pipe_ends_with_exit_code_0(self):
        run = self.run_into_closed_pipe("--help")
        self.assertEqual((run.exit_code, run.stderr), (0, b""))

    def test_failed_download_into_a_closed_pipe_keeps_its_error_and_code(self):
        run = self.run_into_closed_pipe("http://127.0.0.1:%d/" % refused_port())
        self.assertEqual(run.exit_code, 3, run.stderr)
        self.assertTrue(run.stderr.startswith(b"Fehler: "), run.stderr)

    def test_refusal_into_a_closed_error_pipe_keeps_exit_code_2(self):
        reader, writer = os.pipe()
        os.close(reader)
        try:
            completed = subprocess.run(harness.RUNNER + [harness.PROGRAM, "-x"], cwd=self.cwd,
                                       env=self.env, stdin=subprocess.DEVNULL,
                                       stdout=subprocess.PIPE, stderr=writer,
                                       timeout=harness.RUN_TIMEOUT, check=False)
        finally:
            os.close(writer)
        self.assertEqual((completed.returncode, completed.stdout), (2, b""))

    def test_closed_standard_output_ends_with_exit_code_0(self):
        command = harness.RUNNER + [harness.PROGRAM, "--help"]
        completed = subprocess.run(command, cwd=self.cwd, env=self.env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE, timeout=harness.RUN_TIMEOUT,
                                   preexec_fn=lambda: os.close(1), check=False)
        self.assertEqual((completed.returncode, completed.stderr), (0, b""))


if __name__ == "__main__":
    unittest.main()

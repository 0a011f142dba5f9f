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

    def test_help_and_version_words_end_the_parse(self):
        cases = [
            (["--help"], HELP),
            ([], HELP),
            (["/?"], HELP),
            (["-H", "--gibt-es-nicht"], HELP),
            (["--version"], VERSION),
            (["--VERSION", "-x", "a", "b", "c"], VERSION),
            # --quiet does not silence help or version.
            (["--quiet", "--version"], VERSION),
        ]
        for args, expected in cases:
            with self.subTest(args=args):
                run = self.run_program(*args)
                self.assertEqual((run.exit_code, run.stdout, run.stderr), (0, expected, b""))


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
            # Arguments arrive as UTF-8, also outside the BMP.
            (["--Größe", "--help"], "Unbekannter Parameter: --Größe"),
            (["-\U0001F600"], "Unbekannter Parameter: -\U0001F600"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                self.assert_refused(args, message)

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

    def run_into_closed_pipe(self, *args, stream="stdout"):
        """Runs the program with `stream` a pipe whose reader is already gone."""
        reader, writer = os.pipe()
        os.close(reader)
        streams = {"stdout": subprocess.PIPE, "stderr": subprocess.PIPE, stream: writer}
        try:
            return subprocess.run(harness.RUNNER + [harness.PROGRAM, *args], cwd=self.cwd,
                                  env=self.env, stdin=subprocess.DEVNULL,
                                  timeout=harness.RUN_TIMEOUT, check=False, **streams)
        finally:
            os.close(writer)

    def test_help_into_a_closed_pipe_ends_with_exit_code_0(self):
        run = self.run_into_closed_pipe("--help")
        self.assertEqual((run.returncode, run.stderr), (0, b""))

    def test_failed_download_into_a_closed_pipe_keeps_its_error_and_code(self):
        run = self.run_into_closed_pipe("http://127.0.0.1:%d/" % refused_port())
        self.assertEqual(run.returncode, 3, run.stderr)
        self.assertTrue(run.stderr.startswith(b"Fehler: "), run.stderr)

    def test_refusal_into_a_closed_error_pipe_keeps_exit_code_2(self):
        run = self.run_into_closed_pipe("-x", stream="stderr")
        self.assertEqual((run.returncode, run.stdout), (2, b""))

    def test_closed_standard_output_ends_with_exit_code_0(self):
        command = harness.RUNNER + [harness.PROGRAM, "--help"]
        completed = subprocess.run(command, cwd=self.cwd, env=self.env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE, timeout=harness.RUN_TIMEOUT,
                                   preexec_fn=lambda: os.close(1), check=False)
        self.assertEqual((completed.returncode, completed.stderr), (0, b""))


if __name__ == "__main__":
    unittest.main()

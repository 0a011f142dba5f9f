"""The manual page: lint-free, and its options are exactly those of --help.

ctest passes the build through the environment:
  HOLWERK_PROGRAM      the built executable
  HOLWERK_RUNNER       blank-separated command in front of it (Wine for Windows)
  HOLWERK_MANUAL_PAGE  the roff source with the version filled in
  HOLWERK_MANUAL       the rendering the package ships: holwerk.1.gz natively,
                       holwerk.txt for Windows
"""

import gzip
import os
import subprocess
import unittest

from manual import help_options, manual_options

PROGRAM = os.environ["HOLWERK_PROGRAM"]
RUNNER = os.environ.get("HOLWERK_RUNNER", "").split()
PAGE = os.environ["HOLWERK_MANUAL_PAGE"]
MANUAL = os.environ["HOLWERK_MANUAL"]
TEXT_MANUAL = MANUAL.endswith(".txt")
UTF8 = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80")


def run_program(*arguments):
    result = subprocess.run(RUNNER + [PROGRAM] + list(arguments), capture_output=True,
                            timeout=60, check=True)
    return result.stdout.decode("utf-8").replace("\r\n", "\n")


def shipped_rendering():
    """The manual as a user reads it: the text file as it is, the manual page
    as man shows it."""
    if TEXT_MANUAL:
        with open(MANUAL, "rb") as file:
            return file.read().decode("utf-8").replace("\r\n", "\n")
    result = subprocess.run(["man", "-l", MANUAL], capture_output=True, env=UTF8, timeout=60,
                            check=True)
    return result.stdout.decode("utf-8")


class ManualTest(unittest.TestCase):
    def test_renders_without_warnings(self):
        # groff with every warning on, and man-db as lintian runs it.
        for command in (["groff", "-k", "-ww", "-z", "-man", PAGE],
                        ["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", PAGE]):
            with self.subTest(command=command[0]):
                result = subprocess.run(command, capture_output=True, env=UTF8, timeout=60)
                self.assertEqual((result.returncode, result.stderr.decode()), (0, ""))

    def test_lists_exactly_the_options_of_help(self):
        expected = help_options(run_program("--help"))
        self.assertIn("--max-redirects ANZAHL", expected)
        self.assertEqual(manual_options(shipped_rendering()), expected)

    def test_names_the_programs_version(self):
        version_line = run_program("--version").strip()
        self.assertIn(version_line, shipped_rendering())

    def test_shipped_form(self):
        with open(MANUAL, "rb") as file:
            data = file.read()
        if TEXT_MANUAL:
            # Plain text for Notepad: CR LF everywhere, no escape sequences or
            # overstriking left over from the terminal rendering.
            self.assertEqual(data.count(b"\n"), data.count(b"\r\n"))
            self.assertNotIn(b"\x1b", data)
            self.assertNotIn(b"\b", data)
            data.decode("utf-8")
        else:
            # gzip -9n as Debian compresses: no file name, no time stamp.
            flags, mtime = data[3], data[4:8]
            self.assertEqual((flags & 0x08, mtime), (0, b"\0\0\0\0"))
            with open(PAGE, "rb") as file:
                self.assertEqual(gzip.decompress(data), file.read())


if __name__ == "__main__":
    unittest.main()

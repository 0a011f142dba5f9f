"""The manual page renders without a groff or man warning, and the manual as
shipped (HOLWERK_MANUAL: holwerk.1.gz or .txt) lists exactly --help's options."""

import itertools
import os
import re
import subprocess
import unittest

UTF8 = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80")


def output(*command):
    return subprocess.run(command, capture_output=True, env=UTF8, timeout=60, check=True).stdout

class ManualTest(unittest.TestCase):
    def test_renders_without_warnings(self):
        page = os.environ["HOLWERK_MANUAL_PAGE"]
        for command in (["groff", "-k", "-ww", "-z", "-man", page],
                        ["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", page]):
            result = subprocess.run(command, capture_output=True, env=UTF8, timeout=60)
            self.assertEqual((result.returncode, result.stderr.decode()), (0, ""), command[0])

    def test_lists_exactly_the_options_of_help(self):
        # Help: two blanks, then the label in a field of 23 characters.
        runner = os.environ.get("HOLWERK_RUNNER", "").split()
        text = output(*runner, os.environ["HOLWERK_PROGRAM"], "--help").decode().replace("\r", "")
        lines = itertools.takewhile(lambda line: line.startswith("  "),
                                    text.split("Optionen:\n")[1].splitlines())
        expected = [line[2:25].strip() for line in lines]
        self.assertIn("--max-redirects ANZAHL", expected)
        # Manual: a tag is "-" at an indent of 7, text after 2 or more blanks.
        manual = os.environ["HOLWERK_MANUAL"]
        if manual.endswith(".txt"):
            with open(manual, "rb") as file:
                text = file.read().decode().replace("\r", "")
        else:
            text = output("man", "-l", manual).decode()
        section = re.search(r"\nOPTIONEN\n(.*?)\n(?=\S)", text, re.DOTALL).group(1)
        self.assertEqual([re.split(r" {2,}", line.strip())[0] for line in section.splitlines()
                          if re.match(r" {7}-", line)], expected)

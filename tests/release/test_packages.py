"""The release packages in dist/, as a user receives them.

scripts/test.sh runs this after scripts/release.sh, from this folder:
  HOLWERK_DIST         the folder with the three packages and SHA256SUMS
  HOLWERK_WINE_PREFIX  the Wine prefix to run the Windows program in
Nothing is installed: the Debian package is unpacked with dpkg-deb -x.
"""

import functools
import hashlib
import http.server
import os
import re
import struct
import subprocess
import sys
import tarfile
import tempfile
import threading
import unittest
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import harness  # noqa: E402  (the isolated user of the black-box tests)

DIST = os.path.abspath(os.environ.get("HOLWERK_DIST", os.path.join(ROOT, "dist")))
WINE_PREFIX = os.environ.get("HOLWERK_WINE_PREFIX",
                             os.path.join(ROOT, "build", "windows", "wineprefix"))


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as file:
        return re.search(r"project\(Holwerk VERSION ([0-9.]+)", file.read()).group(1)


VERSION = project_version()
ZIP = os.path.join(DIST, "holwerk-%s-win64.zip" % VERSION)
DEB = os.path.join(DIST, "holwerk_%s_amd64.deb" % VERSION)
TARBALL_FOLDER = "holwerk-%s-Linux-x86_64" % VERSION
TARBALL = os.path.join(DIST, TARBALL_FOLDER + ".tar.gz")

# What the native packages hold, below /usr in the Debian package and below
# the tarball's one folder.
NATIVE_FILES = {
    "bin/holwerk": 0o755,
    "share/doc/holwerk/README.md": 0o644,
    "share/doc/holwerk/changelog.gz": 0o644,
    "share/doc/holwerk/copyright": 0o644,
    "share/man/man1/holwerk.1.gz": 0o644,
}


def run(command, timeout=120, **options):
    return subprocess.run(command, capture_output=True, timeout=timeout, **options)


def unpacked_deb(folder):
    subprocess.run(["dpkg-deb", "-x", DEB, folder], check=True, timeout=60)
    return os.path.join(folder, "usr")


def tree(folder):
    """Every file below folder: relative path -> (mode, bytes)."""
    files = {}
    for base, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(base, name)
            with open(path, "rb") as file:
                files[os.path.relpath(path, folder)] = (os.stat(path).st_mode & 0o7777, file.read())
    return files


def pe_header(data):
    """(TimeDateStamp, PointerToSymbolTable, NumberOfSymbols, DllCharacteristics)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    self_check = data[pe:pe + 4]
    assert self_check == b"PE\0\0", self_check
    stamp, symbols, symbol_count = struct.unpack_from("<III", data, pe + 8)
    optional = pe + 24
    characteristics = struct.unpack_from("<H", data, optional + 70)[0]
    return stamp, symbols, symbol_count, characteristics


class SumsTest(unittest.TestCase):
    def test_sums_check_and_cover_exactly_the_packages(self):
        result = run(["sha256sum", "-c", "--strict", "SHA256SUMS"], cwd=DIST)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        listed = sorted(line.split(":")[0] for line in result.stdout.decode().splitlines())
        self.assertEqual(listed, sorted(os.path.basename(path) for path in (ZIP, DEB, TARBALL)))


class WindowsZipTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="holwerk-zip-")
        self.addCleanup(subprocess.run, ["rm", "-rf", self.folder])
        with zipfile.ZipFile(ZIP) as archive:
            self.names = archive.namelist()
            archive.extractall(self.folder)
        with open(os.path.join(self.folder, "holwerk.exe"), "rb") as file:
            self.exe = file.read()

    def test_holds_the_program_and_its_manual_only(self):
        self.assertEqual(self.names, ["holwerk.exe", "holwerk.txt"])

    def test_program_runs_under_wine(self):
        result = run([os.path.join(ROOT, "cmake", "wine-run.sh"), WINE_PREFIX,
                      os.path.join(self.folder, "holwerk.exe"), "--version"])
        self.assertEqual((result.returncode, result.stdout), (0, b"Holwerk %s\r\n" % VERSION.encode()))

    def test_program_is_stripped_hardened_undated_and_pathless(self):
        stamp, symbols, symbol_count, characteristics = pe_header(self.exe)
        self.assertEqual((stamp, symbols, symbol_count), (0, 0, 0))
        high_entropy_va, dynamic_base, nx_compat = 0x0020, 0x0040, 0x0100
        wanted = high_entropy_va | dynamic_base | nx_compat
        self.assertEqual(characteristics & wanted, wanted)
        # The stack protector's failure handler (libssp) is linked in only
        # when the code carries the protector's checks.
        self.assertIn(b"stack smashing detected", self.exe)
        self.assertNotIn(ROOT.encode(), self.exe)


class DebianPackageTest(harness.ProgramTestCase):
    def setUp(self):
        super().setUp()
        self.usr = unpacked_deb(os.path.join(self.work, "root"))

    def field(self, name):
        result = run(["dpkg-deb", "-f", DEB, name], check=True)
        return result.stdout.decode().strip()

    def test_control_fields(self):
        self.assertEqual(self.field("Package"), "holwerk")
        self.assertEqual(self.field("Version"), VERSION)
        self.assertRegex(self.field("Maintainer"), r"^Tolvik Software <[^@>]+@tolvik\.example>$")
        # Found by dpkg-shlibdeps from the program's libraries. The C++
        # runtime is linked in: loading and binding the shared one was most
        # of what a small download cost more than curl's.
        depends = [entry.split()[0] for entry in self.field("Depends").split(", ")]
        for library in ("libc6", "libcurl4"):
            self.assertIn(library, depends)
        self.assertNotIn("libstdc++6", depends)

    def test_holds_the_native_files(self):
        files = tree(self.usr)
        self.assertEqual({path: mode for path, (mode, _) in files.items()}, NATIVE_FILES)

    def test_program_downloads_from_a_local_server(self):
        body = hashlib.sha256(b"holwerk").digest() * 4096
        served = os.path.join(self.work, "served")
        os.makedirs(served)
        with open(os.path.join(served, "daten.bin"), "wb") as file:
            file.write(body)
        handler = functools.partial(_QuietHandler, directory=served)
        with http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler) as server:
            threading.Thread(target=server.serve_forever, daemon=True).start()
            url = "http://127.0.0.1:%d/daten.bin" % server.server_address[1]
            result = subprocess.run([os.path.join(self.usr, "bin", "holwerk"), "--quiet", url,
                                     "ziel.bin"], cwd=self.cwd, env=self.env,
                                    capture_output=True, timeout=harness.RUN_TIMEOUT)
            server.shutdown()
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, b"", b""))
        with open(self.path("ziel.bin"), "rb") as file:
            self.assertEqual(file.read(), body)

    def test_program_is_hardened(self):
        # Fortification is not required: every fortifiable call in the
        # program has a size known only at run time, so none is rewritten.
        result = run(["hardening-check", "--nofortify", "--nocfprotection",
                      os.path.join(self.usr, "bin", "holwerk")])
        self.assertEqual(result.returncode, 0, result.stdout.decode())
        for feature in ("Position Independent Executable", "Stack protected",
                        "Read-only relocations", "Immediate binding"):
            self.assertIn(" %s: yes" % feature, result.stdout.decode())

    def test_program_holds_no_build_path(self):
        with open(os.path.join(self.usr, "bin", "holwerk"), "rb") as file:
            self.assertNotIn(ROOT.encode(), file.read())

    def test_lintian_finds_no_error_or_warning(self):
        result = run(["lintian", "--fail-on", "error,warning", DEB], timeout=300)
        self.assertEqual(result.returncode, 0, result.stdout.decode())


class TarballTest(unittest.TestCase):
    def test_holds_the_files_of_the_debian_package_under_one_folder(self):
        with tempfile.TemporaryDirectory(prefix="holwerk-tar-") as folder:
            usr = unpacked_deb(os.path.join(folder, "deb"))
            with tarfile.open(TARBALL) as archive:
                self.assertEqual({name.split("/")[0] for name in archive.getnames()},
                                 {TARBALL_FOLDER})
                archive.extractall(os.path.join(folder, "tar"))
            self.assertEqual(tree(os.path.join(folder, "tar", TARBALL_FOLDER)), tree(usr))


class _QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *arguments):
        pass


if __name__ == "__main__":
    unittest.main()

"""The packages in HOLWERK_DIST (dist/) as a user receives them: the archives
unpacked and never installed, the MSI's tables read, and a release signed with
a throwaway certificate."""

import os
import re
import shutil
import subprocess
import tarfile
import tempfile
import unittest
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DIST = os.path.abspath(os.environ.get("HOLWERK_DIST", os.path.join(ROOT, "dist")))
with open(os.path.join(ROOT, "CMakeLists.txt")) as cmake_file:
    VERSION = re.search(r"project\(Holwerk VERSION ([0-9.]+)", cmake_file.read()).group(1)
TAR, ZIP, DEB, MSI = ("holwerk-%s-Linux-x86_64.tar.gz" % VERSION, "holwerk-%s-win64.zip" % VERSION,
                      "holwerk_%s_amd64.deb" % VERSION, "holwerk-%s-x64.msi" % VERSION)



def run(*command, **options):
    return subprocess.run(command, capture_output=True, timeout=300, **options)


def read(path):
    with open(path, "rb") as file:
        return file.read()


def tree(folder):  # relative path -> (mode, bytes)
    paths = [os.path.join(base, name) for base, _, names in os.walk(folder) for name in names]
    return {os.path.relpath(path, folder): (os.stat(path).st_mode & 0o7777, read(path))
            for path in paths}


def msi_table(package, name):  # the rows of one table, each a list of texts
    # msiinfo export: the column names, their types and the key come first.
    lines = run("msiinfo", "export", package, name, check=True).stdout.decode().splitlines()
    return [line.split("\t") for line in lines[3:]]


class PackagesTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="holwerk-packages-")
        self.addCleanup(shutil.rmtree, self.folder)

    def assertRunsVersion(self, *command):
        result = run(*command, "--version")
        self.assertEqual((result.returncode, result.stdout), (0, b"Holwerk %s\r\n" % VERSION.encode()))

    def test_sums_and_zip_hold_the_program_and_it_runs_under_wine(self):
        result = run("sha256sum", "-c", "--strict", "SHA256SUMS", cwd=DIST, check=True)
        self.assertEqual(sorted(line.split(":")[0] for line in result.stdout.decode().splitlines()),
                         sorted([TAR, ZIP, DEB, MSI]))
        with zipfile.ZipFile(os.path.join(DIST, ZIP)) as archive:
            self.assertEqual(archive.namelist(), ["holwerk.exe", "holwerk.txt"])
            archive.extractall(self.folder)
        prefix = os.environ.get("HOLWERK_WINE_PREFIX", ROOT + "/build/windows/wineprefix")
        self.assertRunsVersion(ROOT + "/cmake/wine-run.sh", prefix, self.folder + "/holwerk.exe")

    def test_deb_and_tarball_hold_the_program_and_manual_and_pass_lintian(self):
        run("dpkg-deb", "-x", os.path.join(DIST, DEB), self.folder + "/deb", check=True)
        with tarfile.open(os.path.join(DIST, TAR)) as archive:
            archive.extractall(self.folder + "/tar")
        files = tree(self.folder + "/deb/usr")
        self.assertEqual(tree(self.folder + "/tar"),
                         {TAR[:-7] + "/" + path: value for path, value in files.items()})
        self.assertEqual(files["bin/holwerk"][0], 0o755)
        self.assertIn("share/man/man1/holwerk.1.gz", files)
        self.assertRunsVersion(self.folder + "/deb/usr/bin/holwerk")
        result = run("lintian", "--fail-on", "error,warning", os.path.join(DIST, DEB))
        self.assertEqual(result.returncode, 0, result.stdout.decode())

    def test_signed_program_verifies_and_is_the_built_one_underneath(self):
        def sign(*command, **options):
            return run(*command, check=True, **dict(dict(cwd=self.folder), **options))
        sign("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
             "/CN=Test", "-addext", "extendedKeyUsage=codeSigning", "-keyout", "key", "-out", "cert")
        dist = self.folder + "/dist"
        sign(ROOT + "/scripts/release.sh", "--sign", self.folder + "/cert", self.folder + "/key",
             env=dict(os.environ, HOLWERK_DIST=dist))
        with zipfile.ZipFile(os.path.join(dist, ZIP)) as archive:
            archive.extract("holwerk.exe", self.folder)
        verified = sign("osslsigncode", "verify", "-CAfile", "cert", "-in", "holwerk.exe")
        self.assertIn(b"Signature verification: ok", verified.stdout)
        sign("osslsigncode", "remove-signature", "-in", "holwerk.exe", "-out", "unsigned.exe")
        with open(self.folder + "/unsigned.exe", "rb") as file, \
                open(ROOT + "/build/windows/holwerk.exe", "rb") as built:
            self.assertEqual(file.read(), built.read())
        sign("sha256sum", "-c", "--strict", "SHA256SUMS", cwd=dist)
        verified = sign("osslsigncode", "verify", "-CAfile", "cert", "-in", os.path.join(dist, MSI))
        self.assertIn(b"Signature verification: ok", verified.stdout)
        sign("msiextract", "-C", "msi", os.path.join(dist, MSI))
        self.assertEqual(read(self.folder + "/msi/Tolvik Software/Holwerk/holwerk.exe"),
                         read(self.folder + "/holwerk.exe"))


class InstallerTablesTest(unittest.TestCase):
    """The MSI's tables as msiinfo reads them."""

    def setUp(self):
        self.package = os.path.join(DIST, MSI)
        self.properties = dict(msi_table(self.package, "Property"))

    def test_product_is_holwerk_by_tolvik_software_in_german_per_machine_without_change_or_repair(self):
        names = ("ProductName", "Manufacturer", "ProductVersion", "ProductLanguage", "ALLUSERS",
                 "ARPNOMODIFY", "ARPNOREPAIR")
        self.assertEqual([self.properties.get(name) for name in names],
                         ["Holwerk", "Tolvik Software", VERSION, "1031", "1", "1", "1"])
        summary = run("msiinfo", "suminfo", self.package, check=True).stdout.decode().splitlines()
        self.assertIn("Template: x64;1031", summary)

    def test_installation_folder_is_appended_to_the_machine_path_and_removed_with_it(self):
        self.assertEqual([row[1:3] for row in msi_table(self.package, "Environment")],
                         [["=-*PATH", "[~];[INSTALLDIR]"]])

    def test_older_versions_are_replaced_and_a_newer_one_refuses_in_german(self):
        upgrade = msi_table(self.package, "Upgrade")
        self.assertEqual({row[0] for row in upgrade}, {self.properties["UpgradeCode"]})
        # Lowest and highest version, both excluded, and the attributes: 1, an
        # older version found is removed; 2, a newer one is only detected.
        self.assertEqual(sorted(row[1:3] + row[4:5] for row in upgrade),
                         [["", VERSION, "1"], [VERSION, "", "2"]])
        newer_found = [row[6] for row in upgrade if row[1] == VERSION]
        self.assertEqual(msi_table(self.package, "LaunchCondition"),
                         [["NOT " + newer_found[0],
                           "Eine neuere Version von Holwerk ist bereits installiert."]])


"""The packages in HOLWERK_DIST (dist/) as a user receives them: the archives
unpacked and never installed, the MSI's tables read and the MSI installed,
upgraded and removed under Wine in a prefix of its own, winget's manifests of
the MSI, and a release signed with a throwaway certificate."""

import hashlib
import os
import pathlib
import re
import shutil
import subprocess
import tarfile
import tempfile
import time
import unittest
import zipfile

import yaml

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DIST = os.path.abspath(os.environ.get("HOLWERK_DIST", os.path.join(ROOT, "dist")))
VERSION = re.search(r"project\(Holwerk VERSION ([0-9.]+)",
                    pathlib.Path(ROOT, "CMakeLists.txt").read_text()).group(1)
TAR, ZIP, DEB, MSI = ("holwerk-%s-Linux-x86_64.tar.gz" % VERSION, "holwerk-%s-win64.zip" % VERSION,
                      "holwerk_%s_amd64.deb" % VERSION, "holwerk-%s-x64.msi" % VERSION)
INSTALL_FOLDER = "C:\\Program Files\\Tolvik Software\\Holwerk"
MACHINE_ENVIRONMENT = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment"
UNINSTALL = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
OLDER_VERSION = "1.0.0"  # below every release
# msiexec's ERROR_INSTALL_FAILURE, of which Unix sees the low byte.
INSTALL_FAILURE = 1603 & 0xFF


def run(*command, **options):
    return subprocess.run(command, capture_output=True, timeout=300, **options)


def read(path):
    return pathlib.Path(path).read_bytes()


def tree(folder):  # relative path -> (mode, bytes)
    paths = [os.path.join(base, name) for base, _, names in os.walk(folder) for name in names]
    return {os.path.relpath(path, folder): (os.stat(path).st_mode & 0o7777, read(path))
            for path in paths}


def contents(folder):  # relative path -> bytes
    return {path: data for path, (_, data) in tree(folder).items()}


def msi_table(package, name):  # the rows of one table, each a list of texts
    # msiinfo export: the column names, their types and the key come first.
    lines = run("msiinfo", "export", package, name, check=True).stdout.decode().splitlines()
    return [line.split("\t") for line in lines[3:]]


def path_entries(path):
    return [entry for entry in path.split(";") if entry]


def winget_manifests(dist):  # manifest type -> (file name, manifest)
    folder = pathlib.Path(dist, "winget")
    manifests = [(path.name, yaml.safe_load(path.read_text("utf-8"))) for path in folder.iterdir()]
    return {manifest["ManifestType"]: (name, manifest) for name, manifest in manifests}


def sha256(path):
    return hashlib.sha256(read(path)).hexdigest()


class PackagesTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="holwerk-packages-")
        self.addCleanup(shutil.rmtree, self.folder)

    def test_sums_name_every_package_and_the_zip_holds_program_and_manual(self):
        result = run("sha256sum", "-c", "--strict", "SHA256SUMS", cwd=DIST, check=True)
        self.assertEqual(sorted(line.split(":")[0] for line in result.stdout.decode().splitlines()),
                         sorted([TAR, ZIP, DEB, MSI]))
        with zipfile.ZipFile(os.path.join(DIST, ZIP)) as archive:
            self.assertEqual(archive.namelist(), ["holwerk.exe", "holwerk.txt"])

    def test_deb_and_tarball_hold_the_program_and_manual_and_pass_lintian(self):
        run("dpkg-deb", "-x", os.path.join(DIST, DEB), self.folder + "/deb", check=True)
        with tarfile.open(os.path.join(DIST, TAR)) as archive:
            archive.extractall(self.folder + "/tar")
        files = tree(self.folder + "/deb/usr")
        self.assertEqual(tree(self.folder + "/tar"),
                         {TAR[:-7] + "/" + path: value for path, value in files.items()})
        self.assertEqual(files["bin/holwerk"][0], 0o755)
        self.assertIn("share/man/man1/holwerk.1.gz", files)
        result = run(self.folder + "/deb/usr/bin/holwerk", "--version")
        self.assertEqual((result.returncode, result.stdout), (0, b"Holwerk %s\r\n" % VERSION.encode()))
        result = run("lintian", "--fail-on", "error,warning", os.path.join(DIST, DEB))
        self.assertEqual(result.returncode, 0, result.stdout.decode())

    def test_deb_program_is_hardened(self):
        """hardening-check's verdicts where it can judge; in the code the two
        it cannot: it needs a frame of variable size (the program has none)
        and an ELF note that Debian 12's own start files keep from programs."""
        run("dpkg-deb", "-x", os.path.join(DIST, DEB), self.folder, check=True)
        program = self.folder + "/usr/bin/holwerk"
        report = run("hardening-check", program).stdout.decode()
        for verdict in ("Position Independent Executable", "Stack protected",
                        "Read-only relocations", "Immediate binding"):
            self.assertIn(" %s: yes\n" % verdict, report)
        code = run("objdump", "-d", "-M", "intel", "--no-show-raw-insn", program,
                   check=True).stdout.decode()
        # A frame larger than a page is entered one touched page at a time.
        self.assertRegex(code, r"sub\s+rsp,0x1000\n\s*[0-9a-f]+:\s+or\s+QWORD PTR \[rsp\],0x0")
        # main, which the entry point hands to the C library, begins as the
        # target of an indirect branch must.
        header = run("readelf", "-h", program, check=True).stdout.decode()
        entry = re.search(r"Entry point address:\s+0x([0-9a-f]+)", header).group(1)
        main = re.search(r"(?m)^\s*%s:(?:.*\n)*?.*lea\s+rdi,\[rip\+0x[0-9a-f]+\]\s+# ([0-9a-f]+)"
                         % entry, code).group(1)
        self.assertRegex(code, r"(?m)^\s*%s:\s+endbr64$" % main)

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
        for signed in ("holwerk.exe", os.path.join(dist, MSI)):
            verified = sign("osslsigncode", "verify", "-CAfile", "cert", "-in", signed)
            self.assertIn(b"Signature verification: ok", verified.stdout)
        sign("osslsigncode", "remove-signature", "-in", "holwerk.exe", "-out", "unsigned.exe")
        self.assertEqual(read(self.folder + "/unsigned.exe"), read(ROOT + "/build/windows/holwerk.exe"))
        sign("sha256sum", "-c", "--strict", "SHA256SUMS", cwd=dist)
        sign("msiextract", "-C", "msi", os.path.join(dist, MSI))
        self.assertEqual(read(self.folder + "/msi/Tolvik Software/Holwerk/holwerk.exe"),
                         read(self.folder + "/holwerk.exe"))
        [x64] = winget_manifests(dist)["installer"][1]["Installers"]
        self.assertEqual(x64["InstallerSha256"], sha256(os.path.join(dist, MSI)).upper())


class InstallerTablesTest(unittest.TestCase):
    """The MSI's tables as msiinfo reads them, and winget's manifests of the
    MSI as a YAML reader reads them."""

    def setUp(self):
        self.package = os.path.join(DIST, MSI)
        self.properties = dict(msi_table(self.package, "Property"))

    def test_product_is_in_german_for_x64_and_per_machine(self):
        # Name, publisher, version, no change or repair: the installed entry's.
        self.assertEqual([self.properties.get(name) for name in ("ProductLanguage", "ALLUSERS")],
                         ["1031", "1"])
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

    def test_winget_manifests_are_one_package_version_and_name_this_msi_by_address_and_hash(self):
        manifests = winget_manifests(DIST)
        version, installer, locale = (manifests[kind][1] for kind in
                                      ("version", "installer", "defaultLocale"))
        identifier = version["PackageIdentifier"]
        self.assertEqual({kind: name for kind, (name, _) in manifests.items()},
                         {"version": identifier + ".yaml",
                          "installer": identifier + ".installer.yaml",
                          "defaultLocale": "%s.locale.%s.yaml" % (identifier, locale["PackageLocale"])})
        self.assertEqual({(manifest["PackageIdentifier"], manifest["PackageVersion"],
                           manifest["ManifestVersion"]) for _, manifest in manifests.values()},
                         {(identifier, VERSION, version["ManifestVersion"])})
        self.assertEqual(version["DefaultLocale"], locale["PackageLocale"])

        [entry] = installer["AppsAndFeaturesEntries"]
        self.assertEqual([installer["ProductCode"], entry["ProductCode"], entry["UpgradeCode"],
                          entry["DisplayVersion"]],
                         [self.properties["ProductCode"], self.properties["ProductCode"],
                          self.properties["UpgradeCode"], VERSION])
        [x64] = installer["Installers"]
        cache = pathlib.Path(ROOT, "build/windows/CMakeCache.txt").read_text()
        download = re.search(r"^HOLWERK_DOWNLOAD_URL:STRING=(.*)$", cache, re.M).group(1)
        self.assertEqual([x64["Architecture"], x64["InstallerUrl"], x64["InstallerSha256"]],
                         ["x64", download + MSI, sha256(self.package).upper()])


class InstallerUnderWineTest(unittest.TestCase):
    """The MSI installed, upgraded and removed quietly, as an administrator
    would, in a Wine prefix of this class's own."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="holwerk-installer-")
        cls.prefix = cls.folder + "/wineprefix"
        with zipfile.ZipFile(os.path.join(DIST, ZIP)) as archive:
            archive.extractall(cls.folder + "/zip")
        # A captured run waits until every process it started has closed its
        # output, and Wine's server and services outlive each program by
        # seconds: they are started here, uncaptured, and kept until the end.
        quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        start = (ROOT + "/cmake/wine-run.sh", cls.prefix, "cmd", "/c", "exit")
        subprocess.run(start, **quiet)
        cls.wineserver("-w")
        cls.wineserver("-p")
        subprocess.run(start, **quiet)

    @classmethod
    def tearDownClass(cls):
        cls.wineserver("-k")
        cls.wineserver("-w")
        shutil.rmtree(cls.folder)

    @classmethod
    def wineserver(cls, option):
        subprocess.run(("wineserver", option), env=dict(os.environ, WINEPREFIX=cls.prefix),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)

    def wine(self, *command, cwd=None):
        return run(ROOT + "/cmake/wine-run.sh", self.prefix, *command, cwd=cwd or self.folder)

    def msiexec(self, option, package):  # the exit code
        folder, name = os.path.split(package)
        return self.wine("msiexec", option, name, "/qn", cwd=folder).returncode

    def registry(self, key):  # key path -> {value name: data}, for the key and below
        keys, values = {}, None
        for line in self.wine("reg", "query", key, "/s").stdout.decode().splitlines():
            if line.startswith("HKEY_"):
                values = keys.setdefault(line, {})
            elif line.startswith("    ") and values is not None:
                name, _, data = line[4:].split("    ", 2)
                values[name] = data
        return keys

    def machine_path(self):
        return next(iter(self.registry(MACHINE_ENVIRONMENT).values()))["PATH"]

    def installed(self):  # product code -> the entry under installed programs
        return {key.rsplit("\\", 1)[1]: values for key, values in self.registry(UNINSTALL).items()
                if values.get("DisplayName") == "Holwerk"}

    def in_prefix(self, windows_path):
        return os.path.join(self.prefix, "drive_c", *windows_path[3:].split("\\"))

    def build_older(self):
        source, package = self.folder + "/older.wxs", self.folder + "/older.msi"
        run("cmake", "-D", "HOLWERK_INSTALLER_VERSION=" + OLDER_VERSION,
            "-D", "HOLWERK_INSTALLER_SOURCE=" + source,
            "-P", ROOT + "/cmake/HolwerkInstallerSource.cmake", check=True)
        run(ROOT + "/scripts/make-msi.py", source, self.folder + "/zip/holwerk.exe",
            self.folder + "/zip/holwerk.txt", package, check=True,
            env=dict(os.environ, SOURCE_DATE_EPOCH=str(int(time.time()))))
        return package

    def test_installed_on_path_removed_without_trace_and_upgraded_but_never_downgraded(self):
        package, path = os.path.join(DIST, MSI), self.machine_path()
        self.assertEqual(self.msiexec("/i", package), 0)
        self.assertEqual(contents(self.in_prefix(INSTALL_FOLDER)), contents(self.folder + "/zip"))
        self.assertEqual(self.machine_path(), path + ";" + INSTALL_FOLDER + "\\")
        result = self.wine("cmd", "/c", "holwerk", "--version")
        self.assertEqual((result.returncode, result.stdout), (0, b"Holwerk %s\r\n" % VERSION.encode()),
                         result.stderr)
        [(product_code, entry)] = self.installed().items()
        self.assertEqual([entry.get(name) for name in ("DisplayName", "Publisher", "DisplayVersion",
                                                      "NoModify", "NoRepair")],
                         ["Holwerk", "Tolvik Software", VERSION, "0x1", "0x1"])
        self.assertEqual(read(self.in_prefix("C:\\windows\\Installer\\%s\\holwerk.ico" % product_code)),
                         read(ROOT + "/resources/holwerk.ico"))

        self.assertEqual(self.msiexec("/x", package), 0)
        self.assertEqual(self.installed(), {})
        self.assertFalse(os.path.exists(os.path.dirname(self.in_prefix(INSTALL_FOLDER))))
        # Wine leaves the separator before the removed entry behind.
        self.assertEqual(path_entries(self.machine_path()), path_entries(path))

        older = self.build_older()
        codes = [dict(msi_table(msi, "Property"))["ProductCode"] for msi in (older, package)]
        self.assertNotEqual(*codes)
        self.assertEqual(self.msiexec("/i", older), 0)
        self.assertEqual([entry["DisplayVersion"] for entry in self.installed().values()],
                         [OLDER_VERSION])
        self.assertEqual(self.msiexec("/i", package), 0)
        self.assertEqual([entry["DisplayVersion"] for entry in self.installed().values()], [VERSION])
        self.assertEqual(path_entries(self.machine_path()), path_entries(path) + [INSTALL_FOLDER + "\\"])
        self.assertEqual(self.msiexec("/i", older), INSTALL_FAILURE)
        self.assertEqual([entry["DisplayVersion"] for entry in self.installed().values()], [VERSION])
        self.assertTrue(os.path.isfile(self.in_prefix(INSTALL_FOLDER + "\\holwerk.exe")))

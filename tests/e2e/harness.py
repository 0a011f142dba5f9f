"""Runs the built program as a user would, in an isolated environment.

ctest passes the build through the environment:
  HOLWERK_PROGRAM     the built executable
  HOLWERK_RUNNER      blank-separated command in front of it ("" natively; the
                      Wine wrapper and its prefix for the Windows build)
  HOLWERK_BUILD_KIND  "native" or "windows"
  HOLWERK_BUILD_DIR   the build tree
  HOLWERK_UPDATE_HOST host of the update server that the build was made with
  HOLWERK_TRUST_CA    (Windows build) the tool that adds a certificate to the
                      Wine user's root store
"""

import datetime
import fcntl
import getpass
import hashlib
import os
import ssl
import shutil
import subprocess
import tempfile
import unittest
from dataclasses import dataclass

PROGRAM = os.environ.get("HOLWERK_PROGRAM", "")
RUNNER = os.environ.get("HOLWERK_RUNNER", "").split()
BUILD_KIND = os.environ.get("HOLWERK_BUILD_KIND", "native")
BUILD_DIR = os.environ.get("HOLWERK_BUILD_DIR", "")
UPDATE_HOST = os.environ.get("HOLWERK_UPDATE_HOST", "")
TRUST_TOOL = os.environ.get("HOLWERK_TRUST_CA", "")
UNDER_WINE = BUILD_KIND == "windows"

# Each program run gets at most this long; a hang is a failure, not a stall.
RUN_TIMEOUT = 60


@dataclass
class Run:
    exit_code: int
    stdout: bytes
    stderr: bytes


def wine_prefix():
    return RUNNER[1] if UNDER_WINE else None


def wine_user_folder():
    """The Wine user's profile folder inside the prefix (C:\\users\\NAME)."""
    return os.path.join(wine_prefix(), "drive_c", "users", getpass.getuser())


def lines(*texts):
    """Expected console bytes: each line as UTF-8 followed by CR LF."""
    return b"".join(text.encode("utf-8") + b"\r\n" for text in texts)


def today_text():
    """Today's date as the program writes it (the tests run with TZ=UTC)."""
    return datetime.datetime.now(datetime.timezone.utc).date().isoformat()


# A name that only the test proxy knows: a request for it can only succeed
# through the proxy. The test certificates name it beside "localhost".
PROXIED_HOST = "proxied.holwerk.invalid"

_test_pki = None


def test_pki():
    """The test CA and its certificates (certs.make_test_pki, for "localhost",
    the proxied host and the update host),
    made once per build tree and reused by every later test and run. Under
    Wine the CA is put into the prefix user's root store once per prefix."""
    global _test_pki
    if _test_pki is not None:
        return _test_pki
    import certs
    base = BUILD_DIR or tempfile.gettempdir()
    folder = os.path.join(base, "e2e-pki")
    with open(os.path.join(base, "e2e-pki.lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        hosts = ["localhost", PROXIED_HOST] + ([UPDATE_HOST] if UPDATE_HOST else [])
        marker = os.path.join(folder, "complete")
        try:
            with open(marker) as file:
                complete = file.read().split() == hosts
        except FileNotFoundError:
            complete = False
        if not complete:
            shutil.rmtree(folder, ignore_errors=True)
            certs.make_test_pki(folder, hosts)
            with open(marker, "w") as file:
                file.write(" ".join(hosts) + "\n")
        paths = {name: (os.path.join(folder, name + ".pem"), os.path.join(folder, name + ".key"))
                 for name in ("server", "wronghost", "other", "expired", "selfsigned")}
        paths["ca"] = os.path.join(folder, "ca.pem")
        if UNDER_WINE:
            _trust_in_wine(paths["ca"])
    _test_pki = paths
    return paths


def _trust_in_wine(ca_pem):
    with open(ca_pem) as file:
        der = ssl.PEM_cert_to_DER_cert(file.read())
    fingerprint = hashlib.sha256(der).hexdigest()
    marker = os.path.join(wine_prefix(), "holwerk-trusted-ca.txt")
    try:
        with open(marker) as file:
            if file.read().strip() == fingerprint:
                return
    except FileNotFoundError:
        pass
    der_path = ca_pem[:-4] + ".der"
    with open(der_path, "wb") as file:
        file.write(der)
    subprocess.run(RUNNER + [TRUST_TOOL, "Z:" + der_path], check=True, timeout=RUN_TIMEOUT,
                   stdout=subprocess.DEVNULL)
    with open(marker, "w") as file:
        file.write(fingerprint + "\n")


def tls_env():
    """What a program run needs to trust the test CA (the Wine prefix
    already does)."""
    return {} if UNDER_WINE else {"SSL_CERT_FILE": test_pki()["ca"]}


def proxy_env(proxy_url, no_proxy=()):
    """Proxy variables in each build's own form: natively http_proxy,
    https_proxy and a comma-separated no_proxy; Wine reads only http_proxy
    (for both schemes) and a ";"-separated no_proxy."""
    if UNDER_WINE:
        env = {"http_proxy": proxy_url}
        if no_proxy:
            env["no_proxy"] = ";".join(no_proxy)
        return env
    env = {"http_proxy": proxy_url, "https_proxy": proxy_url}
    if no_proxy:
        env["no_proxy"] = ",".join(no_proxy)
    return env


class ProgramTestCase(unittest.TestCase):
    """One clean user per test: own HOME and XDG folders (natively) or a
    cleared registry key and data folder (under Wine), a fixed time zone, no
    proxy variables. Tests that are not about the update check get a state
    file that says today's check is done, so they stay off the network."""

    place_update_state = True

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="holwerk-e2e-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.home = os.path.join(self.work, "home")
        self.cwd = os.path.join(self.work, "cwd")
        os.makedirs(self.home)
        os.makedirs(self.cwd)
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.home,
            "XDG_DATA_HOME": os.path.join(self.home, "data"),
            "XDG_CONFIG_HOME": os.path.join(self.home, "config"),
            "TZ": "UTC",
            "LANG": "C.UTF-8",
        }
        if UNDER_WINE:
            self._reset_wine_user()
        if self.place_update_state:
            self.write_data_file("update-state.txt",
                                 "last_check=%s\r\nnewer_seen=\r\nlatest_version=\r\n"
                                 "download_url=\r\n" % today_text())

    # -- the per-user data folder -------------------------------------------
    def data_folder(self):
        if UNDER_WINE:
            return os.path.join(wine_user_folder(), "AppData", "Local", "TolvikSoftware",
                                "Holwerk")
        return os.path.join(self.env["XDG_DATA_HOME"], "TolvikSoftware", "Holwerk")

    def write_data_file(self, name, text):
        os.makedirs(self.data_folder(), exist_ok=True)
        with open(os.path.join(self.data_folder(), name), "wb") as file:
            file.write(text.encode("utf-8") if isinstance(text, str) else text)

    def read_data_file(self, name):
        try:
            with open(os.path.join(self.data_folder(), name), "rb") as file:
                return file.read()
        except FileNotFoundError:
            return None

    def _reset_wine_user(self):
        shutil.rmtree(os.path.join(wine_user_folder(), "AppData", "Local", "TolvikSoftware"),
                      ignore_errors=True)
        subprocess.run(RUNNER + ["reg", "delete", r"HKCU\Software\TolvikSoftware", "/f"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=RUN_TIMEOUT, check=False)

    # -- running the program ------------------------------------------------
    def path(self, *parts):
        """A path below the test's working folder."""
        return os.path.join(self.cwd, *parts)

    def run_program(self, *args, env=None, timeout=RUN_TIMEOUT, stdout=subprocess.PIPE,
                    cwd=None):
        """Runs the program with exactly these arguments (bytes or str)."""
        command = RUNNER + [PROGRAM] + list(args)
        full_env = dict(self.env)
        if env:
            full_env.update(env)
        completed = subprocess.run(command, cwd=cwd or self.cwd, env=full_env,
                                   stdin=subprocess.DEVNULL, stdout=stdout,
                                   stderr=subprocess.PIPE, timeout=timeout, check=False)
        return Run(completed.returncode, completed.stdout or b"", completed.stderr)

"""Runs the built program as a user would, against local servers. ctest
passes the build in HOLWERK_PROGRAM, HOLWERK_RUNNER (the Wine wrapper and its
prefix, or nothing), HOLWERK_BUILD_KIND ("native" or "windows"),
HOLWERK_BUILD_DIR, HOLWERK_UPDATE_HOST and HOLWERK_TRUST_CA (the tool that adds
a certificate to the Wine user's root store)."""

import collections
import contextlib
import datetime
import fcntl
import getpass
import os
import random
import re
import resource
import shutil
import socket
import ssl
import struct
import subprocess
import tempfile
import threading
import time
import unittest

PROGRAM = os.environ.get("HOLWERK_PROGRAM", "")
RUNNER = os.environ.get("HOLWERK_RUNNER", "").split()
BUILD_DIR = os.environ.get("HOLWERK_BUILD_DIR", "") or tempfile.gettempdir()
UPDATE_HOST = os.environ.get("HOLWERK_UPDATE_HOST", "")
UNDER_WINE = os.environ.get("HOLWERK_BUILD_KIND", "native") == "windows"
NATIVE_ONLY = unittest.skipIf(UNDER_WINE, "the native layer's own file system and registry")
RUN_TIMEOUT = 60  # a run that takes longer hangs
PROMPT = 10  # a run that must end promptly, whatever the server does
CERTIFICATE_DAYS = "3650"
PIECE = 65536  # the test servers' receive size and their bound of a request head
STEP = 65536  # bytes a reply sends at once, the `pace` apart
CHUNK = 16384  # data bytes in each chunk of a chunked reply
CHUNK_HEAD = len(b"%x\r\n" % CHUNK)  # its size line; CR LF follows the data
RESET_DELAY = 0.2  # s: the client reads what came before a reset
POLL = 0.2  # s: how often a stalled connection looks for the client's close
HANDSHAKE_TIMEOUT = 30  # s
START = "Holwerk 2.2.1"
EXISTS = "Fehler: Die Zieldatei existiert bereits. Verwenden Sie --force zum Ersetzen."
READ_FAILED = "Fehler: Fehler beim Lesen der HTTP-Antwort: Windows-Fehler %d"
SEND_FAILED = "Fehler: HTTP-Anfrage ist fehlgeschlagen: Windows-Fehler %d"
Run = collections.namedtuple("Run", "exit_code stdout stderr peak")


def lines(*texts):
    """Expected console bytes: each line as UTF-8 followed by CR LF."""
    return b"".join(text.encode("utf-8") + b"\r\n" for text in texts)


def today(days_back=0):
    """A date as the program writes it (the runs have TZ=UTC)."""
    now = datetime.datetime.now(datetime.timezone.utc).date()
    return (now - datetime.timedelta(days=days_back)).isoformat()


def pattern(size, seed=0):
    return random.Random(seed).randbytes(size)


def refused_port():
    with socket.create_server(("127.0.0.1", 0)) as probe:
        return probe.getsockname()[1]


def slurp(path, mode="rb"):
    with open(path, mode) as file:
        return file.read()


def put(path, data=b""):
    with open(path, "wb") as file:
        file.write(data.encode() if isinstance(data, str) else data)


def proxy_env(url, no_proxy=()):
    """Proxy variables as each build reads them: Wine only http_proxy (for
    both schemes) and a ";"-separated no_proxy."""
    env = {"http_proxy": url} if UNDER_WINE else {"http_proxy": url, "https_proxy": url}
    if no_proxy:
        env["no_proxy"] = (";" if UNDER_WINE else ",").join(no_proxy)
    return env


def pki(name):
    """(certificate, key) of the test PKI, or the CA's file for "ca": made
    once per build tree, trusted once per Wine prefix. "server" is trusted
    for the hosts, "wronghost" for another host, "other" is another CA's."""
    folder = os.path.join(BUILD_DIR, "e2e-pki")
    marker, hosts = os.path.join(folder, "complete"), ["localhost", UPDATE_HOST]

    with open(folder + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(marker) or slurp(marker, "r").split() != hosts:
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)
            ca = ["basicConstraints=critical,CA:TRUE", "keyUsage=critical,keyCertSign,cRLSign"]
            leaf = ["basicConstraints=CA:FALSE", "extendedKeyUsage=serverAuth"]
            names = "subjectAltName=" + ",".join("DNS:" + host for host in hosts)
            for cert, issuer, extensions in (
                    ("ca", None, ca), ("other-ca", None, ca), ("server", "ca", [names, *leaf]),
                    ("wronghost", "ca", ["subjectAltName=DNS:wrong.invalid", *leaf]),
                    ("other", "other-ca", [names, *leaf])):
                issued = ["-CA", issuer + ".pem", "-CAkey", issuer + ".key"] if issuer else []
                subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days",
                                CERTIFICATE_DAYS, "-keyout", cert + ".key", "-out", cert + ".pem",
                                "-subj", "/CN=" + ("localhost" if issuer else "Holwerk " + cert),
                                *issued, *sum((["-addext", text] for text in extensions), [])],
                               cwd=folder, check=True, capture_output=True)
            put(marker, " ".join(hosts))
        if UNDER_WINE:
            der = ssl.PEM_cert_to_DER_cert(slurp(os.path.join(folder, "ca.pem"), "r"))
            trusted = os.path.join(RUNNER[1], "holwerk-trusted-ca.txt")
            if not os.path.exists(trusted) or slurp(trusted) != der:
                put(os.path.join(folder, "ca.der"), der)
                subprocess.run(RUNNER + [os.environ["HOLWERK_TRUST_CA"],
                                         "Z:" + os.path.join(folder, "ca.der")],
                               check=True, timeout=RUN_TIMEOUT, stdout=subprocess.DEVNULL)
                put(trusted, der)
    return os.path.join(folder, "ca.pem") if name == "ca" else tuple(
        os.path.join(folder, name + suffix) for suffix in (".pem", ".key"))


class Reply:
    """What the server answers to one target: `status`, `headers` and `body`
    (or `size` pattern bytes of `seed`); `length` "auto", None (no header) or
    any Content-Length text; `chunked`; `cut` after so many body bytes, then
    `after` ("close", "reset", or "stall": open and silent until the client
    goes); `raw` bytes instead of any response, then `after` or `repeat`ed
    bytes until the client goes; a `pace` after every `step` bytes; and
    (HTTPS) `close_notify` before the close."""

    DEFAULTS = dict(size=None, seed=0, length="auto", chunked=False, cut=None, after="close",
                    raw=None, repeat=None, pace=None, step=STEP, close_notify=False)

    def __init__(self, status=200, headers=(), body=b"", **more):
        assert set(more) <= set(self.DEFAULTS), more
        self.__dict__.update(self.DEFAULTS, status=status, headers=list(headers), body=body,
                             **more)
        if self.size is not None:
            self.body = pattern(self.size, self.seed)


def redirect(location, status=302):
    return Reply(status, [("Location", location)], b"moved\n")


def _read_head(connection):
    buffer = b""
    while b"\r\n\r\n" not in buffer:
        chunk = connection.recv(PIECE)
        if not chunk or len(buffer) > PIECE:
            return None, None
        buffer += chunk
    request_line, *fields = buffer.partition(b"\r\n\r\n")[0].split(b"\r\n")
    headers = (field.decode("latin-1").partition(":") for field in fields)
    return request_line, {name.lower(): value.strip() for name, _, value in headers}


class Server:
    """HTTP, or HTTPS with the test PKI's `certificate`, on 127.0.0.1, a
    thread per connection; routes[path] = Reply, for a request with a query
    or in the absolute form a proxy gets, too; else a 404. A `tunnel` server
    is first a proxy: it answers a CONNECT to "host:port" with routes["host:
    port"] itself when there is one (a proxy that forges the answer), else
    takes the CONNECT to the update host (or with `stall`, answers nothing)
    and then serves it itself. Records each request as (request line,
    {lower-case name: value})."""

    def __init__(self, certificate=None, host=None, tunnel=False):
        self.routes, self.requests, self.tls, self.tunnel = {}, [], None, tunnel
        self.closing = self.stall = False
        if certificate:
            self.use_certificate(certificate)
        # Under Wine the certificate name check fails for an IP address.
        self.host = host or ("localhost" if certificate else "127.0.0.1")
        self._socket = socket.create_server(("127.0.0.1", 0))
        self.port = self._socket.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()

    def use_certificate(self, name):
        self.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.tls.load_cert_chain(*pki(name))

    def url(self, path="/"):
        return "%s://%s:%d%s" % ("https" if self.tls else "http", self.host, self.port, path)

    def close(self):
        self.closing = True
        self._socket.close()

    def _accept(self):
        while True:
            try:
                connection = self._socket.accept()[0]
            except OSError:
                return
            threading.Thread(target=self._serve, args=(connection,), daemon=True).start()

    def _serve(self, connection):
        with connection, contextlib.suppress(OSError, ValueError):
            self._handle(connection)

    def _handle(self, connection):
        if self.tunnel:
            request_line = _read_head(connection)[0]
            self.requests.append((request_line, {}))
            if self.stall:
                return self._stall(connection)
            forged = self.routes.get(request_line.split(b" ")[1].decode() if request_line else "")
            if forged:
                return self._answer(connection, False, forged)
            if request_line != b"CONNECT %s:443 HTTP/1.1" % UPDATE_HOST.encode():
                return
            connection.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
        if self.tls:
            connection.settimeout(HANDSHAKE_TIMEOUT)
            connection = self.tls.wrap_socket(connection, server_side=True)
            connection.settimeout(None)
        request_line, headers = _read_head(connection)
        if request_line:
            self.requests.append((request_line, headers))
            target = re.sub("^https?://[^/]*", "", request_line.split(b" ")[1].decode())
            reply = self.routes.get(target, self.routes.get(target.split("?")[0]))
            self._answer(connection, request_line.startswith(b"HEAD "),
                         reply or Reply(404, body=b"not found\n"))

    def _answer(self, connection, head_only, reply):
        if reply.raw is not None:
            connection.sendall(reply.raw)
            while reply.repeat and not self.closing:
                connection.sendall(reply.repeat)
            return self._after(connection, reply.after)
        length = str(len(reply.body)) if reply.length == "auto" else reply.length
        headers = reply.headers + [("Connection", "close")] + (
            [("Transfer-Encoding", "chunked")] if reply.chunked else
            [("Content-Length", length)] if length is not None else [])
        connection.sendall(b"HTTP/1.1 %03d %s\r\n" % (reply.status, b"OK" if reply.status == 200
                                                     else b"S") + b"".join(
            b"%s: %s\r\n" % (name.encode(), value.encode("latin-1"))
            for name, value in headers) + b"\r\n")
        if head_only:
            return
        payload = reply.body[:reply.cut]
        if reply.chunked:
            pieces = (reply.body[at:at + CHUNK] for at in range(0, len(reply.body), CHUNK))
            payload = b"".join(b"%x\r\n%s\r\n" % (len(piece), piece) for piece in pieces)
            if reply.cut is not None:  # inside the data of a chunk
                whole = reply.cut // CHUNK
                payload = payload[:reply.cut + (CHUNK_HEAD + 2) * whole + CHUNK_HEAD]
            else:
                payload += b"0\r\n\r\n"
        for at in range(0, len(payload), reply.step):
            connection.sendall(payload[at:at + reply.step])
            time.sleep(reply.pace or 0)
        if reply.close_notify:
            connection.unwrap()
        self._after(connection, reply.after if reply.cut is not None else "close")

    def _after(self, connection, how):
        if how == "reset":
            time.sleep(RESET_DELAY)
            connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        elif how == "stall":
            self._stall(connection)

    def _stall(self, connection):
        connection.settimeout(POLL)
        while not self.closing:
            with contextlib.suppress(socket.timeout):
                if connection.recv(PIECE) == b"":
                    return


class ProgramTestCase(unittest.TestCase):
    """One clean user per test: own HOME and XDG folders, or under Wine a
    cleared registry key and data folder; TZ=UTC, no proxy, the test CA
    trusted. Unless the test is about the update check, today's check is
    recorded as done."""

    update_state = True

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="holwerk-e2e-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.home, self.cwd = os.path.join(self.work, "home"), os.path.join(self.work, "cwd")
        os.makedirs(self.cwd), os.makedirs(self.home)
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.home,
                    "XDG_DATA_HOME": os.path.join(self.home, "data"),
                    "XDG_CONFIG_HOME": os.path.join(self.home, "config"),
                    "TZ": "UTC", "LANG": "C.UTF-8"}
        self.data = os.path.join(self.env["XDG_DATA_HOME"], "TolvikSoftware", "Holwerk")
        if UNDER_WINE:
            self.data = os.path.join(RUNNER[1], "drive_c", "users", getpass.getuser(),
                                     "AppData", "Local", "TolvikSoftware", "Holwerk")
            shutil.rmtree(os.path.dirname(self.data), ignore_errors=True)
            subprocess.run(RUNNER + ["reg", "delete", r"HKCU\Software\TolvikSoftware", "/f"],
                           capture_output=True, timeout=RUN_TIMEOUT, check=False)
        else:
            self.env["SSL_CERT_FILE"] = pki("ca")
        if self.update_state:
            self.write_data("update-state.txt", "last_check=%s\r\nnewer_seen=\r\n"
                            "latest_version=\r\ndownload_url=\r\n" % today())

    def write_data(self, name, content):
        os.makedirs(self.data, exist_ok=True)
        put(os.path.join(self.data, name), content)

    def read_data(self, name):
        with contextlib.suppress(FileNotFoundError):
            return slurp(os.path.join(self.data, name))

    def path(self, *parts):
        return os.path.join(self.cwd, *parts)

    def read(self, name):
        return slurp(self.path(name))

    def listing(self):
        return sorted(os.listdir(self.cwd))

    def start(self, *args, prefix=(), env=None, **options):
        """Starts the program (after `prefix`, in place of the Wine runner)."""
        options = {"stdout": subprocess.PIPE, "stderr": subprocess.PIPE, **options}
        return subprocess.Popen(list(prefix or RUNNER) + [PROGRAM, *args], cwd=self.cwd,
                                env=dict(self.env, **(env or {})), stdin=subprocess.DEVNULL,
                                **options)

    def run_program(self, *args, timeout=RUN_TIMEOUT, **options):
        """Runs the program to its end; `peak` is the largest resident size of
        any process this test process has waited for yet, so at least this
        run's (under Wine, the loader's)."""
        process = self.start(*args, **options)
        try:
            stdout, stderr = process.communicate(timeout=timeout)
        finally:
            process.kill()
            process.wait()
        return Run(process.returncode, stdout or b"", stderr or b"",
                   resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss * 1024)  # KiB

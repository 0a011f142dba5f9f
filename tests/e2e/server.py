"""Scripted HTTP and HTTPS test server and a small forward proxy.

ScriptedServer serves, per request target, whatever a Reply describes: any
status and headers, bodies of any size made on the fly from a seed (so tests
compare sha256 instead of keeping the bytes), chunked bodies, and the ways a
server can misbehave: closing or resetting the connection in the middle of a
body, stalling, a body that never ends, a response head that never ends. It
records every request it reads (request line and headers).

Proxy is a forward proxy for plain HTTP (absolute-form requests) and for
CONNECT tunnels. It records the request lines it sees and sends every
connection to the address `upstream(host, port)` names (by default the host
and port asked for), so a test can point any host name at a local server.

Everything listens on 127.0.0.1 and runs in daemon threads; `with` blocks or
close() end them.
"""

import hashlib
import random
import socket
import ssl
import struct
import threading
import time
from dataclasses import dataclass, field

def pattern_bytes(size, seed=0):
    """`size` deterministic pseudo-random bytes for `seed`."""
    generator = random.Random(seed)
    return generator.randbytes(size)


def pattern_sha256(size, seed=0):
    return hashlib.sha256(pattern_bytes(size, seed)).hexdigest()


@dataclass
class Reply:
    """What the server answers for one request target.

    body          the body bytes, or None to use body_size pattern bytes of seed
    content_length  "auto" (the body's length), None (no header) or any text
    chunked       send the body with chunked transfer coding
    cut           stop after this many body bytes (then `after_cut`)
    after_cut     "close" (FIN), "reset" (RST) or "stall" (keep the connection
                  open, silent, until the client goes or the server closes)
    endless       after the head, send body bytes until the client goes
    head_never_ends  send the status line and one header, then stall
    keep_alive    keep the connection for another request (else "Connection: close")
    pace          pause this many seconds after every 64 KiB of the body
    interim       send this many "100 Continue" interim responses before the head
    trailers_never_end  (chunked) after the last chunk, send trailer lines until
                  the client goes
    header_line_never_ends  send the status line and then one header line that
                  never ends, until the client goes
    close_notify  (HTTPS) end TLS with close_notify before the connection closes;
                  otherwise the connection just closes, as anyone on the path
                  could close it
    """
    status: int = 200
    reason: str = ""
    headers: list = field(default_factory=list)
    body: bytes = b""
    body_size: int = None
    seed: int = 0
    content_length: object = "auto"
    chunked: bool = False
    cut: int = None
    after_cut: str = "close"
    endless: bool = False
    head_never_ends: bool = False
    keep_alive: bool = False
    pace: float = None
    interim: int = 0
    trailers_never_end: bool = False
    header_line_never_ends: bool = False
    close_notify: bool = False

    def body_bytes(self):
        if self.body_size is not None:
            return pattern_bytes(self.body_size, self.seed)
        return self.body


def redirect(location, status=302):
    return Reply(status=status, headers=[("Location", location)], body=b"moved\n")


@dataclass
class Request:
    method: str
    target: str
    version: str
    headers: list
    request_line: bytes

    def header(self, name):
        for key, value in self.headers:
            if key.lower() == name.lower():
                return value
        return None


REASONS = {200: "OK", 204: "No Content", 206: "Partial Content", 300: "Multiple Choices",
           301: "Moved Permanently", 302: "Found", 303: "See Other", 304: "Not Modified",
           305: "Use Proxy", 306: "Switch Proxy", 307: "Temporary Redirect",
           308: "Permanent Redirect", 404: "Not Found", 500: "Internal Server Error"}


def _read_head(connection, limit=65536):
    """Bytes up to and including the blank line, or None when the peer went."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = connection.recv(4096)
        if not chunk:
            return None, b""
        data += chunk
        if len(data) > limit:
            return None, b""
    head, _, rest = data.partition(b"\r\n\r\n")
    return head, rest


def _parse_head(head):
    lines = head.split(b"\r\n")
    request_line = lines[0]
    parts = request_line.decode("latin-1").split(" ")
    method, target, version = (parts + ["", "", ""])[:3]
    headers = []
    for line in lines[1:]:
        name, _, value = line.decode("latin-1").partition(":")
        headers.append((name.strip(), value.strip()))
    return Request(method, target, version, headers, request_line)


def _reset(connection):
    """Ends the connection with a TCP reset instead of a clean close."""
    try:
        raw = connection.unwrap() if isinstance(connection, ssl.SSLSocket) else connection
    except (OSError, ssl.SSLError):
        raw = connection
    try:
        raw.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except OSError:
        pass
    raw.close()


class _Listener:
    """Accept loop in a thread; one thread per connection."""

    def __init__(self):
        self._socket = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._socket.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self._socket.bind(("127.0.0.1", 0))
        self._socket.listen(64)
        self.port = self._socket.getsockname()[1]
        self.closing = threading.Event()
        self._connections = set()
        self._lock = threading.Lock()
        threading.Thread(target=self._accept_loop, daemon=True).start()

    def _accept_loop(self):
        while not self.closing.is_set():
            try:
                connection, _ = self._socket.accept()
            except OSError:
                return
            with self._lock:
                self._connections.add(connection)
            threading.Thread(target=self._serve, args=(connection,), daemon=True).start()

    def _serve(self, connection):
        try:
            self.handle(connection)
        except (OSError, ssl.SSLError):
            pass
        finally:
            with self._lock:
                self._connections.discard(connection)
            try:
                connection.close()
            except OSError:
                pass

    def handle(self, connection):
        raise NotImplementedError

    def close(self):
        self.closing.set()
        try:
            self._socket.close()
        except OSError:
            pass
        with self._lock:
            connections = list(self._connections)
        for connection in connections:
            try:
                connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class ScriptedServer(_Listener):
    """HTTP (or HTTPS, given a certificate and key) server driven by routes:
    server.routes[target] = Reply(...) or a function (Request) -> Reply.
    A target without a route gets a 404."""

    def __init__(self, certificate=None, key=None, host=None):
        self.routes = {}
        self.requests = []
        self.closed_by_client = []
        self._tls = None
        if certificate:
            self._tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self._tls.load_cert_chain(certificate, key)
        self.scheme = "https" if certificate else "http"
        # Under Wine the certificate name check fails for an IP address.
        self.host = host or ("localhost" if certificate else "127.0.0.1")
        super().__init__()

    def url(self, path="/"):
        return "%s://%s:%d%s" % (self.scheme, self.host, self.port, path)

    def request_lines(self):
        return [request.request_line for request in self.requests]

    def handle(self, connection):
        if not self._tls:
            self._converse(connection)
            return
        connection.settimeout(30)
        with self._tls.wrap_socket(connection, server_side=True) as secure:
            secure.settimeout(None)
            self._converse(secure)

    def _converse(self, connection):
        buffer = b""
        while not self.closing.is_set():
            while b"\r\n\r\n" not in buffer:
                chunk = connection.recv(4096)
                if not chunk or len(buffer) > 65536:
                    return
                buffer += chunk
            head, _, buffer = buffer.partition(b"\r\n\r\n")
            request = _parse_head(head)
            self.requests.append(request)
            route = self.routes.get(request.target)
            if route is None:
                route = self.routes.get(request.target.split("?")[0])
            reply = route(request) if callable(route) else route
            if reply is None:
                reply = Reply(status=404, body=b"not found\n")
            if not self._answer(connection, request, reply):
                return
            if not reply.keep_alive or (request.header("Connection") or "").lower() == "close":
                return

    def _answer(self, connection, request, reply):
        """Sends the reply; True when the connection may serve another request."""
        reason = reply.reason or REASONS.get(reply.status, "Status")
        head = "HTTP/1.1 %d %s\r\n" % (reply.status, reason)
        for start in range(0, reply.interim, 4096):
            connection.sendall(b"HTTP/1.1 100 Continue\r\n\r\n" * min(4096, reply.interim - start))
        if reply.header_line_never_ends:
            connection.sendall(head.encode("latin-1") + b"X-Endless: ")
            self._repeat(connection, b"e" * 16384)
            return False
        if reply.head_never_ends:
            connection.sendall(head.encode("latin-1") + b"X-Waiting: yes\r\n")
            self._stall(connection)
            return False
        body = reply.body_bytes()
        headers = list(reply.headers)
        if reply.chunked:
            headers.append(("Transfer-Encoding", "chunked"))
        elif reply.endless:
            pass
        elif reply.content_length == "auto":
            headers.append(("Content-Length", str(len(body))))
        elif reply.content_length is not None:
            headers.append(("Content-Length", str(reply.content_length)))
        if not reply.keep_alive:
            # One response per connection: Wine's client sometimes prints a
            # stray "wine client error" line on stderr when the process ends
            # while a pooled connection to the server is still open.
            headers.append(("Connection", "close"))
        for name, value in headers:
            head += "%s: %s\r\n" % (name, value)
        connection.sendall(head.encode("latin-1") + b"\r\n")
        if request.method == "HEAD":
            return not reply.endless
        if reply.endless:
            self._send_endless(connection, request)
            return False
        if reply.chunked:
            payload = b""
            for start in range(0, len(body), 16384):
                piece = body[start:start + 16384]
                payload += b"%x\r\n" % len(piece) + piece + b"\r\n"
            if reply.trailers_never_end:
                connection.sendall(payload + b"0\r\n")
                self._repeat(connection, b"X-Trailer: again\r\n" * 1024)
                return False
            if reply.cut is None:
                payload += b"0\r\n\r\n"
        else:
            payload = body
        cut = reply.cut
        if cut is not None and not reply.chunked:
            payload = payload[:cut]
        elif cut is not None:
            # For a chunked body, cut counts body bytes: keep whole chunk
            # framing up to that point and stop inside the data.
            payload = self._chunked_prefix(body, cut)
        piece = 1 << 16 if reply.pace else 1 << 20
        for start in range(0, len(payload), piece):
            try:
                connection.sendall(payload[start:start + piece])
            except (OSError, ssl.SSLError):
                if reply.pace:
                    return False
                raise
            if reply.pace:
                time.sleep(reply.pace)
        if reply.close_notify and isinstance(connection, ssl.SSLSocket):
            try:
                connection.unwrap()
            except (OSError, ssl.SSLError):
                pass
            return False
        if cut is None:
            return reply.content_length is not None or reply.chunked
        if reply.after_cut == "reset":
            time.sleep(0.2)
            _reset(connection)
        elif reply.after_cut == "stall":
            self._stall(connection)
        return False

    @staticmethod
    def _chunked_prefix(body, cut):
        payload = b""
        sent = 0
        for start in range(0, len(body), 16384):
            piece = body[start:start + 16384]
            payload += b"%x\r\n" % len(piece)
            take = min(len(piece), cut - sent)
            payload += piece[:take]
            sent += take
            if take < len(piece):
                break
            payload += b"\r\n"
        return payload

    def _stall(self, connection):
        """Keeps the connection open and silent until the client goes."""
        connection.settimeout(0.2)
        while not self.closing.is_set():
            try:
                if connection.recv(4096) == b"":
                    return
            except socket.timeout:
                continue
            except (OSError, ssl.SSLError):
                return

    def _repeat(self, connection, piece):
        """Sends the piece again and again until the client goes."""
        while not self.closing.is_set():
            try:
                connection.sendall(piece)
            except (OSError, ssl.SSLError):
                return

    def _send_endless(self, connection, request):
        started = time.monotonic()
        piece = pattern_bytes(16384, 7)
        while not self.closing.is_set():
            try:
                connection.sendall(piece)
            except (OSError, ssl.SSLError):
                self.closed_by_client.append((request.target, time.monotonic() - started))
                return
            time.sleep(0.005)


class Proxy(_Listener):
    """Forward proxy: absolute-form HTTP requests and CONNECT tunnels."""

    def __init__(self, upstream=None):
        self.upstream = upstream or (lambda host, port: (host, port))
        self.requests = []
        super().__init__()

    def url(self):
        return "http://127.0.0.1:%d" % self.port

    def request_lines(self):
        return [request.request_line for request in self.requests]

    def handle(self, connection):
        head, rest = _read_head(connection)
        if head is None:
            return
        request = _parse_head(head)
        self.requests.append(request)
        if request.method == "CONNECT":
            host, _, port = request.target.rpartition(":")
            target = self._open(host, int(port))
            if target is None:
                connection.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")
                return
            connection.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
            if rest:
                target.sendall(rest)
        else:
            # http://host:port/path -> origin form towards that host.
            address = request.target.split("://", 1)[-1]
            authority, slash, path = address.partition("/")
            host, _, port = authority.partition(":")
            target = self._open(host, int(port or 80))
            if target is None:
                connection.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")
                return
            line = "%s %s %s" % (request.method, slash + path, request.version)
            head_out = [line] + ["%s: %s" % pair for pair in request.headers
                                 if pair[0].lower() not in ("proxy-connection", "connection")]
            head_out.append("Connection: close")
            target.sendall(("\r\n".join(head_out) + "\r\n\r\n").encode("latin-1") + rest)
        self._pipe(connection, target)

    def _open(self, host, port):
        try:
            return socket.create_connection(self.upstream(host, port), timeout=10)
        except OSError:
            return None

    def _pipe(self, client, target):
        target.settimeout(None)

        def forward(source, sink):
            try:
                while True:
                    data = source.recv(65536)
                    if not data:
                        break
                    sink.sendall(data)
            except OSError:
                pass
            for side in (sink,):
                try:
                    side.shutdown(socket.SHUT_WR)
                except OSError:
                    pass

        back = threading.Thread(target=forward, args=(target, client), daemon=True)
        back.start()
        forward(client, target)
        back.join()
        target.close()

"""A stand-in for the maker's update server, reached through a CONNECT proxy.

The program finds the update server through its ordinary proxy route: natively
https_proxy=http://127.0.0.1:PORT, under Wine http_proxy (which Wine uses for
both schemes). On CONNECT to the build's update host, port 443, the proxy
terminates TLS itself with a certificate for that host from the test CA and
answers the request with the response the test has scripted. Every other
request is refused: the tests' own download server is reached directly,
through no_proxy (measured to be honoured natively and under Wine).

UpdateServer() takes the shared test PKI and starts listening; close() stops it.
  respond(status, body, headers, drip, fault)
                                  scripts the answer to every manifest GET;
                                  with drip, the body goes one byte every
                                  `drip` seconds; fault "stall" accepts and
                                  never answers, "reset" resets the connection
                                  once the request is read, "short" announces
                                  ten bytes more than it sends, then closes
  clear()                         forgets what was seen; answers 404 again
  use_certificate(name)           shows another certificate of the test PKI
  manifest(version, url)          a manifest body as the maker publishes it
  manifest_requests()             request lines seen inside the TLS tunnel
  connects                        request lines the proxy itself was sent
  env(port)                       variables for run_program: proxy (at port,
                                  by default this one) and trust
"""

import json
import socket
import ssl
import struct
import threading
import time
import urllib.parse

import harness

IO_TIMEOUT = 15


def _read_head(connection):
    """The bytes up to and including the blank line after the headers."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = connection.recv(4096)
        if not chunk:
            break
        data += chunk
        if len(data) > 65536:
            break
    head, _, rest = data.partition(b"\r\n\r\n")
    return head, rest


class UpdateServer:
    MANIFEST_PATH = "/tolvik-software/Holwerk/holwerk-version.json"

    def __init__(self):
        self.host = harness.UPDATE_HOST
        self.pki = harness.test_pki()
        self.use_certificate("server")
        self.lock = threading.Lock()
        self.requests = []
        self.connects = []
        self.response = (404, b"", [], None, None)
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]
        self.closed = False
        self.thread = threading.Thread(target=self._accept, daemon=True)
        self.thread.start()

    # -- what the tests use ---------------------------------------------------
    def env(self, port=None):
        proxy = "http://127.0.0.1:%d" % (port or self.port)
        env = harness.tls_env()
        env.update({"http_proxy": proxy} if harness.UNDER_WINE else {"https_proxy": proxy})
        return env

    def respond(self, status=200, body=b"", headers=None, drip=None, fault=None):
        if isinstance(body, str):
            body = body.encode("utf-8")
        with self.lock:
            self.response = (status, body, list(headers or []), drip, fault)

    def clear(self):
        """Forgets the requests seen so far, scripts a 404 and shows the
        trusted certificate again."""
        with self.lock:
            self.response = (404, b"", [], None, None)
            self.requests = []
            self.connects = []
        self.use_certificate("server")

    def use_certificate(self, name):
        """Shows one of certs.make_test_pki's certificates: "server" (trusted)
        or "other", "selfsigned", "expired", "wronghost" (to be refused)."""
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(*self.pki[name])
        self.context = context

    @staticmethod
    def manifest(version, download_url=None):
        document = {"version": version}
        if download_url is not None:
            document["download_url"] = download_url
        return json.dumps(document, separators=(",", ":"))

    def manifest_requests(self):
        with self.lock:
            return list(self.requests)

    def close(self):
        self.closed = True
        try:
            self.listener.close()
        except OSError:
            pass

    # -- the proxy ------------------------------------------------------------
    def _accept(self):
        while not self.closed:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(connection,), daemon=True).start()

    def _serve(self, connection):
        connection.settimeout(IO_TIMEOUT)
        try:
            head, _ = _read_head(connection)
            request_line = head.split(b"\r\n", 1)[0].decode("latin-1")
            parts = request_line.split(" ")
            if len(parts) != 3:
                return
            method, target, _ = parts
            with self.lock:
                self.connects.append(request_line)
                fault = self.response[4]
            if fault == "stall":
                # Until the client goes: only the program may end the wait.
                connection.settimeout(harness.RUN_TIMEOUT)
                while connection.recv(4096):
                    pass
            elif method == "CONNECT" and target == self.host + ":443":
                connection.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
                self._serve_update(connection)
            else:
                connection.sendall(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n"
                                   b"Connection: close\r\n\r\n")
        except (OSError, ssl.SSLError, ValueError):
            pass
        finally:
            try:
                connection.close()
            except OSError:
                pass

    def _serve_update(self, connection):
        tls = self.context.wrap_socket(connection, server_side=True)
        try:
            head, _ = _read_head(tls)
            if not head:
                return
            request_line = head.split(b"\r\n", 1)[0].decode("latin-1")
            with self.lock:
                self.requests.append(request_line)
                status, body, headers, drip, fault = self.response
            path = request_line.split(" ")[1] if " " in request_line else ""
            if urllib.parse.urlsplit(path).path != self.MANIFEST_PATH:
                status, body, headers, drip, fault = 404, b"", [], None, None
            if fault == "reset":
                tls.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                return
            lines = ["HTTP/1.1 %d %s" % (status, "Scripted")]
            lines += ["%s: %s" % header for header in headers]
            lines += ["Content-Length: %d" % (len(body) + (10 if fault == "short" else 0)),
                      "Connection: close"]
            head = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")
            if drip is None:
                tls.sendall(head + body)
            else:
                tls.sendall(head)
                for offset in range(len(body)):
                    if self.closed:
                        return
                    time.sleep(drip)
                    tls.sendall(body[offset:offset + 1])
            if fault == "short":
                return  # a bare close, as a connection cut on the way ends
            try:
                tls.unwrap()
            except (OSError, ssl.SSLError):
                pass
        finally:
            tls.close()

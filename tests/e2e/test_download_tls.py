"""The download over HTTPS and through a proxy: a trusted certificate works,
every other certificate fails, a redirect never leaves TLS for plain HTTP
(however the Location spells the scheme), and a proxy from the environment
carries the requests."""

import os
import unittest

import harness
import server
from harness import lines
from server import Reply, redirect

DOWNGRADE = "Fehler: Eine Weiterleitung von HTTPS auf unverschlüsseltes HTTP wurde blockiert."
SEND_FAILED = "Fehler: HTTP-Anfrage ist fehlgeschlagen: Windows-Fehler %d"
# A certificate from an unknown CA: WinINet under Wine reports the chain
# as not checkable for revocation, the POSIX layer as an invalid CA.
OTHER_CA_ERROR = 12057 if harness.UNDER_WINE else 12045


class HttpsTest(harness.ProgramTestCase):

    @classmethod
    def setUpClass(cls):
        pki = harness.test_pki()
        cls.plain = server.ScriptedServer()
        cls.tls = server.ScriptedServer(*pki["server"])
        cls.plain.routes["/plain"] = Reply(body=b"plain text")

    @classmethod
    def tearDownClass(cls):
        cls.plain.close()
        cls.tls.close()

    def setUp(self):
        super().setUp()
        self.env.update(harness.tls_env())
        self.plain.requests.clear()
        self.tls.requests.clear()

    def test_http_to_https_redirect_is_followed(self):
        self.tls.routes["/secure.bin"] = Reply(body_size=70000, seed=4)
        self.plain.routes["/upgrade"] = redirect(self.tls.url("/secure.bin"), status=301)
        url = self.plain.url("/upgrade")
        run = self.run_program(url, "secure.bin")
        self.assertEqual(run.exit_code, 0, run.stderr)
        self.assertEqual(run.stdout, lines(
            "Holwerk 2.2.1", "GET " + url, "Gespeichert: secure.bin", "Bytes: 70000",
            "HTTP-Status: 200", "Weiterleitungen: 1", "Ziel-URL: " + self.tls.url("/secure.bin")))
        with open(self.path("secure.bin"), "rb") as file:
            self.assertEqual(file.read(), server.pattern_bytes(70000, 4))
        self.assertEqual(self.tls.request_lines(), [b"GET /secure.bin HTTP/1.1"])

    def test_https_to_http_redirect_is_refused(self):
        # Lower case, capitals, and a scheme without "//" are all plain HTTP;
        # a start URL in capitals is held to TLS too.
        plain_port = self.plain.port
        https = self.tls.url("/down")
        for start, location in ((https, "http://127.0.0.1:%d/plain" % plain_port),
                                (https, "HTTP://127.0.0.1:%d/plain" % plain_port),
                                (https, "http:127.0.0.1:%d/plain" % plain_port),
                                ("HTTPS" + https[5:], "http://127.0.0.1:%d/plain" % plain_port)):
            with self.subTest(start=start, location=location):
                self.tls.routes["/down"] = redirect(location)
                run = self.run_program("--quiet", start, "out")
                self.assertEqual(run.exit_code, 6)
                self.assertEqual(run.stdout, b"")
                self.assertEqual(run.stderr, lines(DOWNGRADE, "HTTP-Status: 302"))
                self.assertEqual(os.listdir(self.cwd), [])
        self.assertEqual(self.plain.requests, [])


class CertificateTest(harness.ProgramTestCase):

    def test_certificate_not_trusted_is_refused(self):
        self.env.update(harness.tls_env())
        for certificate, error in (("selfsigned", 12045), ("wronghost", 12038),
                                   ("other", OTHER_CA_ERROR)):
            with self.subTest(certificate=certificate), \
                    server.ScriptedServer(*harness.test_pki()[certificate]) as bad:
                bad.routes["/x"] = Reply(body=b"must not be stored")
                run = self.run_program("--quiet", bad.url("/x"), "out")
                self.assertEqual(run.exit_code, 3)
                self.assertEqual(run.stdout, b"")
                self.assertEqual(run.stderr, lines(SEND_FAILED % error))
                self.assertEqual(bad.requests, [])
                self.assertEqual(os.listdir(self.cwd), [])


class ProxyTest(harness.ProgramTestCase):
    """The host name of these URLs resolves nowhere: only the proxy, which
    sends it to the local server, can reach it."""

    def test_plain_request_goes_through_the_proxy(self):
        with server.ScriptedServer() as origin, server.Proxy(
                upstream=lambda host, port: ("127.0.0.1", origin.port)) as proxy:
            origin.routes["/via-proxy"] = Reply(body=b"proxied")
            url = "http://%s:%d/via-proxy" % (harness.PROXIED_HOST, origin.port)
            run = self.run_program("--quiet", url, "out", env=harness.proxy_env(proxy.url()))
            self.assertEqual(run.exit_code, 0, run.stderr)
            with open(self.path("out"), "rb") as file:
                self.assertEqual(file.read(), b"proxied")
            self.assertEqual(proxy.request_lines(), [b"GET %s HTTP/1.1" % url.encode()])
            self.assertEqual(origin.request_lines(), [b"GET /via-proxy HTTP/1.1"])

    def test_https_request_is_tunnelled_through_the_proxy(self):
        pki = harness.test_pki()
        with server.ScriptedServer(*pki["server"], host=harness.PROXIED_HOST) as origin, \
                server.Proxy(upstream=lambda host, port: ("127.0.0.1", origin.port)) as proxy:
            origin.routes["/tunnel"] = Reply(body=b"tunnelled")
            env = harness.proxy_env(proxy.url())
            env.update(harness.tls_env())
            run = self.run_program("--quiet", origin.url("/tunnel"), "out", env=env)
            self.assertEqual(run.exit_code, 0, run.stderr)
            with open(self.path("out"), "rb") as file:
                self.assertEqual(file.read(), b"tunnelled")
            self.assertEqual(proxy.request_lines()[0].split(b" ")[:2],
                             [b"CONNECT", b"%s:%d" % (harness.PROXIED_HOST.encode(), origin.port)])
            self.assertEqual(origin.request_lines(), [b"GET /tunnel HTTP/1.1"])


if __name__ == "__main__":
    unittest.main()

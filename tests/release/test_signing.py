"""scripts/release.sh --sign: the ZIP's holwerk.exe carries a valid
Authenticode signature and is otherwise the program the build made.

scripts/test.sh runs this from this folder after the windows preset is
built. The certificate is a throwaway one, made here; the packages go to a
scratch folder, so dist/ stays as the unsigned release made it.
"""

import os
import subprocess
import tempfile
import unittest
import zipfile

from test_packages import ROOT, VERSION


def run(command, **options):
    return subprocess.run(command, capture_output=True, timeout=600, check=True, **options)


class SigningTest(unittest.TestCase):
    def test_signed_program_verifies_and_is_the_built_one_underneath(self):
        with tempfile.TemporaryDirectory(prefix="holwerk-sign-") as folder:
            cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
            run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                 "-subj", "/CN=Holwerk Test Signing", "-addext", "extendedKeyUsage=codeSigning",
                 "-keyout", key, "-out", cert])
            dist = os.path.join(folder, "dist")
            run([os.path.join(ROOT, "scripts", "release.sh"), "--sign", cert, key],
                env=dict(os.environ, HOLWERK_DIST=dist))
            with zipfile.ZipFile(os.path.join(dist, "holwerk-%s-win64.zip" % VERSION)) as zip:
                signed = os.path.join(folder, "holwerk.exe")
                with open(signed, "wb") as file:
                    file.write(zip.read("holwerk.exe"))
            verified = run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed])
            self.assertIn(b"Signature verification: ok", verified.stdout)
            unsigned = os.path.join(folder, "unsigned.exe")
            run(["osslsigncode", "remove-signature", "-in", signed, "-out", unsigned])
            with open(unsigned, "rb") as file, \
                    open(os.path.join(ROOT, "build", "windows", "holwerk.exe"), "rb") as built:
                self.assertEqual(file.read(), built.read())
            run(["sha256sum", "-c", "--strict", "SHA256SUMS"], cwd=dist)


if __name__ == "__main__":
    unittest.main()

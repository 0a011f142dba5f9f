"""A test certificate authority made at test time with openssl.

make_test_pki(folder, hosts) writes into `folder`:
  ca.pem / ca.key           the test CA
  server.pem / server.key   a certificate for `hosts` (DNS names), signed by the CA
  other-ca.pem, selfsigned.pem / selfsigned.key, expired.pem / expired.key,
  wronghost.pem / wronghost.key   certificates that a client must refuse
and returns a dict of those paths. Natively the program is told to trust the CA
through SSL_CERT_FILE; the Wine prefix trusts it through its user's root store.
"""

import os
import subprocess


def _openssl(*args, cwd):
    subprocess.run(["openssl"] + list(args), cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def _signed(folder, name, ca, subject, hosts, days="3650", start=None):
    key, csr, pem = name + ".key", name + ".csr", name + ".pem"
    ext = name + ".ext"
    with open(os.path.join(folder, ext), "w") as file:
        file.write("subjectAltName=" + ",".join("DNS:" + host for host in hosts) + "\n"
                   "basicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\n"
                   "extendedKeyUsage=serverAuth\n")
    _openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
             "-subj", "/CN=" + subject, cwd=folder)
    if start is None:
        _openssl("x509", "-req", "-in", csr, "-CA", ca + ".pem", "-CAkey", ca + ".key",
                 "-CAcreateserial", "-days", days, "-sha256", "-extfile", ext, "-out", pem,
                 cwd=folder)
    else:
        # An expired certificate: valid only on a day long past.
        _openssl("ca", "-batch", "-config", _mini_ca_config(folder, ca), "-in", csr,
                 "-startdate", start, "-enddate", "20010102000000Z", "-extfile", ext,
                 "-out", pem, "-notext", cwd=folder)
    return os.path.join(folder, pem), os.path.join(folder, key)


def _mini_ca_config(folder, ca):
    database = os.path.join(folder, "index.txt")
    open(database, "a").close()
    config = os.path.join(folder, "mini-ca.cnf")
    with open(config, "w") as file:
        file.write("[ca]\ndefault_ca=test\n[test]\ndatabase=%s\nnew_certs_dir=%s\n"
                   "certificate=%s.pem\nprivate_key=%s.key\nserial=%s/serial\n"
                   "default_md=sha256\npolicy=anything\n[anything]\ncommonName=supplied\n"
                   % (database, folder, os.path.join(folder, ca), os.path.join(folder, ca),
                      folder))
    with open(os.path.join(folder, "serial"), "w") as file:
        file.write("1000\n")
    return config


def _authority(folder, name, subject):
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650", "-sha256",
             "-keyout", name + ".key", "-out", name + ".pem", "-subj", "/CN=" + subject,
             "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)


def make_test_pki(folder, hosts):
    os.makedirs(folder, exist_ok=True)
    _authority(folder, "ca", "Holwerk Test CA")
    _authority(folder, "other-ca", "Holwerk Other Test CA")
    paths = {"ca": os.path.join(folder, "ca.pem")}
    paths["server"] = _signed(folder, "server", "ca", hosts[0], hosts)
    paths["wronghost"] = _signed(folder, "wronghost", "ca", "wrong.invalid", ["wrong.invalid"])
    paths["other"] = _signed(folder, "other", "other-ca", hosts[0], hosts)
    paths["expired"] = _signed(folder, "expired", "ca", hosts[0], hosts,
                               start="20000101000000Z")
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650", "-sha256",
             "-keyout", "selfsigned.key", "-out", "selfsigned.pem", "-subj", "/CN=" + hosts[0],
             "-addext", "subjectAltName=" + ",".join("DNS:" + host for host in hosts),
             cwd=folder)
    paths["selfsigned"] = (os.path.join(folder, "selfsigned.pem"),
                           os.path.join(folder, "selfsigned.key"))
    return paths

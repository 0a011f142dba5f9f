#!/usr/bin/env python3
"""Wall time and memory of local downloads: Holwerk against curl, wget and aria2c.

One run measures four cells, HTTP and HTTPS each with a large body (--large-gib)
and a small one (--small-bytes), served from tmpfs on 127.0.0.1 by an nginx
started here with a configuration of its own (Debian's defaults for sending
files), over HTTPS with a certificate from a throwaway CA made here with the
openssl command, trusted through SSL_CERT_FILE, --cacert and --ca-certificate.
Where nginx is not installed, a small Python server stands in (os.sendfile
over HTTP); it favours clients that read in large pieces, so its numbers are
not what a user sees against a real server, and the output names the server
that ran. In each cell the tools run in turns, each quiet and writing into the
same tmpfs folder; Holwerk keeps its flush and its write-through rename. A
first round per cell is a warm-up and measures peak resident memory (ru_maxrss
through GNU time, Debian package "time": a child forked from this Python
process would carry the interpreter's pages into its ru_maxrss, which the
kernel keeps across exec); the timed rounds spawn the tools directly.
Prints the server, the cores and the load average before and after, and per
cell and tool the median wall time, the median of its ratios to curl's wall
time in the same round (so that a change of load between rounds cancels out),
the median CPU time and the peak RSS. A tool that is not installed is skipped.

Not a test: ctest does not run it. Example:
    bench/download_benchmark.py --program build/linux/holwerk --large-runs 9 --small-runs 21
"""

import argparse
import datetime
import grp
import os
import pwd
import shutil
import socket
import ssl
import statistics
import subprocess
import sys
import tempfile
import threading
import time

CHUNK = 1 << 20
TIME = "/usr/bin/time"  # GNU time
STARTUP_SECONDS = 10  # how long nginx may take to accept connections


def make_source(path, size):
    """A file of `size` bytes that is not all zeros (one random MiB repeated)."""
    block = os.urandom(CHUNK)
    with open(path, "wb") as file:
        for offset in range(0, size, CHUNK):
            file.write(block[:min(CHUNK, size - offset)])


def make_pki(folder):
    """A throwaway CA and a certificate for 127.0.0.1 signed by it."""
    def openssl(*args):
        subprocess.run(["openssl"] + list(args), cwd=folder, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(os.path.join(folder, "server.ext"), "w") as file:
        file.write("subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n")
    openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
            "-days", "2", "-keyout", "ca.key", "-out", "ca.pem", "-subj", "/CN=Bench CA",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign")
    openssl("req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
            "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-days", "2", "-extfile", "server.ext", "-out", "server.pem")
    return os.path.join(folder, "ca.pem")


def free_port():
    """A loopback port that nothing listens on right now."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class NginxServer:
    """nginx serving `folder` on one loopback port over HTTP and another over
    HTTPS, as a child of this process with a configuration of its own."""

    def __init__(self, nginx, folder):
        self.ports = {"http": free_port(), "https": free_port()}
        prefix = os.path.join(folder, "nginx")
        os.makedirs(prefix)
        errors = os.path.join(prefix, "error.log")
        # Run by root, nginx's workers would become an unprivileged user that
        # cannot read this folder.
        user = ""
        if os.geteuid() == 0:
            user = "user %s %s;" % (pwd.getpwuid(os.geteuid()).pw_name,
                                    grp.getgrgid(os.getegid()).gr_name)
        temporary = " ".join("%s_temp_path %s;" % (kind, os.path.join(prefix, kind))
                             for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
        config = os.path.join(prefix, "nginx.conf")
        with open(config, "w") as file:
            file.write("""%s
daemon off;
worker_processes 1;
pid %s;
error_log %s;
events { worker_connections 64; }
http {
    %s
    access_log off;
    sendfile on;
    tcp_nopush on;
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:%d;
        listen 127.0.0.1:%d ssl;
        ssl_certificate %s;
        ssl_certificate_key %s;
        root %s;
    }
}
""" % (user, os.path.join(prefix, "nginx.pid"), errors, temporary,
       self.ports["http"], self.ports["https"], os.path.join(folder, "server.pem"),
       os.path.join(folder, "server.key"), folder))
        version = subprocess.run([nginx, "-v"], capture_output=True, text=True).stderr
        self.name = "nginx " + version.strip().split("/")[-1]
        self.process = subprocess.Popen([nginx, "-p", prefix, "-e", errors, "-c", config],
                                        stdin=subprocess.DEVNULL)
        deadline = time.monotonic() + STARTUP_SECONDS
        for port in self.ports.values():
            while True:
                try:
                    socket.create_connection(("127.0.0.1", port), timeout=1).close()
                    break
                except OSError:
                    if self.process.poll() is not None or time.monotonic() > deadline:
                        self.close()
                        sys.exit("nginx did not start: see %s" % errors)
                    time.sleep(0.05)

    def url(self, scheme, name):
        return "%s://127.0.0.1:%d/%s" % (scheme, self.ports[scheme], name)

    def close(self):
        self.process.terminate()
        self.process.wait()


class PythonServer:
    """The fallback: one server per scheme that answers GET /<name> with that
    file from `folder`, with Content-Length and Connection: close."""

    name = "Python fallback"

    def __init__(self, folder):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(os.path.join(folder, "server.pem"),
                                os.path.join(folder, "server.key"))
        self.servers = {"http": FileServer(folder), "https": FileServer(folder, context)}

    def url(self, scheme, name):
        return "%s://127.0.0.1:%d/%s" % (scheme, self.servers[scheme].port, name)

    def close(self):
        for server in self.servers.values():
            server.listener.close()


class FileServer:
    """Answers GET /<name> with that file from `folder`, with Content-Length
    and Connection: close; over TLS when given a context."""

    def __init__(self, folder, context=None):
        self.folder = folder
        self.context = context
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self.accept_loop, daemon=True).start()

    def accept_loop(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self.serve, args=(connection,), daemon=True).start()

    def serve(self, connection):
        try:
            if self.context is not None:
                connection = self.context.wrap_socket(connection, server_side=True)
            with connection:
                data = b""
                while b"\r\n\r\n" not in data:
                    chunk = connection.recv(4096)
                    if not chunk:
                        return
                    data += chunk
                name = os.path.basename(data.split(b" ")[1].decode("ascii"))
                with open(os.path.join(self.folder, name), "rb") as file:
                    size = os.fstat(file.fileno()).st_size
                    connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream"
                                       b"\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % size)
                    if self.context is None:
                        connection.sendfile(file)
                    else:
                        while block := file.read(CHUNK):
                            connection.sendall(block)
        except (OSError, ssl.SSLError):
            pass


def tool_commands(args, ca, url, output):
    """Each tool's command for one download, quiet, into `output`; None for
    a tool that is not installed."""
    secure = url.startswith("https:")
    holwerk = [os.path.abspath(args.program), "--quiet", "--force", url, output]
    curl = args.curl and [args.curl, "-q", "--silent", "--show-error", "--fail", "--http1.1",
                          "--output", output, url] + (["--cacert", ca] if secure else [])
    wget = args.wget and [args.wget, "--quiet", "--output-document", output, url] + (
        ["--ca-certificate", ca] if secure else [])
    aria2c = args.aria2c and [args.aria2c, "--quiet", "--allow-overwrite=true",
                              "--auto-file-renaming=false", "--dir", os.path.dirname(output),
                              "--out", os.path.basename(output), url] + (
        ["--ca-certificate", ca] if secure else [])
    return {"holwerk": holwerk, "curl": curl or None, "wget": wget or None,
            "aria2c": aria2c or None}


def run_once(command, env, work, memory):
    """Wall and CPU seconds of one run, and its peak RSS in KiB when `memory`."""
    errors = os.path.join(work, "stderr.txt")
    report = os.path.join(work, "rusage.txt")
    argv = [TIME, "-f", "%M", "-o", report] + command if memory else command
    actions = [(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
               (os.POSIX_SPAWN_OPEN, 2, errors, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)]
    started = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv, env, file_actions=actions)
    _, status, usage = os.wait4(pid, 0)
    elapsed = time.perf_counter() - started
    if os.waitstatus_to_exitcode(status) != 0:
        with open(errors) as file:
            sys.exit("%s failed (%d): %s" % (command[0], os.waitstatus_to_exitcode(status),
                                             file.read()))
    peak = None
    if memory:
        with open(report) as file:
            peak = int(file.read().split()[-1])
    return elapsed, usage.ru_utime + usage.ru_stime, peak


def bench_env(home, ca):
    """A user of its own whose Holwerk update check is already done for today,
    so the runs measure the download alone; SSL_CERT_FILE is how the native
    Holwerk is told to trust the CA."""
    data = os.path.join(home, "data")
    folder = os.path.join(data, "TolvikSoftware", "Holwerk")
    os.makedirs(folder, exist_ok=True)
    today = datetime.datetime.now(datetime.timezone.utc).date().isoformat()  # TZ=UTC below
    with open(os.path.join(folder, "update-state.txt"), "w", newline="") as file:
        file.write("last_check=%s\r\nnewer_seen=\r\nlatest_version=\r\ndownload_url=\r\n" % today)
    return {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": home, "TZ": "UTC",
            "XDG_DATA_HOME": data, "XDG_CONFIG_HOME": os.path.join(home, "config"),
            "SSL_CERT_FILE": ca}


def measure_cell(commands, size, runs, env, work, output):
    results = {name: [] for name, command in commands.items() if command}
    for round_number in range(runs + 1):
        for name in results:
            if os.path.exists(output):
                os.remove(output)
            results[name].append(run_once(commands[name], env, work, round_number == 0))
            if os.path.getsize(output) != size:
                sys.exit("%s stored %d bytes instead of %d" % (name, os.path.getsize(output), size))
    os.remove(output)
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", default="build/linux/holwerk", help="Holwerk executable")
    parser.add_argument("--curl", default=shutil.which("curl"))
    parser.add_argument("--wget", default=shutil.which("wget"))
    parser.add_argument("--aria2c", default=shutil.which("aria2c"))
    parser.add_argument("--nginx", default=shutil.which("nginx") or shutil.which("/usr/sbin/nginx"))
    parser.add_argument("--large-gib", type=float, default=1.0)
    parser.add_argument("--small-bytes", type=int, default=1024)
    parser.add_argument("--large-runs", type=int, default=9, help="timed runs of each tool")
    parser.add_argument("--small-runs", type=int, default=21, help="timed runs of each tool")
    parser.add_argument("--folder", default="/dev/shm", help="tmpfs for sources and outputs")
    args = parser.parse_args()
    for tool in ("curl", "wget", "aria2c"):
        if not getattr(args, tool):
            print("%s not installed: skipped" % tool)
    if not args.nginx:
        print("nginx not installed (scripts/setup.sh bench installs it): the Python server runs")

    large = int(args.large_gib * (1 << 30))
    load_before = os.getloadavg()[0]
    work = tempfile.mkdtemp(prefix="holwerk-bench-", dir=args.folder)
    table = []
    try:
        make_source(os.path.join(work, "large.bin"), large)
        make_source(os.path.join(work, "small.bin"), args.small_bytes)
        ca = make_pki(work)
        env = bench_env(os.path.join(work, "home"), ca)
        output = os.path.join(work, "download.out")
        server = NginxServer(args.nginx, work) if args.nginx else PythonServer(work)
        try:
            for scheme in ("http", "https"):
                for name, size, runs in (("large.bin", large, args.large_runs),
                                         ("small.bin", args.small_bytes, args.small_runs)):
                    commands = tool_commands(args, ca, server.url(scheme, name), output)
                    results = measure_cell(commands, size, runs, env, work, output)
                    table.append((scheme.upper(), size, runs, results))
        finally:
            server.close()
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print("server: %s; %d cores, load average %.2f before and %.2f after; downloads from "
          "127.0.0.1 into %s, tools in turns; median of the timed runs, peak RSS of the warm-up "
          "run" % (server.name, os.cpu_count(), load_before, os.getloadavg()[0], args.folder))
    print("%-5s %12s %4s  %-8s %9s %6s %9s %9s" % ("", "bytes", "runs", "tool", "wall s",
                                                  "/curl", "CPU s", "RSS MiB"))
    for scheme, size, runs, results in table:
        for name, rows in results.items():
            ratio = "     -"
            if "curl" in results:
                ratio = "%6.2f" % statistics.median(
                    run[0] / curl[0] for run, curl in zip(rows[1:], results["curl"][1:]))
            print("%-5s %12d %4d  %-8s %9.4f %s %9.4f %9.1f"
                  % (scheme, size, runs, name, statistics.median(r[0] for r in rows[1:]), ratio,
                     statistics.median(r[1] for r in rows[1:]), rows[0][2] / 1024))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Throughput and memory of a large download: Holwerk against curl.

Serves one file of --size-gib GiB from a local HTTP server (Python, os.sendfile
from tmpfs) and downloads it with Holwerk and with curl in turns, in one run.
Both write into the same tmpfs folder; Holwerk keeps its 65536-byte reads, its
flush and its write-through rename. Prints the median wall time of each, the
ratio Holwerk/curl and each one's peak resident memory (ru_maxrss of wait4,
through GNU time).

Not a test: ctest does not run it. Example:
    bench/download_benchmark.py --program build/linux/holwerk --size-gib 1 --runs 5
"""

import argparse
import datetime
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

CHUNK = 1 << 20
TIME = "/usr/bin/time"  # GNU time, Debian package "time"


def make_source(path, size):
    """A file of `size` bytes that is not all zeros (one random MiB repeated)."""
    block = os.urandom(CHUNK)
    with open(path, "wb") as file:
        remaining = size
        while remaining > 0:
            piece = block[:min(CHUNK, remaining)]
            file.write(piece)
            remaining -= len(piece)


class SendfileServer:
    """Answers every GET with the one file, Content-Length and sendfile."""

    def __init__(self, path):
        self.path = path
        self.size = os.path.getsize(path)
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
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
        with connection:
            data = b""
            while b"\r\n\r\n" not in data:
                chunk = connection.recv(4096)
                if not chunk:
                    return
                data += chunk
            head = ("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                    "Content-Length: %d\r\nConnection: close\r\n\r\n" % self.size)
            connection.sendall(head.encode("ascii"))
            if data.startswith(b"HEAD "):
                return
            with open(self.path, "rb") as file:
                offset = 0
                while offset < self.size:
                    try:
                        sent = os.sendfile(connection.fileno(), file.fileno(), offset,
                                           self.size - offset)
                    except OSError:
                        return
                    if sent == 0:
                        return
                    offset += sent

    def url(self):
        return "http://127.0.0.1:%d/large.bin" % self.port

    def close(self):
        self.listener.close()


def timed_run(command, env, work):
    """Wall time and CPU time (user + system) in seconds and peak resident
    memory in KiB of one run.

    The memory is the ru_maxrss that wait4 reports for the program. It is
    read by GNU time, a small process that forks the program: a child forked
    from this Python process would carry the interpreter's resident pages
    into its ru_maxrss (the kernel keeps the high-water mark across exec)."""
    report = os.path.join(work, "rusage.txt")
    started = time.monotonic()
    process = subprocess.run([TIME, "-f", "%M %U %S", "-o", report] + command, env=env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=False)
    elapsed = time.monotonic() - started
    if process.returncode != 0:
        sys.exit("%s failed with %d: %s" % (command[0], process.returncode,
                                             process.stderr.decode()))
    with open(report) as file:
        peak, user, system = file.read().split()[-3:]
    return elapsed, float(user) + float(system), int(peak)


def holwerk_env(home):
    """A user of its own whose update check is already done for today, so
    the runs measure the download alone."""
    data = os.path.join(home, "data")
    folder = os.path.join(data, "TolvikSoftware", "Holwerk")
    os.makedirs(folder, exist_ok=True)
    today = datetime.datetime.now(datetime.timezone.utc).date().isoformat()
    with open(os.path.join(folder, "update-state.txt"), "w", newline="") as file:
        file.write("last_check=%s\r\nnewer_seen=\r\nlatest_version=\r\ndownload_url=\r\n" % today)
    return {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": home, "TZ": "UTC",
            "XDG_DATA_HOME": data, "XDG_CONFIG_HOME": os.path.join(home, "config")}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", default="build/linux/holwerk", help="Holwerk executable")
    parser.add_argument("--curl", default=shutil.which("curl") or "curl")
    parser.add_argument("--size-gib", type=float, default=1.0)
    parser.add_argument("--runs", type=int, default=5, help="runs of each tool")
    parser.add_argument("--folder", default="/dev/shm", help="tmpfs for source and outputs")
    args = parser.parse_args()

    size = int(args.size_gib * (1 << 30))
    work = tempfile.mkdtemp(prefix="holwerk-bench-", dir=args.folder)
    try:
        source = os.path.join(work, "source.bin")
        make_source(source, size)
        server = SendfileServer(source)
        env = holwerk_env(os.path.join(work, "home"))
        holwerk_out = os.path.join(work, "holwerk.out")
        curl_out = os.path.join(work, "curl.out")
        holwerk_command = [os.path.abspath(args.program), "--quiet", "--force", server.url(),
                           holwerk_out]
        curl_command = [args.curl, "--silent", "--show-error", "--fail", "--http1.1",
                        "--output", curl_out, server.url()]
        results = {"holwerk": [], "curl": []}
        for round_number in range(args.runs):
            for name, command, output in (("holwerk", holwerk_command, holwerk_out),
                                          ("curl", curl_command, curl_out)):
                if os.path.exists(output):
                    os.remove(output)
                results[name].append(timed_run(command, env, work))
                if os.path.getsize(output) != size:
                    sys.exit("%s stored %d bytes instead of %d"
                             % (name, os.path.getsize(output), size))
                os.remove(output)
        server.close()
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print("download of %d bytes (%.2f GiB) from 127.0.0.1, %d runs each, in turns, into %s"
          % (size, size / (1 << 30), args.runs, args.folder))
    medians = {}
    for name in ("holwerk", "curl"):
        times = [elapsed for elapsed, _, _ in results[name]]
        medians[name] = statistics.median(times)
        cpu = statistics.median(seconds for _, seconds, _ in results[name])
        peak = max(rss for _, _, rss in results[name])
        print("%-8s median %.3f s  (runs: %s)  median CPU %.3f s  peak RSS %.1f MiB"
              % (name, medians[name], " ".join("%.3f" % t for t in times), cpu, peak / 1024))
    print("ratio holwerk/curl (median wall time): %.2f" % (medians["holwerk"] / medians["curl"]))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Builds the MSI from its WiX source, the Windows program and its text manual,
so that its bytes depend on nothing but those, the icon and holwerk-msi.sql in
resources/ and SOURCE_DATE_EPOCH.

    make-msi.py SOURCE PROGRAM MANUAL OUTPUT

wixl builds the database, msibuild adds the SQL and the summary's last fields.
Left alone, wixl would make every build differ:
- the cabinet dates each file by its modification time: the files are copied
  into a folder of their own and dated SOURCE_DATE_EPOCH first;
- it stamps the summary's creation and save times from the clock and has no
  switch for them: it runs under faketime, frozen at SOURCE_DATE_EPOCH in UTC;
- it draws a random package code: the package code is a name-based UUID
  (SHA-1, version 5) of the finished database's SHA-256, taken with a zero
  package code in its place, in the product code's namespace.
msibuild itself writes no time and nothing random.
"""

import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import uuid

RESOURCES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")
ARCHITECTURE = "x64"
ZERO_PACKAGE_CODE = "{%s}" % uuid.UUID(int=0)


def run(*command, **options):
    subprocess.run(command, check=True, **options)


def properties(database):
    # msiinfo export: the column names, their types and the key come first.
    table = subprocess.run(("msiinfo", "export", database, "Property"), check=True,
                           capture_output=True, text=True).stdout.splitlines()[3:]
    return dict(row.split("\t", 1) for row in table)


def sha256(path):
    with open(path, "rb") as file:
        return hashlib.sha256(file.read()).hexdigest()


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    source, program, manual, output = sys.argv[1:]
    epoch = int(os.environ["SOURCE_DATE_EPOCH"])
    with open(os.path.join(RESOURCES, "holwerk-msi.sql")) as file:
        statements = [line for line in file.read().splitlines()
                      if line and not line.startswith("--")]
    with tempfile.TemporaryDirectory(prefix="holwerk-msi-") as folder:
        # wixl finds the files the source names beside the source.
        staged = {"holwerk.wxs": source, "holwerk.exe": program, "holwerk.txt": manual,
                  "holwerk.ico": os.path.join(RESOURCES, "holwerk.ico")}
        for name, path in staged.items():
            shutil.copyfile(path, os.path.join(folder, name))
            os.utime(os.path.join(folder, name), (epoch, epoch))
        database = os.path.join(folder, "package.msi")
        run("faketime", "@%d" % epoch, "wixl", "--arch", ARCHITECTURE, "-o", database,
            os.path.join(folder, "holwerk.wxs"), env=dict(os.environ, TZ="UTC"))

        product = properties(database)
        # Subject and author as wixl wrote them; the template names the
        # product's language, where wixl always writes 1033.
        summary = ["-s", product["ProductName"], product["Manufacturer"],
                   "%s;%s" % (ARCHITECTURE, product["ProductLanguage"])]
        run("msibuild", database, "-q", *statements, *summary, ZERO_PACKAGE_CODE)
        package_code = uuid.uuid5(uuid.UUID(product["ProductCode"]), sha256(database))
        run("msibuild", database, *summary, "{%s}" % str(package_code).upper())
        shutil.copyfile(database, output)


if __name__ == "__main__":
    main()

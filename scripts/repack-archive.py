#!/usr/bin/env python3
"""Rewrites a .tar.gz or .zip so that its bytes depend on nothing but the
members' names, modes and contents and on SOURCE_DATE_EPOCH: members in name
order, owned by root, all dated SOURCE_DATE_EPOCH, gzip without name or time.

    repack-archive.py INPUT OUTPUT [--replace NAME FILE]

--replace puts FILE's contents in place of member NAME (a signed program).
"""

import argparse
import datetime
import gzip
import io
import os
import sys
import tarfile
import zipfile


def repack_tar(source, target, epoch, replacements):
    with tarfile.open(source, "r:gz") as archive:
        members = [(member, archive.extractfile(member).read() if member.isfile() else None)
                   for member in archive.getmembers()]
    output = io.BytesIO()
    with tarfile.open(fileobj=output, mode="w", format=tarfile.GNU_FORMAT) as archive:
        for member, data in sorted(members, key=lambda item: item[0].name):
            if member.name in replacements:
                data = replacements.pop(member.name)
            info = tarfile.TarInfo(member.name)
            info.type, info.mode, info.mtime = member.type, member.mode, epoch
            info.uid = info.gid = 0
            info.uname = info.gname = "root"
            if data is None:
                archive.addfile(info)
            else:
                info.size = len(data)
                archive.addfile(info, io.BytesIO(data))
    with open(target, "wb") as file:
        with gzip.GzipFile(filename="", mode="wb", compresslevel=9, fileobj=file,
                           mtime=0) as compressed:
            compressed.write(output.getvalue())


def repack_zip(source, target, epoch, replacements):
    # ZIP times have no zone and a two-second step: the epoch in UTC.
    when = datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc).timetuple()[:6]
    with zipfile.ZipFile(source) as archive:
        members = [(info, archive.read(info)) for info in archive.infolist()]
    with zipfile.ZipFile(target, "w") as archive:
        for member, data in sorted(members, key=lambda item: item[0].filename):
            data = replacements.pop(member.filename, data)
            info = zipfile.ZipInfo(member.filename, date_time=when)
            info.create_system = 3
            info.external_attr = (member.external_attr >> 16 or 0o100644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data, compresslevel=9)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("input")
    parser.add_argument("output")
    parser.add_argument("--replace", nargs=2, action="append", default=[],
                        metavar=("NAME", "FILE"))
    arguments = parser.parse_args()
    epoch = int(os.environ["SOURCE_DATE_EPOCH"])
    replacements = {}
    for name, path in arguments.replace:
        with open(path, "rb") as file:
            replacements[name] = file.read()
    repack = repack_zip if arguments.input.endswith(".zip") else repack_tar
    repack(arguments.input, arguments.output, epoch, replacements)
    if replacements:
        sys.exit("repack-archive.py: no member %s" % ", ".join(sorted(replacements)))


if __name__ == "__main__":
    main()

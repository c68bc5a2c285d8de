#!/usr/bin/env python3
"""Writes a zip of one folder whose bytes depend only on the names and contents of its files.

Usage: reproducible_zip.py OUTPUT.zip FOLDER
The members are the folder itself and everything in it, named from the folder down, in sorted
order, all dated SOURCE_DATE_EPOCH (UTC), with Unix modes 755 for folders and executables and
644 for other files, and no owner, extra fields or comment.
"""
import os
import sys
import time
import zipfile


def main():
    output, folder = sys.argv[1], os.path.normpath(sys.argv[2])
    epoch = int(os.environ["SOURCE_DATE_EPOCH"])
    # A zip time is a local date from 1980 on, two-second steps; UTC here.
    date = time.gmtime(max(epoch, 315532800))[:6]
    parent = os.path.dirname(folder)
    paths = []
    for top, dirs, files in os.walk(folder):
        paths.append(top)
        paths.extend(os.path.join(top, name) for name in files)
    with zipfile.ZipFile(output, "w") as archive:
        for path in sorted(paths, key=lambda p: os.path.relpath(p, parent).split(os.sep)):
            name = os.path.relpath(path, parent).replace(os.sep, "/")
            is_dir = os.path.isdir(path)
            info = zipfile.ZipInfo(name + "/" if is_dir else name, date_time=date)
            info.create_system = 3  # Unix, so that the modes below are read
            executable = is_dir or os.access(path, os.X_OK)
            info.external_attr = ((0o40755 if is_dir else 0o100755) if executable else 0o100644) << 16
            if is_dir:
                info.external_attr |= 0x10  # the MS-DOS folder bit
                archive.writestr(info, b"")
                continue
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as source:
                archive.writestr(info, source.read(), compresslevel=9)


if __name__ == "__main__":
    main()

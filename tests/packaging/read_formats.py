"""Reads a picture of each everyday format with the installed module. Each must come back at its
size, except those named on the command line, whose library was taken away: each of those must be
refused with a reason that names the library.

Usage: python3 read_formats.py FOLDER WIDTH HEIGHT [EXTENSION=SONAME ...]
FOLDER holds picture.png, picture.jpg, ... of WIDTH x HEIGHT pixels.
"""
import pathlib
import sys

import quarro

EXTENSIONS = ("png", "jpg", "tif", "gif", "webp", "heic", "avif", "psd")


def main() -> int:
    folder = pathlib.Path(sys.argv[1])
    size = (int(sys.argv[3]), int(sys.argv[2]), 4)
    refused = dict(argument.split("=", 1) for argument in sys.argv[4:])
    failures = 0
    for extension in EXTENSIONS:
        path = folder / f"picture.{extension}"
        try:
            shape = quarro.read_image(path).shape
        except OSError as error:
            if extension in refused and refused[extension] in str(error):
                print(f"{extension}: refused as expected: {error}")
            else:
                print(f"FAIL {extension}: {error}")
                failures += 1
            continue
        if extension in refused:
            print(f"FAIL {extension}: read without {refused[extension]}")
            failures += 1
        elif shape != size:
            print(f"FAIL {extension}: {shape}, not {size}")
            failures += 1
        else:
            print(f"{extension}: read, {shape[1]} x {shape[0]}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

"""Writes the release archive: the given files and their SHA256SUMS inside one folder, in name
order, with the commit time on every entry and fixed attributes, so that the same files always
give the same bytes. The archive appears only once it is complete."""
import argparse
import datetime
import hashlib
import os
import sys
import zipfile

EARLIEST_ZIP_TIME = (1980, 1, 1, 0, 0, 0)


def zip_time(epoch: int) -> tuple:
    """The entry time for an epoch, as a zip can hold it: UTC, from 1980, in whole two seconds."""
    moment = datetime.datetime.fromtimestamp(epoch - epoch % 2, tz=datetime.timezone.utc)
    return max(EARLIEST_ZIP_TIME, moment.timetuple()[:6])


def sha256sums(contents: dict) -> bytes:
    lines = [f"{hashlib.sha256(data).hexdigest()}  {name}\n" for name, data in sorted(contents.items())]
    return "".join(lines).encode("ascii")


def write_archive(output: str, folder: str, epoch: int, contents: dict) -> None:
    entries = dict(contents)
    entries["SHA256SUMS"] = sha256sums(contents)
    partial = output + ".partial"
    with zipfile.ZipFile(partial, "w") as archive:
        for name in sorted(entries):
            info = zipfile.ZipInfo(f"{folder}/{name}", date_time=zip_time(epoch))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3
            info.external_attr = 0o644 << 16
            archive.writestr(info, entries[name], compresslevel=9)
    os.replace(partial, output)


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--output", required=True)
    parser.add_argument("--folder", required=True)
    parser.add_argument("--epoch", type=int, required=True)
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()

    contents = {}
    for path in args.files:
        name = os.path.basename(path)
        if name in contents or name == "SHA256SUMS":
            parser.error(f"two files named {name}")
        with open(path, "rb") as source:
            contents[name] = source.read()
    write_archive(args.output, args.folder, args.epoch, contents)
    return 0


if __name__ == "__main__":
    sys.exit(main())

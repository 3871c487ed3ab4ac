"""The release archive is a function of the shipped files and the commit time alone: not of the
order the files are named in, nor of when or where it is written."""

import hashlib
import pathlib
import sys
import zipfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "release"))
from make_zip import write_archive, zip_time  # noqa: E402

CONTENTS = {"b.exe": b"MZ" + bytes(range(256)) * 40, "a.txt": "说明\r\n".encode("utf-8")}


def test_same_files_give_the_same_bytes_in_name_order(tmp_path):
    first, second = tmp_path / "first.zip", tmp_path / "second.zip"
    write_archive(str(first), "Pkg-1.0", 1765000001, CONTENTS)
    write_archive(str(second), "Pkg-1.0", 1765000001, dict(reversed(list(CONTENTS.items()))))
    assert first.read_bytes() == second.read_bytes()
    with zipfile.ZipFile(first) as archive:
        assert archive.namelist() == ["Pkg-1.0/SHA256SUMS", "Pkg-1.0/a.txt", "Pkg-1.0/b.exe"]
        assert {info.date_time for info in archive.infolist()} == {(2025, 12, 6, 5, 46, 40)}
        assert archive.read("Pkg-1.0/SHA256SUMS").decode().splitlines() == [
            f"{hashlib.sha256(CONTENTS[name]).hexdigest()}  {name}" for name in ("a.txt", "b.exe")]
    assert not list(tmp_path.glob("*.partial"))


def test_times_are_what_a_zip_can_hold():
    assert zip_time(0) == (1980, 1, 1, 0, 0, 0)
    assert zip_time(1765000001) == (2025, 12, 6, 5, 46, 40)

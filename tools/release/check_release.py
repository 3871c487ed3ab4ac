"""Checks the shipped client and its archive as an administrator would rely on them: the version
resource that Explorer shows, the hardening flags, no debug sections but a debug link that
matches its file, the commit time as time stamp, no build path inside, the imports, and an
archive that holds exactly the shipped files with correct sums. Version resource and checksum
are read by Windows' own calls (image_info.exe under Wine). Prints every failure."""
import argparse
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import zipfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_zip import zip_time  # noqa: E402
from pe_image import DYNAMIC_BASE, HIGH_ENTROPY_VA, NX_COMPAT, PeHeaders  # noqa: E402

failures = []


def expect(condition: bool, text: str) -> None:
    if not condition:
        failures.append(text)


def section_names(objdump: str, path: str) -> list:
    listing = subprocess.run([objdump, "-h", path], check=True, capture_output=True, text=True).stdout
    return [line.split()[1] for line in listing.splitlines() if line.strip()[:1].isdigit()]


def debug_link(objcopy: str, exe: str) -> tuple:
    with tempfile.TemporaryDirectory() as scratch:
        dumped = os.path.join(scratch, "link")
        subprocess.run([objcopy, f"--dump-section=.gnu_debuglink={dumped}", exe, os.path.join(scratch, "copy")],
                       check=True, capture_output=True)
        data = open(dumped, "rb").read()
    name = data[:data.index(b"\0")].decode()
    return name, int.from_bytes(data[-4:], "little")


def check_image(args, exe_data: bytes, debug_path: str) -> None:
    headers = PeHeaders(exe_data)
    for flag, name in ((DYNAMIC_BASE, "DYNAMIC_BASE"), (HIGH_ENTROPY_VA, "HIGH_ENTROPY_VA"), (NX_COMPAT, "NX_COMPAT")):
        expect(headers.dll_characteristics & flag, f"{name} is not set")
    expect(not headers.characteristics & 0x0001, "relocations are stripped, so the image cannot move")
    expect(headers.time_stamp == args.epoch, f"time stamp {headers.time_stamp}, not the commit time {args.epoch}")

    sections = section_names(args.objdump, args.exe)
    expect(not [s for s in sections if s.startswith(".debug") or s.startswith("/")],
           f"debug sections left in the executable: {sections}")
    expect(".reloc" in sections, "no .reloc section for address-space randomisation")
    expect(".gnu_debuglink" in sections, "no debug link")
    expect(os.path.isfile(debug_path), f"{debug_path} is missing")
    if ".gnu_debuglink" in sections and os.path.isfile(debug_path):
        name, crc = debug_link(args.objcopy, args.exe)
        expect(name == os.path.basename(debug_path), f"the debug link names {name}")
        expect(crc == zlib.crc32(open(debug_path, "rb").read()), "the debug link's CRC does not match the debug file")
        expect(".debug_info" in section_names(args.objdump, debug_path), "the debug file holds no .debug_info")

    for path in (args.exe, debug_path):
        data = open(path, "rb").read() if os.path.isfile(path) else b""
        for build_path in args.build_path:
            # Tools that turn a path into a symbol name (dlltool) write it with underscores.
            as_symbol = re.sub(r"[^A-Za-z0-9]", "_", build_path)
            for encoded in (build_path.encode(), build_path.encode("utf-16-le"), as_symbol.encode()):
                expect(encoded not in data, f"{os.path.basename(path)} contains the build path {build_path}")
    expect(args.default_url.encode("utf-16-le") in exe_data, f"the default base URL {args.default_url} is not inside")


def check_what_windows_reads(args) -> None:
    result = subprocess.run([args.wine_run, args.image_info, args.exe], capture_output=True, timeout=120)
    expect(result.returncode == 0, f"image_info failed: {result.stderr.decode(errors='replace')}")
    values = dict(line.split("=", 1) for line in result.stdout.decode("utf-8").splitlines() if "=" in line)
    expect(values.get("HeaderCheckSum") == values.get("ComputedCheckSum") and values.get("HeaderCheckSum") != "0",
           f"header checksum {values.get('HeaderCheckSum')}, the system computes {values.get('ComputedCheckSum')}")
    wanted = {
        "FixedFileVersion": f"{args.version}.0", "FixedProductVersion": f"{args.version}.0",
        "FileVersion": f"{args.version}.0", "ProductVersion": args.version,
        "ProductName": "Ostrevane.Client", "OriginalFilename": "Ostrevane.Client.exe",
        "InternalName": "Ostrevane.Client",
    }
    for key, value in wanted.items():
        expect(values.get(key) == value, f"version resource {key} is {values.get(key)!r}, not {value!r}")
    expect(values.get("FileDescription", "").strip() != "", "version resource has no FileDescription")
    expect("Copyright" in values.get("LegalCopyright", ""), "version resource has no LegalCopyright")


def check_imports(args) -> None:
    if not os.path.exists(args.check_imports):
        return
    result = subprocess.run([args.check_imports, args.exe], capture_output=True, text=True, timeout=120)
    expect(result.returncode == 0, f"imports refused: {result.stdout}{result.stderr}")


def check_archive(args, exe_data: bytes) -> None:
    with zipfile.ZipFile(args.zip) as archive:
        infos = archive.infolist()
        contents = {info.filename: archive.read(info) for info in infos}
    shipped = ["Ostrevane.Client.exe", "README.txt", "SHA256SUMS", "WinDivert-NOTICE.txt"]
    names = [info.filename for info in infos]
    expect(names == [f"{args.folder}/{name}" for name in shipped], f"the archive holds {names}")
    for info in infos:
        expect(info.date_time == zip_time(args.epoch), f"{info.filename} carries the time {info.date_time}")
    expect(contents.get(f"{args.folder}/Ostrevane.Client.exe") == exe_data, "the archive's executable is not the built one")
    sums = contents.get(f"{args.folder}/SHA256SUMS", b"").decode().splitlines()
    expected_sums = [f"{hashlib.sha256(contents.get(f'{args.folder}/{name}', b'')).hexdigest()}  {name}"
                     for name in shipped if name != "SHA256SUMS"]
    expect(sums == expected_sums, f"SHA256SUMS reads {sums}")
    readme = contents.get(f"{args.folder}/README.txt", b"").decode("utf-8-sig", errors="replace")
    for needed in ("管理员", "administrator", r"%APPDATA%\Ostrevane\Client.settings.json", "Log", args.version):
        expect(needed in readme, f"the README does not mention {needed}")
    expect(b"WinDivert" in contents.get(f"{args.folder}/WinDivert-NOTICE.txt", b""), "WinDivert's notice is empty")


def main() -> int:
    parser = argparse.ArgumentParser()
    for option in ("--exe", "--zip", "--folder", "--version", "--default-url", "--objdump", "--objcopy", "--image-info",
                   "--wine-run", "--check-imports"):
        parser.add_argument(option, required=True)
    parser.add_argument("--epoch", type=int, required=True)
    parser.add_argument("--build-path", action="append", default=[])
    args = parser.parse_args()

    exe_data = open(args.exe, "rb").read()
    check_image(args, exe_data, args.exe + ".debug")
    check_what_windows_reads(args)
    check_imports(args)
    check_archive(args, exe_data)
    for failure in failures:
        print("FAIL:", failure)
    print(f"release check: {len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

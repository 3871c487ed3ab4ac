"""Turns the linked client into the shipped one: the debug information moves into
<exe>.debug, named by a debug link inside the stripped executable, and both files get the
commit time as their PE time stamp (with the checksum that covers it), so that the same commit
gives the same bytes wherever it is built."""
import argparse
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pe_image import set_time_stamp  # noqa: E402


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--objcopy", required=True)
    parser.add_argument("--epoch", type=int, required=True)
    parser.add_argument("exe")
    args = parser.parse_args()

    folder, exe = os.path.split(os.path.abspath(args.exe))
    debug = exe + ".debug"
    # Names relative to the folder: the debug link records the file name, never a path.
    run = lambda *command: subprocess.run([args.objcopy, *command], cwd=folder, check=True)  # noqa: E731
    run("--only-keep-debug", exe, debug)
    set_time_stamp(os.path.join(folder, debug), args.epoch)
    # The link's CRC covers the debug file as it now is, so it is stamped first.
    run("--strip-all", f"--add-gnu-debuglink={debug}", exe)
    set_time_stamp(os.path.join(folder, exe), args.epoch)
    return 0


if __name__ == "__main__":
    sys.exit(main())

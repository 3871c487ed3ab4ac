#!/bin/bash
# Makes the Wine prefix $WINEPREFIX trust a CA certificate (PEM or DER) as a root, through the
# Windows certificate API (the machine's root store), or takes that trust back.
#
#   wine-trust-ca.sh [--remove | --check] [--tool TRUST_ROOT_EXE] CA_FILE
#
# --check exits 0 when the CA is trusted, 1 when it is not. --tool names a built trust-root.exe
# (build/<preset>/tls/trust-root.exe); without it the program is built once with mingw-w64.
# Wine keeps the trust in the prefix's system.reg: take it back when the test is over.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
action=add
tool=""
while (( $# > 1 )); do
    case "$1" in
        --remove) action=remove ;;
        --check) action=has ;;
        --tool) tool=$2; shift ;;
        *) break ;;
    esac
    shift
done
if (( $# != 1 )) || [[ $1 == -* ]]; then
    echo "usage: $0 [--remove | --check] [--tool TRUST_ROOT_EXE] CA_FILE" >&2
    exit 2
fi
ca="$(realpath -e "$1")" || exit 2
[[ -n $tool ]] || tool="$("$here/build-tool.sh" trust_root)"

# Wine maps the Linux root to drive Z:.
"$here/../wine-run" "$tool" "$action" "Z:${ca//\//\\}"

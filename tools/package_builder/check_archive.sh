#!/usr/bin/env bash
# check_archive.sh ARCHIVE.7z SRC_DIR PACKAGE_CHECK_EXE WORK_DIR
#
# build_package.sh's proof that the installer can unpack a package: unpacks
# ARCHIVE with the installer's own extraction code (PACKAGE_CHECK_EXE, run
# under Wine through scripts/wine-run.sh) into WORK_DIR/unpacked and compares
# every file and folder with SRC_DIR. Prints why and exits 1 when the
# installer would refuse an item (its name or its compression method) or
# would not reproduce the folder exactly.
#
# The Wine prefix is $VULMO_WINEPREFIX, else the one of the build tree the
# tool comes from (<tree>/wineprefix, when it exists).
set -euo pipefail

archive=$1 src=$2 tool=$3 work=$4
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
refuse() { echo "build_package.sh: refused: $*" >&2; exit 1; }

[[ -f $tool ]] || refuse "the extraction check $tool is missing (build target package_check or set VULMO_PACKAGE_CHECK)"
tree_prefix=$(cd "$(dirname "$tool")/.." && pwd)/wineprefix
if [[ -z ${VULMO_WINEPREFIX:-} && -f $tree_prefix/system.reg ]]; then
  export VULMO_WINEPREFIX=$tree_prefix
fi
unpacked=$work/unpacked
rm -rf "$unpacked" "$unpacked.log"
if ! message=$("$repo/scripts/wine-run.sh" "$tool" "Z:$archive" "Z:$unpacked" 2>&1); then
  refuse "the installer could not unpack this package:
$(printf '%s\n' "$message" | tr -d '\r' | grep -E '^package_check: ' || printf '%s\n' "$message")"
fi

# Same names, same kinds, same bytes: a name that Windows changes (a
# backslash, trailing dots) shows as a file missing on one side.
if ! differences=$(diff -r -q "$src" "$unpacked" 2>&1); then
  refuse "the installer would not install the folder as it is:
$(printf '%s\n' "$differences" | sed -e "s|$unpacked|<unpacked>|g" -e "s|$src|<input>|g")"
fi
rm -rf "$unpacked" "$unpacked.log"

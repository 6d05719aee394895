#!/usr/bin/env bash
# The demo: one real run of Vulmo NetInstaller, on this machine only.
#
#   scripts/run.sh [--packages DIR] [net_installer arguments, e.g. --language=de]
#
# --packages DIR serves the newest .exe of DIR (a package made with
# tools/package_builder/build_package.sh) instead of the sample package.
#
# 1. sets up what is missing (scripts/setup.sh: packages, LZMA SDK, prefix);
# 2. builds the program and the test tools into build/cross;
# 3. in a private network namespace where autoupdate.vulmo.com is 127.0.0.1:
#    builds a sample signed package, stamps a sample payload into a signed
#    copy of net_installer.exe, starts the local update server (HTTPS on 443,
#    test CA trusted in the demo's Wine prefix only) and runs the installer
#    under Wine against it;
# 4. prints the outcome, the exit code, what installer.exe received and the
#    log.
#
# With DISPLAY set the real dialogs appear on that display (and the sample
# installer.exe shows what it received); without one everything runs under
# Xvfb and a screenshot of the progress dialog is saved to
# build/cross/demo/progress.png. VULMO_BUILD_DIR selects another build
# directory.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=lib/environment.sh
. "$repo/scripts/lib/environment.sh"
build_dir=${VULMO_BUILD_DIR:-$repo/build/cross}
hosts="autoupdate.vulmo.com autoupdate.vulmo.io"

say() { printf '[run] %s\n' "$*"; }
# shellcheck source=lib/setup_and_build.sh
. "$repo/scripts/lib/setup_and_build.sh"

# 1. Set-up (quick when everything is there), 2. the program and the test
# tools, built into build/cross (configured on first use).
say "building net_installer and the test tools"
setup_and_build "$build_dir" "$repo/build/run-build.log" \
  net_installer installer_standin ui_actions trust_root sfx_stub

# 3. and 4. The run, isolated from the network.
demo=(python3 "$repo/test/e2e/demo.py" --build-dir "$build_dir")
if [[ -n ${DISPLAY:-} ]]; then
  say "showing the dialogs on $DISPLAY"
  exec "$repo/scripts/netns-run.sh" --hosts "$hosts" -- "${demo[@]}" "$@"
fi
say "no DISPLAY: running under Xvfb"
exec "$repo/scripts/netns-run.sh" --hosts "$hosts" -- \
  xvfb-run -a -s "-screen 0 1024x768x24" "${demo[@]}" --headless "$@"

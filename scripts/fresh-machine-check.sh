#!/usr/bin/env bash
# Runs the README's two commands as a newcomer would: on a fresh, minimal
# Debian 12 root (debootstrap's minbase plus git, ca-certificates and sudo),
# logged in as root with a login-like environment (no LANG, no DISPLAY).
#
#   scripts/fresh-machine-check.sh [--root DIR] [--keep] [--only test|run]
#
# 1. debootstraps bookworm into DIR (default: a new folder under /var/tmp),
#    from the Debian mirror this machine's apt is configured with;
# 2. bind-mounts DIR onto itself (network namespaces need "/" to be a mount
#    point), mounts /proc, /sys, /dev and a fresh /run and /tmp inside it;
# 3. clones this repository's committed HEAD into /root/vulmo there
#    (uncommitted changes are not part of the check);
# 4. runs `CI=true scripts/test.sh` and then `scripts/run.sh` inside it with
#    `env -i` and only HOME, USER, LOGNAME, SHELL, TERM and PATH (CI=true for
#    the tests, as CI sets it), and prints each command's verdict and time.
#
# Needs root, about 10 to 20 minutes and 6 GB of disk. Not part of the test
# suite. The root is removed at the end unless --keep is given. Exit code: 0
# when every command passed.
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
root=""
keep=0
only=""

usage() {
  echo "usage: $0 [--root DIR] [--keep] [--only test|run]" >&2
  exit 2
}
while [[ $# -gt 0 ]]; do
  case $1 in
    --root) [[ $# -ge 2 ]] || usage; root=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --only) [[ $# -ge 2 ]] || usage; only=$2; shift 2 ;;
    *) usage ;;
  esac
done
case $only in ""|test|run) ;; *) usage ;; esac

say() { printf '[fresh] %s\n' "$*"; }
die() { printf '[fresh] ERROR: %s\n' "$*" >&2; exit 1; }

[[ $(id -u) -eq 0 ]] || die "needs root (debootstrap, chroot, mounts)"
if ! command -v debootstrap >/dev/null; then
  say "installing debootstrap"
  apt-get install -y -qq -o DPkg::Lock::Timeout=600 debootstrap >/dev/null ||
    die "could not install debootstrap"
fi

# The mirror this machine already uses for bookworm; nothing is written into
# the repository.
mirror=$(apt-get indextargets --format '$(REPO_URI) $(CODENAME)' 'Created-By: Packages' 2>/dev/null |
         awk '$2 == "bookworm" { print $1; exit }')
[[ -n $mirror ]] || die "no bookworm entry in this machine's apt sources"

if [[ -z $root ]]; then
  root=$(mktemp -d /var/tmp/vulmo-fresh.XXXXXX)
fi
mkdir -p "$root"
root=$(realpath "$root")

mounted=()
cleanup() {
  local i
  for (( i=${#mounted[@]}-1; i>=0; i-- )); do
    umount -l "${mounted[$i]}" 2>/dev/null
  done
  if [[ $keep -eq 0 ]]; then
    rm -rf --one-file-system "$root"
  else
    say "root kept in $root"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

mount_in_root() {  # mount_in_root TARGET mount-args...
  local target=$1
  shift
  mkdir -p "$target"
  mount "$@" "$target" || die "mount $* $target failed"
  mounted+=("$target")
}

t0=$(date +%s)
if [[ ! -x $root/bin/bash ]]; then
  say "debootstrap bookworm (minbase + git, ca-certificates, sudo) from $mirror into $root"
  debootstrap --variant=minbase --include=git,ca-certificates,sudo \
    bookworm "$root" "$mirror" >"$root.debootstrap.log" 2>&1 || {
      tail -n 30 "$root.debootstrap.log" >&2
      die "debootstrap failed"
    }
  rm -f "$root.debootstrap.log"
  say "root ready in $(( $(date +%s) - t0 )) s"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"
# What the Debian installer writes and debootstrap does not.
if [[ ! -e $root/etc/hosts ]]; then
  printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' > "$root/etc/hosts"
fi

mount_in_root "$root" --bind "$root"
mount_in_root "$root/proc" -t proc proc
mount_in_root "$root/sys" --rbind /sys
mount --make-rslave "$root/sys"
mount_in_root "$root/dev" --rbind /dev
mount --make-rslave "$root/dev"
mount_in_root "$root/run" -t tmpfs tmpfs
mount_in_root "$root/tmp" -t tmpfs -o mode=1777 tmpfs

rm -rf "$root/root/vulmo"
git clone -q --no-local "$repo" "$root/root/vulmo" || die "git clone failed"
git -C "$root/root/vulmo" checkout -q "$(git -C "$repo" rev-parse HEAD)" ||
  die "checkout of HEAD failed"
say "cloned $(git -C "$repo" rev-parse --short HEAD) into /root/vulmo"

# in_root COMMAND: a login-like root shell in the fresh root.
in_root() {
  env -i HOME=/root USER=root LOGNAME=root SHELL=/bin/bash TERM=xterm \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    chroot "$root" /bin/bash -c "cd /root/vulmo && $1"
}

names=()
verdicts=()
seconds=()
run_command() {  # run_command NAME COMMAND
  local start rc
  say "=== $1: $2"
  start=$(date +%s)
  in_root "$2"
  rc=$?
  names+=("$1")
  seconds+=($(( $(date +%s) - start )))
  if [[ $rc -eq 0 ]]; then verdicts+=(passed); else verdicts+=("FAILED ($rc)"); fi
}

[[ -z $only || $only == test ]] && run_command "test" "CI=true scripts/test.sh"
[[ -z $only || $only == run ]] && run_command "run" "scripts/run.sh"

echo
say "summary (commit $(git -C "$repo" rev-parse --short HEAD))"
failed=0
for i in "${!names[@]}"; do
  printf '  %-6s %-12s %5d s\n' "${names[$i]}" "${verdicts[$i]}" "${seconds[$i]}"
  [[ ${verdicts[$i]} == passed ]] || failed=1
done
exit $failed

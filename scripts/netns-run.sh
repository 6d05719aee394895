#!/usr/bin/env bash
# netns-run.sh [--hosts "name1 name2 ..."] -- command args...
#
# Runs a command in a private network namespace that has only a loopback
# interface, so whatever the command does, no packet can leave the machine.
# Its own hosts file maps localhost and every --hosts name to 127.0.0.1
# (`ip netns exec` bind-mounts /etc/netns/NAME/hosts over /etc/hosts for the
# command), so the product's real host names reach a local test server, and
# ports 80 and 443 are free to bind there.
#
#   scripts/netns-run.sh --hosts "autoupdate.vulmo.com autoupdate.vulmo.io" -- \
#       bash -c 'start the test server; run wine ...; stop the server'
#
# The exit code is the command's; 77 (the "skipped" code of automake and
# ctest's SKIP_RETURN_CODE) when namespaces cannot be created here, e.g.
# without CAP_SYS_ADMIN; 2 for a usage error. The namespace and
# /etc/netns/NAME are always removed, also when this script is interrupted
# (INT/TERM/HUP are passed on to the command first). The command sees the
# namespace name in VULMO_NETNS.
#
# Wine: a program inside the namespace can talk to a wineserver started
# outside (they meet on a unix socket, which is not network-namespaced), but
# start the test server, wineserver and every wine process within the same
# netns-run.sh invocation: then they all share one view of the network and
# one hosts file, and nothing outlives the namespace.

set -uo pipefail

usage() {
  echo "usage: $0 [--hosts \"name1 name2 ...\"] -- command args..." >&2
  exit 2
}

hosts=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --hosts)
      [[ $# -ge 2 ]] || usage
      read -r -a more <<<"$2"
      hosts+=("${more[@]}")
      shift 2
      ;;
    --hosts=*)
      read -r -a more <<<"${1#--hosts=}"
      hosts+=("${more[@]}")
      shift
      ;;
    --) shift; break ;;
    *) usage ;;
  esac
done
[[ $# -gt 0 ]] || usage

for name in "${hosts[@]}"; do
  if [[ ! $name =~ ^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?$ ]]; then
    echo "netns-run.sh: not a host name: '$name'" >&2
    exit 2
  fi
done

if ! command -v ip >/dev/null 2>&1; then
  echo "netns-run.sh: the 'ip' command (iproute2) is missing; cannot isolate" \
       "the network, skipping" >&2
  exit 77
fi

# `ip netns exec` mounts the private hosts file over /etc/hosts; without that
# file the mount fails and the command would see no private names at all.
if [[ ! -e /etc/hosts ]]; then
  echo "netns-run.sh: /etc/hosts is missing; it is needed as the mount point" \
       "of the namespace's own hosts file" >&2
  exit 1
fi

ns="vulmo-$$-$(od -An -N4 -tx4 /dev/urandom | tr -d ' \n')"
etc_dir="/etc/netns/$ns"
created=0
child=

cleanup() {
  if [[ $created -eq 1 ]]; then
    ip netns delete "$ns" 2>/dev/null
  fi
  rm -rf -- "$etc_dir"
}
trap cleanup EXIT

forward() {
  if [[ -n $child ]]; then
    kill -"$1" "$child" 2>/dev/null
  else
    exit $((128 + $2))
  fi
}
trap 'forward INT 2' INT
trap 'forward TERM 15' TERM
trap 'forward HUP 1' HUP

if ! error=$(ip netns add "$ns" 2>&1); then
  echo "netns-run.sh: cannot create a network namespace ($error)." >&2
  echo "netns-run.sh: this needs root with CAP_SYS_ADMIN (and CAP_NET_ADMIN);" \
       "tests that use the network are skipped (exit 77)." >&2
  exit 77
fi
created=1

if ! ip -n "$ns" link set lo up; then
  echo "netns-run.sh: cannot bring up loopback in $ns" >&2
  exit 1
fi

mkdir -p "$etc_dir"
{
  echo "127.0.0.1 localhost"
  echo "::1 localhost"
  for name in "${hosts[@]}"; do
    echo "127.0.0.1 $name"
  done
} >"$etc_dir/hosts"

# Started in the background (stdin passed explicitly, as a background job
# would otherwise read /dev/null) so that the traps above can run and pass a
# signal on while the command is still going.
VULMO_NETNS=$ns ip netns exec "$ns" "$@" <&0 &
child=$!
while true; do
  wait "$child"
  status=$?
  # wait returns above 128 also when a trapped signal interrupted it; the
  # command is finished only when kill -0 no longer finds it.
  if ! kill -0 "$child" 2>/dev/null; then
    break
  fi
done
exit "$status"

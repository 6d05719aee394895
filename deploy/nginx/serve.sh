#!/usr/bin/env bash
# serve.sh SERVER_DIR --cert CERT --key KEY [--limit-rate RATE] [--check]
#
# Lays out SERVER_DIR for nginx.conf (conf/, replies/, packages/, logs/,
# temp/; what is already there is kept, the configuration is copied afresh
# from this folder) and runs Debian's nginx on it in the foreground, HTTPS
# on port 443, until it is stopped (TERM: at once, QUIT: after the running
# requests). Publish packages into it with publish_package.py, while it runs
# or before.
#
#   --cert CERT --key KEY  the server's TLS certificate (chain) and key
#   --limit-rate RATE      slow every response to RATE per connection, in
#                          nginx's notation (e.g. 200k), to watch progress or
#                          interrupt a download on purpose
#   --check                only check the configuration (nginx -t)
#
# Exit code: nginx's; 2 for a usage error.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
usage() {
  echo "usage: $0 SERVER_DIR --cert CERT --key KEY [--limit-rate RATE] [--check]" >&2
  exit 2
}
[[ $# -ge 1 ]] || usage
dir=$1
shift
cert="" key="" rate="" check=0
while [[ $# -gt 0 ]]; do
  case $1 in
    --cert) [[ $# -ge 2 ]] || usage; cert=$2; shift 2 ;;
    --key) [[ $# -ge 2 ]] || usage; key=$2; shift 2 ;;
    --limit-rate) [[ $# -ge 2 && $2 =~ ^[0-9]+[km]?$ ]] || usage; rate=$2; shift 2 ;;
    --check) check=1; shift ;;
    *) usage ;;
  esac
done
[[ -n $cert && -n $key ]] || usage
command -v nginx >/dev/null || { echo "serve.sh: nginx not found (Debian package nginx)" >&2; exit 1; }

mkdir -p "$dir"/{conf/tls,conf/conf.d,replies,packages,logs,temp}
dir=$(cd "$dir" && pwd)
cp "$here/nginx.conf" "$here/vulmo-update.conf" "$dir/conf/"
cp "$cert" "$dir/conf/tls/server.crt"
install -m 600 "$key" "$dir/conf/tls/server.key"
if [[ -n $rate ]]; then
  echo "limit_rate $rate;" >"$dir/conf/conf.d/limit-rate.conf"
else
  rm -f "$dir/conf/conf.d/limit-rate.conf"
fi

args=(-p "$dir/" -c conf/nginx.conf -e logs/error.log)
# Run by root for a local trial, the workers keep root's rights, so that the
# server folder may be any folder of the user (nginx would otherwise switch
# them to "nobody", who may not read it).
global="daemon off;"
[[ $EUID -ne 0 ]] || global+=" user root;"
if [[ $check -eq 1 ]]; then
  exec nginx "${args[@]}" -g "$global" -t
fi
exec nginx "${args[@]}" -g "$global"

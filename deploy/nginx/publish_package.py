#!/usr/bin/env python3
"""Publishes a built package on the update server (nginx.conf's folder,
laid out by serve.sh; this script makes the two folders it writes to).

    publish_package.py SERVER_DIR PACKAGE.exe --base-url URL [--channel Stable]
                       [--welcome-url URL] [--partner-content FILE.json]

1. Computes the package's SHA-256 (what the program compares, lowercase hex).
2. Copies it to SERVER_DIR/packages/ under a name made from its stem and its
   checksum, NAME_<first 16 hex digits>.exe: a published name never changes
   its content, so the server, a CDN and every cache may keep it for good,
   and a download resumed across a publication still gets the same bytes.
   Publishing the same package again reuses the file.
3. Writes the channel's reply, SERVER_DIR/replies/CHANNEL.json:
   {"installer": BASE_URL + name, "installer_checksum": sha256,
    "url_welcome": ..., "partner_content": [...]} (the last two only when
   given). The partner list is read from a JSON file: a list of objects with
   the string keys "href", "filename" and "checksum".

Both files are written beside their final name and renamed into place, the
package first: a server never serves a half-written file, and a reply never
names a package that is not there yet. Prints the reply.

BASE_URL is where the packages folder is reachable: this server's
https://HOST/packages/, or a CDN that has it as origin.
Exit code 0 on success, 1 on failure (reason on stderr), 2 for a usage error.
"""

import argparse
import hashlib
import json
import os
import re
import shutil
import sys
import tempfile

CHANNEL = re.compile(r"[A-Za-z0-9_-]+")   # what vulmo-update.conf routes
SHA256_HEX = re.compile(r"[0-9a-f]{64}")


class PublishError(Exception):
    pass


def sha256_file(path):
    digest = hashlib.sha256()
    with open(path, "rb") as source:
        for block in iter(lambda: source.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def write_atomically(path, write):
    """Calls write(file) on a new file beside |path|, then renames it to
    |path|, readable by the server's workers."""
    folder = os.path.dirname(path)
    handle, temporary = tempfile.mkstemp(dir=folder, prefix="." + os.path.basename(path) + ".")
    try:
        with os.fdopen(handle, "wb") as out:
            write(out)
            out.flush()
            os.fsync(out.fileno())
        os.chmod(temporary, 0o644)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


def publish_package_file(package, packages_dir, checksum):
    """Copies the package under its never-changing name; returns the name."""
    stem = os.path.splitext(os.path.basename(package))[0]
    name = "%s_%s.exe" % (stem, checksum[:16])
    target = os.path.join(packages_dir, name)
    if os.path.exists(target):
        if sha256_file(target) != checksum:
            raise PublishError("%s exists with other content; a published package is never "
                               "replaced" % target)
        return name
    with open(package, "rb") as source:
        write_atomically(target, lambda out: shutil.copyfileobj(source, out, 1 << 20))
    return name


def read_partner_content(path):
    try:
        with open(path, encoding="utf-8") as source:
            entries = json.load(source)
    except (OSError, ValueError) as error:
        raise PublishError("cannot read the partner content %s: %s" % (path, error))
    if not isinstance(entries, list):
        raise PublishError("%s: the partner content must be a JSON list" % path)
    for entry in entries:
        if not isinstance(entry, dict) or not all(
                isinstance(entry.get(key), str) for key in ("href", "filename", "checksum")):
            raise PublishError("%s: each entry needs the strings href, filename and checksum"
                               % path)
        if not SHA256_HEX.fullmatch(entry["checksum"]):
            raise PublishError("%s: checksum of %s is not 64 lowercase hex digits"
                               % (path, entry["filename"]))
    return entries


def publish(args):
    for folder in ("packages", "replies"):
        os.makedirs(os.path.join(args.server_dir, folder), exist_ok=True)
    if not os.path.isfile(args.package):
        raise PublishError("no such package: %s" % args.package)
    reply = {}
    partner = read_partner_content(args.partner_content) if args.partner_content else None
    checksum = sha256_file(args.package)
    name = publish_package_file(args.package, os.path.join(args.server_dir, "packages"),
                                checksum)
    reply["installer"] = args.base_url + name
    reply["installer_checksum"] = checksum
    if args.welcome_url is not None:
        reply["url_welcome"] = args.welcome_url
    if partner is not None:
        reply["partner_content"] = partner
    text = json.dumps(reply, indent=1) + "\n"
    write_atomically(os.path.join(args.server_dir, "replies", args.channel + ".json"),
                     lambda out: out.write(text.encode("utf-8")))
    return text


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("server_dir")
    parser.add_argument("package")
    parser.add_argument("--base-url", required=True,
                        help="URL of the packages folder, ending in /")
    parser.add_argument("--channel", default="Stable")
    parser.add_argument("--welcome-url")
    parser.add_argument("--partner-content", metavar="FILE.json")
    args = parser.parse_args()
    if not CHANNEL.fullmatch(args.channel):
        parser.error("a channel name is letters, digits, '_' and '-'")
    if not re.match(r"https?://[^/]+/", args.base_url) or not args.base_url.endswith("/"):
        parser.error("--base-url must be an http(s) URL ending in /")
    try:
        sys.stdout.write(publish(args))
    except (PublishError, OSError) as error:
        sys.stderr.write("publish_package.py: %s\n" % error)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

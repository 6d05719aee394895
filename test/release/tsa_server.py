#!/usr/bin/env python3
"""A local RFC 3161 time-stamp authority for the signing tests.

    tsa_server.py PKI_DIR [--port N] [--ready-file FILE]

Answers every POST of a time-stamp request (application/timestamp-query)
with "openssl ts -reply", signed by the time-stamping certificate of the
test PKI (tools/pki/make_test_pki.sh: tsa.crt, tsa.key, tsa.cnf). Listens on
127.0.0.1 only; --port 0 picks a free port, which is written to the ready
file as {"port": N} once the authority accepts requests. Requests are
answered one at a time (the authority's serial file allows no more).
"""

import argparse
import http.server
import json
import os
import subprocess
import sys
import tempfile

MAX_QUERY_BYTES = 64 * 1024


class TimeStampHandler(http.server.BaseHTTPRequestHandler):
    pki_dir = "."

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        if not 0 < length <= MAX_QUERY_BYTES:
            self.send_error(400, "a time-stamp query of 1 to %d bytes" % MAX_QUERY_BYTES)
            return
        query = self.rfile.read(length)
        with tempfile.TemporaryDirectory() as work:
            query_file = os.path.join(work, "query.tsq")
            reply_file = os.path.join(work, "reply.tsr")
            with open(query_file, "wb") as out:
                out.write(query)
            # The relative paths of tsa.cnf are the PKI folder's.
            done = subprocess.run(
                ["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile", query_file,
                 "-out", reply_file],
                cwd=self.pki_dir, stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
            if done.returncode != 0 or not os.path.isfile(reply_file):
                sys.stderr.write(done.stderr.decode("utf-8", "replace"))
                self.send_error(500, "openssl ts -reply failed")
                return
            with open(reply_file, "rb") as source:
                reply = source.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("pki_dir")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--ready-file")
    args = parser.parse_args()
    for name in ("tsa.cnf", "tsa.crt", "tsa.key", "ca.crt"):
        if not os.path.isfile(os.path.join(args.pki_dir, name)):
            parser.error("%s has no %s: make it with tools/pki/make_test_pki.sh"
                         % (args.pki_dir, name))
    TimeStampHandler.pki_dir = os.path.abspath(args.pki_dir)
    server = http.server.HTTPServer(("127.0.0.1", args.port), TimeStampHandler)
    if args.ready_file:
        with open(args.ready_file + ".tmp", "w") as out:
            json.dump({"port": server.server_address[1]}, out)
        os.replace(args.ready_file + ".tmp", args.ready_file)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Vulmo test server: a local HTTP/HTTPS server and forward proxy for the
NetInstaller's end-to-end tests and for local development.

Listens on loopback only. Answers from a behaviour script (--script, with
fault injection), or as the update server for a folder of packages
(--serve-package-dir), or 404. Logs every request as one JSON line. See
README.md beside this file for the script format and the log fields.

Standard library only; runs on Debian 12's python3 (3.11).
"""

import argparse
import json
import os
import signal
import ssl
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from vts_common import (LoopbackHTTPServer, RequestLog, atomic_write,  # noqa: E402
                        is_loopback_address, warn)
from vts_origin import (OriginHandler, PackageSite, reply_from_behaviour,  # noqa: E402
                        text_reply)
from vts_proxy import ProxyHandler  # noqa: E402
from vts_script import Script, Templater  # noqa: E402


class App:
    """State shared by all listeners; read-only after start-up except for the
    script (which locks) and the log (which locks)."""

    def __init__(self, log, script, templater, package_site, proxy_credentials,
                 verbose):
        self.log = log
        self.script = script
        self.templater = templater
        self.package_site = package_site
        self.proxy_credentials = proxy_credentials
        self.verbose = verbose

    def decide(self, handler, host, path):
        """Script first, then the package folder, then 404."""
        if self.script is not None:
            behaviour, description = self.script.next_behaviour(host, path)
            if behaviour is not None:
                return reply_from_behaviour(behaviour, self.templater), description
        if self.package_site is not None:
            answer = self.package_site.answer(handler, path)
            if answer is not None:
                return answer
        return text_reply(404, "not found\n"), {"source": "default"}


def parse_args(argv):
    parser = argparse.ArgumentParser(
        description="Loopback HTTP(S) test server and proxy for Vulmo NetInstaller.")
    parser.add_argument("--bind", default="127.0.0.1",
                        help="listen address; only loopback addresses are accepted")
    parser.add_argument("--http-port", type=int, default=0,
                        help="plain HTTP port (0 = pick a free one)")
    parser.add_argument("--https-port", type=int,
                        help="HTTPS port (0 = pick a free one); needs --cert and --key")
    parser.add_argument("--cert", help="server certificate chain (PEM)")
    parser.add_argument("--key", help="server private key (PEM)")
    parser.add_argument("--proxy-port", type=int,
                        help="forward proxy port (0 = pick a free one)")
    parser.add_argument("--proxy-user", help="Basic proxy user name")
    parser.add_argument("--proxy-password", default="",
                        help="Basic proxy password")
    parser.add_argument("--script", "--control-file", dest="script",
                        help="behaviour script (JSON), re-read when it changes")
    parser.add_argument("--serve-package-dir", action="append", default=[],
                        metavar="DIR", help="answer the update-server exchange "
                        "from the packages in DIR (repeatable)")
    parser.add_argument("--package", help="package file name to announce "
                        "instead of the newest .exe")
    parser.add_argument("--welcome-url", help='"url_welcome" of the exchange reply '
                        "({request_base} = scheme://Host of the request)")
    parser.add_argument("--partner-file", action="append", default=[],
                        metavar="PATH", help="partner-content file (repeatable)")
    parser.add_argument("--log", help="request log, one JSON object per line (appended)")
    parser.add_argument("--ready-file", help="written with the ports as JSON once listening")
    parser.add_argument("--verbose", action="store_true",
                        help="also print an access line per request on stderr")
    args = parser.parse_args(argv)
    if not is_loopback_address(args.bind):
        parser.error("refusing to listen on %s: only loopback addresses are allowed"
                     % args.bind)
    if args.https_port is not None and not (args.cert and args.key):
        parser.error("--https-port needs --cert and --key")
    if args.proxy_user is None and args.proxy_password:
        parser.error("--proxy-password needs --proxy-user")
    if (args.package or args.welcome_url or args.partner_file) and not args.serve_package_dir:
        parser.error("--package, --welcome-url and --partner-file need --serve-package-dir")
    for directory in args.serve_package_dir:
        if not os.path.isdir(directory):
            parser.error("not a directory: %s" % directory)
    for path in args.partner_file:
        if not os.path.isfile(path):
            parser.error("not a file: %s" % path)
    return args


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())

    log = RequestLog(args.log)
    ports = {"http": None, "https": None, "proxy": None}
    script = Script(args.script) if args.script else None
    templater = Templater(ports, script.directory if script else os.getcwd())
    try:
        package_site = (PackageSite(args.serve_package_dir, args.package,
                                    args.welcome_url, args.partner_file, templater)
                        if args.serve_package_dir else None)
    except ValueError as error:
        warn(str(error))
        return 2
    credentials = (args.proxy_user, args.proxy_password) if args.proxy_user is not None else None
    app = App(log, script, templater, package_site, credentials, args.verbose)

    servers = []
    try:
        servers.append(LoopbackHTTPServer((args.bind, args.http_port), OriginHandler,
                                          app, "http"))
        if args.https_port is not None:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(args.cert, args.key)
            servers.append(LoopbackHTTPServer((args.bind, args.https_port),
                                              OriginHandler, app, "https", context))
        if args.proxy_port is not None:
            servers.append(LoopbackHTTPServer((args.bind, args.proxy_port),
                                              ProxyHandler, app, "proxy"))
    except (OSError, ssl.SSLError) as error:
        warn("cannot start: %s" % error)
        for server in servers:
            server.server_close()
        return 1
    for server in servers:
        ports[server.listener] = server.server_address[1]

    threads = [threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2},
                                name="serve-" + server.listener, daemon=True)
               for server in servers]
    for thread in threads:
        thread.start()

    ready = {"pid": os.getpid(), "bind": args.bind,
             "http_port": ports["http"], "https_port": ports["https"],
             "proxy_port": ports["proxy"]}
    for name in ("http", "https", "proxy"):
        if ports[name] is not None:
            scheme = "https" if name == "https" else "http"
            ready[name] = "%s://%s:%d" % (scheme, args.bind, ports[name])
    if args.ready_file:
        atomic_write(args.ready_file, (json.dumps(ready) + "\n").encode("utf-8"))
    if args.verbose:
        warn("listening: %s" % json.dumps(ready))

    while not stop.wait(0.5):
        pass

    for server in servers:
        server.shutdown()
        server.server_close()
    log.close()
    if args.ready_file:
        try:
            os.remove(args.ready_file)
        except OSError:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main())

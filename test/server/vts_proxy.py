"""The forward proxy listener ("proxy") of the Vulmo test server.

Requires Basic proxy credentials when they are configured (407 with
Proxy-Authenticate until the request carries them), then forwards
absolute-form requests or opens a CONNECT tunnel. Targets must resolve to a
loopback address; anything else is refused with 403 before any connection
is tried, so the proxy can never reach beyond the machine.
"""

import base64
import select
import socket
import urllib.parse

from vts_common import (BadRequest, IDLE_TIMEOUT_S, LoopbackHandler,
                        abort_connection, is_loopback_address, make_log_entry,
                        read_request_body, reason_phrase)

HOP_BY_HOP = {"connection", "keep-alive", "proxy-authorization",
              "proxy-authenticate", "proxy-connection", "te", "trailer",
              "transfer-encoding", "upgrade"}
UPSTREAM_TIMEOUT_S = 60


class TargetRefused(Exception):
    pass


def resolve_loopback(host, port):
    """Resolves with the local resolver (inside the test namespace the hosts
    file maps the product's names to 127.0.0.1) and accepts only loopback
    addresses."""
    try:
        infos = socket.getaddrinfo(host, port, socket.AF_INET, socket.SOCK_STREAM)
    except socket.gaierror as error:
        raise TargetRefused("cannot resolve %s: %s" % (host, error))
    for info in infos:
        address = info[4][0]
        if not is_loopback_address(address):
            raise TargetRefused("%s resolves to %s, which is not loopback"
                                % (host, address))
    return infos[0][4]


class ProxyHandler(LoopbackHandler):
    server_version = "VulmoTestProxy/1.0"
    # Unbuffered reads: bytes that follow a CONNECT request must stay in the
    # socket for the tunnel instead of sitting in a read buffer.
    rbufsize = 0

    def _log(self, body, action, status, **extra):
        behaviour = dict({"source": "proxy", "action": action, "status": status}, **extra)
        self.server.app.log.write(
            make_log_entry(self, self.server.listener, body, behaviour))

    def _simple_reply(self, status, text, extra_headers=()):
        data = text.encode("utf-8")
        head = ["HTTP/1.1 %d %s" % (status, reason_phrase(status)),
                "Server: " + self.version_string(),
                "Content-Type: text/plain; charset=utf-8",
                "Content-Length: %d" % len(data)]
        head += ["%s: %s" % header for header in extra_headers]
        if self.close_connection:
            head.append("Connection: close")
        self.wfile.write(("\r\n".join(head) + "\r\n\r\n").encode("latin-1") + data)

    def _authorised(self):
        credentials = self.server.app.proxy_credentials
        if credentials is None:
            return True
        expected = "Basic " + base64.b64encode(
            ("%s:%s" % credentials).encode("utf-8")).decode("ascii")
        given = self.headers.get("Proxy-Authorization", "")
        scheme, _, token = given.strip().partition(" ")
        return scheme.lower() == "basic" and token.strip() == expected[6:]

    def _read_body_or_fail(self):
        try:
            return read_request_body(self)
        except BadRequest as error:
            self.close_connection = True
            self._log(b"", "bad-request", 400, error=str(error))
            self._simple_reply(400, "%s\n" % error)
            return None

    def _accept_request(self):
        """Counts the request and reads its body; None when it has been
        answered already (a malformed request, or one without the proxy
        credentials)."""
        self.requests_on_connection += 1
        body = self._read_body_or_fail()
        if body is None:
            return None
        if not self._authorised():
            self._log(body, "auth-required", 407)
            self._simple_reply(407, "proxy authentication required\n",
                               [("Proxy-Authenticate", 'Basic realm="vulmo"')])
            return None
        return body

    def _forward(self):
        body = self._accept_request()
        if body is None:
            return
        target = urllib.parse.urlsplit(self.path)
        if target.scheme != "http" or not target.hostname:
            self._log(body, "refused", 400, error="not an absolute http URL")
            self._simple_reply(400, "absolute http URL expected\n")
            return
        port = target.port or 80
        try:
            address = resolve_loopback(target.hostname, port)
        except TargetRefused as error:
            self._log(body, "refused", 403, error=str(error))
            self._simple_reply(403, "%s\n" % error)
            return
        try:
            upstream = socket.create_connection(address, timeout=UPSTREAM_TIMEOUT_S)
        except OSError as error:
            self._log(body, "bad-gateway", 502, error=str(error))
            self._simple_reply(502, "cannot reach %s:%d: %s\n"
                               % (target.hostname, port, error))
            return
        self._log(body, "forward", None, target="%s:%d" % (target.hostname, port))
        origin_form = urllib.parse.urlunsplit(("", "", target.path or "/",
                                               target.query, ""))
        lines = ["%s %s HTTP/1.1" % (self.command, origin_form)]
        for name, value in self.headers.items():
            if name.lower() not in HOP_BY_HOP and name.lower() != "content-length":
                lines.append("%s: %s" % (name, value))
        if body or self.command in ("POST", "PUT", "PATCH"):
            lines.append("Content-Length: %d" % len(body))
        lines.append("Connection: close")
        with upstream:
            try:
                upstream.sendall(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + body)
                self._relay_response(upstream)
            except ConnectionResetError:
                # Pass a reset from the origin on to the client.
                abort_connection(self)
                return
            except (ConnectionError, TimeoutError, OSError):
                pass
        # The response was relayed up to the origin's end of stream, which is
        # not necessarily its framing: this connection cannot be reused.
        self.close_connection = True

    def _relay_response(self, upstream):
        """Copies the origin's reply, with its hop-by-hop headers replaced by
        Connection: close, then every body byte until the origin closes."""
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = upstream.recv(65536)
            if not chunk:
                if data:
                    self.wfile.write(data)
                return
            data += chunk
        head, rest = data.split(b"\r\n\r\n", 1)
        lines = head.split(b"\r\n")
        kept = [lines[0]] + [line for line in lines[1:]
                             if line.split(b":", 1)[0].strip().lower()
                             not in (b"connection", b"keep-alive", b"proxy-connection")]
        kept.append(b"Connection: close")
        self.wfile.write(b"\r\n".join(kept) + b"\r\n\r\n" + rest)
        while True:
            chunk = upstream.recv(65536)
            if not chunk:
                return
            self.wfile.write(chunk)

    do_GET = do_POST = do_HEAD = do_PUT = do_DELETE = do_OPTIONS = do_PATCH = _forward

    def do_CONNECT(self):
        body = self._accept_request()
        if body is None:
            return
        host, _, port_text = self.path.rpartition(":")
        host = host.strip("[]")
        try:
            port = int(port_text)
            address = resolve_loopback(host, port)
        except (ValueError, TargetRefused) as error:
            self._log(body, "refused", 403, error=str(error))
            self._simple_reply(403, "%s\n" % error)
            return
        try:
            upstream = socket.create_connection(address, timeout=UPSTREAM_TIMEOUT_S)
        except OSError as error:
            self._log(body, "bad-gateway", 502, error=str(error))
            self._simple_reply(502, "cannot reach %s: %s\n" % (self.path, error))
            return
        self._log(body, "connect", 200, target="%s:%d" % (host, port))
        self.close_connection = True
        with upstream:
            self.wfile.write(b"HTTP/1.1 200 Connection Established\r\n\r\n")
            self._tunnel(upstream)

    def _tunnel(self, upstream):
        client = self.connection
        open_ends = {client: upstream, upstream: client}
        while open_ends:
            try:
                readable, _, _ = select.select(list(open_ends), [], [], IDLE_TIMEOUT_S)
            except (OSError, ValueError):
                return
            if not readable:
                return
            for source in readable:
                sink = open_ends[source]
                try:
                    data = source.recv(65536)
                except ConnectionResetError:
                    if source is upstream:
                        abort_connection(self)
                    return
                except OSError:
                    return
                if data:
                    try:
                        sink.sendall(data)
                    except OSError:
                        return
                else:
                    del open_ends[source]
                    try:
                        sink.shutdown(socket.SHUT_WR)
                    except OSError:
                        pass

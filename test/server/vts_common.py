"""Pieces shared by the origin and proxy listeners of the Vulmo test server.

Everything here is standard library only (Debian 12's python3, 3.11).
"""

import base64
import datetime
import fcntl
import http
import http.server
import ipaddress
import json
import os
import re
import socket
import ssl
import struct
import sys
import threading
import time
from http.server import ThreadingHTTPServer

# Idle keep-alive connections are dropped after this many seconds so a
# long-running demo server does not collect threads forever.
IDLE_TIMEOUT_S = 300


def warn(message):
    print("vulmo_test_server: " + message, file=sys.stderr, flush=True)


def is_loopback_address(text):
    """True for 127.0.0.0/8: the listeners and the proxy's targets are IPv4."""
    try:
        return ipaddress.IPv4Address(text).is_loopback
    except ValueError:
        return False


def reason_phrase(status):
    try:
        return http.HTTPStatus(status).phrase
    except ValueError:
        return "Status %d" % status


class RequestLog:
    """Appends one JSON object per line; every line is flushed at once so a
    test can read the file while the server runs."""

    def __init__(self, path):
        self._lock = threading.Lock()
        self._file = open(path, "a", encoding="utf-8") if path else None

    def write(self, entry):
        if self._file is None:
            return
        line = json.dumps(entry, ensure_ascii=False)
        with self._lock:
            self._file.write(line + "\n")
            self._file.flush()

    def close(self):
        with self._lock:
            if self._file is not None:
                self._file.close()
                self._file = None


def make_log_entry(handler, listener, body, behaviour):
    now = time.time()
    entry = {
        "time": now,
        "iso_time": datetime.datetime.fromtimestamp(
            now, datetime.timezone.utc).isoformat(timespec="milliseconds"),
        "listener": listener,
        "method": handler.command,
        "path": handler.path,
        "version": handler.request_version,
        # items() keeps the names exactly as the client spelled them.
        "headers": [[name, value] for name, value in handler.headers.items()],
        "body_b64": base64.b64encode(body).decode("ascii"),
        "client_port": handler.client_address[1],
        "connection": handler.connection_id,
        "request_on_connection": handler.requests_on_connection,
        "behaviour": behaviour,
    }
    try:
        entry["body_text"] = body.decode("utf-8")
    except UnicodeDecodeError:
        pass
    return entry


class BadRequest(Exception):
    pass


def read_request_body(handler):
    """Reads the whole request body (Content-Length or chunked) so that the
    connection stays usable for the next request."""
    encoding = handler.headers.get("Transfer-Encoding", "")
    if encoding.lower().strip() == "chunked":
        parts = []
        while True:
            line = handler.rfile.readline(65537)
            if not line:
                raise BadRequest("connection closed inside chunked body")
            try:
                size = int(line.split(b";", 1)[0].strip(), 16)
            except ValueError:
                raise BadRequest("bad chunk size line %r" % line)
            if size == 0:
                # Trailer section up to the empty line.
                while True:
                    trailer = handler.rfile.readline(65537)
                    if trailer in (b"\r\n", b"\n", b""):
                        return b"".join(parts)
            parts.append(read_exactly(handler.rfile, size))
            read_exactly(handler.rfile, 2)
    length = handler.headers.get("Content-Length")
    if length is None:
        return b""
    try:
        count = int(length)
    except ValueError:
        raise BadRequest("bad Content-Length %r" % length)
    if count < 0:
        raise BadRequest("negative Content-Length")
    return read_exactly(handler.rfile, count)


def read_exactly(stream, count):
    chunks = []
    remaining = count
    while remaining > 0:
        data = stream.read(remaining)
        if not data:
            raise BadRequest("connection closed inside body")
        chunks.append(data)
        remaining -= len(data)
    return b"".join(chunks)


_RANGE_RE = re.compile(r"^\s*bytes\s*=\s*(\d*)\s*-\s*(\d*)\s*$", re.IGNORECASE)


def parse_range(value, total):
    """Returns None (no usable single range: serve everything), "unsatisfiable",
    or (first, last) inclusive byte positions within a body of `total` bytes."""
    if value is None:
        return None
    match = _RANGE_RE.match(value)
    if not match:
        return None
    first_text, last_text = match.groups()
    if first_text == "" and last_text == "":
        return None
    if first_text == "":
        suffix = int(last_text)
        if suffix == 0:
            return "unsatisfiable"
        return (max(0, total - suffix), total - 1) if total else "unsatisfiable"
    first = int(first_text)
    last = int(last_text) if last_text else total - 1
    if last_text and last < first:
        return None  # invalid: ignored, the whole body is sent
    if first >= total:
        return "unsatisfiable"
    return first, min(last, total - 1)


_SIOCOUTQ = 0x5411  # Linux: bytes in the send queue not yet acknowledged


def wait_until_sent(sock, timeout_s=2.0):
    """Waits until the peer has acknowledged everything written: a close with
    SO_LINGER 0 throws away whatever is still queued, so without this the
    last bytes before a reset could be lost instead of delivered."""
    deadline = time.monotonic() + timeout_s
    while time.monotonic() < deadline:
        try:
            pending = struct.unpack("i", fcntl.ioctl(sock.fileno(), _SIOCOUTQ, b"\0" * 4))[0]
        except OSError:
            return
        if pending == 0:
            return
        time.sleep(0.005)


def prepare_connection(sock):
    """No Nagle delay: drips and the bytes before a reset go out at once."""
    try:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    except OSError:
        pass


def abort_connection(handler):
    """Drops the connection with a TCP RST (SO_LINGER 0) and nothing more,
    not even a TLS close_notify. Bytes already written are delivered first."""
    sock = handler.connection
    wait_until_sent(sock)
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                        struct.pack("ii", 1, 0))
    except OSError:
        pass
    # The read stream holds a reference to the descriptor, which is released
    # (and the RST sent) only once it is closed too. The write stream holds
    # none and must stay open: the request loop still flushes it.
    try:
        handler.rfile.close()
    except OSError:
        pass
    try:
        sock.close()
    except OSError:
        pass
    handler.close_connection = True


class LoopbackHTTPServer(ThreadingHTTPServer):
    """A threaded listener on a loopback address. With an SSL context the TLS
    handshake runs in the connection's own thread, so a client that connects
    and stays silent cannot block the accept loop."""

    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, address, handler_class, app, listener, ssl_context=None):
        if not is_loopback_address(address[0]):
            raise ValueError("refusing to bind to non-loopback address %s"
                             % address[0])
        self.app = app
        self.listener = listener
        self.ssl_context = ssl_context
        self._id_lock = threading.Lock()
        self._next_connection_id = 0
        super().__init__(address, handler_class)

    def next_connection_id(self):
        with self._id_lock:
            self._next_connection_id += 1
            return "%s-%d" % (self.listener, self._next_connection_id)

    def finish_request(self, request, client_address):
        if self.ssl_context is None:
            super().finish_request(request, client_address)
            return
        request.settimeout(30)
        try:
            tls = self.ssl_context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError) as error:
            warn("%s: TLS handshake with port %d failed: %s"
                 % (self.listener, client_address[1], error))
            return
        try:
            self.RequestHandlerClass(tls, client_address, self)
        finally:
            self.shutdown_request(tls)

    def shutdown_request(self, request):
        if request.fileno() == -1:
            return  # already closed, e.g. aborted with RST
        if isinstance(request, ssl.SSLSocket):
            # Send close_notify so a TLS client reading up to the end of the
            # stream sees a clean end rather than a truncation error.
            try:
                request.settimeout(0.5)
                request.unwrap()
            except (ssl.SSLError, OSError, ValueError):
                pass
        super().shutdown_request(request)

    def handle_error(self, request, client_address):
        error = sys.exc_info()[1]
        if isinstance(error, (ConnectionError, TimeoutError, ssl.SSLError)):
            return
        warn("%s: error while handling a request from port %d"
             % (self.listener, client_address[1]))
        super().handle_error(request, client_address)


def atomic_write(path, data):
    tmp = "%s.tmp-%d" % (path, os.getpid())
    with open(tmp, "wb") as out:
        out.write(data)
    os.replace(tmp, path)


class LoopbackHandler(http.server.BaseHTTPRequestHandler):
    """What the origin and proxy handlers share: HTTP/1.1 with an idle
    timeout, no Nagle delay, connection numbering for the request log, and
    the standard library's access log only in verbose mode."""

    protocol_version = "HTTP/1.1"
    timeout = IDLE_TIMEOUT_S

    def version_string(self):
        return self.server_version

    def setup(self):
        super().setup()
        prepare_connection(self.connection)
        self.connection_id = self.server.next_connection_id()
        self.requests_on_connection = 0

    def log_message(self, format, *args):
        if self.server.app.verbose:
            super().log_message(format, *args)

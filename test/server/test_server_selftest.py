"""Self-tests of vulmo_test_server.py: each behaviour is checked on the wire
with raw sockets, against a real server process on 127.0.0.1.

    scripts/netns-run.sh -- python3 -m unittest discover -s test/server -p 'test_*.py'
"""

import base64
import hashlib
import http.client
import json
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import SERVER, TestServer, header, make_test_certs  # noqa: E402

NAMES = "autoupdate.vulmo.com autoupdate.vulmo.io"
BLOB = bytes((i * 7 + 3) % 256 for i in range(1000))
BIG = BLOB * 8000  # 8 MB
CERTS = None  # one CA and server certificate for the whole run


def setUpModule():
    global CERTS_TMP, CERTS
    CERTS_TMP = tempfile.mkdtemp(prefix="vts-certs-")
    CERTS = make_test_certs(CERTS_TMP)


def tearDownModule():
    shutil.rmtree(CERTS_TMP, ignore_errors=True)


def names_resolve_to_loopback():
    """Reads /etc/hosts itself: asking the resolver outside the test
    namespace would send a DNS query for a production name."""
    mapped = set()
    with open("/etc/hosts", encoding="utf-8", errors="replace") as hosts:
        for line in hosts:
            fields = line.split("#", 1)[0].split()
            if fields and fields[0] == "127.0.0.1":
                mapped.update(fields[1:])
    return all(name in mapped for name in NAMES.split())


def trusting_context():
    return ssl.create_default_context(cafile=os.path.join(CERTS, "ca.crt"))


class Response:
    def __init__(self):
        self.status = None
        self.headers = {}
        self.body = b""
        # "eof", "reset", "open" (still open after the reply) or, over TLS,
        # "abrupt": the stream ended without close_notify. OpenSSL reports a
        # TCP reset that way too.
        self.ending = None
        self.elapsed = 0.0

    def header(self, name):
        return self.headers.get(name.lower())


def read_response(sock, started, method="GET", quiet_s=0.1, timeout_s=5.0):
    """Reads one reply and reports how the connection ended: up to EOF or
    RST, or, once a Content-Length body is complete, for a short quiet period
    that shows the connection stays open."""
    result = Response()
    data = b""
    head_end = -1
    expected = None
    sock.settimeout(timeout_s)
    while True:
        if head_end >= 0 and expected is not None and len(data) - head_end >= expected:
            sock.settimeout(quiet_s)
        try:
            chunk = sock.recv(65536)
        except ConnectionResetError:
            result.ending = "reset"
            break
        except ssl.SSLEOFError:
            result.ending = "abrupt"
            break
        except (socket.timeout, TimeoutError):
            result.ending = "open"
            break
        if not chunk:
            result.ending = "eof"
            break
        data += chunk
        if head_end < 0 and b"\r\n\r\n" in data:
            head, _ = data.split(b"\r\n\r\n", 1)
            head_end = len(head) + 4
            lines = head.decode("latin-1").split("\r\n")
            result.status = int(lines[0].split()[1])
            for line in lines[1:]:
                name, _, value = line.partition(":")
                result.headers[name.strip().lower()] = value.strip()
            if "content-length" in result.headers:
                expected = int(result.headers["content-length"])
            if (result.status in (204, 304) or method == "HEAD"
                    or (method == "CONNECT" and 200 <= result.status < 300)):
                expected = 0
    result.elapsed = time.monotonic() - started
    if head_end >= 0:
        result.body = data[head_end:]
    return result


def raw_request(port, method, path, headers=(), body=b"", tls=None,
                server_hostname="autoupdate.vulmo.com", sock=None, keep=False):
    """Sends one request (on `sock` when given) and reads the reply. A socket
    made here is closed afterwards unless `keep` (then it is reply.sock)."""
    owned = sock is None
    if sock is None:
        sock = socket.create_connection(("127.0.0.1", port), timeout=5)
        if tls is not None:
            try:
                sock = tls.wrap_socket(sock, server_hostname=server_hostname,
                                       suppress_ragged_eofs=False)
            except BaseException:
                sock.close()
                raise
    lines = ["%s %s HTTP/1.1" % (method, path)]
    names = {name.lower() for name, _ in headers}
    if "host" not in names:
        lines.append("Host: 127.0.0.1:%d" % port)
    lines += ["%s: %s" % item for item in headers]
    if body and "content-length" not in names and "transfer-encoding" not in names:
        lines.append("Content-Length: %d" % len(body))
    started = time.monotonic()
    sock.sendall(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + body)
    try:
        result = read_response(sock, started, method)
    except BaseException:
        sock.close()
        raise
    if owned and not keep:
        sock.close()
    else:
        result.sock = sock
    return result


BEHAVIOUR_ROUTES = {
    "/status": {"status": 502, "body": "bad gw"},
    "/redirect": {"status": 302, "location": "{base:autoupdate.vulmo.io}/next"},
    "/blob": {"body_file": "blob.bin"},
    "/blob-norange": {"body_file": "blob.bin", "range": "ignore"},
    "/nolength": {"body": "until the end", "content_length": False},
    "/lie": {"body": "0123456789", "content_length": 50},
    "/truncate": {"body_file": "blob.bin", "truncate_after": 100},
    "/reset-head": {"reset_before_head": True},
    "/reset-after": {"body_file": "blob.bin", "reset_after": 10},
    "/big-reset": {"body_file": "big.bin", "reset_after": 6_000_000},
    "/drip": {"body": "a" * 40, "drip": {"chunk": 10, "delay_ms": 150}},
    "/delay": {"status": 204, "delay_ms": 300},
    "/reset-late": {"body_file": "blob.bin", "reset_after": 10, "end_delay_ms": 300},
    "/auth": {"status": 407},
    "/seq": [{"status": 503}, {"status": 503}, {"status": 200, "body": "ok"}],
    "/log/*": {"status": 200, "body": "logged"},
    "/m/*": {"body": "short prefix"},
    "/m/deep/*": {"body": "long prefix"},
    "/m/exact": {"body": "exact"},
    "/tpl": {"json": {"http": "{http}/p", "https": "{https}",
                      "base": "{base:autoupdate.vulmo.com}/x",
                      "sbase": "{sbase:autoupdate.vulmo.io}",
                      "sha": "{sha256:blob.bin}", "size": "{size:blob.bin}",
                      "nested": [{"port": "{http_port}"}], "number": 5,
                      "untouched": "{not_a_placeholder}"}},
}


class BehaviourTests(unittest.TestCase):
    """One server with HTTPS and an authenticating proxy for all cases."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="vts-behaviour-")
        for name, data in (("blob.bin", BLOB), ("big.bin", BIG)):
            with open(os.path.join(cls.tmp, name), "wb") as out:
                out.write(data)
        cls.server = TestServer(cls.tmp, script={
            "routes": BEHAVIOUR_ROUTES,
            "hosts": {"autoupdate.vulmo.io": {"routes": {"/m/exact": {"body": "io host"}}}},
        }, https=CERTS, proxy=("vulmo", "s3cret")).start()
        cls.port = cls.server.http_port

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_behaviours_on_the_wire(self):
        p = None  # header expected absent
        cases = [
            # name, path, request headers, status, {header: value|None}, body, ending
            ("status with body", "/status", [], 502, {"content-length": "6"}, b"bad gw", "open"),
            ("redirect", "/redirect", [], 302,
             {"location": "http://autoupdate.vulmo.io:%d/next" % self.port}, b"", "open"),
            ("full file", "/blob", [], 200, {"content-length": "1000", "content-range": p},
             BLOB, "open"),
            ("range from offset", "/blob", [("Range", "bytes=300-")], 206,
             {"content-range": "bytes 300-999/1000", "content-length": "700"}, BLOB[300:], "open"),
            ("range from zero", "/blob", [("Range", "bytes=0-")], 206,
             {"content-range": "bytes 0-999/1000"}, BLOB, "open"),
            ("closed range", "/blob", [("Range", "bytes=10-19")], 206,
             {"content-range": "bytes 10-19/1000"}, BLOB[10:20], "open"),
            ("closed range beyond the end", "/blob", [("Range", "bytes=990-2000")], 206,
             {"content-range": "bytes 990-999/1000"}, BLOB[990:], "open"),
            ("range past the end", "/blob", [("Range", "bytes=1000-")], 416,
             {"content-range": "bytes */1000", "content-length": "0"}, b"", "open"),
            ("range ignored", "/blob-norange", [("Range", "bytes=300-")], 200,
             {"content-range": p, "content-length": "1000"}, BLOB, "open"),
            ("no content length", "/nolength", [], 200,
             {"content-length": p, "connection": "close"}, b"until the end", "eof"),
            ("lying content length", "/lie", [], 200,
             {"content-length": "50", "connection": p}, b"0123456789", "eof"),
            ("truncated", "/truncate", [], 200, {"content-length": "1000"}, BLOB[:100], "eof"),
            ("truncated after range", "/truncate", [("Range", "bytes=500-")], 206,
             {"content-length": "500"}, BLOB[500:600], "eof"),
            ("reset before head", "/reset-head", [], None, {}, b"", "reset"),
            ("reset after body bytes", "/reset-after", [], 200,
             {"content-length": "1000"}, BLOB[:10], "reset"),
            ("407 from a script", "/auth", [], 407,
             {"proxy-authenticate": 'Basic realm="vulmo"'}, b"", "open"),
            ("client asks to close", "/status", [("Connection", "close")], 502,
             {"connection": "close"}, b"bad gw", "eof"),
            ("unknown path", "/nowhere", [], 404, {}, b"not found\n", "open"),
        ]
        for name, path, headers, status, expect_headers, body, ending in cases:
            with self.subTest(name):
                reply = raw_request(self.port, "GET", path, headers)
                self.assertEqual(reply.status, status)
                for key, value in expect_headers.items():
                    self.assertEqual(reply.header(key), value, key)
                self.assertEqual(reply.body, body)
                self.assertEqual(reply.ending, ending)

    def test_reset_delivers_every_byte_before_it_to_a_slow_reader(self):
        # Megabytes that sit in the send queue while the client is not
        # reading must still arrive before the RST, so that a resume test
        # knows exactly where the client stopped.
        sock = socket.create_connection(("127.0.0.1", self.port), timeout=5)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
        sock.sendall(b"GET /big-reset HTTP/1.1\r\nHost: x\r\n\r\n")
        time.sleep(0.3)
        reply = read_response(sock, time.monotonic())
        sock.close()
        self.assertEqual(reply.header("content-length"), str(len(BIG)))
        self.assertEqual(len(reply.body), 6_000_000)
        self.assertEqual(reply.body, BIG[:6_000_000])
        self.assertEqual(reply.ending, "reset")

    def test_head_has_length_but_no_body(self):
        reply = raw_request(self.port, "HEAD", "/blob")
        self.assertEqual((reply.status, reply.header("content-length")), (200, "1000"))
        self.assertEqual(reply.body, b"")
        self.assertEqual(reply.ending, "open")

    def test_timing_of_drip_and_delay(self):
        reply = raw_request(self.port, "GET", "/drip")
        self.assertEqual(reply.body, b"a" * 40)
        self.assertGreaterEqual(reply.elapsed, 0.45)  # three pauses of 150 ms
        self.assertLess(reply.elapsed, 2.0)
        reply = raw_request(self.port, "GET", "/delay")
        self.assertEqual((reply.status, reply.header("content-length")), (204, None))
        self.assertGreaterEqual(reply.elapsed, 0.3)
        # The pause comes after the body bytes, before the reset.
        reply = raw_request(self.port, "GET", "/reset-late")
        self.assertEqual((reply.status, reply.body, reply.ending), (200, BLOB[:10], "reset"))
        self.assertGreaterEqual(reply.elapsed, 0.3)

    def test_sequence_on_one_keep_alive_connection(self):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=5)
        statuses = []
        for _ in range(4):
            connection.request("GET", "/seq")
            response = connection.getresponse()
            response.read()
            statuses.append(response.status)
        connection.close()
        self.assertEqual(statuses, [503, 503, 200, 200])  # the last one repeats
        entries = self.server.requests(path="/seq")
        self.assertEqual([e["behaviour"]["index"] for e in entries], [0, 1, 2, 2])
        self.assertEqual(len({e["connection"] for e in entries}), 1)
        self.assertEqual([e["request_on_connection"] for e in entries], [1, 2, 3, 4])

    def test_route_matching(self):
        cases = [
            ("/m/anything", None, b"short prefix"),
            ("/m/deep/x/y", None, b"long prefix"),   # longest prefix wins
            ("/m/exact?query=1", None, b"exact"),    # exact beats prefix; query ignored
            ("http://x/m/exact", None, b"exact"),    # absolute form
            ("/m/exact", "autoupdate.vulmo.io:80", b"io host"),
            ("/m/deep/x", "AUTOUPDATE.vulmo.io", b"long prefix"),  # falls back to top level
        ]
        for path, host, body in cases:
            with self.subTest(path=path, host=host):
                headers = [("Host", host)] if host else []
                self.assertEqual(raw_request(self.port, "GET", path, headers).body, body)

    def test_templating(self):
        reply = raw_request(self.port, "GET", "/tpl")
        self.assertEqual(reply.header("content-type"), "application/json")
        https = self.server.https_port
        self.assertEqual(json.loads(reply.body), {
            "http": "http://127.0.0.1:%d/p" % self.port,
            "https": "https://127.0.0.1:%d" % https,
            "base": "http://autoupdate.vulmo.com:%d/x" % self.port,
            "sbase": "https://autoupdate.vulmo.io:%d" % https,
            "sha": hashlib.sha256(BLOB).hexdigest(),
            "size": "1000",
            "nested": [{"port": str(self.port)}],
            "number": 5,
            "untouched": "{not_a_placeholder}",
        })

    def test_request_log(self):
        binary = b"\x00\xffbinary\r\n"
        raw_request(self.port, "POST", "/log/x?y=1",
                    [("X-Mixed-Case", "Value"), ("content-type", "application/x-thing")],
                    binary)
        chunked = b"4\r\npay=\r\n2\r\n\xc3\xbc\r\n0\r\n\r\n"
        sock = socket.create_connection(("127.0.0.1", self.port), timeout=5)
        first = raw_request(self.port, "POST", "/log/chunked",
                            [("Transfer-Encoding", "chunked")], chunked, sock=sock)
        second = raw_request(self.port, "GET", "/log/after", sock=sock)
        sock.close()
        self.assertEqual((first.status, second.status), (200, 200))

        entry, = self.server.requests(path="/log/x?y=1")
        self.assertEqual((entry["listener"], entry["method"]), ("http", "POST"))
        self.assertIn(["X-Mixed-Case", "Value"], entry["headers"])
        self.assertIn(["content-type", "application/x-thing"], entry["headers"])
        self.assertEqual(base64.b64decode(entry["body_b64"]), binary)
        self.assertNotIn("body_text", entry)
        self.assertEqual(entry["behaviour"],
                         {"source": "script", "host": None, "route": "/log/*",
                          "index": 0, "request_number": 0, "status": 200})
        entry, = self.server.requests(path="/log/chunked")
        self.assertEqual(entry["body_text"], "pay=\u00fc")
        after, = self.server.requests(path="/log/after")
        self.assertEqual(after["connection"], entry["connection"])

    def test_https(self):
        untrusted = ssl.create_default_context()
        cases = [
            ("trusted CA and a name in the SAN", trusting_context(), "autoupdate.vulmo.com", True),
            ("IP address in the SAN", trusting_context(), "127.0.0.1", True),
            ("CA not trusted", untrusted, "autoupdate.vulmo.com", False),
            ("name not in the SAN", trusting_context(), "www.example.org", False),
        ]
        for name, context, hostname, ok in cases:
            with self.subTest(name):
                if ok:
                    reply = raw_request(self.server.https_port, "GET", "/blob",
                                        [("Range", "bytes=990-")], tls=context,
                                        server_hostname=hostname)
                    self.assertEqual((reply.status, reply.body), (206, BLOB[990:]))
                else:
                    with self.assertRaises(ssl.SSLCertVerificationError):
                        raw_request(self.server.https_port, "GET", "/blob", tls=context,
                                    server_hostname=hostname)
        # Faults over TLS: a reply read to the end of the stream ends with
        # close_notify; a reset ends without one, after the bytes sent before.
        reply = raw_request(self.server.https_port, "GET", "/nolength", tls=trusting_context())
        self.assertEqual((reply.body, reply.ending), (b"until the end", "eof"))
        reply = raw_request(self.server.https_port, "GET", "/truncate", tls=trusting_context())
        self.assertEqual((reply.body, reply.ending), (BLOB[:100], "eof"))
        reply = raw_request(self.server.https_port, "GET", "/reset-after", tls=trusting_context())
        self.assertEqual((reply.body, reply.ending), (BLOB[:10], "abrupt"))
        self.assertTrue(self.server.requests(path="/nolength", listener="https"))

    def _auth(self, user="vulmo", password="s3cret"):
        token = base64.b64encode(("%s:%s" % (user, password)).encode()).decode()
        return ("Proxy-Authorization", "Basic " + token)

    def test_proxy_requires_credentials_then_forwards(self):
        target = "http://127.0.0.1:%d/status" % self.port
        sock = socket.create_connection(("127.0.0.1", self.server.proxy_port), timeout=5)
        attempts = [("no credentials", [], 407),
                    ("wrong password", [self._auth(password="nope")], 407),
                    ("right credentials", [self._auth()], 502)]  # 502 is the origin's
        for name, headers, status in attempts:
            with self.subTest(name):
                reply = raw_request(self.server.proxy_port, "GET", target,
                                    [("Host", "autoupdate.vulmo.com:%d" % self.port)] + headers,
                                    sock=sock)
                self.assertEqual(reply.status, status)
                if status == 407:
                    self.assertEqual(reply.header("proxy-authenticate"), 'Basic realm="vulmo"')
                    self.assertEqual(reply.ending, "open")  # retry on the same connection
                else:
                    self.assertEqual((reply.body, reply.ending), (b"bad gw", "eof"))
        sock.close()
        actions = [e["behaviour"]["action"] for e in self.server.requests(path=target)]
        self.assertEqual(actions, ["auth-required", "auth-required", "forward"])
        origin = self.server.requests(path="/status", listener="http")[-1]
        self.assertEqual(header(origin, "Host"), "autoupdate.vulmo.com:%d" % self.port)
        self.assertIsNone(header(origin, "Proxy-Authorization"))

    def test_proxy_passes_origin_faults_on(self):
        for path, body, ending in [("/truncate", BLOB[:100], "eof"),
                                   ("/reset-after", BLOB[:10], "reset")]:
            with self.subTest(path):
                reply = raw_request(self.server.proxy_port, "GET",
                                    "http://127.0.0.1:%d%s" % (self.port, path), [self._auth()])
                self.assertEqual((reply.status, reply.header("content-length")), (200, "1000"))
                self.assertEqual((reply.body, reply.ending), (body, ending))

    def test_proxy_refuses_non_loopback_targets(self):
        # An address literal: refused before any resolution or connection.
        reply = raw_request(self.server.proxy_port, "GET", "http://192.0.2.1/x", [self._auth()])
        self.assertEqual(reply.status, 403)
        reply = raw_request(self.server.proxy_port, "CONNECT", "192.0.2.1:443",
                            [("Host", "192.0.2.1:443"), self._auth()])
        self.assertEqual(reply.status, 403)

    @unittest.skipUnless(names_resolve_to_loopback(),
                         "needs the hosts file of scripts/netns-run.sh --hosts '%s'" % NAMES)
    def test_proxy_resolves_names_with_the_hosts_file(self):
        cases = [("GET", "http://autoupdate.vulmo.com:%d/status" % self.port, 502),
                 ("CONNECT", "autoupdate.vulmo.io:%d" % self.server.https_port, 200)]
        for method, target, status in cases:
            with self.subTest(method):
                reply = raw_request(self.server.proxy_port, method, target, [self._auth()])
                self.assertEqual(reply.status, status)

    def test_proxy_connect_tunnel_to_https(self):
        authority = "127.0.0.1:%d" % self.server.https_port
        reply = raw_request(self.server.proxy_port, "CONNECT", authority,
                            [("Host", authority)], keep=True)
        self.assertEqual(reply.status, 407)
        sock = reply.sock
        reply = raw_request(self.server.proxy_port, "CONNECT", authority,
                            [("Host", authority), self._auth()], sock=sock)
        self.assertEqual((reply.status, reply.body, reply.ending), (200, b"", "open"))
        tls = trusting_context().wrap_socket(sock, server_hostname="autoupdate.vulmo.com")
        reply = raw_request(self.server.https_port, "GET", "/blob",
                            [("Host", authority)], sock=tls)
        tls.close()
        self.assertEqual((reply.status, reply.body), (200, BLOB))
        self.assertEqual(self.server.requests(path=authority)[-1]["behaviour"]["action"],
                         "connect")


class ScriptFileTests(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="vts-script-")
        self.server = TestServer(self.tmp, script={"routes": {"/x": [{"status": 503},
                                                                     {"body": "one"}]}}).start()

    def tearDown(self):
        self.server.stop()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def get(self, path="/x"):
        return raw_request(self.server.http_port, "GET", path)

    def test_reload_restarts_sequences(self):
        self.assertEqual([self.get().status for _ in range(2)], [503, 200])
        self.server.set_script({"routes": {"/x": [{"status": 504}, {"body": "two"}]}})
        self.assertEqual([(r.status, r.body) for r in (self.get(), self.get())],
                         [(504, b""), (200, b"two")])

    def test_invalid_script_answers_500_until_fixed(self):
        self.server.set_script({"routes": {"/x": {"stauts": 200}}})
        reply = self.get()
        self.assertEqual(reply.status, 500)
        self.assertIn(b"stauts", reply.body)
        self.assertEqual(self.server.requests()[-1]["behaviour"]["source"], "script-error")
        self.server.set_script({"routes": {"/x": {"body": "fixed"}}})
        self.assertEqual(self.get().body, b"fixed")

    def test_bad_behaviours_are_reported(self):
        bad = [
            {"routes": {"/x": {"body": "a", "json": {}}}},
            {"routes": {"/x": {"headers": {"Content-Length": "5"}}}},
            {"routes": {"/x": {"content_length": "yes"}}},
            {"routes": {"/x": {"range": "sometimes"}}},
            {"routes": {"/x": {"drip": {"chunk": 0}}}},
            {"routes": {"/x": {"end_delay_ms": -1}}},
            {"routes": {"x": {}}},
            {"routes": {"/x": []}},
            {"route": {}},
        ]
        for script in bad:
            with self.subTest(script=script):
                self.server.set_script(script)
                self.assertEqual(self.get().status, 500)


class PackageDirTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="vts-packages-")
        cls.packages = os.path.join(cls.tmp, "packages")
        os.mkdir(cls.packages)
        cls.files = {"old.exe": b"MZ old package" * 50, "new.exe": b"MZ new package" * 300,
                     "notes.txt": b"not a package"}
        for name, data in cls.files.items():
            with open(os.path.join(cls.packages, name), "wb") as out:
                out.write(data)
        now = time.time()
        os.utime(os.path.join(cls.packages, "old.exe"), (now - 100, now - 100))
        os.utime(os.path.join(cls.packages, "notes.txt"), (now + 100, now + 100))
        cls.partner = os.path.join(cls.tmp, "eula.txt")
        with open(cls.partner, "wb") as out:
            out.write(b"partner terms\n")
        cls.server = TestServer(cls.tmp, https=CERTS, package_dirs=[cls.packages], extra_args=[
            "--partner-file", cls.partner, "--welcome-url", "{request_base}/welcome"]).start()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_exchange_reply(self):
        port = self.server.http_port
        host = "autoupdate.vulmo.com:%d" % port
        payload = b"payload\x01bytes"
        reply = raw_request(port, "POST", "/netinstaller/Stable", [("Host", host)], payload)
        self.assertEqual(reply.status, 200)
        base = "http://" + host
        self.assertEqual(json.loads(reply.body), {
            "installer": base + "/packages/new.exe",
            "installer_checksum": hashlib.sha256(self.files["new.exe"]).hexdigest(),
            "url_welcome": base + "/welcome",
            "partner_content": [{"href": base + "/partner/eula.txt", "filename": "eula.txt",
                                 "checksum": hashlib.sha256(b"partner terms\n").hexdigest()}],
        })
        entry = self.server.requests(path="/netinstaller/Stable")[-1]
        self.assertEqual(base64.b64decode(entry["body_b64"]), payload)
        self.assertEqual(entry["behaviour"]["kind"], "exchange")

    def test_exchange_over_https_uses_https_urls(self):
        reply = raw_request(self.server.https_port, "GET", "/netinstaller/Stable",
                            [("Host", "autoupdate.vulmo.com")], tls=trusting_context())
        self.assertEqual(json.loads(reply.body)["installer"],
                         "https://autoupdate.vulmo.com/packages/new.exe")

    def test_files_are_served_with_ranges(self):
        port = self.server.http_port
        new = self.files["new.exe"]
        cases = [
            ("/packages/new.exe", [], 200, new),
            ("/packages/new.exe", [("Range", "bytes=1000-")], 206, new[1000:]),
            ("/packages/old.exe", [], 200, self.files["old.exe"]),
            ("/partner/eula.txt", [("Range", "bytes=8-")], 206, b"terms\n"),
            ("/packages/missing.exe", [], 404, b"not found\n"),
            ("/packages/..%2Fpackages%2Fnew.exe", [], 404, b"not found\n"),
            ("/partner/new.exe", [], 404, b"not found\n"),
        ]
        for path, headers, status, body in cases:
            with self.subTest(path=path, headers=headers):
                reply = raw_request(port, "GET", path, headers)
                self.assertEqual((reply.status, reply.body), (status, body))
        reply = raw_request(port, "GET", "/packages/new.exe", [("Range", "bytes=1000-")])
        self.assertEqual(reply.header("content-range"), "bytes 1000-%d/%d" % (len(new) - 1, len(new)))

    def test_named_package(self):
        tmp = os.path.join(self.tmp, "named")
        with TestServer(tmp, package_dirs=[self.packages],
                        extra_args=["--package", "old.exe"]) as server:
            reply = raw_request(server.http_port, "GET", "/netinstaller/Stable")
        body = json.loads(reply.body)
        self.assertTrue(body["installer"].endswith("/packages/old.exe"))
        self.assertEqual(body["installer_checksum"],
                         hashlib.sha256(self.files["old.exe"]).hexdigest())
        self.assertNotIn("partner_content", body)
        self.assertNotIn("url_welcome", body)


class LifecycleTests(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="vts-life-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def test_ready_file_and_clean_stop_with_idle_connection(self):
        server = TestServer(self.tmp, https=CERTS, proxy=True).start()
        try:
            for name in ("http_port", "https_port", "proxy_port"):
                with self.subTest(name):
                    socket.create_connection(("127.0.0.1", server.ready[name]), timeout=2).close()
            self.assertEqual(server.ready["pid"], server.process.pid)
            idle = socket.create_connection(("127.0.0.1", server.http_port), timeout=2)
            idle.sendall(b"GET /a HTTP/1.1\r\nHost: x\r\n\r\n")  # then stays open
            time.sleep(0.2)
            started = time.monotonic()
            self.assertEqual(server.stop(), 0)
            self.assertLess(time.monotonic() - started, 3.0)
            self.assertFalse(os.path.exists(server.ready_path))
            idle.close()
        finally:
            server.stop()

    def test_refusals_at_start(self):
        with TestServer(os.path.join(self.tmp, "busy")) as busy:
            cases = [
                ("all interfaces", ["--bind", "0.0.0.0"], 2, "loopback"),
                ("private address", ["--bind", "192.168.1.1"], 2, "loopback"),
                ("https without a key", ["--https-port", "0"], 2, "--cert"),
                ("port in use", ["--http-port", str(busy.http_port)], 1, "cannot start"),
            ]
            for name, args, code, message in cases:
                with self.subTest(name):
                    ready = os.path.join(self.tmp, "ready.json")
                    run = subprocess.run([sys.executable, SERVER, "--ready-file", ready] + args,
                                         capture_output=True, text=True, timeout=10)
                    self.assertEqual(run.returncode, code)
                    self.assertIn(message, run.stderr)
                    self.assertFalse(os.path.exists(ready))

    def test_sigint_also_stops(self):
        server = TestServer(self.tmp).start()
        server.process.send_signal(signal.SIGINT)
        self.assertEqual(server.process.wait(5), 0)


if __name__ == "__main__":
    unittest.main()

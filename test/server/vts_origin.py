"""The origin listeners ("http" and "https") of the Vulmo test server: script
behaviours with fault injection, the package-directory mode and the default
404."""

import base64
import json
import os
import time
import urllib.parse

from vts_common import (BadRequest, LoopbackHandler, abort_connection,
                        make_log_entry, parse_range, read_request_body,
                        reason_phrase, warn)
from vts_script import ScriptError

SEND_BLOCK = 64 * 1024


class Body:
    """A response body held in memory or read from a file on demand, so a
    large package is never loaded whole."""

    def __init__(self, data=b"", path=None):
        self.data = data
        self.path = path
        if path is not None:
            try:
                self.size = os.path.getsize(path)
            except OSError as error:
                raise ScriptError("cannot read %s: %s" % (path, error))
        else:
            self.size = len(data)

    def blocks(self, start, length, block_size):
        if self.path is None:
            for offset in range(start, start + length, block_size):
                yield self.data[offset:min(offset + block_size, start + length)]
            return
        with open(self.path, "rb") as source:
            source.seek(start)
            remaining = length
            while remaining > 0:
                block = source.read(min(block_size, remaining))
                if not block:
                    return  # the file shrank meanwhile
                remaining -= len(block)
                yield block


class Reply:
    """What a behaviour asks for, before the request's Range is applied."""

    def __init__(self, status=200, body=None, headers=None, reason=None,
                 content_length=True, range_mode="honour", truncate_after=None,
                 reset_after=None, reset_before_head=False, drip=None,
                 delay_ms=0, end_delay_ms=0, close=False):
        self.status = status
        self.reason = reason
        self.body = body if body is not None else Body()
        self.headers = headers or []
        self.content_length = content_length
        self.range_mode = range_mode
        self.truncate_after = truncate_after
        self.reset_after = reset_after
        self.reset_before_head = reset_before_head
        self.drip = drip
        self.delay_ms = delay_ms
        self.end_delay_ms = end_delay_ms
        self.close = close


def text_reply(status, text, **options):
    return Reply(status, Body(text.encode("utf-8")),
                 [("Content-Type", "text/plain; charset=utf-8")], **options)


def reply_from_behaviour(behaviour, templater):
    status = behaviour.get("status", 200)
    content_type = None
    if "json" in behaviour:
        body = Body(json.dumps(templater.tree(behaviour["json"]),
                               ensure_ascii=False).encode("utf-8"))
        content_type = "application/json"
    elif "body" in behaviour:
        body = Body(templater.text(behaviour["body"]).encode("utf-8"))
        content_type = "text/plain; charset=utf-8"
    elif "body_file" in behaviour:
        body = Body(path=templater.resolve_path(behaviour["body_file"]))
        content_type = "application/octet-stream"
    elif "body_b64" in behaviour:
        body = Body(base64.b64decode(behaviour["body_b64"]))
        content_type = "application/octet-stream"
    else:
        body = Body()
    content_type = behaviour.get("content_type", content_type)
    headers = []
    if content_type:
        headers.append(("Content-Type", content_type))
    if "location" in behaviour:
        headers.append(("Location", templater.text(behaviour["location"])))
    if status == 407:
        headers.append(("Proxy-Authenticate", 'Basic realm="vulmo"'))
    for name, value in behaviour.get("headers", {}).items():
        # A script header replaces a default of the same name; null removes it.
        headers = [(n, v) for n, v in headers if n.lower() != name.lower()]
        if value is not None:
            headers.append((name, templater.text(value)))
    drip = behaviour.get("drip")
    if drip is not None:
        drip = {"chunk": drip.get("chunk", 1), "delay_ms": drip.get("delay_ms", 0)}
    return Reply(status, body, headers,
                 reason=behaviour.get("reason"),
                 content_length=behaviour.get("content_length", True),
                 range_mode=behaviour.get("range", "honour"),
                 truncate_after=behaviour.get("truncate_after"),
                 reset_after=behaviour.get("reset_after"),
                 reset_before_head=behaviour.get("reset_before_head", False),
                 drip=drip,
                 delay_ms=behaviour.get("delay_ms", 0),
                 end_delay_ms=behaviour.get("end_delay_ms", 0),
                 close=behaviour.get("close", False))


class PackageSite:
    """Answers the installer's update-server exchange from a folder of
    packages, without a script: the newest .exe (or the one named with
    --package) becomes "installer", each --partner-file an entry of
    "partner_content"."""

    EXCHANGE_PREFIX = "/netinstaller/"

    def __init__(self, directories, package_name, welcome_url, partner_files,
                 templater):
        self.directories = [os.path.abspath(d) for d in directories]
        self.package_name = package_name
        self.welcome_url = welcome_url
        self.templater = templater
        self.partners = {}
        for path in partner_files:
            name = os.path.basename(path)
            if name in self.partners:
                raise ValueError("two partner files are named %s" % name)
            self.partners[name] = os.path.abspath(path)

    def _find(self, name):
        for directory in self.directories:
            path = os.path.join(directory, name)
            if os.path.isfile(path):
                return path
        return None

    def current_package(self):
        if self.package_name:
            return self._find(self.package_name)
        newest = None
        for directory in self.directories:
            try:
                names = os.listdir(directory)
            except OSError:
                continue
            for name in names:
                path = os.path.join(directory, name)
                if name.lower().endswith(".exe") and os.path.isfile(path):
                    key = (os.stat(path).st_mtime_ns, name)
                    if newest is None or key > newest[0]:
                        newest = (key, path)
        return newest[1] if newest else None

    def answer(self, handler, path):
        """Returns (Reply, description) or None when the path is not ours."""
        if path.startswith(self.EXCHANGE_PREFIX):
            return self._exchange(handler)
        for prefix, kind in (("/packages/", "package"), ("/partner/", "partner")):
            if path.startswith(prefix):
                name = urllib.parse.unquote(path[len(prefix):])
                if not name or "/" in name or "\\" in name or name in (".", ".."):
                    return None
                file = self._find(name) if kind == "package" else self.partners.get(name)
                if file is None:
                    return None
                return (Reply(200, Body(path=file),
                              [("Content-Type", "application/octet-stream")]),
                        {"source": "package-dir", "kind": kind, "file": file})
        return None

    def _exchange(self, handler):
        scheme = "https" if handler.server.listener == "https" else "http"
        host = handler.headers.get("Host") or "127.0.0.1:%d" % handler.server.server_address[1]
        base = "%s://%s" % (scheme, host)
        package = self.current_package()
        if package is None:
            return (text_reply(404, "no package in %s\n" % self.directories),
                    {"source": "package-dir", "kind": "exchange", "error": "no package"})
        reply = {
            "installer": "%s/packages/%s" % (base, urllib.parse.quote(os.path.basename(package))),
            "installer_checksum": self.templater.sha256_file(package),
        }
        if self.welcome_url is not None:
            reply["url_welcome"] = self.templater.text(
                self.welcome_url.replace("{request_base}", base))
        if self.partners:
            reply["partner_content"] = [
                {"href": "%s/partner/%s" % (base, urllib.parse.quote(name)),
                 "filename": name,
                 "checksum": self.templater.sha256_file(path)}
                for name, path in self.partners.items()]
        body = Body(json.dumps(reply, ensure_ascii=False).encode("utf-8"))
        return (Reply(200, body, [("Content-Type", "application/json")]),
                {"source": "package-dir", "kind": "exchange", "package": package})


def host_name(host_header):
    if not host_header:
        return None
    host = host_header.strip().lower()
    if host.startswith("["):
        return host[1:host.find("]")] if "]" in host else host
    return host.rsplit(":", 1)[0] if ":" in host else host


class OriginHandler(LoopbackHandler):
    server_version = "VulmoTestServer/1.0"

    def _handle(self):
        self.requests_on_connection += 1
        app = self.server.app
        listener = self.server.listener
        try:
            body = read_request_body(self)
        except BadRequest as error:
            app.log.write(make_log_entry(self, listener, b"", {
                "source": "bad-request", "error": str(error), "status": 400}))
            self.close_connection = True
            self._send(self._plan(text_reply(400, "%s\n" % error, close=True)))
            return
        if self.path.startswith("/"):
            path = self.path.split("?", 1)[0]
        else:  # absolute form, as a client talking to a proxy would send
            path = urllib.parse.urlsplit(self.path).path or "/"
        try:
            reply, behaviour = app.decide(self, host_name(self.headers.get("Host")), path)
        except ScriptError as error:
            warn(str(error))
            reply = text_reply(500, "script error: %s\n" % error)
            behaviour = {"source": "script-error", "error": str(error)}
        plan = self._plan(reply)
        behaviour = dict(behaviour, status=plan["status"])
        app.log.write(make_log_entry(self, listener, body, behaviour))
        self._send(plan)

    do_GET = do_POST = do_HEAD = do_PUT = do_DELETE = do_OPTIONS = do_PATCH = _handle

    def _plan(self, reply):
        """Applies the request's Range and decides the framing."""
        status, reason = reply.status, reply.reason
        headers = list(reply.headers)
        total = reply.body.size
        start, length = 0, total
        if status == 200 and total > 0 and reply.range_mode == "honour":
            wanted = parse_range(self.headers.get("Range"), total)
            if wanted == "unsatisfiable":
                status, reason, length = 416, None, 0
                headers.append(("Content-Range", "bytes */%d" % total))
            elif wanted is not None:
                status, reason = 206, None
                start, length = wanted[0], wanted[1] - wanted[0] + 1
                headers.append(("Content-Range", "bytes %d-%d/%d"
                                % (wanted[0], wanted[1], total)))
        close_after = self.close_connection or reply.close
        announce_close = close_after
        if status < 200 or status in (204, 304):
            length = 0
        elif reply.content_length is True:
            headers.append(("Content-Length", str(length)))
        elif reply.content_length is False:
            close_after = announce_close = True
        else:
            headers.append(("Content-Length", str(reply.content_length)))
            if reply.content_length != length:
                close_after = True  # the framing is broken on purpose
        limit, ending = length, None
        if reply.truncate_after is not None and reply.truncate_after < limit:
            limit, ending = reply.truncate_after, "close"
        if reply.reset_after is not None:
            limit, ending = min(limit, reply.reset_after), "reset"
        if self.command == "HEAD":
            limit = 0
        if announce_close:
            headers.append(("Connection", "close"))
        elif self.request_version == "HTTP/1.0":
            headers.append(("Connection", "keep-alive"))
        return {"status": status, "reason": reason or reason_phrase(status),
                "headers": headers, "body": reply.body, "start": start,
                "limit": limit, "ending": ending, "close": close_after,
                "delay_ms": reply.delay_ms, "end_delay_ms": reply.end_delay_ms,
                "drip": reply.drip, "reset_before_head": reply.reset_before_head}

    def _send(self, plan):
        if plan["delay_ms"]:
            time.sleep(plan["delay_ms"] / 1000.0)
        if plan["reset_before_head"]:
            abort_connection(self)
            return
        head = ["HTTP/1.1 %d %s" % (plan["status"], plan["reason"]),
                "Server: " + self.version_string(),
                "Date: " + self.date_time_string()]
        head += ["%s: %s" % header for header in plan["headers"]]
        drip = plan["drip"]
        try:
            self.wfile.write(("\r\n".join(head) + "\r\n\r\n").encode("latin-1"))
            block_size = drip["chunk"] if drip else SEND_BLOCK
            first = True
            for block in plan["body"].blocks(plan["start"], plan["limit"], block_size):
                if drip and not first and drip["delay_ms"]:
                    time.sleep(drip["delay_ms"] / 1000.0)
                first = False
                self.wfile.write(block)
        except (ConnectionError, TimeoutError, OSError):
            self.close_connection = True
            return
        if plan["end_delay_ms"]:
            self.wfile.flush()
            time.sleep(plan["end_delay_ms"] / 1000.0)
        if plan["ending"] == "reset":
            abort_connection(self)
        elif plan["ending"] == "close" or plan["close"]:
            self.close_connection = True

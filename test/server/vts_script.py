"""Behaviour scripts of the Vulmo test server: loading, validation, route
matching and templating. The format is described in README.md beside this
file."""

import base64
import hashlib
import json
import os
import re
import threading

# Keys a behaviour object may carry. Anything else is a typo and is reported
# instead of being silently ignored.
BEHAVIOUR_KEYS = {
    "status", "reason", "headers", "location", "content_type",
    "body", "body_file", "body_b64", "json",
    "content_length", "range", "truncate_after", "reset_before_head",
    "reset_after", "drip", "delay_ms", "end_delay_ms", "close", "comment",
}
BODY_KEYS = ("body", "body_file", "body_b64", "json")
# Framing is chosen with "content_length" only, so a script cannot produce
# an accidental mix of two framings.
FORBIDDEN_HEADERS = {"content-length", "transfer-encoding"}


class ScriptError(Exception):
    pass


def _check(condition, where, message):
    if not condition:
        raise ScriptError("%s: %s" % (where, message))


def _is_int(value):
    return isinstance(value, int) and not isinstance(value, bool)


def validate_behaviour(behaviour, where):
    _check(isinstance(behaviour, dict), where, "a behaviour must be an object")
    unknown = set(behaviour) - BEHAVIOUR_KEYS
    _check(not unknown, where, "unknown key(s) %s" % sorted(unknown))
    bodies = [key for key in BODY_KEYS if key in behaviour]
    _check(len(bodies) <= 1, where, "only one of %s may be given" % (bodies,))
    if "status" in behaviour:
        _check(_is_int(behaviour["status"]) and 100 <= behaviour["status"] <= 999,
               where, "status must be an integer 100..999")
    for key in ("reason", "location", "content_type", "body", "body_file",
                "body_b64", "comment"):
        if key in behaviour:
            _check(isinstance(behaviour[key], str), where,
                   "%s must be a string" % key)
    if "body_b64" in behaviour:
        try:
            base64.b64decode(behaviour["body_b64"], validate=True)
        except ValueError:
            raise ScriptError("%s: body_b64 is not valid base64" % where)
    headers = behaviour.get("headers", {})
    _check(isinstance(headers, dict), where, "headers must be an object")
    for name, value in headers.items():
        _check(name.lower() not in FORBIDDEN_HEADERS, where,
               "set %s through content_length, not headers" % name)
        _check(value is None or isinstance(value, str), where,
               "header %s must be a string or null" % name)
    length = behaviour.get("content_length", True)
    _check(isinstance(length, bool) or (_is_int(length) and length >= 0),
           where, "content_length must be true, false or a length")
    _check(behaviour.get("range", "honour") in ("honour", "ignore"), where,
           'range must be "honour" or "ignore"')
    for key in ("truncate_after", "reset_after", "delay_ms", "end_delay_ms"):
        if key in behaviour:
            _check(_is_int(behaviour[key]) and behaviour[key] >= 0, where,
                   "%s must be a non-negative integer" % key)
    for key in ("reset_before_head", "close"):
        if key in behaviour:
            _check(isinstance(behaviour[key], bool), where,
                   "%s must be true or false" % key)
    if "drip" in behaviour:
        drip = behaviour["drip"]
        _check(isinstance(drip, dict) and set(drip) <= {"chunk", "delay_ms"}
               and _is_int(drip.get("chunk", 1)) and drip.get("chunk", 1) > 0
               and _is_int(drip.get("delay_ms", 0)) and drip.get("delay_ms", 0) >= 0,
               where, 'drip must be {"chunk": N > 0, "delay_ms": M >= 0}')


def _validate_routes(routes, where):
    _check(isinstance(routes, dict), where, "routes must be an object")
    checked = {}
    for key, behaviours in routes.items():
        _check(key.startswith("/"), where, "route %r must start with /" % key)
        if isinstance(behaviours, dict):
            behaviours = [behaviours]
        _check(isinstance(behaviours, list) and behaviours, where,
               "route %r needs a non-empty list of behaviours" % key)
        for index, behaviour in enumerate(behaviours):
            validate_behaviour(behaviour, "%s route %r #%d" % (where, key, index))
        checked[key] = behaviours
    return checked


def parse_script(data):
    """Validates a parsed script; returns {"routes": ..., "hosts": {...}}
    with every route value normalised to a list."""
    _check(isinstance(data, dict), "script", "top level must be an object")
    unknown = set(data) - {"routes", "hosts", "comment"}
    _check(not unknown, "script", "unknown key(s) %s" % sorted(unknown))
    result = {"routes": _validate_routes(data.get("routes", {}), "script"),
              "hosts": {}}
    hosts = data.get("hosts", {})
    _check(isinstance(hosts, dict), "script", "hosts must be an object")
    for host, section in hosts.items():
        where = "hosts[%r]" % host
        _check(isinstance(section, dict) and set(section) <= {"routes", "comment"},
               where, 'a host entry must be {"routes": {...}}')
        result["hosts"][host.lower()] = _validate_routes(
            section.get("routes", {}), where)
    return result


def match_route(routes, path):
    """Exact key first (path without its query), then the longest key that
    ends with "*" and whose text before the "*" starts the path."""
    if path in routes:
        return path
    best = None
    for key in routes:
        if key.endswith("*") and path.startswith(key[:-1]):
            if best is None or len(key) > len(best):
                best = key
    return best


class Script:
    """The behaviour table given by --script. Re-read whenever the file's
    identity (mtime, size, inode) changes; a reload restarts every route's
    sequence. Safe to call from several handler threads."""

    def __init__(self, path):
        self.path = os.path.abspath(path)
        self.directory = os.path.dirname(self.path)
        self._lock = threading.Lock()
        self._identity = None
        self._table = {"routes": {}, "hosts": {}}
        self._error = None
        self._counters = {}

    def _reload_if_changed(self):
        # Both the file's identity and its bytes count: a rewrite with the
        # same bytes still restarts the sequences, and a rewrite that happens
        # to reuse inode, size and mtime tick is still noticed.
        try:
            info = os.stat(self.path)
            with open(self.path, "rb") as source:
                content = source.read()
            identity = (info.st_mtime_ns, info.st_size, info.st_ino, content)
        except FileNotFoundError:
            identity = None
        if identity == self._identity:
            return
        self._identity = identity
        self._counters = {}
        if identity is None:
            self._table, self._error = {"routes": {}, "hosts": {}}, None
            return
        try:
            data = json.loads(content)
        except ValueError as error:
            # Possibly a writer that is not atomic, half-way through: keep
            # answering with the error, and read the file again next time.
            self._error = "%s: %s" % (self.path, error)
            self._identity = None
            return
        try:
            self._table = parse_script(data)
            self._error = None
        except ScriptError as error:
            self._error = "%s: %s" % (self.path, error)

    def next_behaviour(self, host, path):
        """Returns (behaviour, description) for a request, or (None, None)
        when no route matches. Raises ScriptError for a broken script."""
        with self._lock:
            self._reload_if_changed()
            if self._error:
                raise ScriptError(self._error)
            sections = []
            if host and host in self._table["hosts"]:
                sections.append((host, self._table["hosts"][host]))
            sections.append((None, self._table["routes"]))
            for section_host, routes in sections:
                key = match_route(routes, path)
                if key is None:
                    continue
                behaviours = routes[key]
                counter_key = (section_host, key)
                index = self._counters.get(counter_key, 0)
                self._counters[counter_key] = index + 1
                chosen = min(index, len(behaviours) - 1)
                return behaviours[chosen], {
                    "source": "script", "host": section_host, "route": key,
                    "index": chosen, "request_number": index}
            return None, None


class Templater:
    """Replaces placeholders in strings that a script returns:
    {http} {https} {proxy} -> http://127.0.0.1:PORT etc., {http_port}
    {https_port} {proxy_port} -> the number, {base:HOST} -> http://HOST:PORT,
    {sbase:HOST} -> https://HOST:PORT, {sha256:PATH} -> lowercase hex digest
    of the file, {size:PATH} -> its size in bytes. A port that is the scheme's
    default is left out of the URLs. Relative paths are relative to the
    script's folder."""

    _PATTERN = re.compile(
        r"\{(http|https|proxy|http_port|https_port|proxy_port"
        r"|(?:base|sbase|sha256|size):[^{}]+)\}")

    def __init__(self, ports, base_dir):
        self.ports = ports  # {"http": int, "https": int|None, "proxy": int|None}
        self.base_dir = base_dir
        self._digest_cache = {}
        self._digest_lock = threading.Lock()

    def resolve_path(self, path):
        return path if os.path.isabs(path) else os.path.join(self.base_dir, path)

    def _port(self, name):
        port = self.ports.get(name)
        if port is None:
            raise ScriptError("placeholder needs the %s listener, which is not "
                              "running" % name)
        return port

    def url(self, scheme, host, listener=None):
        port = self._port(listener or scheme)
        default = {"http": 80, "https": 443}.get(scheme)
        return "%s://%s" % (scheme, host if port == default else
                            "%s:%d" % (host, port))

    def sha256_file(self, path):
        path = self.resolve_path(path)
        try:
            info = os.stat(path)
        except OSError as error:
            raise ScriptError("cannot read %s: %s" % (path, error))
        key = (info.st_mtime_ns, info.st_size, info.st_ino)
        with self._digest_lock:
            cached = self._digest_cache.get(path)
            if cached and cached[0] == key:
                return cached[1]
        digest = hashlib.sha256()
        with open(path, "rb") as source:
            for block in iter(lambda: source.read(1 << 20), b""):
                digest.update(block)
        value = digest.hexdigest()
        with self._digest_lock:
            self._digest_cache[path] = (key, value)
        return value

    def _replace(self, match):
        name = match.group(1)
        if name in ("http", "https"):
            return self.url(name, "127.0.0.1")
        if name == "proxy":
            return self.url("http", "127.0.0.1", "proxy")
        if name.endswith("_port"):
            return str(self._port(name[:-5]))
        kind, argument = name.split(":", 1)
        if kind == "base":
            return self.url("http", argument)
        if kind == "sbase":
            return self.url("https", argument)
        if kind == "sha256":
            return self.sha256_file(argument)
        try:
            return str(os.path.getsize(self.resolve_path(argument)))
        except OSError as error:
            raise ScriptError("cannot read %s: %s" % (argument, error))

    def text(self, value):
        return self._PATTERN.sub(self._replace, value)

    def tree(self, value):
        if isinstance(value, str):
            return self.text(value)
        if isinstance(value, list):
            return [self.tree(item) for item in value]
        if isinstance(value, dict):
            return {key: self.tree(item) for key, item in value.items()}
        return value

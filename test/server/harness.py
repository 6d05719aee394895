"""Starting and driving vulmo_test_server.py from a Python test.

    from harness import TestServer
    with TestServer(workdir, script={"routes": {...}}, https=certs_dir,
                    proxy=("user", "secret")) as server:
        server.url("/netinstaller/Stable")           # http://127.0.0.1:PORT/...
        server.set_script({...})                      # atomic rewrite
        server.requests(path="/netinstaller/Stable")  # parsed log entries

The server runs as a child process; start() waits for its ready file.
Run the whole test inside scripts/netns-run.sh so that host names such as
autoupdate.vulmo.com resolve to 127.0.0.1 and nothing leaves the machine.
"""

import json
import os
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "vulmo_test_server.py")
MAKE_CERTS = os.path.join(HERE, "make_test_certs.sh")


def make_test_certs(out_dir):
    """Creates (or reuses) ca.crt/ca.key and server.crt/server.key in out_dir;
    returns out_dir."""
    subprocess.run(["bash", MAKE_CERTS, out_dir], check=True,
                   stdout=subprocess.DEVNULL)
    return out_dir


class TestServer:
    __test__ = False  # not a test case, whatever a collector thinks

    def __init__(self, workdir, script=None, https=None, proxy=None,
                 package_dirs=(), extra_args=(), http_port=0, https_port=0,
                 proxy_port=0, name="server"):
        """workdir: folder for the script, log and ready file.
        script: dict written as the behaviour script (None: no script).
        https: folder with server.crt/server.key (see make_test_certs).
        proxy: None (no proxy), True (no credentials) or (user, password)."""
        self.workdir = workdir
        os.makedirs(workdir, exist_ok=True)
        self.script_path = os.path.join(workdir, name + "-script.json")
        self.log_path = os.path.join(workdir, name + "-log.jsonl")
        self.ready_path = os.path.join(workdir, name + "-ready.json")
        self.stderr_path = os.path.join(workdir, name + "-stderr.txt")
        self.args = [sys.executable, SERVER, "--http-port", str(http_port),
                     "--log", self.log_path, "--ready-file", self.ready_path]
        if script is not None:
            self.set_script(script)
            self.args += ["--script", self.script_path]
        if https:
            self.args += ["--https-port", str(https_port),
                          "--cert", os.path.join(https, "server.crt"),
                          "--key", os.path.join(https, "server.key")]
        if proxy:
            self.args += ["--proxy-port", str(proxy_port)]
            if proxy is not True:
                self.args += ["--proxy-user", proxy[0], "--proxy-password", proxy[1]]
        for directory in package_dirs:
            self.args += ["--serve-package-dir", directory]
        self.args += list(extra_args)
        self.process = None
        self.ready = None

    def start(self, timeout=10.0):
        for path in (self.ready_path, self.log_path):
            if os.path.exists(path):
                os.remove(path)
        with open(self.stderr_path, "wb") as stderr:
            self.process = subprocess.Popen(self.args, stdin=subprocess.DEVNULL,
                                            stdout=subprocess.DEVNULL, stderr=stderr)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if os.path.exists(self.ready_path):
                with open(self.ready_path, encoding="utf-8") as ready:
                    self.ready = json.load(ready)
                return self
            if self.process.poll() is not None:
                break
            time.sleep(0.02)
        self.stop()
        with open(self.stderr_path, encoding="utf-8", errors="replace") as stderr:
            raise RuntimeError("test server did not start: " + stderr.read())

    def stop(self, timeout=5.0):
        """SIGTERM, then SIGKILL if it does not end; returns the exit code."""
        if self.process is None:
            return None
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        return self.process.returncode

    def __enter__(self):
        return self.start() if self.process is None else self

    def __exit__(self, *exc):
        self.stop()

    @property
    def http_port(self):
        return self.ready["http_port"]

    @property
    def https_port(self):
        return self.ready["https_port"]

    @property
    def proxy_port(self):
        return self.ready["proxy_port"]

    def url(self, path="/", scheme="http", host="127.0.0.1"):
        port = self.https_port if scheme == "https" else self.http_port
        return "%s://%s:%d%s" % (scheme, host, port, path)

    def set_script(self, script):
        """Replaces the behaviour script atomically; the server notices the
        change on its next request and restarts every route's sequence."""
        tmp = self.script_path + ".tmp"
        with open(tmp, "w", encoding="utf-8") as out:
            json.dump(script, out, indent=1)
        os.replace(tmp, self.script_path)

    def requests(self, path=None, listener=None, method=None):
        """Log entries so far, optionally filtered (path: exact request
        target, or without its query string)."""
        if not os.path.exists(self.log_path):
            return []
        with open(self.log_path, encoding="utf-8") as log:
            entries = [json.loads(line) for line in log if line.strip()]
        def wanted(entry):
            return ((path is None or entry["path"] == path
                     or entry["path"].split("?", 1)[0] == path)
                    and (listener is None or entry["listener"] == listener)
                    and (method is None or entry["method"] == method))
        return [entry for entry in entries if wanted(entry)]

    def wait_for_requests(self, count, timeout=10.0, **filters):
        deadline = time.monotonic() + timeout
        while True:
            found = self.requests(**filters)
            if len(found) >= count or time.monotonic() >= deadline:
                return found
            time.sleep(0.05)


def header(entry, name):
    """First value of a header in a log entry (name compared without case)."""
    for key, value in entry["headers"]:
        if key.lower() == name.lower():
            return value
    return None

"""Tests of scripts/netns-run.sh. They create network namespaces, so they
need root with CAP_SYS_ADMIN and skip otherwise (the script's exit 77)."""

import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import textwrap
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import TestServer  # noqa: E402

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
NETNS_RUN = os.path.join(REPO, "scripts", "netns-run.sh")
HOSTS = "autoupdate.vulmo.com autoupdate.vulmo.io"


def run(args, **options):
    return subprocess.run([NETNS_RUN] + args, capture_output=True, text=True,
                          timeout=30, **options)


def namespace_exists(name):
    listing = subprocess.run(["ip", "netns", "list"], capture_output=True, text=True)
    return any(line.split()[0] == name for line in listing.stdout.splitlines() if line.strip())


def setUpModule():
    if shutil.which("ip") is None:
        raise unittest.SkipTest("iproute2 is not installed")
    probe = run(["--", "true"])
    if probe.returncode == 77:
        raise unittest.SkipTest("network namespaces are not available: " + probe.stderr.strip())


class NetnsRunTests(unittest.TestCase):
    def assertCleanedUp(self, name):
        self.assertTrue(name.startswith("vulmo-"), name)
        self.assertFalse(namespace_exists(name))
        self.assertFalse(os.path.exists("/etc/netns/" + name))

    def test_hosts_exit_code_and_cleanup(self):
        result = run(["--hosts", HOSTS, "--", "sh", "-c",
                      'echo "$VULMO_NETNS"; getent hosts autoupdate.vulmo.io localhost; exit 7'])
        self.assertEqual(result.returncode, 7, result.stderr)
        name, *resolved = result.stdout.splitlines()
        self.assertEqual([line.split() for line in resolved],
                         [["127.0.0.1", "autoupdate.vulmo.io"], ["::1", "localhost"]])
        self.assertCleanedUp(name)

    def test_only_loopback_inside_and_outside_server_unreachable(self):
        tmp = tempfile.mkdtemp(prefix="vts-netns-")
        self.addCleanup(shutil.rmtree, tmp, True)
        with TestServer(os.path.join(tmp, "outside"),
                        script={"routes": {"/": {"body": "outside"}}}) as outside:
            probe = textwrap.dedent("""
                import json, socket, subprocess, sys, urllib.request
                sys.path.insert(0, %r)
                from harness import TestServer
                result = {"interfaces": sorted(n for _, n in socket.if_nameindex())}
                with TestServer(%r, script={"routes": {"/": {"body": "inside"}}}) as inside:
                    url = "http://autoupdate.vulmo.com:%%d/" %% inside.http_port
                    result["inside"] = urllib.request.urlopen(url, timeout=5).read().decode()
                try:
                    socket.create_connection(("127.0.0.1", %d), timeout=2).close()
                    result["outside"] = "connected"
                except OSError as error:
                    result["outside"] = type(error).__name__
                # No route at all in the main table: nothing can leave.
                result["routes"] = subprocess.run(["ip", "route", "show"], capture_output=True,
                                                  text=True, check=True).stdout
                print(json.dumps(result))
            """) % (os.path.dirname(os.path.abspath(__file__)), os.path.join(tmp, "inside"),
                    outside.http_port)
            result = run(["--hosts", HOSTS, "--", sys.executable, "-c", probe])
        self.assertEqual(result.returncode, 0, result.stderr)
        seen = json.loads(result.stdout)
        self.assertEqual(seen, {"interfaces": ["lo"], "inside": "inside",
                                "outside": "ConnectionRefusedError", "routes": ""})

    def test_signal_is_passed_on_and_namespace_removed(self):
        process = subprocess.Popen([NETNS_RUN, "--", "sh", "-c",
                                    'echo "$VULMO_NETNS"; exec sleep 30'],
                                   stdout=subprocess.PIPE, text=True)
        name = process.stdout.readline().strip()
        self.assertTrue(namespace_exists(name))
        started = time.monotonic()
        process.send_signal(signal.SIGTERM)
        self.assertEqual(process.wait(10), 128 + signal.SIGTERM)
        process.stdout.close()
        self.assertLess(time.monotonic() - started, 5)
        self.assertCleanedUp(name)

    def test_stdin_reaches_the_command(self):
        result = run(["--", "cat"], input="from stdin\n")
        self.assertEqual((result.returncode, result.stdout), (0, "from stdin\n"))

    def test_refusals(self):
        cases = [
            ("no command", [], 2, "usage"),
            ("bad host name", ["--hosts", "ok.example bad;name", "--", "true"], 2, "not a host name"),
        ]
        if shutil.which("setpriv"):
            cases.append(("without CAP_SYS_ADMIN",
                          ["--", "true"], 77, "cannot create a network namespace"))
        for name, args, code, message in cases:
            with self.subTest(name):
                command = [NETNS_RUN] + args
                if code == 77:
                    command = ["setpriv", "--bounding-set=-sys_admin"] + command
                result = subprocess.run(command, capture_output=True, text=True, timeout=30)
                self.assertEqual(result.returncode, code)
                self.assertIn(message, result.stderr)


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""The demo behind scripts/run.sh: one real installation run of Vulmo
NetInstaller under Wine against a local update server.

It builds a sample signed package (the installer.exe stand-in plus a few
files), stamps a sample payload into a signed copy of net_installer.exe,
serves the package folder over HTTPS on 443 as autoupdate.vulmo.com (test CA
trusted in the demo's own Wine prefix only), runs the installer and reports
what happened. Run it through scripts/run.sh, which builds everything and
enters a private network namespace first: nothing leaves the machine.

With $DISPLAY from a desktop the dialogs appear there and the sample
installer shows what it received in a message box; under Xvfb (headless) a
screenshot of the progress dialog is saved instead.
"""

import argparse
import getpass
import json
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "server"))

from e2e_env import REPO, Artifacts, Wine, in_private_namespace, log, windows_path  # noqa: E402
from harness import TestServer  # noqa: E402
from run_scenarios import trust_ca  # noqa: E402

PACKAGE_NAME = "vulmo_sample.exe"
# The sample package download is spread over about five seconds, whatever
# the package's size, so that the progress can be watched.
DRIP_SECONDS = 5
DRIP_DELAY_MS = 100


def drip_for(size):
    pieces = DRIP_SECONDS * 1000 // DRIP_DELAY_MS
    return {"chunk": max(1024, -(-size // pieces)), "delay_ms": DRIP_DELAY_MS}


def main():
    parser = argparse.ArgumentParser(description=__doc__, allow_abbrev=False,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default=os.path.join(REPO, "build", "cross"))
    parser.add_argument("--headless", action="store_true",
                        help="the display is a private Xvfb: take a screenshot, show no "
                             "message box")
    parser.add_argument("--packages", metavar="DIR",
                        help="serve the packages in DIR (the newest .exe) instead of the "
                             "sample package: a maker's own package, made with "
                             "tools/package_builder/build_package.sh")
    # Everything else is for net_installer.exe (e.g. --language=de).
    args, args.args = parser.parse_known_args()
    args.args = [a for a in args.args if a != "--"]

    if not in_private_namespace(["autoupdate.vulmo.com"]):
        print("demo.py: run me through scripts/run.sh (private network namespace)",
              file=sys.stderr)
        return 2

    build_dir = os.path.abspath(args.build_dir)
    demo_dir = os.path.join(build_dir, "demo")
    os.makedirs(demo_dir, exist_ok=True)
    artifacts = Artifacts(build_dir, os.path.join(demo_dir, "artifacts"))
    log("building the sample package and the stamped installer")
    artifacts.build()

    if args.packages:
        packages = os.path.abspath(args.packages)
        script = None
        extra = []
    else:
        # The package folder the update server answers from: just the sample.
        packages = os.path.join(demo_dir, "packages")
        shutil.rmtree(packages, ignore_errors=True)
        os.makedirs(packages)
        package = os.path.join(packages, PACKAGE_NAME)
        shutil.copyfile(artifacts.packages["vulmo"], package)
        # The folder mode answers the exchange; the script only makes the
        # package download drip so that the progress can be seen.
        drip = drip_for(os.path.getsize(package))
        script = {"routes": {"/packages/" + PACKAGE_NAME: {"body_file": package,
                                                           "drip": drip}}}
        extra = ["--partner-file", artifacts.partner["one.txt"]]

    wine = Wine(os.path.join(build_dir, "wineprefix-demo"))
    wine.ensure_prefix()
    # Wine's sockets belong to the wineserver: it must run in this namespace.
    wine.stop_server()
    wine.start_server()
    screenshot = os.path.join(demo_dir, "progress.png")
    report_path = os.path.join(demo_dir, "installer-report.json")
    for stale in (screenshot, report_path):
        if os.path.exists(stale):
            os.remove(stale)
    try:
        trust_ca(wine, artifacts, artifacts.tls_ca)
        trust_ca(wine, artifacts, artifacts.pki_ca)
        server = TestServer(
            os.path.join(demo_dir, "server"), https=artifacts.tls_dir,
            http_port=80, https_port=443, package_dirs=[packages], script=script,
            extra_args=["--welcome-url", "{request_base}/welcome"] + extra)
        with server:
            code = run_installer(wine, artifacts, server, args, report_path, screenshot)
            requests = server.requests()
    finally:
        wine.stop_server()
    return report(wine, code, report_path, screenshot if args.headless else None, requests)


def run_installer(wine, artifacts, server, args, report_path, screenshot):
    show = not args.headless and bool(os.environ.get("DISPLAY"))
    env = {"VULMO_STANDIN_REPORT": windows_path(report_path),
           "VULMO_STANDIN_SHOW": "1" if show else "0"}
    stub = artifacts.stubs["stamped"]
    log("running: wine %s --v=1 %s" % (stub, " ".join(args.args)))
    process = wine.popen(stub, ["--v=1"] + args.args, env)
    if args.headless:
        take_screenshot(wine, artifacts, server, screenshot)
    elif show:
        log("close the sample installer's message box to finish")
    try:
        # A person may take their time with the sample installer's box.
        return process.wait(timeout=None if show else 120)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return None


def take_screenshot(wine, artifacts, server, screenshot):
    """Waits until the progress dialog is up and the package is coming in,
    then photographs the screen."""
    code, output = wine.run(artifacts.exe("ui_actions"),
                            ["wait", "Vulmo installer", "1000", "30"], timeout=45)
    if code != 0:
        log("no progress dialog to photograph: %s" % output.strip())
        return
    if not [r for r in server.wait_for_requests(2, timeout=30)
            if r["path"].startswith("/packages/")]:
        log("the package download did not start")
        return
    time.sleep(2.0)  # part of the package is in: the bar has moved
    result = subprocess.run(["import", "-window", "root", screenshot],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30)
    if result.returncode != 0:
        log("screenshot failed: %s" % result.stdout.decode("utf-8", "replace").strip())


def report(wine, code, report_path, screenshot, requests):
    print()
    print("=== Vulmo NetInstaller demo ===")
    outcome = {0: "installed: installer.exe ran and exited with 0", None: "timed out"}
    print("Outcome:   %s" % outcome.get(code, "failed"))
    print("Exit code: %s" % code)
    exchange = [r for r in requests if r["path"].startswith("/netinstaller/")]
    for entry in exchange:
        print("Exchange:  %s %s://%s%s (%d payload bytes)" % (
            entry["method"], entry["listener"],
            dict((k.lower(), v) for k, v in entry["headers"]).get("host", "?"), entry["path"],
            len(entry.get("body_text") or "")))
    if os.path.exists(report_path):
        with open(report_path, encoding="utf-8") as source:
            received = json.load(source)
        print("installer.exe received:")
        print("  command line: %s" % received["command_line"])
        for index, word in enumerate(received["argv"]):
            print("  argv[%d] = %s" % (index, word))
        print("  files beside it:")
        for item in received["files"]:
            text = item["name"] + ("/" if item["directory"] else " (%d bytes)" % item["size"])
            if "content" in item:
                text += ": %r" % (item["content"][:72] + ("..." if len(item["content"]) > 72
                                                          else ""))
            print("    " + text)
    else:
        print("installer.exe did not run.")
    if screenshot:
        if os.path.exists(screenshot):
            print("Screenshot of the progress dialog: %s" % screenshot)
        else:
            print("No screenshot was taken.")
    log_path = wine.log_path()
    print("Log file:  %s" % log_path)
    print("           (C:\\users\\%s\\Temp\\Vulmo NetInstaller\\net_installer.log "
          "inside the demo's Wine prefix)" % getpass.getuser())
    print("--- log ---")
    try:
        with open(log_path, encoding="utf-8", errors="replace") as source:
            sys.stdout.write(source.read())
    except OSError:
        print("(no log file)")
    print("--- end of log ---")
    return 0 if code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())

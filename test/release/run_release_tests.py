#!/usr/bin/env python3
"""A release as a maker makes and serves it, tested with the real program.

Signing: the program and the packages signed in four forms (plain, time-
stamped at a local RFC 3161 authority, with a nested second signature, and
both), the payload stamped into each signed program. Serving: Debian's nginx
with deploy/nginx's configuration, packages published with
publish_package.py. Then the real net_installer.exe under Wine installs
through it: per form it must send its own payload and accept the package
signed "Vulmo Software ASA" and refuse one signed by another company; a
download interrupted by an nginx restart must resume; a body over the bound
must be refused before it reaches the reply.

Runs inside a private network namespace whose hosts file maps
autoupdate.vulmo.com to 127.0.0.1 (scripts/test.d/60-release.sh does it all);
refuses to run anywhere else.

    run_release_tests.py --build-dir BUILD [--prefix PREFIX] [--only REGEX]

Prints one line per check and finally "N passed, N failed, N skipped";
skipped counts what Wine cannot show. Exit 0 only without failures.
"""

import argparse
import glob
import http.client
import json
import os
import random
import re
import shutil
import socket
import ssl
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))

from e2e_env import REPO, Wine, in_private_namespace, run, run_to_end, sha256_file, windows_path  # noqa: E402

HOST = "autoupdate.vulmo.com"
PACKAGES_URL = "https://%s/packages/" % HOST
WELCOME_URL = "https://www.vulmo.com/welcome?from=release-test"
EXCHANGE_BODY_LIMIT = 16 * 1024        # client_max_body_size of vulmo-update.conf
SIGNATURE_REFUSED = "Signature incorrect for the downloaded package"

# (name, time-stamped, nested)
FORMS = [("plain", False, False), ("timestamped", True, False),
         ("nested", False, True), ("timestamped_nested", True, True)]

PUBLISH = os.path.join(REPO, "deploy", "nginx", "publish_package.py")
SERVE = os.path.join(REPO, "deploy", "nginx", "serve.sh")
BUILD_PACKAGE = os.path.join(REPO, "tools", "package_builder", "build_package.sh")
SIGN_FILE = os.path.join(REPO, "tools", "package_builder", "sign_file.sh")


def log(message):
    print("[release] " + message, flush=True)


class Checks:
    """Every check's outcome; "skipped" is what this platform cannot show."""

    def __init__(self):
        self.passed = self.failed = self.skipped = 0

    def expect(self, condition, name, detail=""):
        if condition:
            self.passed += 1
            print("ok: " + name, flush=True)
        else:
            self.failed += 1
            print("FAIL: %s%s" % (name, (": " + detail) if detail else ""), flush=True)
        return condition

    def not_shown(self, name, why):
        self.skipped += 1
        print("NOT SHOWN: %s: %s" % (name, why), flush=True)

    def summary(self):
        return "%d passed, %d failed, %d skipped" % (self.passed, self.failed, self.skipped)


def json_lines(path):
    try:
        with open(path, encoding="utf-8") as source:
            return [json.loads(line) for line in source if line.strip()]
    except OSError:
        return []


class Nginx:
    """Debian's nginx on a server folder, started and stopped through
    deploy/nginx/serve.sh as a maker runs it."""

    def __init__(self, server_dir, tls_dir):
        self.server_dir = server_dir
        self.tls_dir = tls_dir
        self.process = None

    def start(self, limit_rate=None):
        command = [SERVE, self.server_dir, "--cert", os.path.join(self.tls_dir, "server.crt"),
                   "--key", os.path.join(self.tls_dir, "server.key")]
        if limit_rate:
            command += ["--limit-rate", limit_rate]
        os.makedirs(self.server_dir, exist_ok=True)
        output = open(os.path.join(self.server_dir, "serve-output.txt"), "ab")
        self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=output,
                                        stderr=subprocess.STDOUT)
        output.close()
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                break
            try:
                socket.create_connection(("127.0.0.1", 443), timeout=1).close()
                return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("nginx did not start: see %s/serve-output.txt and logs/error.log"
                           % self.server_dir)

    def stop(self):
        """Fast shutdown (TERM): open connections are closed at once."""
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=30)
        self.process = None

    def log(self, name):
        return json_lines(os.path.join(self.server_dir, "logs", name + ".log"))

    def wait_for_log(self, name, count, timeout=5):
        """The log once it has |count| lines, or as it is at the time limit."""
        deadline = time.monotonic() + timeout
        while len(self.log(name)) < count and time.monotonic() < deadline:
            time.sleep(0.05)
        return self.log(name)


class TimeStampAuthority:
    def __init__(self, pki_dir, work_dir):
        self.pki_dir = pki_dir
        self.ready = os.path.join(work_dir, "tsa-ready.json")
        self.process = None
        self.url = None

    def start(self):
        if os.path.exists(self.ready):
            os.remove(self.ready)
        self.process = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "tsa_server.py"), self.pki_dir,
             "--ready-file", self.ready], stdin=subprocess.DEVNULL)
        deadline = time.monotonic() + 15
        while not os.path.exists(self.ready):
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("the time-stamp authority did not start")
            time.sleep(0.05)
        with open(self.ready) as ready:
            self.url = "http://127.0.0.1:%d/" % json.load(ready)["port"]

    def stop(self):
        if self.process:
            self.process.terminate()
            self.process.wait(timeout=30)


class Release:
    def __init__(self, args, checks):
        self.checks = checks
        self.build_dir = os.path.abspath(args.build_dir)
        self.out_dir = os.path.join(self.build_dir, "release")
        self.work = os.path.join(self.out_dir, "work")
        # Kept across runs, like the scenario suite's: their CAs are trusted
        # in the prefix once, and a prefix cannot really forget a root.
        self.pki = os.path.join(self.out_dir, "pki")
        self.tls = os.path.join(self.out_dir, "tls")
        self.wine = Wine(args.prefix or os.path.join(self.build_dir, "wineprefix-e2e"))
        self.nginx = Nginx(os.path.join(self.work, "server"), self.tls)
        self.tsa = TimeStampAuthority(self.pki, self.work)
        self.report_path = os.path.join(self.work, "standin-report.json")

    # --- Set-up -----------------------------------------------------------

    def exe(self, relative):
        path = os.path.join(self.build_dir, relative)
        if not os.path.isfile(path):
            raise RuntimeError("%s is missing: build it first" % path)
        return path

    def set_up(self):
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        if not self.pki_usable():
            shutil.rmtree(self.pki, ignore_errors=True)
            run(["bash", os.path.join(REPO, "tools", "pki", "make_test_pki.sh"), self.pki])
        run(["bash", os.path.join(REPO, "test", "server", "make_test_certs.sh"), self.tls])
        self.stamper = os.path.join(self.build_dir, "native", "payload_stamper")
        run(["bash", os.path.join(REPO, "tools", "payload_stamper", "build_native.sh"),
             self.stamper], timeout=300)
        self.package_source = self.make_package_source("package-src", 64 * 1024)
        self.prepare_prefix()
        self.tsa.start()
        self.nginx.start()

    def pki_usable(self):
        """The kept PKI has the time-stamping settings, and its certificates
        (issued for 30 days) are valid for another day."""
        if not os.path.isfile(os.path.join(self.pki, "tsa.cnf")):
            return False
        return all(run_to_end(["openssl", "x509", "-checkend", "86400", "-noout", "-in",
                               os.path.join(self.pki, leaf + ".crt")], 30)[0] == 0
                   for leaf in ("vulmo", "other", "tsa"))

    def make_package_source(self, name, filler_size):
        source = os.path.join(self.work, name)
        os.makedirs(source)
        installer = os.path.join(source, "installer.exe")
        shutil.copyfile(self.exe("test/installer_standin/installer_standin.exe"), installer)
        run(["x86_64-w64-mingw32-strip", installer])
        with open(os.path.join(source, "readme.txt"), "w") as out:
            out.write("A package of the release tests.\n")
        # Incompressible, so that the download takes its time when slowed.
        generator = random.Random(filler_size)
        with open(os.path.join(source, "filler.bin"), "wb") as out:
            out.write(generator.randbytes(filler_size))
        return source

    def prepare_prefix(self):
        wine = self.wine
        wine.ensure_prefix()
        wine.start_server()
        if not wine.reg_has(r"Software\\Wine\\Drivers", '"Graphics"="null"'):
            # No X server: dialogs exist and nothing waits for a user.
            wine.reg_add(r"HKCU\Software\Wine\Drivers", "Graphics", "null")
        for ca in (os.path.join(self.tls, "ca.crt"), os.path.join(self.pki, "ca.crt")):
            self.trust(ca)

    def trust(self, ca):
        # The same record of trusted roots as the scenario suite's, which
        # shares the prefix.
        stamp = os.path.join(self.wine.prefix, ".vulmo-trusted-roots")
        digest = sha256_file(ca)
        if os.path.isfile(stamp) and digest in open(stamp).read().split():
            return
        code, output = self.wine.run(self.exe("tools/trust_root.exe"), [windows_path(ca)])
        if code != 0:
            raise RuntimeError("trust_root.exe failed (%r): %s" % (code, output))
        with open(stamp, "a") as known:
            known.write(digest + "\n")

    def tear_down(self):
        self.nginx.stop()
        self.tsa.stop()
        self.wine.stop_server()

    # --- Signing ----------------------------------------------------------

    def signing_args(self, signer, timestamped, nested):
        key = lambda who: [os.path.join(self.pki, who + "-chain.pem"),
                           os.path.join(self.pki, who + ".key")]
        args = ["--sign"] + key(signer)
        if timestamped:
            args += ["--ts", self.tsa.url]
        if nested:
            args += ["--nest"] + key(signer)
        return args

    def build_package(self, out, signing, source=None):
        run(["bash", BUILD_PACKAGE, source or self.package_source, out,
             "--stub", self.exe("tools/sfx_stub.exe")] + signing)
        return out

    def osslsigncode_verify(self, path):
        ca = os.path.join(self.pki, "ca.crt")
        return run_to_end(["osslsigncode", "verify", "-CAfile", ca, "-TSA-CAfile", ca,
                           "-in", path], 60)

    def check_signatures(self, label, path, timestamped, nested):
        """osslsigncode verify accepts the file, and it carries the
        signatures and time stamps its form asks for."""
        code, output = self.osslsigncode_verify(path)
        self.checks.expect(code == 0, "%s: osslsigncode verify accepts it" % label,
                           output[-600:])
        count = re.search(r"Number of verified signatures: (\d+)", output)
        signatures = int(count.group(1)) if count else 0
        # osslsigncode 2.5 says "The signature is timestamped: ", later
        # versions "Timestamp time: ", once per time-stamped signature.
        stamps = len(re.findall(r"^\s*(?:Timestamp time|The signature is timestamped): ",
                                output, re.MULTILINE))
        expected = 2 if nested else 1
        self.checks.expect(
            signatures == expected and stamps == (expected if timestamped else 0),
            "%s: %d signature(s), %s" % (label, expected,
                                         "each time-stamped" if timestamped else "no time stamp"),
            "found %d signature(s), %d time stamp(s)" % (signatures, stamps))

    def stamp(self, label, signed, payload, out):
        """Stamps and reads back; returns what the program will read."""
        run([self.stamper, "stamp", signed, payload, out])
        code, read = run_to_end([self.stamper, "read", out], 30)
        stored = read.encode("ascii")
        self.checks.expect(code == 0 and stored.rstrip(b" ") == payload.encode("ascii"),
                           "%s: the stamper stamps and reads back the payload" % label,
                           repr(read))
        return stored

    # --- Runs of the program ------------------------------------------------

    def publish(self, package, *extra):
        return json.loads(run([sys.executable, PUBLISH, self.nginx.server_dir, package,
                               "--base-url", PACKAGES_URL] + list(extra)))

    def start_program(self, stub):
        self.wine.clean_work_dir()
        if os.path.exists(self.report_path):
            os.remove(self.report_path)
        return self.wine.popen(stub, ["--silent"],
                               {"VULMO_STANDIN_REPORT": windows_path(self.report_path)},
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def finish_program(self, process, timeout=120):
        try:
            code = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            self.wine.stop_server()
            self.wine.start_server()
            code = None
        try:
            with open(self.wine.log_path(), "rb") as source:
                program_log = source.read().decode("utf-8", "replace")
        except OSError:
            program_log = ""
        report = None
        if os.path.exists(self.report_path):
            with open(self.report_path, encoding="utf-8") as source:
                report = json.load(source)
        return code, program_log, report

    def run_program(self, stub):
        return self.finish_program(self.start_program(stub))

    def check_accepted(self, label, stub, payload, package_name):
        """One install through nginx that must succeed: the payload goes out
        in every exchange and reaches installer.exe."""
        exchanges_before = len(self.nginx.log("exchange"))
        code, program_log, report = self.run_program(stub)
        ok = self.checks.expect(code == 0 and report is not None,
                                "%s: installed (exit 0, installer.exe ran)" % label,
                                "exit %r, log tail: %s" % (code, program_log[-800:]))
        exchanges = self.nginx.wait_for_log("exchange", exchanges_before + 1)[exchanges_before:]
        self.checks.expect(
            exchanges and all(e["method"] == "POST" and e["status"] == 200
                              and e["payload"].encode("ascii") == payload for e in exchanges),
            "%s: the program sent its own payload to nginx, which logged it" % label,
            repr(exchanges)[:600])
        if ok:
            files = {f["name"]: f for f in report["files"]}
            tracking = files.get("server_tracking_data", {}).get("content", "")
            self.checks.expect(tracking.encode("ascii") == payload,
                               "%s: installer.exe got the payload" % label, repr(tracking))
        downloads = [d for d in self.nginx.log("packages")
                     if d["uri"] == "/packages/" + package_name]
        self.checks.expect(downloads and downloads[-1]["status"] == 200,
                           "%s: the package came from nginx" % label)
        return report

    def check_refused(self, label, stub):
        code, program_log, report = self.run_program(stub)
        self.checks.expect(
            code == 1 and report is None and SIGNATURE_REFUSED in program_log,
            "%s: refused (\"%s\", exit 1, installer.exe not run)" % (label, SIGNATURE_REFUSED),
            "exit %r, report %r, log tail: %s" % (code, report is not None, program_log[-800:]))

    # --- The tests ----------------------------------------------------------

    def test_signature_forms(self, only):
        program = self.exe("desktop/launcher/installer/net_installer/net_installer.exe")
        for name, timestamped, nested in FORMS:
            if only and not re.search(only, name):
                continue
            log("signature form: " + name)
            folder = os.path.join(self.work, "form-" + name)
            os.makedirs(folder)
            signed = os.path.join(folder, "signed.exe")
            run(["bash", SIGN_FILE, program, signed] +
                self.signing_args("vulmo", timestamped, nested))
            stamped = os.path.join(folder, "net_installer.exe")
            payload = self.stamp("%s program" % name, signed,
                                 "release-test-payload-%s-%d" % (name, time.time()), stamped)
            self.check_signatures("%s program, stamped" % name, stamped, timestamped, nested)
            packages = {}
            for signer in ("vulmo", "other"):
                packages[signer] = self.build_package(
                    os.path.join(folder, "%s_%s.exe" % (signer, name)),
                    self.signing_args(signer, timestamped, nested))
                self.check_signatures("%s package by %s" % (name, signer), packages[signer],
                                      timestamped, nested)
            reply = self.publish(packages["vulmo"])
            self.check_accepted("%s: Vulmo's package" % name, stamped, payload,
                                os.path.basename(reply["installer"]))
            self.publish(packages["other"])
            self.check_refused("%s: another company's package" % name, stamped)
            if name == "plain":
                self.plain_program = stamped
                self.plain_payload = payload

    def test_unreachable_authority(self):
        """A time stamp that cannot be had fails the build: a release must
        not go out silently without one."""
        out = os.path.join(self.work, "no_time_stamp.exe")
        signing = self.signing_args("vulmo", True, False)
        signing[signing.index("--ts") + 1] = "http://127.0.0.1:9/"   # nothing listens
        code, output = run_to_end(["bash", BUILD_PACKAGE, self.package_source, out,
                                   "--stub", self.exe("tools/sfx_stub.exe")] + signing, 120)
        self.checks.expect(code == 1 and not os.path.exists(out),
                           "an unreachable time-stamp authority fails the build, "
                           "no package written", "exit %r: %s" % (code, output[-300:]))

    def test_expired_certificate(self):
        """A package signed with a certificate that has expired since, with
        and without a time stamp. Windows accepts the first and refuses the
        second; what Wine does is checked and said as it is."""
        log("expired signing certificate, with and without a time stamp")
        folder = os.path.join(self.work, "expired")
        os.makedirs(folder)
        unsigned = self.build_package(os.path.join(folder, "unsigned.exe"), [])
        lifetime = 8
        run(["bash", os.path.join(REPO, "tools", "pki", "make_test_pki.sh"), "--short-lived",
             str(lifetime), "expiring", self.pki])
        made = time.monotonic()
        packages = {}
        for stamped_form, extra in (("time-stamped", ["--ts", self.tsa.url]), ("bare", [])):
            packages[stamped_form] = os.path.join(folder, "expired_%s.exe"
                                                  % stamped_form.replace("-", "_"))
            run(["bash", SIGN_FILE, unsigned, packages[stamped_form], "--sign",
                 os.path.join(self.pki, "expiring-chain.pem"),
                 os.path.join(self.pki, "expiring.key")] + extra)
        if not self.checks.expect(time.monotonic() - made < lifetime - 3,
                                  "expired: both signed while the certificate was valid"):
            return
        time.sleep(max(0.0, lifetime + 2 - (time.monotonic() - made)))

        code, output = self.osslsigncode_verify(packages["time-stamped"])
        self.checks.expect(code == 0, "expired, time-stamped: osslsigncode verify accepts it",
                           output[-400:])
        code, output = self.osslsigncode_verify(packages["bare"])
        self.checks.expect(code != 0 and "certificate has expired" in output,
                           "expired, no time stamp: osslsigncode verify refuses it",
                           output[-400:])

        reply = self.publish(packages["time-stamped"])
        self.check_accepted("expired, time-stamped: the program", self.plain_program,
                            self.plain_payload, os.path.basename(reply["installer"]))
        self.publish(packages["bare"])
        code, program_log, report = self.run_program(self.plain_program)
        if code == 0 and report is not None:
            self.checks.not_shown(
                "expired, no time stamp: the program refuses it",
                "Wine's WinVerifyTrust accepted a signature whose certificate has expired "
                "and that carries no time stamp; Windows refuses it (CERT_E_EXPIRED). So "
                "under Wine the time-stamped package above passes with or without its "
                "time stamp: only osslsigncode verify shows the difference here")
        else:
            self.checks.expect(code == 1 and SIGNATURE_REFUSED in program_log,
                               "expired, no time stamp: the program refuses it",
                               "exit %r, log tail: %s" % (code, program_log[-600:]))

    def test_welcome_and_partner_content(self):
        """The optional keys of publish_package.py reach the program."""
        log("publish with a welcome page and partner content")
        partner = os.path.join(self.nginx.server_dir, "packages", "partner_one.txt")
        with open(partner, "wb") as out:
            out.write(b"Partner content of the release tests.\r\n")
        entries = [{"href": PACKAGES_URL + "partner_one.txt", "filename": "partner_one.txt",
                    "checksum": sha256_file(partner)}]
        entries_file = os.path.join(self.work, "partner.json")
        with open(entries_file, "w") as out:
            json.dump(entries, out)
        package = self.build_package(os.path.join(self.work, "vulmo_partner.exe"),
                                     self.signing_args("vulmo", False, False))
        reply = self.publish(package, "--welcome-url", WELCOME_URL,
                             "--partner-content", entries_file)
        self.checks.expect(reply.get("url_welcome") == WELCOME_URL
                           and reply.get("partner_content") == entries,
                           "publish: the reply holds url_welcome and partner_content", repr(reply))
        report = self.check_accepted("welcome and partner content", self.plain_program,
                                     self.plain_payload, os.path.basename(reply["installer"]))
        if report:
            files = {f["name"] for f in report["files"]}
            self.checks.expect("--welcome-url=" + WELCOME_URL in report["argv"]
                               and "partner_one.txt" in files,
                               "installer.exe got the welcome page and the partner file",
                               repr(report["argv"]) + repr(sorted(files)))

        bad = os.path.join(self.work, "bad-partner.json")
        with open(bad, "w") as out:
            json.dump([{"href": "x", "filename": "y"}], out)
        reply_file = os.path.join(self.nginx.server_dir, "replies", "Stable.json")
        before = open(reply_file).read()
        code, _ = run_to_end([sys.executable, PUBLISH, self.nginx.server_dir, package,
                              "--base-url", PACKAGES_URL, "--partner-content", bad], 60)
        self.checks.expect(code == 1 and open(reply_file).read() == before,
                           "publish: a partner entry without checksum is refused, "
                           "the reply left as it was")

    def test_resume_across_restart(self):
        """nginx stopped and started again while the program downloads: it
        resumes with a byte range and installs."""
        log("download interrupted by an nginx restart")
        source = self.make_package_source("package-src-big", 1536 * 1024)
        package = self.build_package(os.path.join(self.work, "vulmo_big.exe"),
                                     self.signing_args("vulmo", False, False), source)
        size = os.path.getsize(package)
        name = os.path.basename(self.publish(package)["installer"])
        self.nginx.stop()
        self.nginx.start(limit_rate="160k")
        process = self.start_program(self.plain_program)
        partial = os.path.join(self.wine.work_dir, "vulmo_installer_*.exe")
        deadline = time.monotonic() + 60
        received = 0
        while time.monotonic() < deadline and process.poll() is None:
            files = glob.glob(partial)
            received = os.path.getsize(files[0]) if files else 0
            if received >= size // 4:
                break
            time.sleep(0.1)
        interrupted = self.checks.expect(size // 4 <= received < size,
                                         "resume: nginx stopped mid-download",
                                         "%d of %d bytes when stopped" % (received, size))
        self.nginx.stop()
        time.sleep(1.5)
        self.nginx.start()
        code, program_log, report = self.finish_program(process)
        self.checks.expect(code == 0 and report is not None,
                           "resume: installed after the restart",
                           "exit %r, log tail: %s" % (code, program_log[-800:]))
        if not interrupted:
            return
        # nginx logs a request when it ends, and a fast shutdown ends the
        # interrupted one without a line: what is logged is the restarted
        # server's, and none of it may start again from the beginning.
        downloads = [d for d in self.nginx.log("packages") if d["uri"] == "/packages/" + name]
        ranges = [re.fullmatch(r"bytes=(\d+)-", d["range"]) for d in downloads]
        last = downloads[-1] if downloads else {}
        self.checks.expect(
            downloads and all(ranges) and all(d["status"] == 206 for d in downloads)
            and int(ranges[0].group(1)) >= received
            and int(ranges[-1].group(1)) + last["body_bytes_sent"] == size,
            "resume: the download went on from where it stopped (206 answers to "
            "\"Range: bytes=N-\" from N >= the %d bytes received, up to the end)" % received,
            repr(downloads))

    def https(self):
        context = ssl.create_default_context(cafile=os.path.join(self.tls, "ca.crt"))
        return http.client.HTTPSConnection(HOST, 443, context=context, timeout=30)

    def test_exchange_bounds_and_headers(self):
        log("the exchange's body bound, the package headers")
        replies_before = len(self.nginx.log("reply"))
        exchanges_before = len(self.nginx.log("exchange"))
        connection = self.https()
        connection.request("POST", "/netinstaller/Stable", body=b"x" * (EXCHANGE_BODY_LIMIT + 1))
        response = connection.getresponse()
        refused = response.status, response.read()
        connection = self.https()
        largest = b"".join(b"%015d|" % i for i in range(EXCHANGE_BODY_LIMIT // 16))
        connection.request("POST", "/netinstaller/Stable", body=largest)
        response = connection.getresponse()
        reply = json.loads(response.read())
        # nginx writes a request's log line after its answer: wait for both.
        exchanges = self.nginx.wait_for_log("exchange", exchanges_before + 2)[exchanges_before:]
        replies = self.nginx.log("reply")[replies_before:]
        self.checks.expect(refused[0] == 413 and b"installer_checksum" not in refused[1]
                           and [e["status"] for e in exchanges] == [413, 200]
                           and len(replies) == 1,
                           "a body over %d bytes is refused (413) and never reaches the reply"
                           % EXCHANGE_BODY_LIMIT,
                           "status %d, exchanges %r, replies %r"
                           % (refused[0], exchanges, replies))
        self.checks.expect(response.status == 200 and "installer" in reply and exchanges
                           and exchanges[-1]["payload"].encode() == largest,
                           "a body of exactly %d bytes is answered and logged whole"
                           % EXCHANGE_BODY_LIMIT, "status %d" % response.status)
        self.checks.expect(response.getheader("Cache-Control") == "no-store",
                           "the reply is not cached", repr(response.getheader("Cache-Control")))

        name = os.path.basename(reply["installer"])
        with open(os.path.join(self.nginx.server_dir, "packages", name), "rb") as source:
            data = source.read()
        connection.request("GET", "/packages/" + name, headers={"Range": "bytes=1000-"})
        response = connection.getresponse()
        body = response.read()
        cache = response.getheader("Cache-Control") or ""
        self.checks.expect(response.status == 206 and body == data[1000:]
                           and response.getheader("Content-Range")
                           == "bytes 1000-%d/%d" % (len(data) - 1, len(data)),
                           "a package is served from a byte range")
        self.checks.expect("max-age=31536000" in cache and "immutable" in cache,
                           "a package is cached for a year", repr(cache))

    def test_reply_replaced_atomically(self):
        """Publications while clients read: every reply read is whole."""
        log("publishing while the reply is being read")
        folder = os.path.join(self.work, "form-plain")
        packages = [os.path.join(folder, "vulmo_plain.exe"), os.path.join(folder, "other_plain.exe")]
        checksums = {sha256_file(p) for p in packages}
        stop = threading.Event()
        seen = {"reads": 0, "bad": []}

        def read_replies():
            connection = self.https()
            while not stop.is_set():
                connection.request("POST", "/netinstaller/Stable", body=b"atomic-test")
                response = connection.getresponse()
                text = response.read()
                seen["reads"] += 1
                try:
                    if json.loads(text)["installer_checksum"] not in checksums:
                        seen["bad"].append(text)
                except (ValueError, KeyError):
                    seen["bad"].append(text)

        self.publish(packages[1])
        reader = threading.Thread(target=read_replies)
        reader.start()
        for i in range(40):
            self.publish(packages[i % 2])
        stop.set()
        reader.join(30)
        self.checks.expect(seen["reads"] > 20 and not seen["bad"],
                           "%d replies read during 40 publications, every one whole"
                           % seen["reads"], repr(seen["bad"][:3]))
        leftovers = [n for n in os.listdir(os.path.join(self.nginx.server_dir, "replies"))
                     if n != "Stable.json"]
        self.checks.expect(not leftovers, "publish leaves no temporary files", repr(leftovers))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default=os.path.join(REPO, "build", "cross"))
    parser.add_argument("--prefix", help="Wine prefix (default BUILD/wineprefix-e2e)")
    parser.add_argument("--only", help="run only the signature forms whose name matches")
    args = parser.parse_args()
    if not in_private_namespace([HOST]):
        log("refusing to run outside a private network namespace whose hosts file maps %s "
            "to 127.0.0.1: use scripts/test.d/60-release.sh" % HOST)
        return 2

    checks = Checks()
    release = Release(args, checks)
    started = time.monotonic()
    try:
        release.set_up()
        release.test_signature_forms(args.only)
        if not args.only or re.search(args.only, "plain"):
            release.test_unreachable_authority()
            release.test_expired_certificate()
            release.test_welcome_and_partner_content()
            release.test_resume_across_restart()
            release.test_exchange_bounds_and_headers()
            release.test_reply_replaced_atomically()
    except Exception as error:  # a broken set-up is one failure, reported
        checks.expect(False, "the run itself", "%s: %s" % (type(error).__name__, error))
    finally:
        release.tear_down()
    log("done in %.0f s" % (time.monotonic() - started))
    print(checks.summary(), flush=True)
    return 0 if checks.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())

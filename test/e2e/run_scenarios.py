#!/usr/bin/env python3
"""Runs the end-to-end scenarios of Vulmo NetInstaller: the real program under
Wine against the real local test server, with signed test packages and the
installer.exe stand-in.

Must run inside a private network namespace whose hosts file maps the
product's host names to 127.0.0.1 (scripts/test.d/50-scenarios.sh does all of
it); it refuses to run anywhere else, so nothing can leave the machine.

    run_scenarios.py [--build-dir build/cross] [--only REGEX] [--list]

Prints one line per scenario and finally "N passed, N failed"; exit 0 only
when every selected scenario passed.
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "server"))

import e2e_env  # noqa: E402
from e2e_env import REPO, Artifacts, Wine, log, windows_path  # noqa: E402
import scenarios as sc  # noqa: E402
from harness import TestServer  # noqa: E402

HOSTS = ["autoupdate.vulmo.com", "autoupdate.vulmo.io", "downloads.vulmo.com",
         "cdn.example", "other.example"]

LOG_LINE = re.compile(r"^\[(\d{4}/\d{6}):([A-Z0-9_]+):([^\]]*)\] (.*)$")

UI_STEP_TIMEOUT_S = 20     # how long ui_actions looks for a dialog
LOG_WAIT_TIMEOUT_S = 30    # how long a "log" step waits for its line


def parse_log(text):
    """(severity, source, message) per line; a line that does not start a
    log entry continues the message before it."""
    entries = []
    for line in text.splitlines():
        match = LOG_LINE.match(line)
        if match:
            entries.append((match.group(2), match.group(3), match.group(4)))
        elif entries:
            severity, source, message = entries[-1]
            entries[-1] = (severity, source, message + "\n" + line)
    return entries


def read_log(path):
    try:
        with open(path, "rb") as source:
            return source.read().decode("utf-8", "replace")
    except OSError:
        return ""


class Result:
    def __init__(self):
        self.exit_code = None
        self.output = ""
        self.raw_log = ""
        self.log = []
        self.report = None
        self.leftovers = []
        self.requests = []
        self.ui_outputs = []
        self.ui_errors = []
        self.holders = []      # ui_actions processes holding a file open
        self.duration = 0.0
        self.drive_c = ""

    @property
    def messages(self):
        return [message for _, _, message in self.log]


# --- Running one scenario ---------------------------------------------------

class UiDriver(threading.Thread):
    """Plays the scenario's user actions while the program runs."""

    def __init__(self, runner, steps, result, report_path):
        super().__init__(daemon=True)
        self.runner = runner
        self.steps = steps
        self.result = result
        self.report_path = report_path

    def run(self):
        for index, step in enumerate(self.steps):
            try:
                error = self.play(step)
            except Exception as exception:  # a broken step must not hang the run
                error = "%r" % exception
            if error:
                self.result.ui_errors.append("ui step %d %r: %s" % (index, step, error))
                return

    def play(self, step):
        kind = step[0]
        if kind == "log":
            deadline = time.monotonic() + LOG_WAIT_TIMEOUT_S
            while time.monotonic() < deadline:
                if step[1] in [m for _, _, m in parse_log(read_log(self.runner.log_path))]:
                    self.result.ui_outputs.append(None)
                    return None
                time.sleep(0.1)
            return "the log line did not appear within %d s" % LOG_WAIT_TIMEOUT_S
        if kind == "grow_disk":
            # The user makes room on the small disk.
            self.result.ui_outputs.append(None)
            self.runner.small_disk.grow()
            return None
        if kind == "hold":
            return self.hold(*step[1:])
        if kind == "no_report":
            self.result.ui_outputs.append(None)
            if os.path.exists(self.report_path):
                return "installer.exe already ran"
            return None
        # (action, title, control[, more arguments of ui_actions])
        action, title, control = step[:3]
        code, output = self.runner.wine.run(
            self.runner.ui_actions,
            [action, title, str(control), str(UI_STEP_TIMEOUT_S)] + list(step[3:]),
            timeout=UI_STEP_TIMEOUT_S + 15)
        self.result.ui_outputs.append(output.strip("\r\n")
                                      if action in ("text", "shown") and code == 0 else None)
        if code != 0:
            return "ui_actions exited with %r: %s" % (code, output.strip())
        return None

    def hold(self, name, seconds):
        """Holds the file name of the extraction directory open (created if
        need be) from the moment the package download has begun."""
        self.result.ui_outputs.append(None)
        deadline = time.monotonic() + UI_STEP_TIMEOUT_S
        package = None
        while package is None and time.monotonic() < deadline:
            found = [n for n in os.listdir(self.runner.work_dir) if PACKAGE_FILE.fullmatch(n)] \
                if os.path.isdir(self.runner.work_dir) else []
            package = found[0] if found else None
            time.sleep(0.05)
        if package is None:
            return "no package file appeared in %s" % self.runner.work_dir
        target = os.path.join(self.runner.work_dir, package[:-len(".exe")], name)
        self.result.holders.append(self.runner.wine.popen(
            self.runner.ui_actions, ["hold", windows_path(target), str(seconds)],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        while not os.path.exists(target):
            if time.monotonic() > deadline:
                return "%s was not created" % target
            time.sleep(0.02)
        return None


PACKAGE_FILE = re.compile(r"vulmo_installer_\d{14}\.exe")


class Runner:
    def __init__(self, args):
        self.build_dir = os.path.abspath(args.build_dir)
        self.out_dir = os.path.join(self.build_dir, "e2e")
        self.results_dir = os.path.join(self.out_dir, "results")
        self.wine = Wine(args.prefix or os.path.join(self.build_dir, "wineprefix-e2e"))
        self.artifacts = Artifacts(self.build_dir, os.path.join(self.out_dir, "artifacts"))
        self.use_display = args.display
        self.server = None
        self.ctx = None
        self.ui_actions = None
        self.small_disk = e2e_env.SmallDisk(self.wine, os.path.join(self.out_dir, "small-disk"))
        self.work_dir = self.wine.work_dir   # of the scenario that runs

    @property
    def log_path(self):
        return os.path.join(self.work_dir, "net_installer.log")

    # --- Set-up -------------------------------------------------------------

    def set_up(self):
        shutil.rmtree(self.results_dir, ignore_errors=True)
        self.artifacts.build()
        self.ctx = sc.Ctx(self.artifacts)
        self.ui_actions = self.artifacts.exe("ui_actions")
        self.prepare_prefix()
        self.wine.start_server()
        self.server = TestServer(os.path.join(self.out_dir, "server"), script={"routes": {}},
                                 https=self.artifacts.tls_dir, http_port=80, https_port=443)
        self.server.start()

    def prepare_prefix(self):
        wine = self.wine
        wine.ensure_prefix()
        wine.start_server()
        if self.use_display:
            if wine.reg_has(r"Software\\Wine\\Drivers", '"Graphics"="null"'):
                wine.reg_delete(r"HKCU\Software\Wine\Drivers", "Graphics")
        elif not wine.reg_has(r"Software\\Wine\\Drivers", '"Graphics"="null"'):
            # Dialogs without an X server: created and driven by messages.
            wine.reg_add(r"HKCU\Software\Wine\Drivers", "Graphics", "null")
        xp_key = r"Software\\Wine\\AppDefaults\\" + e2e_env.XP_STUB_NAME
        if not wine.reg_has(xp_key, '"Version"="winxp64"'):
            wine.reg_add("HKCU\\Software\\Wine\\AppDefaults\\" + e2e_env.XP_STUB_NAME,
                         "Version", "winxp64")
        # The update server's CA, and the code-signing CA (Wine accepts an
        # untrusted signing root, Windows would not).
        trust_ca(wine, self.artifacts, self.artifacts.tls_ca)
        trust_ca(wine, self.artifacts, self.artifacts.pki_ca)

    def tear_down(self):
        if self.server:
            self.server.stop()
        self.wine.stop_server()
        self.small_disk.tear_down()

    # --- One scenario ---------------------------------------------------------

    def run_scenario(self, scenario):
        result = Result()
        result.drive_c = self.wine.drive_c
        report_path = os.path.join(self.out_dir, "standin-report.json")
        if os.path.exists(report_path):
            os.remove(report_path)
        self.wine.clean_work_dir()
        program, args = self.artifacts.stubs[scenario.stub], sc.own_args(scenario)
        if scenario.small_disk:
            self.small_disk.prepare(scenario.small_disk(self.ctx))
            self.work_dir = self.small_disk.work_dir
            program, args = self.small_disk.command(program, args)
        else:
            self.work_dir = self.wine.work_dir
        self.server.set_script(scenario.script(self.ctx))
        already = len(self.server.requests())

        extra_env = {"VULMO_STANDIN_REPORT": windows_path(report_path),
                     "VULMO_STANDIN_EXIT_CODE": str(scenario.standin_exit)}
        started = time.monotonic()
        output = tempfile.TemporaryFile()
        process = self.wine.popen(program, args, extra_env, stdout=output,
                                  stderr=subprocess.STDOUT)
        driver = None
        if scenario.ui:
            driver = UiDriver(self, scenario.ui, result, report_path)
            driver.start()
        try:
            result.exit_code = process.wait(timeout=scenario.timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            result.exit_code = None
            # Whatever it left running in this prefix goes too.
            self.wine.stop_server()
            self.wine.start_server()
        result.duration = time.monotonic() - started
        output.seek(0)
        result.output = output.read().decode("utf-8", "replace")
        output.close()
        if driver:
            driver.join(UI_STEP_TIMEOUT_S + 20)
        for holder in result.holders:
            holder.kill()
            holder.wait()

        result.raw_log = read_log(self.log_path)
        result.log = parse_log(result.raw_log)
        if os.path.exists(report_path):
            with open(report_path, encoding="utf-8") as report:
                result.report = json.load(report)
        try:
            result.leftovers = sorted(os.listdir(self.work_dir))
        except OSError:
            result.leftovers = []
        # The server logs a request when its reply starts; give the last one
        # a moment to land.
        time.sleep(0.05)
        result.requests = self.server.requests()[already:]
        return result

    def save(self, scenario, result, failures):
        folder = os.path.join(self.results_dir, scenario.name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        with open(os.path.join(folder, "net_installer.log"), "w", encoding="utf-8") as out:
            out.write(result.raw_log)
        with open(os.path.join(folder, "result.json"), "w", encoding="utf-8") as out:
            json.dump({"failures": failures, "exit_code": result.exit_code,
                       "output": result.output, "report": result.report,
                       "leftovers": result.leftovers, "ui_outputs": result.ui_outputs,
                       "ui_errors": result.ui_errors, "requests": result.requests,
                       "script": scenario.script(self.ctx)}, out, indent=1)
        return folder


def trust_ca(wine, artifacts, ca_path):
    """Adds the test server's CA to the prefix's trusted roots, once per CA."""
    stamp = os.path.join(wine.prefix, ".vulmo-trusted-roots")
    digest = e2e_env.sha256_file(ca_path)
    try:
        with open(stamp, encoding="ascii") as known:
            if digest in known.read().split():
                return
    except OSError:
        pass
    code, output = wine.run(artifacts.exe("trust_root"), [windows_path(ca_path)], timeout=60)
    if code != 0:
        raise RuntimeError("trust_root.exe failed (%r): %s" % (code, output))
    with open(stamp, "a", encoding="ascii") as known:
        known.write(digest + "\n")


# --- Checking -----------------------------------------------------------------

def check(scenario, ctx, result):
    failures = []

    def attempt(function, *args):
        try:
            function(*args)
        except sc.CheckFailed as failure:
            failures.append(str(failure))

    failures.extend(result.ui_errors)
    attempt(lambda: sc.expect(result.exit_code == scenario.exit_code,
                              "exit code %r, expected %d" % (result.exit_code,
                                                             scenario.exit_code)))
    attempt(check_log, scenario, result)
    attempt(check_installer, scenario, ctx, result)
    attempt(check_leftovers, scenario, result)
    for extra in scenario.checks:
        attempt(extra, ctx, result)
    return failures


def check_log(scenario, result):
    messages = result.messages
    sc.expect(messages, "the log is empty or missing")
    fatal = [m for s, _, m in result.log if s == "FATAL"]
    sc.expect(not fatal, "FATAL in the log: %r" % fatal)
    if not scenario.verbose:
        verbose = [m for s, _, m in result.log if s.startswith("VERBOSE")]
        sc.expect(not verbose, "verbose lines in a run without --v: %r" % verbose[:3])
    # Every line whose level is known has that level, expected or not.
    for severity, _, message in result.log:
        wanted = sc.severity_of(message)
        sc.expect(wanted is None or severity == wanted,
                  "log line %r has level %s, expected %s" % (message, severity, wanted))
    # Expected lines in order, each at its level; others may come between.
    position = 0
    for expected in sc.expected_log(scenario):
        wanted = sc.severity_of(expected)
        sc.expect(wanted is not None, "no level known for the expected line %r" % (expected,))
        while position < len(messages) and not sc.message_matches(expected, messages[position]):
            position += 1
        if position == len(messages):
            raise sc.CheckFailed("log line %r not found in order (after the lines before it)"
                                 % (expected,))
        severity = result.log[position][0]
        sc.expect(severity == wanted, "log line %r has level %s, expected %s"
                  % (result.log[position][2], severity, wanted))
        position += 1
    for text, count in scenario.counts.items():
        got = sum(1 for m in messages if m == text)
        sc.expect(got == count, "log line %r appears %d time(s), expected %d"
                  % (text, got, count))
    for text in scenario.absent:
        found = [m for m in messages if sc.message_matches(text, m)]
        sc.expect(not found, "unexpected log line %r" % (found[:1],))


# In the prefix's own TEMP, or on the small disk's drive.
EXTRACTION_DIR = re.compile(r"(C:\\users\\[^\\]+\\Temp|T:)\\Vulmo NetInstaller\\"
                            r"vulmo_installer_\d{14}")


def check_installer(scenario, ctx, result):
    expected = scenario.installer
    if expected is None:
        sc.expect(result.report is None, "installer.exe ran: %r"
                  % (result.report or {}).get("command_line"))
        return
    report = result.report
    sc.expect(report is not None, "installer.exe did not run (no stand-in report)")
    argv = report["argv"]
    sc.expect(EXTRACTION_DIR.fullmatch(report["exe_directory"]) is not None,
              "installer.exe ran from %r" % report["exe_directory"])
    sc.expect(argv and argv[0] == report["exe_directory"] + "\\installer.exe",
              "installer.exe argv[0] %r" % (argv[:1],))
    sc.expect(argv[1:] == expected.args, "installer.exe arguments\n      got      %r\n"
              "      expected %r" % (argv[1:], expected.args))
    files = {f["name"]: f for f in report["files"]}
    if expected.files is not None:
        sc.expect(set(files) == expected.files, "files beside installer.exe %r, expected %r"
                  % (sorted(files), sorted(expected.files)))
    if expected.tracking:
        tracking = files.get("server_tracking_data", {})
        sc.expect(tracking.get("content", "").encode("latin-1", "replace") == ctx.payload,
                  "server_tracking_data is not the payload: %r" % tracking.get("content", "")[:60])
    else:
        sc.expect("server_tracking_data" not in files, "a server_tracking_data file was written")
    if expected.files_list is not None:
        sc.expect(files.get("files_list", {}).get("content") == expected.files_list,
                  "files_list content %r, expected %r"
                  % (files.get("files_list", {}).get("content"), expected.files_list))
    else:
        sc.expect("files_list" not in files, "a files_list was written: %r"
                  % files.get("files_list", {}).get("content"))
    for name, path in (("filler.bin", os.path.join(ctx.a.package_src, "filler.bin")),
                       ("installer.exe", os.path.join(ctx.a.package_src, "installer.exe"))):
        sc.expect(files.get(name, {}).get("size") == os.path.getsize(path),
                  "%s unpacked with size %r, expected %d"
                  % (name, files.get(name, {}).get("size"), os.path.getsize(path)))


def check_leftovers(scenario, result):
    """After the exit only the log (and what the scenario allows) is left in
    the work directory: package file and extraction directory are gone."""
    remaining = list(result.leftovers)
    for wanted in scenario.leftovers:
        match = [name for name in remaining if sc.message_matches(wanted, name)]
        sc.expect(match, "%r is not in the work directory after the run (%r)"
                  % (wanted, result.leftovers))
        remaining.remove(match[0])
    sc.expect(not remaining, "left in the work directory after the run: %r" % remaining)


# --- Main -----------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default=os.path.join(REPO, "build", "cross"))
    parser.add_argument("--prefix", help="Wine prefix (default BUILD/wineprefix-e2e)")
    parser.add_argument("--only", help="run the scenarios whose name matches this regex")
    parser.add_argument("--list", action="store_true", help="list the scenarios and exit")
    parser.add_argument("--keep", action="store_true",
                        help="also keep the details of passing scenarios in BUILD/e2e/results")
    parser.add_argument("--display", action="store_true",
                        help="show the dialogs on $DISPLAY instead of Wine's null driver")
    args = parser.parse_args()

    table = sc.scenario_table()
    if args.only:
        table = [s for s in table if re.search(args.only, s.name)]
    if args.list:
        for scenario in table:
            print("%-40s %s" % (scenario.name, scenario.summary))
        return 0
    if not table:
        print("no scenario matches %r" % args.only)
        return 2
    if not e2e_env.in_private_namespace(HOSTS):
        print("run_scenarios.py: not inside a private network namespace with the test "
              "hosts mapped to 127.0.0.1; use scripts/test.d/50-scenarios.sh", file=sys.stderr)
        return 2

    runner = Runner(args)
    suite_started = time.monotonic()
    passed = failed = 0
    try:
        runner.set_up()
        log("set-up done in %.1f s; running %d scenario(s)"
            % (time.monotonic() - suite_started, len(table)))
        for scenario in table:
            result = runner.run_scenario(scenario)
            failures = check(scenario, runner.ctx, result)
            if failures:
                failed += 1
                folder = runner.save(scenario, result, failures)
                print("FAIL %-40s %5.1f s" % (scenario.name, result.duration), flush=True)
                for failure in failures:
                    print("     - " + failure.replace("\n", "\n       "), flush=True)
                print("     details: %s" % folder, flush=True)
            else:
                passed += 1
                if args.keep:
                    runner.save(scenario, result, [])
                print("PASS %-40s %5.1f s" % (scenario.name, result.duration), flush=True)
    finally:
        runner.tear_down()
    log("suite took %.1f s" % (time.monotonic() - suite_started))
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())

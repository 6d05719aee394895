"""The end-to-end scenarios of Vulmo NetInstaller: each one is a behaviour
script for the local update server plus what the real program, run under
Wine against it, must do (exit code, log lines in order, what installer.exe
received, what is left in the work area, what reached the server).

run_scenarios.py runs them; `python3 run_scenarios.py --list` prints them.
"""

import re
from dataclasses import dataclass, field
from typing import Callable, Dict, List, Optional, Sequence

# --- Fixed facts of the program --------------------------------------------

PRODUCTION_EXCHANGE = "https://autoupdate.vulmo.com/netinstaller/Stable"
INTERNAL_EXCHANGE = "http://autoupdate.vulmo.io/netinstaller/Stable"
EXCHANGE_PATH = "/netinstaller/Stable"
USER_AGENT = "Vulmo NetInstaller/1.0.0.1"
STARTUP_LINE = "Vulmo NetInstaller startup - version 1.0.0.1 Stable"
WELCOME_URL = "https://www.vulmo.com/welcome?from=netinstaller&step=1"

# Dialog titles and control ids, as ui_actions finds them.
PROGRESS_TITLE = "Vulmo installer"
PROGRESS_BAR, PROGRESS_LABEL = 1000, 1001
CONFIRM_TITLE = "Installation in progress"
ERROR_TITLE = "Vulmo installer"
BOX_LABEL, BOX_FIRST, BOX_SECOND = 1002, 1003, 1004

# A download slow enough for a user to act while it runs (a few seconds for
# the test package).
DRIP = {"chunk": 8192, "delay_ms": 60}
# Twice as long, where several user actions must all fit into the download.
SLOW_DRIP = {"chunk": 8192, "delay_ms": 120}

# Files of the test package beside installer.exe (the standin lists only the
# top level; "docs" is a folder).
PACKAGE_FILES = {"installer.exe", "readme.txt", "docs", "filler.bin"}


class Pattern:
    """A log message matched by a regular expression instead of exactly;
    severity: the level it is logged at, when the severity table below does
    not know the message."""

    def __init__(self, regex, severity=None):
        self.regex = re.compile(regex)
        self.severity = severity

    def matches(self, message):
        return self.regex.fullmatch(message) is not None

    def __repr__(self):
        return "/%s/" % self.regex.pattern


def P(regex, severity=None):
    return Pattern(regex, severity)


def message_matches(expected, message):
    if isinstance(expected, Pattern):
        return expected.matches(message)
    return expected == message


# The level of every message a scenario expects, as the log spells it.
# Messages with a variable end are matched by their beginning.
INFO, WARNING, ERROR, VERBOSE1 = "INFO", "WARNING", "ERROR", "VERBOSE1"
SEVERITIES = {
    INFO: [
        STARTUP_LINE, "Reading Payload", "Displaying progress dialog",
        "Preparing to fetch the download URL", "Preparing to download to a string",
        "Fetching the download URL", "Download completed", "Preparing to fetch the installer",
        "Stripping SFX header from package", "Extracting files from archive",
        "Destroying progress dialog", "Running the Vulmo Installer", "Retrying", "Closing",
        "Displaying custom message box", "Destroying custom message box",
        "User aborted the installation", "We have extra partner content",
        "Preparing to download a partner content file", "Retrying partner content download",
        "Giving up on partner content download", "Attempting download resume",
    ],
    ERROR: [
        "Failed fetching the download URL", "Failed parsing json reply",
        "Failed downloading the Vulmo package", "Checksum incorrect for the downloaded package",
        "Signature incorrect for the downloaded package", "7z signature no found",
        "SFX header stripping failed", "Archive unpacking failed", "Used up our retries",
        "Failed downloading partner content", "Failed moving partner content into place",
        "Failed parsing partner content part of JSON reply", "Download failed",
        "Request completed with an unexpected HTTP status",
        "Failed opening new package file for writing",
    ],
    VERBOSE1: [
        "Parsing the fetched URL", "Found 7z signature", "Switching language",
        "Attempt to close our dialog", "The user resumed the installation",
        "Installer ready to run, but we are waiting for user interaction",
    ],
}
SEVERITY_PREFIXES = {
    "Command line: ": INFO, "Starting download from ": INFO,
    "Preparing to download to ": INFO, "Retrying ": INFO,
    "Download failed with ": WARNING,
    "Attempting to redirect to a disallowed domain: ": ERROR,
    "Error returned by ": ERROR, "Could not write to the download file": ERROR,
    "Looking up LCID for ": VERBOSE1,
}
_SEVERITY_OF = {text: level for level, texts in SEVERITIES.items() for text in texts}


def severity_of(expected):
    """The level an expected log line (text or Pattern) must have, or None
    when it is not known."""
    if isinstance(expected, Pattern):
        return expected.severity
    if expected in _SEVERITY_OF:
        return _SEVERITY_OF[expected]
    for prefix, level in SEVERITY_PREFIXES.items():
        if expected.startswith(prefix):
            return level
    return None


class CheckFailed(Exception):
    pass


def expect(condition, text):
    if not condition:
        raise CheckFailed(text)


# --- Update-server script pieces -------------------------------------------

class Ctx:
    """What the scenarios need of the built artifacts."""

    def __init__(self, artifacts):
        self.a = artifacts

    @property
    def payload(self):
        return self.a.payload

    def sha(self, variant):
        from e2e_env import sha256_file
        return sha256_file(self.a.packages[variant])

    def partner_sha(self, name):
        from e2e_env import sha256_file
        return sha256_file(self.a.partner[name])

    def package(self, variant, **extra):
        behaviour = {"body_file": self.a.packages[variant]}
        behaviour.update(extra)
        return behaviour

    def partner_file(self, name, **extra):
        behaviour = {"body_file": self.a.partner[name]}
        behaviour.update(extra)
        return behaviour

    def reply(self, variant="vulmo", url=None, checksum=None, welcome=None,
              partner=None, **extra):
        """The JSON reply of the exchange."""
        reply = {
            "installer": url or "http://downloads.vulmo.com/pkg/%s.exe" % variant,
            "installer_checksum": checksum or self.sha(variant),
        }
        if welcome is not None:
            reply["url_welcome"] = welcome
        if partner is not None:
            reply["partner_content"] = partner
        reply.update(extra)
        return {"json": reply}

    def partner_entry(self, name, filename=None, checksum=None):
        return {"href": "http://cdn.example/partner/%s" % name,
                "filename": filename if filename is not None else name,
                "checksum": checksum or self.partner_sha(name)}


def routes(exchange, **paths):
    """A script with the exchange route and package/partner routes given as
    keyword arguments named after their paths ("pkg_vulmo" = /pkg/vulmo.exe,
    "partner_one" = /partner/one.txt ...)."""
    table = {EXCHANGE_PATH: exchange}
    names = {"partner_one": "/partner/one.txt", "partner_two": "/partner/two.dat",
             "partner_big": "/partner/big.bin"}
    for key, value in paths.items():
        path = names.get(key) or "/pkg/%s.exe" % key[len("pkg_"):]
        table[path] = value
    return {"routes": table}


# --- Scenario --------------------------------------------------------------

@dataclass
class Installer:
    """What installer.exe must have received."""
    args: List[str]                       # argv after the program, exactly
    files: Optional[set] = None           # names beside installer.exe, exactly
    tracking: bool = True                 # server_tracking_data = the payload
    files_list: Optional[str] = None      # content of files_list, if any


@dataclass
class Scenario:
    name: str
    summary: str
    script: Callable[[Ctx], dict]
    stub: str = "stamped"
    args: Sequence[str] = ()
    ui: Sequence[tuple] = ()
    standin_exit: int = 0
    exit_code: int = 0
    log: Sequence = ()
    counts: Dict[str, int] = field(default_factory=dict)
    absent: Sequence = ()
    installer: Optional[Installer] = None  # None: installer.exe must not run
    leftovers: Sequence = ("net_installer.log",)  # names, or Patterns
    checks: Sequence[Callable] = ()        # f(ctx, result), raise CheckFailed
    timeout: int = 60
    # Runs with --v=1. Otherwise no verbose line may appear, and the verbose
    # lines of |log| are left out of the order check.
    verbose: bool = False
    # f(ctx) -> bytes: TEMP lies on a file system of that size.
    small_disk: Optional[Callable] = None


def own_args(scenario):
    return (["--v=1"] if scenario.verbose else []) + list(scenario.args)


def expected_log(scenario):
    """The lines of the scenario's log that its run must write, in order."""
    if scenario.verbose:
        return list(scenario.log)
    return [line for line in scenario.log if severity_of(line) != VERBOSE1]


def installer_args(tracking=True, welcome=None, own=()):
    args = ["--install"]
    if tracking:
        args.append("--server-tracking-data=server_tracking_data")
    if welcome is not None:
        args.append("--welcome-url=" + welcome)
    return args + list(own)


# Log lines of a whole successful attempt, from the exchange to the launch.
def attempt_log(exchange_url=PRODUCTION_EXCHANGE,
                package_url="http://downloads.vulmo.com/pkg/vulmo.exe"):
    return [
        "Preparing to fetch the download URL",
        "Preparing to download to a string",
        "Fetching the download URL",
        "Starting download from " + exchange_url,
        "Download completed",
        "Parsing the fetched URL",
        "Preparing to fetch the installer",
        P(r"Preparing to download to [A-Z]:\\(users\\[^\\]+\\Temp\\)?Vulmo NetInstaller\\"
          r"vulmo_installer_\d{14}\.exe", INFO),
        "Starting download from " + package_url,
        "Download completed",
        "Stripping SFX header from package",
        "Found 7z signature",
        "Extracting files from archive",
    ]


START_LOG = [
    STARTUP_LINE,
    P(r"Command line: .*net_installer(_xp)?\.exe\"?( .*)?", INFO),
    "Reading Payload",
    "Displaying progress dialog",
]

LAUNCH_LOG = ["Destroying progress dialog", "Running the Vulmo Installer"]

FAILURE_END = ["Used up our retries", "Closing"]

# The error box after the last attempt, and the user's OK on it; the box's
# text is the first ui output of the scenario.
BOX_END = ["Used up our retries", "Displaying custom message box", "Closing"]
ANSWER_ERROR_BOX = [("text", ERROR_TITLE, BOX_LABEL), ("click", ERROR_TITLE, BOX_SECOND)]
DOWNLOAD_FAILED = "Failed to download Vulmo."     # string 37002
EXTRACT_FAILED = "Failed to extract Vulmo."       # string 37005


# --- Checks on the server's request log ------------------------------------

def header(entry, name):
    for key, value in entry["headers"]:
        if key.lower() == name.lower():
            return value
    return None


def body(entry):
    import base64
    return base64.b64decode(entry.get("body_b64") or "")


def exchanges(result):
    return [r for r in result.requests if r["path"].split("?")[0] == EXCHANGE_PATH]


def path_requests(result, path):
    return [r for r in result.requests if r["path"].split("?")[0] == path]


def check_exchange(count, listener="https", host="autoupdate.vulmo.com", payload=True):
    """count exchanges, each on the listener with that Host; POST of the
    payload or GET without body."""
    def check(ctx, result):
        found = exchanges(result)
        expect(len(found) == count, "expected %d exchange request(s), the server saw %d"
               % (count, len(found)))
        for entry in found:
            expect(entry["listener"] == listener, "exchange went to the %s listener, not %s"
                   % (entry["listener"], listener))
            expect((header(entry, "Host") or "").split(":")[0] == host,
                   "exchange Host %r, expected %r" % (header(entry, "Host"), host))
            expect(header(entry, "User-Agent") == USER_AGENT,
                   "exchange User-Agent %r" % header(entry, "User-Agent"))
            if payload:
                expect(entry["method"] == "POST", "exchange method %s, expected POST"
                       % entry["method"])
                expect(body(entry) == ctx.payload,
                       "exchange body is not the stamped payload: %r" % body(entry)[:80])
            else:
                expect(entry["method"] == "GET", "exchange method %s, expected GET"
                       % entry["method"])
                expect(body(entry) == b"", "GET exchange carried a body")
    return check


def check_downloads(path, count, ranges=None, host=None, listener=None):
    """count GETs of path without body; ranges: the Range header of each
    (None = no header)."""
    def check(ctx, result):
        found = path_requests(result, path)
        expect(len(found) == count, "expected %d request(s) for %s, the server saw %d"
               % (count, path, len(found)))
        for index, entry in enumerate(found):
            expect(entry["method"] == "GET", "%s requested with %s" % (path, entry["method"]))
            expect(body(entry) == b"", "GET %s carried a body" % path)
            expect(header(entry, "User-Agent") == USER_AGENT,
                   "%s User-Agent %r" % (path, header(entry, "User-Agent")))
            wanted = ranges[index] if ranges else None
            expect(header(entry, "Range") == wanted, "request %d for %s: Range %r, expected %r"
                   % (index + 1, path, header(entry, "Range"), wanted))
            if host:
                expect((header(entry, "Host") or "").split(":")[0] == host,
                       "%s Host %r, expected %r" % (path, header(entry, "Host"), host))
            if listener:
                expect(entry["listener"] == listener, "%s over %s, expected %s"
                       % (path, entry["listener"], listener))
    return check


def check_not_requested(path):
    def check(ctx, result):
        expect(not path_requests(result, path), "%s was requested" % path)
    return check


def check_no_file(relative_to_drive_c):
    """Nothing was written at this place of the prefix's drive C:."""
    def check(ctx, result):
        import os
        path = os.path.join(result.drive_c, relative_to_drive_c)
        expect(not os.path.exists(path), "%s exists" % path)
    return check


def check_ui_output(step, expected):
    """The text that the step-th ui action (0-based) printed."""
    def check(ctx, result):
        got = result.ui_outputs[step] if step < len(result.ui_outputs) else None
        expect(got == expected, "ui step %d read %r, expected %r" % (step, got, expected))
    return check


# --- The table -------------------------------------------------------------

def scenario_table():
    pkg = "/pkg/vulmo.exe"
    table = []
    add = table.append

    add(Scenario(
        name="happy_path_with_payload",
        verbose=True,
        summary="stamped signed stub, HTTPS exchange POSTs the payload, package over HTTPS, "
                "welcome page and tracking file handed to installer.exe",
        script=lambda c: routes(
            c.reply(url="https://autoupdate.vulmo.com/pkg/vulmo.exe", welcome=WELCOME_URL),
            pkg_vulmo=c.package("vulmo")),
        log=START_LOG + attempt_log(package_url="https://autoupdate.vulmo.com/pkg/vulmo.exe")
            + LAUNCH_LOG,
        counts={"Retrying": 0},
        absent=["Signature incorrect for the downloaded package"],
        installer=Installer(args=installer_args(welcome=WELCOME_URL, own=["--v=1"]),
                            files=PACKAGE_FILES | {"server_tracking_data"}),
        checks=[check_exchange(1, payload=True),
                check_downloads(pkg, 1, host="autoupdate.vulmo.com", listener="https")]))

    add(Scenario(
        name="happy_path_without_payload",
        summary="signed stub without payload: GET exchange without body, no tracking file "
                "or switch; a non-string url_welcome gives no welcome switch",
        stub="signed",
        script=lambda c: routes(c.reply(welcome=42), pkg_vulmo=c.package("vulmo")),
        log=[STARTUP_LINE, "Reading Payload"] + attempt_log() + LAUNCH_LOG,
        absent=[P(r"Writing payload to file.*")],
        installer=Installer(args=installer_args(tracking=False), files=PACKAGE_FILES,
                            tracking=False),
        checks=[check_exchange(1, payload=False),
                check_downloads(pkg, 1, host="downloads.vulmo.com", listener="http")]))

    add(Scenario(
        name="unsigned_stub_skips_package_signature",
        summary="an unsigned stub accepts a package signed by another company on its "
                "checksum alone",
        stub="unsigned",
        script=lambda c: routes(c.reply("other"), pkg_other=c.package("other")),
        log=START_LOG + attempt_log(package_url="http://downloads.vulmo.com/pkg/other.exe")
            + LAUNCH_LOG,
        absent=["Signature incorrect for the downloaded package"],
        installer=Installer(args=installer_args(tracking=False), files=PACKAGE_FILES,
                            tracking=False),
        checks=[check_exchange(1, payload=False)]))

    add(Scenario(
        name="foreign_or_unsigned_package_rejected",
        summary="a signed stub refuses packages signed by another company or unsigned; "
                'four attempts, then the error box "Failed to download Vulmo.", exit 1',
        script=lambda c: routes(
            [c.reply("other"), c.reply("unsigned"), c.reply("other"), c.reply("unsigned")],
            pkg_other=c.package("other"), pkg_unsigned=c.package("unsigned")),
        ui=ANSWER_ERROR_BOX,
        exit_code=1,
        log=START_LOG + ["Signature incorrect for the downloaded package", "Retrying",
                         "Signature incorrect for the downloaded package", "Retrying",
                         "Signature incorrect for the downloaded package", "Retrying",
                         "Signature incorrect for the downloaded package"] + BOX_END,
        counts={"Signature incorrect for the downloaded package": 4, "Retrying": 3},
        absent=["Stripping SFX header from package", "Running the Vulmo Installer"],
        checks=[check_exchange(4), check_downloads("/pkg/other.exe", 2),
                check_downloads("/pkg/unsigned.exe", 2),
                check_ui_output(0, DOWNLOAD_FAILED)]))

    add(Scenario(
        name="partner_content_two_files",
        summary="two partner files fetched from another host after unpacking, listed in "
                "files_list; no url_welcome key, no welcome switch",
        script=lambda c: routes(
            c.reply(partner=[c.partner_entry("one.txt"), c.partner_entry("two.dat")]),
            pkg_vulmo=c.package("vulmo"),
            partner_one=c.partner_file("one.txt"), partner_two=c.partner_file("two.dat")),
        log=START_LOG + attempt_log() + [
            "We have extra partner content",
            "Preparing to download a partner content file",
            "Starting download from http://cdn.example/partner/one.txt",
            "Download completed",
            "Preparing to download a partner content file",
            "Starting download from http://cdn.example/partner/two.dat",
            "Download completed"] + LAUNCH_LOG,
        counts={"Preparing to download a partner content file": 2},
        absent=["Failed downloading partner content"],
        installer=Installer(args=installer_args(),
                            files=PACKAGE_FILES | {"server_tracking_data", "one.txt",
                                                   "two.dat", "files_list"},
                            files_list="one.txt\r\ntwo.dat\r\n"),
        checks=[check_exchange(1),
                check_downloads("/partner/one.txt", 1, host="cdn.example"),
                check_downloads("/partner/two.dat", 1, host="cdn.example"),
                check_partner_sizes]))

    own = ["--language=de", "--silent", "/Extra-Switch=Some Value", "plain argument"]
    add(Scenario(
        name="arguments_passed_in_order",
        summary='installer.exe gets "install", tracking, welcome, then the own switches '
                '(language, silent, extra) and arguments in their order',
        args=own,
        script=lambda c: routes(c.reply(welcome=WELCOME_URL), pkg_vulmo=c.package("vulmo")),
        log=[STARTUP_LINE,
             P(r'Command line: .*net_installer\.exe"? --language=de --silent '
               r'/extra-switch="Some Value" "plain argument"', INFO),
             "Switching language", "Looking up LCID for de", "Reading Payload"]
            + attempt_log() + LAUNCH_LOG,
        installer=Installer(args=installer_args(
            welcome=WELCOME_URL,
            own=["--language=de", "--silent", "/extra-switch=Some Value",
                 "plain argument"]),
            files=PACKAGE_FILES | {"server_tracking_data"}),
        checks=[check_exchange(1)]))

    add(Scenario(
        name="internal_server_over_http",
        summary='"internal-server" asks the internal development server over plain HTTP',
        args=["--internal-server"],
        script=lambda c: {
            "routes": {EXCHANGE_PATH: {"status": 500, "comment": "production: must not be asked"},
                       pkg: c.package("vulmo")},
            "hosts": {"autoupdate.vulmo.io": {"routes": {EXCHANGE_PATH: c.reply()}}}},
        log=START_LOG + attempt_log(exchange_url=INTERNAL_EXCHANGE) + LAUNCH_LOG,
        installer=Installer(args=installer_args(own=["--internal-server"]),
                            files=PACKAGE_FILES | {"server_tracking_data"}),
        checks=[check_exchange(1, listener="http", host="autoupdate.vulmo.io")]))

    add(Scenario(
        name="reply_errors_then_success",
        summary="replies that are not JSON, not an object, or have a non-string "
                "installer_checksum are refused and retried; the fourth attempt succeeds",
        script=lambda c: routes(
            [{"body": "<html>Service unavailable</html>", "content_type": "text/html"},
             {"json": [c.reply()["json"]]},
             c.reply(installer_checksum=12345),
             c.reply()],
            pkg_vulmo=c.package("vulmo")),
        log=START_LOG + ["Failed parsing json reply", "Retrying"] * 3 + attempt_log()
            + LAUNCH_LOG,
        counts={"Failed parsing json reply": 3, "Retrying": 3},
        installer=Installer(args=installer_args(), files=PACKAGE_FILES | {"server_tracking_data"}),
        checks=[check_exchange(4), check_downloads(pkg, 1)]))

    add(Scenario(
        name="reply_key_errors_then_success",
        summary='a number as "installer", a missing "installer", and a trailing comma are '
                'refused; the fourth attempt succeeds',
        script=lambda c: routes(
            [c.reply(url=None, installer=7),
             {"json": {"installer_checksum": c.sha("vulmo")}},
             {"body": '{"installer": "http://downloads.vulmo.com/pkg/vulmo.exe", '
                      '"installer_checksum": "%s",}' % c.sha("vulmo"),
              "content_type": "application/json"},
             c.reply()],
            pkg_vulmo=c.package("vulmo")),
        log=START_LOG + ["Failed parsing json reply", "Retrying"] * 3 + attempt_log()
            + LAUNCH_LOG,
        counts={"Failed parsing json reply": 3, "Retrying": 3},
        installer=Installer(args=installer_args(), files=PACKAGE_FILES | {"server_tracking_data"}),
        checks=[check_exchange(4), check_downloads(pkg, 1)]))

    add(Scenario(
        name="three_failures_then_success",
        summary="exchange 500, package 404, package without 7z signature: three sequence "
                "retries, then the fourth attempt installs",
        script=lambda c: routes(
            [{"status": 500}, c.reply(), c.reply("no7z", url=c.reply()["json"]["installer"]),
             c.reply()],
            pkg_vulmo=[{"status": 404}, c.package("no7z"), c.package("vulmo")]),
        log=START_LOG + [
            "Request completed with an unexpected HTTP status", "Download failed",
            "Failed fetching the download URL", "Retrying",
            "Request completed with an unexpected HTTP status", "Download failed",
            "Failed downloading the Vulmo package", "Retrying",
            "Stripping SFX header from package", "7z signature no found",
            "SFX header stripping failed", "Retrying"] + attempt_log() + LAUNCH_LOG,
        counts={"Retrying": 3},
        installer=Installer(args=installer_args(), files=PACKAGE_FILES | {"server_tracking_data"}),
        checks=[check_exchange(4), check_downloads(pkg, 3)]))

    add(Scenario(
        name="checksum_mismatch_retried",
        summary="a package whose SHA-256 differs from the reply is refused and fetched again",
        script=lambda c: routes([c.reply(checksum="0" * 64), c.reply()],
                                pkg_vulmo=c.package("vulmo")),
        log=START_LOG + ["Download completed", "Checksum incorrect for the downloaded package",
                         "Retrying"] + attempt_log() + LAUNCH_LOG,
        counts={"Checksum incorrect for the downloaded package": 1, "Retrying": 1},
        installer=Installer(args=installer_args(), files=PACKAGE_FILES | {"server_tracking_data"}),
        checks=[check_exchange(2), check_downloads(pkg, 2)]))

    add(Scenario(
        name="four_failures_error_box",
        summary='four failed exchanges: "Used up our retries", the error box says '
                '"Failed to download Vulmo.", OK ends the run with exit 1',
        script=lambda c: routes({"status": 500}),
        ui=ANSWER_ERROR_BOX,
        exit_code=1,
        log=START_LOG + ["Failed fetching the download URL", "Retrying"] * 3
            + ["Failed fetching the download URL"] + BOX_END,
        counts={"Failed fetching the download URL": 4, "Retrying": 3},
        absent=["Running the Vulmo Installer"],
        checks=[check_exchange(4), check_ui_output(0, DOWNLOAD_FAILED)]))

    add(Scenario(
        name="four_failures_silent",
        summary="the same four failures with --silent: no box, exit 1",
        args=["--silent"],
        script=lambda c: routes({"status": 500}),
        exit_code=1,
        log=START_LOG + ["Failed fetching the download URL", "Retrying"] * 3
            + ["Failed fetching the download URL"] + FAILURE_END,
        counts={"Retrying": 3},
        absent=["Displaying custom message box", "Running the Vulmo Installer"],
        checks=[check_exchange(4)]))

    add(Scenario(
        name="downloader_retry_ends_sequence",
        summary="503 then 404: the downloader retried on its own (6 s), so the failure "
                "skips the sequence retries; silent: the dialog is never visible",
        args=["--silent"],
        script=lambda c: routes([{"status": 503}, {"status": 404}]),
        ui=[("shown", PROGRESS_TITLE, PROGRESS_BAR)],
        exit_code=1,
        log=START_LOG + [
            "Download failed with 503 error", "Retrying 0 of 600",
            "Attempting download resume",
            "Request completed with an unexpected HTTP status", "Download failed",
            "Failed fetching the download URL"] + FAILURE_END,
        counts={"Retrying": 0, "Retrying 0 of 600": 1},
        absent=["Running the Vulmo Installer"],
        checks=[check_exchange(2), check_resume_delay, check_second_exchange_range,
                check_ui_output(0, "hidden")]))

    add(Scenario(
        name="package_resumed_by_range",
        summary="a package transfer cut after 100000 bytes is resumed with "
                "Range: bytes=100000- and completes without a sequence retry",
        script=lambda c: routes(c.reply(), pkg_vulmo=[c.package("vulmo", truncate_after=100000),
                                                      c.package("vulmo")]),
        log=START_LOG + ["Starting download from http://downloads.vulmo.com/pkg/vulmo.exe",
                         "Attempting download resume", "Download completed",
                         "Stripping SFX header from package"] + LAUNCH_LOG,
        counts={"Retrying": 0},
        installer=Installer(args=installer_args(), files=PACKAGE_FILES | {"server_tracking_data"}),
        checks=[check_exchange(1), check_downloads(pkg, 2, ranges=[None, "bytes=100000-"]),
                check_second_status(pkg, 206)]))

    add(Scenario(
        name="corrupted_archive_error_box",
        summary="a signed package with a valid SFX header and damaged 7z data fails to "
                'unpack four times; the error box says "Failed to extract Vulmo.", exit 1',
        script=lambda c: routes(c.reply("corrupt"), pkg_corrupt=c.package("corrupt")),
        ui=ANSWER_ERROR_BOX,
        exit_code=1,
        log=START_LOG + ["Found 7z signature", "Extracting files from archive",
                         "Archive unpacking failed", "Retrying"] * 3
            + ["Archive unpacking failed"] + BOX_END,
        counts={"Archive unpacking failed": 4, "Retrying": 3},
        absent=["Running the Vulmo Installer", "Signature incorrect for the downloaded package"],
        checks=[check_exchange(4), check_downloads("/pkg/corrupt.exe", 4),
                check_ui_output(0, EXTRACT_FAILED)]))

    add(Scenario(
        name="label_downloading_again_after_failed_extraction",
        summary='after an extraction that failed, the retry shows "Downloading Vulmo..." '
                "again, and installs",
        script=lambda c: routes([c.reply("corrupt"), c.reply()],
                                pkg_corrupt=c.package("corrupt"),
                                pkg_vulmo=c.package("vulmo", drip=DRIP)),
        ui=[("log", "Retrying"), ("text", PROGRESS_TITLE, PROGRESS_LABEL)],
        log=START_LOG + ["Extracting files from archive", "Archive unpacking failed",
                         "Retrying"] + attempt_log() + LAUNCH_LOG,
        counts={"Retrying": 1},
        installer=Installer(args=installer_args(), files=PACKAGE_FILES | {"server_tracking_data"}),
        checks=[check_ui_output(1, "Downloading Vulmo...")]))

    add(Scenario(
        name="locked_file_in_extraction_directory",
        summary="a file of the package that cannot be created (another program holds it "
                "open) fails the extraction with the platform's error code; the extraction "
                "directory cannot be deleted for a retry, so the error box follows at once",
        script=lambda c: routes(c.reply(), pkg_vulmo=c.package("vulmo", drip=DRIP)),
        ui=[("hold", "readme.txt", 30)] + ANSWER_ERROR_BOX,
        exit_code=1,
        log=START_LOG + ["Extracting files from archive",
                         "Error returned by CreateFile: 32",  # ERROR_SHARING_VIOLATION
                         "Archive unpacking failed"] + BOX_END,
        counts={"Retrying": 0},
        absent=["Running the Vulmo Installer"],
        leftovers=("net_installer.log", P(r"vulmo_installer_\d{14}")),
        checks=[check_exchange(1), check_ui_output(1, EXTRACT_FAILED)]))

    # TEMP on a small file system: each stage in turn meets a full disk,
    # logs it and takes the retry; then the user makes room ("grow_disk") and
    # the retry installs a whole installer. The second exchange (or partner
    # request) waits, so that the room is there before the retry needs it.
    # The partner file is moved by renaming it on the same disk, which needs
    # no room; its download is what meets the full disk there.
    later = {"delay_ms": 2000}
    full_disk = [
        ("package_download", lambda d: d["package"] // 2,
         [P(r"Could not write to the download file: .*\(0x70\)", ERROR), "Download failed",
          "Failed downloading the Vulmo package", "Retrying"]),
        ("header_stripping", lambda d: d["package"] + d["archive"] // 2,
         ["Stripping SFX header from package", "SFX header stripping failed", "Retrying"]),
        ("extraction", lambda d: d["package"] + d["archive"] + d["unpacked"] // 2,
         # Windows fails the write with ERROR_DISK_FULL (112); Wine reports a
         # short write without an error code (0), which the extraction fails too.
         ["Extracting files from archive", P(r"Error returned by WriteFile: (112|0)", ERROR),
          "Archive unpacking failed", "Retrying"]),
    ]
    for stage, size, failure in full_disk:
        add(Scenario(
            name="full_disk_in_" + stage,
            summary="TEMP on a small disk that fills up in the %s: the failure is logged and "
                    "retried; once there is room the retry installs" % stage.replace("_", " "),
            script=lambda c: routes([c.reply(), dict(c.reply(), **later)],
                                    pkg_vulmo=c.package("vulmo")),
            small_disk=(lambda f: lambda c: f(c.a.disk_use()))(size),
            ui=[("log", "Retrying"), ("grow_disk",)],
            log=START_LOG + failure + attempt_log() + LAUNCH_LOG,
            counts={"Retrying": 1},
            installer=Installer(args=installer_args(),
                                files=PACKAGE_FILES | {"server_tracking_data"}),
            checks=[check_exchange(2)]))

    add(Scenario(
        name="full_disk_in_partner_download",
        summary="TEMP on a small disk with room for the extraction but not for the partner "
                "file: its download fails and is retried; once there is room it is delivered",
        script=lambda c: routes(c.reply(partner=[c.partner_entry("big.bin")]),
                                pkg_vulmo=c.package("vulmo"),
                                partner_big=[c.partner_file("big.bin"),
                                             c.partner_file("big.bin", **later)]),
        small_disk=lambda c: sum(c.a.disk_use().values()) + 64 * 1024,
        ui=[("log", "Retrying partner content download"), ("grow_disk",)],
        log=START_LOG + attempt_log() + [
            "We have extra partner content",
            P(r"Could not write to the download file: .*\(0x70\)", ERROR),
            "Failed downloading partner content", "Retrying partner content download",
            "Download completed"] + LAUNCH_LOG,
        counts={"Failed downloading partner content": 1, "Retrying": 0},
        installer=Installer(args=installer_args(),
                            files=PACKAGE_FILES | {"server_tracking_data", "big.bin",
                                                   "files_list"},
                            files_list="big.bin\r\n"),
        checks=[check_downloads("/partner/big.bin", 2),
                check_file_size("big.bin", lambda c: c.a.partner["big.bin"])]))

    add(Scenario(
        name="full_disk_never_freed_silent",
        summary="TEMP on a disk too small for the package, silent: every attempt fails, the "
                "program ends with exit 1 without running a half-written installer",
        args=["--silent"],
        script=lambda c: routes(c.reply(), pkg_vulmo=c.package("vulmo")),
        small_disk=lambda c: c.a.disk_use()["package"] // 2,
        exit_code=1,
        # What is logged once the disk is full depends on where the log's
        # last page ends; the first attempt's failure always fits.
        log=START_LOG + ["Failed downloading the Vulmo package", "Retrying"],
        absent=["Running the Vulmo Installer", "Stripping SFX header from package"],
        checks=[check_exchange(4)]))

    add(Scenario(
        name="no_7z_signature_error_box",
        summary='a package without 7z signature: "7z signature no found", error box '
                '"Failed to extract Vulmo."; the empty archive file is left (by design)',
        script=lambda c: routes(c.reply("no7z"), pkg_no7z=c.package("no7z")),
        ui=ANSWER_ERROR_BOX,
        exit_code=1,
        log=START_LOG + ["Stripping SFX header from package", "7z signature no found",
                         "SFX header stripping failed", "Retrying"] * 3
            + ["7z signature no found", "SFX header stripping failed"] + BOX_END,
        counts={"7z signature no found": 4},
        absent=["Running the Vulmo Installer", "Extracting files from archive"],
        leftovers=("net_installer.log", P(r"vulmo_installer_\d{14}\.7z")),
        checks=[check_ui_output(0, EXTRACT_FAILED)]))

    add(Scenario(
        name="partner_retry_then_give_up",
        summary="a partner file with a bad checksum is retried and delivered; one that "
                "keeps failing is given up after four attempts; no files_list; launch "
                "still happens",
        script=lambda c: routes(
            c.reply(partner=[c.partner_entry("one.txt"), c.partner_entry("two.dat")]),
            pkg_vulmo=c.package("vulmo"),
            partner_one=[{"body": "not the partner file"}, c.partner_file("one.txt")],
            partner_two={"status": 404}),
        log=START_LOG + attempt_log() + [
            "We have extra partner content",
            "Failed downloading partner content", "Retrying partner content download",
            "Download completed",
            "Starting download from http://cdn.example/partner/two.dat",
            "Failed downloading partner content", "Retrying partner content download",
            "Failed downloading partner content", "Retrying partner content download",
            "Failed downloading partner content", "Retrying partner content download",
            "Failed downloading partner content", "Giving up on partner content download",
        ] + LAUNCH_LOG,
        counts={"Failed downloading partner content": 5,
                "Retrying partner content download": 4,
                "Giving up on partner content download": 1, "Retrying": 0},
        installer=Installer(args=installer_args(),
                            files=PACKAGE_FILES | {"server_tracking_data", "one.txt"}),
        checks=[check_downloads("/partner/one.txt", 2), check_downloads("/partner/two.dat", 4)]))

    add(Scenario(
        name="partner_downloader_retry_gives_up",
        summary="a partner file that the downloader retried on its own (503, then 404) is "
                "given up at once, without a partner retry; the launch still happens",
        script=lambda c: routes(
            c.reply(partner=[c.partner_entry("one.txt")]), pkg_vulmo=c.package("vulmo"),
            partner_one=[{"status": 503}, {"status": 404}]),
        log=START_LOG + attempt_log() + [
            "We have extra partner content", "Download failed with 503 error",
            "Retrying 0 of 600", "Failed downloading partner content",
            "Giving up on partner content download"] + LAUNCH_LOG,
        counts={"Retrying partner content download": 0, "Failed downloading partner content": 1},
        installer=Installer(args=installer_args(), files=PACKAGE_FILES | {"server_tracking_data"}),
        checks=[check_downloads("/partner/one.txt", 2, ranges=[None, "bytes=0-"])]))

    add(Scenario(
        name="partner_move_fails",
        summary="a partner file named into a folder that does not exist cannot be moved into "
                "place: the launch follows at once, without the next entry or files_list",
        script=lambda c: routes(
            c.reply(partner=[c.partner_entry("one.txt", filename="no_such_folder\\one.txt"),
                             c.partner_entry("two.dat")]),
            pkg_vulmo=c.package("vulmo"),
            partner_one=c.partner_file("one.txt"), partner_two=c.partner_file("two.dat")),
        log=START_LOG + attempt_log() + ["We have extra partner content", "Download completed",
                                         "Failed moving partner content into place"]
            + LAUNCH_LOG,
        absent=["Failed downloading partner content"],
        installer=Installer(args=installer_args(), files=PACKAGE_FILES | {"server_tracking_data"}),
        # The temporary file that could not be moved stays, like any a failure leaves.
        leftovers=("net_installer.log", "partner_content.tmp"),
        checks=[check_downloads("/partner/one.txt", 1), check_not_requested("/partner/two.dat")]))

    # Entries that cannot be read end partner content: the good entry before
    # is delivered, the one after is never fetched.
    unreadable = [
        ("not_an_object", lambda c: "http://cdn.example/partner/two.dat"),
        ("without_href", lambda c: {key: value for key, value
                                    in c.partner_entry("two.dat").items() if key != "href"}),
        ("checksum_not_a_string", lambda c: dict(c.partner_entry("two.dat"), checksum=12345)),
    ]
    for label, bad_entry in unreadable:
        add(Scenario(
            name="partner_entry_" + label,
            summary="a partner entry %s is refused; the launch follows with the file before "
                    "it and without the one after it" % label.replace("_", " "),
            script=(lambda bad: lambda c: routes(
                c.reply(partner=[c.partner_entry("one.txt"), bad(c), c.partner_entry("two.dat")]),
                pkg_vulmo=c.package("vulmo"),
                partner_one=c.partner_file("one.txt"), partner_two=c.partner_file("two.dat")))(
                    bad_entry),
            log=START_LOG + attempt_log() + [
                "We have extra partner content", "Download completed",
                "Failed parsing partner content part of JSON reply"] + LAUNCH_LOG,
            installer=Installer(args=installer_args(),
                                files=PACKAGE_FILES | {"server_tracking_data", "one.txt"}),
            checks=[check_downloads("/partner/one.txt", 1),
                    check_not_requested("/partner/two.dat")]))

    add(Scenario(
        name="partner_list_from_current_reply",
        summary="a retry whose reply has an empty partner_content list uses no partner "
                "content, although the first reply had some",
        script=lambda c: routes(
            [c.reply(checksum="f" * 64, partner=[c.partner_entry("one.txt")]),
             c.reply(partner=[])],
            pkg_vulmo=c.package("vulmo"), partner_one=c.partner_file("one.txt")),
        log=START_LOG + ["Checksum incorrect for the downloaded package", "Retrying"]
            + attempt_log() + LAUNCH_LOG,
        absent=["We have extra partner content"],
        installer=Installer(args=installer_args(), files=PACKAGE_FILES | {"server_tracking_data"}),
        checks=[check_not_requested("/partner/one.txt")]))

    add(Scenario(
        name="partner_same_filename_twice",
        summary="two entries with the same filename: the second replaces the first, the "
                "name is listed twice",
        script=lambda c: routes(
            c.reply(partner=[c.partner_entry("one.txt", filename="same.bin"),
                             c.partner_entry("two.dat", filename="same.bin")]),
            pkg_vulmo=c.package("vulmo"),
            partner_one=c.partner_file("one.txt"), partner_two=c.partner_file("two.dat")),
        log=START_LOG + attempt_log() + ["We have extra partner content"] + LAUNCH_LOG,
        installer=Installer(args=installer_args(),
                            files=PACKAGE_FILES | {"server_tracking_data", "same.bin",
                                                   "files_list"},
                            files_list="same.bin\r\nsame.bin\r\n"),
        checks=[check_file_size("same.bin", lambda c: c.a.partner["two.dat"])]))

    escapes = [("dotdot", "..\\evil.txt", "users/{user}/Temp/Vulmo NetInstaller/evil.txt"),
               ("drive", "C:\\x", "x"),
               ("rooted", "/abs", "abs")]
    for label, filename, outside in escapes:
        first_ok = label == "dotdot"
        add(Scenario(
            name="partner_filename_escape_" + label,
            summary="a partner filename %r that would leave the extraction directory is "
                    "refused; nothing is fetched or written; installer.exe still runs%s"
                    % (filename, " (the good entry before it is delivered)" if first_ok else ""),
            script=(lambda f, ok: lambda c: routes(
                c.reply(partner=([c.partner_entry("one.txt")] if ok else [])
                        + [c.partner_entry("two.dat", filename=f)]),
                pkg_vulmo=c.package("vulmo"),
                partner_one=c.partner_file("one.txt"), partner_two=c.partner_file("two.dat")))(
                    filename, first_ok),
            log=START_LOG + attempt_log() + ["We have extra partner content",
                                             "Failed parsing partner content part of JSON reply"]
                + LAUNCH_LOG,
            installer=Installer(args=installer_args(),
                                files=PACKAGE_FILES | {"server_tracking_data"}
                                | ({"one.txt"} if first_ok else set())),
            checks=[check_not_requested("/partner/two.dat"), check_no_file(outside),
                    check_no_unix_file("/abs")]))

    confirm_text = ("Vulmo has not yet been fully installed. Are you sure that you want to "
                    "cancel the installation?")
    slow = lambda c: routes(c.reply(), pkg_vulmo=c.package("vulmo", drip=DRIP))

    add(Scenario(
        name="cancel_then_continue",
        verbose=True,
        summary='closing the progress dialog asks for confirmation; "Continue installing" '
                "goes on and installs",
        script=lambda c: routes(c.reply(), pkg_vulmo=c.package("vulmo", drip=SLOW_DRIP)),
        ui=[("shown", PROGRESS_TITLE, PROGRESS_BAR),
            ("close", PROGRESS_TITLE, PROGRESS_BAR), ("text", CONFIRM_TITLE, BOX_LABEL),
            ("click", CONFIRM_TITLE, BOX_FIRST)],
        log=START_LOG + ["Attempt to close our dialog", "Displaying custom message box",
                         "The user resumed the installation", "Destroying custom message box",
                         "Download completed", "Stripping SFX header from package"] + LAUNCH_LOG,
        absent=["Installer ready to run, but we are waiting for user interaction",
                "User aborted the installation"],
        installer=Installer(args=installer_args(own=["--v=1"]),
                            files=PACKAGE_FILES | {"server_tracking_data"}),
        checks=[check_ui_output(0, "visible"), check_ui_output(2, confirm_text)]))

    add(Scenario(
        name="cancel_then_abort",
        summary='"Abort the installation" stops the download and ends with exit 1; the '
                "partial package is deleted",
        script=slow,
        ui=[("close", PROGRESS_TITLE, PROGRESS_BAR), ("click", CONFIRM_TITLE, BOX_SECOND)],
        exit_code=1,
        log=START_LOG + ["Attempt to close our dialog", "Displaying custom message box",
                         "User aborted the installation", "Closing"],
        absent=["Running the Vulmo Installer", "The user resumed the installation",
                "Stripping SFX header from package"]))

    add(Scenario(
        name="cancel_box_closed_by_its_window",
        summary="closing the confirmation's own window counts as \"Continue installing\"",
        script=slow,
        ui=[("close", PROGRESS_TITLE, PROGRESS_BAR), ("close", CONFIRM_TITLE, BOX_FIRST)],
        log=START_LOG + ["Attempt to close our dialog", "Displaying custom message box",
                         "The user resumed the installation", "Download completed"] + LAUNCH_LOG,
        absent=["User aborted the installation"],
        installer=Installer(args=installer_args(), files=PACKAGE_FILES | {"server_tracking_data"})))

    add(Scenario(
        name="cancel_answered_by_keyboard",
        verbose=True,
        summary='the confirmation answered with the keyboard: Escape leaves it open, Enter '
                'is "Continue installing"; asked again, Tab then Enter is "Abort the '
                'installation"',
        script=lambda c: routes(c.reply(), pkg_vulmo=c.package("vulmo", drip=SLOW_DRIP)),
        ui=[("close", PROGRESS_TITLE, PROGRESS_BAR),
            ("key", CONFIRM_TITLE, BOX_FIRST, "escape"),
            ("key", CONFIRM_TITLE, BOX_FIRST, "enter"),
            ("close", PROGRESS_TITLE, PROGRESS_BAR),
            ("key", CONFIRM_TITLE, BOX_FIRST, "tab"),
            ("key", CONFIRM_TITLE, BOX_FIRST, "enter")],
        exit_code=1,
        log=START_LOG + ["Attempt to close our dialog", "Displaying custom message box",
                         "The user resumed the installation", "Destroying custom message box",
                         "Attempt to close our dialog", "Displaying custom message box",
                         "User aborted the installation", "Closing"],
        counts={"Displaying custom message box": 2, "The user resumed the installation": 1},
        absent=["Running the Vulmo Installer"]))

    add(Scenario(
        name="launch_deferred_then_continue",
        verbose=True,
        summary="the installer becomes ready while the confirmation is open: nothing runs "
                'until "Continue installing", then it runs once',
        script=slow,
        ui=[("close", PROGRESS_TITLE, PROGRESS_BAR), ("wait", CONFIRM_TITLE, BOX_FIRST),
            ("log", "Installer ready to run, but we are waiting for user interaction"),
            ("no_report",),
            ("click", CONFIRM_TITLE, BOX_FIRST)],
        log=START_LOG + ["Attempt to close our dialog", "Extracting files from archive",
                         "Installer ready to run, but we are waiting for user interaction",
                         "The user resumed the installation"] + LAUNCH_LOG,
        counts={"Running the Vulmo Installer": 1},
        installer=Installer(args=installer_args(own=["--v=1"]),
                            files=PACKAGE_FILES | {"server_tracking_data"})))

    add(Scenario(
        name="launch_deferred_then_abort",
        verbose=True,
        summary='the installer is ready while the confirmation is open; "Abort the '
                'installation" ends without running it',
        script=slow,
        ui=[("close", PROGRESS_TITLE, PROGRESS_BAR), ("wait", CONFIRM_TITLE, BOX_FIRST),
            ("log", "Installer ready to run, but we are waiting for user interaction"),
            ("click", CONFIRM_TITLE, BOX_SECOND)],
        exit_code=1,
        log=START_LOG + ["Installer ready to run, but we are waiting for user interaction",
                         "User aborted the installation", "Closing"],
        absent=["Running the Vulmo Installer"]))

    add(Scenario(
        name="retries_used_up_while_confirmation_open",
        summary="the retries run out while the cancel confirmation is open: the error box "
                "replaces it; OK ends with exit 1",
        script=lambda c: routes({"status": 500, "delay_ms": 1200}),
        ui=[("close", PROGRESS_TITLE, PROGRESS_BAR), ("wait", CONFIRM_TITLE, BOX_FIRST),
            ("text", ERROR_TITLE, BOX_LABEL), ("click", ERROR_TITLE, BOX_SECOND)],
        exit_code=1,
        log=START_LOG + ["Attempt to close our dialog", "Displaying custom message box",
                         "Retrying", "Retrying", "Retrying", "Used up our retries",
                         "Destroying custom message box", "Displaying custom message box",
                         "Closing"],
        counts={"Displaying custom message box": 2, "Retrying": 3},
        absent=["Running the Vulmo Installer", "User aborted the installation",
                "The user resumed the installation"],
        checks=[check_exchange(4), check_ui_output(2, DOWNLOAD_FAILED)]))

    # A close request that reaches the program while it shows the error box,
    # or while it runs silently: the run still ends, with no new box.
    add(Scenario(
        name="close_request_while_error_box_open",
        summary="WM_CLOSE to the progress dialog while the error box is open changes "
                "nothing: the error box stays, closing it ends the run with exit 1",
        script=lambda c: routes({"status": 500}),
        verbose=True,  # the close request's own log line is the step's cue
        ui=[("text", ERROR_TITLE, BOX_LABEL), ("close_disabled", PROGRESS_TITLE, PROGRESS_BAR),
            ("log", "Attempt to close our dialog"), ("text", ERROR_TITLE, BOX_LABEL),
            ("close", ERROR_TITLE, BOX_SECOND)],
        exit_code=1,
        log=START_LOG + ["Used up our retries", "Displaying custom message box",
                         "Attempt to close our dialog", "Destroying custom message box",
                         "Closing"],
        counts={"Displaying custom message box": 1},
        absent=["Running the Vulmo Installer", "User aborted the installation",
                "The user resumed the installation"],
        checks=[check_ui_output(3, "Failed to download Vulmo.")]))

    add(Scenario(
        name="silent_close_request_aborts",
        summary="--silent: WM_CLOSE to the hidden progress dialog while the package "
                "downloads aborts at once, without a box, exit 1",
        args=["--silent"],
        script=slow,
        ui=[("log", "Preparing to fetch the installer"), ("close", PROGRESS_TITLE, PROGRESS_BAR)],
        exit_code=1,
        timeout=30,
        log=START_LOG + ["Attempt to close our dialog", "User aborted the installation",
                         "Closing"],
        absent=["Displaying custom message box", "Running the Vulmo Installer",
                "Stripping SFX header from package"]))

    add(Scenario(
        name="installer_missing_in_package",
        summary="a package without installer.exe: the launch fails, exit 1, no retry and "
                "no box",
        script=lambda c: routes(c.reply("noinstaller"), pkg_noinstaller=c.package("noinstaller")),
        exit_code=1,
        log=START_LOG + attempt_log(package_url="http://downloads.vulmo.com/pkg/noinstaller.exe")
            + LAUNCH_LOG,
        counts={"Retrying": 0},
        absent=["Displaying custom message box"]))

    add(Scenario(
        name="installer_exit_code_nonzero",
        summary="installer.exe exiting with 7 makes the program exit with 1",
        script=lambda c: routes(c.reply(), pkg_vulmo=c.package("vulmo")),
        standin_exit=7,
        exit_code=1,
        log=START_LOG + attempt_log() + LAUNCH_LOG,
        installer=Installer(args=installer_args(), files=PACKAGE_FILES | {"server_tracking_data"})))

    add(Scenario(
        name="language_de_thread_locale",
        verbose=True,
        summary='"language" de on a prefix that reports Windows XP (thread-locale path): '
                "German title and label",
        stub="stamped_xp",
        args=["--language=de"],
        script=slow,
        ui=[("text", "Vulmo-Installationsprogramm", PROGRESS_LABEL)],
        log=[STARTUP_LINE, "Switching language", "Looking up LCID for de"] + START_LOG[2:]
            + attempt_log() + LAUNCH_LOG,
        installer=Installer(args=installer_args(own=["--v=1", "--language=de"]),
                            files=PACKAGE_FILES | {"server_tracking_data"}),
        checks=[check_ui_output(0, "Vulmo wird heruntergeladen...")]))

    add(Scenario(
        name="exchange_redirect_to_foreign_host",
        summary="an exchange redirected outside the allowed domains fails and is retried; "
                "the foreign reply is never used",
        script=lambda c: {
            "routes": {EXCHANGE_PATH: [{"status": 302,
                                        "location": "http://other.example/netinstaller/Stable"},
                                       c.reply()],
                       pkg: c.package("vulmo"),
                       "/pkg/evil.exe": c.package("unsigned")},
            "hosts": {"other.example": {"routes": {EXCHANGE_PATH: c.reply(
                "unsigned", url="http://other.example/pkg/evil.exe")}}}},
        log=START_LOG + ["Attempting to redirect to a disallowed domain: other.example",
                         "Failed fetching the download URL", "Retrying"] + attempt_log()
            + LAUNCH_LOG,
        counts={"Retrying": 1},
        installer=Installer(args=installer_args(), files=PACKAGE_FILES | {"server_tracking_data"}),
        checks=[check_not_requested("/pkg/evil.exe"), check_downloads(pkg, 1)]))

    return table


# --- Checks used above that need more than one line ------------------------

def check_partner_sizes(ctx, result):
    import os
    files = {f["name"]: f for f in result.report["files"]}
    for name in ("one.txt", "two.dat"):
        path = ctx.a.partner[name]
        expect(files.get(name, {}).get("size") == os.path.getsize(path),
               "%s beside installer.exe has size %r, expected %d"
               % (name, files.get(name, {}).get("size"), os.path.getsize(path)))


def check_file_size(name, source):
    """The file beside installer.exe has the size of the file source(ctx)."""
    def check(ctx, result):
        import os
        files = {f["name"]: f for f in result.report["files"]}
        wanted = os.path.getsize(source(ctx))
        expect(files.get(name, {}).get("size") == wanted, "%s beside installer.exe has size "
               "%r, expected %d" % (name, files.get(name, {}).get("size"), wanted))
    return check


def check_resume_delay(ctx, result):
    """The counted retry waits 6 seconds before the second request."""
    found = exchanges(result)
    if len(found) == 2:
        delay = found[1]["time"] - found[0]["time"]
        expect(5.5 <= delay <= 12, "the retried exchange came %.1f s after the first" % delay)


def check_second_exchange_range(ctx, result):
    found = exchanges(result)
    if len(found) == 2:
        expect(header(found[1], "Range") == "bytes=0-",
               "resumed exchange Range %r, expected 'bytes=0-'" % header(found[1], "Range"))
        expect(found[1]["method"] == "POST" and body(found[1]) == ctx.payload,
               "the resumed exchange is not the same POST of the payload")


def check_second_status(path, status):
    def check(ctx, result):
        found = path_requests(result, path)
        if len(found) >= 2:
            got = found[1].get("behaviour", {}).get("status")
            expect(got == status, "second request for %s answered %r, expected %d"
                   % (path, got, status))
    return check


def check_no_unix_file(path):
    def check(ctx, result):
        import os
        expect(not os.path.exists(path), "%s exists" % path)
    return check

"""The world of an end-to-end run: the Wine prefix, the built programs, the
signed test packages and stubs, and how a Windows program is started.

Used by run_scenarios.py (the scenario suite) and demo.py (scripts/run.sh).
Python 3 standard library only.
"""

import getpass
import hashlib
import os
import random
import shutil
import socket
import subprocess
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# The Vulmo test signer and a foreign company (see tools/pki).
VULMO_SIGNER = "vulmo"
OTHER_SIGNER = "other"

SEVEN_ZIP_SIGNATURE = b"7z\xbc\xaf\x27\x1c"


def in_private_namespace(hosts):
    """Inside netns-run.sh's namespace, with every one of HOSTS mapped to
    loopback by its hosts file."""
    if not os.environ.get("VULMO_NETNS"):
        return False
    try:
        return all(socket.gethostbyname(host) == "127.0.0.1" for host in hosts)
    except OSError:
        return False


def log(message):
    print("[e2e] " + message, flush=True)


def sha256_file(path):
    digest = hashlib.sha256()
    with open(path, "rb") as source:
        for block in iter(lambda: source.read(1 << 16), b""):
            digest.update(block)
    return digest.hexdigest()


def windows_path(unix_path):
    """The path a Windows program sees for a Linux file (Wine's drive Z:)."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def run_to_end(command, timeout, **kwargs):
    """Runs a command; returns (exit code or None on time-out, output).

    The output goes through a file, not a pipe: a Wine program may start the
    prefix's service processes, which inherit its output handles and live
    on, so a pipe would never reach its end."""
    with tempfile.TemporaryFile() as output:
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=output,
                                   stderr=subprocess.STDOUT, **kwargs)
        try:
            code = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            code = None
        output.seek(0)
        return code, output.read().decode("utf-8", "replace")


def run(command, timeout=120, **kwargs):
    """Runs a helper command; raises with its output when it fails."""
    code, output = run_to_end(command, timeout, **kwargs)
    if code != 0:
        raise RuntimeError("command failed (%s): %s\n%s" % (code, " ".join(command), output))
    return output


class Wine:
    """One Wine prefix used by one run. Every program is started with a time
    limit; one persistent wineserver serves the whole run."""

    def __init__(self, prefix):
        self.prefix = os.path.abspath(prefix)
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": self.prefix,
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
        })
        self.server_started = False

    @property
    def drive_c(self):
        return os.path.join(self.prefix, "drive_c")

    @property
    def temp_dir(self):
        """GetTempPathW of the prefix: C:\\users\\<user>\\Temp."""
        return os.path.join(self.drive_c, "users", getpass.getuser(), "Temp")

    @property
    def work_dir(self):
        """The program's work directory (log, package, extraction)."""
        return os.path.join(self.temp_dir, "Vulmo NetInstaller")

    def ensure_prefix(self):
        if not os.path.isfile(os.path.join(self.prefix, "system.reg")):
            log("creating Wine prefix %s (takes a minute or two)" % self.prefix)
        run([os.path.join(REPO, "scripts", "make-wineprefix.sh"), self.prefix],
            timeout=600)

    def start_server(self):
        run_to_end(["wineserver", "-p"], 30, env=self.env)
        self.server_started = True

    def stop_server(self):
        """Ends this prefix's wineserver (WINEPREFIX selects it) and with it
        every Wine process of the prefix."""
        run_to_end(["wineserver", "-k"], 30, env=self.env)
        run_to_end(["wineserver", "-w"], 60, env=self.env)
        self.server_started = False

    def popen(self, exe, args=(), extra_env=None, **kwargs):
        env = dict(self.env)
        env.update(extra_env or {})
        return subprocess.Popen(["wine", exe] + list(args), env=env,
                                stdin=subprocess.DEVNULL, **kwargs)

    def run(self, exe, args=(), timeout=60, extra_env=None):
        """Runs a program to its end; returns (exit code, output text).
        A program still running at the time limit is killed: (None, ...)."""
        env = dict(self.env)
        env.update(extra_env or {})
        return run_to_end(["wine", exe] + list(args), timeout, env=env)

    def reg_add(self, key, name, value):
        code, output = self.run("reg", ["add", key, "/v", name, "/d", value, "/f"],
                                timeout=60)
        if code != 0:
            raise RuntimeError("wine reg add %s %s failed: %s" % (key, name, output))

    def reg_delete(self, key, name):
        self.run("reg", ["delete", key, "/v", name, "/f"], timeout=60)

    def reg_has(self, section, line):
        """True when user.reg has the line in the section (no Wine start)."""
        try:
            with open(os.path.join(self.prefix, "user.reg"), encoding="utf-8",
                      errors="replace") as reg:
                inside = False
                for text in reg:
                    text = text.rstrip("\n")
                    if text.startswith("["):
                        inside = text.startswith("[" + section + "]")
                    elif inside and text == line:
                        return True
        except OSError:
            pass
        return False

    def clean_work_dir(self):
        shutil.rmtree(self.work_dir, ignore_errors=True)

    def log_path(self):
        return os.path.join(self.work_dir, "net_installer.log")


class SmallDisk:
    """A small file system for TEMP: a tmpfs of a given size mapped as the
    prefix's drive T:, so that a run meets a real full disk. It is mounted
    in the private namespace the suite runs in (scripts/netns-run.sh gives
    it a mount namespace of its own), so it cannot outlive the suite."""

    DRIVE = "t:"
    TEMP = "T:\\"

    def __init__(self, wine, mount_point):
        self.wine = wine
        self.mount_point = os.path.abspath(mount_point)

    @property
    def work_dir(self):
        return os.path.join(self.mount_point, "Vulmo NetInstaller")

    def prepare(self, size):
        """An empty file system of size bytes (whole pages) at T:."""
        os.makedirs(self.mount_point, exist_ok=True)
        if os.path.ismount(self.mount_point):
            for name in os.listdir(self.mount_point):
                path = os.path.join(self.mount_point, name)
                if os.path.isdir(path):
                    shutil.rmtree(path)
                else:
                    os.remove(path)
            run(["mount", "-o", "remount,size=%d" % size, self.mount_point])
        else:
            run(["mount", "-t", "tmpfs", "-o", "size=%d,mode=0755" % size, "vulmo-small-disk",
                 self.mount_point])
        link = os.path.join(self.wine.prefix, "dosdevices", self.DRIVE)
        if os.path.realpath(link) != self.mount_point:
            if os.path.lexists(link):
                os.remove(link)
            os.symlink(self.mount_point, link)

    def grow(self, size=64 << 20):
        run(["mount", "-o", "remount,size=%d" % size, self.mount_point])

    def command(self, exe, args):
        """The program and arguments that run exe with TEMP and TMP on the
        small disk. Wine sets both from the prefix's registry for a program
        started from Linux, so a cmd in between sets them for its child."""
        line = " ".join([windows_path(exe)] + list(args))
        return "cmd", ["/c", "set TEMP=%s&& set TMP=%s&& %s" % (self.TEMP, self.TEMP, line)]

    def tear_down(self):
        if os.path.ismount(self.mount_point):
            run_to_end(["umount", self.mount_point], 30)


class Artifacts:
    """Builds everything a run needs from the build tree and the test tools:
    the test PKI, the server's TLS certificate, the test packages and the
    stub variants. Everything lands in out_dir, rebuilt on every run."""

    def __init__(self, build_dir, out_dir):
        self.build_dir = os.path.abspath(build_dir)
        self.out_dir = os.path.abspath(out_dir)
        # Certificates outlive the rebuilt artifacts (see _make_pki).
        self.pki_dir = os.path.join(os.path.dirname(self.out_dir), "pki")
        self.tls_dir = os.path.join(os.path.dirname(self.out_dir), "tls")
        self.package_src = os.path.join(self.out_dir, "package-src")
        self.packages_dir = os.path.join(self.out_dir, "packages")
        self.partner_dir = os.path.join(self.out_dir, "partner")
        self.stubs_dir = os.path.join(self.out_dir, "stubs")
        self.packages = {}   # variant -> path
        self.partner = {}    # name -> path
        self.stubs = {}      # variant -> path
        self.payload = b""

    # --- Programs of the build tree ---------------------------------------

    def exe(self, target):
        for sub in ("", "desktop/launcher/installer/net_installer", "test/installer_standin",
                    "test/ui_actions", "tools"):
            path = os.path.join(self.build_dir, sub, target + ".exe")
            if os.path.isfile(path):
                return path
        found = None
        for root, _, files in os.walk(self.build_dir):
            if "wineprefix" in root:
                continue
            if target + ".exe" in files:
                found = os.path.join(root, target + ".exe")
                break
        if not found:
            raise RuntimeError("%s.exe not found in %s: build it first (ninja -C %s %s)"
                               % (target, self.build_dir, self.build_dir, target))
        return found

    # --- Signing ------------------------------------------------------------

    def cert(self, who):
        """(certificate chain, key) of a code-signing identity of the test
        PKI (tools/pki/make_test_pki.sh)."""
        chain = os.path.join(self.pki_dir, who + "-chain.pem")
        if not os.path.isfile(chain):
            raise RuntimeError("no %s signing certificate in %s" % (who, self.pki_dir))
        return chain, os.path.join(self.pki_dir, who + ".key")

    def sign(self, source, target, who):
        crt, key = self.cert(who)
        if os.path.exists(target):
            os.remove(target)
        run(["osslsigncode", "sign", "-certs", crt, "-key", key, "-h", "sha256",
             "-in", source, "-out", target])

    # --- Build --------------------------------------------------------------

    def build(self, filler_size=64 * 1024, payload=None):
        started = time.monotonic()
        shutil.rmtree(self.out_dir, ignore_errors=True)
        for directory in (self.out_dir, self.package_src, self.packages_dir,
                          self.partner_dir, self.stubs_dir):
            os.makedirs(directory, exist_ok=True)
        self._make_pki()
        self._make_tls()
        self._make_package_source(filler_size)
        self._make_packages()
        self._make_partner_files()
        self._make_stubs(payload if payload is not None else sample_payload())
        log("artifacts built in %.1f s (%s)" % (time.monotonic() - started, self.out_dir))

    def _make_pki(self):
        # Kept across runs (like the TLS certificate): its CA is trusted in
        # the prefix once, and the prefix cannot really forget a root.
        if not os.path.isfile(os.path.join(self.pki_dir, "ca.crt")):
            run(["bash", os.path.join(REPO, "tools", "pki", "make_test_pki.sh"), self.pki_dir])

    @property
    def pki_ca(self):
        return os.path.join(self.pki_dir, "ca.crt")

    def _make_tls(self):
        run(["bash", os.path.join(REPO, "test", "server", "make_test_certs.sh"), self.tls_dir])

    @property
    def tls_ca(self):
        return os.path.join(self.tls_dir, "ca.crt")

    def _make_package_source(self, filler_size):
        installer = os.path.join(self.package_src, "installer.exe")
        shutil.copyfile(self.exe("installer_standin"), installer)
        # Without its symbols the stand-in packs small and the packages stay
        # quick to build and to drip.
        strip = shutil.which("x86_64-w64-mingw32-strip")
        if strip:
            run([strip, installer])
        with open(os.path.join(self.package_src, "readme.txt"), "w", newline="\r\n") as out:
            out.write("Sample Vulmo package for the end-to-end runs.\n")
        os.makedirs(os.path.join(self.package_src, "docs"), exist_ok=True)
        with open(os.path.join(self.package_src, "docs", "notes.txt"), "w") as out:
            out.write("A file in a subfolder of the package.\n")
        # Incompressible, so that the archive holds some real packed data;
        # seeded, so every run builds the same bytes.
        generator = random.Random(20140925)
        with open(os.path.join(self.package_src, "filler.bin"), "wb") as out:
            out.write(bytes(generator.getrandbits(8) for _ in range(filler_size)))

    def _build_package(self, out, sign_as=None, source=None):
        command = ["bash", os.path.join(REPO, "tools", "package_builder", "build_package.sh"),
                   source or self.package_src, out, "--stub", self.exe("sfx_stub")]
        if sign_as:
            crt, key = self.cert(sign_as)
            command += ["--sign", crt, key]
        run(command)

    def _make_packages(self):
        p = lambda name: os.path.join(self.packages_dir, name)
        self._build_package(p("vulmo.exe"), VULMO_SIGNER)
        self._build_package(p("other.exe"), OTHER_SIGNER)
        self._build_package(p("unsigned.exe"))

        # A valid self-extractor header followed by damaged 7z data, then
        # signed by the maker so that only the extraction can refuse it.
        with open(p("unsigned.exe"), "rb") as source:
            data = bytearray(source.read())
        start = data.find(SEVEN_ZIP_SIGNATURE)
        if start < 0:
            raise RuntimeError("the unsigned package has no 7z signature")
        # Past the 32-byte signature header, well inside the packed streams.
        for offset in range(start + 64, start + 64 + 4096, 7):
            data[offset] ^= 0x5A
        with open(p("corrupt-unsigned.exe"), "wb") as out:
            out.write(data)
        self.sign(p("corrupt-unsigned.exe"), p("corrupt.exe"), VULMO_SIGNER)
        os.remove(p("corrupt-unsigned.exe"))

        # A package whose archive has no installer.exe.
        without = os.path.join(self.out_dir, "package-src-no-installer")
        shutil.copytree(self.package_src, without)
        os.remove(os.path.join(without, "installer.exe"))
        self._build_package(p("noinstaller.exe"), VULMO_SIGNER, source=without)

        # A signed program with no 7z archive at all.
        self.sign(self.exe("installer_standin"), p("no7z.exe"), VULMO_SIGNER)
        with open(p("no7z.exe"), "rb") as source:
            if SEVEN_ZIP_SIGNATURE in source.read():
                raise RuntimeError("no7z.exe unexpectedly holds a 7z signature")

        for name in os.listdir(self.packages_dir):
            self.packages[os.path.splitext(name)[0]] = p(name)

    def _make_partner_files(self):
        # big.bin is larger than the archive of the vulmo package, so that a
        # disk with room for its extraction has none for this file.
        generator = random.Random(20141024)
        big = self.disk_use()["archive"] + 128 * 1024
        contents = {
            "one.txt": b"Partner content number one.\r\n",
            "two.dat": bytes(range(256)) * 64,
            "big.bin": bytes(generator.getrandbits(8) for _ in range(big)),
        }
        for name, data in contents.items():
            path = os.path.join(self.partner_dir, name)
            with open(path, "wb") as out:
                out.write(data)
            self.partner[name] = path

    def disk_use(self):
        """Bytes on disk, in whole pages, of the vulmo package's stages: the
        package file, the archive cut from it, the unpacked files."""
        pages = lambda size: -(-size // 4096) * 4096
        with open(self.packages["vulmo"], "rb") as source:
            data = source.read()
        unpacked = 0
        for root, _, files in os.walk(self.package_src):
            unpacked += sum(pages(os.path.getsize(os.path.join(root, f))) for f in files)
        return {"package": pages(len(data)),
                "archive": pages(len(data) - data.find(SEVEN_ZIP_SIGNATURE)),
                "unpacked": unpacked}

    def _make_stubs(self, payload):
        stub = self.exe("net_installer")
        self.stubs = {
            "unsigned": os.path.join(self.stubs_dir, "unsigned", "net_installer.exe"),
            "signed": os.path.join(self.stubs_dir, "signed", "net_installer.exe"),
            "stamped": os.path.join(self.stubs_dir, "stamped", "net_installer.exe"),
            # The stamped program under another name, for which the prefix
            # reports Windows XP (a per-application Wine version): the
            # thread-locale path of the language switch.
            "stamped_xp": os.path.join(self.stubs_dir, "stamped_xp", XP_STUB_NAME),
        }
        for path in self.stubs.values():
            os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copyfile(stub, self.stubs["unsigned"])
        self.sign(stub, self.stubs["signed"], VULMO_SIGNER)
        payload_file = os.path.join(self.out_dir, "payload.txt")
        with open(payload_file, "wb") as out:
            out.write(payload)
        stamp_payload(self, self.stubs["signed"], self.stubs["stamped"], payload_file)
        shutil.copyfile(self.stubs["stamped"], self.stubs["stamped_xp"])
        # What the program will read: the sample payload plus the stamper's
        # padding spaces.
        stamped = read_payload_block(self.stubs["stamped"])
        if stamped is None or stamped.rstrip(b" ") != payload.rstrip(b" "):
            raise RuntimeError("the stamped stub does not carry the sample payload")
        self.payload = stamped


XP_STUB_NAME = "net_installer_xp.exe"


def stamp_payload(artifacts, source, target, payload_file):
    """Stamps the payload into the signed program's certificate table with
    the native build of tools/payload_stamper (built here when missing)."""
    tool = os.path.join(artifacts.build_dir, "native", "payload_stamper")
    sources = [os.path.join(REPO, "tools", "payload_stamper", name)
               for name in ("payload_stamper.cc", "payload_stamper.h",
                            "payload_stamper_main.cc", "build_native.sh")]
    if not os.path.isfile(tool) or any(os.path.getmtime(s) > os.path.getmtime(tool)
                                       for s in sources):
        run(["bash", os.path.join(REPO, "tools", "payload_stamper", "build_native.sh"), tool],
            timeout=300)
    run([tool, "stamp", source, payload_file, target])


def read_payload_block(path):
    """The payload block at the end of a program file ("VLM", payload,
    32-bit little-endian length), or None."""
    with open(path, "rb") as source:
        data = source.read()
    if len(data) < 7:
        return None
    length = int.from_bytes(data[-4:], "little")
    if length > len(data) - 7:
        return None
    start = len(data) - length - 7
    if data[start:start + 3] != b"VLM":
        return None
    return data[start + 3:start + 3 + length]


def sample_payload():
    """A payload shaped like the one the download service stamps: Base64 of
    64 hex digits, a colon and a JSON description of the download request,
    followed by spaces. Printable ASCII, no zero byte."""
    import base64
    import json
    request = {"country": "NO", "ip": "127.0.0.1", "query": "utm_source=e2e&lang=en",
               "referrer": "https://www.vulmo.com/download", "user_agent": "e2e",
               "id": "e2e-0001", "timestamp": 1411637405, "campaign": "end-to-end"}
    text = json.dumps(request, separators=(",", ":")).encode("ascii")
    digest = hashlib.sha256(text).hexdigest().encode("ascii")
    return base64.b64encode(digest + b":" + text) + b"     "

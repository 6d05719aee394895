#!/usr/bin/env python3
"""Benchmark of Vulmo NetInstaller against the tools users know.

Each pair runs several times in one run, the two sides alternating, and the
table shows medians of the wall time of whole commands, the ratio ours/theirs
and the peak memory of the process. Our side runs under Wine, so the table
also shows Wine's own start-up (a program that does nothing) and, for the
single steps, the time the step took inside the process.

Run it through scripts/bench.sh, which builds the release and enters a
private network namespace with Xvfb first: nothing leaves the machine.
Python 3 standard library only.
"""

import argparse
import json
import os
import platform
import random
import re
import shutil
import socket
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "test", "e2e"))
sys.path.insert(0, os.path.join(REPO, "test", "server"))

from e2e_env import Artifacts, Wine, run_to_end, sha256_file, windows_path  # noqa: E402
from harness import TestServer  # noqa: E402
from run_scenarios import trust_ca  # noqa: E402

MIB = 1 << 20
HOST = "autoupdate.vulmo.com"
# Bump when the generated data changes, so old data is made again.
DATA_VERSION = "1"


def log(message):
    print("[bench] " + message, flush=True)


# --- Measuring ------------------------------------------------------------------

class PeakMemory(threading.Thread):
    """Samples the processes whose command line names |needle| every 20 ms
    and keeps the peak of their summed private (anonymous) memory and of
    their resident set. Under Wine the private figure is what Windows calls
    private bytes: the heap and the stacks, not the mapped files."""

    def __init__(self, needle):
        super().__init__(daemon=True)
        self.needle = needle.encode()
        self.peak_private = 0
        self.peak_resident = 0
        self.done = threading.Event()

    def run(self):
        pids = []
        rescan_at = 0.0
        while not self.done.is_set():
            # Looking through /proc costs more than reading a few status
            # files: once the process is found, only every 200 ms.
            now = time.monotonic()
            if now >= rescan_at:
                pids = self.matching_pids()
                rescan_at = now + (0.2 if pids else 0)
            private = resident = 0
            for pid in pids:
                try:
                    with open("/proc/%s/status" % pid) as status:
                        for line in status:
                            if line.startswith("RssAnon:"):
                                private += int(line.split()[1]) * 1024
                            elif line.startswith("VmRSS:"):
                                resident += int(line.split()[1]) * 1024
                except OSError:
                    continue
            self.peak_private = max(self.peak_private, private)
            self.peak_resident = max(self.peak_resident, resident)
            self.done.wait(0.02)

    def matching_pids(self):
        pids = []
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as cmdline:
                    if self.needle in cmdline.read():
                        pids.append(pid)
            except OSError:
                continue
        return pids


class Result:
    def __init__(self, wall, step=None, private=0, resident=0):
        self.wall = wall
        self.step = step
        self.private = private
        self.resident = resident


def measure(command, env=None, needle=None, timeout=900, prepare=None):
    """Runs |command| once; raises when it fails. |prepare| runs first and
    is not timed (it removes the previous run's output)."""
    if prepare:
        prepare()
    sampler = PeakMemory(needle) if needle else None
    if sampler:
        sampler.start()
    started = time.monotonic()
    code, output = run_to_end(command, timeout, env=env)
    wall = time.monotonic() - started
    if sampler:
        sampler.done.set()
        sampler.join()
    if code != 0:
        raise RuntimeError("failed (%s): %s\n%s" % (code, " ".join(command), output))
    step = re.search(r"step_ms=([0-9.]+)", output)
    return Result(wall, float(step.group(1)) / 1000 if step else None,
                  sampler.peak_private if sampler else 0,
                  sampler.peak_resident if sampler else 0)


def compare(runs, sides):
    """|sides|: list of (name, function returning a Result). Runs each side
    |runs| times, rotating which side goes first, and returns
    {name: [Result, ...]}."""
    results = {name: [] for name, _ in sides}
    for run in range(runs):
        order = sides[run % len(sides):] + sides[:run % len(sides)]
        for name, function in order:
            results[name].append(function())
    return results


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


# --- Data --------------------------------------------------------------------

def random_file(path, size, seed):
    generator = random.Random(seed)
    with open(path, "wb") as out:
        for _ in range(size // MIB):
            out.write(generator.randbytes(MIB))


def text_file(path, size, seed):
    """Text that compresses about as well as program sources and logs."""
    generator = random.Random(seed)
    words = ["".join(generator.choice("abcdefghijklmnopqrstuvwxyz_")
                     for _ in range(generator.randint(2, 10))) for _ in range(4000)]
    written = 0
    with open(path, "w") as out:
        while written < size:
            line = " ".join(generator.choice(words) for _ in range(12)) + "\n"
            out.write(line)
            written += len(line)


def mixed_tree(root, random_mib, text_mib, seed):
    """Files of 8 MiB of random bytes (bin/) and of 4 MiB of text (doc/)."""
    os.makedirs(os.path.join(root, "bin"), exist_ok=True)
    os.makedirs(os.path.join(root, "doc"), exist_ok=True)
    for i in range(random_mib // 8):
        random_file(os.path.join(root, "bin", "blob%03d.dat" % i), 8 * MIB, seed + i)
    for i in range(text_mib // 4):
        text_file(os.path.join(root, "doc", "text%03d.txt" % i), 4 * MIB, seed + 1000 + i)


class Data:
    """Everything the pairs read, made once and kept in |root| (several GB)."""

    def __init__(self, root, artifacts, with_gigabyte):
        self.root = root
        self.artifacts = artifacts
        self.with_gigabyte = with_gigabyte
        self.payload = os.path.join(root, "random-256m.bin")
        self.archive = os.path.join(root, "mixed-solid.7z")
        self.sfx_package = os.path.join(root, "sfx-256m.exe")
        self.package_dir = os.path.join(root, "packages-128m")
        self.gigabyte_dir = os.path.join(root, "packages-1g")

    def path(self, name):
        return os.path.join(self.root, name)

    def make(self):
        """Makes what is missing; data of an older DATA_VERSION is dropped."""
        os.makedirs(self.root, exist_ok=True)
        stamp = self.path("version")
        try:
            with open(stamp) as known:
                current = known.read() == DATA_VERSION
        except OSError:
            current = False
        if not current:
            for name in os.listdir(self.root):
                target = self.path(name)
                shutil.rmtree(target) if os.path.isdir(target) else os.remove(target)
            with open(stamp, "w") as out:
                out.write(DATA_VERSION)
        started = time.monotonic()
        steps = [(self.payload, self._make_payload),
                 (self.archive, self._make_archive),
                 (self.sfx_package, self._make_sfx_package),
                 (self.package_dir, lambda: self._package(
                     self.package_dir, "vulmo_128m.exe", random_mib=120, text_mib=32, seed=200))]
        if self.with_gigabyte:
            steps.append((self.gigabyte_dir, lambda: self._package(
                self.gigabyte_dir, "vulmo_1g.exe", random_mib=960, text_mib=192, seed=300)))
        missing = [(path, make) for path, make in steps if not os.path.exists(path)]
        if not missing:
            return
        log("making the benchmark data in %s (once; a few minutes)" % self.root)
        for path, make in missing:
            make()
        log("data made in %.0f s" % (time.monotonic() - started))

    def _make_payload(self):
        random_file(self.payload + ".tmp", 256 * MIB, 1)
        os.replace(self.payload + ".tmp", self.payload)

    def _make_archive(self):
        tree = self.path("tree-256m")
        shutil.rmtree(tree, ignore_errors=True)
        mixed_tree(tree, 128, 128, 100)
        log("compressing about 256 MiB into one solid LZMA block")
        subprocess.run(["7zz", "a", "-t7z", "-m0=lzma", "-mx=5", "-ms=on", "-bd",
                        "-bso0", "-bsp0", self.archive + ".tmp.7z", "."], cwd=tree, check=True)
        os.replace(self.archive + ".tmp.7z", self.archive)
        shutil.rmtree(tree)

    def _make_sfx_package(self):
        """A self-extractor header, the archive, and random bytes up to 256 MiB."""
        with open(self.sfx_package + ".tmp", "wb") as out:
            for part in (self.artifacts.exe("sfx_stub"), self.archive):
                with open(part, "rb") as source:
                    shutil.copyfileobj(source, out, MIB)
            out.write(random.Random(2).randbytes(256 * MIB - out.tell()))
        os.replace(self.sfx_package + ".tmp", self.sfx_package)

    def _package(self, directory, name, random_mib, text_mib, seed):
        """A signed package made by the maker's package builder, with the
        installer stand-in at its top level."""
        tree = os.path.join(self.root, "tree-" + name)
        shutil.rmtree(tree, ignore_errors=True)
        mixed_tree(tree, random_mib, text_mib, seed)
        shutil.copyfile(self.artifacts.exe("installer_standin"),
                        os.path.join(tree, "installer.exe"))
        building = directory + ".tmp"
        shutil.rmtree(building, ignore_errors=True)
        os.makedirs(building)
        crt, key = self.artifacts.cert("vulmo")
        log("building %s (%d MiB of files)" % (name, random_mib + text_mib))
        # Level 1: the random files make stronger levels slow to build, and
        # unpacking speed hardly depends on the level.
        subprocess.run(["bash", os.path.join(REPO, "tools", "package_builder", "build_package.sh"),
                        tree, os.path.join(building, name), "--stub",
                        self.artifacts.exe("sfx_stub"), "--sign", crt, key, "--level", "1"],
                       check=True, stdout=subprocess.DEVNULL)
        os.replace(building, directory)
        shutil.rmtree(tree)

    def package(self, directory):
        (name,) = [n for n in os.listdir(directory) if n.endswith(".exe")]
        return os.path.join(directory, name)


# --- The pairs -----------------------------------------------------------------

class Bench:
    def __init__(self, args):
        self.args = args
        self.build_dir = os.path.abspath(args.build_dir)
        self.work = os.path.abspath(args.work_dir)
        self.scratch = os.path.join(self.work, "scratch")
        self.artifacts = Artifacts(self.build_dir, os.path.join(self.work, "artifacts"))
        self.data = Data(os.path.join(self.work, "data"), self.artifacts, args.gigabyte)
        self.wine = Wine(os.path.join(self.build_dir, "wineprefix-bench"))
        self.bench_exe = self.artifacts.exe("net_installer_bench")
        self.rows = []     # (pair, side, Result list)
        self.steps = []    # (end-to-end step, median in-process seconds)

    def ours(self, *args, prepare=None):
        """One run of the bench program with |args|."""
        return measure(["wine", self.bench_exe] + list(args), self.wine.env,
                       "net_installer_bench.exe", prepare=prepare)

    def run_pair(self, title, sides):
        log("%s: %d runs per side" % (title, self.args.runs))
        results = compare(self.args.runs, sides)
        for name, _ in sides:
            self.rows.append((title, name, results[name]))

    def fresh_scratch(self):
        shutil.rmtree(self.scratch, ignore_errors=True)
        os.makedirs(self.scratch)

    def wine_start(self):
        self.run_pair("Wine start-up (a program that does nothing)", [
            ("net_installer_bench nothing", lambda: self.ours("nothing")),
            ("true (Linux)", lambda: measure(["true"], needle="true")),
        ])

    def download(self, server, scheme):
        url = server.url("/random-256m.bin", scheme=scheme, host=HOST)
        target = os.path.join(self.scratch, "download.bin")
        curl = ["curl", "-sS", "--fail", "-o", target, url]
        if scheme == "https":
            curl[1:1] = ["--cacert", self.artifacts.tls_ca]
        remove = lambda: os.path.exists(target) and os.remove(target)
        self.run_pair("Download 256 MiB over %s" % scheme.upper(), [
            ("WininetDownloader",
             lambda: self.ours("download", url, windows_path(target), prepare=remove)),
            ("curl -o", lambda: measure(curl, needle="curl", prepare=remove)),
        ])
        if sha256_file(target) != self.payload_digest:
            raise RuntimeError("the downloaded file differs from the served one")

    def wininet_read_size(self, server, scheme):
        """WinINet alone with the downloader's 1 KiB reads and with 64 KiB
        reads: under Wine every plain-HTTP read is a round trip to the
        wineserver, and TLS costs what it costs whatever the read size."""
        url = server.url("/random-256m.bin", scheme=scheme, host=HOST)
        target = os.path.join(self.scratch, "download.bin")
        remove = lambda: os.path.exists(target) and os.remove(target)
        sides = []
        for size in (1024, 65536):
            sides.append(("InternetReadFile of %d KiB" % (size // 1024),
                          lambda size=size: self.ours("wininet-reads", url, windows_path(target),
                                                      str(size), prepare=remove)))
        self.run_pair("WinINet alone, 256 MiB over %s, by read size" % scheme.upper(), sides)

    def checksum(self):
        self.run_pair("Checksum of 256 MiB", [
            ("VerifyChecksum", lambda: self.ours("checksum", windows_path(self.data.payload),
                                                 self.payload_digest)),
            ("sha256sum", lambda: measure(["sha256sum", self.data.payload],
                                          needle="sha256sum")),
        ])

    def extraction(self):
        out = os.path.join(self.scratch, "unpacked")
        remove = lambda: shutil.rmtree(out, ignore_errors=True)
        seven_zip = ["7zz", "x", "-bd", "-bso0", "-bsp0", "-o" + out, self.data.archive]
        self.run_pair("Extraction of a solid LZMA archive (256 MiB unpacked)", [
            ("LzmaUtil", lambda: self.ours("extract", windows_path(self.data.archive),
                                           windows_path(out), prepare=remove)),
            ("7z x -mmt1", lambda: measure(seven_zip[:2] + ["-mmt1"] + seven_zip[2:],
                                           needle="7zz", prepare=remove)),
            ("7z x", lambda: measure(seven_zip, needle="7zz", prepare=remove)),
        ])
        remove()

    def stripping(self):
        target = os.path.join(self.scratch, "stripped.7z")
        remove = lambda: os.path.exists(target) and os.remove(target)
        self.run_pair("SFX stripping of a 256 MiB package", [
            ("StripSfxHeader", lambda: self.ours("strip", windows_path(self.data.sfx_package),
                                                 windows_path(target), prepare=remove)),
            ("cp", lambda: measure(["cp", self.data.sfx_package, target],
                                   needle="cp\0" + self.data.sfx_package, prepare=remove)),
        ])
        remove()

    def installer_run(self, report):
        """One run of the stamped, signed net_installer.exe to the end of the
        installer stand-in it launches."""
        self.wine.clean_work_dir()
        if os.path.exists(report):
            os.remove(report)
        env = dict(self.wine.env)
        env["VULMO_STANDIN_REPORT"] = windows_path(report)
        result = measure(["wine", self.artifacts.stubs["stamped"]], env, "net_installer.exe")
        if not os.path.isfile(report):
            raise RuntimeError("installer.exe was not launched")
        return result

    def end_to_end(self, server):
        package = self.data.package(self.data.package_dir)
        url = server.url("/packages/" + os.path.basename(package), scheme="https", host=HOST)
        report = os.path.join(self.scratch, "standin-report.json")
        target = os.path.join(self.scratch, "package.exe")
        out = os.path.join(self.scratch, "tools-unpacked")

        def tools():
            shutil.rmtree(out, ignore_errors=True)
            if os.path.exists(target):
                os.remove(target)
            script = ("curl -sS --fail --cacert '%s' -o '%s' '%s' && sha256sum '%s' >/dev/null"
                      " && 7zz x -bd -bso0 -bsp0 -o'%s' '%s'"
                      % (self.artifacts.tls_ca, target, url, target, out, target))
            # The three tools run one after the other: the peak is theirs.
            return measure(["sh", "-c", script], needle=self.scratch)

        # The server hashes a package once, at the first exchange: not timed.
        self.warm_up(server)
        size = os.path.getsize(package) // MIB
        self.run_pair("End to end, %d MiB package over HTTPS" % size, [
            ("net_installer.exe", lambda: self.installer_run(report)),
            ("curl + sha256sum + 7z x", tools),
        ])
        shutil.rmtree(out, ignore_errors=True)
        self.end_to_end_steps(package, url)

    def end_to_end_steps(self, package, url):
        """The installation's steps one by one on the same package, each in
        a process of its own: where the end-to-end time goes."""
        target = os.path.join(self.scratch, "package.exe")
        archive = os.path.join(self.scratch, "package.7z")
        out = os.path.join(self.scratch, "unpacked")
        digest = sha256_file(package)
        steps = [
            ("download (HTTPS)", ("download", url, windows_path(target))),
            ("checksum", ("checksum", windows_path(target), digest)),
            ("signature", ("signature", windows_path(target))),
            ("strip", ("strip", windows_path(target), windows_path(archive))),
            ("extract", ("extract", windows_path(archive), windows_path(out))),
        ]
        log("the same package step by step")
        for name, args in steps:
            results = [self.ours(*args) for _ in range(self.args.runs)]
            self.steps.append((name, median(r.step for r in results)))
        shutil.rmtree(out, ignore_errors=True)

    def gigabyte(self):
        """Peak memory while installing a package of about 1 GiB (one run)."""
        package = self.data.package(self.data.gigabyte_dir)
        report = os.path.join(self.scratch, "standin-report.json")
        server = self.package_server(self.data.gigabyte_dir, "server-1g")
        with server:
            self.warm_up(server)
            log("installing the 1 GiB package once, for its peak memory")
            result = self.installer_run(report)
        size = os.path.getsize(package) / MIB
        self.rows.append(("Install of a %.0f MiB package (memory)" % size, "net_installer.exe",
                          [result]))

    def warm_up(self, server):
        subprocess.run(["curl", "-sS", "--fail", "-o", "/dev/null", "--cacert",
                        self.artifacts.tls_ca,
                        server.url("/netinstaller/Stable", scheme="https", host=HOST)],
                       check=True)

    def package_server(self, directory, name):
        return TestServer(os.path.join(self.work, name), https=self.artifacts.tls_dir,
                          http_port=80, https_port=443, package_dirs=[directory])

    def sizes(self):
        program = self.artifacts.exe("net_installer")
        stripped = os.path.join(self.scratch, "net_installer.stripped.exe")
        shutil.copyfile(program, stripped)
        subprocess.run(["x86_64-w64-mingw32-strip", stripped], check=True)
        self.sizes_line = ("net_installer.exe (release): %d bytes; after strip: %d bytes"
                           " (target <= 330,000)" % (os.path.getsize(program),
                                                     os.path.getsize(stripped)))
        # The other builds of the same sources, where scripts/build.sh made them.
        for tree, label in (("cross32", "32-bit, GCC"), ("clang", "64-bit, clang")):
            other = os.path.join(REPO, "build", tree, os.path.relpath(
                program, self.build_dir))
            if os.path.exists(other):
                self.sizes_line += "; %s: %d bytes" % (label, os.path.getsize(other))
        # Where the bytes go, from the program and the linker's map.
        linker_map = os.path.splitext(program)[0] + ".map"
        command = [sys.executable, os.path.join(REPO, "tools", "bench", "size_map.py"),
                   program] + ([linker_map] if os.path.exists(linker_map) else [])
        self.size_map = subprocess.run(command, check=True, capture_output=True,
                                       text=True).stdout.rstrip("\n")

    # --- Whole run ------------------------------------------------------------

    def run(self):
        self.artifacts.build()
        self.data.make()
        self.payload_digest = sha256_file(self.data.payload)
        self.fresh_scratch()
        self.sizes()
        self.wine.ensure_prefix()
        self.wine.stop_server()
        self.wine.start_server()
        try:
            # Wine's background services start with the first program: not
            # in a measured run.
            self.wine.run("cmd", ["/c", "exit"], timeout=120)
            trust_ca(self.wine, self.artifacts, self.artifacts.tls_ca)
            trust_ca(self.wine, self.artifacts, self.artifacts.pki_ca)
            wanted = lambda part: not self.args.only or part in self.args.only
            if wanted("start"):
                self.wine_start()
            if wanted("download") or wanted("wininet"):
                server = TestServer(os.path.join(self.work, "server"),
                                    https=self.artifacts.tls_dir,
                                    script={"routes": {"/random-256m.bin":
                                                       {"body_file": self.data.payload}}})
                with server:
                    for scheme in ("http", "https") if wanted("download") else ():
                        self.download(server, scheme)
                    for scheme in ("http", "https") if wanted("wininet") else ():
                        self.wininet_read_size(server, scheme)
            if wanted("checksum"):
                self.checksum()
            if wanted("extract"):
                self.extraction()
            if wanted("strip"):
                self.stripping()
            if wanted("e2e"):
                with self.package_server(self.data.package_dir, "server-128m") as server:
                    self.end_to_end(server)
            if self.args.gigabyte and wanted("memory"):
                self.gigabyte()
        finally:
            self.wine.stop_server()
            shutil.rmtree(self.scratch, ignore_errors=True)
        return self.report()

    def report(self):
        lines = ["| pair | side | median wall s | in-process s | ours/theirs | "
                 "peak private MiB | peak resident MiB |",
                 "|---|---|---:|---:|---:|---:|---:|"]
        by_pair = {}
        for pair, side, results in self.rows:
            by_pair.setdefault(pair, []).append((side, results))
        for pair, sides in by_pair.items():
            ours_wall = median(r.wall for r in sides[0][1])
            for index, (side, results) in enumerate(sides):
                wall = median(r.wall for r in results)
                step = median(r.step for r in results)
                ratio = "" if index == 0 else "%.2f" % (ours_wall / wall)
                private = max(r.private for r in results) / MIB
                resident = max(r.resident for r in results) / MIB
                lines.append("| %s | %s | %.3f | %s | %s | %s | %s |" % (
                    pair if index == 0 else "", side, wall,
                    "%.3f" % step if step is not None else "", ratio,
                    "%.1f" % private if private else "", "%.1f" % resident if resident else ""))
        if self.steps:
            lines.append("")
            lines.append("The end-to-end package step by step (median in-process seconds): " +
                         ", ".join("%s %.2f" % step for step in self.steps) +
                         "; sum %.2f." % sum(seconds for _, seconds in self.steps))
        lines.append("")
        lines.append(self.sizes_line)
        lines.append("")
        lines.append("```")
        lines.append(self.size_map)
        lines.append("```")
        lines.append("")
        lines.append("Measured %s on %s, %d runs per side (medians; memory: the highest "
                     "peak of the runs)." % (time.strftime("%Y-%m-%d"), machine(),
                                             self.args.runs))
        text = "\n".join(lines)
        print()
        print(text)
        with open(os.path.join(self.work, "results.md"), "w") as out:
            out.write(text + "\n")
        with open(os.path.join(self.work, "results.json"), "w") as out:
            json.dump([{"pair": p, "side": s,
                        "wall": [r.wall for r in rs], "step": [r.step for r in rs],
                        "private": [r.private for r in rs], "resident": [r.resident for r in rs]}
                       for p, s, rs in self.rows], out, indent=1)
        return 0


def machine():
    model = "unknown CPU"
    with open("/proc/cpuinfo") as cpuinfo:
        for line in cpuinfo:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as meminfo:
        memory = int(meminfo.readline().split()[1]) // (1024 * 1024)
    wine = subprocess.run(["wine", "--version"], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL).stdout.decode().strip()
    return "%s, %d cores, %d GiB, Linux %s, %s" % (model, os.cpu_count(), memory,
                                                 platform.release(), wine)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default=os.path.join(REPO, "build", "cross"))
    parser.add_argument("--work-dir", default=os.path.join(REPO, "build", "bench"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--no-gigabyte", dest="gigabyte", action="store_false",
                        help="skip the 1 GiB install (and making its package)")
    parser.add_argument("--only", type=lambda text: text.split(","), default=[],
                        help="comma-separated parts to run: start, download, wininet, "
                             "checksum, extract, strip, e2e, memory (default: all)")
    args = parser.parse_args()
    if not os.environ.get("VULMO_NETNS") or socket.gethostbyname(HOST) != "127.0.0.1":
        print("run_bench.py: run me through scripts/bench.sh (private network namespace)",
              file=sys.stderr)
        return 2
    return Bench(args).run()


if __name__ == "__main__":
    sys.exit(main())

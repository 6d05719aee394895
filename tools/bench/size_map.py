#!/usr/bin/env python3
"""Where the bytes of a Windows program go: a size map.

    size_map.py PROGRAM.exe [LINKER.map] [--top N]

Prints the PE sections (size in the file), the resources by type (and the
icon's images by size and depth), and, from GNU ld's map file of the same
link, the bytes each library brings in and the largest functions and data
(one input section each, as the code is built with -ffunction-sections and
-fdata-sections). Names are demangled with c++filt when it is installed.
"""
import argparse
import collections
import re
import shutil
import struct
import subprocess
import sys

RESOURCE_TYPES = {1: "cursor", 2: "bitmap", 3: "icon", 4: "menu", 5: "dialog",
                  6: "string table", 9: "accelerators", 10: "raw data",
                  12: "cursor group", 14: "icon group", 16: "version",
                  24: "manifest"}


class Pe:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        sections, optional_size = struct.unpack_from("<2xH12xH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + (112 if magic == 0x20B else 96)
        self.resource_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
        self.sections = []
        for i in range(sections):
            at = optional + optional_size + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode("ascii", "replace")
            virtual_size, rva, raw_size, raw_pointer = struct.unpack_from("<4I", data, at + 8)
            self.sections.append((name, virtual_size, rva, raw_size, raw_pointer))

    def offset(self, rva):
        for _, virtual_size, start, raw_size, raw_pointer in self.sections:
            if start <= rva < start + max(virtual_size, raw_size):
                return raw_pointer + rva - start
        raise ValueError("rva %#x outside every section" % rva)

    def resources(self):
        """Yields (type id, name id, language, size, data offset)."""
        if not self.resource_rva:
            return
        root = self.offset(self.resource_rva)

        def entries(directory):
            named, ids = struct.unpack_from("<12xHH", self.data, root + directory)
            for i in range(named + ids):
                key, target = struct.unpack_from("<II", self.data, root + directory + 16 + 8 * i)
                yield key, target

        for type_id, type_dir in entries(0):
            for name_id, name_dir in entries(type_dir & 0x7FFFFFFF):
                for language, leaf in entries(name_dir & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", self.data, root + leaf)
                    yield type_id, name_id, language, size, self.offset(rva)


def icon_images(pe):
    """(width, depth, format, size) of every icon image, from the icon groups."""
    images = {name: (size, at) for kind, name, _, size, at in pe.resources() if kind == 3}
    result = []
    for kind, _, _, size, at in pe.resources():
        if kind != 14:
            continue
        count = struct.unpack_from("<4xH", pe.data, at)[0]
        for i in range(count):
            width, _, _, _, _, depth, _, image_id = struct.unpack_from(
                "<BBBBHHIH", pe.data, at + 6 + 14 * i)
            image_size, image_at = images.get(image_id, (0, 0))
            kind_name = "PNG" if pe.data[image_at:image_at + 4] == b"\x89PNG" else "BMP"
            result.append((width or 256, depth, kind_name, image_size))
    return result


MAP_LINE = re.compile(r"^ (\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")


def map_contributions(path):
    """(input section, size, origin file) of every input section of the map."""
    pending = None
    with open(path, errors="replace") as lines:
        started = False
        for line in lines:
            if not started:
                started = line.startswith("Linker script and memory map")
                continue
            if line.startswith("/DISCARD/"):
                break
            stripped = line.rstrip("\n")
            if re.match(r"^ \S+$", stripped):
                pending = stripped.strip()  # a long name; numbers follow
                continue
            match = MAP_LINE.match(stripped)
            if match:
                name = match.group(1) or pending
                pending = None
                size = int(match.group(3), 16)
                if name and size and int(match.group(2), 16):
                    yield name, size, match.group(4).strip()


def component(origin):
    archive = re.search(r"([^/()]+\.a)\(", origin)
    name = archive.group(1) if archive else origin.rsplit("/", 1)[-1]
    return {"libstdc++.a": "libstdc++", "libgcc.a": "libgcc", "libgcc_eh.a": "libgcc",
            "libmingwex.a": "mingw-w64 C runtime", "libmingw32.a": "mingw-w64 C runtime",
            "libmsvcrt.a": "mingw-w64 C runtime", "libpthread.a": "winpthreads",
            "libwinpthread.a": "winpthreads"}.get(name, name)


def demangle(names):
    tool = shutil.which("c++filt") or shutil.which("x86_64-w64-mingw32-c++filt")
    if not tool or not names:
        return names
    output = subprocess.run([tool], input="\n".join(names), capture_output=True,
                            text=True).stdout.splitlines()
    return output if len(output) == len(names) else names


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("program")
    parser.add_argument("map", nargs="?")
    parser.add_argument("--top", type=int, default=15)
    args = parser.parse_args()

    with open(args.program, "rb") as source:
        data = source.read()
    pe = Pe(data)
    print("size map of %s: %d bytes" % (args.program, len(data)))
    print("  sections (bytes in the file):")
    for name, virtual_size, _, raw_size, _ in pe.sections:
        note = "" if raw_size else " (memory only: %d)" % virtual_size
        print("    %-8s %8d%s" % (name, raw_size, note))

    by_type = collections.Counter()
    counts = collections.Counter()
    languages = set()
    for kind, _, language, size, _ in pe.resources():
        by_type[RESOURCE_TYPES.get(kind, str(kind))] += size
        counts[RESOURCE_TYPES.get(kind, str(kind))] += 1
        if kind == 6:
            languages.add(language)
    print("  resources (bytes of data):")
    for kind, size in by_type.most_common():
        extra = " in %d languages" % len(languages) if kind == "string table" else ""
        print("    %-14s %8d  (%d entries%s)" % (kind, size, counts[kind], extra))
    images = icon_images(pe)
    if images:
        print("    icon images: " + ", ".join(
            "%d px %d-bit %s %d" % image for image in images))

    if not args.map:
        return 0
    per_component = collections.Counter()
    items = []
    for name, size, origin in map_contributions(args.map):
        per_component[component(origin)] += size
        if ("$" in name or "." in name[1:]) and not name.endswith("$zzz"):
            items.append((size, name, component(origin)))
    print("  linked in, by library or object (bytes in memory, all sections):")
    for name, size in per_component.most_common(args.top):
        print("    %-34s %8d" % (name, size))
    items.sort(reverse=True)
    top = items[:args.top]
    names = demangle([re.sub(r"^\.[a-z]+[$.]", "", name) for _, name, _ in top])
    print("  largest functions and data (input sections):")
    for (size, section, origin), name in zip(top, names):
        kind = re.split(r"[$.]", section[1:])[0]
        print("    %7d  %-6s %-70.70s %s" % (size, kind, name, origin))
    return 0


if __name__ == "__main__":
    sys.exit(main())

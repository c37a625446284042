#!/usr/bin/env python3
"""Static check of the product DLLs, as the 32-bit viewer will see them.

For each DLL, named by its file name (Bromvale.dll or Pelko.dll):
  - it is a PE32 image for i386;
  - it exports exactly the host's names, undecorated, each by name;
  - it imports from nothing but KERNEL32.dll and msvcrt.dll;
  - every return of every export removes the export's arguments from the
    stack (ret N, N = 4 x argument count), including returns in split-off
    cold parts and in functions the export tail-jumps into.
With --compile-commands, every object of the build was also compiled for a
caller that aligns the stack to 4 bytes only.

Reads the DLLs through the cross objdump; exits 1 listing every fault.
"""

import argparse
import json
import os
import re
import subprocess
import sys

# The viewer's calling contract: export name -> number of 32-bit arguments.
EXPORTS = {
    "bromvale.dll": {
        "GetPluginInfo": 3,
        "IsSupported": 2,
        "GetArchiveInfo": 4,
        "GetFileInfo": 5,
        "GetFile": 6,
    },
    "pelko.dll": {
        "GetPluginInfo": 3,
        "IsSupported": 2,
        "GetPictureInfo": 4,
        "GetPicture": 7,
        "GetPreview": 7,
    },
}
ALLOWED_IMPORTS = {"kernel32.dll", "msvcrt.dll"}
STACK_FLAG = "-mincoming-stack-boundary=2"

LABEL = re.compile(r"^([0-9a-f]+) <(.+)>:$")
INSTRUCTION = re.compile(r"^\s*([0-9a-f]+):\s+(.*)$")
RETURN = re.compile(r"^(?:(?:rep[a-z]*|bnd|notrack)\s+)*ret[lw]?\b\s*(\S*)")
BRANCH = re.compile(r"^(j[a-z]+|loop[a-z]*)\s+([0-9a-f]+)\b")


def objdump(objdumpPath, *args):
    result = subprocess.run([objdumpPath, *args], capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(f"{objdumpPath} {' '.join(args)}: {result.stderr.strip()}")
    return result.stdout


def parse_headers(text):
    """Image base, exported name -> RVA, forwarded names, EAT size, imported DLLs."""
    imageBase = None
    rvas = []  # Export Address Table, by unbiased ordinal
    names = {}  # name -> unbiased ordinal
    forwarded = []
    imports = []
    section = None
    for line in text.splitlines():
        m = re.match(r"^ImageBase\s+([0-9a-fA-F]+)", line)
        if m:
            imageBase = int(m.group(1), 16)
        m = re.match(r"^\s*DLL Name:\s*(\S+)", line)
        if m:
            imports.append(m.group(1))
        if line.startswith("Export Address Table -- Ordinal Base"):
            section = "eat"
            continue
        if line.startswith("[Ordinal/Name Pointer] Table"):
            section = "names"
            continue
        if not line.strip():
            section = None
            continue
        if section == "eat":
            m = re.match(r"^\s*\[\s*(\d+)\] \+base\[\s*\d+\]\s+([0-9a-f]+) (Export|Forwarder) RVA", line)
            if m:
                rvas.append(int(m.group(2), 16))
                if m.group(3) == "Forwarder":
                    forwarded.append(int(m.group(1)))
        elif section == "names":
            m = re.match(r"^\s*\[\s*(\d+)\] (\S+)$", line)
            if m:
                names[m.group(2)] = int(m.group(1))
    return imageBase, rvas, names, forwarded, imports


def parse_code(text):
    """Labelled regions of the disassembly: start -> (name, [(address, text)])."""
    regions = {}
    current = None
    for line in text.splitlines():
        m = LABEL.match(line)
        if m:
            current = int(m.group(1), 16)
            regions[current] = (m.group(2), [])
            continue
        m = INSTRUCTION.match(line)
        if m and current is not None:
            regions[current][1].append((int(m.group(1), 16), m.group(2).strip()))
    return regions


def returns_of(entry, regions):
    """Every ret reachable from entry without a call: the entry's own region,
    and any region a jump lands in (cold parts, tail calls)."""
    starts = sorted(regions)
    def region_of(address):
        found = None
        for start in starts:
            if start > address:
                break
            found = start
        return found

    pending = [entry]
    seen = set()
    rets = []
    while pending:
        start = pending.pop()
        if start in seen:
            continue
        seen.add(start)
        name, instructions = regions[start]
        for address, text in instructions:
            m = RETURN.match(text)
            if m:
                rets.append((name, address, m.group(1)))
                continue
            m = BRANCH.match(text)
            if m:
                target = region_of(int(m.group(2), 16))
                if target is not None and target != start:
                    pending.append(target)
    return rets


def check_dll(path, objdumpPath):
    faults = []
    contract = EXPORTS.get(os.path.basename(path).lower())
    if contract is None:
        return [f"{path}: not a product DLL name ({', '.join(sorted(EXPORTS))})"]

    try:
        header = objdump(objdumpPath, "-f", path)
    except RuntimeError as error:
        return [f"{path}: not a PE32 i386 image ({error})"]
    if "file format pei-i386" not in header:
        m = re.search(r"file format (\S+)", header)
        return [f"{path}: file format {m.group(1) if m else 'unknown'}, expected pei-i386 (PE32 i386)"]

    imageBase, rvas, names, forwarded, imports = parse_headers(objdump(objdumpPath, "-p", path))
    if imageBase is None:
        return [f"{path}: no ImageBase in the optional header"]

    missing = sorted(set(contract) - set(names))
    extra = sorted(set(names) - set(contract))
    if missing:
        faults.append(f"{path}: missing exports: {', '.join(missing)}")
    if extra:
        faults.append(f"{path}: unexpected exports: {', '.join(extra)}")
    if len(rvas) != len(names):
        faults.append(f"{path}: {len(rvas)} exported addresses but {len(names)} exported names")
    for ordinal in forwarded:
        faults.append(f"{path}: export ordinal {ordinal} is forwarded to another DLL")

    foreign = sorted(name for name in imports if name.lower() not in ALLOWED_IMPORTS)
    if foreign:
        faults.append(f"{path}: imports from {', '.join(foreign)} "
                      f"(only {', '.join(sorted(ALLOWED_IMPORTS))} allowed)")

    regions = parse_code(objdump(objdumpPath, "-d", "--no-show-raw-insn", path))
    for name in sorted(set(contract) & set(names)):
        expected = 4 * contract[name]
        ordinal = names[name]
        if ordinal >= len(rvas) or ordinal in forwarded:
            faults.append(f"{path}: {name}: no code address")
            continue
        entry = imageBase + rvas[ordinal]
        if entry not in regions:
            faults.append(f"{path}: {name}: no symbol at {entry:#x}; the check needs the DLL's symbol table")
            continue
        rets = returns_of(entry, regions)
        if not rets:
            faults.append(f"{path}: {name}: no ret found")
        for where, address, operand in rets:
            removed = int(operand.lstrip("$"), 16) if operand.startswith("$") else 0
            if removed != expected:
                faults.append(f"{path}: {name}: ret {operand or '(no operand)'} at {address:#x} in <{where}> "
                              f"removes {removed} bytes, expected ret $0x{expected:x} ({contract[name]} arguments)")
    return faults


def check_compile_commands(path):
    with open(path) as f:
        commands = json.load(f)
    if not commands:
        return [f"{path}: no compile commands"]
    faults = []
    for entry in commands:
        command = entry.get("command") or " ".join(entry.get("arguments", []))
        if STACK_FLAG not in command.split():
            faults.append(f"{path}: {entry.get('file')} is compiled without {STACK_FLAG}")
    return faults


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("dlls", nargs="+")
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("--compile-commands")
    args = parser.parse_args()

    faults = []
    for dll in args.dlls:
        if not os.path.isfile(dll):
            faults.append(f"{dll}: no such file")
            continue
        try:
            faults += check_dll(dll, args.objdump)
        except (RuntimeError, OSError) as error:
            faults.append(f"{dll}: {error}")
    if args.compile_commands:
        try:
            faults += check_compile_commands(args.compile_commands)
        except (OSError, ValueError) as error:
            faults.append(f"{args.compile_commands}: {error}")

    for fault in faults:
        print(f"FAULT {fault}")
    if faults:
        return 1
    print(f"pe check: {len(args.dlls)} DLL(s) fine")
    return 0


if __name__ == "__main__":
    sys.exit(main())

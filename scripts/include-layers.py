#!/usr/bin/env python3
"""Counts the include structure of sources/: loops among modules, include
arrows that run from a lower layer up to a higher one, and lines per module.

A module is sources/NAME.cpp with sources/NAME.h; an arrow is an #include of
another module's header. Layers, lowest first, are the house's intended
order: a module may include its own layer or lower ones.

    scripts/include-layers.py [SOURCES_DIR] [--list]
"""
import os
import re
import sys

LAYERS = [
    # what everything may use: logging, settings, files, saved-state fields
    ["log", "sys_data", "sys_atomic", "sys_cfg", "state", "sys_event", "mem_block"],
    # storage behind the bus
    ["ram", "rom", "rom_dos"],
    # the chips and devices; none knows another
    ["via_6522", "via_6522_tapein", "ay_8912", "keyboard", "fdc_image", "fdc", "vdc"],
    # the bus, and the processor's trace that reads through it
    ["mem", "cpu_6502_debug"],
    ["cpu_6502"],
    # the step and the event queue, then the wiring diagram, which hands
    # the chips the step's settings
    ["sys_core"],
    ["board"],
    # the host side
    ["sys_state", "sys_file", "sys_file_txt", "sys_shot", "sys_record", "sys_type",
     "dasm_6502", "asm_6502", "sys_debug", "sys_args", "labels", "sys_replay",
     "sys_rewind", "sys_runner"],
    ["sys_sdl", "sys_sdl_audio", "sys_sdl_video", "sys_sdl_console", "sys_sdl_keys",
     "sys_sdl_clip"],
    ["main"],
]
# The emulated machine, where loops are counted.
MACHINE = set(sum(LAYERS[:7], []))


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    listing = "--list" in sys.argv
    src = args[0] if args else os.path.join(os.path.dirname(__file__), "..", "sources")
    layer = {m: i for i, names in enumerate(LAYERS) for m in names}
    modules, lines, edges = set(), {}, set()
    for f in sorted(os.listdir(src)):
        name, ext = os.path.splitext(f)
        if ext not in (".cpp", ".h"):
            continue
        modules.add(name)
        with open(os.path.join(src, f), encoding="utf-8") as fh:
            text = fh.read()
        lines[name] = lines.get(name, 0) + text.count("\n")
        for inc in re.findall(r'^#include "([A-Za-z0-9_]+)\.h"', text, re.M):
            if inc != name:
                edges.add((name, inc))
    unknown = sorted(m for m in modules if m not in layer)
    if unknown:
        print("modules with no layer:", " ".join(unknown))
    up = sorted((a, b) for a, b in edges if layer.get(a, 99) < layer.get(b, 99))
    # Strongly connected components among the machine's modules (Tarjan).
    graph = {m: [b for a, b in edges if a == m and b in MACHINE] for m in MACHINE}
    index, low, stack, on, comps = {}, {}, [], set(), []

    def visit(v, counter=[0]):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on.add(v)
        for w in graph.get(v, []):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            comp = []
            while True:
                w = stack.pop()
                on.discard(w)
                comp.append(w)
                if w == v:
                    break
            if len(comp) > 1:
                comps.append(sorted(comp))

    for m in sorted(MACHINE):
        if m in modules and m not in index:
            visit(m)
    print(f"include arrows: {len(edges)}, upward: {len(up)}")
    print(f"include loops among the machine's modules: {len(comps)}")
    for c in comps:
        print("  loop:", " ".join(c))
    if listing:
        for a, b in up:
            print(f"  up: {a} -> {b}")
        for m in sorted(lines, key=lambda m: (layer.get(m, 99), m)):
            print(f"  {lines[m]:5d}  {m}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

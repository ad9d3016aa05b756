#!/usr/bin/env python3
"""Mutation check of the test suite: changes one token of the core sources at
a time, rebuilds, runs ctest, and counts the mutants the suite kills.

  scripts/mutants.py --build DIR --seed 11 --count 60 [--save list.json]
  scripts/mutants.py --build DIR --replay list.json

DIR is a configured build tree of this checkout (no link-time optimisation,
so a one-file rebuild stays quick). A mutant that does not compile is
counted apart and replaced by the next candidate. --replay runs the mutants
of an earlier list again, found by their line's text, so a score before and
after a change of the tests compares the same faults.
"""
import argparse
import json
import os
import random
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# One token pattern per mutation and what it becomes; binary forms only.
SWAPS = [
    (r"==", "!="), (r"!=", "=="),
    (r"(?<![<>=!])<=", "<"), (r"(?<![<>=!])>=", ">"),
    (r"(?<![<>\-])<(?![<=])", "<="), (r"(?<![<>\-])>(?![>=])", ">="),
    (r"&&", "||"), (r"\|\|", "&&"),
    (r"(?<=[\w)\]] )\+(?=[ (\w])", "-"), (r"(?<=[\w)\]] )-(?=[ (\w])", "+"),
    (r"\+\+", "--"), (r"--", "++"), (r"\+=", "-="), (r"-=", "+="),
    (r"(?<=[\w)\]] )&(?= [\w(])", "|"), (r"(?<=[\w)\]] )\|(?= [\w(])", "&"),
    (r"<<", ">>"), (r">>", "<<"),
    (r"\btrue\b", "false"), (r"\bfalse\b", "true"),
    (r"\breturn 0;", "return 1;"), (r"\breturn 1;", "return 0;"),
    (r"(?<![\w.])(0x[0-9A-Fa-f]+|\d+)(?![\w.])", None),  # constant + 1
]


def core_files():
    out = []
    for name in sorted(os.listdir(os.path.join(ROOT, "sources"))):
        if name.startswith("sys_sdl") or name.startswith("main."):
            continue
        if name.endswith((".cpp", ".h")):
            out.append("sources/" + name)
    return out


def code_part(line):
    """The line without its comment and string literals, or '' for lines a
    mutation should leave alone (preprocessor, asserts, logging)."""
    s = line.strip()
    if not s or s.startswith(("#", "//", "*", "/*", "static_assert", "assert")):
        return ""
    if re.search(r"\blog_\w+\(|\bprintf\(|\bsnprintf\(", s):
        return ""
    line = re.sub(r'"(\\.|[^"\\])*"', lambda m: " " * len(m.group(0)), line)
    line = re.sub(r"'(\\.|[^'\\])'", lambda m: " " * len(m.group(0)), line)
    cut = line.find("//")
    return line if cut < 0 else line[:cut]


def candidates():
    sites = []
    for path in core_files():
        with open(os.path.join(ROOT, path)) as f:
            lines = f.read().split("\n")
        for n, line in enumerate(lines):
            code = code_part(line)
            if not code:
                continue
            for pat, rep in SWAPS:
                for m in re.finditer(pat, code):
                    if rep is None:
                        v = int(m.group(0), 0)
                        new = (hex(v + 1) if m.group(0).lower().startswith("0x") else str(v + 1))
                    else:
                        new = rep
                    sites.append({"file": path, "line": n, "col": m.start(), "old": m.group(0),
                                  "new": new, "text": line})
    return sites


def locate(site):
    """Line index of the site's text in today's file, nearest the old one."""
    with open(os.path.join(ROOT, site["file"])) as f:
        lines = f.read().split("\n")
    hits = [i for i, l in enumerate(lines) if l == site["text"]]
    if not hits:
        return lines, None
    return lines, min(hits, key=lambda i: abs(i - site["line"]))


def run(cmd, cwd, limit):
    try:
        p = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           timeout=limit)
        return p.returncode, p.stdout.decode(errors="replace")
    except subprocess.TimeoutExpired:
        return -1, "timed out"


def try_mutant(site, build, jobs):
    lines, i = locate(site)
    if i is None:
        return "gone"
    path = os.path.join(ROOT, site["file"])
    original = "\n".join(lines)
    line = lines[i]
    c = site["col"]
    if line[c:c + len(site["old"])] != site["old"]:
        return "gone"
    lines[i] = line[:c] + site["new"] + line[c + len(site["old"]):]
    try:
        with open(path, "w") as f:
            f.write("\n".join(lines))
        rc, _ = run(["cmake", "--build", build, "-j", str(jobs)], build, 900)
        if rc != 0:
            return "invalid"
        rc, _ = run(["ctest", "-j", str(jobs), "--stop-on-failure", "--timeout", "120"], build,
                    1800)
        return "survived" if rc == 0 else "killed"
    finally:
        with open(path, "w") as f:
            f.write(original)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("--build", required=True)
    ap.add_argument("--seed", type=int, default=11)
    ap.add_argument("--count", type=int, default=60)
    ap.add_argument("--save")
    ap.add_argument("--replay")
    ap.add_argument("--jobs", type=int, default=2)
    args = ap.parse_args()

    if args.replay:
        with open(args.replay) as f:
            pool = json.load(f)
        want = len(pool)
    else:
        pool = candidates()
        random.Random(args.seed).shuffle(pool)
        want = args.count
    rc, out = run(["cmake", "--build", args.build, "-j", str(args.jobs)], args.build, 1800)
    if rc != 0:
        sys.exit("the unmutated tree does not build:\n" + out[-2000:])
    rc, out = run(["ctest", "-j", str(args.jobs), "--timeout", "120"], args.build, 1800)
    if rc != 0:
        sys.exit("the unmutated suite fails:\n" + out[-2000:])

    tally = {"killed": 0, "survived": 0, "invalid": 0, "gone": 0}
    done = []
    for site in pool:
        if tally["killed"] + tally["survived"] >= want:
            break
        t = time.time()
        result = try_mutant(site, args.build, args.jobs)
        tally[result] += 1
        if result in ("killed", "survived"):
            done.append(site)
        print(f"{result:9} {site['file']}:{site['line'] + 1} '{site['old']}' -> '{site['new']}'"
              f"  ({time.time() - t:.0f} s)", flush=True)
    # Put the tree back in step with the sources.
    run(["cmake", "--build", args.build, "-j", str(args.jobs)], args.build, 1800)
    scored = tally["killed"] + tally["survived"]
    print(f"mutants {scored}: killed {tally['killed']}, survived {tally['survived']}, "
          f"score {100.0 * tally['killed'] / max(scored, 1):.1f} % "
          f"(not compiling {tally['invalid']}, no longer present {tally['gone']})")
    if args.save:
        with open(args.save, "w") as f:
            json.dump(done, f, indent=1)


if __name__ == "__main__":
    main()

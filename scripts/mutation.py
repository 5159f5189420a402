#!/usr/bin/env python3
"""Measures what the test suite catches: plants small faults in src/, one at a time, and runs
the native suite against each.

The faults are a deterministic sample (a seed) of every place in src/*/*.cpp where one of
these small changes can be made:

  compare    a comparison flipped: == and != swapped, < to <=, <= to <, > to >=, >= to >
  arith      + for -, or - for +, between two operands
  constant   a whole-number constant one larger
  boolean    true and false swapped, && and || swapped
  call       a statement that is only a call removed

Each fault is written into a copy of the tree (BUILD/tree), which is built without warnings as
errors (BUILD/build) and tested with ctest, the whole suite, recording every test that fails.
A fault is caught when a test fails or the suite runs past its time limit, survives when the whole suite
passes, and does not count when it does not compile. Results go to BUILD/results.jsonl as they
come, so an interrupted run goes on where it stopped (--resume); the report is printed at the
end and written to BUILD/report.txt.

  scripts/mutation.py [--seed 1] [--count 400] [--build build/mutation] [--list] [--first-failure]
"""

import argparse
import difflib
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

COMPARE = {"==": "!=", "!=": "==", "<": "<=", "<=": "<", ">": ">=", ">=": ">"}
# Binary operators as the formatter writes them: one space on each side.
COMPARE_RE = re.compile(r"(?<=\S )(==|!=|<=|>=|<|>)(?= \S)")
ARITH_RE = re.compile(r"(?<=[\w)\]] )([+-])(?= [\w(])")
CONSTANT_RE = re.compile(r"(?<![\w.'])(\d+)([uUlL]*)(?![\w.'])")
BOOLEAN_RE = re.compile(r"\b(true|false)\b|(&&|\|\|)")
CALL_RE = re.compile(r"^(\s*)((?:[A-Za-z_][\w]*(?:::|\.|->))*[A-Za-z_]\w*\(.*\));\s*$")
KEYWORDS = {"return", "if", "while", "for", "switch", "case", "throw", "delete", "new", "sizeof", "static_assert",
            "co_return", "else", "do", "goto"}


def blank_literals(line, in_block):
    """The line with string and character literals and comments replaced by spaces, so that
    columns stay where they are; and whether a block comment is still open at its end."""
    out = []
    i = 0
    n = len(line)
    while i < n:
        if in_block:
            end = line.find("*/", i)
            if end < 0:
                out.append(" " * (n - i))
                return "".join(out), True
            out.append(" " * (end + 2 - i))
            i = end + 2
            in_block = False
            continue
        c = line[i]
        if line.startswith("//", i):
            out.append(" " * (n - i))
            break
        if line.startswith("/*", i):
            in_block = True
            out.append("  ")
            i += 2
            continue
        if c == 'R' and line.startswith('R"', i):
            # A raw string on one line: R"(...)"
            end = line.find(')"', i)
            end = n if end < 0 else end + 2
            out.append(" " * (end - i))
            i = end
            continue
        if c in "\"'":
            j = i + 1
            while j < n and line[j] != c:
                j += 2 if line[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * (j - i - 2) + (c if j - i >= 2 else ""))
            i = j
            continue
        out.append(c)
        i += 1
    return "".join(out), in_block


def sites_of(path):
    """Every fault that can be planted in one file: (line index, column, kind, old, new)."""
    found = []
    in_block = False
    lines = path.read_text().split("\n")
    for index, raw in enumerate(lines):
        code, in_block = blank_literals(raw, in_block)
        stripped = code.strip()
        if not stripped or stripped.startswith("#"):
            continue
        # Templates and their arguments (std::array<int, 3>, static_cast<T>) are no comparisons.
        for m in COMPARE_RE.finditer(code):
            found.append((index, m.start(1), "compare", m.group(1), COMPARE[m.group(1)]))
        for m in ARITH_RE.finditer(code):
            found.append((index, m.start(1), "arith", m.group(1), "-" if m.group(1) == "+" else "+"))
        if not re.match(r"\s*(case\b|template\b|enum\b|namespace\b)", code):
            for m in CONSTANT_RE.finditer(code):
                value = int(m.group(1))
                found.append((index, m.start(1), "constant", m.group(1), str(value + 1)))
        for m in BOOLEAN_RE.finditer(code):
            old = m.group(0)
            new = {"true": "false", "false": "true", "&&": "||", "||": "&&"}[old]
            found.append((index, m.start(0), "boolean", old, new))
        call = CALL_RE.match(code)
        if call and call.group(2).split("(")[0].split("::")[-1] not in KEYWORDS and "=" not in call.group(2).split("(")[0]:
            body = call.group(2)
            if body.count("(") == body.count(")"):
                found.append((index, len(call.group(1)), "call", raw[len(call.group(1)):].rstrip(), ";"))
    return found


def all_sites(root):
    sites = []
    for path in sorted((root / "src").rglob("*.cpp")):
        relative = path.relative_to(root).as_posix()
        if relative == "src/app/main.cpp":
            continue
        for index, column, kind, old, new in sites_of(path):
            sites.append({"file": relative, "line": index + 1, "column": column, "kind": kind, "old": old,
                          "new": new})
    return sites


def sample(root, seed, count):
    sites = all_sites(root)
    # The first count of one shuffle: a larger sample of the same seed holds the smaller one, so
    # a run can be extended later (--resume).
    order = list(sites)
    random.Random(seed).shuffle(order)
    chosen = [dict(site) for site in order[:count]]
    # Grouped by file, so that a file is rebuilt once for its faults in a row.
    chosen.sort(key=lambda s: (s["file"], s["line"], s["column"], s["kind"]))
    for site in chosen:
        site["id"] = f"{site['file']}:{site['line']}:{site['column']}:{site['kind']}"
    return sites, chosen


def sample_of(rev, tree, seed, count):
    """The sample the tree of commit rev gives, found in `tree`: a fault keeps its id (so that
    results of two suites compare fault by fault) and moves with its line where code above it
    changed. A fault whose line itself changed is left out."""
    staging = tree.parent / "sample-staging"
    shutil.rmtree(staging, ignore_errors=True)
    staging.mkdir(parents=True)
    archive = subprocess.run(["git", "archive", rev, "src"], cwd=ROOT, check=True, capture_output=True).stdout
    subprocess.run(["tar", "-x", "-C", str(staging)], input=archive, check=True)
    _, chosen = sample(staging, seed, count)
    found, gone = [], []
    for site in chosen:
        old_lines = (staging / site["file"]).read_text().split("\n")
        path = tree / site["file"]
        lines = path.read_text().split("\n") if path.exists() else []
        # The old line's place in the new text, where the two texts match around it.
        moved = None
        for a, b, size in difflib.SequenceMatcher(None, old_lines, lines, autojunk=False).get_matching_blocks():
            if a <= site["line"] - 1 < a + size:
                moved = b + site["line"] - a
        if moved is None:
            gone.append(site["id"])
            continue
        site["line"] = moved
        found.append(site)
    shutil.rmtree(staging, ignore_errors=True)
    return found, gone


def apply(text, site):
    lines = text.split("\n")
    line = lines[site["line"] - 1]
    at = site["column"]
    if site["kind"] == "call":
        lines[site["line"] - 1] = line[:at] + ";"
    else:
        assert line[at:at + len(site["old"])] == site["old"], (site, line)
        lines[site["line"] - 1] = line[:at] + site["new"] + line[at + len(site["old"]):]
    return "\n".join(lines)


def sync_tree(tree, ref):
    """Makes the build's copy hold the tracked files of the working tree, or of commit ref,
    rewriting only the files that differ (so that the build stays incremental) and removing
    those the source no longer has."""
    if ref:
        staging = tree.parent / "staging"
        shutil.rmtree(staging, ignore_errors=True)
        staging.mkdir(parents=True)
        archive = subprocess.run(["git", "archive", ref], cwd=ROOT, check=True, capture_output=True).stdout
        subprocess.run(["tar", "-x", "-C", str(staging)], input=archive, check=True)
        names = [p.relative_to(staging).as_posix() for p in staging.rglob("*") if p.is_file()]
        source_root = staging
    else:
        files = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, check=True, capture_output=True).stdout
        names = [name for name in files.decode().split("\0") if name]
        source_root = ROOT
    for name in names:
        source = source_root / name
        target = tree / name
        if not source.is_file():
            continue
        if target.exists() and target.read_bytes() == source.read_bytes():
            continue
        target.parent.mkdir(parents=True, exist_ok=True)
        # A fresh time stamp: the build must see the file as changed even where the copy is
        # older than what was built from a fault in it.
        shutil.copyfile(source, target)
        shutil.copymode(source, target)
    # A file the source no longer has goes from the copy too: a test file left there from an
    # earlier sync would still be globbed into the build.
    wanted = set(names)
    for path in sorted(tree.rglob("*"), reverse=True):
        if path.is_file() and path.relative_to(tree).as_posix() not in wanted:
            path.unlink()
    # The suite's identity: a run is resumed only against the same tests.
    digest = hashlib.sha256()
    for name in sorted(names):
        if name.startswith(("tests/", "fuzz/")):
            digest.update(name.encode() + b"\0" + (source_root / name).read_bytes())
    return digest.hexdigest()[:16]


def run(command, cwd, timeout=None):
    """Runs a command in its own process group; returns (exit code or None on timeout, output)."""
    process = subprocess.Popen(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               start_new_session=True)
    try:
        output, _ = process.communicate(timeout=timeout)
        return process.returncode, output.decode(errors="replace")
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        output, _ = process.communicate()
        return None, output.decode(errors="replace")


def object_code(build, source):
    """The object code built from one source file (every target that compiles it), or None."""
    objects = sorted(build.glob(f"**/CMakeFiles/*/{source}.o"))
    if not objects:
        return None
    digest = hashlib.sha256()
    for path in objects:
        digest.update(path.read_bytes())
    return digest.hexdigest()


def report(results, chosen, seed, suite, out):
    """results: fault id -> {"result": caught, survived or unbuilt, "by": the catching tests}."""
    by_file = {}
    catches = {}  # test -> the faults it catches
    for site in chosen:
        entry = results.get(site["id"])
        if entry is None:
            continue
        counts = by_file.setdefault(site["file"], {"caught": 0, "survived": 0, "unbuilt": 0, "same": 0})
        counts[entry["result"]] += 1
        for test in entry.get("by", "").split():
            catches.setdefault(test, set()).add(site["id"])
    caught = sum(c["caught"] for c in by_file.values())
    survived = sum(c["survived"] for c in by_file.values())
    unbuilt = sum(c["unbuilt"] for c in by_file.values())
    same = sum(c["same"] for c in by_file.values())
    lines = [f"mutation check, seed {seed}, suite {suite}: {len(chosen)} faults sampled, "
             f"{caught + survived + unbuilt + same} tried",
             f"caught {caught} of {caught + survived} that build"
             + (f" ({100.0 * caught / (caught + survived):.1f}%)" if caught + survived else "")
             + f"; {unbuilt} did not build; {same} left the object code as it was", "", "per file (caught/built):"]
    for name in sorted(by_file):
        c = by_file[name]
        lines.append(f"  {name}: {c['caught']}/{c['caught'] + c['survived']}")
    # The tests that alone catch some fault, and how many faults each catches in all.
    alone = {}
    for site in chosen:
        tests = results.get(site["id"], {}).get("by", "").split()
        if len(tests) == 1 and tests[0] != "time" and not results[site["id"]].get("first"):
            alone[tests[0]] = alone.get(tests[0], 0) + 1
    lines += ["", "tests (faults caught alone / caught in all; a run with --first-failure records only the "
              "first catching tests, so neither figure counts its faults in full):"]
    for test in sorted(catches, key=lambda t: (-alone.get(t, 0), -len(catches[t]), t)):
        lines.append(f"  {test}: {alone.get(test, 0)}/{len(catches[test])}")
    lines += ["", "survivors:"]
    for site in chosen:
        if results.get(site["id"], {}).get("result") == "survived":
            shown = site["old"] if site["kind"] != "call" else site["old"][:60]
            lines.append(f"  {site['file']}:{site['line']}: {site['kind']}: {shown} -> {site['new']}")
    text = "\n".join(lines) + "\n"
    out.write_text(text)
    print(text)


def main():
    # Stopped from outside, the fault being tried is taken out of the tree on the way (finally).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    signal.signal(signal.SIGHUP, lambda *_: sys.exit(129))
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=400)
    parser.add_argument("--build", default="build/mutation")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--list", action="store_true", help="print the sample and stop")
    parser.add_argument("--resume", action="store_true", help="keep the results of an earlier run of this sample")
    parser.add_argument("--ref", help="test the tree of this commit instead of the working tree")
    parser.add_argument("--report-only", action="store_true", help="report the results so far and stop")
    parser.add_argument("--sample-of", metavar="REV",
                        help="try the faults that the tree of commit REV samples, each found where its line is now: "
                             "the same faults for two suites when the code changed a little between them")
    parser.add_argument("--only", metavar="ID,ID",
                        help="try only these faults of the sample (their ids, as the results give them)")
    parser.add_argument("--first-failure", action="store_true",
                        help="stop a fault's suite at its first failing test, trying the tests of the fault's own "
                             "folder first: the same score, sooner, "
                             "but only the first catching tests are recorded")
    args = parser.parse_args()

    build_root = (ROOT / args.build).resolve()
    tree = build_root / "tree"
    build = build_root / "build"
    results_path = build_root / "results.jsonl"
    if args.report_only:
        # The sample and the results the run wrote; the tree may hold a fault just now.
        chosen = json.loads((build_root / "sample.json").read_text())
        results = {}
        suite = "?"
        for line in results_path.read_text().splitlines():
            entry = json.loads(line)
            results[entry["id"]] = entry
            suite = entry.get("suite", suite)
        report(results, chosen, args.seed, suite, build_root / "report.txt")
        return 0
    if not args.list:
        build_root.mkdir(parents=True, exist_ok=True)
        suite = sync_tree(tree, args.ref)
    sites, chosen = sample(ROOT if args.list else tree, args.seed, args.count)
    if args.sample_of:
        chosen, gone = sample_of(args.sample_of, ROOT if args.list else tree, args.seed, args.count)
        for name in gone:
            print(f"mutation: {name} of {args.sample_of}'s sample has no line here; left out", flush=True)
    if args.only:
        wanted = set(args.only.split(","))
        chosen = [site for site in chosen if site["id"] in wanted]
    if args.list:
        kinds = {}
        for s in sites:
            kinds[s["kind"]] = kinds.get(s["kind"], 0) + 1
        print(f"{len(sites)} places in src/ ({', '.join(f'{k} {v}' for k, v in sorted(kinds.items()))}); "
              f"seed {args.seed} samples {len(chosen)}:")
        for site in chosen:
            print(f"  {site['id']}: {site['old'][:60]} -> {site['new']}")
        return 0

    (build_root / "sample.json").write_text(json.dumps(chosen))
    # The suite's own build type without debug information, and the fastest linker there is:
    # every fault relinks the program and every test program.
    linker = "lld" if shutil.which("ld.lld") else "gold"
    subprocess.run(["cmake", "-S", str(tree), "-B", str(build), "-G", "Ninja", "-Wno-dev",
                    "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG",
                    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG", f"-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld={linker}",
                    "-DTAPELOOM_WERROR=OFF"], check=True, capture_output=True)
    # The whole suite for every fault, not only up to the first failure: which tests catch
    # which faults shows where tests overlap and which ones nothing else replaces.
    ctest = ["ctest", "-j", str(args.jobs), "--timeout", "120"]
    fault_ctest = ctest + (["--stop-on-failure"] if args.first_failure else [])

    code, output = run(["ninja", "-j", str(args.jobs), "-C", str(build)], ROOT)
    if code != 0:
        sys.exit("mutation: the unchanged tree does not build:\n" + output[-4000:])
    # A fault that leaves its file's object code as it was (code this build leaves out, such as
    # another processor's kernels, or a change the optimiser undoes) is the same program: it is
    # not run, and not counted.
    clean_code = {}
    for site in chosen:
        if site["file"] not in clean_code:
            clean_code[site["file"]] = object_code(build, site["file"])
    started = time.monotonic()
    code, output = run(ctest, build)
    suite_seconds = time.monotonic() - started
    if code != 0:
        sys.exit("mutation: the unchanged suite fails; fix it first:\n" + output[-4000:])
    limit = max(120.0, 3 * suite_seconds)
    # ctest's numbers of the tests of each test program (core_tests, audio_tests, ...).
    listing = json.loads(subprocess.run(["ctest", "--show-only=json-v1"], cwd=build, capture_output=True,
                                        text=True, check=True).stdout)["tests"]
    total = len(listing)
    groups = {}
    for number, test in enumerate(listing, 1):
        groups.setdefault(Path(test.get("command", [""])[0]).name, []).append(number)
    print(f"mutation: the unchanged suite passes in {suite_seconds:.0f} s; a fault's run is stopped after "
          f"{limit:.0f} s", flush=True)

    results = {}
    if args.resume and results_path.exists():
        for line in results_path.read_text().splitlines():
            entry = json.loads(line)
            if entry.get("suite", suite) != suite:
                sys.exit(f"mutation: {results_path} holds results of another suite ({entry['suite']}, now {suite}); "
                         "resume with the --ref it was run on, or move it away")
            results[entry["id"]] = entry
    else:
        results_path.write_text("")

    # Survivors of runs that did not compare object code: the fault is built again, its object alone.
    rechecked = False
    for site in chosen:
        entry = results.get(site["id"])
        if entry is None or entry["result"] != "survived" or entry.get("compared"):
            continue
        path = tree / site["file"]
        original = path.read_text()
        objects = [str(p.relative_to(build)) for p in sorted(build.glob(f"**/CMakeFiles/*/{site['file']}.o"))]
        path.write_text(apply(original, site))
        try:
            code, _ = run(["ninja", "-j", str(args.jobs), "-C", str(build)] + objects, ROOT)
            if code == 0 and clean_code[site["file"]] is not None and object_code(build, site["file"]) == clean_code[site["file"]]:
                entry["result"] = "same"
                print(f"survivor leaves the object code as it was: {site['id']}", flush=True)
        finally:
            path.write_text(original)
        entry["compared"] = True
        rechecked = True
    if rechecked:
        results_path.write_text("".join(json.dumps(entry) + "\n" for entry in results.values()))
        run(["ninja", "-j", str(args.jobs), "-C", str(build)], ROOT)

    for number, site in enumerate(chosen, 1):
        if site["id"] in results:
            continue
        path = tree / site["file"]
        original = path.read_text()
        path.write_text(apply(original, site))
        by = ""
        try:
            code, output = run(["ninja", "-j", str(args.jobs), "-C", str(build)], ROOT)
            if code != 0:
                result = "unbuilt"
            elif clean_code[site["file"]] is not None and object_code(build, site["file"]) == clean_code[site["file"]]:
                result = "same"
            else:
                # The tests of the fault's own folder first: when they catch it, the rest need
                # not run (with --first-failure). The score is the same either way.
                own = groups.get(Path(site["file"]).parts[1] + "_tests", []) if args.first_failure else []
                rest = [n for n in range(1, total + 1) if n not in set(own)]
                code, output = 0, ""
                for part in (own, rest) if own and rest else ([],):
                    selection = ["-I", "0,0,0," + ",".join(map(str, part))] if part else []
                    code, output = run(fault_ctest + selection, build, timeout=limit)
                    if code != 0:
                        break
                result = "survived" if code == 0 else "caught"
                # The tests that caught it, or "time" when the suite ran out of time.
                failed = re.findall(r"^\s*\d+ - (\S+)", output.split("The following tests FAILED:")[-1],
                                    re.MULTILINE) if "The following tests FAILED:" in output else []
                by = " ".join(failed) if failed else ("time" if code is None else "")
        finally:
            path.write_text(original)
        results[site["id"]] = {"id": site["id"], "result": result, "by": by, "suite": suite, "compared": True}
        if args.first_failure and result == "caught":
            results[site["id"]]["first"] = True  # "by" holds only the first catching tests
        with results_path.open("a") as f:
            f.write(json.dumps(results[site["id"]]) + "\n")
        caught_by = f" by {len(by.split())} tests ({by.split()[0]}...)" if by else ""
        print(f"[{number}/{len(chosen)}] {result}{caught_by}: {site['id']}: {site['old'][:50]} -> {site['new']}",
              flush=True)

    # Leave the build as the tree is, for the next run.
    run(["ninja", "-j", str(args.jobs), "-C", str(build)], ROOT)
    report(results, chosen, args.seed, suite, build_root / "report.txt")
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""One-line mutation testing of C++ sources against chosen test targets.

For each mutant the tool patches one line of a source file, rebuilds the given
targets, runs the given ctest regex and records the outcome: caught (the build
works and a test fails), survived (every test passes) or invalid (no build).
The file is restored after every mutant, also on Ctrl-C or SIGTERM.

By default it mutates and builds the work tree itself (build dir: --dir).
With --snapshot REV it works on a copy of commit REV under DIR/src and
builds in DIR/build, so the work tree stays untouched and can be edited
meanwhile; files equal to the copy's are left alone, so a later snapshot
rebuilds only what changed. `--snapshot $(git stash create)` copies the work
tree as it is; --per-file 0 then just builds and tests it. --replay REPORT
runs only the mutants that an earlier report marks caught, to check that they
still are. The report is rewritten after every mutant, so a run cut short
keeps what it found ("done" says how far it got). --matrix runs every test
for each mutant and lists those that failed, so that a case that catches
nothing another case does not catch too can be found.

  nice -n 19 scripts/mutate.py --seed 15 --per-file 10 \\
      --targets spine_tests pd_backend_tests \\
      --json tests/mutation/baseline.json BfTwiceNatAddrPort/TableFront.cpp
"""
import argparse, io, json, os, random, re, signal, subprocess, sys, tarfile, time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SWAPS = [(r" == ", " != "), (r" != ", " == "), (r" < ", " <= "), (r" <= ", " < "),
         (r" > ", " >= "), (r" >= ", " > "), (r" && ", " || "), (r" \|\| ", " && "),
         (r"\btrue\b", "false"), (r"\bfalse\b", "true"), (r" \+ 1\b", " - 1"),
         (r" - 1\b", " + 1"), (r"(?<![\w.'])0(?![\w.'])", "1"), (r"(?<![\w.'])1(?![\w.'])", "0")]
CALL = re.compile(r"^\s*[A-Za-z_][\w:]*(?:(?:\.|->)[A-Za-z_]\w*)*\(.*\);\s*$")
# Not for values that already are the default: such a mutant changes nothing.
RETURN = re.compile(r"^(\s*return )(?!(?:\{\}|nullptr|0|0u|false|\"\");)(.+);\s*$")
STRING = re.compile(r'"(?:\\.|[^"\\])*"')


def code_spans(line):
    """The part of a line that is code: no comment, strings blanked out."""
    if re.match(r"\s*(#|//|\*|/\*|static_assert|assert\()", line):
        return ""
    code = line.split("//", 1)[0]
    return STRING.sub(lambda m: '"' + " " * (len(m.group()) - 2) + '"', code)


def mutants_of(path, lines):
    for no, line in enumerate(lines):
        code = code_spans(line)
        if not code.strip():
            continue
        for pattern, repl in SWAPS:
            for m in re.finditer(pattern, code):
                new = line[:m.start()] + repl + line[m.end():]
                yield dict(file=path, line=no + 1, op=f"{m.group().strip()} -> {repl.strip()}",
                           new=new)
        if r := RETURN.match(line):
            yield dict(file=path, line=no + 1, op="return default", new=r.group(1) + "{};\n")
        if CALL.match(code) and code.count("(") == code.count(")"):
            # An empty block, so that an unbraced if keeps its body.
            yield dict(file=path, line=no + 1, op="drop call",
                       new=line[:len(line) - len(line.lstrip())] + "{}\n")


def choose(files, tree, seed, per_file):
    rng, chosen = random.Random(seed), []
    for f in files:
        lines = (tree / f).read_text().splitlines(keepends=True)
        by_line = {}
        for m in mutants_of(f, lines):
            by_line.setdefault(m["line"], []).append(m)
        picked = rng.sample(sorted(by_line), min(per_file, len(by_line)))
        chosen += [rng.choice(by_line[no]) for no in sorted(picked)]  # one a line
    return chosen


def snapshot(rev, dest):
    """Writes the files of commit REV under dest, touching only those that differ."""
    data = subprocess.run(["git", "-C", ROOT, "archive", rev], check=True,
                          capture_output=True).stdout
    with tarfile.open(fileobj=io.BytesIO(data)) as tar:
        for member in tar.getmembers():
            if member.isfile():
                target, content = dest / member.name, tar.extractfile(member).read()
                if not target.exists() or target.read_bytes() != content:
                    target.parent.mkdir(parents=True, exist_ok=True)
                    target.write_bytes(content)


def tests_of(build, targets):
    """A regex naming every test whose command runs one of the targets."""
    shown = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"], check=True,
                           capture_output=True, text=True).stdout
    names = [t["name"] for t in json.loads(shown)["tests"]
             if Path((t.get("command") or [""])[0]).name in targets]
    return "^(" + "|".join(names) + ")$"


def run(cmd, timeout=None, out=subprocess.DEVNULL):
    """The exit status of cmd (-1 on timeout); its whole process group ends with it."""
    child = subprocess.Popen(cmd, stdout=out, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        return child.wait(timeout)
    except subprocess.TimeoutExpired:
        return -1
    finally:
        try:
            os.killpg(child.pid, signal.SIGKILL)  # also whatever a timed-out test left
        except ProcessLookupError:
            pass
        child.wait()


def failed_tests(ctest_output):
    """The names ctest lists under "The following tests FAILED:"."""
    _, _, tail = ctest_output.partition("The following tests FAILED:")
    return sorted(re.findall(r"^\s*\d+ - (\S+) \(", tail, re.M))


def report_text(report, mutants):
    """The report as JSON with one line a mutant, so that two reports diff line by line."""
    head = json.dumps(report, indent=1)[:-2]
    rows = ",\n".join("  " + json.dumps({**m, "new": m["new"].strip()}) for m in mutants)
    return head + ',\n "mutants": [\n' + rows + "\n ]\n}\n"


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("files", nargs="+", help="sources to mutate, relative to the repository")
    ap.add_argument("--targets", nargs="+", required=True, help="build targets to rebuild")
    ap.add_argument("--tests", help="ctest -R regex to run (default: every test of the targets)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--per-file", type=int, default=10, help="at most this many mutants a file")
    ap.add_argument("--timeout", type=int, default=300, help="seconds for one ctest run")
    ap.add_argument("--snapshot", metavar="REV", help="mutate a copy of commit REV")
    ap.add_argument("--dir", default="build-mut", help="folder of the build and the copy")
    ap.add_argument("--json", required=True, help="where to write the outcomes")
    ap.add_argument("--replay", metavar="REPORT", help="only the mutants REPORT marks caught")
    ap.add_argument("--list", action="store_true", help="only list the mutants")
    ap.add_argument("--matrix", action="store_true",
                    help="run every test for each mutant and record which failed")
    args = ap.parse_args()

    tree = ROOT / args.dir / "src" if args.snapshot else ROOT
    build = ROOT / args.dir / ("build" if args.snapshot else "")
    if args.snapshot:
        args.snapshot = subprocess.run(["git", "-C", ROOT, "rev-parse", "--short", args.snapshot],
                                       check=True, capture_output=True, text=True).stdout.strip()
        snapshot(args.snapshot, tree)
    missing = [f for f in args.files if not (tree / f).is_file()]
    if missing:
        sys.exit(f"mutate.py: no such source file: {', '.join(missing)}")
    mutants = choose(args.files, tree, args.seed, args.per_file)
    if args.replay:
        caught = {(m["file"], m["line"], m["new"]) for m in
                  json.loads(Path(args.replay).read_text())["mutants"] if m["outcome"] == "caught"}
        mutants = [m for m in mutants if (m["file"], m["line"], m["new"].strip()) in caught]
    if args.list:
        for i, m in enumerate(mutants):
            print(f"{i:3} {m['file']}:{m['line']} {m['op']}: {m['new'].strip()}")
        return

    presets = json.loads((ROOT / "CMakePresets.json").read_text())["configurePresets"]
    cache = next(p for p in presets if p["name"] == "default")["cacheVariables"]
    cache = {**cache, "BUILD_BENCHMARKS": "OFF"}
    subprocess.run(["cmake", "-S", tree, "-B", build] + [f"-D{k}={v}" for k, v in cache.items()],
                   check=True, capture_output=True)
    build_cmd = ["cmake", "--build", build, "-j2", "--target", *args.targets]
    if run(build_cmd) != 0:
        sys.exit("mutate.py: the unmutated tree does not build")
    regex = args.tests or tests_of(build, args.targets)
    test_cmd = ["ctest", "--test-dir", build, "-R", regex, "--timeout", str(args.timeout), "-j2"]
    if not args.matrix:
        test_cmd.insert(-3, "--stop-on-failure")
    if run(test_cmd) != 0:
        sys.exit("mutate.py: the unmutated tree does not pass its tests")

    signal.signal(signal.SIGTERM, lambda *_: sys.exit("mutate.py: terminated"))
    counts = {"caught": 0, "survived": 0, "invalid": 0}
    report = {"seed": args.seed, "per_file": args.per_file, "targets": args.targets,
              "tests": args.tests or "every test of the targets", "snapshot": args.snapshot,
              "replay": args.replay, "counts": counts, "done": f"0/{len(mutants)}"}
    Path(args.json).parent.mkdir(parents=True, exist_ok=True)
    Path(args.json).write_text(report_text(report, []))
    for i, m in enumerate(mutants):
        path = tree / m["file"]
        original = path.read_text()
        lines = original.splitlines(keepends=True)
        lines[m["line"] - 1] = m["new"]
        start = time.time()
        try:
            path.write_text("".join(lines))
            if run(build_cmd) != 0:
                m["outcome"] = "invalid"
            else:
                with open(build / "mutant-tests.log", "w+") as log:
                    status = run(test_cmd, args.timeout * 2, log)
                    if args.matrix and status != 0:
                        log.seek(0)
                        m["failed"] = failed_tests(log.read())
                m["outcome"] = "caught" if status != 0 else "survived"
        finally:
            path.write_text(original)
        counts[m["outcome"]] += 1
        report["done"] = f"{i + 1}/{len(mutants)}"
        Path(args.json).write_text(report_text(report, mutants[:i + 1]))
        print(f"[{i + 1}/{len(mutants)}] {m['outcome']:8} {m['file']}:{m['line']} {m['op']}"
              f" ({time.time() - start:.0f} s)", flush=True)
    run(build_cmd)  # leave the build matching the restored sources
    print(" ".join(f"{k} {v}" for k, v in counts.items()))


if __name__ == "__main__":
    main()

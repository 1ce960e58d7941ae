#!/usr/bin/env python3
"""Summarises one bench/results/<stamp>/ folder: every benchmark's minimum and
median over its repetitions goes to summary.txt there, and the figures that
matter most are printed as a short table."""
import json
import pathlib
import statistics
import sys

COUNTERS = ["lib_ns", "raw_ns", "overhead_ns", "ratio", "adds_per_s", "raw_adds_per_s", "worst_add_us",
            "worst_add_one_fill_us", "chip_attach_us",
            "bookkeeping_B_per_entry", "heap_B_per_entry", "keys_shm_B_per_entry",
            "key_manager_open_us", "miss_ns", "objects_ns", "entries_per_s", "parse_ms", "ratio_to_parse"]


def load(folder):
    runs = {}
    context = {}
    for path in sorted(folder.glob("*.json")):
        data = json.loads(path.read_text())
        context = data.get("context", context)
        for b in data["benchmarks"]:
            if b.get("run_type") != "iteration" or b.get("error_occurred"):
                continue
            name = b["run_name"].replace(" ,", ",")
            row = runs.setdefault(name, {"time": [], "unit": b.get("time_unit", "ns")})
            row["time"].append(b["real_time"])
            for c in COUNTERS:
                if c in b:
                    row.setdefault(c, []).append(b[c])
    return runs, context


def fmt(values):
    if not values:
        return "-"
    lo, med = min(values), statistics.median(values)
    return f"{lo:.4g}/{med:.4g}"


def main():
    folder = pathlib.Path(sys.argv[1])
    runs, context = load(folder)
    lines = [f"machine: {context.get('nproc', '?')} cores, {context.get('cpu_model', '?')}",
             "min/median over repetitions"]
    for name, row in runs.items():
        extra = " ".join(f"{c}={fmt(row[c])}" for c in COUNTERS if c in row)
        lines.append(f"{name:60s} {fmt(row['time'])} {row['unit']}  {extra}")
    (folder / "summary.txt").write_text("\n".join(lines) + "\n")

    def pick(name, counter):
        row = runs.get(name)
        return fmt(row.get(counter, []) if counter != "time" else row["time"]) if row else "-"

    table = [
        ("add overhead ns, managers, 64K", "BM_Add<Pd, Managed>/65536", "BM_Add<Bfrt, Managed>/65536", "overhead_ns"),
        ("add overhead ns, bare, 64K", "BM_Add<Pd, Bare>/65536", "BM_Add<Bfrt, Bare>/65536", "overhead_ns"),
        ("modify overhead ns, random, bare, 64K", "BM_Modify<Pd, Bare, false>/65536", "BM_Modify<Bfrt, Bare, false>/65536", "overhead_ns"),
        ("modify overhead ns, random, managers, 64K", "BM_Modify<Pd, Managed, false>/65536", "BM_Modify<Bfrt, Managed, false>/65536", "overhead_ns"),
        ("delete overhead ns, random, managers, 64K", "BM_DeleteRandom<Pd, Managed>/65536", "BM_DeleteRandom<Bfrt, Managed>/65536", "overhead_ns"),
        ("entryByHandle overhead ns, random, 64K", "BM_ReadBack<Pd, Bare, false, false>/65536", "BM_ReadBack<Bfrt, Bare, false, false>/65536", "overhead_ns"),
        ("entry(match) overhead ns, random, 64K", "BM_ReadBack<Pd, Bare, false, true>/65536", "BM_ReadBack<Bfrt, Bare, false, true>/65536", "overhead_ns"),
        ("one cache-missing load ns (yardstick)", "BM_DependentMiss", "BM_DependentMiss", "miss_ns"),
        ("read-back objects ns, made and dropped (yardstick)", "BM_ReadBackObjects", "BM_ReadBackObjects", "objects_ns"),
        ("adds/s with both managers, 64K fill", "BM_Fill<Pd>/65536/iterations:1/manual_time", "BM_Fill<Bfrt>/65536/iterations:1/manual_time", "adds_per_s"),
        ("raw chip adds/s, 64K fill (yardstick)", "BM_Fill<Pd>/65536/iterations:1/manual_time", "BM_Fill<Bfrt>/65536/iterations:1/manual_time", "raw_adds_per_s"),
        ("worst single add us, 64K fill, fastest of 3", "BM_Fill<Pd>/65536/iterations:1/manual_time", "BM_Fill<Bfrt>/65536/iterations:1/manual_time", "worst_add_us"),
        ("worst single add us, 64K fill, one fill", "BM_Fill<Pd>/65536/iterations:1/manual_time", "BM_Fill<Bfrt>/65536/iterations:1/manual_time", "worst_add_one_fill_us"),
        ("bookkeeping B/entry, 64K", "BM_Fill<Pd>/65536/iterations:1/manual_time", "BM_Fill<Bfrt>/65536/iterations:1/manual_time", "bookkeeping_B_per_entry"),
        ("resync ms, 1K", "BM_RestartResync<Pd>/1024/iterations:5/manual_time", "BM_RestartResync<Bfrt>/1024/iterations:5/manual_time", "time"),
        ("resync ms, 16K", "BM_RestartResync<Pd>/16384/iterations:5/manual_time", "BM_RestartResync<Bfrt>/16384/iterations:5/manual_time", "time"),
        ("resync ms, 64K", "BM_RestartResync<Pd>/65536/iterations:5/manual_time", "BM_RestartResync<Bfrt>/65536/iterations:5/manual_time", "time"),
        ("chip attach us, 64K entries", "BM_RestartResync<Pd>/65536/iterations:5/manual_time", "BM_RestartResync<Bfrt>/65536/iterations:5/manual_time", "chip_attach_us"),
        ("key manager open us, 64K capacity", "BM_RestartResync<Pd>/65536/iterations:5/manual_time", "BM_RestartResync<Bfrt>/65536/iterations:5/manual_time", "key_manager_open_us"),
        ("agent program 64K, entries/s", "BM_AgentProgram/pd/65536/iterations:3/manual_time", "BM_AgentProgram/bfrt/65536/iterations:3/manual_time", "entries_per_s"),
        ("agent program 64K, x plain parse", "BM_AgentProgram/pd/65536/iterations:3/manual_time", "BM_AgentProgram/bfrt/65536/iterations:3/manual_time", "ratio_to_parse"),
        ("agent restart ms, 64K installed", "BM_AgentRestart/pd/65536/iterations:3/manual_time", "BM_AgentRestart/bfrt/65536/iterations:3/manual_time", "time"),
    ]
    print(lines[0])
    print(f"{'measure (min/median)':45s} {'PD':>20s} {'BfRt':>20s}")
    for label, pd, bfrt, counter in table:
        print(f"{label:45s} {pick(pd, counter):>20s} {pick(bfrt, counter):>20s}")
    print(f"all rows: {folder / 'summary.txt'}")


main()

#!/usr/bin/env bash
# Builds the performance programs (Release, in build-perf) and measures the updater: Crc16
# against memcpy, phase 4 against its ideal, the waits of the sequence in the Qt event loop,
# start-up to the first paint, CPU while polling with no device, and peak memory of a whole
# 64 MiB update. Prints the machine and ONE table: metric, measured, aim, met?
# Usage: scripts/perf.sh [build-folder]   (a few minutes; runs the program on its own Xvfb,
# answering its boxes with xdotool)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-perf}
export QT_QPA_PLATFORM=offscreen
# The runs reach no bus of the machine's.
export DBUS_SESSION_BUS_ADDRESS=disabled: DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent

echo "== building in $build (Release)" >&2
# The measurements steer the program through its test switches (its own guard name, a fake
# device tree, unattended boxes, the first-paint report): a build with them compiled in.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFWU_TEST_SWITCHES=ON \
  -DFWU_BUILD_BENCHMARKS=ON >/dev/null
ninja -C "$build" -j2 crc_bench phase4_bench timing_fidelity FWUpdater GPlusUSBLibEx >&2
bin=$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The update history and settings of every measured run go into the scratch folder, never into
# the home of whoever measures.
export XDG_STATE_HOME=$work/state XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache

echo "== Crc16 and memcpy" >&2
"$bin/crc_bench" --benchmark_format=json --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true >"$work/crc.json" 2>/dev/null
echo "== phase 4 in the Qt view" >&2
"$bin/phase4_bench" --benchmark_format=json >"$work/phase4.json" 2>/dev/null
echo "== timing of the sequence (about 20 s)" >&2
"$bin/timing_fidelity" 30 15 500 >"$work/timing.txt" 2>/dev/null

echo "== start-up, idle polling and a whole 64 MiB update" >&2
python3 - "$bin" "$work" "$root" <<'PY'
# Process-level measurements of the real FWUpdater, offscreen, with our simulated library.
import json, os, re, signal, subprocess, sys, threading, time

bin_dir, work, root = sys.argv[1:4]
program = os.path.join(bin_dir, "FWUpdater")
results = {}

def environment(folder, scenario_text):
    scenario = os.path.join(folder, "device.scenario")
    with open(scenario, "w") as f:
        f.write(scenario_text)
    sysfs = os.path.join(folder, "sysfs")
    os.makedirs(sysfs, exist_ok=True)
    env = dict(os.environ)
    env.update({
        "QT_QPA_PLATFORM": "xcb",
        "DISPLAY": display,
        "GPLUS_SIM_SCENARIO": scenario,
        "FWU_AUTO_ANSWER_BOXES": "1",
        "FWU_SYSFS_ROOT": sysfs,
        # A guard of our own, so another copy of the program elsewhere does not interfere.
        "FWU_CONNECT_GUARD_NAME": "perf-%d-%d" % (os.getpid(), time.monotonic_ns()),
    })
    return env

def folder_with_image(name, size):
    folder = os.path.join(work, name)
    os.makedirs(folder, exist_ok=True)
    data = bytearray(os.urandom(size)) if size else b""
    with open(os.path.join(folder, "SC5_Firmware_v1.2.bin"), "wb") as f:
        f.write(data)
    return folder

class Child:
    def __init__(self, folder, scenario_text, extra=None):
        env = environment(folder, scenario_text)
        env.update(extra or {})
        self.lines = []
        self.usage = None
        self.launched = time.time()
        self.process = subprocess.Popen([program], cwd=folder, env=env,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE, text=True)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stderr:
            self.lines.append(line.rstrip("\n"))

    # Popen's own poll and wait would reap the child and lose its resource usage, so the
    # child is reaped here, with wait4.
    def alive(self):
        if self.usage is None:
            pid, status, usage = os.wait4(self.process.pid, os.WNOHANG)
            if pid != 0:
                self.usage = usage
        return self.usage is None

    def wait_for(self, pattern, timeout):
        end = time.time() + timeout
        while time.time() < end:
            for line in list(self.lines):
                match = re.search(pattern, line)
                if match:
                    return match
            if not self.alive():
                break
            time.sleep(0.005)
        return None

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.process.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        ticks = int(fields[11]) + int(fields[12])  # utime and stime, fields 14 and 15
        return ticks / os.sysconf("SC_CLK_TCK")

    def finish(self):
        if self.alive():
            self.process.send_signal(signal.SIGTERM)
            deadline = time.time() + 30
            while self.alive() and time.time() < deadline:
                time.sleep(0.02)
            if self.alive():
                self.process.kill()
                _, _, self.usage = os.wait4(self.process.pid, 0)
        self.reader.join(timeout=5)
        return self.usage  # ru_maxrss in KiB

no_device = "list 1\n"

# Every run goes to a private Xvfb display, as on a desktop; the view's boxes are answered there.
display = ":%d" % (90 + os.getpid() % 100)
xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
time.sleep(1.5)

# Start-up: from launch to the first paint of the main window, five times.
folder = folder_with_image("startup", 64 * 1024)
startups = []
for _ in range(5):
    child = Child(folder, no_device, {"FWU_REPORT_FIRST_PAINT": "1"})
    match = child.wait_for(r"FWU first paint: .* \(realtime (\d+\.\d+)\)", 30)
    if match:
        startups.append((float(match.group(1)) - child.launched) * 1000)
    child.finish()
startups.sort()
results["startup_ms"] = startups[len(startups) // 2] if startups else None

# Idle: polling with no device; CPU over 10 s after start-up, and the peak memory.
folder = folder_with_image("idle", 64 * 1024)
child = Child(folder, no_device)
time.sleep(3)
before = child.cpu_seconds()
time.sleep(10)
after = child.cpu_seconds()
usage = child.finish()
results["idle_cpu_percent"] = (after - before) / 10 * 100
results["idle_peak_mib"] = usage.ru_maxrss / 1024

# A whole update of a 64 MiB image (whole blocks, so the device's own checksum confirms). The
# view's boxes need an answer: every box other than the main window is answered with its
# default button (Return), as a user would.
image = 64 * 1024 * 1024
folder = folder_with_image("update", image)
child = Child(folder, "list 1 SCRIBOLANTE-X-1\n", {"FWU_ECHO_UI": "1"})
xdotool = lambda *args: subprocess.run(["xdotool", *args], env=dict(os.environ, DISPLAY=display),
                                       capture_output=True, text=True).stdout.split()
main_window = None
deadline = time.time() + 600
while child.alive() and time.time() < deadline:
    windows = xdotool("search", "--onlyvisible", "--pid", str(child.process.pid))
    if windows and main_window is None:
        main_window = windows[0]
    for window in windows:
        if window != main_window:
            xdotool("windowactivate", "--sync", window)
            xdotool("key", "--clearmodifiers", "Return")
    time.sleep(0.2)
usage = child.finish()
xvfb.terminate()
xvfb.wait()
results["update_completed"] = any("Update Complete." in line for line in child.lines)
results["update_peak_mib"] = usage.ru_maxrss / 1024
results["image_mib"] = image / (1024 * 1024)
results["device_share_mib"] = image / (1024 * 1024)  # the simulated device keeps every block

with open(os.path.join(work, "process.json"), "w") as f:
    json.dump(results, f)
PY

python3 - "$work" <<'PY'
# One table from everything measured above, with the machine it ran on.
import json, os, platform, re, subprocess, sys

work = sys.argv[1]
rows = []

def row(metric, measured, aim, met):
    rows.append((metric, measured, aim, "yes" if met is True else ("no" if met is False else met)))

crc = {b["name"]: b for b in json.load(open(os.path.join(work, "crc.json")))["benchmarks"]
       if b.get("aggregate_name") == "median"}
def gbps(name):
    return crc[name + "_median"]["bytes_per_second"] / 1e9
memcpy, updater, table = gbps("BM_Memcpy"), gbps("BM_Crc16"), gbps("BM_Crc16ByteTable")
row("memcpy, 16 MiB", "%.1f GB/s" % memcpy, "-", "-")
row("Crc16 (slicing-by-8), 16 MiB", "%.2f GB/s (%.1fx byte table)" % (updater, updater / table),
    "faster than byte table", updater > table)
row("Crc16 byte table (before)", "%.2f GB/s" % table, "-", "-")

for b in json.load(open(os.path.join(work, "phase4.json")))["benchmarks"]:
    size = re.search(r"/(\d+)/", b["name"]).group(1)
    row("phase 4, %s MiB: throughput" % size, "%.0f MB/s (%.1f ms, %d runs)" % (
        b["bytes_per_second"] / 1e6, b["phase4_ms"], b["runs"]), "-", "-")
    row("phase 4, %s MiB: time / ideal" % size, "%.2f (ideal %.1f ms)" % (b["ratio"], b["ideal_ms"]),
        "<= 1.10", b["ratio"] <= 1.10)
    row("phase 4, %s MiB: same, device work out" % size, "%.2f (device %.1f ms)" % (
        b["ratio_wo_device"], b["device_ms"]), "<= 1.10", b["ratio_wo_device"] <= 1.10)

aims = {"first_step_100ms": ("first step after 100 ms", 2.0),
        "poll_spacing_1000ms": ("poll spacing 1000 ms", 2.0),
        "phase_handoff_1ms": ("1 ms hand-off between phases", 2.0),
        "worker_handoff_1ms": ("1 ms hand-off between worker runs", 2.0)}
for line in open(os.path.join(work, "timing.txt")):
    fields = dict(item.split("=") for item in line.split()[1:])
    name = line.split()[0]
    if name in aims and "median_error_ms" in fields:
        label, limit = aims[name]
        median = float(fields["median_error_ms"])
        row(label + " (median / worst error, %s)" % fields["samples"],
            "%+.2f / %.2f ms" % (median, float(fields["worst_error_ms"])), "median < 2 ms",
            abs(median) < limit)

p = json.load(open(os.path.join(work, "process.json")))
row("start-up to first paint (median of 5)",
    "%.0f ms" % p["startup_ms"] if p["startup_ms"] is not None else "n/a", "-", "-")
row("CPU while polling, no device, 10 s", "%.3f %% of a core" % p["idle_cpu_percent"], "< 0.5 %",
    p["idle_cpu_percent"] < 0.5)
limit = p["idle_peak_mib"] + 2 * p["image_mib"]
row("peak memory, idle (polling)", "%.1f MiB" % p["idle_peak_mib"], "-", "-")
row("peak memory, 64 MiB update" + ("" if p["update_completed"] else " (NOT COMPLETED)"),
    "%.1f MiB (device holds %.0f MiB)" % (p["update_peak_mib"], p["device_share_mib"]),
    "<= idle + 2 x image = %.0f MiB" % limit,
    p["update_completed"] and p["update_peak_mib"] <= limit)

def cpu_model():
    for line in open("/proc/cpuinfo"):
        if line.startswith("model name"):
            return line.split(":", 1)[1].strip()
    return platform.processor() or "unknown"
compiler = subprocess.run(["c++", "--version"], capture_output=True, text=True).stdout.splitlines()[0]
print("Machine: %s; %d cores; Linux %s; %s; load average at the end %s" % (
    cpu_model(), os.cpu_count(), platform.release(), compiler,
    open("/proc/loadavg").read().split()[0]))
print()
widths = [max(len(r[i]) for r in rows + [("metric", "measured", "aim", "met?")]) for i in range(4)]
def line(cells):
    print("| " + " | ".join(c.ljust(w) for c, w in zip(cells, widths)) + " |")
line(("metric", "measured", "aim", "met?"))
print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
for r in rows:
    line(r)
PY

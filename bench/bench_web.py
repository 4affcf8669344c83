"""(13) lustbus web's trend in a real browser at line rate: eight parameters in the trend,
the simulator on a pseudo-terminal paced at 57600 baud, the page in a headless Debian
chromium, loopback only. Measures, in the browser and from /proc:

  - the samples the page received against what the bare bus delivers (the same eight
    reads by `lustbus watch --interval 0` on the same line right before) and against the
    wire's limit (57600 / 10 bits per character / the bytes of one exchange);
  - the latency from the sample's T (its bus read, on the server) to the page's handler;
  - the page's JS heap (CDP, after a garbage collection) and the server's RSS at the start
    and at the end, and every minute in between (bounded buffers: no growth);
  - the first load of the page (every file but /api/, on the wire and decoded);
  - the server's CPU (user + system, /proc) per sample.

scripts/bench.sh runs it as build/bench/bench/bench_web with the Google Benchmark options
of the others; --benchmark_filter that does not match "WebTrend" skips it. Figures and
how to read them: bench/README.md.
"""

import argparse
import json
import os
import re
import statistics
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "web"))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree

from webharness import Api, Browser, Lustbus, missing_tools  # noqa: E402

NAME = "WebTrend"
# Eight simple parameters of the sample catalogue, one "20" exchange each.
SERIES = ("current_trim", "brake_delay", "speed_setpoint", "control_word",
          "position_target", "encoder_offset", "current_limit", "ramp_time")
BAUD = 57600
BITS_PER_CHARACTER = 10  # start, 7 data bits, parity, stop: the driver's line


def exchange_bytes(lustbus, link):
    """Mean characters on the wire of one read of SERIES (request, reply, closing EOT),
    counted in a traced round: every <XXX> is one control character."""
    r = lustbus.run("watch", *SERIES, *link, "--catalogue", lustbus.catalogue,
                    "--samples", "2", "--interval", "0", "--trace", "--csv")
    numbers = {p["name"]: p["number"] for p in json.load(open(lustbus.catalogue))["parameters"]}
    wanted = {f"{n:04d}" for name, n in numbers.items() if name in SERIES}
    size = lambda text: len(re.sub(r"<[A-Z]+>", "x", text))
    total = count = 0
    exchange = None  # characters so far of an exchange of the series; its reply comes in pieces
    for line in r.stderr.splitlines():
        parts = line.split(" ", 3)
        if parts[0] != "lustbus.trace:" or len(parts) < 4:
            continue
        direction, telegram = parts[2], parts[3]
        request = re.match(r"<EOT>.2(\d{4})<ENQ>$", telegram)
        if direction == ">" and request:
            exchange = size(telegram) if request.group(1) in wanted else None
        elif exchange is None:
            continue
        elif direction == "<":
            exchange += size(telegram)
        elif direction == ">":  # the closing EOT ends it
            total, count, exchange = total + exchange + size(telegram), count + 1, None
    if not count:
        raise SystemExit(f"no traced exchanges of the series: {r.stderr[-500:]}")
    return total / count


def bare_reads_per_second(lustbus, link, seconds):
    """The eight reads round after round without a pause, as fast as the line allows."""
    start = time.monotonic()
    r = lustbus.run("watch", *SERIES, *link, "--catalogue", lustbus.catalogue,
                    "--interval", "0", "--duration", str(seconds), "--csv",
                    timeout=seconds + 30)
    elapsed = time.monotonic() - start
    good = [line for line in r.stdout.splitlines()[1:] if line.endswith(",")]  # no error
    return len(good) / elapsed


def proc_cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def proc_rss_kib(pid):
    for line in open(f"/proc/{pid}/status"):
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def page_heap_kib(browser):
    browser.driver.execute_cdp_cmd("HeapProfiler.collectGarbage", {})
    metrics = browser.driver.execute_cdp_cmd("Performance.getMetrics", {})["metrics"]
    return next(m["value"] for m in metrics if m["name"] == "JSHeapUsedSize") / 1024


def first_load(browser):
    """Bytes of every file the page loaded (the /api/ requests aside), from the browser's
    resource timing: (on the wire with headers, after decompression, {file: wire bytes})."""
    entries = browser.js("""
        return performance.getEntriesByType('navigation')
            .concat(performance.getEntriesByType('resource'))
            .filter(e => !new URL(e.name).pathname.startsWith('/api/'))
            .map(e => [new URL(e.name).pathname, e.transferSize, e.decodedBodySize]);""")
    return (sum(e[1] for e in entries), sum(e[2] for e in entries),
            {e[0]: e[1] for e in entries})


def take_latencies(browser):
    """The latencies the page has gathered since the last call, emptying its array so
    that a long run does not grow the page by what it measures."""
    return browser.js("const p = window.lustbusPage; return p.latencies.splice(0);")


def received(browser):
    return browser.js("return Object.assign({}, window.lustbusPage.received);")


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(len(ordered) * p / 100))] if ordered else None


def run(args):
    lustbus = Lustbus(args.lustbus, args.catalogue)
    with lustbus.simulate("--line-rate") as sim:
        link = sim.link()
        per_exchange = exchange_bytes(lustbus, link)
        limit = BAUD / BITS_PER_CHARACTER / per_exchange
        bare = bare_reads_per_second(lustbus, link, args.bare_seconds)
        with lustbus.web(link) as web, Browser() as browser:
            browser.driver.execute_cdp_cmd("Performance.enable", {})
            browser.open(web.url)
            load = first_load(browser)
            browser.trend(SERIES)
            browser.wait(lambda: all(received(browser).get(n) for n in SERIES),
                         "samples of every series", 30)
            time.sleep(args.warmup)
            api = Api(web.url)
            return measure(args, browser, web, api, bare, limit, per_exchange, load)


def server_reads(api):
    """Requests the server has made on the bus so far (all stations)."""
    status, bus = api.get("/api/bus")
    return sum(s.get("requests", 0) for s in bus.get("stations", [])) if status == 200 else 0


def measure(args, browser, web, api, bare, limit, per_exchange, load):
    browser.js("window.lustbusPage.recordLatency();")
    heap0, rss0 = page_heap_kib(browser), proc_rss_kib(web.pid)
    count0, cpu0, reads0 = sum(received(browser).values()), proc_cpu_seconds(web.pid), \
        server_reads(api)
    start = time.monotonic()
    latencies, memory = [], [(0, heap0, rss0)]
    next_memory = start + 60
    while time.monotonic() - start < args.seconds:
        time.sleep(min(5, max(0.1, args.seconds - (time.monotonic() - start))))
        latencies += take_latencies(browser)
        if time.monotonic() >= next_memory:
            memory.append((round(time.monotonic() - start), page_heap_kib(browser),
                           proc_rss_kib(web.pid)))
            print(f"{NAME} at {memory[-1][0]} s: page heap {memory[-1][1]:.0f} KiB, "
                  f"server RSS {memory[-1][2]} KiB", file=sys.stderr, flush=True)
            next_memory += 60
    elapsed = time.monotonic() - start
    latencies += take_latencies(browser)
    count = sum(received(browser).values()) - count0
    cpu = proc_cpu_seconds(web.pid) - cpu0
    reads = server_reads(api) - reads0
    memory.append((round(elapsed), page_heap_kib(browser), proc_rss_kib(web.pid)))
    return {
        "seconds": round(elapsed, 1),
        "series": len(SERIES),
        "bytes per exchange": round(per_exchange, 2),
        "limit/s": round(limit, 1),
        "bare reads/s": round(bare, 1),
        "server reads/s": round(reads / elapsed, 1),
        "page samples/s": round(count / elapsed, 1),
        "% of bare": round(100 * count / elapsed / bare, 1),
        "% of limit": round(100 * count / elapsed / limit, 1),
        "% of server reads": round(100 * count / reads, 1) if reads else None,
        "latency p50 ms": percentile(latencies, 50),
        "latency p99 ms": percentile(latencies, 99),
        "latency max ms": max(latencies) if latencies else None,
        "latencies": len(latencies),
        "first load bytes on the wire": load[0],
        "first load bytes decoded": load[1],
        "first load files": load[2],
        "server CPU us per sample": round(1e6 * cpu / count, 1) if count else None,
        "server CPU % of a core": round(100 * cpu / elapsed, 1),
        "memory (s, page heap KiB, server RSS KiB)": [(s, round(h), r) for s, h, r in memory],
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--lustbus", required=True)
    parser.add_argument("--catalogue", required=True)
    parser.add_argument("--seconds", type=float, default=60,
                        help="measured time at full rate (600 for the ten-minute run)")
    parser.add_argument("--warmup", type=float, default=5)
    parser.add_argument("--bare-seconds", type=float, default=5)
    parser.add_argument("--benchmark_filter", default="")
    args, _ = parser.parse_known_args()  # the other --benchmark_ options are not ours
    if args.benchmark_filter and not re.search(args.benchmark_filter, NAME):
        return 0
    missing = missing_tools()
    if missing:
        print(f"{NAME}: skipped, it needs {missing} (scripts/install-deps.sh installs them)")
        return 0
    result = run(args)
    for key, value in result.items():
        if key != "first load files":
            print(f"{NAME} {key}: {value}")
    print(json.dumps(result))
    return 0


if __name__ == "__main__":
    sys.exit(main())

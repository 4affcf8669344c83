#!/usr/bin/python3
"""Makes docs/web.png from a real run: lustbus web on a simulator paced at the line's
57600 baud on a pseudo-terminal, as a drive on a real line answers, its trend of three
parameters while this script writes a slow wave into them through the page's
HTTP API, in a headless Debian chromium at 1280x800, loopback only.

    scripts/web-screenshot.py [--lustbus build/qt5/cli/lustbus] [--out docs/web.png]
"""

import argparse
import math
import os
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "web"))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree

from webharness import Api, Browser, Lustbus, missing_tools  # noqa: E402

# name: (middle, amplitude, period in s), inside the catalogue's ranges
WAVES = {"speed_setpoint": (1500, 1200, 6.0), "current_limit": (10.0, 6.0, 4.0),
         "ramp_time": (50.0, 30.0, 9.0)}


def write_waves(api, stop):
    start = time.monotonic()
    while not stop.is_set():
        t = time.monotonic() - start
        for name, (middle, amplitude, period) in WAVES.items():
            value = middle + amplitude * math.sin(2 * math.pi * t / period)
            value = round(value) if name == "speed_setpoint" else round(value, 1)
            api.post("/api/write", {"station": 1, "name": name, "value": value})
        stop.wait(0.1)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--lustbus", default=os.path.join(ROOT, "build/qt5/cli/lustbus"))
    parser.add_argument("--out", default=os.path.join(ROOT, "docs/web.png"))
    parser.add_argument("--seconds", type=float, default=20)
    args = parser.parse_args()
    if missing_tools():
        sys.exit(f"needs {missing_tools()} (scripts/install-deps.sh installs them)")
    lustbus = Lustbus(args.lustbus, os.path.join(ROOT, "catalogues/sample.json"))
    with lustbus.simulate("--line-rate") as sim, \
            lustbus.web(sim.link(), "--writes") as web, Browser() as browser:
        api = Api(web.url)
        api.session()
        browser.open(web.url)
        browser.trend(WAVES)
        stop = threading.Event()
        writer = threading.Thread(target=write_waves, args=(api, stop))
        writer.start()
        try:
            time.sleep(args.seconds)
        finally:
            stop.set()
            writer.join()
        browser.driver.save_screenshot(args.out)
    print(f"{args.out}: {os.path.getsize(args.out)} bytes")


if __name__ == "__main__":
    main()

"""What the browser tests and the benchmark of lustbus web share: the built lustbus
program and its services in processes of their own, a headless Debian chromium driven by
chromedriver, and the page's HTTP API as a script sees it. Everything talks to loopback
only; every process started here is stopped by whoever started it (the `with` blocks).
"""

import http.cookiejar
import json
import os
import re
import shutil
import selectors
import signal
import subprocess
import tempfile
import time
import urllib.error
import urllib.request

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
SKIP = 77  # ctest's SKIP_RETURN_CODE of the browser tests


def missing_tools():
    """The browser parts this machine lacks, as a text for the skip message; empty when
    everything is there."""
    missing = [path for path in (CHROMIUM, CHROMEDRIVER) if not shutil.which(path)]
    try:
        import selenium  # noqa: F401
    except ImportError:
        missing.append("python3-selenium")
    return ", ".join(missing)


def environment():
    """The tests' environment without the LUSTBUS_ variables, so that a user's
    LUSTBUS_PORT cannot change what a test reads."""
    return {k: v for k, v in os.environ.items() if not k.startswith("LUSTBUS_")}


def wait_until(condition, timeout, what):
    """condition()'s first true value; an AssertionError naming what after timeout seconds."""
    end = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(0.05)


class Lustbus:
    """The built program: one-shot commands, and services in processes of their own."""

    def __init__(self, program, catalogue):
        self.program = program
        self.catalogue = catalogue

    def run(self, *args, stdin=None, timeout=30):
        return subprocess.run([self.program, *args], input=stdin, capture_output=True,
                              text=True, timeout=timeout, env=environment())

    def read(self, link, name, station=1):
        """The value of name as `lustbus read --json` decodes it."""
        r = self.run("read", name, "--json", "--catalogue", self.catalogue,
                     "--station", str(station), *link)
        if r.returncode != 0:
            raise AssertionError(f"lustbus read {name}: exit {r.returncode}: {r.stderr}")
        return json.loads(r.stdout)["value"]

    def write(self, link, name, value, station=1):
        r = self.run("write", name, str(value), "--catalogue", self.catalogue,
                     "--station", str(station), *link)
        if r.returncode != 0:
            raise AssertionError(f"lustbus write {name} {value}: {r.stderr}")

    def backup(self, link, station=1):
        r = self.run("backup", "--catalogue", self.catalogue, "--station", str(station), *link)
        if r.returncode != 0:
            raise AssertionError(f"lustbus backup: {r.stderr}")
        return json.loads(r.stdout)

    def add_user(self, users, name, role, password):
        r = self.run("web", "--add-user", name, "--role", role, "--users", users,
                     stdin=password + "\n")
        if r.returncode != 0:
            raise AssertionError(f"lustbus web --add-user {name}: {r.stderr}")

    def simulate(self, *args):
        """`lustbus simulate ARGS` with the catalogue; link() gives its link options."""
        return Service(self, ["simulate", "--catalogue", self.catalogue, *args],
                       r"^listening on (pty|tcp) (\S+)$")

    def web(self, link, *args):
        """`lustbus web` on link (["--sim"], ["--tcp", ...]) with the catalogue, on a free
        loopback port; url is what its first line says."""
        return Service(self, ["web", *link, "--catalogue", self.catalogue,
                              "--listen", "127.0.0.1:0", *args],
                       r"^lustbus web: (https?)://(127\.0\.0\.1:\d+)/$")


class Service:
    """A lustbus service in a process of its own; its first stdout line says where it
    listens. Used as a context manager: the process ends with the block."""

    def __init__(self, lustbus, args, first_line):
        self.args = args
        # stderr to a file: a service that logs much must never block on a full pipe
        self.log = tempfile.TemporaryFile(mode="w+")
        self.process = subprocess.Popen([lustbus.program, *args], stdout=subprocess.PIPE,
                                        stderr=self.log, text=True, env=environment())
        self.stderr = ""
        line = self._first_line()
        match = re.match(first_line, line)
        if not match:
            self.stop()
            raise AssertionError(f"lustbus {' '.join(args)} said {line!r} first; stderr: "
                                 f"{self.stderr}")
        self.kind, self.where = match.group(1), match.group(2)

    def _first_line(self):
        # A service that fails ends at once; one that hangs must not stall the suite.
        with selectors.DefaultSelector() as sel:
            sel.register(self.process.stdout, selectors.EVENT_READ)
            if not sel.select(timeout=20):
                return ""
        return self.process.stdout.readline().strip()

    @property
    def pid(self):
        return self.process.pid

    def link(self):
        """The link options that reach this service."""
        return ["--port", self.where] if self.kind == "pty" else ["--tcp", self.where]

    @property
    def url(self):
        return f"{self.kind}://{self.where}/"

    def stop(self):
        """SIGTERM (a kill after 15 s); the exit code."""
        if self.log.closed:
            return self.process.returncode
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        self.log.seek(0)
        self.stderr = self.log.read()
        self.log.close()
        return self.process.returncode

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


class Api:
    """The page's HTTP API as a script uses it: one session (cookie jar), JSON in and out,
    the anti-CSRF token of the session sent with every POST unless a test says otherwise."""

    def __init__(self, url):
        self.url = url.rstrip("/")
        self.jar = http.cookiejar.CookieJar()
        self.opener = urllib.request.build_opener(urllib.request.HTTPCookieProcessor(self.jar))
        self.csrf = None

    def request(self, method, path, body=None, headers=None, raw=False):
        """(status, headers, JSON or bytes); 4xx and 5xx are answers, not exceptions."""
        data = body if isinstance(body, (bytes, type(None))) else json.dumps(body).encode()
        request = urllib.request.Request(self.url + path, data=data, method=method,
                                         headers=dict(headers or {}))
        if data is not None:
            request.add_header("Content-Type", "application/json")
        try:
            with self.opener.open(request, timeout=30) as response:
                status, head, payload = response.status, response.headers, response.read()
        except urllib.error.HTTPError as error:
            status, head, payload = error.code, error.headers, error.read()
        if raw:
            return status, head, payload
        return status, head, json.loads(payload) if payload else None

    def session(self):
        status, _, body = self.request("GET", "/api/session")
        assert status == 200, f"GET /api/session: {status} {body}"
        self.csrf = body["csrf"]
        return body

    def get(self, path):
        status, _, body = self.request("GET", path)
        return status, body

    def post(self, path, body, csrf=True):
        """csrf: True sends the session's token, None none, a text that text."""
        token = self.csrf if csrf is True else csrf
        headers = {} if token is None else {"X-CSRF-Token": token}
        status, _, answer = self.request("POST", path, body, headers)
        return status, answer

    def login(self, user, password):
        if self.csrf is None:
            self.session()
        status, body = self.post("/api/login", {"user": user, "password": password})
        if status == 200:
            self.csrf = body["csrf"]
        return status, body


class Browser:
    """Headless Debian chromium under chromedriver, kept off every network but loopback:
    host names do not resolve, so only the IP literal of the page is reached."""

    def __init__(self, artifacts=None, downloads=None, size=(1280, 800), performance_log=False):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service as DriverService

        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                         "--disable-dev-shm-usage", f"--window-size={size[0]},{size[1]}",
                         "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
                         "--disable-background-networking", "--disable-component-update",
                         "--disable-sync", "--no-first-run", "--disable-default-apps",
                         "--disable-extensions", "--enable-precise-memory-info"):
            options.add_argument(argument)
        logs = {"browser": "ALL"}
        if performance_log:
            logs["performance"] = "ALL"
        options.set_capability("goog:loggingPrefs", logs)
        if downloads:
            options.add_experimental_option("prefs", {
                "download.default_directory": downloads, "download.prompt_for_download": False})
        self.artifacts = artifacts
        self.driver = webdriver.Chrome(service=DriverService(CHROMEDRIVER), options=options)
        self.driver.set_page_load_timeout(30)
        if downloads:
            self.driver.execute_cdp_cmd("Page.setDownloadBehavior",
                                        {"behavior": "allow", "downloadPath": downloads})

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.driver.quit()

    def screenshot(self, name):
        """NAME.png in the artifacts folder, for a person to look at after the run."""
        if self.artifacts:
            os.makedirs(self.artifacts, exist_ok=True)
            self.driver.save_screenshot(os.path.join(self.artifacts, name + ".png"))

    def severe(self):
        """The console's SEVERE entries since the last call."""
        return [e["message"] for e in self.driver.get_log("browser") if e["level"] == "SEVERE"]

    def requests(self):
        """URLs and methods of the requests the page sent since the last call (needs
        performance_log)."""
        sent = []
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                r = message["params"]["request"]
                sent.append((r["method"], r["url"]))
        return sent

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def css(self, selector):
        from selenium.webdriver.common.by import By
        return self.driver.find_elements(By.CSS_SELECTOR, selector)

    def one(self, selector, timeout=15):
        """The first element selector finds, waiting for it."""
        return wait_until(lambda: (self.css(selector) or [None])[0], timeout, selector)

    def text(self, selector):
        found = self.css(selector)
        return found[0].text if found else None

    def wait(self, condition, what, timeout=20):
        return wait_until(condition, timeout, what)

    def wait_ready(self, timeout=30):
        """Until the page knows its session and its live stream is open."""
        self.wait(lambda: self.js("return !!(window.lustbusPage && window.lustbusPage.ready)"),
                  "the page to be ready", timeout)

    def open(self, url):
        self.driver.get(url)
        self.wait_ready()

    def trend(self, names):
        """The Trend tab with names added to the plot."""
        self.one("#tabs button[data-tab='trend']").click()
        for name in names:
            chip = f"#trend-chosen .chip[data-series='{name}']"
            # On a loaded machine headless Chromium has lost the click on the button
            # once (the name's suggestion list open over the form, it seems): no chip
            # and no message. A refusal says why in the message line and fails at once;
            # a lost click is tried again, as a user would.
            for attempt in (1, 2, 3):
                self.one("#trend-name").clear()
                self.one("#trend-name").send_keys(name)
                before = self.text("#trend-message")
                self.one("#trend-add").click()
                try:
                    wait_until(lambda: self.css(chip)
                               or self.text("#trend-message") not in ("", before), 5,
                               f"the chip of {name}")
                except AssertionError:
                    if attempt == 3:
                        raise
                    continue
                if self.css(chip):
                    break
                raise AssertionError(f"{name} not added: {self.text('#trend-message')}")

"""The page of lustbus web in a real headless chromium, against the built program on the
simulator, loopback only. Each class starts what it needs and stops it again; screenshots
go to the artifacts folder. Run by ctest, one class per test:

    python3 tests/web/test_web_page.py --lustbus build/qt5/cli/lustbus \
        --catalogue catalogues/sample.json --artifacts DIR [CLASS...]

Exits 77 (skipped) when chromium, chromedriver or python3-selenium is missing.
"""

import argparse
import json
import os
import sys
import tempfile
import unittest

from webharness import SKIP, Api, Browser, Lustbus, missing_tools, wait_until

CONFIG = argparse.Namespace(lustbus=None, catalogue=None, artifacts=None)


def number_list(text):
    return [float(part) for part in text.split(",")]


def shown(text, expected):
    """What the page's value text is, in the form of expected (lustbus read's JSON value):
    the page may add a unit after a number."""
    if isinstance(expected, list):
        return number_list(text)
    if isinstance(expected, str):
        return text.strip()
    return float(text.split()[0])


class WebCase(unittest.TestCase):
    """A class's processes: a simulator on TCP when the test needs a second program to see
    the same drive (sim_over_tcp), else lustbus web --sim; web_args as the class says."""

    sim_over_tcp = True
    web_args = ()
    performance_log = False

    @classmethod
    def setUpClass(cls):
        cls.lustbus = Lustbus(CONFIG.lustbus, CONFIG.catalogue)
        cls.tmp = tempfile.TemporaryDirectory(prefix="lustbus-web-test-")
        cls.sim = cls.lustbus.simulate("--tcp", "0") if cls.sim_over_tcp else None
        cls.link = cls.sim.link() if cls.sim else ["--sim"]
        try:
            cls.prepare()
            cls.web = cls.lustbus.web(cls.link, *cls.web_args)
        except BaseException:
            cls.stop_all()
            raise
        cls.browser = None

    @classmethod
    def prepare(cls):
        """What a class sets up before lustbus web starts."""

    @classmethod
    def stop_all(cls):
        """Stops what the class started; the services that did not end cleanly on
        SIGTERM (exit 0: no crash, no sanitizer report), with what they said."""
        unclean = []
        for name in ("browser", "web", "sim"):
            part = getattr(cls, name, None)
            if part is not None:
                part.__exit__(None, None, None)
                setattr(cls, name, None)
                code = getattr(part, "process", None) and part.process.returncode
                if code:
                    unclean.append(f"lustbus {part.args[0]} ended with {code}: "
                                   f"{part.stderr[-3000:]}")
        cls.tmp.cleanup()
        return unclean

    @classmethod
    def tearDownClass(cls):
        unclean = cls.stop_all()
        if unclean:
            raise AssertionError("\n".join(unclean))

    def open_page(self):
        """The browser on the page, once the session is known and the live stream is open;
        its downloads go to self.downloads."""
        if self.browser is None:
            type(self).downloads = os.path.join(self.tmp.name, "downloads")
            type(self).browser = Browser(CONFIG.artifacts, downloads=self.downloads,
                                         performance_log=self.performance_log)
        self.browser.open(self.web.url)
        return self.browser

    def tab(self, name):
        self.browser.one(f"#tabs button[data-tab='{name}']").click()
        self.browser.wait(lambda: self.browser.css(f"#{name}")[0].is_displayed(),
                          f"tab {name} on screen")

    def row_value(self, name):
        """The text of NAME's live value once the page has one."""
        cell = f"#param-table tr[data-name='{name}'] td.value"
        return self.browser.wait(lambda: (self.browser.text(cell) or "").strip(),
                                 f"a live value of {name}")

    def api(self):
        api = Api(self.web.url)
        api.session()
        return api


class PageLoads(WebCase):
    sim_over_tcp = False

    def test_every_part_shows_without_console_errors(self):
        b = self.open_page()
        self.row_value("speed_setpoint")
        self.assertTrue(b.one("#writes-off").is_displayed(), "writes are off: the page says so")
        for name in ("parameters", "trend", "bus", "sets", "trace-tab"):
            with self.subTest(tab=name):
                self.tab(name)
                b.screenshot("tab-" + name)
        b.wait(lambda: "<ENQ>" in (b.text("#trace") or ""), "telegrams in the trace")
        self.tab("bus")
        b.wait(lambda: b.css("#station-table tr[data-station='1']"), "station 1's statistics")
        self.assertEqual(b.severe(), [])


class LiveTable(WebCase):
    # Values the catalogue does not start with, written by another program first, so that
    # the page can only show them by reading the drive.
    CHANGED = {"speed_setpoint": 2345, "current_limit": 7.5, "ramp_time": 3.5,
               "gains[3]": 11}
    NAMES = ("speed_setpoint", "current_limit", "ramp_time", "torque_offset", "drive_name",
             "firmware_version", "gains")

    @classmethod
    def prepare(cls):
        for name, value in cls.CHANGED.items():
            cls.lustbus.write(cls.link, name, value)

    def test_values_match_an_independent_read(self):
        b = self.open_page()
        for name in self.NAMES:
            with self.subTest(name=name):
                expected = self.lustbus.read(self.link, name)
                self.assertEqual(shown(self.row_value(name), expected), expected)
        b.screenshot("live-table")
        self.assertEqual(b.severe(), [])

    def test_a_value_changed_by_another_program_shows_up(self):
        b = self.open_page()
        self.row_value("brake_delay")
        self.lustbus.write(self.link, "brake_delay", 77)
        b.wait(lambda: self.row_value("brake_delay") == "77", "brake_delay to show 77")


class Edit(WebCase):
    web_args = ("--writes",)
    performance_log = True

    def edit(self, name, text):
        """Types text into NAME's value cell and sends it with Enter."""
        from selenium.webdriver.common.keys import Keys
        b = self.browser
        self.row_value(name)
        b.one(f"#param-table tr[data-name='{name}'] td.value[data-editable='true']").click()
        field = b.one(f"#param-table tr[data-name='{name}'] input.edit")
        field.clear()
        field.send_keys(text + Keys.ENTER)

    def outcome(self, name):
        cell = f"#param-table tr[data-name='{name}'] td.result[data-outcome]"
        return self.browser.wait(lambda: (self.browser.css(cell) or [None])[0],
                                 f"the outcome of the write to {name}").get_attribute(
                                     "data-outcome")

    def test_an_edit_reaches_the_drive(self):
        b = self.open_page()
        b.requests()
        self.edit("speed_setpoint", "1500")
        self.assertEqual(self.outcome("speed_setpoint"), "done")
        # What the refusals below count on: a write the page sends shows up here.
        self.assertIn("POST", [m for m, url in b.requests() if url.endswith("/api/write")])
        self.assertEqual(self.lustbus.read(self.link, "speed_setpoint"), 1500)
        b.wait(lambda: self.row_value("speed_setpoint") == "1500", "the value read back")
        b.screenshot("edit-done")
        self.assertEqual(b.severe(), [])

    # Refused in the page: a message, no request, the drive unchanged.
    REFUSED_IN_PAGE = [("speed_setpoint", "5000"), ("current_trim", "-101"),
                       ("current_limit", "20.5"), ("brake_delay", "256"),
                       ("speed_setpoint", "fast")]

    def test_an_out_of_range_edit_is_refused_in_the_page(self):
        b = self.open_page()
        for i, (name, text) in enumerate(self.REFUSED_IN_PAGE):
            with self.subTest(name=name, value=text):
                before = self.lustbus.read(self.link, name)
                b.requests()
                self.edit(name, text)
                # The refusal of this edit, not the one before: it names both.
                b.wait(lambda: any(name in m.text and text in m.text
                                   for m in b.css("#edit-message.error")),
                       f"the page to refuse {name} = {text}")
                sent = [r for r in b.requests() if "/api/write" in r[1]]
                self.assertEqual(sent, [], "nothing sent for a refused edit")
                self.assertEqual(self.lustbus.read(self.link, name), before)
                b.screenshot(f"edit-refused-{i}")
                from selenium.webdriver.common.keys import Keys
                for field in b.css("input.edit"):
                    field.send_keys(Keys.ESCAPE)

    # Sent directly: the server refuses before the bus (422), the drive unchanged.
    REFUSED_BY_SERVER = [("speed_setpoint", 5000), ("speed_setpoint", -3001),
                         ("current_limit", 21.0), ("firmware_version", 1),
                         ("speed_setpoint", "fast"), ("gains", [1, 2])]

    def test_the_server_refuses_what_the_page_would(self):
        api = self.api()
        for name, value in self.REFUSED_BY_SERVER:
            with self.subTest(name=name, value=value):
                before = self.lustbus.read(self.link, name)
                status, body = api.post("/api/write", {"station": 1, "name": name,
                                                       "value": value})
                self.assertEqual(status, 422, body)
                self.assertEqual(body["outcome"], "refused")
                self.assertTrue(body["error"])
                self.assertEqual(self.lustbus.read(self.link, name), before)


class Trend(WebCase):
    sim_over_tcp = False
    SERIES = ("speed_setpoint", "current_limit", "ramp_time")

    def canvas_pixels(self):
        """Pixels of the plot's canvas that are not blank (transparent or white)."""
        return self.browser.js("""
            const c = document.querySelector('#trend-canvas');
            if (!c || !c.width) return 0;
            const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
            let n = 0;
            for (let i = 0; i < d.length; i += 4)
                if (d[i + 3] && (d[i] < 250 || d[i + 1] < 250 || d[i + 2] < 250)) n++;
            return n;""")

    def received(self, name):
        return self.browser.js("return window.lustbusPage.received[arguments[0]] || 0", name)

    def test_the_trend_draws_and_receives_samples(self):
        b = self.open_page()
        self.tab("trend")
        blank = self.canvas_pixels()
        b.trend(self.SERIES)
        for name in self.SERIES:
            with self.subTest(series=name):
                b.wait(lambda: self.received(name) >= 5, f"samples of {name}")
                first = self.received(name)
                b.wait(lambda: self.received(name) > first, f"more samples of {name}")
                b.one(f"#trend-rates tr[data-series='{name}'] td.rate")
        b.wait(lambda: self.canvas_pixels() > blank + 200, "the plot to draw its series")
        b.screenshot("trend")
        self.assertEqual(b.severe(), [])

    # Each line of the time axis' labels as [row, left, right, text] in CSS pixels from
    # the canvas' left edge, from the plot's own ticks and font (it draws on a canvas).
    TIME_LABELS = """
        const u = window.trendPlots.at(-1), axis = u.axes[0];
        const ctx = document.createElement('canvas').getContext('2d');
        ctx.font = axis.font[0];
        const boxes = [];
        axis._splits.forEach((t, i) => {
            const x = u.bbox.left / devicePixelRatio + u.valToPos(t, 'x');
            String(axis._values[i] ?? '').split('\\n').forEach((line, row) => {
                const w = ctx.measureText(line).width / devicePixelRatio;
                if (line) boxes.push([row, x - w / 2, x + w / 2, line]);
            });
        });
        return {boxes, width: u.width};"""

    def test_the_time_labels_never_overlap(self):
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.actions.wheel_input import ScrollOrigin
        over = "#trend-uplot .u-over"
        name = self.SERIES[0]
        for size in ((1280, 800), (420, 800)):
            with Browser(CONFIG.artifacts, size=size) as b:
                b.open(self.web.url)
                # keeps each plot the page makes, to read its axis
                b.js("""const U = window.uPlot; window.trendPlots = [];
                        window.uPlot = function (...a) {
                            const u = new U(...a); window.trendPlots.push(u); return u; };
                        Object.assign(window.uPlot, U);""")
                b.trend([name])
                b.wait(lambda: b.js("return window.lustbusPage.received[arguments[0]] || 0",
                                    name) >= 5, f"samples of {name}")
                # following; then zoomed out by the wheel to minutes, hours and days
                for notches in (0, 12, 12, 12, 12):
                    for _ in range(notches):
                        ActionChains(b.driver).scroll_from_origin(
                            ScrollOrigin.from_element(b.one(over)), 0, 100).perform()
                    span = b.js("const x = window.trendPlots.at(-1).scales.x; return x.max - x.min")
                    with self.subTest(size=size, span_s=round(span / 1000)):
                        labels = b.js(self.TIME_LABELS)
                        boxes = sorted(labels["boxes"])
                        # a narrow plot may have room for one tick only, as the round
                        # times of the moment fall
                        self.assertGreaterEqual(len(boxes), 1, boxes)
                        self.assertGreaterEqual(boxes[0][1], 0, boxes[0])
                        self.assertLessEqual(max(box[2] for box in boxes), labels["width"], boxes)
                        for left, right in zip(boxes, boxes[1:]):
                            if left[0] == right[0]:
                                self.assertGreater(right[1] - left[2], 8, (left, right))
                b.screenshot(f"trend-zoomed-out-{size[0]}")
                self.assertEqual(b.severe(), [])


class Sets(WebCase):
    web_args = ("--writes",)

    def test_the_backup_download_equals_lustbus_backup(self):
        b = self.open_page()
        self.tab("sets")
        b.one("#backup-link").click()
        path = os.path.join(self.downloads, "station1.json")
        wait_until(lambda: os.path.exists(path) and os.path.getsize(path), 30,
                   "the downloaded backup")
        with open(path, encoding="utf-8") as f:
            downloaded = json.load(f)
        saved = self.lustbus.backup(self.link)
        for s in (downloaded, saved):
            self.assertRegex(s.pop("time"), r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
        self.assertEqual(downloaded, saved)

    def preview(self, changed):
        """The page's preview of this drive's backup with the values of changed in it:
        its rows as {name: action}, and the live values of changed before."""
        saved = self.lustbus.backup(self.link)
        for p in saved["parameters"]:
            if p["name"] in changed:
                p["value"] = changed[p["name"]]
        path = os.path.join(self.tmp.name, "edited.json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump(saved, f)
        before = {name: self.lustbus.read(self.link, name) for name in changed}
        b = self.open_page()
        self.tab("sets")
        b.one("#restore-file").send_keys(path)
        b.one("#restore-preview tr[data-name]")
        rows = {tr.get_attribute("data-name"): tr.get_attribute("data-action")
                for tr in b.css("#restore-preview tr[data-name]")}
        return rows, before

    def test_the_restore_preview_lists_the_differences(self):
        changed = {"speed_setpoint": -777, "current_limit": 4.5}
        rows, before = self.preview(changed)
        self.assertEqual({n for n, action in rows.items() if action == "write"}, set(changed))
        self.assertIn("unchanged", rows.values())
        self.browser.screenshot("restore-preview")
        for name, value in before.items():
            self.assertEqual(self.lustbus.read(self.link, name), value,
                             "a preview writes nothing")
        self.assertEqual(self.browser.severe(), [])

    def test_a_confirmed_restore_writes_the_differences(self):
        changed = {"speed_setpoint": 999, "ramp_time": 2.5}
        self.preview(changed)
        b = self.browser
        b.one("#restore-confirm").click()
        for name in changed:
            with self.subTest(name=name):
                cell = f"#restore-preview tr[data-name='{name}'] td.outcome[data-outcome]"
                outcome = b.wait(lambda: b.css(cell), f"the outcome of {name}")[0]
                self.assertEqual(outcome.get_attribute("data-outcome"), "done")
                self.assertEqual(self.lustbus.read(self.link, name), changed[name])
        b.wait(lambda: (b.text("#restore-summary") or "").strip(), "the restore's summary")
        b.screenshot("restore-done")
        self.assertEqual(b.severe(), [])


class Users(WebCase):
    PASSWORDS = {"viewer": "look but do not touch", "operator": "turn the knobs"}

    @classmethod
    def prepare(cls):
        cls.users = os.path.join(cls.tmp.name, "users")
        for role, password in cls.PASSWORDS.items():
            cls.lustbus.add_user(cls.users, "ana" if role == "viewer" else "oto", role, password)
        cls.web_args = ("--writes", "--users", cls.users)

    def log_in(self, user, password):
        b = self.browser
        b.driver.get(self.web.url)
        b.driver.delete_all_cookies()  # a new session: logged out
        b.driver.get(self.web.url)
        b.wait(lambda: b.one("#login-form").is_displayed(), "the login form")
        b.one("#login-user").send_keys(user)
        b.one("#login-password").send_keys(password + "\n")

    def test_a_wrong_password_is_refused_in_the_form(self):
        type(self).browser = self.browser or Browser(CONFIG.artifacts)
        self.log_in("ana", "guess")
        self.browser.wait(lambda: (self.browser.text("#login-error") or "").strip(),
                          "the login error")
        self.browser.screenshot("login-refused")

    def test_a_viewer_cannot_write(self):
        type(self).browser = self.browser or Browser(CONFIG.artifacts)
        b = self.browser
        self.log_in("ana", self.PASSWORDS["viewer"])
        b.wait_ready()
        self.assertEqual(b.text("#role").strip(), "viewer")
        self.row_value("speed_setpoint")
        self.assertEqual(b.css("#param-table td.value[data-editable='true']"), [])
        self.assertTrue(b.text("#edit-note").strip(), "the page says why there are no edits")
        b.screenshot("viewer")

        before = self.lustbus.read(self.link, "speed_setpoint")
        api = Api(self.web.url)
        self.assertEqual(api.login("ana", self.PASSWORDS["viewer"])[0], 200)
        status, body = api.post("/api/write", {"station": 1, "name": "speed_setpoint",
                                               "value": 100})
        self.assertEqual((status, body), (403, {"error": "user ana may not write (viewer)"}))
        self.assertEqual(self.lustbus.read(self.link, "speed_setpoint"), before)

        operator = Api(self.web.url)
        self.assertEqual(operator.login("oto", self.PASSWORDS["operator"])[0], 200)
        status, body = operator.post("/api/write", {"station": 1, "name": "speed_setpoint",
                                                    "value": 100})
        self.assertEqual((status, body["outcome"]), (200, "done"), body)
        self.assertEqual(self.lustbus.read(self.link, "speed_setpoint"), 100)


class AntiCsrf(WebCase):
    web_args = ("--writes",)
    REFUSED = "missing or wrong anti-CSRF token"

    def test_a_post_without_the_token_is_refused(self):
        api, other = self.api(), self.api()
        cases = [("no token", None), ("a wrong token", "0" * 32),
                 ("another session's token", other.csrf), ("an empty token", "")]
        for why, token in cases:
            with self.subTest(why=why):
                before = self.lustbus.read(self.link, "speed_setpoint")
                status, body = api.post("/api/write", {"station": 1, "name": "speed_setpoint",
                                                       "value": before + 1}, csrf=token)
                self.assertEqual((status, body), (403, {"error": self.REFUSED}))
                self.assertEqual(self.lustbus.read(self.link, "speed_setpoint"), before)
        # The same request with the session's own token goes through: the refusals
        # above were the token's.
        status, body = api.post("/api/write", {"station": 1, "name": "speed_setpoint",
                                               "value": 42})
        self.assertEqual((status, body["outcome"]), (200, "done"), body)
        self.assertEqual(self.lustbus.read(self.link, "speed_setpoint"), 42)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--lustbus", required=True)
    parser.add_argument("--catalogue", required=True)
    parser.add_argument("--artifacts")
    args, rest = parser.parse_known_args()
    missing = missing_tools()
    if missing:
        print(f"skipped: the browser tests need {missing} (scripts/install-deps.sh "
              "installs them)")
        return SKIP
    CONFIG.__dict__.update(vars(args))
    program = unittest.main(argv=[sys.argv[0], "-v", *rest], exit=False)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())

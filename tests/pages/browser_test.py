#!/usr/bin/env python3
"""The logbook's pages in a real browser.

Writes synthetic flights with known truth, scans them into a fresh logbook,
writes its pages, and opens them in Debian's chromium, headless, driven
through the DevTools protocol over a pipe (--remote-debugging-pipe: fd 3 to
the browser, fd 4 from it, NUL-delimited JSON). Standard library only.

    browser_test.py --logbook BIN --flights BIN [--screenshots DIR]

With --screenshots it also saves the flight page and the index at desktop
and phone widths. It prints the ten-hour flight's timings; they are figures
for the docs, not pass marks.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

ARGS = None

CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--remote-debugging-pipe",
]


class Browser:
    """One headless chromium, one tab, spoken to through the pipe."""

    def __init__(self, profile):
        exe = shutil.which("chromium") or shutil.which("chromium-browser")
        if exe is None:
            raise RuntimeError("chromium is not installed: run scripts/install-deps")
        to_browser_r, self.to_browser = os.pipe()
        self.from_browser, from_browser_w = os.pipe()

        def wire():
            os.dup2(to_browser_r, 3)
            os.dup2(from_browser_w, 4)

        self.process = subprocess.Popen(
            [exe, *CHROMIUM_FLAGS, f"--user-data-dir={profile}", "about:blank"],
            pass_fds=(3, 4), preexec_fn=wire, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser_r)
        os.close(from_browser_w)
        self.next_id = 0
        self.buffer = b""
        self.events = []
        target = self.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        self.session = self.call("Target.attachToTarget",
                                 {"targetId": target, "flatten": True})["sessionId"]
        for domain in ("Page", "Runtime", "Log", "Network"):
            self.send(f"{domain}.enable")

    def close(self):
        try:
            self.call("Browser.close")
        except (OSError, RuntimeError):
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self.to_browser)
        os.close(self.from_browser)

    def _read_message(self, timeout):
        deadline = time.monotonic() + timeout
        while b"\0" not in self.buffer:
            if time.monotonic() > deadline:
                raise RuntimeError("chromium did not answer in time")
            chunk = os.read(self.from_browser, 1 << 20)
            if not chunk:
                raise RuntimeError("chromium closed its pipe")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, params=None, session=None, timeout=60):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        while True:
            reply = self._read_message(timeout)
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply.get("result", {})
            if "method" in reply:
                self.events.append(reply)

    def send(self, method, params=None, timeout=60):
        return self.call(method, params, self.session, timeout)

    def wait_event(self, method, timeout=60):
        deadline = time.monotonic() + timeout
        while True:
            for i, event in enumerate(self.events):
                if event["method"] == method:
                    return self.events.pop(i)
            if time.monotonic() > deadline:
                raise RuntimeError(f"no {method}")
            self.events.append(self._read_message(deadline - time.monotonic()))

    def size(self, width, height, mobile=False):
        self.send("Emulation.setDeviceMetricsOverride",
                  {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": mobile})

    def open(self, path):
        """Loads a page; returns the seconds until its script said ready."""
        self.events.clear()
        start = time.monotonic()
        self.send("Page.navigate", {"url": "file://" + path})
        self.wait_event("Page.loadEventFired")
        self.eval("new Promise(r => { const f = () => document.body.dataset.ready ? r(1) : setTimeout(f, 5); f(); })")
        return time.monotonic() - start

    def eval(self, expression):
        result = self.send("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                                "awaitPromise": True})
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def problems(self):
        """Console errors, uncaught exceptions, CSP reports and any request
        for something other than the page's own file."""
        found = []
        for event in self.events:
            method, params = event["method"], event.get("params", {})
            if method == "Runtime.exceptionThrown":
                found.append(params["exceptionDetails"].get("text"))
            elif method == "Runtime.consoleAPICalled" and params["type"] in ("error", "warning"):
                found.append(f"console {params['type']}: {params['args']}")
            elif method == "Log.entryAdded" and params["entry"]["level"] in ("error", "warning"):
                found.append(f"log: {params['entry']['text']}")
            elif method == "Network.requestWillBeSent":
                url = params["request"]["url"]
                if not url.startswith("file://") and not url.startswith("data:"):
                    found.append(f"request: {url}")
        return found

    def mouse(self, kind, x, y, buttons=0):
        self.send("Input.dispatchMouseEvent",
                  {"type": kind, "x": x, "y": y, "button": "left" if buttons else "none",
                   "buttons": buttons, "clickCount": 1 if kind != "mouseMoved" else 0})

    def key(self, key, code, keycode):
        for kind in ("keyDown", "keyUp"):
            self.send("Input.dispatchKeyEvent",
                      {"type": kind, "key": key, "code": code, "windowsVirtualKeyCode": keycode})

    def screenshot(self, path, width, mobile):
        self.size(width, 900, mobile)
        self.eval("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")
        height = self.eval("document.documentElement.scrollHeight")
        self.size(width, min(height, 2400), mobile)
        self.eval("window.dispatchEvent(new Event('resize')); "
                  "new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")
        data = self.send("Page.captureScreenshot", {"format": "png"})["data"]
        import base64
        with open(path, "wb") as out:
            out.write(base64.b64decode(data))


def run(*command, **kwargs):
    done = subprocess.run(command, capture_output=True, text=True, env={**os.environ, "TZ": "UTC"},
                          **kwargs)
    if done.returncode != 0:
        raise RuntimeError(f"{command}: {done.returncode}\n{done.stderr}")
    return done.stdout


# The same reading of a JSON value that the page's K.shown applies.
def shown(value):
    if value is None or value == "":
        return "\u2014"
    if value is True:
        return "yes"
    if value is False:
        return "no"
    if isinstance(value, float) and value.is_integer():
        return str(int(value))
    return str(value)


class PagesInBrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="kestrun-pages-")
        cls.truth = json.loads(run(ARGS.flights, cls.dir))
        with open(os.path.join(cls.dir, "airports.csv"), "w") as out:
            out.write("ident,latitude,longitude,elevation_ft\nKTST,47.0,8.0,328\n")
        cls.db = os.path.join(cls.dir, "logbook.sqlite")
        cls.logbook("scan", "--date", "2024-06-03", "--airports",
                    os.path.join(cls.dir, "airports.csv"), os.path.join(cls.dir, "day.dat"),
                    os.path.join(cls.dir, "long.dat"))
        cls.pages = os.path.join(cls.dir, "pages")
        cls.logbook("html", "--output", cls.pages)
        cls.flights = json.loads(cls.logbook("list", "--format", "json"))
        cls.browser = Browser(os.path.join(cls.dir, "profile"))
        cls.browser.size(1280, 900)

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()
        shutil.rmtree(cls.dir, ignore_errors=True)

    @classmethod
    def logbook(cls, *args):
        return run(ARGS.logbook, "--db", cls.db, *args)

    def show(self, flight_id):
        return json.loads(self.logbook("show", str(flight_id), "--format", "json"))

    def open(self, name):
        seconds = self.browser.open(os.path.join(self.pages, name))
        self.assertEqual(self.browser.problems(), [], name)
        return seconds

    def test_flight_page_figures_equal_the_logbook_json(self):
        for flight in self.flights:
            show = self.show(flight["id"])
            self.open(f"flight-{flight['id']}.html")
            # Each figure with the path of the object it belongs to.
            figures = self.browser.eval("""[...document.querySelectorAll('[data-key]')].map(e => {
                const holder = e.closest('[data-path]');
                return [holder ? holder.dataset.path : '', e.dataset.key, e.textContent]; })""")
            keys = {key for path, key, _ in figures if path == ""}
            self.assertLessEqual({"date", "takeoff", "landing", "air_time_s", "distance_nm",
                                  "max_altitude_ft", "max_ias_kt", "touchdown_fpm"}, keys)
            for path, key, text in figures:
                value = show
                for part in filter(None, path.split(".")):
                    value = value[int(part)] if isinstance(value, list) else value[part]
                self.assertEqual(text, shown(value[key] if key in value else None),
                                 f"flight {flight['id']} {path}.{key}")
            if "landings" not in show:
                self.assertIn("not analysed", self.browser.eval("document.getElementById('landing').textContent"))

    def test_cursor_reads_every_value_at_the_touchdown_second(self):
        truth = self.truth["day_touchdown"]
        landing = f"{truth // 3600:02}:{truth // 60 % 60:02}:{truth % 60:02}"
        flight = next(f for f in self.flights if f["landing"] == landing)
        self.open(f"flight-{flight['id']}.html")
        # Move away with the keys, then click the touchdown time as a pilot would.
        self.browser.eval("document.getElementById('plan').focus()")
        self.browser.key("End", "End", 35)
        read = "Object.fromEntries([...document.querySelectorAll('[data-field]').values()].map(e => [e.dataset.field, e.textContent]))"
        self.assertNotEqual(self.browser.eval(read)["time"], landing)
        self.browser.eval(f"document.querySelector('#landing [data-time=\"{landing}\"]').click()")
        values = self.browser.eval(read)
        samples = self.browser.eval("JSON.parse(document.getElementById('samples-data').textContent)")
        i = next(k for k, t in enumerate(samples["t"]) if (samples["start"] + t) % 86400 == truth)
        self.assertEqual(values["time"], landing)
        for field in ("lat", "lon", "alt_ft", "ias_kt", "pitch_deg", "bank_deg", "heading_deg"):
            self.assertEqual(values[field], shown(samples[field][i]), field)
        self.assertEqual(values["height_ft"], "0")
        self.browser.key("ArrowRight", "ArrowRight", 39)
        self.assertEqual(self.browser.eval(read)["alt_ft"], shown(samples["alt_ft"][i + 1]))

    def test_zoom_and_fit_change_the_plan_and_the_profiles(self):
        self.open(f"flight-{self.flights[-1]['id']}.html")
        scale = lambda: float(self.browser.eval("document.getElementById('plan').dataset.scale"))
        whole = scale()
        box = self.browser.eval("(() => { const r = document.getElementById('plan').getBoundingClientRect(); return [r.x + r.width / 2, r.y + r.height / 2]; })()")
        self.browser.send("Input.dispatchMouseEvent", {"type": "mouseWheel", "x": box[0], "y": box[1], "deltaX": 0, "deltaY": -300})
        self.assertGreater(scale(), whole * 1.2)
        self.browser.eval("document.getElementById('fit-flight').click()")
        self.assertAlmostEqual(scale(), whole, delta=whole * 1e-4)
        self.browser.eval("document.getElementById('fit-landing').click()")
        self.assertGreater(scale(), whole * 2)
        # Dragging over the profiles zooms to that time range.
        r = self.browser.eval("(() => { const r = document.getElementById('profiles').getBoundingClientRect(); return [r.x, r.y, r.width, r.height]; })()")
        span = lambda: self.browser.eval("[document.getElementById('profiles').dataset.from, document.getElementById('profiles').dataset.to]")
        before = span()
        y = r[1] + r[3] / 2
        self.browser.mouse("mousePressed", r[0] + r[2] * 0.4, y, 1)
        self.browser.mouse("mouseMoved", r[0] + r[2] * 0.5, y, 1)
        self.browser.mouse("mouseReleased", r[0] + r[2] * 0.6, y, 1)
        after = span()
        self.assertGreater(after[0], before[0])
        self.assertLess(after[1], before[1])

    def test_index_lists_every_flight_and_sorts(self):
        self.open("index.html")
        ids = lambda: self.browser.eval("[...document.querySelectorAll('#flights tbody tr')].map(r => +r.dataset.id)")
        self.assertEqual(ids(), [f["id"] for f in self.flights])
        self.assertEqual(self.browser.eval("document.querySelector('#totals [data-key=flights]').textContent"),
                         str(len(self.flights)))
        # Sort by distance, longest first (two clicks).
        for _ in range(2):
            self.browser.eval("[...document.querySelectorAll('#flights th button')].find(b => b.textContent === 'nm').click()")
        by_distance = sorted(self.flights, key=lambda f: -f["distance_nm"])
        self.assertEqual(ids(), [f["id"] for f in by_distance])
        links = self.browser.eval("[...document.querySelectorAll('#flights tbody a')].map(a => a.getAttribute('href'))")
        self.assertEqual(sorted(links), sorted(f"flight-{f['id']}.html" for f in self.flights))

    def test_a_ten_hour_flight_loads_and_its_cursor_moves(self):
        long = max(self.flights, key=lambda f: f["air_time_s"] or 0)
        seconds = self.open(f"flight-{long['id']}.html")
        r = self.browser.eval("(() => { const r = document.getElementById('profiles').getBoundingClientRect(); return [r.x, r.y, r.width, r.height]; })()")
        times, read = [], []
        for k in range(20):
            start = time.monotonic()
            self.browser.mouse("mouseMoved", r[0] + 60 + (r[2] - 70) * k / 19, r[1] + r[3] / 3)
            read.append(self.browser.eval("document.querySelector('[data-field=time]').textContent"))
            times.append(time.monotonic() - start)
        self.assertEqual(read, sorted(set(read)))  # the readout followed the pointer, forward
        print(f"\nten-hour flight ({self.truth['long_records']} records): page loaded and drawn in "
              f"{seconds * 1000:.0f} ms; cursor moves: median {sorted(times)[10] * 1000:.1f} ms, "
              f"slowest {max(times) * 1000:.1f} ms", file=sys.stderr)

    def test_screenshots(self):
        if not ARGS.screenshots:
            self.skipTest("screenshots only with --screenshots DIR")
        flight = next(f for f in self.flights if f["touch_and_goes"] > 0)
        for name, page in (("logbook-flight", f"flight-{flight['id']}.html"), ("logbook-index", "index.html")):
            for suffix, width, mobile in (("", 1280, False), ("-phone", 390, True)):
                self.browser.size(width, 900, mobile)
                self.open(page)
                self.browser.screenshot(os.path.join(ARGS.screenshots, f"{name}{suffix}.png"), width, mobile)
        self.browser.size(1280, 900)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--logbook", required=True)
    parser.add_argument("--flights", required=True)
    parser.add_argument("--screenshots")
    ARGS, rest = parser.parse_known_args()
    if ARGS.screenshots:
        ARGS.screenshots = os.path.abspath(ARGS.screenshots)
    program = unittest.main(argv=[sys.argv[0], "-v", *rest], exit=False)
    sys.exit(0 if program.result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()

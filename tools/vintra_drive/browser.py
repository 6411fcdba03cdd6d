"""Debian's headless Chromium, the browser a streaming program's browser source is
built on, driven over the DevTools protocol: pages opened at a size, scripts
evaluated in them, their pictures with alpha, calls from a page to us.

Needs Debian's python3-websocket (run with /usr/bin/python3).
"""

import base64
import json
import os
import shutil
import subprocess
import tempfile
import time
import urllib.parse
import urllib.request

import websocket

from . import paths, screen, wait

START_TIMEOUT = 30.0  # a cold Chromium start on a busy machine


class Browser:
    """One headless Chromium with a profile of its own, stopped by stop()."""

    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="vintra-chromium-")
        # Port 0: Chromium picks a free port and names it in the profile. No
        # address on the command line: headless Chromium takes one there as a
        # one-off command and may close its tabs when that is done.
        self.process = subprocess.Popen(
            [paths.CHROMIUM, "--headless=new", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
             "--default-background-color=00000000", "--remote-debugging-port=0",
             "--user-data-dir=" + self.profile, "--no-first-run", "--no-default-browser-check",
             # A browser source is drawn at full pace whether or not it is the front tab.
             "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
             "--disable-backgrounding-occluded-windows"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.port = wait.wait_until(self._debugging_port, START_TIMEOUT, "Chromium's DevTools port")
        # Headless Chromium starts with a command page of its own that opens a
        # blank tab and, when done, closes the tab it thinks is its: a tab
        # opened before then would go with it. Seen here within a second of
        # start; a build without it is given two.
        started = time.monotonic()
        wait.wait_until(lambda: self._command_page() or time.monotonic() > started + 2, START_TIMEOUT,
                        "Chromium's start-up page", interval=0.02)
        wait.wait_until(lambda: not self._command_page(), START_TIMEOUT, "Chromium's start-up page to close")

    def _command_page(self):
        return any(t["url"].startswith("chrome://headless/") for t in self._http("/json/list"))

    def _debugging_port(self):
        if self.process.poll() is not None:
            raise AssertionError("Chromium ended at start-up (code %s)" % self.process.returncode)
        try:
            with open(os.path.join(self.profile, "DevToolsActivePort")) as f:
                return int(f.readline())
        except (OSError, ValueError):
            return None

    def _http(self, path, method="GET"):
        request = urllib.request.Request("http://127.0.0.1:%d%s" % (self.port, path), method=method)
        with urllib.request.urlopen(request, timeout=10) as answer:
            return json.loads(answer.read() or b"null")

    def open(self, url, width, height):
        """A new tab showing `url` at width x height CSS pixels, loaded; returns its Page."""
        # The address travels as the query of /json/new: escaped, its own query stays whole.
        target = self._http("/json/new?" + urllib.parse.quote(url, safe=""), method="PUT")
        page = Page(self, target)
        page.wait_for("location.href !== 'about:blank' && document.readyState === 'complete'",
                      START_TIMEOUT, "%s to load" % url)
        page.call("Emulation.setDeviceMetricsOverride", width=width, height=height, deviceScaleFactor=1, mobile=False)
        page.call("Emulation.setDefaultBackgroundColorOverride", color={"r": 0, "g": 0, "b": 0, "a": 0})
        return page

    def stop(self):
        """Ends Chromium and removes its profile."""
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)


class Page:
    """One tab, spoken to over its own DevTools connection. Events that arrive
    while a command is answered are kept for events()."""

    def __init__(self, browser, target):
        self.browser = browser
        self.target_id = target["id"]
        self.socket = websocket.create_connection(target["webSocketDebuggerUrl"], timeout=30, suppress_origin=True)
        self.pending = []  # events received, oldest first
        self.next_id = 0

    def call(self, method, **params):
        """Sends one command and returns its result (a dict)."""
        self.next_id += 1
        self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise AssertionError("%s failed: %s" % (method, message["error"]))
                return message.get("result", {})
            if "method" in message:
                self.pending.append(message)

    def events(self, method, timeout=0.0):
        """The kept and arriving `method` events' params, waiting up to `timeout` s for the first."""
        deadline = time.monotonic() + timeout
        while True:
            found = [m["params"] for m in self.pending if m["method"] == method]
            if found or time.monotonic() >= deadline:
                self.pending = [m for m in self.pending if m["method"] != method]
                return found
            self.socket.settimeout(max(0.001, deadline - time.monotonic()))
            try:
                message = json.loads(self.socket.recv())
            except websocket.WebSocketTimeoutException:
                continue
            finally:
                self.socket.settimeout(30)
            if "method" in message:
                self.pending.append(message)

    def reload(self):
        """Loads the page anew, as a browser source's refresh does."""
        self.call("Page.enable")
        self.pending = [m for m in self.pending if m["method"] != "Page.loadEventFired"]
        self.call("Page.reload", ignoreCache=True)
        if not self.events("Page.loadEventFired", START_TIMEOUT):
            raise AssertionError("the page did not load again within %.0f s" % START_TIMEOUT)

    def evaluate(self, expression):
        """The value of a JavaScript expression in the page (awaited if a promise)."""
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise AssertionError("%s threw: %s" % (expression, result["exceptionDetails"]))
        return result["result"].get("value")

    def wait_for(self, expression, timeout=wait.EVENT_TIMEOUT, what=None):
        """Polls a JavaScript expression until it is truthy; returns its value."""
        return wait.wait_until(lambda: self.evaluate(expression), timeout, what or expression, interval=0.05)

    def add_binding(self, name):
        """Makes window.<name>(text) in the page report to us as binding_calls(name)."""
        self.call("Runtime.enable")
        self.call("Runtime.addBinding", name=name)

    def binding_calls(self, name, timeout=0.0):
        """The texts the page passed to window.<name>() since the last look, waiting up to `timeout` s."""
        return [p["payload"] for p in self.events("Runtime.bindingCalled", timeout) if p["name"] == name]

    def screenshot(self):
        """What the page shows now, as an RGBA Picture (alpha 0 where it is transparent)."""
        data = self.call("Page.captureScreenshot", format="png", fromSurface=True)["data"]
        return screen.read_png(base64.b64decode(data))

    def close(self):
        """Closes the tab."""
        try:
            self.socket.close()
        finally:
            try:
                self.browser._http("/json/close/" + self.target_id)
            except (OSError, ValueError):  # it answers in plain words
                pass

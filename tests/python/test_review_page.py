"""The review page in headless Chromium, driven over the DevTools protocol on
a pipe: its rows, its sorting, its charts and links, and that it asks for
nothing outside its folder."""
import base64
import fcntl
import json
import os
import shutil
import subprocess
import time
import urllib.parse

import pandas as pd
import pytest

KP_FILE = os.path.join(os.path.dirname(__file__), "..", "data", "kp", "Kp_def2024.wdc")


class Browser:
    """Headless Chromium with one page, spoken to over --remote-debugging-pipe
    (JSON messages ended by NUL on file descriptors 3 and 4)."""

    def __init__(self, folder):
        exe = shutil.which("chromium") or shutil.which("chromium-browser")
        assert exe, "chromium is missing (scripts/install-deps.sh installs it)"
        to_child, self._out = os.pipe()
        self._in, from_child = os.pipe()
        # The child's ends above 3 and 4, so that moving them there clobbers neither.
        to_child, from_child = (self._high(fd) for fd in (to_child, from_child))
        self.proc = subprocess.Popen(
            ["/bin/bash", "-c", f'exec 3<&{to_child} 4>&{from_child} "$0" "$@"', exe, "--headless", "--no-sandbox",
             "--disable-gpu", "--no-first-run", "--remote-debugging-pipe", f"--user-data-dir={folder}",
             "--window-size=1280,1000", "about:blank"],
            pass_fds=(to_child, from_child), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_child)
        os.close(from_child)
        self._buffer, self._next, self.events = b"", 0, []
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]

    @staticmethod
    def _high(fd):
        high = fcntl.fcntl(fd, fcntl.F_DUPFD, 10)
        os.close(fd)
        os.set_inheritable(high, True)
        return high

    def _send(self, message):
        os.write(self._out, json.dumps(message).encode() + b"\0")

    def _receive(self):
        while b"\0" not in self._buffer:
            chunk = os.read(self._in, 1 << 20)
            assert chunk, "chromium closed its pipe"
            self._buffer += chunk
        message, self._buffer = self._buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, session=None, **params):
        self._next += 1
        message = {"id": self._next, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        self._send(message)
        while True:
            reply = self._receive()
            if reply.get("id") == self._next:
                assert "error" not in reply, reply
                return reply["result"]
            self.events.append(reply)

    def page(self, method, **params):
        return self.call(method, session=self.session, **params)

    def wait_for(self, event):
        while not any(e.get("method") == event for e in self.events):
            self.events.append(self._receive())

    def evaluate(self, expression):
        reply = self.page("Runtime.evaluate", expression=expression, returnByValue=True)
        assert "exceptionDetails" not in reply, (expression, reply)
        return reply["result"].get("value")

    def close(self):
        try:
            self.call("Browser.close")
        except AssertionError:
            pass
        self.proc.wait(timeout=20)


@pytest.fixture
def browser(tmp_path):
    b = Browser(tmp_path / "profile")
    yield b
    b.close()


COLUMN = """Array.from(document.querySelectorAll('#series tbody tr')).map(
  r => r.cells[Array.from(document.querySelectorAll('#series th')).findIndex(h => h.textContent === '{name}')]
       .textContent)"""


def test_review_page_in_chromium(workdir, conn, browser):
    import tremora.fetching
    import tremora.geomag
    import tremora.review
    tremora.fetching.refresh_metastash(conn)
    page = workdir / "page"
    kp = tremora.geomag.read_kp_file(KP_FILE)
    table = tremora.review.review(conn, "20240510", "20240512", out=page, gzip=True, reference_days=3, geomag=True,
                                  geomag_data=kp)
    samples = tremora.fetching.fetching_data(conn, "20240510", "20240512", "全部", "全部", "分钟值", "预处理库",
                                             gzip_flag=True)
    series = samples.groupby(["STATIONID", "POINTID", "ITEMID"], observed=True).ngroups

    browser.page("Network.enable")
    browser.page("Page.enable")
    browser.page("Page.navigate", url=page.joinpath("index.html").as_uri())
    browser.wait_for("Page.loadEventFired")
    for _ in range(200):  # the load event of this document, not of about:blank
        if browser.evaluate("document.readyState === 'complete' && location.protocol === 'file:'"):
            break
        time.sleep(0.05)

    # One row per series, as the returned table has.
    assert browser.evaluate("document.querySelectorAll('#series tbody tr').length") == len(table) == series
    # Kp of the intervals that meet the period (Shanghai days), as pandas finds it.
    local = kp.tz_convert("Asia/Shanghai")
    start, end = pd.Timestamp("2024-05-10", tz="Asia/Shanghai"), pd.Timestamp("2024-05-13", tz="Asia/Shanghai")
    met = local[(local.index + pd.Timedelta(hours=3) > start) & (local.index < end)]
    stormy = sorted({t.strftime("%Y-%m-%d") for t, v in met.Kp.items() if v >= 5})
    facts = browser.evaluate("document.querySelector('.facts').textContent")
    assert f"Kp: max {met.Kp.max():g}, Kp ≥ 5 on {' '.join(stormy)}" in facts, facts
    # Sorting by a number column, up and then down.
    header = "Array.from(document.querySelectorAll('#series th')).find(h => h.textContent === 'completeness_pct')"
    browser.evaluate(header + ".click()")
    up = [float(v) for v in browser.evaluate(COLUMN.format(name="completeness_pct"))]
    assert up == sorted(up) and len(set(up)) > 1
    browser.evaluate(header + ".click()")
    down = [float(v) for v in browser.evaluate(COLUMN.format(name="completeness_pct"))]
    assert down == sorted(up, reverse=True)
    # Every chart is drawn, every link goes to a file of the folder or to an
    # anchor of the page.
    images = browser.evaluate("Array.from(document.images).map(i => [i.src, i.complete && i.naturalWidth > 0])")
    assert images and all(ok for _, ok in images), images
    for href in browser.evaluate("Array.from(document.links).map(a => a.href)"):
        url = urllib.parse.urlparse(href)
        assert url.scheme == "file", href
        path = urllib.parse.unquote(url.path)
        assert path.startswith(str(page)) and os.path.exists(path), href
        if url.fragment:
            assert browser.evaluate(f"document.getElementById({json.dumps(url.fragment)}) !== null"), href
    # Nothing was asked of anywhere but the page's folder.
    asked = [e["params"]["request"]["url"] for e in browser.events if e.get("method") == "Network.requestWillBeSent"]
    assert asked and all(u.startswith(page.as_uri() + "/") for u in asked), asked
    # The first screen, kept beside the page for looking at.
    shot = base64.b64decode(browser.page("Page.captureScreenshot", format="png")["data"])
    (page / "screenshot.png").write_bytes(shot)
    assert shot[:8] == b"\x89PNG\r\n\x1a\n" and int.from_bytes(shot[16:20], "big") == 1280

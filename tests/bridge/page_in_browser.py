#!/usr/bin/env python3
"""The bridge's page in a real browser: Debian's chromium, headless, driven
through chromedriver's WebDriver protocol (plain HTTP and JSON, so nothing
but the standard library is needed). Loads the page, waits for live tiles,
saves a screenshot, checks that each viewable tile shows its channel's
picture, clicks a tile and checks that the enlarged view shows it. Then a
page of another origin, open in the same browser, tries to watch over the
bridge's WebSocket and to steer a camera: it must get nothing.

usage: page_in_browser.py URL SCREENSHOT.png [ENLARGED.png]
exit 0 when every check holds; the reason otherwise.
"""
import base64
import http.server
import json
import socket
import subprocess
import sys
import threading
import time
import urllib.request


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Driver:
    def __init__(self):
        self.port = free_port()
        self.process = subprocess.Popen(
            ["chromedriver", f"--port={self.port}"], stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        for _ in range(100):
            try:
                self.call("GET", "/status")
                break
            except OSError:
                time.sleep(0.1)
        caps = {"capabilities": {"alwaysMatch": {
            "browserName": "chrome",
            "goog:chromeOptions": {
                "binary": "/usr/bin/chromium",
                "args": ["--headless=new", "--no-sandbox", "--disable-gpu",
                         "--disable-dev-shm-usage", "--window-size=1280,1000"]}}}}
        self.session = self.call("POST", "/session", caps)["sessionId"]

    def call(self, method, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(
            f"http://127.0.0.1:{self.port}{path}", data=data, method=method,
            headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=60) as answer:
            return json.loads(answer.read())["value"] if method != "GET" or path != "/status" else {}

    def s(self, method, path, body=None):
        with_body = body if body is not None else ({} if method == "POST" else None)
        request = urllib.request.Request(
            f"http://127.0.0.1:{self.port}/session/{self.session}{path}",
            data=None if with_body is None else json.dumps(with_body).encode(), method=method,
            headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=60) as answer:
            return json.loads(answer.read())["value"]

    def script(self, code):
        return self.s("POST", "/execute/sync", {"script": code, "args": []})

    def screenshot(self, path):
        with open(path, "wb") as f:
            f.write(base64.b64decode(self.s("GET", "/screenshot")))

    def close(self):
        try:
            self.call("DELETE", f"/session/{self.session}")
        finally:
            self.process.terminate()
            self.process.wait()


# The mean colour of a tile's picture, drawn on a canvas in the page.
MEAN = """
const img = arguments.length ? null : null;
const out = {};
for (const tile of document.querySelectorAll('.tile')) {
  const i = tile.querySelector('img');
  if (!i.complete || !i.naturalWidth) continue;
  const c = document.createElement('canvas');
  c.width = 32; c.height = 24;
  const g = c.getContext('2d');
  g.drawImage(i, 0, 0, 32, 24);
  const d = g.getImageData(0, 0, 32, 24).data;
  let r = 0, gr = 0, b = 0;
  for (let k = 0; k < d.length; k += 4) { r += d[k]; gr += d[k + 1]; b += d[k + 2]; }
  const n = d.length / 4;
  out[tile.dataset.channel] = [r / n, gr / n, b / n];
}
return out;
"""


# A page of another site: it opens the bridge's WebSocket and posts a camera
# command, and counts what it gets.
ATTACKER = """<!doctype html><html><body><script>
window.got = 0; window.opened = false; window.wsClosed = false;
const ws = new WebSocket("WSURL");
ws.onopen = () => { window.opened = true; };
ws.onmessage = () => { window.got++; };
ws.onclose = () => { window.wsClosed = true; };
fetch("PTZURL", {method: "POST", mode: "no-cors", body: "left"}).catch(() => {});
</script></body></html>"""


def serve_attacker(bridge_url):
    base = bridge_url.rstrip("/")
    page = (ATTACKER.replace("WSURL", "ws" + base[4:] + "/ws")
            .replace("PTZURL", base + "/api/ch/1/ptz")).encode()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(page)))
            self.end_headers()
            self.wfile.write(page)

        def log_message(self, *args):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return f"http://127.0.0.1:{server.server_address[1]}/", server


START = time.monotonic()


def phase(what):
    print(f"[{time.monotonic() - START:5.1f} s] {what}", file=sys.stderr)


def main():
    url, shot = sys.argv[1], sys.argv[2]
    enlarged_shot = sys.argv[3] if len(sys.argv) > 3 else None
    d = Driver()
    phase("browser started")
    try:
        d.s("POST", "/url", {"url": url})
        phase("page loaded")
        expected = json.loads(urllib.request.urlopen(url.rstrip("/") + "/api/channels").read())
        viewable = [c["number"] for c in expected if c["permission"] != "none"]
        means = {}
        for _ in range(100):
            means = d.script(MEAN)
            if all(str(n) in means for n in viewable):
                break
            time.sleep(0.2)
        phase("tiles drawn")
        missing = [n for n in viewable if str(n) not in means]
        if missing:
            print(f"FAIL: tiles without a picture: {missing}")
            return 1
        # Every picture a live one: its tile changes.
        first = d.script("return [...document.querySelectorAll('.tile img')].map(i => i.src)")
        time.sleep(1.0)
        second = d.script("return [...document.querySelectorAll('.tile img')].map(i => i.src)")
        still = [i + 1 for i in range(16) if (i + 1) in viewable and first[i] == second[i]]
        if still:
            print(f"FAIL: tiles not live: {still}")
            return 1
        d.screenshot(shot)
        # Each tile holds its own channel: the colours differ from tile to tile.
        colours = {tuple(round(v / 16) for v in means[str(n)]) for n in viewable}
        if len(colours) < len(viewable) // 2:
            print(f"FAIL: the tiles look alike: {means}")
            return 1
        labels = d.script("return [...document.querySelectorAll('.tile .label')].map(l => l.textContent)")
        for c in expected:
            if c["name"] and c["name"] not in labels[c["number"] - 1]:
                print(f"FAIL: tile {c['number']} is labelled {labels[c['number'] - 1]!r}")
                return 1
        # A click enlarges the tile: the big view shows that channel.
        tile = d.s("POST", "/element", {"using": "css selector", "value": '.tile[data-channel="1"]'})
        element = list(tile.values())[0]
        d.s("POST", f"/element/{element}/click")
        time.sleep(0.5)
        state = d.script("""
const big = document.getElementById('big');
return [big.classList.contains('shown'), document.getElementById('bigName').textContent,
        document.querySelectorAll('#ptz button').length,
        document.getElementById('bigImg').getBoundingClientRect().width];""")
        if not state[0] or not state[1].startswith("1 ") or state[3] < 500:
            print(f"FAIL: the click did not enlarge channel 1: {state}")
            return 1
        if enlarged_shot:
            d.screenshot(enlarged_shot)
        print(f"page: {len(viewable)} live tiles, channel 1 enlarged with {state[2]} PTZ buttons")
        phase("tile enlarged")
        other, server = serve_attacker(url)
        try:
            d.s("POST", "/url", {"url": other})
            time.sleep(3)
            seen = d.script("return [window.opened, window.got, window.wsClosed]")
        finally:
            server.shutdown()
        if seen[0] or seen[1] != 0 or not seen[2]:
            print(f"FAIL: a page of another origin got the WebSocket: {seen}")
            return 1
        print("a page of another origin: no WebSocket, nothing received")
        return 0
    finally:
        d.close()


if __name__ == "__main__":
    sys.exit(main())

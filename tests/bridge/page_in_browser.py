#!/usr/bin/env python3
"""The bridge's page in a real browser: Debian's chromium, headless, driven
through chromedriver's WebDriver protocol (plain HTTP and JSON, so nothing
but the standard library is needed). Loads the page, waits until our own
decoder (WebAssembly, in a worker) draws every viewable tile live at its
picture's own size with its channel's colours, saves a screenshot; key 2
leaves four tiles and the recorder pauses the others; a double click
enlarges a tile with its camera's buttons, holding one moves the camera and
letting go stops it, Esc goes back. Then a page of another origin, open in
the same browser, tries to watch over the bridge's WebSocket and to steer
a camera: it must get nothing.

usage: page_in_browser.py URL SCREENSHOT.png SIMULATOR-EVENT-LOG [ENLARGED.png]
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
import urllib.error
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
        try:
            with urllib.request.urlopen(request, timeout=60) as answer:
                return json.loads(answer.read())["value"]
        except urllib.error.HTTPError as e:
            raise RuntimeError(f"{method} {path}: {e.read().decode()[:300]}") from None

    def script(self, code):
        return self.s("POST", "/execute/sync", {"script": code, "args": []})

    def screenshot(self, path):
        with open(path, "wb") as f:
            f.write(base64.b64decode(self.s("GET", "/screenshot")))

    def close(self):
        try:
            self.call("DELETE", f"/session/{self.session}")
        finally:
            # A driver started where SIGTERM is blocked or ignored (as under
            # some test runners) is killed after a moment.
            self.process.terminate()
            try:
                self.process.wait(timeout=3)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


# The mean colour of each shown tile's picture, read back from its canvas.
MEAN = """
const out = {};
for (const tile of document.querySelectorAll('.tile')) {
  if (tile.style.display === 'none' || Number(tile.dataset.frames) === 0) continue;
  const c = document.createElement('canvas');
  c.width = 32; c.height = 24;
  const g = c.getContext('2d');
  g.drawImage(tile.querySelector('canvas'), 0, 0, 32, 24);
  const d = g.getImageData(0, 0, 32, 24).data;
  let r = 0, gr = 0, b = 0;
  for (let k = 0; k < d.length; k += 4) { r += d[k]; gr += d[k + 1]; b += d[k + 2]; }
  const n = d.length / 4;
  out[tile.dataset.channel] = [r / n, gr / n, b / n];
}
return out;
"""

FRAMES = "return [...document.querySelectorAll('.tile')].map(t => Number(t.dataset.frames))"


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


def events(log, name):
    with open(log) as f:
        return [json.loads(line) for line in f if f'"event":"{name}"' in line]


def wait(what, test, seconds=10):
    for _ in range(int(seconds * 10)):
        if test():
            return True
        time.sleep(0.1)
    print(f"FAIL: {what}")
    return False


def main():
    url, shot, log = sys.argv[1], sys.argv[2], sys.argv[3]
    enlarged_shot = sys.argv[4] if len(sys.argv) > 4 else None
    d = Driver()
    phase("browser started")
    try:
        d.s("POST", "/url", {"url": url})
        d.script("localStorage.clear(); document.dispatchEvent(new KeyboardEvent('keydown', {key: '4'}))")
        phase("page loaded")
        expected = json.loads(urllib.request.urlopen(url.rstrip("/") + "/api/channels").read())["channels"]
        viewable = [c["channel"] for c in expected if c["permission"] in ("view", "ptz")]
        # Our own decoder, in the page, draws every viewable channel.
        if not wait("the page's decoder did not start", lambda: d.script("return window.zentaMode") == "coded"):
            return 1
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
        # Every picture a live one: its tile keeps drawing.
        first = d.script(FRAMES)
        time.sleep(1.0)
        second = d.script(FRAMES)
        still = [n for n in viewable if second[n - 1] <= first[n - 1]]
        if still:
            print(f"FAIL: tiles not live: {still}")
            return 1
        # Each at its own size.
        sizes = d.script("return [...document.querySelectorAll('.tile')].map(t => t.dataset.size)")
        for c in json.loads(urllib.request.urlopen(url.rstrip("/") + "/api/channels").read())["channels"]:
            if c["channel"] in viewable and sizes[c["channel"] - 1] != f"{c['width']}x{c['height']}":
                print(f"FAIL: tile {c['channel']} drawn at {sizes[c['channel'] - 1]}, not {c['width']}x{c['height']}")
                return 1
        # No JPEG is made for a page that decodes itself.
        head = urllib.request.Request(url.rstrip("/") + "/ch/1.jpg", method="HEAD")
        try:
            made = urllib.request.urlopen(head, timeout=10).status == 200
        except urllib.error.HTTPError:
            made = False
        if made:
            print("FAIL: the bridge made JPEGs for a page that decodes itself")
            return 1
        d.screenshot(shot)
        # Each tile holds its own channel: the colours differ from tile to tile.
        colours = {tuple(round(v / 16) for v in means[str(n)]) for n in viewable}
        if len(colours) < len(viewable) // 2:
            print(f"FAIL: the tiles look alike: {means}")
            return 1
        labels = d.script("return [...document.querySelectorAll('.tile .label')].map(l => l.textContent)")
        for c in expected:
            if c["camera"] and c["camera"] not in labels[c["channel"] - 1]:
                print(f"FAIL: tile {c['channel']} is labelled {labels[c['channel'] - 1]!r}")
                return 1
        print(f"page: {len(viewable)} tiles decoded by the page at their own sizes, live")
        # Key 2: four tiles; the others are paused on the recorder.
        resumed = len(events(log, "resume"))
        d.s("POST", "/actions", {"actions": [{"type": "key", "id": "k", "actions": [
            {"type": "keyDown", "value": "2"}, {"type": "keyUp", "value": "2"}]}]})
        api = url.rstrip("/") + "/api/channels"
        if not wait("key 2 did not leave channels 5 to 16 paused", lambda: all(
                c["state"] in ("paused", "refused") for c in
                json.loads(urllib.request.urlopen(api).read())["channels"][4:]), 8):
            return 1
        shown = d.script("return [...document.querySelectorAll('.tile')].filter(t => t.style.display !== 'none').length")
        if shown != 4:
            print(f"FAIL: key 2 shows {shown} tiles")
            return 1
        # A double click enlarges tile 1 with its camera's buttons; holding
        # "up" moves the camera, letting go stops it.
        tile = d.s("POST", "/element", {"using": "css selector", "value": '.tile[data-channel="1"]'})
        element = list(tile.values())[0]
        d.s("POST", "/actions", {"actions": [{"type": "pointer", "id": "m", "actions": [
            {"type": "pointerMove", "origin": {**tile, "ELEMENT": element}, "x": 0, "y": 0},
            {"type": "pointerDown", "button": 0}, {"type": "pointerUp", "button": 0},
            {"type": "pointerDown", "button": 0}, {"type": "pointerUp", "button": 0}]}]})
        time.sleep(0.5)
        alone = d.script("""return [[...document.querySelectorAll('.tile')].filter(t => t.style.display !== 'none')
            .map(t => t.dataset.channel), [...document.querySelectorAll('.tile[data-channel="1"] .ptz button')]
            .filter(b => b.offsetParent !== null).length]""")
        if alone[0] != ["1"] or alone[1] < 14:
            print(f"FAIL: the double click did not enlarge channel 1 with its buttons: {alone}")
            return 1
        if enlarged_shot:
            d.screenshot(enlarged_shot)
        up = d.s("POST", "/element", {"using": "css selector",
                                      "value": '.tile[data-channel="1"] .ptz button[data-word="up"]'})
        commands = len(events(log, "command"))
        d.s("POST", "/actions", {"actions": [{"type": "pointer", "id": "m", "actions": [
            {"type": "pointerMove", "origin": {**up, "ELEMENT": list(up.values())[0]}, "x": 0, "y": 0},
            {"type": "pointerDown", "button": 0}, {"type": "pause", "duration": 600},
            {"type": "pointerUp", "button": 0}]}]})
        if not wait("holding up did not move and stop the camera",
                    lambda: [e.get("word") for e in events(log, "command")[commands:]][:2] == ["up", "stop"], 5):
            print(events(log, "command")[commands:])
            return 1
        # Esc goes back to the four.
        d.s("POST", "/actions", {"actions": [{"type": "key", "id": "k", "actions": [
            {"type": "keyDown", "value": "\ue00c"}, {"type": "keyUp", "value": "\ue00c"}]}]})
        time.sleep(0.3)
        if d.script("return [...document.querySelectorAll('.tile')].filter(t => t.style.display !== 'none').length") != 4:
            print("FAIL: Esc did not go back to four tiles")
            return 1
        print("layouts, pauses, the enlarged tile and its camera: as they should be")
        # Messages a hostile page might send change nothing but what is shown.
        d.script("""for (const m of ['not json', '{"watch":5}', '{"watch":[1,99,-3,"x",1e30],"coded":"yes"}',
                                 '{"coded":{"a":1}}', '[]']) ws.send(m);""")
        time.sleep(1.0)
        if json.loads(urllib.request.urlopen(api, timeout=5).read())["channels"][0]["channel"] != 1:
            print("FAIL: the bridge did not survive odd WebSocket messages")
            return 1
        phase("layouts and camera")
        commands = len(events(log, "command"))
        other, server = serve_attacker(url)
        try:
            d.s("POST", "/url", {"url": other})
            time.sleep(3)
            seen = d.script("return [window.opened, window.got, window.wsClosed]")
        finally:
            server.shutdown()
        if seen[0] or seen[1] != 0 or not seen[2] or len(events(log, "command")) != commands:
            print(f"FAIL: a page of another origin got the WebSocket or steered: {seen}")
            return 1
        print("a page of another origin: no WebSocket, nothing received, no camera moved")
        return 0
    finally:
        d.close()


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""browser.py - drives a browser on loopback for the web build's tests: Debian's
Chromium through the DevTools protocol, or Firefox ESR through WebDriver
BiDi. Standard library only: a minimal WebSocket client (RFC 6455, text
frames, client masking) and each protocol's JSON messages.

    browser.py cdp CHROME_PORT_FILE URL SCRIPT OUTDIR
    browser.py bidi FIREFOX_PORT URL SCRIPT OUTDIR

SCRIPT is a list of steps, one a line, the same for both:
    viewport W H            the page's size in CSS pixels (device scale 1)
    wait-ready              until the page's runtime is up (60 s at most)
    click X Y               a real mouse click (a user gesture)
    dblclick X Y            a real double click
    key                     a key pressed and released (the letter a)
    sleep SECONDS
    screenshot NAME         OUTDIR/NAME.png
    eval NAME EXPRESSION    OUTDIR/NAME.json: the expression's value as JSON
    navigate URL
    run COMMAND LINE        a shell command of the test's, waited for
Console errors and uncaught exceptions of the page go to OUTDIR/errors.txt.
Exit status 3: the page stopped answering (90 s without a reply).
"""
import base64, json, os, socket, struct, subprocess, sys, time, urllib.request


class WebSocket:
    def __init__(self, url):
        assert url.startswith('ws://')
        host_port, path = url[5:].split('/', 1)
        host, port = host_port.split(':')
        self.sock = socket.create_connection((host, int(port)), timeout=90)
        key = base64.b64encode(os.urandom(16)).decode()
        request = (f'GET /{path} HTTP/1.1\r\nHost: {host_port}\r\nUpgrade: websocket\r\n'
                   f'Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n')
        self.sock.sendall(request.encode())
        response = b''
        while b'\r\n\r\n' not in response:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise RuntimeError('the browser closed the connection during the handshake')
            response += chunk
        if b' 101 ' not in response.split(b'\r\n', 1)[0]:
            raise RuntimeError('no WebSocket upgrade: ' + response.split(b'\r\n', 1)[0].decode())
        self.buffer = response.split(b'\r\n\r\n', 1)[1]

    def send(self, text):
        data = text.encode()
        header = bytes([0x81])
        if len(data) < 126:
            header += bytes([0x80 | len(data)])
        elif len(data) < 65536:
            header += bytes([0x80 | 126]) + struct.pack('>H', len(data))
        else:
            header += bytes([0x80 | 127]) + struct.pack('>Q', len(data))
        mask = os.urandom(4)
        self.sock.sendall(header + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(data)))

    def _read(self, n):
        while len(self.buffer) < n:
            chunk = self.sock.recv(1 << 16)
            if not chunk:
                raise RuntimeError('the browser closed the connection')
            self.buffer += chunk
        data, self.buffer = self.buffer[:n], self.buffer[n:]
        return data

    def receive(self):
        message = b''
        while True:
            first, second = self._read(2)
            length = second & 0x7F
            if length == 126:
                length = struct.unpack('>H', self._read(2))[0]
            elif length == 127:
                length = struct.unpack('>Q', self._read(8))[0]
            payload = self._read(length)
            opcode = first & 0x0F
            if opcode == 8:
                raise RuntimeError('the browser closed the WebSocket')
            if opcode in (0, 1, 2):
                message += payload
                if first & 0x80:
                    return message.decode()


class Page:
    """What both protocols share: commands with numbered replies, and the
    events that come between them (console errors), which each reads its way."""

    def call(self, method, **params):
        self.next_id += 1
        wanted = self.next_id
        self.ws.send(json.dumps({'id': wanted, 'method': method, 'params': params}))
        while True:
            message = json.loads(self.ws.receive())
            if message.get('id') == wanted:
                error = self._error(message)
                if error:
                    raise RuntimeError(f"{method}: {error}")
                return message.get('result', {})
            self._event(message)


class CdpPage(Page):
    """Chromium: the first page target, through the DevTools protocol."""

    def __init__(self, port_file, outdir):
        for _ in range(300):
            if os.path.exists(port_file) and open(port_file).read().strip():
                break
            time.sleep(0.1)
        port = open(port_file).read().split()[0]
        targets = json.load(urllib.request.urlopen(f'http://127.0.0.1:{port}/json'))
        page = next(t for t in targets if t['type'] == 'page')
        self.ws = WebSocket(page['webSocketDebuggerUrl'])
        self.next_id = 0
        self.errors = open(os.path.join(outdir, 'errors.txt'), 'w')
        for method in ('Runtime.enable', 'Log.enable', 'Page.enable'):
            self.call(method)

    def _event(self, message):
        method, params = message.get('method'), message.get('params', {})
        if method == 'Runtime.consoleAPICalled' and params.get('type') == 'error':
            self.errors.write('console: ' + ' '.join(str(a.get('value', a.get('description', '')))
                                                    for a in params.get('args', [])) + '\n')
        elif method == 'Runtime.exceptionThrown':
            self.errors.write('exception: ' + json.dumps(params.get('exceptionDetails', {}))[:400] + '\n')
        elif method == 'Log.entryAdded' and params.get('entry', {}).get('level') == 'error':
            entry = params['entry']
            self.errors.write(f"log: {entry.get('text')} {entry.get('url', '')}\n")
        self.errors.flush()

    def _error(self, message):
        return str(message['error']) if 'error' in message else None

    def evaluate(self, expression):
        result = self.call('Runtime.evaluate', expression=expression, returnByValue=True, awaitPromise=True)
        return result.get('result', {}).get('value')

    def navigate(self, url):
        self.call('Page.navigate', url=url)

    def viewport(self, width, height):
        self.call('Emulation.setDeviceMetricsOverride', width=width, height=height, deviceScaleFactor=1, mobile=False)

    def click(self, x, y, clicks):
        for count in range(1, clicks + 1):
            for kind in ('mousePressed', 'mouseReleased'):
                self.call('Input.dispatchMouseEvent', type=kind, x=x, y=y, button='left', clickCount=count)

    def key(self):
        for kind in ('keyDown', 'keyUp'):
            self.call('Input.dispatchKeyEvent', type=kind, key='a', code='KeyA', text='a' if kind == 'keyDown' else '',
                      windowsVirtualKeyCode=65)

    def screenshot(self):
        return base64.b64decode(self.call('Page.captureScreenshot', format='png')['data'])


class BidiPage(Page):
    """Firefox: its first browsing context, through WebDriver BiDi."""

    def __init__(self, port, outdir):
        for attempt in range(300):  # Firefox opens the port some seconds after it starts
            try:
                self.ws = WebSocket(f'ws://127.0.0.1:{port}/session')
                break
            except (OSError, RuntimeError):
                if attempt == 299:
                    raise
                time.sleep(0.2)
        self.next_id = 0
        self.errors = open(os.path.join(outdir, 'errors.txt'), 'w')
        self.call('session.new', capabilities={'alwaysMatch': {'webSocketUrl': True}})
        self.call('session.subscribe', events=['log.entryAdded'])
        self.context = self.call('browsingContext.getTree')['contexts'][0]['context']

    def _event(self, message):
        if message.get('method') == 'log.entryAdded':
            entry = message.get('params', {})
            if entry.get('level') == 'error':
                self.errors.write(f"{entry.get('type', 'log')}: {entry.get('text')}\n")
                self.errors.flush()

    def _error(self, message):
        return f"{message.get('error')}: {message.get('message')}" if message.get('type') == 'error' else None

    def evaluate(self, expression):
        # The value as JSON text, so that objects come back whole.
        result = self.call('script.evaluate', expression=f'Promise.resolve({expression}).then(JSON.stringify)',
                           target={'context': self.context}, awaitPromise=True, userActivation=False)
        if result.get('type') == 'exception':
            raise RuntimeError('the page threw: ' + json.dumps(result.get('exceptionDetails', {}))[:400])
        value = result.get('result', {}).get('value')
        return json.loads(value) if isinstance(value, str) else None

    def navigate(self, url):
        self.call('browsingContext.navigate', context=self.context, url=url, wait='complete')

    def viewport(self, width, height):
        self.call('browsingContext.setViewport', context=self.context, viewport={'width': width, 'height': height},
                  devicePixelRatio=1)

    def click(self, x, y, clicks):
        actions = [{'type': 'pointerMove', 'x': int(x), 'y': int(y)}]
        for _ in range(clicks):
            actions += [{'type': 'pointerDown', 'button': 0}, {'type': 'pointerUp', 'button': 0}]
        self.call('input.performActions', context=self.context,
                  actions=[{'type': 'pointer', 'id': 'mouse', 'parameters': {'pointerType': 'mouse'}, 'actions': actions}])

    def key(self):
        self.call('input.performActions', context=self.context,
                  actions=[{'type': 'key', 'id': 'keyboard',
                            'actions': [{'type': 'keyDown', 'value': 'a'}, {'type': 'keyUp', 'value': 'a'}]}])

    def screenshot(self):
        return base64.b64decode(self.call('browsingContext.captureScreenshot', context=self.context)['data'])


def pump(page, seconds):  # lets time pass; the page's events are read at the next call
    time.sleep(seconds)


def main():
    try:
        run(*sys.argv[1:6])
    except TimeoutError:
        # The page's thread has not answered for 90 s: the page hangs.
        print('the page stopped answering (90 s without a reply)', file=sys.stderr)
        sys.exit(3)


def run(protocol, where, url, script, outdir):
    page = CdpPage(where, outdir) if protocol == 'cdp' else BidiPage(where, outdir)
    page.navigate(url)
    for line in open(script):
        words = line.split()
        if not words:
            continue
        step = words[0]
        if step == 'viewport':
            page.viewport(int(words[1]), int(words[2]))
        elif step == 'wait-ready':
            for _ in range(600):
                if page.evaluate("typeof Module !== 'undefined' && !!Module.calledRun"):
                    break
                time.sleep(0.1)
            else:
                raise RuntimeError('the page did not start within 60 s')
        elif step in ('click', 'dblclick'):
            page.click(float(words[1]), float(words[2]), 1 if step == 'click' else 2)
        elif step == 'key':
            page.key()
        elif step == 'sleep':
            pump(page, float(words[1]))
        elif step == 'screenshot':
            with open(os.path.join(outdir, words[1] + '.png'), 'wb') as f:
                f.write(page.screenshot())
        elif step == 'eval':
            with open(os.path.join(outdir, words[1] + '.json'), 'w') as f:
                json.dump(page.evaluate(' '.join(words[2:])), f)
        elif step == 'navigate':
            page.navigate(words[1])
        elif step == 'run':
            subprocess.run(line.split(None, 1)[1], shell=True, check=True)
        else:
            raise RuntimeError('unknown step: ' + line)


if __name__ == '__main__':
    main()

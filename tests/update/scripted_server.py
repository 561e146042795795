#!/usr/bin/env python3
"""A loopback HTTP server that misbehaves on purpose, for the update download tests.

Usage: scripted_server.py PACKAGE_A PACKAGE_B
Prints the port it listens on (127.0.0.1) as the first line of standard output, then serves
until killed. Requests with "Range: bytes=0-0" are reachability probes and change no state.

Paths (every scenario keeps its own request counter):
  /ok           package A, honours Range, ETag "A"
  /drop         first download: headers for all of A, half the body, then the connection closes;
                later requests behave like /ok
  /drop-change  like /drop, but after the break the server holds package B (ETag "B")
  /nolength     package A without Content-Length, closing the connection at the end
  /nolength-drop  half of package A without Content-Length, then the connection closes
  /norange      package A, always the whole of it with 200, Range ignored
  /chunked      package A in chunked transfer encoding, Range ignored
  /slow         like /ok, but the body trickles in 64 KiB pieces 20 ms apart
  /hold         first download: headers for all of A and its first 512 KiB, then nothing more
                until /__release is requested (the test pauses meanwhile); later requests
                behave like /ok
  /__release    lets a held transfer go on
  /404, /500    error pages
  /headers      small text body with two Set-Cookie headers
  /__log        JSON list of the raw header lines of every request so far
  PATH.sig      the signature (PACKAGE.sig beside each package, when present) of the package PATH
                serves at that moment; 404 when there is none
"""
import http.server
import json
import os
import socketserver
import sys
import threading
import time

PACKAGES = {}
SIGNATURES = {}
LOG = []
COUNTS = {}
LOCK = threading.Lock()
RELEASED = threading.Event()
HOLD_AT = 512 * 1024


class TeeReader:
    """Wraps the request stream so the header lines are kept exactly as they came."""

    def __init__(self, raw, sink):
        self.raw = raw
        self.sink = sink

    def readline(self, *args):
        line = self.raw.readline(*args)
        self.sink.append(line.decode("latin-1").rstrip("\r\n"))
        return line

    def __getattr__(self, name):
        return getattr(self.raw, name)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def setup(self):
        super().setup()
        self.lines = []
        self.rfile = TeeReader(self.rfile, self.lines)

    def log_message(self, *args):
        pass

    def send_body(self, status, body, headers):
        self.send_response(status)
        for k, v in headers:
            self.send_header(k, v)
        self.end_headers()
        self.wfile.write(body)

    def serve_package(self, name, honour_range=True, length=True, slow=False, hold=False):
        data = PACKAGES[name]
        rng = self.headers.get("Range")
        start = 0
        if honour_range and rng and rng.startswith("bytes=") and rng.endswith("-"):
            start = int(rng[6:-1])
        elif honour_range and rng == "bytes=0-0":
            return self.send_body(206, data[:1], [("Content-Length", "1"), ("ETag", '"%s"' % name),
                                                  ("Content-Range", "bytes 0-0/%d" % len(data))])
        headers = [("ETag", '"%s"' % name), ("Content-Type", "application/zip")]
        if not length:
            headers.append(("Connection", "close"))
            self.close_connection = True
        if start:
            if start >= len(data):
                return self.send_body(416, b"", [("Content-Length", "0"),
                                                  ("Content-Range", "bytes */%d" % len(data))])
            body = data[start:]
            headers.append(("Content-Range", "bytes %d-%d/%d" % (start, len(data) - 1, len(data))))
            status = 206
        else:
            body = data
            status = 200
        if length:
            headers.append(("Content-Length", str(len(body))))
        if hold:
            self.send_body(status, body[:HOLD_AT], headers)
            self.wfile.flush()
            # A client that paused has closed the connection; the rest then fails harmlessly.
            RELEASED.wait(120)
            try:
                self.wfile.write(body[HOLD_AT:])
            except OSError:
                pass
            return
        if not slow:
            return self.send_body(status, body, headers)
        self.send_body(status, b"", headers)
        for i in range(0, len(body), 65536):
            self.wfile.write(body[i:i + 65536])
            self.wfile.flush()
            time.sleep(0.02)

    def drop_half(self, name, length=True):
        data = PACKAGES[name]
        self.send_response(200)
        self.send_header("ETag", '"%s"' % name)
        self.send_header("Content-Type", "application/zip")
        if length:
            self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data[: len(data) // 2])
        self.wfile.flush()
        self.close_connection = True

    def do_GET(self):
        path = self.path.split("?")[0]
        with LOCK:
            LOG.append({"path": self.path, "lines": list(self.lines)})
        if path == "/__log":
            with LOCK:
                body = json.dumps(LOG).encode()
            return self.send_body(200, body, [("Content-Type", "application/json"),
                                              ("Content-Length", str(len(body)))])
        if path == "/__release":
            RELEASED.set()
            return self.send_body(200, b"released", [("Content-Length", "8")])
        if path.endswith(".sig"):
            base = path[:-4]
            with LOCK:
                served = COUNTS.get(base, 0)
            name = "B" if base == "/drop-change" and served >= 2 else "A"
            sig = SIGNATURES.get(name)
            if sig is None:
                return self.send_body(404, b"", [("Content-Length", "0")])
            return self.send_body(200, sig, [("Content-Type", "application/octet-stream"),
                                             ("Content-Length", str(len(sig)))])
        probe = self.headers.get("Range") == "bytes=0-0"
        with LOCK:
            n = COUNTS.get(path, 0)
            if not probe:
                COUNTS[path] = n + 1
        if path == "/ok":
            return self.serve_package("A")
        if path == "/slow":
            return self.serve_package("A", slow=True)
        if path == "/hold":
            return self.serve_package("A", hold=(n == 0 and not probe))
        if path == "/drop":
            return self.drop_half("A") if n == 0 and not probe else self.serve_package("A")
        if path == "/drop-change":
            if probe:
                return self.serve_package("A" if n == 0 else "B")
            return self.drop_half("A") if n == 0 else self.serve_package("B")
        if path == "/nolength":
            return self.serve_package("A", honour_range=False, length=False)
        if path == "/nolength-drop":
            return self.drop_half("A", length=False)
        if path == "/lying":
            # Announces a short body, then sends the whole package and hangs up.
            self.send_response(200)
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.write(PACKAGES["A"])
            self.wfile.flush()
            self.close_connection = True
            return
        if path == "/norange":
            return self.serve_package("A", honour_range=False)
        if path == "/chunked":
            data = PACKAGES["A"]
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.send_header("Content-Type", "application/zip")
            self.end_headers()
            for i in range(0, len(data), 65536):
                piece = data[i:i + 65536]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.write(b"0\r\n\r\n")
            return
        if path in ("/404", "/500"):
            body = b"<html><body>error page</body></html>"
            return self.send_body(int(path[1:]), body, [("Content-Type", "text/html"),
                                                        ("Content-Length", str(len(body)))])
        if path == "/headers":
            body = b"hello"
            return self.send_body(200, body, [("Set-Cookie", "a=1"), ("Set-Cookie", "b=2"),
                                              ("Content-Type", "text/plain"),
                                              ("Content-Length", str(len(body)))])
        self.send_body(404, b"", [("Content-Length", "0")])


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    for name, path in zip("AB", sys.argv[1:3]):
        with open(path, "rb") as f:
            PACKAGES[name] = f.read()
        if os.path.exists(path + ".sig"):
            with open(path + ".sig", "rb") as f:
                SIGNATURES[name] = f.read()
    server = Server(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()

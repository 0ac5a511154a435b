#!/usr/bin/env python3
# tests/http/server.py: a small HTTP server on 127.0.0.1 for the url! tests and benchmarks.
#
#   server.py ZYL TRANSCRIPT   starts a server (and a TLS one with the self-signed certificate
#                              beside this file) on free loopback ports, runs the transcript
#                              through tests/transcript.py with PORT, TLSPORT and BADPORT
#                              replaced by the ports (BADPORT: bound, then closed), and stops
#                              the servers whatever happened.
#
# Routes: /echo answers the request as received (method and path, each header line, the body);
# /text, /bin, /lines, /bad-utf8 fixed bodies; /status/N an empty answer of status N;
# /repeat two Set-Cookie headers and "X-A:b"; /hop/N redirects N times (307), /see-other once
# (303); /loop redirects to itself; /size/N N bytes; /count answers how many times it was asked.
import http.server
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
hits = {"count": 0}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body=b"", headers=()):
        self.send_response_only(status)
        for k, v in headers:
            self.send_header(k, v)
        if status not in (204, 304):
            self.send_header("Content-Length", str(len(body)))
        # Head and body in one write: a second small write would wait for the client's
        # delayed acknowledgement on a kept-alive connection.
        self._headers_buffer.append(b"\r\n" + (body if self.command != "HEAD" else b""))
        self.flush_headers()

    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        p = self.path
        if p == "/echo":
            text = f"{self.command} {p}\n".encode()
            for k, v in self.headers.items():
                text += f"{k}: {v}\n".encode()
            self.reply(200, text + b"body: " + body)
        elif p == "/text":
            self.reply(200, "h\u00e9llo".encode())
        elif p == "/bin":
            self.reply(200, b"\xff\x00")
        elif p == "/lines":
            self.reply(200, b"a\nb\r\nc")
        elif p == "/bad-utf8":
            self.reply(200, b"a\xffb")
        elif p.startswith("/status/"):
            self.reply(int(p[8:]), b"" if p[8:] in ("204", "304") else b"gone")
        elif p == "/repeat":
            self.send_response_only(200)
            self.send_header("Set-Cookie", "a=1")
            self.send_header("Set-Cookie", "b=2")
            self.send_header("Content-Length", "2")
            self._headers_buffer.append(b"X-A:b\r\n\r\nok")  # no blank after the colon
            self.flush_headers()
        elif p.startswith("/hop/"):
            n = int(p[5:])
            if n == 0:
                self.reply(200, f"landed by {self.command}".encode())
            else:
                self.reply(307, b"", [("Location", f"/hop/{n - 1}")])
        elif p == "/see-other":
            self.reply(303, b"", [("Location", "/hop/0")])
        elif p == "/loop":
            self.reply(302, b"", [("Location", "/loop")])
        elif p.startswith("/size/"):
            self.reply(200, b"x" * int(p[6:]))
        elif p == "/count":
            hits["count"] += 1
            self.reply(200, str(hits["count"]).encode())
        else:
            self.reply(404, b"no such page")

    do_GET = do_POST = do_HEAD = do_PUT = do_DELETE = do_PATCH = handle_any


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True


def start(tls=False):
    server = Server(("127.0.0.1", 0), Handler)
    if tls:
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(os.path.join(HERE, "self-signed.crt"), os.path.join(HERE, "self-signed.key"))
        server.socket = ctx.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def closed_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def main():
    zyl, path = sys.argv[1], sys.argv[2]
    plain, tls = start(), start(tls=True)
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
        text = (text.replace("TLSPORT", str(tls.server_address[1]))
                .replace("BADPORT", str(closed_port()))
                .replace("PORT", str(plain.server_address[1])))
        env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
        with tempfile.NamedTemporaryFile("w", suffix=".txt", encoding="utf-8", delete=False) as t:
            t.write(text)
        try:
            r = subprocess.run([sys.executable, os.path.join(HERE, "..", "transcript.py"), zyl, t.name],
                               env=env, timeout=300)
        finally:
            os.unlink(t.name)
        sys.exit(r.returncode)
    finally:
        plain.shutdown()
        tls.shutdown()


if __name__ == "__main__":
    main()

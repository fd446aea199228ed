#!/usr/bin/python3
"""A web server over HTTPS for tests and demos, on 127.0.0.1 only.

    /usr/bin/python3 tools/web_server.py --root DIR --tls-dir DIR [--log FILE]
        [--port N] [--rate BYTES_PER_SECOND] [--fault KIND:NAME ...]

Makes a new certificate authority and a certificate for 127.0.0.1 and
localhost signed by it (ca.pem in --tls-dir, as tools/ftp_server.py does;
a pair already there is used again),
prints the port on stdout once it accepts connections, then serves DIR
until it is terminated. Without faults the server is Debian's nginx (HTTP/2,
ranges, ETag); with them, this script's own server, which serves the files
the same way except for the file NAME of a fault:
  short        a request without Range gets half the file, then the
               connection closes (a Range request is served whole)
  wrong-range  206 with a Content-Range one byte off
  no-range     200 and the whole file on a Range request
  stall        half the file, then silence
  trickle      about 2 bytes a second
  to-http      302 to the same path over plain http
  loop         302 to itself
  other-host   302 to a web page on localhost
  gzip         the file gzip-compressed, Content-Encoding: gzip
--rate sends each reply of nginx at most that fast (0: no limit).
--log FILE records each request: method, path, status, Range, If-Range.
Needs Debian's nginx and python3-openssl.
"""

import argparse
import ctypes
import email.utils
import gzip
import http.server
import os
import signal
import socket
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from ftp_server import make_certificates  # noqa: E402

STOP = threading.Event()
NGINX = """daemon off; master_process off; worker_processes 1;
pid {tls}/nginx.pid; error_log {tls}/error.log;
events {{ worker_connections 256; }}
http {{
  log_format avendro '$request_method $uri $status range=$http_range if-range=$http_if_range';
  access_log {log};
  client_body_temp_path {tls}/body; proxy_temp_path {tls}/proxy;
  fastcgi_temp_path {tls}/fastcgi; uwsgi_temp_path {tls}/uwsgi; scgi_temp_path {tls}/scgi;
  default_type application/octet-stream;
  server {{
    listen 127.0.0.1:{port} ssl http2;
    ssl_certificate {pem}; ssl_certificate_key {pem};
    root {root};
    limit_rate {rate};
  }}
}}
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def run_nginx(opts, pem):
    port = opts.port or free_port()
    conf = os.path.join(opts.tls_dir, "nginx.conf")
    with open(conf, "w") as out:
        out.write(NGINX.format(tls=opts.tls_dir, log=opts.log + " avendro" if opts.log else "off", port=port, pem=pem,
                               root=os.path.abspath(opts.root), rate=opts.rate))
    # nginx ends with this script, however it ends (PR_SET_PDEATHSIG).
    nginx = subprocess.Popen(["/usr/sbin/nginx", "-e", os.path.join(opts.tls_dir, "error.log"),
                              "-p", opts.tls_dir, "-c", conf],
                             preexec_fn=lambda: ctypes.CDLL(None).prctl(1, signal.SIGTERM))
    signal.signal(signal.SIGTERM, lambda *_: nginx.terminate())
    while nginx.poll() is None:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            print(port, flush=True)
            break
        except OSError:
            time.sleep(0.05)
    sys.exit(nginx.wait())


def make_handler(opts, faults):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def record(self, status):
            if opts.log:
                with open(opts.log, "a") as out:
                    out.write("%s %s %d range=%s if-range=%s\n" % (
                        self.command, self.path, status, self.headers.get("Range", "-"),
                        self.headers.get("If-Range", "-")))

        def reply(self, status, headers, body=b"", sent=None):
            self.record(status)
            self.send_response(status)
            for name, value in headers:
                self.send_header(name, value)
            self.end_headers()
            if self.command == "GET":
                self.wfile.write(body if sent is None else body[:sent])

        def do_HEAD(self):
            self.do_GET()

        def do_GET(self):
            path = urllib.parse.unquote(self.path.split("?")[0])
            kind = faults.get(os.path.basename(path))
            host = "127.0.0.1:%d" % self.server.server_address[1]
            if kind == "to-http":
                return self.reply(302, [("Location", "http://" + host + path), ("Content-Length", "0")])
            if kind == "loop":
                return self.reply(302, [("Location", path), ("Content-Length", "0")])
            if kind == "other-host":
                return self.reply(302, [("Location", "https://localhost:%d/portale" % self.server.server_address[1]),
                                        ("Content-Length", "0")])
            if path == "/portale":
                page = b"<html><body>Accesso alla rete</body></html>"
                return self.reply(200, [("Content-Type", "text/html"), ("Content-Length", str(len(page)))], page)
            file = os.path.join(opts.root, path.lstrip("/"))
            if not os.path.isfile(file):
                return self.reply(404, [("Content-Length", "0")])
            with open(file, "rb") as f:
                data = f.read()
            mtime = os.stat(file).st_mtime
            etag = '"%x-%x"' % (int(mtime), len(data))
            headers = [("Last-Modified", email.utils.formatdate(mtime, usegmt=True)), ("ETag", etag)]
            wanted = self.headers.get("Range", "")
            guard = self.headers.get("If-Range")
            start = 0
            if wanted.startswith("bytes=") and kind != "no-range" and guard in (None, etag, headers[0][1]):
                start = int(wanted[6:].split("-")[0])
            if kind == "gzip":
                data = gzip.compress(data)
                headers.append(("Content-Encoding", "gzip"))
            if (kind == "wrong-range" and self.command == "GET") or start > 0:
                first = start + (1 if kind == "wrong-range" else 0)
                headers.append(("Content-Range", "bytes %d-%d/%d" % (first, len(data) - 1, len(data))))
                body = data[start:]
                return self.reply(206, headers + [("Content-Length", str(len(body)))], body)
            headers.append(("Content-Length", str(len(data))))
            if self.command == "HEAD" or kind not in ("short", "stall", "trickle"):
                return self.reply(200, headers, data)
            self.reply(200, headers, data, sent=len(data) // 2 if kind != "trickle" else 0)
            self.wfile.flush()
            if kind == "trickle":
                for byte in range(len(data)):
                    if STOP.wait(0.5):
                        break
                    self.wfile.write(data[byte:byte + 1])
                    self.wfile.flush()
            elif kind == "stall":
                STOP.wait(120)
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)

    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--tls-dir", required=True)
    parser.add_argument("--log")
    parser.add_argument("--fault", action="append", default=[])
    parser.add_argument("--rate", type=int, default=0)
    parser.add_argument("--port", type=int, default=0)
    opts = parser.parse_args()
    opts.tls_dir = os.path.abspath(opts.tls_dir)
    pem = os.path.join(opts.tls_dir, "server.pem")
    if not (os.path.exists(pem) and os.path.exists(os.path.join(opts.tls_dir, "ca.pem"))):
        pem = make_certificates(opts.tls_dir, ["127.0.0.1", "localhost"])
    faults = dict(reversed(f.split(":", 1)) for f in opts.fault)
    if not faults:
        return run_nginx(opts, pem)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", opts.port), make_handler(opts, faults))
    server.daemon_threads = True
    server.handle_error = lambda *_: None  # a client that hangs up is no news here
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(pem)
    server.socket = context.wrap_socket(server.socket, server_side=True)

    def stop(*_):
        STOP.set()
        threading.Thread(target=server.shutdown).start()

    signal.signal(signal.SIGTERM, stop)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""An RFC 3161 timestamping server for tests on 127.0.0.1: answers each POSTed
query with `openssl ts -reply`, signed as the [tsa] section of CONFIG says.
Prints its port first. Usage: tools/timestamp_server.py CONFIG"""
import http.server
import subprocess
import sys


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", sys.argv[1], "-queryfile",
                                "/dev/stdin", "-out", "/dev/stdout"], input=query,
                               stdout=subprocess.PIPE, check=False).stdout
        self.send_response(200 if reply else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
print(server.server_port, flush=True)
server.serve_forever()

#!/usr/bin/python3
"""Starts tools/ftp_server.py for test programs that cannot start it themselves.

    /usr/bin/python3 tools/ftp_server_spawner.py

The Windows tests run under Wine, where a test program cannot start the
Linux python that runs the test FTP server. This spawner listens on
127.0.0.1 and prints its port on stdout. Each connection sends one line:
the options of tools/ftp_server.py separated by tabs (paths as Unix paths).
The spawner starts the server with them, sends back the line the server
prints (its port), and stops the server when the connection ends, either
side, then closes it, so that a test program that crashes leaves no server
behind. Runs until it is terminated; its servers go with it.
"""

import os
import signal
import socket
import subprocess
import sys
import threading

SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ftp_server.py")
SERVERS = set()
LOCK = threading.Lock()


def stop(server):
    server.terminate()
    try:
        server.wait(timeout=10)
    except subprocess.TimeoutExpired:
        server.kill()
        server.wait()


def serve(conn):
    with conn:
        request = b""
        while not request.endswith(b"\n"):
            chunk = conn.recv(4096)
            if not chunk:
                return
            request += chunk
        options = request.decode("utf-8").rstrip("\n").split("\t")
        # Only the server's options: what follows the script can start nothing else.
        server = subprocess.Popen(
            [sys.executable, SERVER] + options, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE
        )
        with LOCK:
            SERVERS.add(server)
        try:
            conn.sendall(server.stdout.readline() or b"0 the server ended without a port\n")
            # Until the test closes its side, or goes away.
            while True:
                try:
                    if not conn.recv(4096):
                        break
                except OSError:
                    break
        finally:
            stop(server)
            with LOCK:
                SERVERS.discard(server)


def main():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)

    def leave(*_):
        with LOCK:
            for server in list(SERVERS):
                stop(server)
        os._exit(0)

    signal.signal(signal.SIGTERM, leave)
    signal.signal(signal.SIGINT, leave)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    main()

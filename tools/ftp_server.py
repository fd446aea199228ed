#!/usr/bin/python3
"""A small FTP server for tests and demos, on 127.0.0.1 only.

    /usr/bin/python3 tools/ftp_server.py --home DIR --user U --password P
        [--port N] [--refuse NAME] [--break NAME] [--stall NAME]
        [--stall-greeting] [--log FILE]

Prints the port on stdout once it accepts connections, then serves until
it is terminated. Faults, for the file NAME of any folder:
  --refuse NAME      RETR answers 550
  --break NAME       the transfer sends half the file, then aborts (426)
  --stall NAME       the transfer sends half the file, then sends nothing
  --stall-greeting   new connections get no greeting
A stall lasts at most --stall-seconds (default 120). --log FILE records
the sessions (logins, commands, disconnects) in FILE.
Needs Debian's python3-pyftpdlib.
"""

import argparse
import os
import sys
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FileProducer, FTPHandler
from pyftpdlib.servers import ThreadedFTPServer

STOP = threading.Event()


def pause(seconds):
    """Sleeps up to `seconds`, less when the server is stopping."""
    STOP.wait(seconds)


class HalfFile:
    """Reads the first half of a file, then breaks off or stalls."""

    def __init__(self, fd, stall, stall_seconds):
        self._fd = fd
        self._left = os.fstat(fd.fileno()).st_size // 2
        self._stall = stall
        self._stall_seconds = stall_seconds
        self.name = fd.name
        self.closed = False

    def read(self, size):
        if self._left > 0:
            data = self._fd.read(min(size, self._left))
            self._left -= len(data)
            return data
        if self._stall:
            # Threaded server: this blocks only this session.
            pause(self._stall_seconds)
            return b""
        raise OSError(5, "transfer broken off on purpose")

    def close(self):
        self.closed = True
        self._fd.close()


def make_handler(opts):
    class Handler(FTPHandler):
        banner = "Avendro test server ready."
        permit_foreign_addresses = False

        def handle(self):
            if opts.stall_greeting:
                pause(opts.stall_seconds)
            super().handle()

        def ftp_RETR(self, file):
            name = os.path.basename(file)
            if name in opts.refuse:
                self.respond("550 Refused on purpose.")
                return None
            if name in opts.break_ or name in opts.stall:
                try:
                    fd = self.run_as_current_user(self.fs.open, file, "rb")
                except OSError as err:
                    self.respond("550 %s." % err.strerror)
                    return None
                producer_file = HalfFile(fd, name in opts.stall, opts.stall_seconds)
                producer = FileProducer(producer_file, self._current_type)
                self.push_dtp_data(producer, isproducer=True, file=producer_file, cmd="RETR")
                return file
            return super().ftp_RETR(file)

    return Handler


def main():
    parser = argparse.ArgumentParser(description="Local FTP server for Avendro tests and demos")
    parser.add_argument("--home", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--refuse", action="append", default=[])
    parser.add_argument("--break", dest="break_", action="append", default=[])
    parser.add_argument("--stall", action="append", default=[])
    parser.add_argument("--stall-greeting", action="store_true")
    parser.add_argument("--stall-seconds", type=float, default=120.0)
    parser.add_argument("--log")
    opts = parser.parse_args()

    import logging

    if opts.log:
        logging.basicConfig(level=logging.INFO, filename=opts.log)
    else:
        logging.basicConfig(level=logging.WARNING, stream=sys.stderr)

    authorizer = DummyAuthorizer()
    authorizer.add_user(opts.user, opts.password, os.path.abspath(opts.home), perm="elr")
    handler = make_handler(opts)
    handler.authorizer = authorizer
    server = ThreadedFTPServer(("127.0.0.1", opts.port), handler)
    server.max_cons = 64
    print(server.address[1], flush=True)
    try:
        server.serve_forever(handle_exit=True)
    finally:
        STOP.set()
        server.close_all()


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""A small FTP server for tests and demos, on 127.0.0.1 only.

    /usr/bin/python3 tools/ftp_server.py --home DIR --user U --password P
        [--port N] [--log FILE] [--tls [--tls-wrong-name] [--tls-dir DIR]]
        [--refuse NAME] [--break NAME] [--stall NAME] [--short NAME]
        [--long NAME] [--no-size NAME] [--trickle NAME] [--stall-greeting]
        [--announce-short NAME] [--no-rest] [--not-ftp] [--echo-password]
        [--rate BYTES_PER_SECOND] [--upload-folder FOLDER]
        [--publish-folder FOLDER]

Prints the port on stdout once it accepts connections, then serves until
it is terminated. Faults, for the file NAME of any folder:
  --refuse NAME      RETR answers 550
  --break NAME       each transfer sends half the file's size (or
                     --break-after bytes) and aborts (426), unless the
                     file ends first: a transfer resumed with REST goes on
  --stall NAME       the same, but sends nothing instead of aborting
  --short NAME       the transfer ends (226) at the middle of the file
  --long NAME        the transfer sends the file and some more bytes (226)
  --no-size NAME     SIZE and MDTM answer 502, as on a server without them
  --trickle NAME     the transfer sends about 2 bytes a second
  --stall-greeting   new connections get no greeting
  --announce-short NAME  as --no-size, and the transfer's 150 reply says
                     "(<size> bytes)" but the transfer ends (226) at a third
  --no-rest          REST answers 502, as on a server that cannot resume
  --not-ftp          new connections are greeted by an SSH server's line
  --echo-password    a refused login's 530 reply repeats the password given
A stall or a trickle lasts at most --stall-seconds (default 120), then the
transfer ends (226) with what has been sent. --log FILE records the
sessions (logins, REST, SIZE and MDTM, transfers with their bytes, and at
each disconnect the bytes sent on the control connection) in FILE.
--rate sends the data of every transfer at most that fast, evenly, as
over a link of that speed (125000000 for 1 Gbit/s), with or without TLS.
--upload-folder FOLDER (below the home, made when missing) allows storing
and renaming files there, and nowhere else: the shops' reports.
--publish-folder FOLDER allows storing, renaming and deleting there: the
vendor's account, as tools/publish uses it.

--tls makes a new certificate authority and a certificate for 127.0.0.1
and localhost signed by it (with --tls-wrong-name, for other.example
only), writes the authority to ca.pem in --tls-dir (default: beside the
home, HOME.tls) and requires TLS (AUTH TLS, PROT P) on the control and
the data connections.
Needs Debian's python3-pyftpdlib and python3-openssl.
"""

import argparse
import datetime
import errno
import ipaddress
import logging
import os
import sys
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FileProducer, FTPHandler, _FileReadWriteError
from pyftpdlib.log import logger
from pyftpdlib.servers import ThreadedFTPServer

STOP = threading.Event()

# What --long adds after the file.
EXTRA = b"-- more bytes than SIZE said --\n"

# The seconds between the bytes of a --trickle transfer.
TRICKLE_GAP = 0.5

# How far, in seconds, a --rate transfer may run ahead of its rate before it
# waits: a few milliseconds, since the loop's timers are no finer.
PACE_GAP = 0.004


def pause(seconds):
    """Sleeps up to `seconds`, less when the server is stopping."""
    STOP.wait(seconds)


class FaultyFile:
    """Reads a file for one faulty transfer, from where the transfer starts
    (after REST), for a fault of `kind`:
      "break"    `limit` bytes, then an error (426), unless the file ends first
      "stall"    `limit` bytes, then nothing for `stall_seconds`, then the end
      "short"    up to byte `limit` of the file, then the end (226)
      "long"     the file, then EXTRA, then the end (226)
      "trickle"  one byte every TRICKLE_GAP seconds for `stall_seconds`
                 at most, then the end (226)
    The server is threaded: a wait blocks only this session."""

    def __init__(self, fd, kind, limit, stall_seconds):
        self._fd = fd
        self._kind = kind
        self._stall_seconds = stall_seconds
        self._size = os.fstat(fd.fileno()).st_size
        start = fd.tell()
        if kind == "short":
            self._left = max(0, limit - start)
        elif kind in ("break", "stall"):
            self._left = min(limit, self._size - start)
        else:
            self._left = self._size - start
        self._started = time.monotonic()
        self.name = fd.name
        self.closed = False

    def read(self, size):
        if self._kind == "trickle":
            if time.monotonic() - self._started >= self._stall_seconds:
                return b""
            pause(TRICKLE_GAP)
            size = 1
        if self._left > 0:
            data = self._fd.read(min(size, self._left))
            self._left -= len(data)
            if data:
                return data
            self._left = 0
        if self._kind == "long":
            self._kind = "done"
            return EXTRA
        if self._kind in ("break", "stall") and self._fd.tell() < self._size:
            if self._kind == "break":
                raise OSError(errno.EIO, "Transfer broken off on purpose")
            pause(self._stall_seconds)
        return b""

    def close(self):
        self.closed = True
        self._fd.close()


def make_certificates(folder, names):
    """Writes ca.pem (a new certificate authority) and server.pem (a key and
    a certificate for `names`, IP addresses or host names, signed by that
    authority) into `folder`; returns the path of server.pem."""
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import rsa
    from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

    def name(common):
        return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, common)])

    now = datetime.datetime.now(datetime.timezone.utc)
    start, end = now - datetime.timedelta(days=1), now + datetime.timedelta(days=30)

    ca_key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
    ca_name = name("Avendro test authority")
    ca = (
        x509.CertificateBuilder()
        .subject_name(ca_name)
        .issuer_name(ca_name)
        .public_key(ca_key.public_key())
        .serial_number(x509.random_serial_number())
        .not_valid_before(start)
        .not_valid_after(end)
        .add_extension(x509.BasicConstraints(ca=True, path_length=0), critical=True)
        .add_extension(
            x509.KeyUsage(
                digital_signature=True, content_commitment=False, key_encipherment=False,
                data_encipherment=False, key_agreement=False, key_cert_sign=True,
                crl_sign=True, encipher_only=False, decipher_only=False,
            ),
            critical=True,
        )
        .add_extension(x509.SubjectKeyIdentifier.from_public_key(ca_key.public_key()), critical=False)
        .sign(ca_key, hashes.SHA256())
    )

    alt_names = []
    for entry in names:
        try:
            alt_names.append(x509.IPAddress(ipaddress.ip_address(entry)))
        except ValueError:
            alt_names.append(x509.DNSName(entry))
    key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
    cert = (
        x509.CertificateBuilder()
        .subject_name(name(names[0]))
        .issuer_name(ca_name)
        .public_key(key.public_key())
        .serial_number(x509.random_serial_number())
        .not_valid_before(start)
        .not_valid_after(end)
        .add_extension(x509.BasicConstraints(ca=False, path_length=None), critical=True)
        .add_extension(
            x509.KeyUsage(
                digital_signature=True, content_commitment=False, key_encipherment=True,
                data_encipherment=False, key_agreement=False, key_cert_sign=False,
                crl_sign=False, encipher_only=False, decipher_only=False,
            ),
            critical=True,
        )
        .add_extension(x509.ExtendedKeyUsage([ExtendedKeyUsageOID.SERVER_AUTH]), critical=False)
        .add_extension(x509.SubjectAlternativeName(alt_names), critical=False)
        .add_extension(x509.SubjectKeyIdentifier.from_public_key(key.public_key()), critical=False)
        .add_extension(
            x509.AuthorityKeyIdentifier.from_issuer_public_key(ca_key.public_key()), critical=False
        )
        .sign(ca_key, hashes.SHA256())
    )

    os.makedirs(folder, exist_ok=True)
    server_pem = os.path.join(folder, "server.pem")
    with open(server_pem, "wb") as out:
        out.write(
            key.private_bytes(
                serialization.Encoding.PEM,
                serialization.PrivateFormat.TraditionalOpenSSL,
                serialization.NoEncryption(),
            )
        )
        out.write(cert.public_bytes(serialization.Encoding.PEM))
    # Written last, under its final name at once: whoever sees ca.pem sees it whole.
    ca_pem = os.path.join(folder, "ca.pem")
    with open(ca_pem + ".part", "wb") as out:
        out.write(ca.public_bytes(serialization.Encoding.PEM))
    os.replace(ca_pem + ".part", ca_pem)
    return server_pem


def data_handler(base):
    """`base`, a pyftpdlib data connection, answering 426 when a file cannot
    be read further (what --break does)."""

    class DataHandler(base):
        def handle_error(self):
            try:
                raise
            except _FileReadWriteError as err:
                # DTPHandler says "None" for the reason, and under TLS
                # SSLConnection.handle_error() closes without any answer:
                # the client would wait for the end of the transfer.
                reason = getattr(err.args[0], "strerror", None) or "Input/output error"
                self._resp = ("426 %s; transfer aborted." % reason, logger.info)
                self._error = True
                DTPHandler.close(self)  # without a TLS shutdown, as a break
            except Exception:
                super().handle_error()

    return DataHandler


def paced(base, rate):
    """`base`, a pyftpdlib data connection, sending at most `rate` bytes a
    second: whenever the bytes sent run ahead of the clock by more than
    PACE_GAP, the connection leaves the loop until the clock catches up.
    pyftpdlib's own ThrottledDTPHandler sends a second's worth of bytes at
    full speed and then sleeps, which is no link. No sendfile: every byte
    goes through send()."""

    class PacedHandler(base):
        _paced_start = None
        _paced_sent = 0
        _paced_wake = None

        def use_sendfile(self):
            return False

        def send(self, data):
            sent = super().send(data)
            now = time.monotonic()
            if self._paced_start is None:
                self._paced_start = now
            self._paced_sent += sent
            ahead = self._paced_start + self._paced_sent / rate - now
            if ahead > PACE_GAP and self.connected:
                self.del_channel()
                self._paced_wake = self.ioloop.call_later(
                    ahead, self._paced_resume, _errback=self.handle_error
                )
            return sent

        def _paced_resume(self):
            self._paced_wake = None
            # Registers the connection again unless something else has.
            self.modify_ioloop_events(self.ioloop.WRITE)

        def close(self):
            if self._paced_wake is not None and not self._paced_wake.cancelled:
                self._paced_wake.cancel()
            self._paced_wake = None
            super().close()

    return PacedHandler


def tls_data_handler():
    """TLS_DTPHandler surviving its TLS handshake.

    pyftpdlib 1.5.7 closes a data connection that becomes readable before
    the transfer command has arrived: DTPHandler.readable() takes it for a
    client that went away. curl opens the data connection and starts its
    TLS handshake right after EPSV/PASV, before it sends TYPE and RETR (or
    LIST, NLST), so its ClientHello is that early data: the server closes
    the connection in the middle of the handshake, curl reports "SSL_connect:
    Connection reset by peer", falls back from EPSV to PASV and then reads
    the answer to TYPE as the answer to PASV ("Bad PASV/EPSV response: 200").
    So every TLS transfer fails, whatever its size, listings too; a client
    that sends RETR before it connects (Python's ftplib) never meets it.
    Here the data connection stays readable while its handshake is in
    progress.
    """
    from pyftpdlib.handlers import TLS_DTPHandler

    class DataHandler(data_handler(TLS_DTPHandler)):
        def readable(self):
            if self._ssl_accepting:
                return True
            return super().readable()

    return DataHandler


def make_handler(opts):
    if opts.tls:
        from pyftpdlib.handlers import TLS_FTPHandler

        folder = opts.tls_dir or os.path.abspath(opts.home).rstrip(os.sep) + ".tls"
        names = ["other.example"] if opts.tls_wrong_name else ["127.0.0.1", "localhost"]

        class base(TLS_FTPHandler):
            certfile = make_certificates(folder, names)
            dtp_handler = tls_data_handler()
            tls_control_required = True
            tls_data_required = True

    else:

        class base(FTPHandler):
            dtp_handler = data_handler(DTPHandler)

    if opts.rate:
        base.dtp_handler = paced(base.dtp_handler, opts.rate)

    class Handler(base):
        banner = "Avendro test server ready."
        permit_foreign_addresses = False
        # pyftpdlib waits 3 s before refusing a login; vsftpd waits 1 s.
        auth_failed_timeout = 0.5
        _fault = None
        _announce = None
        _password_given = ""

        def handle(self):
            if opts.stall_greeting:
                pause(opts.stall_seconds)
            if opts.not_ftp:
                self.push("SSH-2.0-OpenSSH_9.2p1 Debian-2\r\n")
                return
            super().handle()

        def ftp_REST(self, line):
            if opts.no_rest:
                self.respond("502 Command not implemented.")
                return None
            return super().ftp_REST(line)

        _control_bytes = 0

        def ftp_PASS(self, line):
            self._password_given = line
            return super().ftp_PASS(line)

        def respond(self, resp, logfun=logger.debug):
            if opts.echo_password and resp.startswith("530 "):
                resp = "530 Password errata: %s" % self._password_given
            if self._announce is not None and resp[:4] in ("150 ", "125 "):
                resp = "%sOpening BINARY mode data connection (%d bytes)." % (resp[:4], self._announce)
            self._control_bytes += len(resp) + 2
            super().respond(resp, logfun)

        def on_disconnect(self):
            # What the client received on the control connection; the data
            # connections' bytes are in the lines of the transfers.
            self.log("control bytes sent %d" % self._control_bytes)
            super().on_disconnect()

        def process_command(self, cmd, *args, **kwargs):
            super().process_command(cmd, *args, **kwargs)
            # pyftpdlib does not record these; tests count them.
            if cmd in ("REST", "SIZE", "MDTM"):
                arg = args[0] if args else ""
                if cmd != "REST":
                    arg = self.fs.fs2ftp(arg)
                self.log("%s %s %s" % (cmd, arg, self._last_response[:3]))

        # What a server without SIZE and MDTM answers. Not 550: for that
        # curl takes the file for missing.
        def ftp_SIZE(self, path):
            if os.path.basename(path) in opts.no_size + opts.announce_short:
                self.respond("502 Command not implemented.")
                return None
            return super().ftp_SIZE(path)

        def ftp_MDTM(self, path):
            if os.path.basename(path) in opts.no_size + opts.announce_short:
                self.respond("502 Command not implemented.")
                return None
            return super().ftp_MDTM(path)

        def ftp_RETR(self, file):
            name = os.path.basename(file)
            if name in opts.refuse:
                self.respond("550 Refused on purpose.")
                return None
            self._fault = fault_of(name)
            if name in opts.announce_short:
                self._announce = os.path.getsize(file)
            try:
                return super().ftp_RETR(file)
            finally:
                self._fault = None
                self._announce = None

        def push_dtp_data(self, data, isproducer=False, file=None, cmd=None):
            # pyftpdlib's RETR has opened the file and gone to the REST position.
            if self._fault is not None and cmd == "RETR" and file is not None:
                kind, limit = self._fault(os.fstat(file.fileno()).st_size)
                file = FaultyFile(file, kind, limit, opts.stall_seconds)
                data = FileProducer(file, self._current_type)
            return super().push_dtp_data(data, isproducer, file, cmd)

    def fault_of(name):
        """The fault for the file `name`: a function of its size that gives
        the kind and the limit of FaultyFile, or None."""
        if name in opts.break_:
            if opts.break_after is not None:
                return lambda size: ("break", opts.break_after)
            return lambda size: ("break", size // 2)
        for kind, names in (("stall", opts.stall), ("short", opts.short)):
            if name in names:
                return lambda size, kind=kind: (kind, size // 2)
        if name in opts.announce_short:
            return lambda size: ("short", size // 3)
        for kind, names in (("long", opts.long), ("trickle", opts.trickle)):
            if name in names:
                return lambda size, kind=kind: (kind, None)
        return None

    return Handler


def watch_parent():
    """Ends the server when the program that started it is gone: a test
    that crashes must not leave a server holding its runner's output."""
    parent = os.getppid()

    def watch():
        while os.getppid() == parent:
            time.sleep(0.2)
        os._exit(0)

    threading.Thread(target=watch, daemon=True).start()


def main():
    parser = argparse.ArgumentParser(description="Local FTP server for Avendro tests and demos")
    parser.add_argument("--home", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--refuse", action="append", default=[])
    parser.add_argument("--break", dest="break_", action="append", default=[])
    parser.add_argument("--break-after", type=int)
    parser.add_argument("--stall", action="append", default=[])
    parser.add_argument("--short", action="append", default=[])
    parser.add_argument("--long", action="append", default=[])
    parser.add_argument("--no-size", action="append", default=[])
    parser.add_argument("--trickle", action="append", default=[])
    parser.add_argument("--stall-greeting", action="store_true")
    parser.add_argument("--announce-short", action="append", default=[])
    parser.add_argument("--no-rest", action="store_true")
    parser.add_argument("--not-ftp", action="store_true")
    parser.add_argument("--echo-password", action="store_true")
    parser.add_argument("--stall-seconds", type=float, default=120.0)
    parser.add_argument("--tls", action="store_true")
    parser.add_argument("--tls-wrong-name", action="store_true")
    parser.add_argument("--tls-dir")
    parser.add_argument("--rate", type=int, default=0)
    parser.add_argument("--log")
    parser.add_argument("--upload-folder", action="append", default=[],
                        help="a folder below the home where files may be stored and renamed")
    parser.add_argument("--publish-folder", action="append", default=[],
                        help="a folder below the home where files may be stored, renamed, deleted")
    opts = parser.parse_args()

    if opts.log:
        logging.basicConfig(level=logging.INFO, filename=opts.log)
    else:
        logging.basicConfig(level=logging.WARNING, stream=sys.stderr)

    authorizer = DummyAuthorizer()
    authorizer.add_user(opts.user, opts.password, os.path.abspath(opts.home), perm="elr")
    # As a vendor allows it on vsftpd: store and rename in that folder alone.
    for folder in opts.upload_folder:
        path = os.path.join(os.path.abspath(opts.home), folder)
        os.makedirs(path, exist_ok=True)
        authorizer.override_perm(opts.user, path, perm="elrwf", recursive=True)
    for folder in opts.publish_folder:
        path = os.path.join(os.path.abspath(opts.home), folder)
        os.makedirs(path, exist_ok=True)
        authorizer.override_perm(opts.user, path, perm="elrwfd", recursive=True)
    handler = make_handler(opts)
    handler.authorizer = authorizer
    server = ThreadedFTPServer(("127.0.0.1", opts.port), handler)
    server.max_cons = 64
    watch_parent()
    print(server.address[1], flush=True)
    try:
        server.serve_forever(handle_exit=True)
    finally:
        STOP.set()
        server.close_all()


if __name__ == "__main__":
    main()

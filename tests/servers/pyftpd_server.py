#!/usr/bin/python3
"""A pyftpdlib server for Tavrin's tests, on 127.0.0.1 on a port the kernel picks.

Prints "TAVRIN_PYFTPD_PORT=<port>" once it listens, and appends every command line it
receives (as sent, passwords included) to --command-log, flushed line by line.
"""
import argparse
import logging
import os
import signal
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

NOT_IMPLEMENTED = "500 This security scheme is not implemented"


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("--root", required=True)
    p.add_argument("--user", required=True)
    p.add_argument("--password", required=True)
    p.add_argument("--command-log", required=True)
    p.add_argument("--host", default="127.0.0.1", choices=["127.0.0.1", "::1"])
    p.add_argument("--port", type=int, default=0, help="0: the kernel picks one")
    p.add_argument("--tls", action="store_true")
    p.add_argument("--certfile")
    p.add_argument("--keyfile")
    p.add_argument("--cafile", help="verify client certificates against this CA")
    p.add_argument("--auth", choices=["ssl-and-tls", "tls-only", "none"], default="ssl-and-tls")
    return p.parse_args()


def recording(base, log):
    class Recording(base):
        def found_terminator(self):
            line = b"".join(self._in_buffer).decode("utf-8", errors="replace")
            log.write(line + "\n")
            log.flush()
            super().found_terminator()

    return Recording


def tls_handler(base, args):
    from OpenSSL import SSL
    from pyftpdlib.handlers import TLS_DTPHandler

    class EarlyHandshakeDTP(TLS_DTPHandler):
        # Clients may start TLS on a protected data connection as soon as it is connected,
        # before RETR/STOR. pyftpdlib would take that early ClientHello for a hang-up and
        # close the connection; real servers carry on with the handshake, and so do we.
        def readable(self):
            if self._ssl_accepting or self._ssl_want_read:
                return True
            return super().readable()

    class Handler(base):
        dtp_handler = EarlyHandshakeDTP
        certfile = args.certfile
        keyfile = args.keyfile

        def __init__(self, *a, **kw):
            super().__init__(*a, **kw)
            if args.auth == "tls-only":
                self._extra_feats = ["AUTH TLS", "PBSZ", "PROT"]
            elif args.auth == "none":
                self._extra_feats = []

        def ftp_AUTH(self, line):
            scheme = line.upper()
            if args.auth == "none" or (args.auth == "tls-only" and scheme == "SSL"):
                self.respond(NOT_IMPLEMENTED)
                return
            super().ftp_AUTH(line)

    context = SSL.Context(SSL.TLS_METHOD)
    context.set_options(SSL.OP_NO_SSLv2 | SSL.OP_NO_SSLv3 | SSL.OP_NO_COMPRESSION)
    context.use_certificate_chain_file(args.certfile)
    context.use_privatekey_file(args.keyfile)
    # Data connections resume the control connection's session; with peer verification on,
    # OpenSSL refuses to resume without a session id context (the client then sees 522).
    context.set_session_id(b"tavrin-tests")
    if args.cafile:
        context.load_verify_locations(args.cafile)
        context.set_verify(SSL.VERIFY_PEER | SSL.VERIFY_FAIL_IF_NO_PEER_CERT,
                           lambda conn, cert, errno, depth, ok: bool(ok))
    Handler.ssl_context = context
    return Handler


def main():
    args = parse_args()
    # TAVRIN_PYFTPD_DEBUG=1 makes pyftpdlib explain itself in the server's output file.
    logging.basicConfig(level=logging.DEBUG if os.environ.get("TAVRIN_PYFTPD_DEBUG") else logging.INFO)
    log = open(args.command_log, "a", encoding="utf-8")

    if args.tls:
        from pyftpdlib.handlers import TLS_FTPHandler
        handler = tls_handler(recording(TLS_FTPHandler, log), args)
    else:
        handler = recording(FTPHandler, log)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    handler.authorizer = authorizer
    handler.passive_ports = None
    handler.permit_foreign_addresses = False
    handler.banner = "pyftpdlib ready for Tavrin tests"

    server = FTPServer((args.host, args.port), handler)
    # SIGTERM is how the tests stop us; leave through the normal path so sockets close.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print("TAVRIN_PYFTPD_PORT=%d" % server.socket.getsockname()[1], flush=True)
    try:
        server.serve_forever(handle_exit=False)
    finally:
        server.close_all()
        log.close()


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""The soak's plain server: the test suite's pyftpdlib server on a fixed port, so a server
that was killed comes back where the monitors look for it. Used when the fault-injecting
server (tests/servers/faulty_ftpd.py) is not there; then only kills and restarts happen.

Same options as tests/servers/pyftpd_server.py, plus --port.
"""
import argparse
import os
import signal
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "servers"))

import pyftpd_server  # noqa: E402

from pyftpdlib.authorizers import DummyAuthorizer  # noqa: E402
from pyftpdlib.handlers import FTPHandler  # noqa: E402
from pyftpdlib.servers import FTPServer  # noqa: E402


def main():
    p = argparse.ArgumentParser()
    for name in ("--root", "--user", "--password", "--command-log"):
        p.add_argument(name, required=True)
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--tls", action="store_true")
    p.add_argument("--certfile")
    p.add_argument("--keyfile")
    p.add_argument("--cafile")
    p.add_argument("--auth", default="ssl-and-tls")
    args = p.parse_args()
    log = open(args.command_log, "a", encoding="utf-8")
    if args.tls:
        from pyftpdlib.handlers import TLS_FTPHandler
        handler = pyftpd_server.tls_handler(pyftpd_server.recording(TLS_FTPHandler, log), args)
    else:
        handler = pyftpd_server.recording(FTPHandler, log)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    handler.authorizer = authorizer
    handler.permit_foreign_addresses = False
    handler.banner = "soak server ready"
    FTPServer.allow_reuse_address = True
    server = FTPServer(("127.0.0.1", args.port), handler)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print("TAVRIN_PYFTPD_PORT=%d" % server.socket.getsockname()[1], flush=True)
    try:
        server.serve_forever(handle_exit=False)
    finally:
        server.close_all()


if __name__ == "__main__":
    main()

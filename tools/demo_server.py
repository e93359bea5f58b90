#!/usr/bin/python3
"""A local FTP server with explicit TLS for trying Tavrin out. Listens on 127.0.0.1 only."""
import argparse
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import TLS_FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--port-file", required=True)
    args = parser.parse_args()

    authorizer = DummyAuthorizer()
    authorizer.add_user("demo", "demo", args.root, perm="elradfmwMT")

    handler = TLS_FTPHandler
    handler.certfile = args.cert
    handler.keyfile = args.key
    handler.authorizer = authorizer
    handler.tls_control_required = False
    handler.tls_data_required = False
    handler.banner = "Tavrin demo server ready."

    server = FTPServer(("127.0.0.1", 0), handler)
    port = server.socket.getsockname()[1]
    with open(args.port_file, "w") as f:
        f.write(str(port))
    sys.stdout.flush()
    server.serve_forever()


if __name__ == "__main__":
    main()

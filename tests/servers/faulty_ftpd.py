#!/usr/bin/python3
"""A pyftpdlib server that misbehaves on request, for Tavrin's fault tests.

Same command line and output as pyftpd_server.py, plus:
  --control FILE   JSON plan of faults, read again before every RETR, STOR, DELE and listing
  --event-log FILE one line per fault that fired ("cut a.bin 3000"), flushed at once
  --port N         listen on this port (0: the kernel picks); a restarted server reuses it

The plan (every part optional; names are matched by their last path component):
  {"retr": {"a.bin": {"fault": "cut" | "short" | "stall" | "refuse",
                      "after": 3000, "reply": "550 Refused.", "times": 1}},
   "stor": {"b.bin": {"fault": "cut" | "stop-reading" | "refuse", "after": 3000}},
   "dele": {"c.bin": {"fault": "refuse", "reply": "550 Refused."}},
   "grow": {"d.bin": {"by": 1000, "times": 3}}}

retr cut:    sends `after` bytes, then resets the data connection and answers 426.
retr short:  sends `after` bytes, closes the data connection normally and answers 226.
retr stall:  sends `after` bytes, then neither sends, closes nor answers.
retr/stor/dele refuse: answers `reply` (default "550 Refused by the test.").
stor cut:    reads `after` bytes, then resets the data connection and answers 426.
stor stop-reading: reads `after` bytes, then stops reading (the client's send blocks).
grow:        every listing first appends `by` bytes to the file, `times` times at most.
`times` bounds how often a fault fires (default: every time).
"""
import argparse
import json
import os
import signal
import socket
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import pyftpd_server  # noqa: E402  (command recording and the TLS set-up)

from pyftpdlib.authorizers import DummyAuthorizer  # noqa: E402
from pyftpdlib.handlers import FTPHandler  # noqa: E402
from pyftpdlib.servers import FTPServer  # noqa: E402

DEFAULT_REFUSAL = "550 Refused by the test."


class Plan:
    """The control file, reread when it changed; counts how often each fault fired."""

    def __init__(self, path, events):
        self.path = path
        self.events = events
        self.stamp = None
        self.faults = {}
        self.fired = {}

    def _reload(self):
        try:
            st = os.stat(self.path)
        except FileNotFoundError:
            self.stamp, self.faults, self.fired = None, {}, {}
            return
        stamp = (st.st_ino, st.st_mtime_ns, st.st_size)
        if stamp == self.stamp:
            return
        with open(self.path, encoding="utf-8") as f:
            text = f.read()
        self.faults = json.loads(text) if text.strip() else {}
        self.fired = {}
        self.stamp = stamp

    def take(self, kind, path):
        """The fault planned for this command and file, counted as fired; None if none."""
        self._reload()
        name = os.path.basename(path)
        fault = self.faults.get(kind, {}).get(name)
        if fault is None:
            return None
        key = (kind, name)
        times = fault.get("times")
        if times is not None and self.fired.get(key, 0) >= times:
            return None
        self.fired[key] = self.fired.get(key, 0) + 1
        return dict(fault, name=name)

    def note(self, text):
        self.events.write(text + "\n")
        self.events.flush()


def reset_socket(channel):
    # SO_LINGER 0 makes close() send RST: the peer sees the connection cut, not ended.
    sock = channel.socket
    raw = getattr(sock, "_socket", None) or sock
    try:
        raw.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except (OSError, AttributeError):
        pass


def faulty_dtp(base):
    class FaultyDTP(base):
        """Carries out the fault its control connection took for this transfer."""

        def _fault(self):
            return getattr(self.cmd_channel, "pending_fault", None)

        def use_sendfile(self):
            return False if self._fault() else super().use_sendfile()

        def _halt(self):
            # Off the event loop: nothing more is sent or read, the socket stays open.
            self._halted = True
            self.del_channel()

        def _cut(self):
            reset_socket(self)
            self._resp = ("426 Connection closed; transfer aborted.", lambda *_: None)
            self.close()

        def _end_short(self):
            self.discard_buffers()
            self.handle_close()

        def send(self, data):
            fault = self._fault()
            if getattr(self, "_halted", False):
                return 0
            if not fault or fault["fault"] not in ("cut", "short", "stall"):
                return super().send(data)
            room = fault.get("after", 0) - self.tot_bytes_sent
            sent = super().send(data[:room]) if room > 0 else 0
            if self.tot_bytes_sent >= fault.get("after", 0):
                self._halt()
                self.cmd_channel.plan.note("%s %s %d" % (fault["fault"], fault["name"],
                                                         self.tot_bytes_sent))
                if fault["fault"] == "cut":
                    self.ioloop.call_later(0, self._cut)
                elif fault["fault"] == "short":
                    self.ioloop.call_later(0, self._end_short)
            return sent

        def recv(self, buffer_size):
            # Overridden here rather than in handle_read, which the TLS layer wraps.
            fault = self._fault()
            if not fault or fault["fault"] not in ("cut", "stop-reading"):
                return super().recv(buffer_size)
            after = fault.get("after", 0)
            room = max(after - self.tot_bytes_received, 1)
            chunk = super().recv(min(buffer_size, room))
            if chunk and self.tot_bytes_received + len(chunk) >= after:
                self._halt()
                self.cmd_channel.plan.note("%s %s %d" % (fault["fault"], fault["name"],
                                                         self.tot_bytes_received + len(chunk)))
                if fault["fault"] == "cut":
                    self.ioloop.call_later(0, self._cut)
            return chunk

    return FaultyDTP


def faulty_handler(base, plan):
    class Faulty(base):
        dtp_handler = faulty_dtp(base.dtp_handler)
        use_sendfile = False
        pending_fault = None

        def _refused(self, fault):
            self.respond(fault.get("reply", DEFAULT_REFUSAL))
            self.plan.note("refuse %s" % fault["name"])

        def ftp_RETR(self, file):
            self.pending_fault = fault = self.plan.take("retr", file)
            if fault and fault["fault"] == "refuse":
                return self._refused(fault)
            return super().ftp_RETR(file)

        def ftp_STOR(self, file, mode="w"):
            self.pending_fault = fault = self.plan.take("stor", file)
            if fault and fault["fault"] == "refuse":
                return self._refused(fault)
            return super().ftp_STOR(file, mode)

        def ftp_DELE(self, path):
            fault = self.plan.take("dele", path)
            if fault and fault["fault"] == "refuse":
                return self._refused(fault)
            return super().ftp_DELE(path)

        def _grow(self, folder):
            self.plan._reload()
            for name in list(self.plan.faults.get("grow", {})):
                target = os.path.join(folder if os.path.isdir(folder) else os.path.dirname(folder),
                                      name)
                fault = self.plan.take("grow", target)
                if fault and os.path.isfile(target):
                    with open(target, "ab") as f:
                        f.write(bytes((i * 7 + len(name)) % 251 for i in range(fault["by"])))
                    self.plan.note("grow %s %d" % (name, os.path.getsize(target)))

        def ftp_LIST(self, path):
            self.pending_fault = None
            self._grow(path)
            return super().ftp_LIST(path)

        def ftp_MLSD(self, path):
            self.pending_fault = None
            self._grow(path)
            return super().ftp_MLSD(path)

        def ftp_NLST(self, path):
            self.pending_fault = None
            self._grow(path)
            return super().ftp_NLST(path)

    Faulty.plan = plan
    return Faulty


def main():
    parser = argparse.ArgumentParser()
    for option in ("--root", "--user", "--password", "--command-log"):
        parser.add_argument(option, required=True)
    parser.add_argument("--tls", action="store_true")
    parser.add_argument("--certfile")
    parser.add_argument("--keyfile")
    parser.add_argument("--cafile")
    parser.add_argument("--auth", default="ssl-and-tls")
    parser.add_argument("--control", required=True)
    parser.add_argument("--event-log", required=True)
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()
    log = open(args.command_log, "a", encoding="utf-8")
    plan = Plan(args.control, open(args.event_log, "a", encoding="utf-8"))

    if args.tls:
        from pyftpdlib.handlers import TLS_FTPHandler
        handler = pyftpd_server.tls_handler(pyftpd_server.recording(TLS_FTPHandler, log), args)
    else:
        handler = pyftpd_server.recording(FTPHandler, log)
    handler = faulty_handler(handler, plan)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    handler.authorizer = authorizer
    handler.passive_ports = None
    handler.permit_foreign_addresses = False
    handler.banner = "faulty pyftpdlib ready for Tavrin tests"
    server = FTPServer(("127.0.0.1", args.port), handler)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print("TAVRIN_PYFTPD_PORT=%d" % server.socket.getsockname()[1], flush=True)
    try:
        server.serve_forever(handle_exit=False)
    finally:
        server.close_all()
        log.close()


if __name__ == "__main__":
    main()

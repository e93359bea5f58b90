#!/usr/bin/env python3
"""Stands between an SFTP client and OpenSSH's sftp-server (run as sshd's subsystem) and
bends the server's answers within what the protocol allows. The mode is read from MODE_FILE
when the session starts:

  pass        answers go through untouched
  swap        each answer waits for the next one and goes after it (out of order)
  short       every DATA answer carries only a third of its bytes (the client asks again)
  swap-short  both
  eof-at N    the file ends after N bytes: later reads get end of file, one across N is cut

usage: sftp_answer_filter.py MODE_FILE SERVER [ARGS...]
"""
import os
import select
import struct
import subprocess
import sys

READ, STATUS, DATA = 5, 101, 103
FX_EOF = 1
HOLD_SECONDS = 0.005  # an answer with none after it goes out alone after this


def packets(buffer):
    """Splits complete packets off the front of buffer; returns them and the rest."""
    found = []
    while len(buffer) >= 4:
        length = struct.unpack(">I", buffer[:4])[0]
        if len(buffer) < 4 + length:
            break
        found.append(bytes(buffer[: 4 + length]))
        buffer = buffer[4 + length:]
    return found, buffer


def write_all(fd, data):
    while data:
        data = data[os.write(fd, data):]


def main():
    with open(sys.argv[1]) as f:
        words = f.read().split()
    mode = words[0] if words else "pass"
    eof_at = int(words[1]) if mode == "eof-at" else None
    server = subprocess.Popen(sys.argv[2:], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    to_server, from_server = server.stdin.fileno(), server.stdout.fileno()
    read_offsets = {}  # request id -> offset
    upstream, downstream = b"", b""
    held = None
    client_open = True

    def bend(packet):
        kind, rid = packet[4], struct.unpack(">I", packet[5:9])[0]
        if kind != DATA:
            return packet
        data = packet[13:]
        offset = read_offsets.pop(rid, 0)
        if eof_at is not None:
            if offset >= eof_at:
                body = struct.pack(">BIIII", STATUS, rid, FX_EOF, 0, 0)
                return struct.pack(">I", len(body)) + body
            data = data[: eof_at - offset]
        if "short" in mode and len(data) > 1:
            data = data[: max(1, len(data) // 3)]
        body = struct.pack(">BII", DATA, rid, len(data)) + data
        return struct.pack(">I", len(body)) + body

    while True:
        watched = [from_server] + ([0] if client_open else [])
        ready, _, _ = select.select(watched, [], [], HOLD_SECONDS if held else None)
        if not ready and held:
            write_all(1, held)
            held = None
            continue
        if 0 in ready:
            chunk = os.read(0, 1 << 16)
            if not chunk:
                client_open = False
                server.stdin.close()
            else:
                upstream += chunk
                requests, upstream = packets(upstream)
                for request in requests:
                    if request[4] == READ:
                        rid = struct.unpack(">I", request[5:9])[0]
                        handle_length = struct.unpack(">I", request[9:13])[0]
                        at = 13 + handle_length
                        read_offsets[rid] = struct.unpack(">Q", request[at: at + 8])[0]
                write_all(to_server, chunk)
        if from_server in ready:
            chunk = os.read(from_server, 1 << 16)
            if not chunk:
                break
            downstream += chunk
            answers, downstream = packets(downstream)
            for answer in answers:
                answer = bend(answer)
                if "swap" not in mode:
                    write_all(1, answer)
                elif held is None:
                    held = answer
                else:
                    write_all(1, answer + held)
                    held = None
    if held:
        write_all(1, held)
    server.wait()


if __name__ == "__main__":
    main()

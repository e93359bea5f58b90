#!/usr/bin/python3
"""Soak benchmark: tavrin-service (both monitors, staging on, delete/move after transfer,
RetryFailed=1) against a server that is killed and restarted at random, while files are
offered both ways the ways real writers make them. At the end every offered file is
compared byte for byte with what arrived.

    bench/soak/soak.py --service build/release/src/service/tavrin-service [--tls] [--minutes 10]
    bench/soak/soak.py --service ... --sftp [--key]    (as root: OpenSSH's sshd, whose
        session processes are killed at random; --key logs in with a key, not a password)

Loopback only. Every loop here ends by count or by time. Not a test: it prints figures.
"""
import argparse
import hashlib
import json
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

import soak_sshd

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.abspath(os.path.join(HERE, "..", ".."))
PYTHON = "/usr/bin/python3"  # pyftpdlib is a Debian package: only this interpreter has it
FAULTY = os.path.join(REPO, "tests", "servers", "faulty_ftpd.py")
# How long an export file must stay quiet before it is sent.
SETTLE_SECONDS = 1.0
PATTERNS = ["whole", "slow", "bursts", "rename"]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def answers(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1) as s:
            s.settimeout(2)
            return s.recv(64).startswith(b"220")
    except OSError:
        return False


def rss_kib(pid, field="VmRSS"):
    """VmRSS, or RssAnon (private memory: heap, stacks) or RssFile (mapped library pages)."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return -1


def rss_split(pid):
    return rss_kib(pid), rss_kib(pid, "RssAnon"), rss_kib(pid, "RssFile")


def open_files(pid):
    """(open descriptors, of them sockets): a connection that is never closed shows here
    long before memory grows."""
    files = sockets = 0
    try:
        for fd in os.listdir("/proc/%d/fd" % pid):
            files += 1
            try:
                sockets += os.readlink("/proc/%d/fd/%s" % (pid, fd)).startswith("socket:")
            except OSError:
                pass
    except OSError:
        return -1, -1
    return files, sockets


def content(seed, size):
    return random.Random(seed).randbytes(size)


def sha(data):
    return hashlib.sha256(data).hexdigest()


def file_sha(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
    return h.hexdigest()


class Server:
    """The FTP server on one fixed port, so a restarted one is where the monitors look."""

    def __init__(self, work, port, tls, faulty):
        self.work, self.port, self.tls, self.faulty = work, port, tls, faulty
        self.proc = None
        self.plan = os.path.join(work, "faults.json")
        self.events = os.path.join(work, "fault-events.log")
        self.starts = 0

    def start(self):
        script = FAULTY if self.faulty else os.path.join(HERE, "soak_ftpd.py")
        argv = [PYTHON, script, "--root", os.path.join(self.work, "server"), "--user", "soak",
                "--password", "soak", "--command-log", os.path.join(self.work, "commands.log"),
                "--port", str(self.port)]
        if self.faulty:
            argv += ["--control", self.plan, "--event-log", self.events]
        if self.tls:
            argv += ["--tls", "--certfile", os.path.join(self.work, "server.pem"),
                     "--keyfile", os.path.join(self.work, "server.key")]
        out = open(os.path.join(self.work, "server-output.log"), "ab")
        self.proc = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT)
        out.close()
        self.starts += 1
        for _ in range(200):  # 20 s at most; a port in TIME_WAIT may need a moment
            if answers(self.port):
                return
            if self.proc.poll() is not None:
                time.sleep(0.5)
                self.proc = subprocess.Popen(argv, stdout=open(os.path.join(
                    self.work, "server-output.log"), "ab"), stderr=subprocess.STDOUT)
            time.sleep(0.1)
        raise RuntimeError("server did not come up on port %d" % self.port)

    def kill(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.kill()


class Offer:
    def __init__(self, direction, index, rng):
        self.direction = direction
        self.pattern = rng.choice(PATTERNS + (["grow"] if direction == "import" else []))
        self.name = "%s-%05d-%s.bin" % (direction, index, self.pattern)
        roll = rng.random()
        if roll < 0.08:
            self.size = 0
        elif roll < 0.65:
            self.size = rng.randint(1, 64 << 10)
        elif roll < 0.96:
            self.size = rng.randint(64 << 10, 2 << 20)
        else:
            self.size = rng.randint(2 << 20, 20 << 20)
        self.seed = rng.getrandbits(64)
        self.sha = None
        self.completed = None  # the writer's last step, monotonic time
        self.writer_lost = None  # the monitor took the file from under its writer
        # Longest quiet time between two bursts; at or over the settle time the file looked
        # finished, and taking it then is what the settle time means.
        self.longest_pause = 0.0
        self.arrived = None    # first time the destination held it whole


def write_offer(offer, folder, rng):
    data = content(offer.seed, offer.size)
    offer.sha = sha(data)
    final = os.path.join(folder, offer.name)
    pieces = max(1, min(12, offer.size // 4096 or 1))
    step = -(-len(data) // pieces) if data else 0
    chunks = [data[i:i + step] for i in range(0, len(data), step)] if data else [b""]
    if offer.pattern == "whole":
        with open(final, "wb") as f:
            f.write(data)
    elif offer.pattern in ("slow", "grow"):
        pause = (0.1, 0.4) if offer.pattern == "slow" else (0.3, 0.8)
        with open(final, "wb") as f:
            for chunk in chunks:
                f.write(chunk)
                f.flush()
                time.sleep(rng.uniform(*pause))
    elif offer.pattern == "bursts":
        # Appended in bursts, closed after each: every burst looks like a finished file.
        closed = None
        for start in range(0, len(chunks), 3):
            with open(final, "ab") as f:
                if closed is not None:
                    offer.longest_pause = max(offer.longest_pause, time.monotonic() - closed)
                for chunk in chunks[start:start + 3]:
                    f.write(chunk)
            closed = time.monotonic()
            time.sleep(rng.uniform(0.2, 0.8))
    else:  # rename: written under a dot-name, then renamed into place
        temp = os.path.join(folder, "." + offer.name + ".tmp")
        with open(temp, "wb") as f:
            f.write(data)
        os.rename(temp, final)
    offer.completed = time.monotonic()


class Soak:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.work = tempfile.mkdtemp(prefix="tavrin-soak-")
        for d in ("server/out", "server/in", "server/in.part", "import", "import.part",
                  "export", "sent", "register"):
            os.makedirs(os.path.join(self.work, d))
        self.faulty = os.path.exists(FAULTY) and not args.plain and not args.sftp
        self.client_key = os.path.join(self.work, "client_key") if args.key else None
        if args.sftp:
            self.server = soak_sshd.SshServer(self.work, os.path.join(self.work, "server"),
                                              self.rng, self.client_key and self.client_key + ".pub")
        else:
            self.server = Server(self.work, free_port(), args.tls, self.faulty)
        self.offers = []
        self.lock = threading.Lock()
        self.stop_faults = threading.Event()
        self.kills = 0
        self.sessions_killed = 0
        self.sessions_before_kill = []  # sshd session processes alive at each kill
        self.fd_samples = []
        self.planned = 0

    def certificates(self):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=127.0.0.1", "-keyout", os.path.join(self.work, "server.key"),
                        "-out", os.path.join(self.work, "server.pem")],
                       check=True, capture_output=True, timeout=60)

    def settings(self):
        w, port, ssl = self.work, self.server.port, "1" if self.args.tls else "0"
        if self.args.sftp:
            # No chroot: the session starts in the server folder, but paths are the real ones.
            remote = w + "/server"
            login = "Protocol=SFTP\nHost=127.0.0.1\nPort=%d\nUsername=%s\n" % (
                port, soak_sshd.USER)
            login += ("SSHKey=%s\n" % self.client_key if self.client_key
                      else "Password=%s\n" % soak_sshd.PASSWORD)
        else:
            remote = ""
            login = "Host=127.0.0.1\nPort=%d\nUsername=soak\nPassword=soak\nSSL=%s\n" % (
                port, ssl)
        text = ("[General]\nLogMonitor=1\nLogFileTransfer=1\nLogSSL=0\nLogVerbose=0\n"
                "[Import]\n%sRemoteFolder=%s/out\nLocalFolder=%s/import\nFirstToTemp=1\n"
                "TempFolder=%s/import.part\nMoveDelete=1\nKeepAlive=1\nWaitForStableFiles=1\n"
                "[Export]\n%sRemoteFolder=%s/in\nLocalFolder=%s/export\nFirstToTemp=1\n"
                "TempFolder=%s/in.part\nMoveDelete=1\nMoveToFolder=%s/sent\nRetryFailed=1\n"
                "SettleTime=%d\nPassiveMode=1\nBinaryMode=1\n") % (
                    login, remote, w, w, login, remote, w, remote, w,
                    int(SETTLE_SECONDS * 1000))
        # Parallel transfers and kept logins are per job; both directions get the same count.
        burst = "Connections=%d\n" % self.args.connections
        text = text.replace("[Export]\n", burst + "[Export]\n") + burst
        if self.args.keep_connection:
            text += "KeepConnection=1\n"
        path = os.path.join(w, "MonitorConfig.ini")
        with open(path, "w") as f:
            f.write(text)
        return path

    def destination(self, offer):
        return os.path.join(self.work, "server/in" if offer.direction == "export" else "import",
                            offer.name)

    def offer_files(self, deadline):
        """Offers args.files files each way, spread over the offering time."""
        total = 2 * self.args.files
        gap = max(0.0, (deadline - time.monotonic()) / total)
        slots = threading.Semaphore(12)  # writers at work at once
        threads = []
        for i in range(total):
            direction = "export" if i % 2 == 0 else "import"
            offer = Offer(direction, i // 2, self.rng)
            folder = os.path.join(self.work, "export" if direction == "export" else "server/out")
            with self.lock:
                self.offers.append(offer)
            slots.acquire()
            seed = self.rng.getrandbits(32)

            def run(o=offer, d=folder, s=seed):
                try:
                    write_offer(o, d, random.Random(s))
                except OSError as e:
                    o.writer_lost = str(e)
                finally:
                    slots.release()
            t = threading.Thread(target=run, daemon=True)
            t.start()
            threads.append(t)
            time.sleep(gap)
        for t in threads:
            t.join(120)

    def watch_arrivals(self, until):
        """Notes the first moment each destination holds its file whole."""
        checked = {}
        while not until.is_set():
            with self.lock:
                pending = [o for o in self.offers if o.arrived is None and o.completed]
            for o in pending:
                path = self.destination(o)
                try:
                    st = os.stat(path)
                except OSError:
                    continue
                if st.st_size != o.size:
                    continue
                key = (st.st_size, st.st_mtime_ns, st.st_ino)
                if checked.get(o.name) == key:
                    continue
                checked[o.name] = key
                if file_sha(path) == o.sha:
                    o.arrived = time.monotonic()
            until.wait(0.5)

    def drive_faults(self, deadline):
        """Kills and restarts the server every 20-60 s (sshd: kills its session processes,
        the listener stays); with the fault-injecting server, also plans cut and stalled
        data connections and now and then a short delivery."""
        next_kill = time.monotonic() + self.rng.uniform(20, 60)
        while not self.stop_faults.is_set() and time.monotonic() < deadline:
            if time.monotonic() >= next_kill:
                if self.args.sftp:
                    killed = self.server.kill_sessions()
                    self.sessions_killed += killed
                    self.sessions_before_kill.append(killed)
                else:
                    self.server.kill()
                    time.sleep(self.rng.uniform(0.5, 3))
                    self.server.start()
                self.kills += 1
                next_kill = time.monotonic() + self.rng.uniform(20, 60)
            if self.faulty:
                self.plan_faults()
            self.stop_faults.wait(5)

    def plan_faults(self):
        with self.lock:
            waiting = [o for o in self.offers if o.arrived is None and o.size > 8192]
        retr, stor = {}, {}
        for o in self.rng.sample(waiting, min(4, len(waiting))):
            after = self.rng.randint(1, o.size - 1)
            if o.direction == "import":
                kind = self.rng.choices(["cut", "stall", "short"], [5, 3, 1])[0]
                retr[o.name] = {"fault": kind, "after": after, "times": 1}
            else:
                kind = self.rng.choice(["cut", "stop-reading"])
                stor[o.name] = {"fault": kind, "after": after, "times": 1}
        self.planned += len(retr) + len(stor)
        temp = self.server.plan + ".new"
        with open(temp, "w") as f:
            json.dump({"retr": retr, "stor": stor}, f)
        os.replace(temp, self.server.plan)

    def sftp_login_seen(self, service, log_path):
        """A service that does not speak SFTP would otherwise soak for its whole length
        against an sshd it never logs in to, and report every file missing. The import
        logs in at its first poll (the export only once it has a file to send), so one
        accepted login within a minute is the sign."""
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and service.poll() is None:
            if self.server.logins() >= 1:
                return True
            time.sleep(0.5)
        log = open(log_path, errors="replace").read().splitlines()
        print("soak --sftp: tavrin-service %s and made no SFTP login to sshd within 60 s: "
              "this build does not seem to speak SFTP (Protocol=SFTP)."
              % ("exited" if service.poll() is not None else "is running"))
        print("last service lines:\n  " + "\n  ".join(log[-8:]))
        print("sshd's log: %s; work folder kept: %s" % (self.server.log, self.work))
        return False

    def done_lines(self, log):
        counts = {}
        for m in re.finditer(r'(?:Getting file "([^"/]+)"|Uploading file "[^"]*/([^"/]+)") done$',
                             log, re.M):
            name = m.group(1) or m.group(2)
            counts[name] = counts.get(name, 0) + 1
        return counts

    def run(self):
        a = self.args
        if a.tls:
            self.certificates()
        if self.client_key:
            soak_sshd.make_key(self.client_key)
        self.server.start()
        config = self.settings()
        env = dict(os.environ, TEMP=os.path.join(self.work, "register"),
                   XDG_STATE_HOME=os.path.join(self.work, "state"))
        env.pop("TAVRIN_CONFIG", None)
        if a.sftp:
            # Host keys go to our own known_hosts under XDG_STATE_HOME; the user's
            # ~/.ssh/known_hosts is neither read nor written.
            env["HOME"] = os.path.join(self.work, "home")
            os.makedirs(env["HOME"])
            env.pop("SSH_AUTH_SOCK", None)
        out = open(os.path.join(self.work, "service.log"), "wb")
        err = open(os.path.join(self.work, "service-stderr.log"), "wb")
        service = subprocess.Popen([a.service, "--config", config], stdout=out, stderr=err,
                                   env=env)
        time.sleep(3)
        if service.poll() is not None:
            print("service did not start:", open(err.name).read())
            self.server.stop()
            return 1
        if a.sftp and not self.sftp_login_seen(service, out.name):
            service.kill()
            service.wait(10)
            self.server.stop()
            return 2
        rss_start = rss_split(service.pid)
        # Sampled all along: the first TLS connection maps in the library's pages and loads
        # the trusted roots once, so growth is also judged from the first minute's level on,
        # and split into private memory (what a leak grows) and mapped library pages.
        rss_samples = []
        self.fd_samples = [(0.0, open_files(service.pid))]
        sampling_done = threading.Event()

        def sample_rss():
            started = time.monotonic()
            while not sampling_done.wait(10):
                rss_samples.append((time.monotonic() - started, rss_split(service.pid)))
                self.fd_samples.append((time.monotonic() - started, open_files(service.pid)))

        started_at = time.monotonic()
        sampler = threading.Thread(target=sample_rss, daemon=True)
        sampler.start()
        arrivals_done = threading.Event()
        watcher = threading.Thread(target=self.watch_arrivals, args=(arrivals_done,), daemon=True)
        watcher.start()
        end = time.monotonic() + a.minutes * 60
        faults = threading.Thread(target=self.drive_faults, args=(end,), daemon=True)
        faults.start()
        self.offer_files(time.monotonic() + a.minutes * 60 * 0.8)
        faults.join(a.minutes * 60 + 30)
        self.stop_faults.set()
        if self.faulty:
            with open(self.server.plan, "w") as f:
                f.write("{}")
        # One last restart ends any transfer still stalled by a fault, so the drain below
        # measures the monitors, not a hung socket.
        if a.sftp:
            self.sessions_killed += self.server.kill_sessions()
        else:
            self.server.kill()
            self.server.start()

        drain_end = time.monotonic() + a.drain_minutes * 60
        while time.monotonic() < drain_end and service.poll() is None:
            with self.lock:
                if all(o.arrived for o in self.offers):
                    break
            time.sleep(1)
        time.sleep(1)
        rss_end = rss_split(service.pid)
        self.fd_samples.append((time.monotonic() - started_at, open_files(service.pid)))
        sampling_done.set()
        sampler.join(30)
        arrivals_done.set()
        watcher.join(30)
        service.send_signal(signal.SIGTERM)
        try:
            status = service.wait(60)
        except subprocess.TimeoutExpired:
            service.kill()
            status = "killed after 60 s"
        self.server.stop()
        out.close()
        err.close()
        self.report(rss_start, rss_end, status, rss_samples)
        if not a.keep:
            shutil.rmtree(self.work, ignore_errors=True)
        return 0

    def report(self, rss_start, rss_end, status, rss_samples):
        log = open(os.path.join(self.work, "service.log"), errors="replace").read()
        done = self.done_lines(log)
        whole = missing = corrupted = 0
        not_whole = {}
        false_done, longest = [], 0.0
        settle = SETTLE_SECONDS
        looked_finished = []
        for o in self.offers:
            path = self.destination(o)
            ok = os.path.exists(path) and os.path.getsize(path) == o.size and file_sha(path) == o.sha
            if not ok and o.longest_pause >= settle:
                # The writer stalled (a loaded machine) past the settle time: the part was a
                # finished file then, and its rest a new one. Counted apart, not as a fault.
                looked_finished.append("%s (%.1f s)" % (o.name, o.longest_pause))
                continue
            if ok:
                whole += 1
                if o.arrived and o.completed:
                    longest = max(longest, o.arrived - o.completed)
            elif os.path.exists(path):
                corrupted += 1
            else:
                missing += 1
            if not ok:
                key = "%s/%s" % (o.direction, o.pattern)
                not_whole[key] = not_whole.get(key, 0) + 1
            if not ok and done.get(o.name):
                false_done.append(o.name)
        twice = sorted(n for n, c in done.items() if c > 1)
        errors = len(re.findall(r" error ", log))
        a = self.args
        if a.sftp:
            print("soak: SFTP (%s login), %.1f min offering, OpenSSH sshd, %d kill rounds, %d "
                  "session processes killed, %d logins accepted"
                  % ("key" if a.key else "password", a.minutes, self.kills,
                     self.sessions_killed, self.server.logins()))
        else:
            print("soak: %s, %.1f min offering, server %s, %d kills/restarts, %d faults planned"
                  % ("TLS" if a.tls else "plain", a.minutes,
                     "fault-injecting" if self.faulty else "plain pyftpdlib", self.kills,
                     self.planned))
        print("connections:      %d each way, export logins %s" % (
            a.connections, "kept" if a.keep_connection else "one per file"))
        print("offered:          %d (%d each way, %.0f MB)" % (
            len(self.offers), a.files, sum(o.size for o in self.offers) / 1e6))
        print("arrived whole:    %d" % whole)
        print("arrived twice:    %d %s" % (len(twice), " ".join(twice[:10])))
        print("missing:          %d %s" % (missing, " ".join(
            o.name for o in self.offers if not os.path.exists(self.destination(o)))[:400]))
        print("corrupted:        %d" % corrupted)
        lost = [o.name for o in self.offers if o.writer_lost]
        print("writer lost file: %d %s" % (len(lost), " ".join(lost[:10])))
        print("writer paused past the settle time (left out above): %d %s" % (
            len(looked_finished), " ".join(looked_finished[:10])))
        print("false done lines: %d %s" % (len(false_done), " ".join(false_done[:10])))
        print("not whole by way: %s" % ", ".join(
            "%s %d" % kv for kv in sorted(not_whole.items())))
        print("longest completion-to-arrival: %.1f s" % longest)
        def line(label, at):
            return "%s %d KiB (private %d, library pages %d)" % (label, at[0], at[1], at[2])

        def growth(first, last):
            return "%+d KiB (private %+d, library pages %+d)" % tuple(
                last[i] - first[i] for i in range(3))

        print("service RSS:      %s, %s: %s" % (
            line("start", rss_start), line("end", rss_end), growth(rss_start, rss_end)))
        warm = [kib for at, kib in rss_samples if at >= 60]
        if warm:
            print("  from 1 min on:  %s, peak %d KiB, end: %s" % (
                line("at 1 min", warm[0]), max(k[0] for k in warm), growth(warm[0], rss_end)))
            step = max(1, len(rss_samples) // 12)
            print("  samples (s: KiB, private): %s" % ", ".join(
                "%d: %d, %d" % (at, kib[0], kib[1]) for at, kib in rss_samples[::step]))
        if self.fd_samples:
            first, last = self.fd_samples[0][1], self.fd_samples[-1][1]
            warm_fds = [f for at, f in self.fd_samples if at >= 60] or [last]
            print("service files:    start %d (sockets %d), at 1 min %d (%d), peak %d (%d), "
                  "end %d (%d)" % (first[0], first[1], warm_fds[0][0], warm_fds[0][1],
                                   max(f[0] for _, f in self.fd_samples),
                                   max(f[1] for _, f in self.fd_samples), last[0], last[1]))
        if a.sftp:
            print("sshd session processes alive at each kill (2 per connection): %s" % (
                " ".join(str(n) for n in self.sessions_before_kill) or "-"))
        print("service exit:     %s; error lines: %d; work folder: %s" % (
            status, errors, self.work if a.keep else "(removed)"))


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--service", default=os.path.join(REPO, "build/release/src/service/tavrin-service"))
    p.add_argument("--minutes", type=float, default=10)
    p.add_argument("--files", type=int, default=1000, help="files offered each way")
    p.add_argument("--drain-minutes", type=float, default=15,
                   help="bound on the wait for the queues to drain (retries come at 30 s, "
                        "2 min, 10 min)")
    p.add_argument("--tls", action="store_true")
    p.add_argument("--sftp", action="store_true", help="OpenSSH's sshd instead of an FTP "
                   "server (needs root); its session processes are killed every 20-60 s")
    p.add_argument("--key", action="store_true", help="with --sftp: log in with an ed25519 "
                   "key (SSHKey) instead of the password")
    p.add_argument("--plain", action="store_true", help="plain pyftpdlib even if the "
                   "fault-injecting server is there: kills and restarts only")
    p.add_argument("--connections", type=int, default=1, choices=range(1, 9),
                   help="transfers of one job at once, each direction")
    p.add_argument("--keep-connection", action="store_true",
                   help="the export keeps its logins for the next files")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--keep", action="store_true", help="keep the work folder for a look")
    args = p.parse_args()
    if args.sftp:
        why = soak_sshd.unavailable()
        if why:
            print("soak --sftp:", why)
            return 2
        if args.tls:
            p.error("--tls is for FTP; --sftp has its own encryption")
    elif args.key:
        p.error("--key goes with --sftp")
    return Soak(args).run()


if __name__ == "__main__":
    sys.exit(main())

"""The SFTP soak's server: OpenSSH's sshd on a free port of 127.0.0.1 with its own
configuration, host key and authorized_keys in the soak's work folder, logging in the test
account of tests/servers/prepare (its SFTP session starts in the soak's server folder). It
runs as root, as sshd must. Faults are its per-session processes killed by their process
ids, found from the listener the soak started; the listener itself stays up.
"""
import os
import pwd
import signal
import socket
import subprocess
import time

SSHD = "/usr/sbin/sshd"
KEYGEN = "/usr/bin/ssh-keygen"
# The account tests/servers/prepare makes (the vsftpd and sshd tests log in with it too).
USER = "tavrinftp"
PASSWORD = "tavrin-ftp-pass"


def unavailable():
    """Why the SFTP soak cannot run here, or "" when it can."""
    if os.geteuid() != 0:
        return "the SFTP soak runs sshd, which needs root"
    if not os.access(SSHD, os.X_OK):
        return "no %s (install openssh-server)" % SSHD
    try:
        pwd.getpwnam(USER)
    except KeyError:
        return "no user %s (run tests/servers/prepare as root)" % USER
    return ""


def make_key(path):
    subprocess.run([KEYGEN, "-q", "-t", "ed25519", "-N", "", "-C", "tavrin-soak", "-f", path],
                   check=True, capture_output=True, timeout=60)


def descendants(pid):
    """Every process below pid, from /proc's parent links."""
    children = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % name) as f:
                stat = f.read()
        except OSError:
            continue
        fields = stat[stat.rfind(")") + 2:].split()
        if len(fields) > 1:
            children.setdefault(int(fields[1]), []).append(int(name))
    found, todo = [], [pid]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def banner(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1) as s:
            s.settimeout(2)
            return s.recv(64).startswith(b"SSH-")
    except OSError:
        return False


def free_port(rng):
    # Below the kernel's ephemeral range, so no outgoing connection takes it before sshd.
    for _ in range(100):
        port = rng.randint(30000, 31999)
        with socket.socket() as s:
            try:
                s.bind(("127.0.0.1", port))
                return port
            except OSError:
                continue
    raise RuntimeError("no free port for sshd")


class SshServer:
    def __init__(self, work, root, rng, client_key=None):
        self.work, self.root, self.rng = work, root, rng
        self.client_key = client_key  # a public key file to authorize, or None
        self.proc = None
        self.log = os.path.join(work, "sshd.log")
        self.port = free_port(rng)

    def _grant_root(self):
        account = pwd.getpwnam(USER)
        for folder, dirs, files in os.walk(self.root):
            for name in dirs + files:
                os.lchown(os.path.join(folder, name), account.pw_uid, account.pw_gid)
        os.chown(self.root, account.pw_uid, account.pw_gid)
        # The folders above (a private 0700 temporary folder) only need to be passable.
        parent = os.path.dirname(self.root)
        while parent not in ("", "/"):
            mode = os.stat(parent).st_mode
            if not mode & 0o001:
                os.chmod(parent, (mode & 0o7777) | 0o001)
            parent = os.path.dirname(parent)

    def start(self):
        self._grant_root()
        os.makedirs("/run/sshd", mode=0o755, exist_ok=True)  # privilege separation
        host_key = os.path.join(self.work, "ssh_host_key")
        make_key(host_key)
        authorized = os.path.join(self.work, "authorized_keys")
        with open(authorized, "w") as f:
            if self.client_key:
                f.write(open(self.client_key).read())
        os.chmod(authorized, 0o644)
        config = os.path.join(self.work, "sshd_config")
        with open(config, "w") as f:
            # StrictModes would refuse authorized_keys under /tmp (a world-writable parent).
            f.write("Port %d\nListenAddress 127.0.0.1\nHostKey %s\nPidFile none\n"
                    "AuthorizedKeysFile %s\nStrictModes no\nUseDNS no\nPermitRootLogin no\n"
                    "AllowUsers %s\nUsePAM no\nPasswordAuthentication yes\n"
                    "KbdInteractiveAuthentication no\nPubkeyAuthentication yes\n"
                    "MaxStartups 100\nMaxSessions 100\nLogLevel VERBOSE\n"
                    "Subsystem sftp internal-sftp -d %s\n"
                    % (self.port, host_key, authorized, USER, self.root))
        with open(self.log, "ab") as out:
            self.proc = subprocess.Popen([SSHD, "-D", "-e", "-f", config], stdout=out,
                                         stderr=subprocess.STDOUT)
        for _ in range(150):  # 15 s at most
            if banner(self.port):
                return
            if self.proc.poll() is not None:
                break
            time.sleep(0.1)
        self.stop()
        raise RuntimeError("sshd did not come up on port %d:\n%s" % (self.port, self.output()))

    def output(self):
        try:
            with open(self.log, errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def logins(self):
        """How many logins sshd accepted so far."""
        return self.output().count("Accepted ")

    def sessions(self):
        return descendants(self.proc.pid) if self.proc and self.proc.poll() is None else []

    def kill_sessions(self):
        """SIGKILL to every session process below the listener; how many there were."""
        victims = self.sessions()
        for pid in victims:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        return len(victims)

    def stop(self):
        if not self.proc:
            return
        victims = self.sessions()
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(10)
        for pid in victims:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass

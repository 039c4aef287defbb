"""A private pcscd with the ifdhandler bundle and simulated readers.

Each Daemon runs in its own temporary folder: one vqreader-sim per reader on
a Unix socket there, a reader.conf naming the handler, and pcscd in a private
mount namespace whose /run/pcscd is that folder, so that it never meets the
system's daemon. Clients reach it through PCSCLITE_CSOCK_NAME. Everything is
stopped by pid, also when a test fails.
"""

import os
import shutil
import signal
import subprocess
import tempfile
import time

PCSCD = shutil.which("pcscd") or "/usr/sbin/pcscd"


def _die_with_parent():
    """In the child: SIGKILL when the test process goes, even killed by a
    time-out, so that no daemon or simulator outlives its test."""
    import ctypes
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL("libc.so.6", use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


class Sim:
    """One vqreader-sim serving one reader on a socket."""

    def __init__(self, exe, socket_path, args, log_path):
        self.socket_path = socket_path
        self.log = open(log_path, "w")
        self.proc = subprocess.Popen(
            [exe, "--socket", socket_path] + list(args),
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT,
            preexec_fn=_die_with_parent)
        wait_for(lambda: os.path.exists(socket_path) or self.proc.poll() is not None, 10)
        if self.proc.poll() is not None:
            raise RuntimeError("vqreader-sim ended at start, see " + log_path)

    def remove_card(self):
        self.proc.send_signal(signal.SIGUSR1)

    def insert_card(self):
        """Inserts the card of --card again."""
        self.proc.send_signal(signal.SIGUSR2)

    def stop(self):
        stop_process(self.proc, signal.SIGTERM)
        self.log.close()


class Daemon:
    def __init__(self, bundle_so, sim_exe, readers, name="TERVANE VQ480T", before_daemon=None):
        """readers: one list of vqreader-sim arguments per reader;
        before_daemon(sims, sim_exe) runs once the simulators are up."""
        self.before_daemon = before_daemon
        self.dir = tempfile.mkdtemp(prefix="vq-pcscd-")
        bundle_so = os.path.abspath(bundle_so)
        sim_exe = os.path.abspath(sim_exe)
        self.name = name
        self.sims = []
        self.proc = None
        try:
            self._start(bundle_so, sim_exe, readers)
        except BaseException:
            self.stop()
            raise

    def _start(self, bundle_so, sim_exe, readers):
        sockets = []
        for i, args in enumerate(readers):
            path = os.path.join(self.dir, "reader%d.sock" % i)
            self.sims.append(Sim(sim_exe, path, args,
                                 os.path.join(self.dir, "sim%d.log" % i)))
            sockets.append(path)
        if self.before_daemon:
            self.before_daemon(self.sims, sim_exe)
        conf = os.path.join(self.dir, "conf")
        os.mkdir(conf)
        run = os.path.join(self.dir, "run")
        os.mkdir(run)
        with open(os.path.join(conf, "reader.conf"), "w") as f:
            for i in range(len(readers)):
                suffix = "" if i == 0 else " %d" % (i + 1)
                f.write('FRIENDLYNAME "%s%s"\nLIBPATH %s\nCHANNELID %d\n\n'
                        % (self.name, suffix, bundle_so, i + 1))
        env = dict(os.environ)
        env["VQUSB_SIM_SOCKETS"] = ":".join(sockets)
        script = ("mount -t tmpfs -o size=1m,mode=755 tmpfs /run && mkdir /run/pcscd && "
                  "mount --bind %s /run/pcscd && exec %s -f -d -a -c %s" % (run, PCSCD, conf))
        unshare = ["unshare", "-m", "--propagation", "private"]
        if os.geteuid() != 0:
            unshare = ["unshare", "-Urm", "--propagation", "private"]
        self.log_path = os.path.join(self.dir, "pcscd.log")
        self.log = open(self.log_path, "w")
        self.proc = subprocess.Popen(unshare + ["sh", "-c", script], env=env,
                                     stdin=subprocess.DEVNULL, stdout=self.log,
                                     stderr=subprocess.STDOUT, preexec_fn=_die_with_parent)
        self.socket = os.path.join(run, "pcscd.comm")
        wait_for(lambda: os.path.exists(self.socket) or self.proc.poll() is not None, 10)
        if self.proc.poll() is not None:
            raise RuntimeError("pcscd ended at start:\n" + self.daemon_log())
        os.environ["PCSCLITE_CSOCK_NAME"] = self.socket

    def client_env(self):
        env = dict(os.environ)
        env["PCSCLITE_CSOCK_NAME"] = self.socket
        return env

    def daemon_log(self):
        try:
            with open(self.log_path) as f:
                return f.read()[-20000:]
        except OSError:
            return ""

    def stop(self):
        if self.proc is not None:
            # SIGINT lets the daemon close its channels; it takes about 1.5 s.
            stop_process(self.proc, signal.SIGINT, grace=5)
            self.log.close()
            self.proc = None
        for sim in self.sims:
            sim.stop()
        self.sims = []
        if os.environ.get("VQ_KEEP_LOGS"):
            return
        shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
        return False


def wait_for(condition, timeout, step=0.02):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()


def stop_process(proc, sig, grace=3):
    if proc.poll() is not None:
        return
    try:
        proc.send_signal(sig)
        proc.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
    except ProcessLookupError:
        pass

"""A one-node Slurm cluster of the test's own: munged, slurmctld and slurmd started in a
temporary folder with a minimal configuration, on free ports of the loopback address, and
stopped again, each by the process id the test started it with. Needs root (slurmd runs jobs
as their submitting user) and Debian's slurm-wlm and munge; `missing()` says what is lacking.
"""
import os
import shutil
import socket
import subprocess
import time

import child_processes

DAEMONS = ("munged", "slurmctld", "slurmd")
CLIENTS = ("sbatch", "sinfo", "scancel")


def missing():
    """Why a cluster cannot be started here, or None when it can."""
    if os.geteuid() != 0:
        return "a Slurm node needs root (slurmd runs jobs as their user); run the tests as root"
    absent = [name for name in DAEMONS + CLIENTS if find(name) is None]
    if absent:
        return f"{', '.join(absent)} not installed (apt-get install slurm-wlm munge; scripts/test does)"
    return None


def find(program):
    return shutil.which(program) or next(
        (path for path in (f"/usr/sbin/{program}", f"/sbin/{program}") if os.access(path, os.X_OK)), None)


def _free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class OneNodeSlurm:
    """Use as a context manager; `environment` is what the Slurm commands need (SLURM_CONF)."""

    NODE = "quarro-node"

    def __init__(self, folder, cpus=8):
        self.folder = folder
        self.cpus = cpus
        self.processes = []
        self.environment = dict(os.environ, SLURM_CONF=str(folder / "slurm.conf"))

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()

    def _start(self):
        folder = self.folder
        for sub in ("state", "spool", "munge"):
            (folder / sub).mkdir(mode=0o700)
        key = folder / "munge" / "munge.key"
        key.write_bytes(os.urandom(1024))
        key.chmod(0o400)
        self.munge_socket = folder / "munge" / "munge.socket"
        self._spawn("munged", [find("munged"), "--foreground", "--force", f"--socket={self.munge_socket}",
                               f"--key-file={key}", f"--log-file={folder / 'munge' / 'munged.log'}",
                               f"--pid-file={folder / 'munge' / 'munged.pid'}",
                               f"--seed-file={folder / 'munge' / 'munged.seed'}"])
        self._wait_for(lambda: self.munge_socket.exists(), "munged's socket")

        controller = socket.gethostname().split(".")[0]
        (folder / "slurm.conf").write_text(f"""\
ClusterName=quarrotest
SlurmctldHost={controller}(127.0.0.1)
SlurmctldPort={_free_port()}
SlurmdPort={_free_port()}
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket={self.munge_socket}
CredType=cred/munge
StateSaveLocation={folder / 'state'}
SlurmdSpoolDir={folder / 'spool'}
SlurmctldPidFile={folder / 'slurmctld.pid'}
SlurmdPidFile={folder / 'slurmd.pid'}
SlurmctldLogFile={folder / 'slurmctld.log'}
SlurmdLogFile={folder / 'slurmd.log'}
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SlurmdParameters=config_overrides
ReturnToService=2
MpiDefault=none
NodeName={self.NODE} NodeHostname={socket.gethostname()} NodeAddr=127.0.0.1 CPUs={self.cpus} State=UNKNOWN
PartitionName=quarro Nodes={self.NODE} Default=YES MaxTime=INFINITE State=UP
""")
        conf = str(folder / "slurm.conf")
        self._spawn("slurmctld", [find("slurmctld"), "-D", "-i", "-f", conf])
        self._spawn("slurmd", [find("slurmd"), "-D", "-N", self.NODE, "-f", conf])
        self._wait_for(self._node_idle, f"node {self.NODE} to be idle", seconds=60)

    def _spawn(self, name, arguments):
        log = open(self.folder / f"{name}.out", "wb")
        process = subprocess.Popen(arguments, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                   env=self.environment)
        log.close()
        self.processes.append((name, process))

    def _node_idle(self):
        shown = subprocess.run([find("sinfo"), "-h", "-N", "-o", "%T"], env=self.environment,
                               capture_output=True, text=True, timeout=30)
        return shown.returncode == 0 and shown.stdout.strip() == "idle"

    def _wait_for(self, ready, what, seconds=20):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            for name, process in self.processes:
                if process.poll() is not None:
                    raise RuntimeError(f"{name} ended with status {process.returncode}: {self.logs()}")
            if ready():
                return
            time.sleep(0.2)
        raise RuntimeError(f"gave up waiting for {what}: {self.logs()}")

    def logs(self):
        """The daemons' own logs, for a failure's message."""
        text = []
        for path in sorted(self.folder.glob("*.log")) + sorted(self.folder.glob("*.out")) + \
                sorted((self.folder / "munge").glob("*.log")):
            text.append(f"--- {path.name}\n{path.read_text(errors='replace')[-3000:]}")
        return "\n".join(text)

    def stop(self):
        """Cancels what is left of this cluster's jobs, then stops the daemons this object started,
        the last started first, each by its own id."""
        if any(name == "slurmctld" and process.poll() is None for name, process in self.processes):
            scancel = find("scancel")
            if scancel is not None:
                subprocess.run([scancel, "--full", f"--user={os.geteuid()}"], env=self.environment,
                               capture_output=True, timeout=30)
        while self.processes:
            child_processes.stop(self.processes.pop()[1])

"""The real keelwave binary on the stand-in librtlsdr, and the clients a chart program would be.
CTest gives KEELWAVE_BINARY, STANDIN_DIR (where the stand-in's librtlsdr.so.0 is) and PROJECT_DIR.
"""
import contextlib
import os
import pathlib
import socket
import subprocess
import tempfile
import time

DEMO = os.path.join(os.environ["PROJECT_DIR"], "data", "demo.cu8")
DEMO_SENTENCES = open(DEMO.replace(".cu8", ".expected.txt")).read().split()
GAINS = ("Supported Gains (dB):  0.0 0.9 1.4 2.7 3.7 7.7 8.7 12.5 14.4 15.7 16.6 19.7 20.7 22.9 "
         "25.4 28.0 29.7 32.8 33.8 36.4 37.2 38.6 40.2 42.1 43.4 43.9 44.5 48.0 49.6\n")
REPORT = GAINS + "Freq: 162.000 MHz\nFreq Correction: 0 ppm\n"
CLOSED = "closed"  # as standard output: the run starts without one, as `keelwave >&-` does


class Keelwave(contextlib.AbstractContextManager):
    """A run in the background with one tuner attached, unless `standin` (RTLSDR_STANDIN_*
    settings without the prefix) says otherwise; its standard output and error and the
    stand-in's call log go to files read while it runs."""

    def __init__(self, *arguments, standin=None, stdin=subprocess.DEVNULL, stdout=None):
        self.files = tempfile.TemporaryDirectory(prefix="keelwave-test-")
        settings = {"DEVICES": 1, "CALL_LOG": self.path("calls"), **(standin or {})}
        environment = dict(os.environ, LD_LIBRARY_PATH=os.environ["STANDIN_DIR"],
                           **{"RTLSDR_STANDIN_" + k: str(v) for k, v in settings.items()})
        with open(self.path("out"), "wb") as out, open(self.path("err"), "wb") as err:
            self.process = subprocess.Popen(
                [os.environ["KEELWAVE_BINARY"], *arguments], env=environment, stdin=stdin,
                stdout=out if stdout in (None, CLOSED) else stdout, stderr=err,
                preexec_fn=(lambda: os.close(1)) if stdout == CLOSED else None)

    def __exit__(self, *exception):
        self.process.kill()
        self.process.wait()
        self.files.cleanup()

    def path(self, name):
        return os.path.join(self.files.name, name)

    def read(self, name):
        file = pathlib.Path(self.path(name))
        return file.read_text(encoding="latin-1") if file.exists() else ""

    def wait_for(self, text, where="out", timeout=20):
        """True once `text` has appeared in "out", "err" or "calls"."""
        deadline = time.monotonic() + timeout
        while text not in self.read(where) and time.monotonic() < deadline:
            time.sleep(0.01)
        return text in self.read(where)

    def calls(self):
        return self.read("calls").splitlines()

    def stop(self, signal=None, timeout=20):
        """Sends `signal` if given and waits for the end, killing a hang; the exit status
        (negative: the signal that ended it), standard output and standard error."""
        if signal is not None:
            self.process.send_signal(signal)
        try:
            status = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            status = self.process.wait()
        return status, self.read("out"), self.read("err")


def run(*arguments, standin=None, stdin=subprocess.DEVNULL):
    """A run to its end, with no tuner attached unless `standin` gives some."""
    with Keelwave(*arguments, standin={"DEVICES": 0, **(standin or {})}, stdin=stdin) as run:
        return run.stop()


def logged_sentences(out):
    """The sentences of the log lines "2018-04-30 09:05:07.042  INFO     !AIVDM,...", bare."""
    return [line[34:] for line in out.splitlines() if line[25:40] == "INFO     !AIVDM"]


def on_channel(sentences, channel):
    """The sentences of one channel, in their order: the letter is the fifth field."""
    return [s for s in sentences if s.split(",")[4] == channel]


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def connect(port, receive_buffer=0, timeout=10, address="127.0.0.1"):
    """A TCP client of the receiver's server, retrying while nothing listens yet."""
    deadline = time.monotonic() + timeout
    while True:
        client = socket.socket(socket.AF_INET6 if ":" in address else socket.AF_INET)
        if receive_buffer:
            client.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
        try:
            client.connect((address, port))
            return client
        except ConnectionRefusedError:
            client.close()
            if time.monotonic() > deadline:
                raise
            time.sleep(0.01)


def read_lines(client, count, quiet=5):
    """Up to `count` lines ended by CR LF, without it; fewer if nothing comes for `quiet` s."""
    client.settimeout(quiet)
    received = b""
    try:
        while received.count(b"\r\n") < count and (more := client.recv(65536)):
            received += more
    except socket.timeout:
        pass
    return received.decode("latin-1").split("\r\n")[:-1][:count]

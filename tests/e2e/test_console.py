"""The binary with a console that misbehaves: one that takes nothing (a full pipe, a paused
terminal) holds up neither the TCP clients nor the signals, with the tuner or a recording as
input; a failed write of the log is reported once and ends the run with status 1."""
import fcntl
import os
import signal
import subprocess
import threading
import unittest

from keelwave import (CLOSED, DEMO, DEMO_SENTENCES, REPORT, Keelwave, connect, free_port,
                      read_lines)


def send_twice(pipe):
    with open(DEMO, "rb") as recording:
        demo = recording.read()
    pipe.write(demo + demo)
    pipe.flush()


class Console(unittest.TestCase):
    def test_a_console_that_takes_nothing_holds_up_neither_clients_nor_signals(self):
        # A recording on standard input that never ends (until the pipe to `cat` is closed):
        # twice the bundled one, sent once the client is there, then nothing.
        with subprocess.Popen(["cat"], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE) as recording:
            for input, standin, stop, err in (
                    ([], {"INPUT": DEMO, "REPEAT": 0, "PACE": 4}, signal.SIGTERM,
                     REPORT + "Gain: Auto\n"), (["-r", "-"], {}, signal.SIGINT, "")):
                with self.subTest(input=input):
                    reading, writing = os.pipe()  # one page, a few dozen lines, never read
                    fcntl.fcntl(writing, fcntl.F_SETPIPE_SZ, 4096)
                    console = os.fdopen(reading, "rb")
                    port = free_port()
                    with console, Keelwave(*input, "--net", str(port), standin=standin,
                                           stdin=recording.stdout, stdout=writing) as receiver:
                        os.close(writing)
                        with connect(port) as client:
                            if input:
                                threading.Thread(target=send_twice, args=(recording.stdin,),
                                                 daemon=True).start()
                            # Many times what the pipe holds: the console has long stopped.
                            over_tcp = read_lines(client, 2 * len(DEMO_SENTENCES), quiet=10)
                        self.assertEqual(receiver.stop(stop)[::2], (0, err))
                    self.assertEqual(len(over_tcp), 2 * len(DEMO_SENTENCES))

    def test_a_failed_write_of_the_log_is_reported_once_and_ends_the_run_with_status_one(self):
        with open("/dev/full", "wb") as full:
            for stdout, reason in (full, "No space left on device"), (CLOSED, "Bad file descriptor"):
                with self.subTest(reason=reason), Keelwave("-r", DEMO, stdout=stdout) as receiver:
                    self.assertEqual(receiver.stop()[::2],
                                     (1, "Error: cannot write the log: %s\n" % reason))


if __name__ == "__main__":
    unittest.main()

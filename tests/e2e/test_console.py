"""The binary with a console that misbehaves: one that takes nothing (a full pipe, a paused
terminal) holds up neither the TCP clients nor the signals, with the tuner or a recording as
input; a failed write of the log is reported once and ends the run with status 1; a reader that
leaves ends the run by SIGPIPE, as it always has."""
import os
import signal
import subprocess
import unittest

from keelwave import (CLOSED, DEMO, DEMO_SENTENCES, REPORT, Keelwave, connect, feed, free_port,
                      on_channel, read_lines, run, small_pipe)

TUNER_REPORT = REPORT + "Gain: Auto\n"


class Console(unittest.TestCase):
    def test_a_console_that_takes_nothing_holds_up_neither_clients_nor_signals(self):
        console, writing = small_pipe()  # never read
        port = free_port()
        with console, Keelwave("--net", str(port), stdout=writing,
                               standin={"INPUT": DEMO, "REPEAT": 0, "PACE": 4}) as receiver:
            os.close(writing)
            with connect(port) as client:
                # Many times what the pipe holds, so the console has long stopped taking lines.
                over_tcp = read_lines(client, 2 * len(DEMO_SENTENCES), quiet=10)
            status, _, err = receiver.stop(signal.SIGTERM)
        self.assertEqual(len(over_tcp), 2 * len(DEMO_SENTENCES))
        self.assertEqual((status, err), (0, TUNER_REPORT))

    def test_a_recording_goes_on_while_the_console_takes_nothing_and_a_signal_ends_it(self):
        console, writing = small_pipe()
        port = free_port()
        with console, Keelwave("-r", "-", "--net", str(port), stdin=subprocess.PIPE,
                               stdout=writing) as receiver:
            os.close(writing)
            with connect(port) as client, open(DEMO, "rb") as recording:
                # Input that never ends: the run goes on until the signal.
                feeder = feed(receiver.process.stdin, recording.read())
                over_tcp = read_lines(client, len(DEMO_SENTENCES))
            status, _, err = receiver.stop(signal.SIGINT)
            feeder.join()
        for channel in "AB":
            self.assertEqual(on_channel(over_tcp, channel), on_channel(DEMO_SENTENCES, channel))
        self.assertEqual((status, err), (0, ""))

    def test_a_failed_write_of_the_log_is_reported_once_and_ends_the_run_with_status_one(self):
        with open("/dev/full", "wb") as full:
            for stdout, reason in (full, "No space left on device"), (CLOSED, "Bad file descriptor"):
                with self.subTest(reason=reason):
                    status, _, err = run("-r", DEMO, stdout=stdout)
                    self.assertEqual((status, err),
                                     (1, "Error: cannot write the log: %s\n" % reason))
            # With the tuner the clients are served on until the stop.
            port = free_port()
            with Keelwave("--net", str(port), stdout=full,
                          standin={"INPUT": DEMO, "REPEAT": 0, "PACE": 4}) as receiver:
                with connect(port) as client:
                    over_tcp = read_lines(client, 10)
                status, _, err = receiver.stop(signal.SIGTERM)
        self.assertEqual(len(over_tcp), 10)
        self.assertEqual((status, err),
                         (1, "Error: cannot write the log: No space left on device\n" + TUNER_REPORT))

    def test_a_reader_that_leaves_ends_the_run_by_sigpipe(self):
        console, writing = small_pipe()
        with console, Keelwave("-r", DEMO, stdout=writing) as receiver:
            os.close(writing)
            console.readline()
            console.close()
            status, _, err = receiver.stop()
        self.assertEqual((status, err), (-signal.SIGPIPE, ""))


if __name__ == "__main__":
    unittest.main()

"""The binary on Debian's real rtl_tcp, serving the stand-in tuner: the sentences a recording
gives, and the server killed and started again twice mid-run while a client of the receiver
stays connected."""
import contextlib
import os
import random
import signal
import subprocess
import time
import unittest

from keelwave import (DEMO, DEMO_SENTENCES, Keelwave, connect, free_port, logged_sentences,
                      on_channel, read_lines)


def listening(port):
    """Whether a socket listens on the loopback port (state 0A of /proc/net/tcp)."""
    with open("/proc/net/tcp") as table:
        return any(row.split()[1] == "0100007F:%04X" % port and row.split()[3] == "0A"
                   for row in list(table)[1:])


class RtlTcp(contextlib.AbstractContextManager):
    """Debian's rtl_tcp on the stand-in tuner, listening on a loopback port, ready once
    entered; its stream is the stand-in's (RTLSDR_STANDIN_* settings without the prefix)."""

    def __init__(self, port, **standin):
        environment = dict(os.environ, LD_LIBRARY_PATH=os.environ["STANDIN_DIR"],
                           RTLSDR_STANDIN_DEVICES="1",
                           **{"RTLSDR_STANDIN_" + k: str(v) for k, v in standin.items()})
        self.process = subprocess.Popen(
            ["rtl_tcp", "-a", "127.0.0.1", "-p", str(port), "-f", "162000000", "-s", "288000"],
            env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while not listening(port) and time.monotonic() < deadline:
            time.sleep(0.01)

    def __exit__(self, *exception):
        self.process.kill()  # by its process id, as a crash or a pulled plug would end it
        self.process.wait()


class RtlTcpServer(unittest.TestCase):
    def test_rtl_tcp_gives_the_recording_s_sentences_and_is_reconnected_to_when_restarted(self):
        port, net = free_port(), free_port()
        servers = [RtlTcp(port, INPUT=DEMO, REPEAT=0)]
        try:
            with Keelwave("--rtl-tcp", "127.0.0.1:%d" % port, "--net", str(net)) as receiver, \
                    connect(net) as client:
                # The first pass of the endless recording, in real time, channel by channel.
                for channel in "AB":
                    expected = on_channel(DEMO_SENTENCES, channel)
                    deadline = time.monotonic() + 20
                    while (len(heard := on_channel(logged_sentences(receiver.read("out")),
                                                   channel)) < len(expected)
                           and time.monotonic() < deadline):
                        time.sleep(0.1)
                    self.assertEqual(heard[:len(expected)], expected)
                for restart in 1, 2:
                    time.sleep(random.uniform(0, 0.3))  # at any moment of a block
                    servers[-1].__exit__()
                    servers.append(RtlTcp(port, INPUT=DEMO, REPEAT=0, PACE=4))
                    deadline = time.monotonic() + 20
                    while (receiver.read("out").count("again after") < restart
                           and time.monotonic() < deadline):
                        time.sleep(0.01)
                    # Decoding resumes, and the client that stayed connected hears it.
                    read_lines(client, 1000, quiet=0.1)  # what came before
                    self.assertEqual(len(read_lines(client, 20)), 20)
                status, out, err = receiver.stop(signal.SIGTERM)
        finally:
            servers[-1].__exit__()
        self.assertEqual(status, 0)
        self.assertEqual(err, "rtl_tcp 127.0.0.1:%d: R820T tuner, 29 gain steps\n"
                              "Freq: 162.000 MHz\nGain: Auto\n" % port)
        self.assertEqual(out.count(" ERROR "), 2)
        self.assertNotIn("Disconnected", out)


if __name__ == "__main__":
    unittest.main()

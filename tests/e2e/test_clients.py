"""The binary's network outputs with clients of every kind: IPv6 and IPv4 clients of one port,
one that shuts down its sending side at once, a UDP destination in brackets; the cap on clients,
and accepting while the process has no descriptor to spare."""
import os
import resource
import signal
import socket
import struct
import subprocess
import time
import unittest

from keelwave import DEMO, Keelwave, connect, free_port, read_lines

OUT_OF_DESCRIPTORS = "ERROR    Accept error Too many open files, retrying every second\n"


class Clients(unittest.TestCase):
    def test_ipv6_and_listen_only_clients_and_a_bracketed_udp_destination_get_the_sentences(self):
        with socket.socket(socket.AF_INET6, socket.SOCK_DGRAM) as udp:
            udp.bind(("::1", 0))
            udp.settimeout(10)
            port = free_port()
            with Keelwave("--net", str(port), "--udp", "[::1]:%d" % udp.getsockname()[1],
                          standin={"INPUT": DEMO, "REPEAT": 0, "PACE": 4}) as receiver:
                with connect(port, address="::1") as ipv6, connect(port) as listen_only:
                    listen_only.shutdown(socket.SHUT_WR)  # as `nc -N` with nothing to send does
                    for client in ipv6, listen_only:
                        self.assertEqual(len(read_lines(client, 20)), 20)
                    self.assertTrue(udp.recv(100).startswith(b"!AIVDM,"))
                    self.assertTrue(receiver.wait_for("INFO     Connected [::1]:%d\n" %
                                                      ipv6.getsockname()[1]))
                self.assertEqual(receiver.stop(signal.SIGTERM)[0], 0)

    def test_clients_beyond_the_cap_are_refused_and_a_lack_of_descriptors_pauses_accepting(self):
        port = free_port()
        with Keelwave("-r", "-", "--net", str(port), stdin=subprocess.PIPE) as receiver:
            served = [connect(port) for _ in range(100)]
            with connect(port) as refused:
                refused.settimeout(10)
                self.assertEqual(refused.recv(10), b"")  # closed at once
                self.assertTrue(receiver.wait_for("INFO     Refused 127.0.0.1:%d, already 100 "
                                                  "clients\n" % refused.getsockname()[1]))
            if os.environ["KEELWAVE_SANITIZE"] == "address":  # its vptr check then misreports
                self.skipTest("UBSan probes memory through a pipe, which needs descriptors")
            # Not one descriptor to spare: the next client waits in the listen queue.
            in_use = len(os.listdir("/proc/%d/fd" % receiver.process.pid))
            resource.prlimit(receiver.process.pid, resource.RLIMIT_NOFILE, (in_use, in_use))
            with connect(port) as waiting:
                self.assertTrue(receiver.wait_for(OUT_OF_DESCRIPTORS))
                time.sleep(1.5)  # a retry or two, which fail again without a word
                for client in served[:5]:  # a reset frees its descriptor at once
                    client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    client.close()
                self.assertTrue(receiver.wait_for("Connected 127.0.0.1:%d\n" %
                                                  waiting.getsockname()[1]))
            status, out, _ = receiver.stop(signal.SIGTERM)
            for client in served:
                client.close()
        self.assertEqual((status, out.count(OUT_OF_DESCRIPTORS)), (0, 1))


if __name__ == "__main__":
    unittest.main()

"""The binary's network outputs with clients and destinations of every kind: IPv6 and IPv4
clients of one port, a client that shuts down its sending side at once, a UDP destination in
brackets; the cap on clients, and accepting while the process has no descriptor to spare."""
import os
import resource
import signal
import socket
import struct
import subprocess
import threading
import time
import unittest

from keelwave import (DEMO, DEMO_SENTENCES, Keelwave, connect, feed, free_port, on_channel,
                      read_lines)

RESOURCE_ERROR = "ERROR    Accept error Too many open files, retrying every second\n"


def reset(client):
    """Closes with a reset, which the receiver notices at once."""
    client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    client.close()


def collect(udp, datagrams):
    """Each datagram's sentence, without its CR LF, until every sentence or a time-out."""
    try:
        while len(datagrams) < len(DEMO_SENTENCES):
            datagrams.append(udp.recv(100).decode()[:-2])
    except socket.timeout:
        pass


class Clients(unittest.TestCase):
    def assert_every_sentence(self, sentences):
        for channel in "AB":
            self.assertEqual(on_channel(sentences, channel), on_channel(DEMO_SENTENCES, channel))

    def test_ipv6_and_listen_only_clients_and_a_bracketed_udp_destination_get_every_sentence(self):
        with socket.socket(socket.AF_INET6, socket.SOCK_DGRAM) as udp:
            udp.bind(("::1", 0))
            udp.settimeout(5)
            port = free_port()
            with Keelwave("-r", "-", "--net", str(port), "--udp", "[::1]:%d" % udp.getsockname()[1],
                          stdin=subprocess.PIPE) as receiver:
                clients = [connect(port, address="::1"), connect(port), connect(port)]
                listen_only = clients[2]
                listen_only.shutdown(socket.SHUT_WR)  # as `nc -N` with nothing to send
                names = ["[::1]:%d" % clients[0].getsockname()[1]] + [
                    "%s:%d" % client.getsockname() for client in clients[1:]]
                for name in names:
                    self.assertTrue(receiver.wait_for("INFO     Connected %s\n" % name))
                datagrams = []
                collector = threading.Thread(target=collect, args=(udp, datagrams))
                collector.start()
                with open(DEMO, "rb") as recording:  # its end ends the run
                    feed(receiver.process.stdin, recording.read(), close=True)
                heard = [read_lines(client, len(DEMO_SENTENCES)) for client in clients]
                collector.join()
                for client in clients:
                    client.close()
                status, _, err = receiver.stop()
        self.assertEqual((status, err), (0, ""))
        for sentences in heard + [datagrams]:
            self.assert_every_sentence(sentences)

    def test_clients_beyond_the_cap_are_refused_and_a_lack_of_descriptors_pauses_accepting(self):
        port = free_port()
        with Keelwave("-r", "-", "--net", str(port), stdin=subprocess.PIPE) as receiver:
            served = [connect(port) for _ in range(100)]
            self.assertTrue(receiver.wait_for("INFO     Connected ", count=100))
            with connect(port) as refused:
                refused.settimeout(10)
                self.assertEqual(refused.recv(10), b"")  # closed at once
                self.assertTrue(receiver.wait_for(
                    "INFO     Refused %s:%d, already 100 clients\n" % refused.getsockname()))

            # Not one descriptor to spare: the next client waits in the listen queue.
            pid = receiver.process.pid
            in_use = len(os.listdir("/proc/%d/fd" % pid))
            resource.prlimit(pid, resource.RLIMIT_NOFILE, (in_use, in_use))
            with connect(port) as waiting:
                self.assertTrue(receiver.wait_for(RESOURCE_ERROR))
                time.sleep(1.5)  # a retry or two, which fail again without a word
                for client in served[:5]:
                    reset(client)
                self.assertTrue(receiver.wait_for(
                    "INFO     Connected %s:%d\n" % waiting.getsockname()))
            for client in served[5:]:
                client.close()
            status, out, _ = receiver.stop(signal.SIGTERM)
        self.assertEqual(status, 0)
        self.assertEqual(out.count(RESOURCE_ERROR), 1)


if __name__ == "__main__":
    unittest.main()

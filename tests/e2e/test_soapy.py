"""The binary on a SoapySDR device: Debian's SoapySDR and its rtlsdr module on the stand-in tuner
give at 288000 samples/s the sentences of the recording, and from a recording the transmitter
model made at four times that rate, taken down by the resampler, the sentences a correct
receiver prints for it."""
import os
import signal
import subprocess
import tempfile
import time
import unittest

from keelwave import DEMO, DEMO_SENTENCES, Keelwave, logged_sentences, on_channel

SAMPLE = os.path.join(os.environ["PROJECT_DIR"], "tests", "data", "real-aivdm-sample.nmea")
# As the bundled recording was made (data/README.md), for 3 s.
DEMO_MAKING = ["--snr", "20", "--carrier-offset", "300", "--ppm", "10", "--spacing", "2",
               "--leading-silence", "0.5", "--seed", "2018", "--duration", "3"]


def until_every_sentence(receiver, count, timeout=40):
    deadline = time.monotonic() + timeout
    while len(logged_sentences(receiver.read("out"))) < count and time.monotonic() < deadline:
        time.sleep(0.1)


class Soapy(unittest.TestCase):
    def test_at_288000_and_from_four_times_that_rate_the_recording_s_sentences(self):
        with tempfile.TemporaryDirectory() as work:
            fast = os.path.join(work, "demo.cu8")
            subprocess.run([os.environ["KEELWAVE_AISGEN"], SAMPLE, "-o", fast, *DEMO_MAKING,
                            "--rate", "1152000"], check=True, capture_output=True)
            with open(os.path.join(work, "demo.expected.txt")) as expected:
                fast_sentences = expected.read().split()
            cases = [  # arguments, input, its sentences, tuner report, calls among those made
                (["--soapy", "driver=rtlsdr"], DEMO, DEMO_SENTENCES,
                 "Sample rate: 288000 samples/s\nFreq: 162.000 MHz\nGain: Auto\n",
                 ["rtlsdr_set_sample_rate 288000", "rtlsdr_set_tuner_gain_mode 0"]),
                (["--soapy", "driver=rtlsdr,serial=00000001", "--soapy-rate", "1152000",
                  "--gain", "40.2", "--freq-correction", "-12"], fast, fast_sentences,
                 "Sample rate: 1152000 samples/s, decimated by 4\nFreq: 162.000 MHz\n"
                 "Freq Correction: -12 ppm\nGain: 40.2 dB\n",
                 ["rtlsdr_get_index_by_serial 00000001", "rtlsdr_set_sample_rate 1152000",
                  "rtlsdr_set_freq_correction -12", "rtlsdr_set_tuner_gain_mode 1"]),
            ]
            runs = [Keelwave(*arguments, standin={"INPUT": recording})
                    for arguments, recording, _, _, _ in cases]  # side by side, in real time
            for (arguments, _, expected, report, calls), receiver in zip(cases, runs):
                with self.subTest(arguments=arguments), receiver:
                    until_every_sentence(receiver, len(expected))
                    status, out, err = receiver.stop(signal.SIGTERM)
                    self.assertEqual((status, err),
                                     (0, "SoapySDR %s: RTLSDR R820T\n" % arguments[1] + report))
                    sentences = logged_sentences(out)
                    for channel in "AB":
                        self.assertEqual(on_channel(sentences, channel),
                                         on_channel(expected, channel))
                    self.assertLessEqual(set(calls), set(receiver.calls()))


if __name__ == "__main__":
    unittest.main()

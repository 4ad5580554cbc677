"""The binary's answers that start no receiver: help, the device list, option and address errors,
byte for byte, and the exit status."""
import socket
import unittest

from keelwave import run

HELP = """Program options:
  -h [ --help ]         This help message
  --device-list         List Available devices
  --device-index arg    Select RTL device (default: 0)
  --gain arg            Set gain in Receiver, dB (default: Auto)
  --agc                 Enable Automatic Gain Control in RTL (default: off)
  --freq-correction arg Set frequency correction, ppm (default: 0)
  --net arg             Enable network-server on port (default: off)
  --udp arg             UDP server address. Format: address:port, repeatable 
                        (default: off)
  --no-console          Disable logging on console (default: on)
  --verbose             Verbose output signal level
  -r [ --input ] arg    Read raw I/Q from a file instead of the tuner (unsigned
                        8-bit, 288000 samples/s, centred at 162 MHz; - reads 
                        standard input)
  --decoder arg         Decoding chain: classic (default) or sensitive
  --realtime            Replay --input at the pace it was recorded
  --output arg          Also send the messages to KIND:ADDRESS[,format=FORMAT],
                        repeatable; KIND:ADDRESS is server:PORT, udp:HOST:PORT,
                        tcp:HOST:PORT (connects out), file:PATH (- is standard 
                        output) or mqtt://[USER:PASSWORD@]HOST[:PORT][/TOPIC] 
                        (mqtts:// for TLS, then ca=FILE; qos=0|1; TOPIC from 
                        {station} {channel} {type} {mmsi}, default 
                        ais/{station}), FORMAT nmea (default), tagged or json 
                        (default for mqtt)
  --station arg         Station name in tag blocks and JSON (default: keelwave)
  --start-time arg      UTC time at which --input was recorded, ISO 8601, e.g. 
                        2026-03-04T03:57:11.5Z
  --stats arg           Log statistics every SECONDS (default: off)
  --rtl-tcp arg         Receive from an rtl_tcp server instead of the tuner. 
                        Format: host:port
  --soapy arg           Receive from a SoapySDR device instead of the tuner, 
                        e.g. driver=airspy
  --soapy-rate arg      Sample rate of the --soapy device, samples/s (default: 
                        the lowest multiple of 288000 it offers)

"""
KINDS = "the kind must be server:, udp:, file:, tcp:, mqtt:// or mqtts://"
OUTPUT = "Error: the argument ('%s') for option '--output' is invalid: %s\n"
BANNER = "  INFO     Keelwave v.20180430\n"
LISTED = "Available Devices:\n"
NO_SOAPY = "No SoapySDR devices.\n"
ELEVEN = {"DEVICES": 11, "NAMES": "Blog V3|Nooelec"}


class CommandLine(unittest.TestCase):
    def test_answers_without_starting_the_receiver(self):
        with socket.socket() as taken:
            taken.bind(("0.0.0.0", 0))
            taken.listen()
            port = str(taken.getsockname()[1])
            cases = [  # arguments, stand-in, status, standard output after the banner, error
                ([], {}, 0, HELP, ""),
                (["-h", "--device-list"], {}, 0, HELP, ""),
                (["--help"], {}, 0, HELP, ""),
                (["--device-list"], {}, 0, "No Available devices.\n" + NO_SOAPY, ""),
                (["--device-list", "--gain", "3"], ELEVEN, 0, LISTED + " 0: Blog V3\n" +
                 "".join(f"{i:2}: Nooelec\n" for i in range(1, 11)) + "SoapySDR devices:\n" +
                 "".join(f"{i:2}: driver=rtlsdr,serial={i + 1:08} ({'Nooelec' if i else 'Blog V3'}"
                         f" :: {i + 1:08})\n" for i in range(11)), ""),
                (["--device-list"], {"DEVICES": 1, "FAIL": "rtlsdr_get_device_name=-1:19"}, 1,
                 LISTED, "Error: rtlsdr_get_device_name(): No such device\n"),
                (["--bogus"], {}, 1, "", "Error: unrecognised option '--bogus'\n"),
                (["--gain", "loud"], {}, 1, "",
                 "Error: the argument ('loud') for option '--gain' is invalid\n"),
                (["--gain", "1e38"], {}, 1, "",
                 "Error: the argument ('1e38') for option '--gain' is invalid\n"),
                (["--net", "ten"], {}, 1, "",
                 "Error: the argument ('ten') for option '--net' is invalid\n"),
                (["--gain=1", "--gain", "2"], {}, 1, "",
                 "Error: option '--gain' cannot be specified more than once\n"),
                (["--dev", "1"], {}, 1, "", "Error: option '--dev' is ambiguous and matches "
                 "'--device-index', and '--device-list'\n"),
                (["--udp"], {}, 1, "",
                 "Error: the required argument for option '--udp' is missing\n"),
                (["-r", "x.cu8", "--freq-correction", "3"], {}, 1, "",
                 "Error: conflicting options '--input' and '--freq-correction'\n"),
                (["--decoder", "x"], {}, 1, "",
                 "Error: the argument ('x') for option '--decoder' is invalid\n"),
                (["--realtime"], {}, 1, "",
                 "Error: option '--realtime' requires option '--input'\n"),
                (["--rtl-tcp", "mast:1234", "--device-index", "1"], {}, 1, "",
                 "Error: conflicting options '--rtl-tcp' and '--device-index'\n"),
                (["-r", "x.cu8", "--rtl-tcp", "mast:1234"], {}, 1, "",
                 "Error: conflicting options '--input' and '--rtl-tcp'\n"),
                (["--soapy", "driver=rtlsdr", "--rtl-tcp", "mast:1234"], {}, 1, "",
                 "Error: conflicting options '--rtl-tcp' and '--soapy'\n"),
                (["--soapy", "", "--device-index", "0"], {}, 1, "",
                 "Error: conflicting options '--soapy' and '--device-index'\n"),
                (["--soapy-rate", "1152000"], {}, 1, "",
                 "Error: option '--soapy-rate' requires option '--soapy'\n"),
                (["--soapy", "driver=nothing"], {}, 1, "",
                 "Error: SoapySDR driver=nothing: SoapySDR::Device::make() no match\n"),
                (["--soapy", "driver=rtlsdr", "--soapy-rate", "500000"], {"DEVICES": 1}, 1, "",
                 "Error: SoapySDR driver=rtlsdr: cannot take 500000 samples/s to 288000\n"),
                (["-r", "/nothere.cu8"], {}, 1, "",
                 "Error: /nothere.cu8: No such file or directory\n"),
                (["--net", "70000"], {}, 1, "", "Error enableNetworkServer() on port 70000\n"),
                (["--net", "0"], {}, 1, "", "Error enableNetworkServer() on port 0\n"),
                (["--net", port], {}, 1, "", f"Error enableNetworkServer() on port {port}\n"),
                (["--device-index", "1"], {}, 1, "", "Error: rtlsdr_open(): No such device\n"),
                (["--udp", ":10110"], {}, 1, "", "Error: rtlsdr_open(): No such device\n"),
                (["--output", f"server:{port}", "--net", port], {}, 1, "",
                 f"Error: two servers on port {port}\n"),
                (["--output", "file:/nothere/log"], {}, 1, "",
                 "Error: /nothere/log: No such file or directory\n"),
                (["--start-time", "2026-03-04T03:57:11Z"], {}, 1, "",
                 "Error: option '--start-time' requires option '--input'\n"),
                (["--stats", "0"], {}, 1, "",
                 "Error: the argument ('0') for option '--stats' is invalid\n"),
                (["--udp", "[::ffff:1.2.3.4]:10110"], {}, 1, "",
                 "Error: rtlsdr_open(): No such device\n"),
                (["--output", "mqtt://mast:s3cret@h/ais/#"], {}, 1, "",
                 OUTPUT % ("mqtt://mast:****@h/ais/#", "a topic to publish to has no wildcard "
                           "(+ or #)")),
                (["--output", "mqtts://h,ca=/nothere"], {}, 1, "",
                 "Error: /nothere: no certificates could be read\n"),
            ] + [([option, text], {}, 1, "", f"Invalid {what} in {option} option {text}\n")
                 for what, texts in [("address", ["harbour", "a:b:10110", "::1:10110", "[::1]",
                                                  "[h:1]:10110"]),
                                     ("port", ["harbour:", "harbour:port", "harbour:65536",
                                               "harbour:0", "[::1]:0"])] for text in texts
                 for option in ("--udp", "--rtl-tcp")] + [
                (["-r", "-", *arguments], {}, 1, "",
                 f"Error: the argument ('{arguments[-1]}') for option '--{arguments[0][2:]}' is "
                 "invalid" + ("\n" if why is None else f": {why}\n"))
                for arguments, why in [
                    (["--output", "smtp:host:1"], KINDS), (["--output", "server"], KINDS),
                    (["--output", "file:"], "no address after 'file:'"),
                    (["--output", "server:0"], "the port must be a number from 1 to 65535"),
                    (["--output", "server:10110x"], "the port must be a number from 1 to 65535"),
                    (["--output", "udp:host"],
                     "the address must be HOST:PORT or [IPv6]:PORT, port 1 to 65535"),
                    (["--output", "udp:h:1,format=xml"], "the format must be nmea, tagged or json"),
                    (["--output", "file:a,qos=1"], "unknown setting 'qos=1'"),
                    (["--output", "tcp:host"],
                     "the address must be HOST:PORT or [IPv6]:PORT, port 1 to 65535"),
                    (["--output", "mqtt://h,qos=2"], "qos must be 0 or 1"),
                    (["--output", "mqtts://h/ais/{ship},ca=x"],
                     "the topic may hold {station}, {channel}, {type} and {mmsi}, not {ship}"),
                    (["--station", "mast,1"], None), (["--station", "sixteen-letter-s"], None),
                    (["--start-time", "2026-02-30T00:00:00Z"], None),
                    (["--start-time", "2026-03-04T03:57:11"], None)]]
            for arguments, standin, status, out, err in cases:
                with self.subTest(arguments=arguments):
                    actual, logged, error = run(*arguments, standin=standin)
                    self.assertEqual(logged[23:23 + len(BANNER)], BANNER)
                    self.assertEqual((actual, logged[23 + len(BANNER):], error),
                                     (status, out, err))


if __name__ == "__main__":
    unittest.main()

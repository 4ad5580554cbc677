// How many messages per second one station sustains into a local MQTT broker, with nothing
// dropped on the way. The messages are the real ones of tests/data/real-aivdm-sample.nmea (every
// type), as records the way a chain hands them over, in JSON as the output's default. They go
// through the hand-off as a recording's do (a channel waits for room rather than drop), into
// the MQTT output, which holds a recording's messages back while the broker is slow; a second
// client subscribed to the station's topic counts what arrives. The figure is messages per
// second of wall time, from the first message handed over to the last one received, and the
// run fails unless every message arrived and the output dropped none.
//
//   mqtt_publish_bench PORT [QOS=0] [MESSAGES=200000]      (bench/broker-throughput runs it)
#include "ais/sentence_encoder.hpp"
#include "app/message_hand_off.hpp"
#include "format/formats.hpp"
#include "net/mqtt_output.hpp"
#include "tools/transmitter/expected_sentences.hpp"
#include "tools/transmitter/nmea_input.hpp"

#include <mosquitto.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace keelwave;

namespace {

/// The sample's messages as records, alternately on channel A and B.
std::vector<ais::AisMessage> sampleRecords() {
    std::ifstream file(TEST_DATA_DIR "/real-aivdm-sample.nmea");
    std::vector<ais::AisMessage> records;
    const ais::MessageSink keep{
        [](void* into, const ais::AisMessage& message) {
            static_cast<std::vector<ais::AisMessage>*>(into)->push_back(message);
        },
        &records};
    ais::SentenceEncoder channels[] = {{'A', ais::ChainKind::classic, keep},
                                       {'B', ais::ChainKind::classic, keep}};
    int index = 0;
    for (const auto& message : transmitter::readNmeaMessages(file).messages) {
        // Only what a receiver prints: a chain never hands over a message too long to frame.
        if (transmitter::receiverVerdict(message.bits) == transmitter::MessageVerdict::printed) {
            channels[index++ % 2].emit(message.bits.data(),
                                       static_cast<int32_t>(message.bits.size()), {});
        }
    }
    return records;
}

/// A subscriber on its own libmosquitto thread, counting the station's messages.
struct Counter {
    std::atomic<uint64_t> received{0};
    std::atomic<bool> online{false};
    mosquitto* client = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: mqtt_publish_bench PORT [QOS=0] [MESSAGES=200000]\n");
        return 2;
    }
    const int port = std::stoi(argv[1]);
    const int qos = argc > 2 ? std::stoi(argv[2]) : 0;
    const uint64_t total = argc > 3 ? std::stoull(argv[3]) : 200000;
    const std::vector<ais::AisMessage> records = sampleRecords();

    mosquitto_lib_init();
    Counter counter;
    counter.client = mosquitto_new("bench-subscriber", true, &counter);
    mosquitto_message_callback_set(
        counter.client, [](mosquitto*, void* context, const mosquitto_message* message) {
            auto& count = *static_cast<Counter*>(context);
            if (std::string(message->topic) == "bench/status") {
                count.online = std::string(static_cast<const char*>(message->payload),
                                           static_cast<std::size_t>(message->payloadlen))
                                   .rfind("online", 0) == 0;
            } else {
                ++count.received;
            }
        });
    mosquitto_connect_callback_set(counter.client, [](mosquitto* client, void*, int result) {
        if (result == 0) {
            mosquitto_subscribe(client, nullptr, "ais/#", 1);
            mosquitto_subscribe(client, nullptr, "bench/status", 1);
        }
    });
    if (mosquitto_connect(counter.client, "127.0.0.1", port, 60) != MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(counter.client) != MOSQ_ERR_SUCCESS) {
        std::fprintf(stderr, "no broker on port %d\n", port);
        return 1;
    }

    boost::asio::io_context io;
    format::FormatContext context;
    context.station = "bench";
    const auto json = format::makeFormat("json", context);
    net::MqttSettings settings =
        net::parseMqttAddress("//127.0.0.1:" + std::to_string(port), false);
    settings.qos = qos;
    const auto output = std::make_shared<net::MqttOutput>(
        io, settings, net::MqttOutput::Station{"bench", "bench-station", "online bench"}, true);
    app::MessageHandOff handOff(io, 1024, true);
    handOff.addDestination(*json, *output);
    output->start();

    using Clock = std::chrono::steady_clock;
    Clock::time_point started;
    std::thread channel([&] {
        while (!counter.online) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        started = Clock::now();
        const ais::MessageSink sink = handOff.sink();
        for (uint64_t sent = 0; sent < total; ++sent) {
            sink.callback(sink.context, records[sent % records.size()]);
        }
    });
    const auto giveUp = Clock::now() + std::chrono::minutes(5);
    Clock::time_point finished;
    boost::asio::steady_timer look(io);
    std::function<void()> check = [&] {
        if (counter.received >= total || Clock::now() > giveUp) {
            finished = Clock::now();
            io.stop();
            return;
        }
        look.expires_after(std::chrono::milliseconds(1));
        look.async_wait([&](const boost::system::error_code&) { check(); });
    };
    check();
    io.run();
    handOff.halt();
    channel.join();
    const net::OutputCounts counts = output->counts();
    output->stop();
    mosquitto_disconnect(counter.client);
    mosquitto_loop_stop(counter.client, false);
    mosquitto_destroy(counter.client);

    const double seconds = std::chrono::duration<double>(finished - started).count();
    std::printf(
        "QoS %d: %llu messages in %.2f s: %.0f messages/s; received %llu, output sent %llu "
        "lines, dropped %llu\n",
        qos, static_cast<unsigned long long>(total), seconds,
        static_cast<double>(counter.received) / seconds,
        static_cast<unsigned long long>(counter.received.load()),
        static_cast<unsigned long long>(counts.sent),
        static_cast<unsigned long long>(counts.dropped));
    return counter.received == total && counts.dropped == 0 ? 0 : 1;
}

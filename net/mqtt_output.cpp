#include "net/mqtt_output.hpp"

#include <mosquitto.h>
#include <boost/asio/error.hpp>

#include <stdexcept>
#include <utility>

namespace keelwave::net {

namespace {

const std::string offlineStatus = "offline";

/// `topic` filled for the station and a message, refused if it cannot be published to.
std::string checkedTopic(const std::string& topic, const std::string& station) {
    const std::string filled = fillTopic(topic, station, MessageKeys{'A', 1, 1});
    if (mosquitto_pub_topic_check(filled.c_str()) != MOSQ_ERR_SUCCESS ||
        mosquitto_validate_utf8(filled.c_str(), static_cast<int>(filled.size())) !=
            MOSQ_ERR_SUCCESS) {
        throw std::invalid_argument("the station name makes the topic " + filled + " unusable");
    }
    return filled;
}

}  // namespace

MqttOutput::MqttOutput(boost::asio::io_context& io, MqttSettings brokerSettings,
                       Station stationIdentity, bool holdLinesBack, FeedTiming feedTiming,
                       std::size_t queueBytes)
    : settings(std::move(brokerSettings)),
      station(std::move(stationIdentity)),
      statusTopic(checkedTopic(settings.statusTopic, station.name)),
      holdBack(holdLinesBack),
      timing(feedTiming),
      resolver(io),
      deadline(io),
      retry(io),
      backoff(timing),
      queue(queueBytes),
      outage(describeBroker(settings)) {
    checkedTopic(settings.topic, station.name);
    // One more than the window: the status message is acknowledged like the others.
    link = std::make_shared<MqttLink>(
        io, settings, MqttLink::Identity{station.clientId, statusTopic, offlineStatus},
        sendWindow + 1, *this);
}

MqttOutput::~MqttOutput() {
    link->close(offlineStatus);
}

void MqttOutput::start() {
    attempt();
}

void MqttOutput::attempt() {
    state = State::connecting;
    ++round;
    resolving = true;
    timedOut = false;
    refusal.clear();
    deadline.expires_after(timing.attemptLimit);
    deadline.async_wait(
        [self = shared_from_this(), current = round](const boost::system::error_code& error) {
            if (!error) {
                self->handleDeadline(current);
            }
        });
    // Asked anew every time: the broker's address may have changed since the last.
    resolver.async_resolve(settings.host, std::to_string(settings.port),
                           boost::asio::ip::tcp::resolver::numeric_service,
                           [self = shared_from_this(), current = round](
                               const boost::system::error_code& error,
                               const boost::asio::ip::tcp::resolver::results_type& results) {
                               self->handleResolve(current, error, results);
                           });
}

void MqttOutput::handleResolve(uint64_t current, const boost::system::error_code& error,
                               const boost::asio::ip::tcp::resolver::results_type& results) {
    if (current != round) {
        return;
    }
    resolving = false;
    if (error || results.empty()) {
        fail("cannot resolve " + settings.host + ": " +
             (error ? error : boost::asio::error::host_not_found).message());
        return;
    }
    // IPv4 wherever the host has it, as for UDP.
    auto chosen = results.begin();
    for (auto entry = results.begin(); entry != results.end(); ++entry) {
        if (entry->endpoint().address().is_v4()) {
            chosen = entry;
            break;
        }
    }
    brokerAddress = chosen->endpoint().address().to_string();
    std::string reason;
    if (!link->connect(brokerAddress, reason)) {
        fail(reason);
    }
}

void MqttOutput::handleDeadline(uint64_t current) {
    if (current != round || state != State::connecting ||
        deadline.expiry() > std::chrono::steady_clock::now()) {
        return;
    }
    timedOut = true;
    if (resolving) {
        fail("no answer from the name service in time");
    } else if (!link->drop()) {  // if it can, its loss comes back through linkLost
        fail("no answer from the broker in time");
    }
}

void MqttOutput::linkConnected() {
    if (state != State::connecting) {
        return;
    }
    state = State::connected;
    timedOut = false;
    deadline.expires_at(std::chrono::steady_clock::time_point::max());
    connectedAt = std::chrono::steady_clock::now();
    const bool v6 = brokerAddress.find(':') != std::string::npos;
    outage.connected(
        (v6 ? "[" + brokerAddress + "]" : brokerAddress) + ":" + std::to_string(settings.port),
        queue.droppedLines());
    link->publish(statusTopic, station.onlineStatus, 1, true, nullptr);
    publishQueued();
}

void MqttOutput::linkRefused(const std::string& reason) {
    refusal = reason;
}

void MqttOutput::linkLost(const std::string& reason) {
    if (state != State::connecting && state != State::connected) {
        return;
    }
    fail(timedOut ? "no answer from the broker in time" : refusal.empty() ? reason : refusal);
}

void MqttOutput::linkPublished(int messageId) {
    const auto found = unacknowledged.find(messageId);
    if (found != unacknowledged.end()) {
        sent += found->second;
        unacknowledged.erase(found);
    }
    publishQueued();
}

void MqttOutput::deliverMessage(const MessageLines& lines, const MessageKeys& keys) {
    if (state == State::stopped) {
        return;
    }
    FeedQueue::Entry entry{
        fillTopic(settings.topic, station.name, keys), {}, static_cast<uint32_t>(lines.size())};
    for (const std::string& line : lines) {
        entry.payload += (entry.payload.empty() ? "" : "\n") + line;
    }
    queue.push(std::move(entry));
    publishQueued();
}

void MqttOutput::publishQueued() {
    while (state == State::connected && !queue.empty() && !link->busy() &&
           (settings.qos == 0 || unacknowledged.size() < static_cast<std::size_t>(sendWindow))) {
        const FeedQueue::Entry& next = queue.front();
        int messageId = 0;
        if (!link->publish(next.topic, next.payload, settings.qos, false, &messageId)) {
            return;  // no connection after all: its loss is on its way
        }
        if (settings.qos == 0) {
            sent += next.lines;
        } else {
            unacknowledged[messageId] = next.lines;
        }
        queue.pop();
    }
}

void MqttOutput::fail(const std::string& reason) {
    if (state == State::connected &&
        std::chrono::steady_clock::now() - connectedAt >= timing.steadyConnection) {
        backoff.reset();
    }
    ++round;
    state = State::waiting;
    resolver.cancel();
    deadline.expires_at(std::chrono::steady_clock::time_point::max());
    outage.failed(reason, queue.droppedLines());
    retry.expires_after(backoff.next());
    retry.async_wait(
        [self = shared_from_this(), current = round](const boost::system::error_code& error) {
            if (!error && current == self->round) {
                self->attempt();
            }
        });
}

bool MqttOutput::ready(std::size_t count) {
    static_cast<void>(count);
    return !holdBack || state != State::connected || queue.hasRoom();
}

bool MqttOutput::pending() const {
    // As for a TCP feed: not while an outage lasts.
    return state != State::stopped && !outage.down() &&
           (!queue.empty() || !unacknowledged.empty() || link->busy());
}

void MqttOutput::stop() {
    if (state == State::stopped) {
        return;
    }
    state = State::stopped;
    ++round;
    resolver.cancel();
    deadline.cancel();
    retry.cancel();
    link->close(offlineStatus);
}

OutputCounts MqttOutput::counts() const {
    uint64_t waiting = queue.queuedLines();
    for (const auto& [messageId, lines] : unacknowledged) {
        waiting += lines;
    }
    return {describeBroker(settings), sent, waiting, queue.droppedLines(), -1};
}

}  // namespace keelwave::net

#include "app/message_hand_off.hpp"

#include "base/logger.hpp"

#include <boost/asio/post.hpp>

#include <algorithm>
#include <sstream>

namespace keelwave::app {

MessageHandOff::MessageHandOff(boost::asio::io_context& ioContext, std::size_t capacity,
                               bool waitForRoomInRing)
    : io(ioContext), waitForRoom(waitForRoomInRing), retry(ioContext), ring(capacity) {}

void MessageHandOff::addDestination(format::MessageFormat& format, net::LineOutput& output) {
    destinations.push_back({&format, &output, {}});
}

void MessageHandOff::submitMessage(void* context, const ais::AisMessage& message) {
    static_cast<MessageHandOff*>(context)->submit(message);
}

void MessageHandOff::submit(const ais::AisMessage& message) {
    std::unique_lock<std::mutex> guard(lock);
    if (waitForRoom) {
        room.wait(guard, [this] { return halted || count < ring.size(); });
    }
    if (count == ring.size()) {
        ++dropped[message.channel == 'B' ? 1 : 0];
        return;
    }
    ring[(first + count) % ring.size()] = message;
    ++count;
    if (!drainPosted) {
        drainPosted = true;
        boost::asio::post(io, [this] { drain(); });
    }
}

void MessageHandOff::drain() {
    // A batch at a time, so that a busy harbour does not keep the loop from its sockets.
    for (std::size_t delivered = 0;; ++delivered) {
        if (delivered == drainBatch) {
            boost::asio::post(io, [this] { drain(); });
            return;
        }
        {
            const std::lock_guard<std::mutex> guard(lock);
            if (count == 0) {
                drainPosted = false;
                return;
            }
            inHand = ring[first];
        }
        if (!prepare()) {
            retry.expires_after(holdBackRetry);
            retry.async_wait([this](const boost::system::error_code& error) {
                if (!error) {
                    drain();
                }
            });
            return;
        }
        const net::MessageKeys keys{inHand.channel, inHand.type(), inHand.mmsi()};
        for (Destination& destination : destinations) {
            destination.output->deliverMessage(destination.lines, keys);
        }
        if (watcher) {
            watcher(inHand);
        }
        const std::lock_guard<std::mutex> guard(lock);
        first = (first + 1) % ring.size();
        --count;
        room.notify_one();
    }
}

bool MessageHandOff::prepare() {
    for (std::size_t index = 0; index < destinations.size(); ++index) {
        Destination& destination = destinations[index];
        // Destinations of one format share its lines.
        const auto same = std::find_if(
            destinations.begin(), destinations.begin() + static_cast<std::ptrdiff_t>(index),
            [&](const Destination& earlier) { return earlier.format == destination.format; });
        if (same != destinations.begin() + static_cast<std::ptrdiff_t>(index)) {
            destination.lines = same->lines;
        } else {
            destination.format->write(inHand, destination.lines);
        }
        if (!destination.output->ready(destination.lines.size())) {
            return false;
        }
    }
    return true;
}

bool MessageHandOff::idle() {
    const std::lock_guard<std::mutex> guard(lock);
    return count == 0;
}

void MessageHandOff::halt() {
    const std::lock_guard<std::mutex> guard(lock);
    halted = true;
    room.notify_all();
}

void MessageHandOff::reportLevel(void* context, int channel, float level, float gain) {
    if (context == nullptr) {
        return;
    }
    auto& handOff = *static_cast<MessageHandOff*>(context);
    boost::asio::post(handOff.io, [channel, level, gain] {
        std::ostringstream text;
        text << "Channel " << static_cast<char>(channel) << " Level " << level << " Gain " << gain;
        base::Logger::instance().log(base::Logger::INFO, text.str());
    });
}

}  // namespace keelwave::app

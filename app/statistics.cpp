#include "app/statistics.hpp"

#include "base/logger.hpp"
#include "base/tuner_stream.hpp"

#include <cmath>
#include <cstdio>
#include <utility>

namespace keelwave::app {

namespace {

constexpr double hertzPerPpm = base::tunerCentreHz / 1e6;  // 162 Hz

std::string fixed(double value, const char* layout) {
    char text[32];
    std::snprintf(text, sizeof text, layout, value);
    return text;
}

/// "118 messages (type 1: 80, 3: 30)"
std::string messageCounts(uint64_t messages, const std::map<uint32_t, uint64_t>& types) {
    std::string text = std::to_string(messages) + " messages";
    const char* separator = " (type ";
    for (const auto& [type, count] : types) {
        if (count > 0) {
            text += separator + std::to_string(type) + ": " + std::to_string(count);
            separator = ", ";
        }
    }
    return messages > 0 ? text + ")" : text;
}

}  // namespace

Statistics::Statistics(boost::asio::io_context& io, Sources counterSources)
    : sources(std::move(counterSources)), counted(sources.chains.size()), timer(io) {
    lastReport = now();
}

void Statistics::count(const ais::AisMessage& message) {
    for (std::size_t index = 0; index < sources.chains.size(); ++index) {
        if (sources.chains[index].first != message.channel) {
            continue;
        }
        Channel& channel = counted[index];
        ++channel.messages;
        ++channel.types[message.type()];
        if (!std::isnan(message.reception.levelDb) && !std::isnan(message.reception.offsetHz)) {
            channel.levelSum += message.reception.levelDb;
            channel.offsetSum += message.reception.offsetHz;
            ++channel.measured;
        }
    }
}

Statistics::Totals Statistics::now() const {
    Totals totals{counted, sources.droppedBlocks(), sources.outputs()};
    for (std::size_t index = 0; index < sources.chains.size(); ++index) {
        totals.channels[index].failedFrames = sources.chains[index].second->failedFrames();
        totals.channels[index].dropped = sources.droppedMessages(sources.chains[index].first);
    }
    return totals;
}

void Statistics::logEvery(std::chrono::seconds interval) {
    period = interval;
    wait();
}

void Statistics::wait() {
    timer.expires_after(period);
    timer.async_wait([this](const boost::system::error_code& error) {
        if (!error) {
            const Totals totals = now();
            log(totals, lastReport, "last " + std::to_string(period.count()) + " s");
            lastReport = totals;
            wait();
        }
    });
}

void Statistics::logWholeRun() {
    timer.cancel();
    log(now(), Totals{std::vector<Channel>(counted.size()), 0, {}}, "whole run");
}

void Statistics::log(const Totals& after, const Totals& before, const std::string& span) const {
    auto& logger = base::Logger::instance();
    for (std::size_t index = 0; index < sources.chains.size(); ++index) {
        const Channel& current = after.channels[index];
        const Channel& earlier = before.channels[index];
        std::map<uint32_t, uint64_t> types = current.types;
        for (const auto& [type, count] : earlier.types) {
            types[type] -= count;
        }
        std::string text = "Statistics, channel " + std::string(1, sources.chains[index].first) +
                           ", " + span + ": " +
                           messageCounts(current.messages - earlier.messages, types) + ", " +
                           std::to_string(current.failedFrames - earlier.failedFrames) +
                           " frames failed their FCS, " +
                           std::to_string(current.dropped - earlier.dropped) + " messages dropped";
        if (const uint64_t measured = current.measured - earlier.measured; measured > 0) {
            const double mean = static_cast<double>(measured);
            const double offset = (current.offsetSum - earlier.offsetSum) / mean;
            text += ", mean level " + fixed((current.levelSum - earlier.levelSum) / mean, "%.1f") +
                    " dBFS, mean offset " + fixed(offset, "%+.0f") + " Hz (" +
                    fixed(offset / hertzPerPpm, "%+.2f") + " ppm)";
        }
        logger.log(base::Logger::INFO, text);
    }
    std::string text = "Statistics, " + span + ": " +
                       std::to_string(after.droppedBlocks - before.droppedBlocks) +
                       " raw blocks dropped";
    for (std::size_t index = 0; index < after.outputs.size(); ++index) {
        const net::OutputCounts& current = after.outputs[index];
        const net::OutputCounts earlier =
            index < before.outputs.size() ? before.outputs[index] : net::OutputCounts{};
        const char* unit = current.name.rfind("udp:", 0) == 0 ? " datagrams" : " lines";
        text += "; " + current.name +
                (current.clients >= 0 ? ", " + std::to_string(current.clients) + " clients" : "") +
                ": " + std::to_string(current.sent - earlier.sent) + unit + " sent, " +
                std::to_string(current.queued) + " queued, " +
                std::to_string(current.dropped - earlier.dropped) + " dropped";
    }
    logger.log(base::Logger::INFO, text);
}

nlohmann::json Statistics::json() const {
    const Totals totals = now();
    nlohmann::json object;
    for (std::size_t index = 0; index < sources.chains.size(); ++index) {
        const Channel& channel = totals.channels[index];
        nlohmann::json& entry = object["channels"][std::string(1, sources.chains[index].first)];
        entry["messages"] = channel.messages;
        for (const auto& [type, count] : channel.types) {
            entry["types"][std::to_string(type)] = count;
        }
        entry["failed_frames"] = channel.failedFrames;
        entry["dropped_messages"] = channel.dropped;
        if (channel.measured > 0) {
            entry["mean_level_db"] = channel.levelSum / static_cast<double>(channel.measured);
            entry["mean_offset_hz"] = channel.offsetSum / static_cast<double>(channel.measured);
        }
    }
    object["dropped_raw_blocks"] = totals.droppedBlocks;
    object["outputs"] = nlohmann::json::array();
    for (const net::OutputCounts& output : totals.outputs) {
        nlohmann::json entry{{"name", output.name},
                             {"sent", output.sent},
                             {"queued", output.queued},
                             {"dropped", output.dropped}};
        if (output.clients >= 0) {
            entry["clients"] = output.clients;
        }
        object["outputs"].push_back(entry);
    }
    return object;
}

}  // namespace keelwave::app

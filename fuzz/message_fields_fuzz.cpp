// The message field decoder fed arbitrary message bits.
//
// Input: byte 0's low three bits are how many bits of the last byte are not part of the
// message; the bytes after it are the message, most significant bit first.
//
// Invariants: the object dumps to JSON that parses back to itself; it has "class":"AIS" and
// the type and MMSI its bits carry; it is the same whatever the unused bits of the last byte
// hold (nothing past the message is read); every data member is "count:hex" with count bits
// inside the message, two hex digits a byte and zero padding; six-bit text is printable,
// without '@' and without trailing blanks.
#include "ais/fields/message_fields.hpp"
#include "fuzz/invariants.hpp"

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using Json = nlohmann::ordered_json;

const std::set<std::string> sixBitTextMembers = {
    "shipname", "callsign", "destination", "name",      "text",   "vendorid",
    "vin",      "lastport", "nextport",    "dangerous", "imdcat", "portname"};

void checkData(const std::string& data, int32_t bitCount) {
    const auto colon = data.find(':');
    const long count = std::stol(data.substr(0, colon));
    const std::string hex = data.substr(colon + 1);
    if (count < 0 || count > bitCount ||
        hex.size() != static_cast<std::size_t>((count + 7) / 8 * 2) ||
        hex.find_first_not_of("0123456789abcdef") != std::string::npos) {
        invariantBroken("bad data member " + data);
    }
    const int unused = static_cast<int>((8 - count % 8) % 8);
    if (unused > 0 &&
        (std::stoi(hex.substr(hex.size() - 1), nullptr, 16) & ((1 << unused) - 1)) != 0) {
        invariantBroken("data padded with ones: " + data);
    }
}

void checkMembers(const Json& object, int32_t bitCount) {
    for (const auto& [member, value] : object.items()) {
        if (value.is_array()) {
            for (const Json& item : value) {
                checkMembers(item, bitCount);
            }
        } else if (value.is_string() && member == "data") {
            checkData(value.get<std::string>(), bitCount);
        } else if (value.is_string() && sixBitTextMembers.count(member) != 0) {
            const std::string text = value.get<std::string>();
            if (text.find_first_not_of(
                    " !\"#$%&'()*+,-./0123456789:;<=>?ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_") !=
                    std::string::npos ||
                (!text.empty() && text.back() == ' ')) {
                invariantBroken(member + " is no trimmed six-bit text: \"" + text + "\"");
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    std::vector<uint8_t> zeros(data + 1, data + size);
    const auto bitCount =
        static_cast<int32_t>(zeros.size() * 8 - (zeros.empty() ? 0 : data[0] & 7));
    std::vector<uint8_t> ones = zeros;
    if (!zeros.empty()) {
        const uint8_t unusedMask = static_cast<uint8_t>((1u << (data[0] & 7)) - 1);
        zeros.back() &= static_cast<uint8_t>(~unusedMask);
        ones.back() |= unusedMask;
    }
    const Json fields = keelwave::ais::decodeMessageFields(zeros.data(), bitCount);
    if (keelwave::ais::decodeMessageFields(ones.data(), bitCount) != fields) {
        invariantBroken("the bits after the message changed its fields");
    }
    if (Json::parse(fields.dump()) != fields || fields.value("class", "") != "AIS") {
        invariantBroken("not a JSON AIS object: " + fields.dump());
    }
    if (bitCount >= 38 && (fields.value("type", -1) != zeros[0] >> 2 || !fields.contains("mmsi"))) {
        invariantBroken("type or MMSI lost: " + fields.dump());
    }
    checkMembers(fields, bitCount);
    return 0;
}

// Our field decoding against gpsd's: `gpsdecode` (Debian's gpsd-clients, run as an outside
// program, never linked) and decodeMessageFields decode every message of the real corpus, and
// every member gpsd prints must have the same value in our object, in the same order, unless a
// row of `differences` explains it. Each row must be needed by the corpus, so none goes stale.
#include "tests/ais/fields/gpsd_oracle.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <map>

namespace keelwave::test {
namespace {

using Json = nlohmann::ordered_json;

enum class Allowance {
    cutShort,         ///< gpsd prints a field the message does not wholly carry; ours leaves it out
    rounded,          ///< gpsd prints fewer decimals than the field's resolution
    unsignedTurn,     ///< gpsd prints the rate of turn without its sign
    quotedNumber,     ///< gpsd prints the number as a string
    wrappedNegative,  ///< gpsd computes a negative water level in unsigned 32-bit centimetres
    vendorPrefix,     ///< gpsd's vendorid runs on over the model and serial bits
    noSpareBits,      ///< gpsd reads on right after the destination MMSI of a type 25 or 26
    hexPadding,       ///< the same data bits; gpsd pads the last hex digit with the bits after them
    gpsdZero,         ///< gpsd prints 0 for the field
    otherPart,        ///< a type 24 part B that gpsd merged with the part A it saw before
    ourExtra,         ///< a field of the message that gpsd does not print
};

struct Difference {
    int type;            ///< 0 for every type
    const char* member;  ///< nullptr for every member
    Allowance allowance;
    int decimals;  ///< gpsd's, for `rounded`
    const char* reason;
};

// The deliberate differences, as the README lists them.
constexpr Difference differences[] = {
    {0, nullptr, Allowance::cutShort, 0,
     "gpsd reads bits past the end of a short message as zeros, or a cut field as a narrower "
     "number; we print only fields whose bits are all there"},
    {1, "turn", Allowance::unsignedTurn, 0, "gpsd loses the sign of a turn to port"},
    {2, "turn", Allowance::unsignedTurn, 0, "gpsd loses the sign of a turn to port"},
    {3, "turn", Allowance::unsignedTurn, 0, "gpsd loses the sign of a turn to port"},
    {17, "lon", Allowance::rounded, 1, "gpsd rounds 1/10' positions to 0.1 degree"},
    {17, "lat", Allowance::rounded, 1, "gpsd rounds 1/10' positions to 0.1 degree"},
    {27, "lon", Allowance::rounded, 1, "gpsd rounds 1/10' positions to 0.1 degree"},
    {27, "lat", Allowance::rounded, 1, "gpsd rounds 1/10' positions to 0.1 degree"},
    {8, "lon", Allowance::rounded, 4, "gpsd rounds 1/1000' positions to 0.0001 degree"},
    {8, "lat", Allowance::rounded, 4, "gpsd rounds 1/1000' positions to 0.0001 degree"},
    {8, "waterlevel", Allowance::rounded, 1, "gpsd rounds the 0.01 m water level to 0.1 m"},
    {8, "waterlevel", Allowance::wrappedNegative, 0,
     "gpsd turns a water level below 0 into 2^32 cm more"},
    {22, nullptr, Allowance::quotedNumber, 0, "gpsd quotes the corner coordinates"},
    {23, nullptr, Allowance::quotedNumber, 0, "gpsd quotes the corner coordinates"},
    {24, "vendorid", Allowance::vendorPrefix, 0,
     "the vendor ID is 3 characters, then model and serial; gpsd reads 7 characters"},
    {24, nullptr, Allowance::otherPart, 0,
     "gpsd adds to a part B the name of the part A it saw before; we decode each message"},
    {25, nullptr, Allowance::noSpareBits, 0,
     "two spare bits follow the destination MMSI; gpsd reads the application and data on "
     "from them"},
    {26, nullptr, Allowance::noSpareBits, 0,
     "two spare bits follow the destination MMSI; gpsd reads the application and data on "
     "from them"},
    {26, "data", Allowance::hexPadding, 0,
     "gpsd's last hex digit carries the radio status bits after the data; ours zeros"},
    {26, "radio", Allowance::gpsdZero, 0, "gpsd prints 0 for the radio status of type 26"},
    {9, "assigned", Allowance::ourExtra, 0, "gpsd does not print the assigned-mode flag"},
    {18, "assigned", Allowance::ourExtra, 0, "gpsd does not print the assigned-mode flag"},
    {21, "assigned", Allowance::ourExtra, 0, "gpsd does not print the assigned-mode flag"},
    {23, "txrx", Allowance::ourExtra, 0, "gpsd does not print the transmit/receive mode"},
};

bool sameValue(const Json& gpsd, const Json& ours) {
    if (gpsd.is_number() && ours.is_number()) {
        return gpsd.get<double>() == ours.get<double>();
    }
    return gpsd == ours;
}

/// Whether two "count:hex" data members hold the same bits (whatever pads the last digit).
bool sameDataBits(const Json& gpsd, const Json& ours) {
    if (!gpsd.is_string() || !ours.is_string()) {
        return false;
    }
    const std::string a = gpsd.get<std::string>();
    const std::string b = ours.get<std::string>();
    const auto colon = a.find(':');
    const int count = std::stoi(a.substr(0, colon));
    if (a.substr(0, colon) != b.substr(0, b.find(':'))) {
        return false;
    }
    for (int bit = 0; bit < count; ++bit) {
        const std::size_t digit = colon + 1 + static_cast<std::size_t>(bit / 4);
        const int shift = 3 - bit % 4;
        if (((std::stoi(a.substr(digit, 1), nullptr, 16) >> shift) & 1) !=
            ((std::stoi(b.substr(digit, 1), nullptr, 16) >> shift) & 1)) {
            return false;
        }
    }
    return true;
}

/// Whether the message, lengthened with zero bits a byte at a time, gets `member`: that it
/// is missing only because the message is short.
bool appearsWhenLonger(transmitter::Bits bits, const std::string& member) {
    constexpr std::size_t longestMessageBits = 1008;
    while (bits.size() + 8 <= longestMessageBits) {
        bits.resize(bits.size() + 8, 0);
        if (decodeBits(bits).contains(member)) {
            return true;
        }
    }
    return false;
}

/// Our readings of one message: as it is, and with two zero bits put in after the
/// destination MMSI of a type 25 or 26 (as gpsd reads it).
struct OurReadings {
    const transmitter::Bits& bits;
    Json asIs;
    Json withoutSpare;
};

/// Whether `row` explains gpsd's `member` against ours (`ours` null when we do not print it).
bool explains(const Difference& row, const Json& gpsd, const Json* ours, const std::string& member,
              const OurReadings& readings) {
    switch (row.allowance) {
        case Allowance::cutShort:
            return ours == nullptr && appearsWhenLonger(readings.bits, member);
        case Allowance::rounded:
            return ours != nullptr && ours->is_number() &&
                   std::abs(ours->get<double>() - gpsd.get<double>()) <=
                       0.5 * std::pow(10.0, -row.decimals) + 1e-9;
        case Allowance::unsignedTurn:
            return ours != nullptr && ours->is_number_integer() &&
                   gpsd == std::abs(ours->get<int>());
        case Allowance::wrappedNegative:
            return ours != nullptr && ours->get<double>() < 0 &&
                   std::abs(ours->get<double>() + 4294967296.0 / 100 - gpsd.get<double>()) <=
                       0.05 + 1e-6;
        case Allowance::quotedNumber:
            return ours != nullptr && gpsd.is_string() && ours->is_number() &&
                   std::abs(std::stod(gpsd.get<std::string>()) - ours->get<double>()) < 1e-9;
        case Allowance::vendorPrefix:
            return ours != nullptr &&
                   gpsd.get<std::string>().rfind(ours->get<std::string>(), 0) == 0;
        case Allowance::noSpareBits: {
            const Json& shifted = readings.withoutSpare;
            return readings.asIs.value("addressed", false) && shifted.contains(member) &&
                   (gpsd == shifted[member] || sameDataBits(gpsd, shifted[member]));
        }
        case Allowance::hexPadding:
            return ours != nullptr && sameDataBits(gpsd, *ours);
        case Allowance::gpsdZero:
            return ours != nullptr && gpsd == 0;
        case Allowance::otherPart:
            return readings.asIs.value("part", "") == "B" &&
                   (member == "shipname" || member == "part") &&
                   gpsd.is_null() == (member == "part");
        case Allowance::ourExtra:
            return gpsd.is_null();
    }
    return false;
}

struct Tally {
    std::size_t messages = 0;
    std::size_t members = 0;
    std::size_t agreed = 0;
    std::map<const Difference*, std::size_t> explained;
    std::vector<std::string> failures;
};

void checkMember(int type, const std::string& member, const Json& gpsd, const OurReadings& readings,
                 Tally& tally) {
    const Json* ours = readings.asIs.contains(member) ? &readings.asIs[member] : nullptr;
    if (ours != nullptr && !gpsd.is_null() && sameValue(gpsd, *ours)) {
        ++tally.agreed;
        return;
    }
    for (const Difference& row : differences) {
        if ((row.type == 0 || row.type == type) &&
            (row.member == nullptr || member == row.member) &&
            explains(row, gpsd, ours, member, readings)) {
            ++tally.explained[&row];
            return;
        }
    }
    tally.failures.push_back("type " + std::to_string(type) + " " + member + ": gpsd " +
                             gpsd.dump() + ", ours " + (ours ? ours->dump() : "absent") + " in " +
                             readings.asIs.dump());
}

void compareMessage(const CorpusMessage& message, Tally& tally) {
    constexpr std::size_t destinationEnd = 70;  // after type 25 and 26's destination MMSI
    transmitter::Bits withoutSpare = message.bits;
    if (withoutSpare.size() >= destinationEnd) {
        withoutSpare.insert(withoutSpare.begin() + destinationEnd, 2, 0);
    }
    const OurReadings readings{message.bits, decodeBits(message.bits), decodeBits(withoutSpare)};
    const Json& ours = readings.asIs;
    const int type = message.gpsd["type"].get<int>();
    ++tally.messages;
    std::vector<std::string> sharedInGpsdOrder;
    for (const auto& [member, value] : message.gpsd.items()) {
        if (member == "device") {
            continue;  // the input gpsd read, which our object leaves to its caller
        }
        ++tally.members;
        checkMember(type, member, value, readings, tally);
        if (ours.contains(member)) {
            sharedInGpsdOrder.push_back(member);
        }
    }
    std::vector<std::string> sharedInOurOrder;
    for (const auto& [member, value] : ours.items()) {
        if (message.gpsd.contains(member)) {
            sharedInOurOrder.push_back(member);
        } else {
            checkMember(type, member, Json(), readings, tally);
        }
    }
    if (sharedInOurOrder != sharedInGpsdOrder) {
        tally.failures.push_back("member order differs: " + ours.dump());
    }
}

TEST(GpsdAgreement, EveryMemberGpsdPrintsHasOurValueOrAListedReason) {
    std::size_t sentencesRead = 0;
    const std::vector<CorpusMessage> messages = decodeCorpusWithGpsd(sentencesRead);
    ASSERT_EQ(sentencesRead, 9503u) << "gpsdecode (Debian package gpsd-clients) must be installed";
    ASSERT_EQ(messages.size(), 8731u);
    Tally tally;
    for (const CorpusMessage& message : messages) {
        if (!message.gpsd.is_null()) {
            compareMessage(message, tally);
        }
    }
    std::cout << "Compared " << tally.messages << " messages, " << tally.members
              << " members gpsd printed: " << tally.agreed << " the same";
    for (const auto& [row, count] : tally.explained) {
        std::cout << "\n  " << count << " x type " << row->type << " "
                  << (row->member ? row->member : "*") << ": " << row->reason;
    }
    std::cout << "\n";
    // gpsd 3.22 prints nothing for 63 messages whose length it refuses for their type.
    EXPECT_EQ(tally.messages, 8668u);
    for (std::size_t i = 0; i < tally.failures.size() && i < 40; ++i) {
        ADD_FAILURE() << tally.failures[i];
    }
    EXPECT_EQ(tally.failures.size(), 0u);
    for (const Difference& row : differences) {
        EXPECT_GT(tally.explained[&row], 0u) << "no longer needed: " << row.reason;
    }
}

}  // namespace
}  // namespace keelwave::test

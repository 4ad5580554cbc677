#include "ais/fields/field_texts.hpp"

namespace keelwave::ais {

namespace {

template <typename Texts>
const char* textOf(const Texts& texts, uint32_t value, const char* otherwise) {
    return value < sizeof texts / sizeof texts[0] ? texts[value] : otherwise;
}

constexpr const char* navigationStatuses[] = {"Under way using engine",
                                              "At anchor",
                                              "Not under command",
                                              "Restricted manoeuverability",
                                              "Constrained by her draught",
                                              "Moored",
                                              "Aground",
                                              "Engaged in fishing",
                                              "Under way sailing",
                                              "Reserved for HSC",
                                              "Reserved for WIG",
                                              "Reserved",
                                              "Reserved",
                                              "Reserved",
                                              "Reserved",
                                              "Not defined"};

constexpr const char* epfds[] = {"Undefined",
                                 "GPS",
                                 "GLONASS",
                                 "Combined GPS/GLONASS",
                                 "Loran-C",
                                 "Chayka",
                                 "Integrated navigation system",
                                 "Surveyed",
                                 "Galileo"};

constexpr const char* aidTypes[] = {"Unspecified",
                                    "Reference point",
                                    "RACON",
                                    "Fixed offshore structure",
                                    "Spare, Reserved for future use.",
                                    "Light, without sectors",
                                    "Light, with sectors",
                                    "Leading Light Front",
                                    "Leading Light Rear",
                                    "Beacon, Cardinal N",
                                    "Beacon, Cardinal E",
                                    "Beacon, Cardinal S",
                                    "Beacon, Cardinal W",
                                    "Beacon, Port hand",
                                    "Beacon, Starboard hand",
                                    "Beacon, Preferred Channel port hand",
                                    "Beacon, Preferred Channel starboard hand",
                                    "Beacon, Isolated danger",
                                    "Beacon, Safe water",
                                    "Beacon, Special mark",
                                    "Cardinal Mark N",
                                    "Cardinal Mark E",
                                    "Cardinal Mark S",
                                    "Cardinal Mark W",
                                    "Port hand Mark",
                                    "Starboard hand Mark",
                                    "Preferred Channel Port hand",
                                    "Preferred Channel Starboard hand",
                                    "Isolated danger",
                                    "Safe Water",
                                    "Special Mark",
                                    "Light Vessel / LANBY / Rigs"};

constexpr const char* stationTypes[] = {"All types of mobiles",
                                        "Reserved for future use",
                                        "All types of Class B mobile stations",
                                        "SAR airborne mobile station",
                                        "Aid to Navigation station",
                                        "Class B shipborne mobile station",
                                        "Regional use and inland waterways",
                                        "Regional use and inland waterways",
                                        "Regional use and inland waterways",
                                        "Regional use and inland waterways"};

// Ship types 30..39 and 50..59 name one kind of ship each.
constexpr const char* specialCraft[] = {"Fishing",
                                        "Towing",
                                        "Towing: length exceeds 200m or breadth exceeds 25m",
                                        "Dredging or underwater ops",
                                        "Diving ops",
                                        "Military ops",
                                        "Sailing",
                                        "Pleasure Craft",
                                        "Reserved",
                                        "Reserved"};
constexpr const char* serviceCraft[] = {"Pilot Vessel",
                                        "Search and Rescue vessel",
                                        "Tug",
                                        "Port Tender",
                                        "Anti-pollution equipment",
                                        "Law Enforcement",
                                        "Spare - Local Vessel",
                                        "Spare - Local Vessel",
                                        "Medical Transport",
                                        "Ship according to RR Resolution No. 18"};

// Ship types 20..29 and 40..99 are a kind of ship (the tens) and a hazard category (the units).
constexpr const char* shipKinds[] = {nullptr,
                                     nullptr,
                                     "Wing in ground (WIG)",
                                     nullptr,
                                     "High speed craft (HSC)",
                                     nullptr,
                                     "Passenger",
                                     "Cargo",
                                     "Tanker",
                                     "Other Type"};
constexpr const char* hazardCategories[] = {"all ships of this type", "Hazardous category A",
                                            "Hazardous category B", "Hazardous category C",
                                            "Hazardous category D"};

}  // namespace

std::string navigationStatusText(uint32_t value) {
    return textOf(navigationStatuses, value, "Not defined");
}

std::string epfdText(uint32_t value) {
    return textOf(epfds, value, "INVALID EPFD");
}

std::string aidTypeText(uint32_t value) {
    return textOf(aidTypes, value, "INVALID AID TYPE");
}

std::string stationTypeText(uint32_t value) {
    return textOf(stationTypes, value, "Reserved for future use");
}

std::string shipTypeText(uint32_t value) {
    constexpr uint32_t firstInvalid = 100;
    if (value == 0) {
        return "Not available";
    }
    if (value >= firstInvalid) {
        return "INVALID SHIP TYPE";
    }
    const uint32_t tens = value / 10;
    const uint32_t units = value % 10;
    if (tens == 3) {
        return specialCraft[units];
    }
    if (tens == 5) {
        return serviceCraft[units];
    }
    if (shipKinds[tens] == nullptr) {
        return "Reserved for future use";
    }
    const char* detail = units < 5                ? hazardCategories[units]
                         : units == 9 && tens > 2 ? "No additional information"
                                                  : "Reserved for future use";
    if (value == 99) {
        detail = "no additional information";  // gpsd's spelling for this one value
    }
    return std::string(shipKinds[tens]) + " - " + detail;
}

}  // namespace keelwave::ais

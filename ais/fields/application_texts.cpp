#include "ais/fields/application_texts.hpp"

#include <algorithm>
#include <iterator>

namespace keelwave::ais {

namespace {

template <typename Texts>
std::string pick(const Texts& texts, uint32_t value, const char* otherwise) {
    return value < std::size(texts) ? texts[value] : otherwise;
}

struct InlandShipType {
    uint16_t code;
    const char* text;
};

// The ERI codes that gpsd names, in ascending order.
constexpr InlandShipType inlandShipTypes[] = {
    {8000, "Vessel, type unknown"},
    {8010, "Motor freighter"},
    {8020, "Motor tanker"},
    {8021, "Motor tanker, liquid cargo, type N"},
    {8022, "Motor tanker, liquid cargo, type C"},
    {8023, "Motor tanker, dry cargo as if liquid (e.g. cement)"},
    {8030, "Container vessel"},
    {8040, "Gas tanker"},
    {8050, "Motor freighter, tug"},
    {8060, "Motor tanker, tug"},
    {8070, "Motor freighter with one or more ships alongside"},
    {8080, "Motor freighter with tanker"},
    {8090, "Motor freighter pushing one or more freighters"},
    {8100, "Motor freighter pushing at least one tank-ship"},
    {8110, "Tug, freighter"},
    {8120, "Tug, tanker"},
    {8130, "Tug freighter, coupled"},
    {8140, "Tug, freighter/tanker, coupled"},
    {8150, "Freightbarge"},
    {8160, "Tankbarge"},
    {8161, "Tankbarge, liquid cargo, type N"},
    {8162, "Tankbarge, liquid cargo, type C"},
    {8163, "Tankbarge, dry cargo as if liquid (e.g. cement)"},
    {8170, "Freightbarge with containers"},
    {8180, "Tankbarge, gas"},
    {8210, "Pushtow, one cargo barge"},
    {8220, "Pushtow, two cargo barges"},
    {8230, "Pushtow, three cargo barges"},
    {8240, "Pushtow, four cargo barges"},
    {8250, "Pushtow, five cargo barges"},
    {8260, "Pushtow, six cargo barges"},
    {8270, "Pushtow, seven cargo barges"},
    {8280, "Pushtow, eigth cargo barges"},
    {8290, "Pushtow, nine or more barges"},
    {8310, "Pushtow, one tank/gas barge"},
    {8320, "Pushtow, two barges at least one tanker or gas barge"},
    {8330, "Pushtow, three barges at least one tanker or gas barge"},
    {8340, "Pushtow, four barges at least one tanker or gas barge"},
    {8350, "Pushtow, five barges at least one tanker or gas barge"},
    {8360, "Pushtow, six barges at least one tanker or gas barge"},
    {8370, "Pushtow, seven barges at least one tanker or gas barg"},
};

constexpr const char* inlandHazards[] = {
    "0 blue cones/lights", "1 blue cone/light", "2 blue cones/lights",
    "3 blue cones/lights", "4 B-Flag",          "Unknown"};
constexpr const char* inlandLoads[] = {"N/A (default)", "Unloaded", "Loaded",
                                       "INVALID LOAD STATUS"};
constexpr const char* raconStatuses[] = {"No RACON installed", "RACON not monitored",
                                         "RACON operational", "RACON ERROR"};
constexpr const char* lightStatuses[] = {"No light or no monitoring", "Light ON", "Light OFF",
                                         "Light ERROR"};
constexpr const char* trends[] = {"steady", "increasing", "decreasing", "N/A"};
constexpr const char* precipitations[] = {"reserved",  "rain", "thunderstorm", "freezing rain",
                                          "mixed/ice", "snow", "reserved",     "N/A"};
constexpr const char* iceAccretions[] = {"no", "yes", "reserved", "N/A"};

}  // namespace

std::string inlandShipTypeText(uint32_t value) {
    const auto* found =
        std::find_if(std::begin(inlandShipTypes), std::end(inlandShipTypes),
                     [value](const InlandShipType& row) { return row.code == value; });
    return found != std::end(inlandShipTypes) ? found->text : "Illegal ship type value.";
}

std::string inlandHazardText(uint32_t value) {
    return pick(inlandHazards, value, "Unknown");
}

std::string inlandLoadText(uint32_t value) {
    return pick(inlandLoads, value, "INVALID LOAD STATUS");
}

std::string raconStatusText(uint32_t value) {
    return pick(raconStatuses, value, "RACON ERROR");
}

std::string lightStatusText(uint32_t value) {
    return pick(lightStatuses, value, "Light ERROR");
}

std::string trendText(uint32_t value) {
    return pick(trends, value, "N/A");
}

std::string precipitationText(uint32_t value) {
    return pick(precipitations, value, "N/A");
}

std::string iceText(uint32_t value) {
    return pick(iceAccretions, value, "N/A");
}

}  // namespace keelwave::ais

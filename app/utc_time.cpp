#include "app/utc_time.hpp"

#include <cstdio>
#include <ctime>
#include <regex>

namespace keelwave::app {

namespace {

constexpr int64_t microsecondsPerSecond = 1000000;
constexpr int secondsPerMinute = 60;
constexpr int minutesPerHour = 60;
constexpr int fractionDigits = 6;  // microseconds

}  // namespace

std::optional<int64_t> parseUtcTime(const std::string& text) {
    static const std::regex layout(
        R"((\d{4})-(\d\d)-(\d\d)[T ](\d\d):(\d\d):(\d\d)(?:\.(\d{1,6}))?(Z|([+-])(\d\d):?(\d\d)))");
    std::smatch part;
    if (!std::regex_match(text, part, layout)) {
        return std::nullopt;
    }
    const auto number = [&](int index) { return std::stoi(part[index].str()); };
    std::tm fields{};
    fields.tm_year = number(1) - 1900;
    fields.tm_mon = number(2) - 1;
    fields.tm_mday = number(3);
    fields.tm_hour = number(4);
    fields.tm_min = number(5);
    fields.tm_sec = number(6);
    const int zoneHours = part[9].matched ? number(10) : 0;
    const int zoneMinutes = part[9].matched ? number(11) : 0;
    std::tm normalised = fields;
    const time_t seconds = timegm(&normalised);
    // timegm carries the 31st of April into May: a date that moved is no date.
    if (normalised.tm_mday != fields.tm_mday || normalised.tm_mon != fields.tm_mon ||
        fields.tm_hour > 23 || fields.tm_min > 59 || fields.tm_sec > 59 || zoneHours > 23 ||
        zoneMinutes > 59) {
        return std::nullopt;
    }
    std::string fraction = part[7].str();
    fraction.resize(fractionDigits, '0');
    const int sign = part[9].str() == "-" ? -1 : 1;
    const int64_t zoneSeconds =
        sign * (zoneHours * minutesPerHour + zoneMinutes) * int64_t{secondsPerMinute};
    return (static_cast<int64_t>(seconds) - zoneSeconds) * microsecondsPerSecond +
           std::stoll(fraction);
}

}  // namespace keelwave::app

#include "ais/fields/field_decoder.hpp"

#include <cmath>
#include <cstdio>
#include <string>

namespace keelwave::ais {

namespace {

constexpr int32_t sixBitChar = 6;

// Rate of turn: the sensor's degrees per minute are sent as 4.733 * sqrt(rate), signed; the
// extremes mean "turning faster than 5 degrees per 30 s" and -128 "not available".
constexpr int32_t turnNotAvailable = -128;
constexpr int32_t turnFastRight = 127;
constexpr int32_t turnFastLeft = -127;
constexpr double turnIndicatorFactor = 4.733;

nlohmann::ordered_json turnValue(int32_t raw) {
    if (raw == turnNotAvailable) {
        return "nan";
    }
    if (raw == turnFastRight) {
        return "fastright";
    }
    if (raw == turnFastLeft) {
        return "fastleft";
    }
    const double root = raw / turnIndicatorFactor;
    const auto rate = std::lround(root * root);
    return raw < 0 ? -rate : rate;
}

nlohmann::ordered_json scaledValue(int32_t raw, const Scale& scale) {
    if (raw == scale.nanRaw) {
        return "nan";
    }
    const int64_t shifted = static_cast<int64_t>(raw) + scale.addend;
    if (scale.divisor == 1 && scale.decimals == 0) {
        return shifted;
    }
    const double unit = std::pow(10.0, scale.decimals);
    return std::round(static_cast<double>(shifted) / scale.divisor * unit) / unit;
}

// Composite times are runs of unsigned subfields printed with two digits each (four for a
// year); `widths` lists them in order.
std::string timeText(const PayloadBits& bits, int32_t offset, FieldKind kind) {
    uint32_t parts[6] = {};
    static constexpr int32_t dateTimeWidths[] = {14, 4, 5, 5, 6, 6};
    static constexpr int32_t monthDayTimeWidths[] = {4, 5, 5, 6};
    static constexpr int32_t dayTimeWidths[] = {5, 5, 6};
    const int32_t* widths = kind == FieldKind::dateTime       ? dateTimeWidths
                            : kind == FieldKind::monthDayTime ? monthDayTimeWidths
                                                              : dayTimeWidths;
    const int count = kind == FieldKind::dateTime ? 6 : kind == FieldKind::monthDayTime ? 4 : 3;
    for (int i = 0; i < count; ++i) {
        parts[i] = readUnsigned(bits, offset, widths[i]);
        offset += widths[i];
    }
    char text[32];
    if (kind == FieldKind::dateTime) {
        std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", parts[0], parts[1],
                      parts[2], parts[3], parts[4], parts[5]);
    } else if (kind == FieldKind::monthDayTime) {
        std::snprintf(text, sizeof text, "%02u-%02uT%02u:%02uZ", parts[0], parts[1], parts[2],
                      parts[3]);
    } else {
        std::snprintf(text, sizeof text, "%02uT%02u:%02uZ", parts[0], parts[1], parts[2]);
    }
    return text;
}

int32_t rawNumber(const PayloadBits& bits, int32_t offset, const FieldRow& field) {
    return field.scale.isSigned ? readSigned(bits, offset, field.width)
                                : static_cast<int32_t>(readUnsigned(bits, offset, field.width));
}

// Fields that run to the end of the message: present as long as they start inside it.
void decodeOpenEnded(const PayloadBits& bits, const FieldRow& field, int32_t offset,
                     nlohmann::ordered_json& out) {
    if (field.kind == FieldKind::textToEnd) {
        out[field.name] = readSixBitText(bits, offset, (bits.bitCount - offset) / sixBitChar);
        return;
    }
    const int32_t count = bits.bitCount - offset - field.aux;
    if (count >= 0) {
        out[field.name] = readHexData(bits, offset, count);
    }
}

void decodeAidName(const PayloadBits& bits, const FieldRow& field, int32_t offset,
                   nlohmann::ordered_json& out) {
    // The extension continues the name's characters; the padding is cut from the whole.
    std::string name = readSixBitChars(bits, offset, field.width / sixBitChar);
    if (bits.bitCount > field.aux) {
        name += readSixBitChars(bits, field.aux, (bits.bitCount - field.aux) / sixBitChar);
    }
    out[field.name] = trimAisText(std::move(name));
}

void decodeGroup(const PayloadBits& bits, const FieldRow& field, int32_t offset,
                 nlohmann::ordered_json& out) {
    // Only whole repeats count; a message without one has no such member.
    nlohmann::ordered_json repeats = nlohmann::ordered_json::array();
    for (int32_t i = 0; i < field.aux && holdsField(bits, offset, field.width); ++i) {
        nlohmann::ordered_json item = nlohmann::ordered_json::object();
        decodeFieldTable(bits, *field.subfields, offset, item);
        repeats.push_back(std::move(item));
        offset += field.width;
    }
    if (!repeats.empty()) {
        out[field.name] = std::move(repeats);
    }
}

}  // namespace

void decodeFieldTable(const PayloadBits& bits, const FieldTable& table, int32_t base,
                      nlohmann::ordered_json& out) {
    for (const FieldRow* field = table.begin; field != table.end; ++field) {
        const int32_t offset = base + field->offset;
        switch (field->kind) {
            case FieldKind::textToEnd:
            case FieldKind::data:
                if (offset <= bits.bitCount) {
                    decodeOpenEnded(bits, *field, offset, out);
                }
                continue;
            case FieldKind::group:
                decodeGroup(bits, *field, offset, out);
                continue;
            case FieldKind::zero:
                out[field->name] = 0;
                continue;
            case FieldKind::lastBits:
                if (bits.bitCount - field->width >= offset) {
                    out[field->name] =
                        readUnsigned(bits, bits.bitCount - field->width, field->width);
                }
                continue;
            default:
                break;
        }
        if (!holdsField(bits, offset, field->width)) {
            continue;
        }
        switch (field->kind) {
            case FieldKind::unsignedInt:
                out[field->name] = readUnsigned(bits, offset, field->width);
                break;
            case FieldKind::flag:
                out[field->name] = readUnsigned(bits, offset, 1) != 0;
                break;
            case FieldKind::scaled:
                out[field->name] = scaledValue(rawNumber(bits, offset, *field), field->scale);
                break;
            case FieldKind::text:
                out[field->name] = readSixBitText(bits, offset, field->width / sixBitChar);
                break;
            case FieldKind::aidName:
                decodeAidName(bits, *field, offset, out);
                break;
            case FieldKind::code: {
                const uint32_t value = readUnsigned(bits, offset, field->width);
                out[field->name] = value;
                out[std::string(field->name) + "_text"] = field->texts(value);
                break;
            }
            case FieldKind::codeText:
                out[field->name] = field->texts(readUnsigned(bits, offset, field->width));
                break;
            case FieldKind::turn:
                out[field->name] = turnValue(readSigned(bits, offset, field->width));
                break;
            case FieldKind::dateTime:
            case FieldKind::monthDayTime:
            case FieldKind::dayTime:
                out[field->name] = timeText(bits, offset, field->kind);
                break;
            case FieldKind::part:
                out[field->name] = readUnsigned(bits, offset, field->width) == 0 ? "A" : "B";
                break;
            default:
                break;
        }
    }
}

}  // namespace keelwave::ais

#pragma once

#include <cmath>
#include <cstdint>
#include <iomanip>
#include <optional>
#include <ostream>

namespace keelwave::sdr {

/// What the options ask of a tuner, wherever it is.
struct TunerSettings {
    std::optional<int32_t> correctionPpm;  ///< none: the tuner's own
    std::optional<float> gainDb;           ///< none: automatic gain
};

/// A gain in tenths of a dB as librtlsdr and rtl_tcp take it. Floor, not rounding: -0.05 dB
/// asks for -1 tenth; the tuner then picks its nearest step.
inline int32_t gainTenths(float gainDb) {
    constexpr float tenthsPerDecibel = 10.0f;
    return static_cast<int32_t>(std::floor(gainDb * tenthsPerDecibel));
}

/// A frequency in MHz, for the tuner report.
inline double inMegahertz(double hertz) {
    constexpr double megahertzPerHertz = 1e-6;
    return hertz * megahertzPerHertz;
}

/// The tuner report's last lines for a tuner told what the options ask: the correction, if
/// any, and the gain.
inline void reportSettings(std::ostream& report, const TunerSettings& settings) {
    if (settings.correctionPpm) {
        report << "Freq Correction: " << *settings.correctionPpm << " ppm\n";
    }
    if (settings.gainDb) {
        report << "Gain: " << std::fixed << std::setprecision(1) << *settings.gainDb << " dB\n";
    } else {
        report << "Gain: Auto\n";
    }
}

}  // namespace keelwave::sdr

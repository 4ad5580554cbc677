// A stand-in for librtlsdr (same SONAME, librtlsdr.so.0) with the calls keelwave, Debian's
// rtl_tcp and its SoapySDR module make, so that each runs end to end without a tuner: put its
// directory first on LD_LIBRARY_PATH.
// It is configured by the environment, read at every call:
//
//   RTLSDR_STANDIN_DEVICES   attached devices (default 0)
//   RTLSDR_STANDIN_NAMES     their names, separated by '|' (default "Generic RTL2832U OEM")
//   RTLSDR_STANDIN_FAIL      failing calls, name=result[:errno],... (errno EIO by default); a
//                            failing rtlsdr_read_async streams its input first
//   RTLSDR_STANDIN_INPUT     cu8 file that rtlsdr_read_async streams in the caller's transfers,
//                            at the sample rate last set (288000 pairs/s until one is), and
//                            after it nothing: the read then waits for its cancel, as a
//                            stalled dongle does
//   RTLSDR_STANDIN_PACE      multiple of real time (default 1)
//   RTLSDR_STANDIN_REPEAT    passes over the input (default 1; 0 until cancelled)
//   RTLSDR_STANDIN_CALL_LOG  file to which each call is appended as one "name arguments" line
//
// Each device is an R820T with serial 00000001, 00000002, ... and lists that tuner's gains. As the
// real library does, it refuses a cancel with -2 while no read runs.
#include <rtl-sdr.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr uint32_t defaultPairsPerSecond = 288000;
/// librtlsdr's transfers when the caller asks for its defaults (length or count 0).
constexpr uint32_t defaultTransferBytes = 16 * 32 * 512;
constexpr uint32_t defaultTransferCount = 15;
constexpr std::size_t usbStringBytes = 256;  // what librtlsdr's callers allocate for each
constexpr int gains[] = {0,   9,   14,  27,  37,  77,  87,  125, 144, 157, 166, 197, 207, 229, 254,
                         280, 297, 328, 338, 364, 372, 386, 402, 421, 434, 439, 445, 480, 496};

std::string setting(const char* name, const char* fallback = "") {
    const char* value = std::getenv(name);
    return value != nullptr ? value : fallback;
}

/// The configured failure of `name` as its result, errno set; else `success`.
int outcome(const std::string& name, int success = 0) {
    std::istringstream failures(setting("RTLSDR_STANDIN_FAIL"));
    for (std::string entry; std::getline(failures, entry, ',');) {
        if (entry.compare(0, name.size() + 1, name + "=") == 0) {
            const auto colon = entry.find(':');
            errno = colon == std::string::npos ? EIO : std::stoi(entry.substr(colon + 1));
            return std::stoi(entry.substr(name.size() + 1));
        }
    }
    return success;
}

/// Logs the call and returns its outcome.
int call(const std::string& name, const std::string& arguments = "", int success = 0) {
    static std::mutex logLock;
    if (const std::string log = setting("RTLSDR_STANDIN_CALL_LOG"); !log.empty()) {
        const std::lock_guard<std::mutex> guard(logLock);
        std::ofstream(log, std::ios::app)
            << name << (arguments.empty() ? "" : " ") << arguments << '\n';
    }
    return outcome(name, success);
}

}  // namespace

struct rtlsdr_dev {
    uint32_t centreFrequency = 0;                     // Hz
    uint32_t pairsPerSecond = defaultPairsPerSecond;  // as last set
    int correction = 0;                               // ppm
    int gain = 0;                                     // tenths of a dB
    std::mutex lock;
    std::condition_variable cancelled;
    bool reading = false;
    bool cancelRequested = false;
};

extern "C" {

uint32_t rtlsdr_get_device_count(void) {
    return static_cast<uint32_t>(std::stoul(setting("RTLSDR_STANDIN_DEVICES", "0")));
}

const char* rtlsdr_get_device_name(uint32_t index) {
    static std::string name;  // the caller keeps the text
    std::istringstream names(setting("RTLSDR_STANDIN_NAMES", "Generic RTL2832U OEM"));
    for (uint32_t i = 0; i <= index && std::getline(names, name, '|'); ++i) {
    }
    return call("rtlsdr_get_device_name", std::to_string(index)) == 0 ? name.c_str() : nullptr;
}

int rtlsdr_get_device_usb_strings(uint32_t index, char* manufacturer, char* product, char* serial) {
    if (const int failed = call("rtlsdr_get_device_usb_strings", std::to_string(index))) {
        return failed;
    }
    if (index >= rtlsdr_get_device_count()) {
        return -1;
    }
    const std::string number = std::to_string(index + 1);
    const std::pair<char*, std::string> strings[] = {
        {manufacturer, "Realtek"},
        {product, "RTL2838UHIDIR"},
        {serial, std::string(8 - std::min<std::size_t>(8, number.size()), '0') + number}};
    for (const auto& [out, text] : strings) {
        if (out != nullptr) {
            std::snprintf(out, usbStringBytes, "%s", text.c_str());
        }
    }
    return 0;
}

int rtlsdr_get_index_by_serial(const char* serial) {
    call("rtlsdr_get_index_by_serial", serial != nullptr ? serial : "null");
    if (serial == nullptr) {
        return -1;
    }
    const uint32_t count = rtlsdr_get_device_count();
    if (count == 0) {
        return -2;
    }
    for (uint32_t index = 0; index < count; ++index) {
        char listed[usbStringBytes] = "";
        if (rtlsdr_get_device_usb_strings(index, nullptr, nullptr, listed) == 0 &&
            std::string(listed) == serial) {
            return static_cast<int>(index);
        }
    }
    return -3;
}

int rtlsdr_open(rtlsdr_dev_t** dev, uint32_t index) {
    if (const int failed = call("rtlsdr_open", std::to_string(index))) {
        return failed;
    }
    if (index >= rtlsdr_get_device_count()) {
        errno = ENODEV;
        return -1;
    }
    *dev = new rtlsdr_dev;
    return 0;
}

int rtlsdr_close(rtlsdr_dev_t* dev) {
    call("rtlsdr_close", dev != nullptr ? "dev" : "null");
    delete dev;
    return 0;
}

int rtlsdr_set_sample_rate(rtlsdr_dev_t* dev, uint32_t rate) {
    const int result = call("rtlsdr_set_sample_rate", std::to_string(rate));
    if (result == 0) {
        const std::lock_guard<std::mutex> guard(dev->lock);
        dev->pairsPerSecond = rate;
    }
    return result;
}

uint32_t rtlsdr_get_sample_rate(rtlsdr_dev_t* dev) {
    const std::lock_guard<std::mutex> guard(dev->lock);
    return dev->pairsPerSecond;
}

int rtlsdr_set_center_freq(rtlsdr_dev_t* dev, uint32_t frequency) {
    dev->centreFrequency = frequency;
    return call("rtlsdr_set_center_freq", std::to_string(frequency));
}

uint32_t rtlsdr_get_center_freq(rtlsdr_dev_t* dev) {
    return static_cast<uint32_t>(
        call("rtlsdr_get_center_freq", "", static_cast<int>(dev->centreFrequency)));
}

int rtlsdr_set_freq_correction(rtlsdr_dev_t* dev, int ppm) {
    dev->correction = ppm;
    return call("rtlsdr_set_freq_correction", std::to_string(ppm));
}

int rtlsdr_get_freq_correction(rtlsdr_dev_t* dev) {
    return call("rtlsdr_get_freq_correction", "", dev->correction);
}

int rtlsdr_get_tuner_gains(rtlsdr_dev_t*, int* listed) {
    const int count = call("rtlsdr_get_tuner_gains", listed != nullptr ? "array" : "null",
                           static_cast<int>(std::size(gains)));
    for (int i = 0; listed != nullptr && i < count; ++i) {
        listed[i] = gains[i];
    }
    return count;
}

int rtlsdr_set_tuner_gain_mode(rtlsdr_dev_t*, int manual) {
    return call("rtlsdr_set_tuner_gain_mode", std::to_string(manual));
}

int rtlsdr_set_tuner_gain(rtlsdr_dev_t* dev, int tenths) {
    dev->gain = tenths;
    return call("rtlsdr_set_tuner_gain", std::to_string(tenths));
}

int rtlsdr_get_tuner_gain(rtlsdr_dev_t* dev) {
    return dev->gain;
}

enum rtlsdr_tuner rtlsdr_get_tuner_type(rtlsdr_dev_t*) {
    return RTLSDR_TUNER_R820T;
}

// Settings the stand-in takes without effect: logged, and failing when configured to.
int rtlsdr_set_agc_mode(rtlsdr_dev_t*, int on) {
    return call("rtlsdr_set_agc_mode", std::to_string(on));
}
int rtlsdr_set_bias_tee(rtlsdr_dev_t*, int on) {
    return call("rtlsdr_set_bias_tee", std::to_string(on));
}
int rtlsdr_set_direct_sampling(rtlsdr_dev_t*, int on) {
    return call("rtlsdr_set_direct_sampling", std::to_string(on));
}
int rtlsdr_set_offset_tuning(rtlsdr_dev_t*, int on) {
    return call("rtlsdr_set_offset_tuning", std::to_string(on));
}
int rtlsdr_set_testmode(rtlsdr_dev_t*, int on) {
    return call("rtlsdr_set_testmode", std::to_string(on));
}
int rtlsdr_set_tuner_bandwidth(rtlsdr_dev_t*, uint32_t hertz) {
    return call("rtlsdr_set_tuner_bandwidth", std::to_string(hertz));
}
int rtlsdr_set_tuner_if_gain(rtlsdr_dev_t*, int stage, int tenths) {
    return call("rtlsdr_set_tuner_if_gain", std::to_string(stage) + " " + std::to_string(tenths));
}
int rtlsdr_set_xtal_freq(rtlsdr_dev_t*, uint32_t rtlHz, uint32_t tunerHz) {
    return call("rtlsdr_set_xtal_freq", std::to_string(rtlHz) + " " + std::to_string(tunerHz));
}

int rtlsdr_reset_buffer(rtlsdr_dev_t*) {
    return call("rtlsdr_reset_buffer");
}

int rtlsdr_read_async(rtlsdr_dev_t* dev, rtlsdr_read_async_cb_t callback, void* context,
                      uint32_t count, uint32_t length) {
    call("rtlsdr_read_async", std::to_string(count != 0 ? count : defaultTransferCount) + " " +
                                  std::to_string(length != 0 ? length : defaultTransferBytes));
    const std::string input = setting("RTLSDR_STANDIN_INPUT");
    const double pace = std::stod(setting("RTLSDR_STANDIN_PACE", "1"));
    const int passes = std::stoi(setting("RTLSDR_STANDIN_REPEAT", "1"));
    std::unique_lock<std::mutex> guard(dev->lock);
    dev->reading = true;
    std::vector<unsigned char> transfer(length != 0 ? length : defaultTransferBytes);
    const auto start = std::chrono::steady_clock::now();
    double delivered = 0;  // I/Q pairs
    for (int pass = 0; !input.empty() && (passes == 0 || pass < passes); ++pass) {
        std::ifstream file(input, std::ios::binary);
        while (file.read(reinterpret_cast<char*>(transfer.data()),
                         static_cast<std::streamsize>(transfer.size())) ||
               file.gcount() > 0) {
            delivered += static_cast<double>(file.gcount()) / 2;
            const auto due =
                start + std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::duration<double>(delivered / dev->pairsPerSecond / pace));
            if (dev->cancelled.wait_until(guard, due, [dev] { return dev->cancelRequested; })) {
                dev->reading = false;
                return 0;
            }
            guard.unlock();
            callback(transfer.data(), static_cast<uint32_t>(file.gcount()), context);
            guard.lock();
        }
    }
    // errno is set only now, as the library leaves it when its read fails.
    const int result = outcome("rtlsdr_read_async");
    if (result == 0) {
        dev->cancelled.wait(guard, [dev] { return dev->cancelRequested; });
    }
    dev->reading = false;
    return result;
}

int rtlsdr_cancel_async(rtlsdr_dev_t* dev) {
    const int failed = call("rtlsdr_cancel_async");
    const std::lock_guard<std::mutex> guard(dev->lock);
    dev->cancelRequested = failed == 0 && dev->reading;
    dev->cancelled.notify_all();
    return failed != 0 ? failed : dev->reading ? 0 : -2;
}

}  // extern "C"

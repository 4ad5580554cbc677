// A stand-in for librtlsdr (same SONAME, librtlsdr.so.0, every function of <rtl-sdr.h>), so the
// real keelwave binary runs end to end on machines without a tuner. Put its directory first on
// LD_LIBRARY_PATH, or link a test program against it. It is configured only through these
// environment variables, read at the first call and again at every rtlsdr_open, so that one
// test process can open devices with different settings one after the other (calls already
// under way keep the settings they started with):
//
//   RTLSDR_STANDIN_DEVICES   number of attached devices (default 0)
//   RTLSDR_STANDIN_NAMES     device names separated by '|' (default "Generic RTL2832U OEM")
//   RTLSDR_STANDIN_GAINS     tuner gains in tenths of a dB, comma-separated (default: R820T list;
//                            an empty value lists none)
//   RTLSDR_STANDIN_FAIL      calls that fail: name=result[:errno],... e.g. rtlsdr_open=-1:19.
//                            A failing call sets errno and returns the result; a call returning
//                            a pointer returns null. rtlsdr_read_async first delivers the input,
//                            then fails; a failing rtlsdr_cancel_async does not cancel.
//                            As with the real library, a cancel while no read runs returns -2.
//   RTLSDR_STANDIN_INPUT     cu8 file streamed through rtlsdr_read_async
//   RTLSDR_STANDIN_PACE      speed as a multiple of real time (default 1; 0 = no pacing)
//   RTLSDR_STANDIN_STEADY    1: a transfer delivered late (this thread was not scheduled in
//                            time) moves the schedule on instead of being made up by a burst
//                            of transfers, which a receiver that drops blocks while busy would
//                            partly drop; the pace then falls short by the delays (default 0)
//   RTLSDR_STANDIN_REPEAT    passes over the input (default 1; 0 = until cancelled)
//   RTLSDR_STANDIN_TRANSFER  transfer length in bytes, overriding the one the caller asks for
//   RTLSDR_STANDIN_CALL_LOG  file to which every call is appended: name and arguments, one line
//   RTLSDR_STANDIN_DONE      file created once the whole input has been delivered
#include <rtl-sdr.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

struct rtlsdr_dev {
    uint32_t index = 0;
    uint32_t centreFrequency = 0;  // Hz
    uint32_t sampleRate = 0;       // samples per second
    int correction = 0;            // ppm
    int gain = 0;                  // tenths of a dB
    int manualGain = 0;
    std::mutex lock;
    std::condition_variable cancelled;
    bool reading = false;  // inside rtlsdr_read_async: only then can a read be cancelled
    bool cancelRequested = false;
};

namespace {

constexpr double iqPairsPerSecond = 288000.0;
/// librtlsdr's answer to a cancel while no asynchronous read is running.
constexpr int notReading = -2;
constexpr uint32_t defaultTransferLength = 16 * 32 * 512;  // librtlsdr's own default, bytes

struct Failure {
    int result = 0;
    int error = 0;
};

struct Config {
    uint32_t devices = 0;
    std::vector<std::string> names;
    std::vector<int> gains;  // tenths of a dB
    std::map<std::string, Failure> failures;
    std::string input;
    double pace = 1.0;
    bool steady = false;
    unsigned repeat = 1;
    uint32_t transferLength = 0;  // bytes; 0 keeps the caller's
    std::string callLog;
    std::string doneMarker;
};

std::string environment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : fallback;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::string piece;
    std::istringstream stream(text);
    while (std::getline(stream, piece, separator)) {
        pieces.push_back(piece);
    }
    return pieces;
}

Config readConfig() {
    Config config;
    config.devices = static_cast<uint32_t>(std::stoul(environment("RTLSDR_STANDIN_DEVICES", "0")));
    config.names = split(environment("RTLSDR_STANDIN_NAMES", "Generic RTL2832U OEM"), '|');
    const char* r820tGains =
        "0,9,14,27,37,77,87,125,144,157,166,197,207,229,254,280,297,328,338,364,372,386,402,421,"
        "434,439,445,480,496";
    for (const std::string& gain : split(environment("RTLSDR_STANDIN_GAINS", r820tGains), ',')) {
        config.gains.push_back(std::stoi(gain));
    }
    for (const std::string& entry : split(environment("RTLSDR_STANDIN_FAIL", ""), ',')) {
        const auto equals = entry.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        Failure failure;
        const std::string value = entry.substr(equals + 1);
        const auto colon = value.find(':');
        failure.result = std::stoi(value.substr(0, colon));
        failure.error = colon == std::string::npos ? EIO : std::stoi(value.substr(colon + 1));
        config.failures[entry.substr(0, equals)] = failure;
    }
    config.input = environment("RTLSDR_STANDIN_INPUT", "");
    config.pace = std::stod(environment("RTLSDR_STANDIN_PACE", "1"));
    config.steady = environment("RTLSDR_STANDIN_STEADY", "0") == "1";
    config.repeat = static_cast<unsigned>(std::stoul(environment("RTLSDR_STANDIN_REPEAT", "1")));
    config.transferLength =
        static_cast<uint32_t>(std::stoul(environment("RTLSDR_STANDIN_TRANSFER", "0")));
    config.callLog = environment("RTLSDR_STANDIN_CALL_LOG", "");
    config.doneMarker = environment("RTLSDR_STANDIN_DONE", "");
    return config;
}

std::mutex configLock;
// Every configuration ever read stays allocated, even through the process's exit: another
// thread may still be using it (a capture thread whose read could not be cancelled is still
// inside rtlsdr_read_async when the program ends).
auto* const loadedConfigs = new std::vector<std::unique_ptr<const Config>>;
std::atomic<const Config*> currentConfig{nullptr};

const Config& reloadConfig() {
    std::lock_guard<std::mutex> guard(configLock);
    loadedConfigs->push_back(std::make_unique<const Config>(readConfig()));
    currentConfig = loadedConfigs->back().get();
    return *loadedConfigs->back();
}

const Config& config() {
    const Config* current = currentConfig;
    return current != nullptr ? *current : reloadConfig();
}

std::mutex callLogLock;

/// Appends "name arguments" to the call log; the stream is flushed at once so a test that
/// reads the log sees every call made so far.
void record(const char* name, const std::string& arguments = "") {
    if (config().callLog.empty()) {
        return;
    }
    std::lock_guard<std::mutex> guard(callLogLock);
    std::ofstream log(config().callLog, std::ios::app);
    log << name;
    if (!arguments.empty()) {
        log << ' ' << arguments;
    }
    log << '\n';
}

/// The configured failure of `name`, with errno set for the caller to read, or null.
const Failure* failure(const char* name) {
    const auto found = config().failures.find(name);
    if (found == config().failures.end()) {
        return nullptr;
    }
    errno = found->second.error;
    return &found->second;
}

/// Records the call; returns the configured failure result, or `success`.
int outcome(const char* name, const std::string& arguments, int success = 0) {
    record(name, arguments);
    const Failure* failed = failure(name);
    return failed != nullptr ? failed->result : success;
}

std::string str(long long value) {
    return std::to_string(value);
}

bool waitForCancel(rtlsdr_dev* dev, std::chrono::steady_clock::time_point until) {
    std::unique_lock<std::mutex> guard(dev->lock);
    return dev->cancelled.wait_until(guard, until, [dev] { return dev->cancelRequested; });
}

bool isCancelled(rtlsdr_dev* dev) {
    std::lock_guard<std::mutex> guard(dev->lock);
    return dev->cancelRequested;
}

/// Streams the input in transfers of `length` bytes, paced; false if cancelled meanwhile.
bool streamInput(rtlsdr_dev* dev, rtlsdr_read_async_cb_t callback, void* context, uint32_t length) {
    std::ifstream file(config().input, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "rtlsdr stand-in: cannot open %s\n", config().input.c_str());
        return true;
    }
    std::vector<unsigned char> transfer(length);
    auto start = std::chrono::steady_clock::now();
    double deliveredPairs = 0;
    for (unsigned pass = 0; config().repeat == 0 || pass < config().repeat; ++pass) {
        file.clear();
        file.seekg(0);
        while (file) {
            file.read(reinterpret_cast<char*>(transfer.data()), length);
            const auto got = static_cast<uint32_t>(file.gcount());
            if (got == 0) {
                break;
            }
            deliveredPairs += got / 2.0;
            if (config().pace > 0) {
                const auto due =
                    start + std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::chrono::duration<double>(deliveredPairs / iqPairsPerSecond /
                                                              config().pace));
                if (waitForCancel(dev, due)) {
                    return false;
                }
                const auto now = std::chrono::steady_clock::now();
                if (config().steady && now > due) {
                    start += now - due;
                }
            } else if (isCancelled(dev)) {
                return false;
            }
            callback(transfer.data(), got, context);
        }
    }
    if (!config().doneMarker.empty()) {
        std::ofstream marker(config().doneMarker);
    }
    return true;
}

}  // namespace

extern "C" {

uint32_t rtlsdr_get_device_count(void) {
    return static_cast<uint32_t>(
        outcome("rtlsdr_get_device_count", "", static_cast<int>(config().devices)));
}

const char* rtlsdr_get_device_name(uint32_t index) {
    record("rtlsdr_get_device_name", str(index));
    if (failure("rtlsdr_get_device_name") != nullptr) {
        return nullptr;
    }
    if (index >= config().devices) {
        return "";
    }
    const auto& names = config().names;
    return names.empty() ? "" : names[index < names.size() ? index : names.size() - 1].c_str();
}

int rtlsdr_get_device_usb_strings(uint32_t index, char* manufact, char* product, char* serial) {
    const int result =
        outcome("rtlsdr_get_device_usb_strings", str(index), index < config().devices ? 0 : -1);
    if (result == 0) {
        std::snprintf(manufact, 256, "Realtek");
        std::snprintf(product, 256, "RTL2838UHIDIR");
        std::snprintf(serial, 256, "%08u", index + 1);
    }
    return result;
}

int rtlsdr_get_index_by_serial(const char* serial) {
    const int index = serial != nullptr ? std::atoi(serial) - 1 : -1;
    return outcome("rtlsdr_get_index_by_serial", serial != nullptr ? serial : "null",
                   index >= 0 && static_cast<uint32_t>(index) < config().devices ? index : -3);
}

int rtlsdr_open(rtlsdr_dev_t** dev, uint32_t index) {
    reloadConfig();
    record("rtlsdr_open", str(index));
    if (const Failure* failed = failure("rtlsdr_open")) {
        return failed->result;
    }
    if (index >= config().devices) {
        errno = ENODEV;
        return -1;
    }
    *dev = new rtlsdr_dev;
    (*dev)->index = index;
    return 0;
}

int rtlsdr_close(rtlsdr_dev_t* dev) {
    const int result = outcome("rtlsdr_close", dev != nullptr ? "dev" : "null");
    if (dev == nullptr) {
        return -1;
    }
    delete dev;
    return result;
}

int rtlsdr_set_xtal_freq(rtlsdr_dev_t*, uint32_t rtlFreq, uint32_t tunerFreq) {
    return outcome("rtlsdr_set_xtal_freq", str(rtlFreq) + " " + str(tunerFreq));
}

int rtlsdr_get_xtal_freq(rtlsdr_dev_t*, uint32_t* rtlFreq, uint32_t* tunerFreq) {
    const uint32_t crystal = 28800000;  // Hz, the usual RTL2832U crystal
    if (rtlFreq != nullptr) {
        *rtlFreq = crystal;
    }
    if (tunerFreq != nullptr) {
        *tunerFreq = crystal;
    }
    return outcome("rtlsdr_get_xtal_freq", "");
}

int rtlsdr_get_usb_strings(rtlsdr_dev_t* dev, char* manufact, char* product, char* serial) {
    return rtlsdr_get_device_usb_strings(dev != nullptr ? dev->index : 0, manufact, product,
                                         serial);
}

int rtlsdr_write_eeprom(rtlsdr_dev_t*, uint8_t*, uint8_t offset, uint16_t len) {
    return outcome("rtlsdr_write_eeprom", str(offset) + " " + str(len), -3);
}

int rtlsdr_read_eeprom(rtlsdr_dev_t*, uint8_t*, uint8_t offset, uint16_t len) {
    return outcome("rtlsdr_read_eeprom", str(offset) + " " + str(len), -3);
}

int rtlsdr_set_center_freq(rtlsdr_dev_t* dev, uint32_t freq) {
    const int result = outcome("rtlsdr_set_center_freq", str(freq));
    if (result == 0) {
        dev->centreFrequency = freq;
    }
    return result;
}

uint32_t rtlsdr_get_center_freq(rtlsdr_dev_t* dev) {
    return static_cast<uint32_t>(
        outcome("rtlsdr_get_center_freq", "", static_cast<int>(dev->centreFrequency)));
}

int rtlsdr_set_freq_correction(rtlsdr_dev_t* dev, int ppm) {
    const int result = outcome("rtlsdr_set_freq_correction", str(ppm));
    if (result == 0) {
        dev->correction = ppm;
    }
    return result;
}

int rtlsdr_get_freq_correction(rtlsdr_dev_t* dev) {
    return outcome("rtlsdr_get_freq_correction", "", dev->correction);
}

enum rtlsdr_tuner rtlsdr_get_tuner_type(rtlsdr_dev_t*) {
    return static_cast<rtlsdr_tuner>(outcome("rtlsdr_get_tuner_type", "", RTLSDR_TUNER_R820T));
}

int rtlsdr_get_tuner_gains(rtlsdr_dev_t*, int* gains) {
    const auto& listed = config().gains;
    const int result = outcome("rtlsdr_get_tuner_gains", gains != nullptr ? "array" : "null",
                               static_cast<int>(listed.size()));
    if (gains != nullptr && result > 0) {
        for (std::size_t i = 0; i < listed.size() && i < static_cast<std::size_t>(result); ++i) {
            gains[i] = listed[i];
        }
    }
    return result;
}

int rtlsdr_set_tuner_gain(rtlsdr_dev_t* dev, int gain) {
    const int result = outcome("rtlsdr_set_tuner_gain", str(gain));
    if (result == 0) {
        dev->gain = gain;
    }
    return result;
}

int rtlsdr_set_tuner_bandwidth(rtlsdr_dev_t*, uint32_t bw) {
    return outcome("rtlsdr_set_tuner_bandwidth", str(bw));
}

int rtlsdr_get_tuner_gain(rtlsdr_dev_t* dev) {
    return outcome("rtlsdr_get_tuner_gain", "", dev->gain);
}

int rtlsdr_set_tuner_if_gain(rtlsdr_dev_t*, int stage, int gain) {
    return outcome("rtlsdr_set_tuner_if_gain", str(stage) + " " + str(gain));
}

int rtlsdr_set_tuner_gain_mode(rtlsdr_dev_t* dev, int manual) {
    const int result = outcome("rtlsdr_set_tuner_gain_mode", str(manual));
    if (result == 0) {
        dev->manualGain = manual;
    }
    return result;
}

int rtlsdr_set_sample_rate(rtlsdr_dev_t* dev, uint32_t rate) {
    const int result = outcome("rtlsdr_set_sample_rate", str(rate));
    if (result == 0) {
        dev->sampleRate = rate;
    }
    return result;
}

uint32_t rtlsdr_get_sample_rate(rtlsdr_dev_t* dev) {
    return static_cast<uint32_t>(
        outcome("rtlsdr_get_sample_rate", "", static_cast<int>(dev->sampleRate)));
}

int rtlsdr_set_testmode(rtlsdr_dev_t*, int on) {
    return outcome("rtlsdr_set_testmode", str(on));
}

int rtlsdr_set_agc_mode(rtlsdr_dev_t*, int on) {
    return outcome("rtlsdr_set_agc_mode", str(on));
}

int rtlsdr_set_direct_sampling(rtlsdr_dev_t*, int on) {
    return outcome("rtlsdr_set_direct_sampling", str(on));
}

int rtlsdr_get_direct_sampling(rtlsdr_dev_t*) {
    return outcome("rtlsdr_get_direct_sampling", "");
}

int rtlsdr_set_offset_tuning(rtlsdr_dev_t*, int on) {
    return outcome("rtlsdr_set_offset_tuning", str(on));
}

int rtlsdr_get_offset_tuning(rtlsdr_dev_t*) {
    return outcome("rtlsdr_get_offset_tuning", "");
}

int rtlsdr_reset_buffer(rtlsdr_dev_t*) {
    return outcome("rtlsdr_reset_buffer", "");
}

int rtlsdr_read_sync(rtlsdr_dev_t*, void*, int len, int* n_read) {
    if (n_read != nullptr) {
        *n_read = 0;
    }
    return outcome("rtlsdr_read_sync", str(len), -1);
}

int rtlsdr_read_async(rtlsdr_dev_t* dev, rtlsdr_read_async_cb_t cb, void* ctx, uint32_t buf_num,
                      uint32_t buf_len) {
    record("rtlsdr_read_async", str(buf_num) + " " + str(buf_len));
    {
        std::lock_guard<std::mutex> guard(dev->lock);
        dev->reading = true;
        dev->cancelRequested = false;
    }
    struct ReadEnd {
        rtlsdr_dev* dev;
        ~ReadEnd() {
            std::lock_guard<std::mutex> guard(dev->lock);
            dev->reading = false;
        }
    } readEnd{dev};
    uint32_t length = config().transferLength != 0 ? config().transferLength : buf_len;
    if (length == 0) {
        length = defaultTransferLength;
    }
    if (!config().input.empty() && !streamInput(dev, cb, ctx, length)) {
        return 0;
    }
    if (const Failure* failed = failure("rtlsdr_read_async")) {
        return failed->result;
    }
    std::unique_lock<std::mutex> guard(dev->lock);
    dev->cancelled.wait(guard, [dev] { return dev->cancelRequested; });
    return 0;
}

int rtlsdr_wait_async(rtlsdr_dev_t* dev, rtlsdr_read_async_cb_t cb, void* ctx) {
    return rtlsdr_read_async(dev, cb, ctx, 0, 0);
}

int rtlsdr_cancel_async(rtlsdr_dev_t* dev) {
    const int result = outcome("rtlsdr_cancel_async", "");
    if (result != 0) {
        return result;
    }
    std::lock_guard<std::mutex> guard(dev->lock);
    if (!dev->reading) {
        return notReading;
    }
    dev->cancelRequested = true;
    dev->cancelled.notify_all();
    return 0;
}

int rtlsdr_set_bias_tee(rtlsdr_dev_t*, int on) {
    return outcome("rtlsdr_set_bias_tee", str(on));
}

int rtlsdr_set_bias_tee_gpio(rtlsdr_dev_t*, int gpio, int on) {
    return outcome("rtlsdr_set_bias_tee_gpio", str(gpio) + " " + str(on));
}

}  // extern "C"

#include "sdr/device_list.hpp"

#include "sdr/sdr_exception.hpp"
#ifdef KEELWAVE_WITH_SOAPYSDR
#include "sdr/soapy_source.hpp"
#endif

#include <rtl-sdr.h>

#include <iomanip>
#include <ostream>

namespace keelwave::sdr {

namespace {

void listRtlDevices(std::ostream& out) {
    const int count = static_cast<int>(rtlsdr_get_device_count());
    if (count < 1) {
        out << "No Available devices." << std::endl;
        return;
    }
    out << "Available Devices:" << std::endl;
    for (int index = 0; index < count; ++index) {
        const char* name = rtlsdr_get_device_name(static_cast<uint32_t>(index));
        if (name == nullptr) {
            throw SdrException("rtlsdr_get_device_name()");
        }
        out << std::setw(2) << std::setfill(' ') << index << ": " << name << std::endl;
    }
}

}  // namespace

void listDevices(std::ostream& out) {
    listRtlDevices(out);
#ifdef KEELWAVE_WITH_SOAPYSDR
    listSoapyDevices(out);
#endif
}

}  // namespace keelwave::sdr

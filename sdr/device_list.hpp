#pragma once

#include <iosfwd>

namespace keelwave::sdr {

/// Writes the attached RTL devices to `out`, " 0: name" a line, or "No Available devices.";
/// throws SdrException when librtlsdr has no name for a device it counted. Then, in a build
/// with SoapySDR, the SoapySDR devices (listSoapyDevices).
void listDevices(std::ostream& out);

}  // namespace keelwave::sdr

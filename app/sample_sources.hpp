#pragma once

#include "sdr/sample_source.hpp"

#include <boost/program_options/variables_map.hpp>

#include <memory>

namespace keelwave::app {

/// The source the options ask for, opened and ready for its channels: a recording with
/// `input`, an rtl_tcp server with `rtl-tcp`, a SoapySDR device with `soapy`, else the local
/// tuner, configured (its report on standard error). Throws base::StartupError when it cannot
/// be opened.
std::unique_ptr<sdr::SampleSource> openSampleSource(
    const boost::program_options::variables_map& options);

/// Whether the source the options ask for may wait for the channels, so that nothing between
/// it and the outputs may be dropped (a recording).
bool sourceMayWait(const boost::program_options::variables_map& options);

/// Whether the source the options ask for fails the run when it delivers nothing for long: a
/// local tuner or a SoapySDR device, not a recording nor an rtl_tcp server (which reconnects).
bool sourceStallEndsRun(const boost::program_options::variables_map& options);

}  // namespace keelwave::app

#pragma once

#include "sdr/sample_source.hpp"

#include <boost/program_options/variables_map.hpp>

#include <memory>

namespace keelwave::app {

/// The source the options ask for, opened and ready for its channels: a recording with
/// `input`, else the local tuner, configured (its report on standard error). Throws
/// base::StartupError when it cannot be opened.
std::unique_ptr<sdr::SampleSource> openSampleSource(
    const boost::program_options::variables_map& options);

/// Whether the source the options ask for may wait for the channels, so that nothing between
/// it and the outputs may be dropped (a recording).
bool sourceMayWait(const boost::program_options::variables_map& options);

}  // namespace keelwave::app

#pragma once

namespace keelwave::ais {

/// Receives each finished NMEA sentence (NUL-terminated, no line end). The text is valid only
/// during the call.
using SentenceCallback = void (*)(void* context, const char* sentence);

/// Receives a channel's level report: `channel` is the letter ('A' or 'B'), `level` the block's
/// positive peak in percent of 32768, `gain` the software gain after adjustment.
using LevelCallback = void (*)(void* context, int channel, float level, float gain);

}  // namespace keelwave::ais

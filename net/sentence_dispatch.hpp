#pragma once

/// The decoders' sentence callback; `context` is the AisDecoder that produced the sentence.
/// Hands the sentence, with "\r\n", to the TCP clients and then to the UDP destination, and
/// then logs it bare at INFO, each only if the decoder has that output. Runs on the channel
/// threads, two at a time; never waits for the network. A null context does nothing.
void dispatchSentence(void* context, const char* sentence);

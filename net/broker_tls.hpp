#pragma once

#include <string>

struct ssl_ctx_st;
struct x509_store_ctx_st;

namespace keelwave::net {

/// The TLS context of an `mqtts://` broker. It is ours rather than libmosquitto's because
/// libmosquitto is handed the address we looked up, not the name: left to itself it would check
/// the broker's certificate against the address and name the address to the server. This
/// context checks the certificate against the name in the broker's address (or against the
/// address, when one was given), names it to the server as the handshake begins, and keeps why
/// the last check failed.
class BrokerTls {
public:
    /// Trusts the certificates of `caFile`, or the system's when it is empty. Throws
    /// std::runtime_error with the reason if they cannot be read.
    BrokerTls(const std::string& host, const std::string& caFile);
    ~BrokerTls();
    BrokerTls(const BrokerTls&) = delete;
    BrokerTls& operator=(const BrokerTls&) = delete;

    ssl_ctx_st* context() const { return tlsContext; }
    /// Why the last certificate check failed ("IP address mismatch"); empty if none did.
    const std::string& failure() const { return lastFailure; }
    void forgetFailure() { lastFailure.clear(); }

private:
    static int verifyCertificate(int passed, x509_store_ctx_st* store);

    ssl_ctx_st* tlsContext = nullptr;
    std::string serverName;  ///< empty when the broker was given as an address
    std::string lastFailure;
};

}  // namespace keelwave::net

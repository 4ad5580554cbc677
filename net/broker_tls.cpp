#include "net/broker_tls.hpp"

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <boost/asio/ip/address.hpp>

#include <stdexcept>

namespace keelwave::net {

BrokerTls::BrokerTls(const std::string& host, const std::string& caFile)
    : tlsContext(SSL_CTX_new(TLS_client_method())) {
    if (tlsContext == nullptr) {
        throw std::runtime_error("cannot set up TLS");
    }
    SSL_CTX_set_min_proto_version(tlsContext, TLS1_2_VERSION);
    const bool trusted =
        caFile.empty() ? SSL_CTX_set_default_verify_paths(tlsContext) == 1
                       : SSL_CTX_load_verify_locations(tlsContext, caFile.c_str(), nullptr) == 1;
    if (!trusted) {
        SSL_CTX_free(tlsContext);
        throw std::runtime_error(caFile + ": no certificates could be read");
    }
    SSL_CTX_set_app_data(tlsContext, this);
    SSL_CTX_set_verify(tlsContext, SSL_VERIFY_PEER, &BrokerTls::verifyCertificate);
    X509_VERIFY_PARAM* check = SSL_CTX_get0_param(tlsContext);
    boost::system::error_code notAnAddress;
    boost::asio::ip::make_address(host, notAnAddress);
    if (!notAnAddress) {
        X509_VERIFY_PARAM_set1_ip_asc(check, host.c_str());
        return;
    }
    serverName = host;
    X509_VERIFY_PARAM_set1_host(check, host.c_str(), 0);
    // Called as each handshake starts, before the greeting that names the server is written.
    SSL_CTX_set_info_callback(tlsContext, [](const SSL* session, int where, int) {
        if ((where & SSL_CB_HANDSHAKE_START) != 0) {
            const auto* tls =
                static_cast<const BrokerTls*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(session)));
            SSL_set_tlsext_host_name(const_cast<SSL*>(session), tls->serverName.c_str());
        }
    });
}

BrokerTls::~BrokerTls() {
    SSL_CTX_free(tlsContext);  // libmosquitto holds a reference of its own while it uses it
}

int BrokerTls::verifyCertificate(int passed, X509_STORE_CTX* store) {
    if (passed == 0) {
        const auto* session = static_cast<const SSL*>(
            X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        auto* tls = static_cast<BrokerTls*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(session)));
        tls->lastFailure = X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
    }
    return passed;
}

}  // namespace keelwave::net

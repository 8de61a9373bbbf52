#include "monitor/EndpointSecurity.h"

#include <crypt.h>
#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include <cstring>

namespace tessor::monitor {

namespace {

gnutls_datum_t Datum(const std::string& text) {
    return gnutls_datum_t{reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())),
                          static_cast<unsigned>(text.size())};
}

// Called by the TLS library once a client's certificate has arrived: it must chain to the client CA and be
// meant for TLS clients. A client that sent none passes here; whether one was required is the library's
// check, made before.
int VerifyClientCertificate(gnutls_session_t session) {
    unsigned count = 0;
    if (!gnutls_certificate_get_peers(session, &count) || count == 0)
        return 0;
    gnutls_typed_vdata_st purpose{};
    purpose.type = GNUTLS_DT_KEY_PURPOSE_OID;
    purpose.data = reinterpret_cast<unsigned char*>(const_cast<char*>(GNUTLS_KP_TLS_WWW_CLIENT));
    unsigned status = 0;
    if (gnutls_certificate_verify_peers(session, &purpose, 1, &status) < 0 || status != 0)
        return GNUTLS_E_CERTIFICATE_ERROR;
    return 0;
}

gnutls_certificate_request_t RequestOf(ClientAuth auth) {
    switch (auth) {
    case ClientAuth::NoClientCert:
        return GNUTLS_CERT_IGNORE;
    case ClientAuth::RequestClientCert:
    case ClientAuth::VerifyClientCertIfGiven:
        return GNUTLS_CERT_REQUEST;
    case ClientAuth::RequireAnyClientCert:
    case ClientAuth::RequireAndVerifyClientCert:
        return GNUTLS_CERT_REQUIRE;
    }
    return GNUTLS_CERT_REQUIRE;
}

bool Verifies(ClientAuth auth) {
    return auth == ClientAuth::VerifyClientCertIfGiven || auth == ClientAuth::RequireAndVerifyClientCert;
}

// The cache's key: the user and a digest of the password, never the password itself.
std::string CacheKey(const std::string& user, const std::string& password) {
    unsigned char digest[32];
    gnutls_hash_fast(GNUTLS_DIG_SHA256, password.data(), password.size(), digest);
    return user + '\0' + std::string(reinterpret_cast<char*>(digest), sizeof digest);
}

} // namespace

std::shared_ptr<CEndpointSecurity> CEndpointSecurity::Create(const WebConfig& config, std::string* error) {
    std::shared_ptr<CEndpointSecurity> security(new CEndpointSecurity(config));
    if (config.tls && !security->LoadCredentials(error))
        return nullptr;
    return security;
}

bool CEndpointSecurity::LoadCredentials(std::string* error) {
    gnutls_certificate_credentials_t credentials = nullptr;
    if (gnutls_certificate_allocate_credentials(&credentials) != GNUTLS_E_SUCCESS) {
        *error = "no memory for the TLS credentials";
        return false;
    }
    m_credentials = credentials;
    const TlsSettings& tls = *m_config.tls;
    const gnutls_datum_t cert = Datum(tls.certPem);
    const gnutls_datum_t key = Datum(tls.keyPem);
    int result = gnutls_certificate_set_x509_key_mem(credentials, &cert, &key, GNUTLS_X509_FMT_PEM);
    if (result >= 0 && !tls.clientCaPem.empty()) {
        const gnutls_datum_t ca = Datum(tls.clientCaPem);
        result = gnutls_certificate_set_x509_trust_mem(credentials, &ca, GNUTLS_X509_FMT_PEM);
        result = result > 0 ? 0 : GNUTLS_E_NO_CERTIFICATE_FOUND;
    }
    if (result < 0) {
        *error = std::string("the TLS certificates do not load: ") + gnutls_strerror(result);
        return false;
    }
    if (Verifies(tls.clientAuth))
        gnutls_certificate_set_verify_function(credentials, VerifyClientCertificate);
    gnutls_priority_t priorities = nullptr;
    result =
        gnutls_priority_init(&priorities, TlsPriorities(tls.minVersion, tls.maxVersion).c_str(), nullptr);
    if (result < 0) {
        *error = std::string("the TLS library refuses the version range: ") + gnutls_strerror(result);
        return false;
    }
    m_priorities = priorities;
    return true;
}

CEndpointSecurity::~CEndpointSecurity() {
    if (m_priorities)
        gnutls_priority_deinit(static_cast<gnutls_priority_t>(m_priorities));
    if (m_credentials)
        gnutls_certificate_free_credentials(static_cast<gnutls_certificate_credentials_t>(m_credentials));
}

bool CEndpointSecurity::Apply(void* session) const {
    auto* s = static_cast<gnutls_session_t>(session);
    if (!m_credentials || !s)
        return false;
    if (gnutls_credentials_set(s, GNUTLS_CRD_CERTIFICATE, m_credentials) < 0 ||
        gnutls_priority_set(s, static_cast<gnutls_priority_t>(m_priorities)) < 0)
        return false;
    gnutls_certificate_server_set_request(s, RequestOf(m_config.tls->clientAuth));
    return true;
}

bool CEndpointSecurity::Check(const std::string& user, const std::string& password,
                              Clock::time_point now) const {
    const auto found = m_config.users.find(user);
    if (found == m_config.users.end() || password.find('\0') != std::string::npos)
        return false;
    const std::string key = CacheKey(user, password);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto kept = m_verdicts.find(key);
        if (kept != m_verdicts.end() && (kept->second.accepted || now < kept->second.until))
            return kept->second.accepted;
    }
    ++m_bcryptRuns;
    crypt_data data{};
    const char* hashed = crypt_rn(password.c_str(), found->second.c_str(), &data, sizeof data);
    const bool accepted = hashed && found->second == hashed;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_verdicts.size() >= kMaxKept)
        m_verdicts.clear();
    m_verdicts[key] = Verdict{accepted, now + kRefusalKept};
    return accepted;
}

} // namespace tessor::monitor

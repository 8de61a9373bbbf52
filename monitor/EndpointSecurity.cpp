#include "monitor/EndpointSecurity.h"

#include <crypt.h>
#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include <algorithm>
#include <cctype>
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
    if (!config.users.empty()) {
        int cost = 4;
        for (const auto& user : config.users)
            cost = std::max(cost, BcryptCost(user.second).value_or(cost));
        char setting[CRYPT_GENSALT_OUTPUT_SIZE];
        if (!crypt_gensalt_rn("$2y$", static_cast<unsigned long>(cost), nullptr, 0, setting,
                              sizeof setting)) {
            *error = "no random salt for the password check";
            return nullptr;
        }
        security->m_dummy = setting;
    }
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

namespace {

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// Padded base 64, every byte kept; nothing for anything else.
std::optional<std::string> DecodeBase64(std::string_view text) {
    if (text.size() % 4 != 0)
        return std::nullopt;
    const std::size_t padding = text.size() >= 2 && text.substr(text.size() - 2) == "==" ? 2
                                : !text.empty() && text.back() == '='                    ? 1
                                                                                         : 0;
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        const int value = Base64Value(text[i]);
        if (value < 0)
            return std::nullopt;
        bits = (bits << 6) | static_cast<unsigned>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xff);
        }
    }
    return out;
}

} // namespace

std::optional<BasicCredentials> ParseBasicAuthorization(std::string_view header) {
    constexpr std::string_view kScheme = "basic";
    if (header.size() <= kScheme.size() || header[kScheme.size()] != ' ')
        return std::nullopt;
    for (std::size_t i = 0; i < kScheme.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(header[i])) != kScheme[i])
            return std::nullopt;
    }
    std::string_view token = header.substr(kScheme.size());
    while (!token.empty() && token.front() == ' ')
        token.remove_prefix(1);
    while (!token.empty() && token.back() == ' ')
        token.remove_suffix(1);
    const std::optional<std::string> text = DecodeBase64(token);
    const auto colon = text ? text->find(':') : std::string::npos;
    if (colon == std::string::npos)
        return std::nullopt;
    return BasicCredentials{text->substr(0, colon), text->substr(colon + 1)};
}

CPasswordChecker::CPasswordChecker(unsigned workers, std::size_t inFlight) : m_inFlight(inFlight) {
    for (unsigned i = 0; i < workers; ++i)
        m_workers.emplace_back([this] { Work(); });
}

CPasswordChecker::~CPasswordChecker() {
    Stop();
}

bool CPasswordChecker::TryRun(Job job) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping || m_running + m_waiting.size() >= m_inFlight)
        return false;
    m_waiting.push_back(std::move(job));
    m_cv.notify_one();
    return true;
}

void CPasswordChecker::Stop() {
    std::deque<Job> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        dropped.swap(m_waiting);
    }
    m_cv.notify_all();
    for (Job& job : dropped)
        job(false);
    for (std::thread& worker : m_workers) {
        if (worker.joinable())
            worker.join();
    }
}

void CPasswordChecker::Work() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_stopping || !m_waiting.empty(); });
        if (m_waiting.empty())
            return; // stopping
        Job job = std::move(m_waiting.front());
        m_waiting.pop_front();
        ++m_running;
        lock.unlock();
        job(true);
        lock.lock();
        --m_running;
    }
}

std::optional<bool> CEndpointSecurity::Kept(const std::string& user, const std::string& password,
                                            Clock::time_point now) const {
    if (password.find('\0') != std::string::npos || user.find('\0') != std::string::npos)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto kept = m_verdicts.find(CacheKey(user, password));
    if (kept != m_verdicts.end() && (kept->second.accepted || now < kept->second.until))
        return kept->second.accepted;
    return std::nullopt;
}

bool CEndpointSecurity::Verify(const std::string& user, const std::string& password,
                               Clock::time_point now) const {
    if (password.find('\0') != std::string::npos || user.find('\0') != std::string::npos)
        return false;
    const auto found = m_config.users.find(user);
    const std::string& hash = found != m_config.users.end() ? found->second : m_dummy;
    ++m_bcryptRuns;
    crypt_data data{};
    const char* hashed = crypt_rn(password.c_str(), hash.c_str(), &data, sizeof data);
    const bool accepted = found != m_config.users.end() && hashed && hash == hashed;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_verdicts.size() >= kMaxKept)
        m_verdicts.clear();
    m_verdicts[CacheKey(user, password)] = Verdict{accepted, now + kRefusalKept};
    return accepted;
}

bool CEndpointSecurity::Check(const std::string& user, const std::string& password,
                              Clock::time_point now) const {
    const std::optional<bool> kept = Kept(user, password, now);
    return kept ? *kept : Verify(user, password, now);
}

} // namespace tessor::monitor

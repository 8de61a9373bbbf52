#pragma once

// What a web configuration file makes of the endpoint: the TLS credentials and version range each new
// connection gets, whether and how client certificates are asked for and checked, the users of basic
// authentication and the extra response headers. One object per loaded file; a reload builds a new one,
// and connections keep the one they started with.

#include "monitor/WebConfig.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tessor::monitor {

struct BasicCredentials {
    std::string user;
    std::string password; // every byte the client sent, a NUL included
};

// The user and password of an Authorization header of the Basic scheme (its name in any case), decoded
// whole; nothing for another scheme or a token that is not padded base 64 of "user:password".
std::optional<BasicCredentials> ParseBasicAuthorization(std::string_view header);

// Runs password checks on threads of its own, so that bcrypt never holds a thread serving requests. At
// most inFlight checks are taken at once, running or waiting: beyond that TryRun refuses at once, and a
// flood of guesses costs a bounded queue and no more than `workers` cores.
class CPasswordChecker {
public:
    // Called with true on a checker thread; with false, without running, when the checker stops first.
    using Job = std::function<void(bool run)>;

    CPasswordChecker(unsigned workers, std::size_t inFlight);
    ~CPasswordChecker();
    CPasswordChecker(const CPasswordChecker&) = delete;
    CPasswordChecker& operator=(const CPasswordChecker&) = delete;

    // False, the job dropped uncalled, when inFlight jobs are running or waiting, or after Stop.
    bool TryRun(Job job);
    // Jobs still waiting are called with false; the running ones are waited for.
    void Stop();

private:
    void Work();

    const std::size_t m_inFlight;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Job> m_waiting;
    std::size_t m_running = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_workers;
};

class CEndpointSecurity {
public:
    using Clock = std::chrono::steady_clock;

    // Nothing, with *error set, when the credentials do not load.
    static std::shared_ptr<CEndpointSecurity> Create(const WebConfig& config, std::string* error);
    ~CEndpointSecurity();
    CEndpointSecurity(const CEndpointSecurity&) = delete;
    CEndpointSecurity& operator=(const CEndpointSecurity&) = delete;

    bool Tls() const { return m_config.tls.has_value(); }
    bool Authenticates() const { return !m_config.users.empty(); }
    const std::vector<std::pair<std::string, std::string>>& Headers() const { return m_config.headers; }
    // The PEM texts the TLS library is started with; each connection then gets its credentials anew.
    const std::string& CertPem() const { return m_config.tls->certPem; }
    const std::string& KeyPem() const { return m_config.tls->keyPem; }

    // Gives a new TLS session (a gnutls_session_t) this configuration's credentials, versions and client
    // certificate request. False when the TLS library refused one of them.
    bool Apply(void* session) const;

    // Whether the user and password are those of a configured user. bcrypt runs once per user and password:
    // the answer is kept (keyed by the user and a digest of the password), a refusal only for a while, so a
    // scraper pays bcrypt's cost once and a guesser pays it again and again.
    bool Check(const std::string& user, const std::string& password, Clock::time_point now) const;
    // The answer known without bcrypt: a kept one, or a refusal of a password with a NUL byte (which
    // the bytes crypt reads would cut short). Nothing when bcrypt must run.
    std::optional<bool> Kept(const std::string& user, const std::string& password,
                             Clock::time_point now) const;
    // Runs bcrypt and keeps the answer. An unknown user's password is checked against a hash of the
    // configured cost as well, so the time of the answer does not tell which names exist.
    bool Verify(const std::string& user, const std::string& password, Clock::time_point now) const;

    // How often Check ran bcrypt: once per user and password while the answer is kept.
    std::size_t BcryptRuns() const { return m_bcryptRuns; }

    static constexpr std::chrono::seconds kRefusalKept{60};
    static constexpr std::size_t kMaxKept = 1024;

private:
    explicit CEndpointSecurity(WebConfig config) : m_config(std::move(config)) {}
    bool LoadCredentials(std::string* error);

    struct Verdict {
        bool accepted = false;
        Clock::time_point until; // for a refusal
    };

    WebConfig m_config;
    std::string m_dummy;           // a bcrypt setting of the highest configured cost, for unknown users
    void* m_credentials = nullptr; // gnutls_certificate_credentials_t
    void* m_priorities = nullptr;  // gnutls_priority_t
    mutable std::mutex m_mutex;    // guards m_verdicts: sessions are served by several threads
    mutable std::unordered_map<std::string, Verdict> m_verdicts;
    mutable std::atomic<std::size_t> m_bcryptRuns{0};
};

} // namespace tessor::monitor

// The endpoint's web configuration file: what the parser takes and refuses, and the basic authentication
// check with its kept answers. Certificates and a bcrypt hash are made at test time.

#include "monitor/EndpointSecurity.h"
#include "monitor/MetricsServer.h"
#include "monitor/WebConfig.h"

#include <gtest/gtest.h>

#include <crypt.h>

#include <arpa/inet.h>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <future>
#include <map>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#ifndef TESSOR_MAKE_CERTS
#error "TESSOR_MAKE_CERTS must name the script that makes the test certificates"
#endif

namespace tessor::monitor {
namespace {

using namespace std::chrono_literals;

// Polls the condition for at most ten seconds.
template <class F> bool WaitUntil(F condition) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class WebConfigFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/tessor-web-config-XXXXXX";
        s_dir = mkdtemp(pattern);
        const std::string command = "/bin/bash '" TESSOR_MAKE_CERTS "' '" + s_dir + "' >/dev/null 2>&1";
        s_made = std::system(command.c_str()) == 0;
        s_made = s_made && ::mkfifo((s_dir + "/pipe.crt").c_str(), 0600) == 0;
        std::ifstream in(s_dir + "/prometheus.hash");
        std::getline(in, s_hash);
    }
    static void TearDownTestSuite() {
        const std::string command = "rm -rf '" + s_dir + "'";
        if (std::system(command.c_str()) != 0)
            return;
    }
    void SetUp() override { ASSERT_TRUE(s_made) << "openssl or htpasswd failed"; }

    static std::optional<WebConfig> Parse(const std::string& yaml, std::string* error) {
        return ParseWebConfig(yaml, s_dir, error);
    }

    static std::string s_dir;
    static std::string s_hash;
    static bool s_made;
};

std::string WebConfigFiles::s_dir;
std::string WebConfigFiles::s_hash;
bool WebConfigFiles::s_made = false;

const std::string kTls = "tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n";

TEST_F(WebConfigFiles, AWholeFileGivesEveryPartAndDefaults) {
    std::string error;
    const auto config = Parse(kTls +
                                  "  client_auth_type: VerifyClientCertIfGiven\n  client_ca_file: ca.crt\n"
                                  "  min_version: TLS13\n"
                                  "http_server_config:\n  http2: true\n  headers:\n"
                                  "    X-Frame-Options: deny\n    Strict-Transport-Security: max-age=60\n"
                                  "basic_auth_users:\n  prometheus: " +
                                  s_hash + "\n  other: '" + s_hash + "'\n",
                              &error);
    ASSERT_TRUE(config) << error;
    ASSERT_TRUE(config->tls);
    EXPECT_EQ(config->tls->clientAuth, ClientAuth::VerifyClientCertIfGiven);
    EXPECT_EQ(config->tls->minVersion, TlsVersion::Tls13);
    EXPECT_EQ(config->tls->maxVersion, TlsVersion::Tls13);
    EXPECT_NE(config->tls->clientCaPem.find("BEGIN CERTIFICATE"), std::string::npos);
    ASSERT_EQ(config->headers.size(), 2u);
    EXPECT_EQ(config->headers[0], std::make_pair(std::string("X-Frame-Options"), std::string("deny")));
    EXPECT_EQ(config->users.size(), 2u);

    const auto plain = Parse(kTls, &error);
    ASSERT_TRUE(plain) << error;
    EXPECT_EQ(plain->tls->minVersion, TlsVersion::Tls12);
    EXPECT_EQ(plain->tls->clientAuth, ClientAuth::NoClientCert);
    const auto empty = Parse("", &error);
    ASSERT_TRUE(empty) << error;
    EXPECT_FALSE(empty->tls);
    EXPECT_TRUE(empty->users.empty());
}

TEST_F(WebConfigFiles, AnythingNotWholeIsRefusedNamingTheKey) {
    struct Case {
        std::string yaml;
        std::string says;
    };
    const std::vector<Case> cases{
        {"tls_server_config: [\n", "not YAML"},
        {"tls_sever_config:\n  cert_file: a\n", "unknown key tls_sever_config"},
        {kTls + "  certfile: x\n", "unknown key tls_server_config.certfile"},
        {kTls + "  cipher_suites: [TLS_AES_128_GCM_SHA256]\n", "unknown key tls_server_config.cipher_suites"},
        {kTls + "  cert_file: server.crt\n", "given twice"},
        {"tls_server_config:\n  key_file: server.key\n", "missing cert_file"},
        {"tls_server_config:\n  cert_file: server.crt\n", "missing key_file"},
        {"tls_server_config:\n  cert_file: none.crt\n  key_file: server.key\n", "cannot read"},
        {"tls_server_config:\n  cert_file: pipe.crt\n  key_file: server.key\n", "cannot read"},
        {"tls_server_config:\n  cert_file: server.crt\n  key_file: client.key\n", "do not load as a pair"},
        {"tls_server_config:\n  cert_file: server.key\n  key_file: server.key\n", "do not load as a pair"},
        {kTls + "  client_auth_type: RequireAndVerify\n", "is none of NoClientCert"},
        {kTls + "  client_auth_type: RequireAndVerifyClientCert\n", "no client_ca_file"},
        {kTls + "  client_auth_type: VerifyClientCertIfGiven\n", "no client_ca_file"},
        {kTls + "  client_ca_file: ca.crt\n", "asks for no client certificate"},
        {kTls + "  client_auth_type: RequireAnyClientCert\n  client_ca_file: server.key\n",
         "no PEM certificate"},
        {kTls + "  min_version: TLS14\n", "is none of TLS10"},
        {kTls + "  min_version: TLS13\n  max_version: TLS12\n", "below min_version"},
        {"http_server_config:\n  headers:\n    Server: x\n", "unknown key http_server_config.headers.Server"},
        {"http_server_config:\n  headers:\n    X-Frame-Options: allow\n", "not an accepted value"},
        {"http_server_config:\n  compression: true\n", "unknown key http_server_config.compression"},
        {"basic_auth_users:\n  prometheus: secret\n", "not a bcrypt hash"},
        {"basic_auth_users:\n  prometheus: $1$abcdefgh$abcdefghijklmnopqrstuv\n", "not a bcrypt hash"},
        {"basic_auth_users:\n  prometheus: '" + s_hash.substr(0, 59) + "'\n", "not a bcrypt hash"},
        {"basic_auth_users:\n  'a:b': '" + s_hash + "'\n", "without ':'"},
        {"basic_auth_users: [prometheus]\n", "expected a mapping"},
        {"basic_auth_users:\n  prometheus: '$2y$13$" + s_hash.substr(7) + "'\n", "cost 13 is above 12"},
        {"basic_auth_users:\n  prometheus: '$2y$31$" + s_hash.substr(7) + "'\n", "cost 31 is above 12"},
        {"http_server_config:\n  headers:\n    Content-Security-Policy: \"a\\0b\"\n", "control byte"},
        {"http_server_config:\n  headers:\n    X-XSS-Protection: \"1\\x1b[2J\"\n", "control byte"},
        {"http_server_config:\n  headers:\n    X-XSS-Protection: \"1\\x7f\"\n", "control byte"},
        {"tls_server_config:\n  cert_file: server.crt\n  key_file: ${CREDENTIALS_DIRECTORY}/server.key\n",
         "not given credentials"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(Parse(c.yaml, &error)) << c.yaml;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.yaml << " said: " << error;
    }
}

TEST_F(WebConfigFiles, CostsUpToTwelveAndTheCredentialsDirectoryAreTaken) {
    std::string error;
    EXPECT_TRUE(Parse("basic_auth_users:\n  a: '$2y$12$" + s_hash.substr(7) + "'\n  b: '$2y$05$" +
                          s_hash.substr(7) + "'\n",
                      &error))
        << error;
    ::setenv("CREDENTIALS_DIRECTORY", s_dir.c_str(), 1);
    const auto config = Parse(
        "tls_server_config:\n  cert_file: server.crt\n  key_file: ${CREDENTIALS_DIRECTORY}/server.key\n",
        &error);
    ::unsetenv("CREDENTIALS_DIRECTORY");
    ASSERT_TRUE(config) << error;
    EXPECT_NE(config->tls->keyPem.find("PRIVATE KEY"), std::string::npos);
}

TEST_F(WebConfigFiles, BcryptHashesOfEveryPrefixAndCostAreTold) {
    const std::string body = s_hash.substr(7); // salt and hash after "$2y$10$"
    for (const char* prefix : {"$2y$10$", "$2b$10$", "$2a$10$", "$2y$04$"})
        EXPECT_TRUE(IsBcryptHash(prefix + body)) << prefix;
    for (const char* prefix : {"$2x$10$", "$2y$03$", "$2y$32$", "$2y$1a$", "$2$10$$", "$5$10$"})
        EXPECT_FALSE(IsBcryptHash(prefix + body)) << prefix;
    EXPECT_FALSE(IsBcryptHash(s_hash + "a"));
    EXPECT_FALSE(IsBcryptHash(s_hash.substr(0, 59) + "!"));
}

TEST_F(WebConfigFiles, VersionRangesBecomeTheTlsLibrarysPriorities) {
    EXPECT_EQ(TlsPriorities(TlsVersion::Tls12, TlsVersion::Tls13),
              "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2");
    EXPECT_EQ(TlsPriorities(TlsVersion::Tls13, TlsVersion::Tls13), "NORMAL:-VERS-ALL:+VERS-TLS1.3");
    EXPECT_EQ(TlsPriorities(TlsVersion::Tls10, TlsVersion::Tls11),
              "NORMAL:-VERS-ALL:+VERS-TLS1.1:+VERS-TLS1.0");
}

TEST_F(WebConfigFiles, APasswordIsCheckedByBcryptOnceAndARefusalOnlyForAWhile) {
    std::string error;
    const auto config = Parse("basic_auth_users:\n  prometheus: " + s_hash + "\n", &error);
    ASSERT_TRUE(config) << error;
    const auto security = CEndpointSecurity::Create(*config, &error);
    ASSERT_TRUE(security) << error;
    const auto t0 = CEndpointSecurity::Clock::now();
    EXPECT_TRUE(security->Check("prometheus", "scrape-secret", t0));
    EXPECT_TRUE(security->Check("prometheus", "scrape-secret", t0 + 1h));
    EXPECT_EQ(security->BcryptRuns(), 1u) << "the accepted password is kept";

    EXPECT_FALSE(security->Check("prometheus", "wrong", t0));
    EXPECT_FALSE(security->Check("prometheus", "wrong", t0 + CEndpointSecurity::kRefusalKept - 1s));
    EXPECT_EQ(security->BcryptRuns(), 2u) << "a refusal is kept for a while";
    EXPECT_FALSE(security->Check("prometheus", "wrong", t0 + CEndpointSecurity::kRefusalKept));
    EXPECT_EQ(security->BcryptRuns(), 3u) << "and then checked again";

    EXPECT_FALSE(security->Check("prometheus", "scrape-secret-", t0)) << "a password is not a prefix";
    EXPECT_FALSE(security->Check("prometheus", std::string("scrape-secret\0x", 15), t0));
    EXPECT_FALSE(security->Check("nobody", "scrape-secret", t0));
    EXPECT_FALSE(security->Check("Prometheus", "scrape-secret", t0));
}

TEST(BasicAuthorization, TheSchemeInAnyCaseAndEveryByteOfThePasswordAreTaken) {
    const std::vector<std::pair<const char*, std::optional<std::string>>> cases{
        {"Basic cHJvbTpzZWNyZXQ=", "prom:secret"},
        {"basic  cHJvbTpzZWNyZXQ=", "prom:secret"},
        {"Basic cHJvbTpzZWNyZXQAWA==", std::string("prom:secret\0X", 13)},
        {"Basic cHJvbQ==", std::nullopt},          // no colon
        {"Basic cHJvbTpzZWNyZXQ", std::nullopt},   // unpadded
        {"Bearer cHJvbTpzZWNyZXQ=", std::nullopt}, // another scheme
    };
    for (const auto& c : cases) {
        const auto credentials = ParseBasicAuthorization(c.first);
        EXPECT_EQ(credentials ? std::optional(credentials->user + ":" + credentials->password) : std::nullopt,
                  c.second)
            << c.first;
    }
}

std::string HashOf(const std::string& password, unsigned long cost) {
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    crypt_data data{};
    const char* hashed = crypt_gensalt_rn("$2y$", cost, nullptr, 0, setting, sizeof setting)
                             ? crypt_rn(password.c_str(), setting, &data, sizeof data)
                             : nullptr;
    return hashed ? hashed : "";
}

TEST(PasswordCheck, AnUnknownUserCostsAsMuchAsAWrongPasswordAndNoNulPasses) {
    WebConfig config;
    config.users["prom"] = HashOf("secret", 8);
    std::string error;
    const auto security = CEndpointSecurity::Create(config, &error);
    ASSERT_TRUE(security) << error;
    const auto t0 = CEndpointSecurity::Clock::now();
    EXPECT_EQ(security->Kept("prom", std::string("secret\0X", 8), t0), false) << "refused without bcrypt";
    EXPECT_EQ(security->Kept("nobody", "guess", t0), std::nullopt);
    // The fastest of five of each: a check the scheduler held back does not decide.
    auto fastest = [&](const std::string& user) {
        auto best = std::chrono::steady_clock::duration::max();
        for (int i = 0; i < 5; ++i) {
            const auto start = std::chrono::steady_clock::now();
            EXPECT_FALSE(security->Check(user, "guess" + std::to_string(i), t0));
            best = std::min(best, std::chrono::steady_clock::now() - start);
        }
        return best;
    };
    const auto known = fastest("prom");
    EXPECT_GT(fastest("nobody") * 4, known) << "an unknown user is answered as slowly as a known one";
    EXPECT_EQ(security->BcryptRuns(), 10u);
}

TEST(PasswordChecker, ChecksRunOffTheCallersThreadAndBeyondTheBoundAreRefusedAtOnce) {
    CPasswordChecker checker(/*workers=*/1, /*inFlight=*/2);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::mutex mutex;
    std::vector<bool> ran; // per job: run on another thread (true) or told of the stop (false)
    const auto caller = std::this_thread::get_id();
    std::atomic<int> started{0};
    auto job = [&](bool run) {
        started += run;
        if (run)
            released.wait();
        std::lock_guard<std::mutex> lock(mutex);
        ran.push_back(run && std::this_thread::get_id() != caller);
    };
    ASSERT_TRUE(checker.TryRun(job));
    ASSERT_TRUE(checker.TryRun(job));
    EXPECT_FALSE(checker.TryRun(job)) << "two in flight: the third is refused";
    ASSERT_TRUE(WaitUntil([&] { return started == 1; }));
    std::thread stopper([&] { checker.Stop(); }); // the running job ends, the waiting one is told
    EXPECT_TRUE(WaitUntil([&] { return std::lock_guard<std::mutex>(mutex), !ran.empty(); }));
    release.set_value();
    stopper.join();
    EXPECT_EQ(ran, (std::vector<bool>{false, true}));
    EXPECT_FALSE(checker.TryRun(job)) << "nothing is taken after the stop";
}

// Eight wrong passwords at once over loopback: four are taken by the checker, the others are answered
// at once that the endpoint is busy.
TEST(PasswordCheckOfTheEndpoint, BeyondTheChecksInFlightTheEndpointIsBusy) {
    WebConfig config;
    config.users["prom"] = HashOf("secret", 13); // half a second a check at least: all eight arrive meanwhile
    std::string error;
    CMetricsServer server([] { return std::string("up 1\n"); }, {},
                          CEndpointSecurity::Create(config, &error));
    ASSERT_TRUE(server.Start("127.0.0.1", 0, &error)) << error;
    const std::string command = "for i in 0 1 2 3 4 5 6 7; do curl -s -o /dev/null --max-time 20 -w "
                                "'%{http_code}%header{retry-after} ' -u prom:wrong$i http://127.0.0.1:" +
                                std::to_string(server.Port()) + "/metrics & done; wait";
    FILE* out = ::popen(command.c_str(), "r");
    ASSERT_TRUE(out);
    char buffer[256] = {};
    std::istringstream answers(std::string(buffer, std::fread(buffer, 1, sizeof buffer - 1, out)));
    ::pclose(out);
    std::map<std::string, int> count;
    for (std::string answer; answers >> answer;)
        ++count[answer];
    EXPECT_GE(count["401"], 4) << "four are checked";
    EXPECT_GE(count["5031"], 1) << "503 with Retry-After: 1 for the others, not waited for";
    EXPECT_EQ(count["401"] + count["5031"], 8);
}

} // namespace
} // namespace tessor::monitor

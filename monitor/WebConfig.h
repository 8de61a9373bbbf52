#pragma once

// The endpoint's web configuration file, in the format Prometheus exporters share for --web.config.file:
// tls_server_config (certificate, key, minimum and maximum TLS version, client certificates),
// http_server_config (extra response headers) and basic_auth_users (bcrypt hashes). Everything is read
// and checked here, certificates and hashes included, so that a file either yields a whole configuration
// or an error naming what is wrong: never an endpoint secured by half of it.

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tessor::monitor {

enum class ClientAuth {
    NoClientCert,
    RequestClientCert,
    RequireAnyClientCert,
    VerifyClientCertIfGiven,
    RequireAndVerifyClientCert,
};

enum class TlsVersion { Tls10, Tls11, Tls12, Tls13 };

struct TlsSettings {
    std::string certPem; // the certificate file's content, its chain included
    std::string keyPem;
    std::string clientCaPem; // empty: no client CA file
    ClientAuth clientAuth = ClientAuth::NoClientCert;
    TlsVersion minVersion = TlsVersion::Tls12;
    TlsVersion maxVersion = TlsVersion::Tls13;
};

struct WebConfig {
    std::optional<TlsSettings> tls; // none: plain HTTP
    std::vector<std::pair<std::string, std::string>> headers;
    std::map<std::string, std::string> users; // user name -> bcrypt hash; none: no authentication
};

// Parses the YAML text; file paths in it are taken relative to baseDir. Nothing, with *error set to one
// line naming the key and what is wrong, for anything else than a whole, usable configuration.
std::optional<WebConfig> ParseWebConfig(const std::string& yaml, const std::string& baseDir,
                                        std::string* error);

// Reads and parses the file; the error names the file.
std::optional<WebConfig> LoadWebConfig(const std::string& path, std::string* error);

// The highest bcrypt cost a file may give: a check at cost 12 takes a quarter of a second of a small
// machine's core already, and each step above doubles it. htpasswd makes 5 by default, 17 at most.
constexpr int kMaxBcryptCost = 12;

// The cost of a bcrypt hash; nothing for a text that is not one.
std::optional<int> BcryptCost(const std::string& hash);

// Whether the text is a bcrypt hash ($2a$, $2b$ or $2y$, a cost of 4 to 31) that this system can check.
bool IsBcryptHash(const std::string& hash);

// The GnuTLS priority string of the version range.
std::string TlsPriorities(TlsVersion min, TlsVersion max);

} // namespace tessor::monitor

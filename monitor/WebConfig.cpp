#include "monitor/WebConfig.h"

#include "files/PlainFile.h"

#include <crypt.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <set>

namespace tessor::monitor {

namespace {

// Response headers a file may add, and the values some of them are limited to (none listed: any value),
// as the exporters allow them.
const std::vector<std::pair<std::string, std::vector<std::string>>> kHeaders{
    {"Strict-Transport-Security", {}},
    {"X-Content-Type-Options", {"nosniff"}},
    {"X-Frame-Options", {"deny", "sameorigin"}},
    {"X-XSS-Protection", {}},
    {"Content-Security-Policy", {}},
};

const std::vector<std::pair<std::string, ClientAuth>> kClientAuth{
    {"NoClientCert", ClientAuth::NoClientCert},
    {"RequestClientCert", ClientAuth::RequestClientCert},
    {"RequireAnyClientCert", ClientAuth::RequireAnyClientCert},
    {"VerifyClientCertIfGiven", ClientAuth::VerifyClientCertIfGiven},
    {"RequireAndVerifyClientCert", ClientAuth::RequireAndVerifyClientCert},
};

const std::vector<std::pair<std::string, TlsVersion>> kVersions{
    {"TLS10", TlsVersion::Tls10},
    {"TLS11", TlsVersion::Tls11},
    {"TLS12", TlsVersion::Tls12},
    {"TLS13", TlsVersion::Tls13},
};

// Thrown within this file only: the message is the error the parse returns.
struct ConfigError {
    std::string message;
};

[[noreturn]] void Fail(const std::string& message) {
    throw ConfigError{message};
}

std::string Where(const YAML::Node& node) {
    const YAML::Mark mark = node.Mark();
    return mark.is_null() ? std::string() : " (line " + std::to_string(mark.line + 1) + ")";
}

// The keys of a mapping, each once, each among the known ones.
void CheckKeys(const YAML::Node& map, const std::string& section, const std::set<std::string>& known) {
    if (!map.IsMap())
        Fail(section + ": expected a mapping" + Where(map));
    std::set<std::string> seen;
    for (const auto& entry : map) {
        const std::string key = entry.first.as<std::string>();
        if (!known.count(key))
            Fail("unknown key " + (section.empty() ? "" : section + ".") + key + Where(entry.first));
        if (!seen.insert(key).second)
            Fail("key " + (section.empty() ? "" : section + ".") + key + " given twice" + Where(entry.first));
    }
}

std::string Text(const YAML::Node& node, const std::string& key) {
    if (!node.IsScalar())
        Fail(key + ": expected a string" + Where(node));
    return node.as<std::string>();
}

template <class T>
T Choice(const YAML::Node& node, const std::string& key,
         const std::vector<std::pair<std::string, T>>& choices) {
    const std::string value = Text(node, key);
    for (const auto& c : choices) {
        if (c.first == value)
            return c.second;
    }
    std::string names;
    for (const auto& c : choices)
        names += (names.empty() ? "" : ", ") + c.first;
    Fail(key + ": " + value + " is none of " + names + Where(node));
}

// Through the tool's one reader of small files: a pipe or a device in a certificate's place is refused
// without waiting for it.
std::string ReadSmallFile(const std::string& path, const std::string& key) {
    std::string content;
    int error = 0;
    if (!ReadSmallPlainFile(path, &content, &error))
        Fail(key + ": cannot read " + path + ": " + PlainFileErrorText(error));
    return content;
}

// A path may begin with ${CREDENTIALS_DIRECTORY}: the folder where systemd puts the credentials of the
// unit (LoadCredential=), readable by the service alone, whatever the files' owners in /etc.
std::string Resolve(const std::string& baseDir, const std::string& path, const std::string& key) {
    static const std::string kCredentials = "${CREDENTIALS_DIRECTORY}";
    if (path.compare(0, kCredentials.size(), kCredentials) == 0) {
        const char* dir = std::getenv("CREDENTIALS_DIRECTORY");
        if (!dir || !*dir)
            Fail(key + ": " + path +
                 " names ${CREDENTIALS_DIRECTORY}, but the monitor was not given credentials: start it "
                 "from its systemd unit, whose LoadCredential= names the file, or give the file's path");
        return dir + path.substr(kCredentials.size());
    }
    if (path.empty() || path.front() == '/' || baseDir.empty())
        return path;
    return baseDir + "/" + path;
}

gnutls_datum_t Datum(const std::string& text) {
    return gnutls_datum_t{reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())),
                          static_cast<unsigned>(text.size())};
}

// The certificate and key must load as a pair, the CA file hold at least one certificate: checked now so
// that the endpoint never starts with what would fail at the first handshake.
void CheckCredentials(const TlsSettings& tls, const std::string& certFile, const std::string& caFile) {
    gnutls_certificate_credentials_t raw = nullptr;
    if (gnutls_certificate_allocate_credentials(&raw) != GNUTLS_E_SUCCESS)
        Fail("tls_server_config: no memory for the certificate");
    std::unique_ptr<std::remove_pointer_t<gnutls_certificate_credentials_t>,
                    void (*)(gnutls_certificate_credentials_t)>
        credentials(raw, gnutls_certificate_free_credentials);
    const gnutls_datum_t cert = Datum(tls.certPem);
    const gnutls_datum_t key = Datum(tls.keyPem);
    const int loaded = gnutls_certificate_set_x509_key_mem(raw, &cert, &key, GNUTLS_X509_FMT_PEM);
    if (loaded < 0)
        Fail("tls_server_config: the certificate " + certFile +
             " and its key do not load as a pair: " + gnutls_strerror(loaded));
    if (!caFile.empty()) {
        const gnutls_datum_t ca = Datum(tls.clientCaPem);
        if (gnutls_certificate_set_x509_trust_mem(raw, &ca, GNUTLS_X509_FMT_PEM) <= 0)
            Fail("tls_server_config.client_ca_file: no PEM certificate in " + caFile);
    }
}

TlsSettings ParseTls(const YAML::Node& node, const std::string& baseDir) {
    CheckKeys(node, "tls_server_config",
              {"cert_file", "key_file", "client_auth_type", "client_ca_file", "min_version", "max_version"});
    TlsSettings tls;
    const std::string certFile = node["cert_file"] ? Text(node["cert_file"], "cert_file") : "";
    const std::string keyFile = node["key_file"] ? Text(node["key_file"], "key_file") : "";
    const std::string caFile = node["client_ca_file"] ? Text(node["client_ca_file"], "client_ca_file") : "";
    if (certFile.empty())
        Fail("tls_server_config: missing cert_file");
    if (keyFile.empty())
        Fail("tls_server_config: missing key_file");
    if (node["client_auth_type"])
        tls.clientAuth = Choice(node["client_auth_type"], "client_auth_type", kClientAuth);
    if (node["min_version"])
        tls.minVersion = Choice(node["min_version"], "min_version", kVersions);
    if (node["max_version"])
        tls.maxVersion = Choice(node["max_version"], "max_version", kVersions);
    if (tls.maxVersion < tls.minVersion)
        Fail("tls_server_config: max_version is below min_version");
    const bool verifies = tls.clientAuth == ClientAuth::VerifyClientCertIfGiven ||
                          tls.clientAuth == ClientAuth::RequireAndVerifyClientCert;
    if (!caFile.empty() && tls.clientAuth == ClientAuth::NoClientCert)
        Fail(
            "tls_server_config: client_ca_file is given but client_auth_type asks for no client certificate");
    if (caFile.empty() && verifies)
        Fail("tls_server_config: client_auth_type verifies client certificates but no client_ca_file is "
             "given");
    const std::string certPath = Resolve(baseDir, certFile, "tls_server_config.cert_file");
    const std::string keyPath = Resolve(baseDir, keyFile, "tls_server_config.key_file");
    const std::string caPath = Resolve(baseDir, caFile, "tls_server_config.client_ca_file");
    tls.certPem = ReadSmallFile(certPath, "tls_server_config.cert_file");
    tls.keyPem = ReadSmallFile(keyPath, "tls_server_config.key_file");
    if (!caFile.empty())
        tls.clientCaPem = ReadSmallFile(caPath, "tls_server_config.client_ca_file");
    CheckCredentials(tls, certPath, caPath);
    return tls;
}

std::vector<std::pair<std::string, std::string>> ParseHeaders(const YAML::Node& node) {
    std::set<std::string> known;
    for (const auto& h : kHeaders)
        known.insert(h.first);
    CheckKeys(node, "http_server_config.headers", known);
    std::vector<std::pair<std::string, std::string>> headers;
    for (const auto& entry : node) {
        const std::string name = entry.first.as<std::string>();
        const std::string value = Text(entry.second, name);
        // A control byte would cut the value short (a NUL) or end the header (CR, LF) where it stands.
        if (std::any_of(value.begin(), value.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }))
            Fail("http_server_config.headers." + name +
                 ": a control byte (such as a NUL, CR or LF) in the value" + Where(entry.second));
        const auto& allowed = std::find_if(kHeaders.begin(), kHeaders.end(), [&name](const auto& h) {
                                  return h.first == name;
                              })->second;
        if (!allowed.empty() && std::find(allowed.begin(), allowed.end(), value) == allowed.end())
            Fail("http_server_config.headers." + name + ": " + value + " is not an accepted value" +
                 Where(entry.second));
        headers.emplace_back(name, value);
    }
    return headers;
}

std::map<std::string, std::string> ParseUsers(const YAML::Node& node) {
    if (!node.IsMap())
        Fail("basic_auth_users: expected a mapping of user names to bcrypt hashes" + Where(node));
    std::map<std::string, std::string> users;
    for (const auto& entry : node) {
        const std::string user = Text(entry.first, "basic_auth_users");
        if (user.empty() || user.find(':') != std::string::npos)
            Fail("basic_auth_users: a user name must be non-empty and without ':'" + Where(entry.first));
        const std::string hash = Text(entry.second, "basic_auth_users." + user);
        if (!IsBcryptHash(hash))
            Fail("basic_auth_users." + user +
                 ": not a bcrypt hash ($2y$, $2b$ or $2a$; make one with htpasswd "
                 "-nBC 10 " +
                 user + ")" + Where(entry.second));
        if (BcryptCost(hash) > kMaxBcryptCost)
            Fail("basic_auth_users." + user + ": bcrypt cost " + std::to_string(*BcryptCost(hash)) +
                 " is above " + std::to_string(kMaxBcryptCost) +
                 ", the most taken: a check at cost 12 already takes a quarter of a second of a small "
                 "machine's core (0.8 s on a busy one) and each step above doubles it; make the hash again "
                 "with htpasswd -nBC 10 " +
                 user + Where(entry.second));
        if (!users.emplace(user, hash).second)
            Fail("basic_auth_users." + user + " given twice" + Where(entry.first));
    }
    return users;
}

WebConfig Parse(const std::string& yaml, const std::string& baseDir) {
    YAML::Node root;
    try {
        root = YAML::Load(yaml);
    } catch (const YAML::Exception& e) {
        Fail("not YAML: " + std::string(e.what()));
    }
    WebConfig config;
    if (root.IsNull())
        return config; // an empty file: plain HTTP without authentication, as the exporters read it
    CheckKeys(root, "", {"tls_server_config", "http_server_config", "basic_auth_users"});
    if (root["tls_server_config"] && !root["tls_server_config"].IsNull())
        config.tls = ParseTls(root["tls_server_config"], baseDir);
    if (const YAML::Node http = root["http_server_config"]; http && !http.IsNull()) {
        CheckKeys(http, "http_server_config", {"headers", "http2"});
        if (http["http2"] && !http["http2"].IsScalar())
            Fail("http_server_config.http2: expected true or false" + Where(http["http2"]));
        if (http["headers"] && !http["headers"].IsNull())
            config.headers = ParseHeaders(http["headers"]);
    }
    if (root["basic_auth_users"] && !root["basic_auth_users"].IsNull())
        config.users = ParseUsers(root["basic_auth_users"]);
    return config;
}

} // namespace

std::optional<int> BcryptCost(const std::string& hash) {
    if (!IsBcryptHash(hash))
        return std::nullopt;
    return (hash[4] - '0') * 10 + (hash[5] - '0');
}

bool IsBcryptHash(const std::string& hash) {
    // $2y$NN$ then 53 characters of bcrypt's base 64: 22 of salt, 31 of hash.
    static const std::string kAlphabet = "./ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    if (hash.size() != 60 || hash.compare(0, 2, "$2") != 0 || hash[3] != '$' || hash[6] != '$')
        return false;
    if (hash[2] != 'a' && hash[2] != 'b' && hash[2] != 'y')
        return false;
    if (!std::isdigit(static_cast<unsigned char>(hash[4])) ||
        !std::isdigit(static_cast<unsigned char>(hash[5])))
        return false;
    const int cost = (hash[4] - '0') * 10 + (hash[5] - '0');
    if (cost < 4 || cost > 31)
        return false;
    if (hash.find_first_not_of(kAlphabet, 7) != std::string::npos)
        return false;
    // The system's crypt must take it; asked without running bcrypt, whose cost may be high.
    return crypt_checksalt(hash.c_str()) == CRYPT_SALT_OK;
}

std::string TlsPriorities(TlsVersion min, TlsVersion max) {
    static const char* const kNames[] = {"+VERS-TLS1.0", "+VERS-TLS1.1", "+VERS-TLS1.2", "+VERS-TLS1.3"};
    std::string text = "NORMAL:-VERS-ALL";
    for (int v = static_cast<int>(max); v >= static_cast<int>(min); --v)
        text += std::string(":") + kNames[v];
    return text;
}

std::optional<WebConfig> ParseWebConfig(const std::string& yaml, const std::string& baseDir,
                                        std::string* error) {
    try {
        return Parse(yaml, baseDir);
    } catch (const ConfigError& e) {
        *error = e.message;
    } catch (const YAML::Exception& e) {
        *error = e.what();
    }
    return std::nullopt;
}

std::optional<WebConfig> LoadWebConfig(const std::string& path, std::string* error) {
    std::string text;
    try {
        text = ReadSmallFile(path, "web configuration");
    } catch (const ConfigError& e) {
        *error = e.message;
        return std::nullopt;
    }
    const auto slash = path.find_last_of('/');
    const std::string baseDir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    std::optional<WebConfig> config = ParseWebConfig(text, baseDir, error);
    if (!config)
        *error = path + ": " + *error;
    return config;
}

} // namespace tessor::monitor

// Keys, self-signed certificates and the host's list of trusted clients.
#ifdef _WIN32
#include <winsock2.h>  // gethostname; before OpenSSL's headers, which undo its X509_NAME
#endif
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "remote/remote.h"

namespace vistrel::remote {

namespace {

std::string Hex(const unsigned char* p, std::size_t n, bool colons) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        if (colons && i) s += ':';
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

bool MakeDirs(const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return std::filesystem::is_directory(dir, ec);
}

}  // namespace

std::string FingerprintOf(X509* cert) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (X509_digest(cert, EVP_sha256(), md, &n) != 1) return {};
    return Hex(md, n, true);
}

std::string CommonNameOf(X509* cert) {
    char cn[256] = {};
    X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, cn, sizeof cn - 1);
    return cn;
}

std::string ConfigDirectory() {
    if (const char* d = getenv("VISTREL_CONFIG_DIR"); d && *d) return d;
#ifdef _WIN32
    // The user's application-data folder, or the service account's for the service.
    if (const char* a = getenv("APPDATA"); a && *a) return std::string(a) + "\\vistrel";
#endif
    if (const char* x = getenv("XDG_CONFIG_HOME"); x && *x) return std::string(x) + "/vistrel";
    const char* home = getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/vistrel";
}

namespace {

bool LoadCert(const std::string& path, X509** out) {
    FILE* f = fopen(path.c_str(), "r");
    if (!f) return false;
    *out = PEM_read_X509(f, nullptr, nullptr, nullptr);
    fclose(f);
    return *out != nullptr;
}

bool Generate(const std::string& keyPath, const std::string& certPath, const std::string& role,
              std::string* error) {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    if (!key) {
        *error = "key generation failed";
        return false;
    }
    X509* cert = X509_new();
    unsigned char serial[16], tag[4];
    RAND_bytes(serial, sizeof serial);
    RAND_bytes(tag, sizeof tag);
    serial[0] &= 0x7F;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert));
    BN_free(bn);
    X509_set_version(cert, 2);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 60L * 60 * 24 * 365 * 30);
    X509_set_pubkey(cert, key);
    char host[128] = {};
    gethostname(host, sizeof host - 1);
#ifdef _WIN32
    const char* user = getenv("USERNAME");
#else
    const char* user = getenv("USER");
#endif
    // The random tag keeps two identities of one user on one computer apart.
    std::string cn = "vistrel-" + role + " " + (user ? std::string(user) + "@" : std::string()) + host + " " +
                     Hex(tag, sizeof tag, false);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(cn.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    if (X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, "DNS:vistrel-host")) {
        X509_add_ext(cert, ext, -1);
        X509_EXTENSION_free(ext);
    }
    bool ok = X509_sign(cert, key, EVP_sha256()) > 0;
    if (ok) {
#ifdef _WIN32
        // The application-data folder is the account's own: its access list keeps the key private.
        FILE* f = fopen(keyPath.c_str(), "wb");
        ok = f && PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
        if (f) fclose(f);
#else
        int fd = open(keyPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        FILE* f = fd >= 0 ? fdopen(fd, "w") : nullptr;
        ok = f && fchmod(fd, 0600) == 0 &&
             PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
        if (f)
            fclose(f);
        else if (fd >= 0)
            close(fd);
#endif
        if (!ok) *error = "cannot write " + keyPath;
    }
    if (ok) {
        FILE* f = fopen(certPath.c_str(), "w");
        ok = f && PEM_write_X509(f, cert) == 1;
        if (f) fclose(f);
        if (!ok) *error = "cannot write " + certPath;
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    return ok;
}

}  // namespace

bool EnsureIdentity(const std::string& dir, const std::string& role, Identity* out, std::string* error) {
    if (!MakeDirs(dir)) {
        *error = "cannot make the directory " + dir;
        return false;
    }
    chmod(dir.c_str(), 0700);
    out->keyPath = dir + "/" + role + ".key";
    out->certPath = dir + "/" + role + ".crt";
    struct stat st;
    if (stat(out->keyPath.c_str(), &st) != 0 || stat(out->certPath.c_str(), &st) != 0) {
        if (!Generate(out->keyPath, out->certPath, role, error)) return false;
    }
    X509* cert = nullptr;
    if (!LoadCert(out->certPath, &cert)) {
        *error = "cannot read the certificate " + out->certPath;
        return false;
    }
    out->fingerprint = FingerprintOf(cert);
    out->commonName = CommonNameOf(cert);
    X509_free(cert);
    return true;
}

bool CertificateFingerprint(const std::string& certPath, std::string* fingerprint, std::string* error) {
    X509* cert = nullptr;
    if (!LoadCert(certPath, &cert)) {
        *error = "cannot read a PEM certificate from " + certPath;
        return false;
    }
    *fingerprint = FingerprintOf(cert);
    X509_free(cert);
    return true;
}

// ---- The trust list ----

namespace {

std::string TrustPath(const std::string& dir) {
    return dir + "/trusted-clients";
}

// "ab:CD..." or "abcd..." as "AB:CD:..."; empty when it is not a SHA-256 fingerprint.
std::string NormaliseFingerprint(const std::string& s) {
    std::string hex;
    for (char c : s) {
        if (c == ':') continue;
        if (!isxdigit(static_cast<unsigned char>(c))) return {};
        hex += static_cast<char>(toupper(static_cast<unsigned char>(c)));
    }
    if (hex.size() != 64) return {};
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        if (i) out += ':';
        out += hex.substr(i, 2);
    }
    return out;
}

bool WriteList(const std::string& dir, const std::vector<TrustedClient>& list, std::string* error) {
    if (!MakeDirs(dir)) {
        *error = "cannot make the directory " + dir;
        return false;
    }
    std::string tmp = TrustPath(dir) + ".new";
    {
        std::ofstream f(tmp, std::ios::trunc);
        f << "# Clients this host serves: SHA-256 certificate fingerprint, then a name.\n";
        for (const auto& c : list) {
            f << c.fingerprint;
            for (std::size_t i = 0; i < c.only.size(); ++i) f << (i ? "," : " only=") << c.only[i];
            f << ' ' << c.name << '\n';
        }
        if (!f) {
            *error = "cannot write " + tmp;
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(tmp, TrustPath(dir), ec);  // replaces the old list on Windows too
    if (ec) {
        *error = "cannot replace " + TrustPath(dir);
        return false;
    }
    return true;
}

}  // namespace

std::vector<TrustedClient> ListTrusted(const std::string& dir) {
    std::vector<TrustedClient> list;
    std::ifstream f(TrustPath(dir));
    std::string line;
    while (std::getline(f, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::size_t sp = line.find(' ');
        TrustedClient c;
        c.fingerprint = NormaliseFingerprint(line.substr(0, sp));
        if (c.fingerprint.empty()) continue;
        c.name = sp == std::string::npos ? std::string() : line.substr(sp + 1);
        if (c.name.rfind("only=", 0) == 0) {
            std::size_t end = c.name.find(' ');
            std::stringstream classes(
                c.name.substr(5, end == std::string::npos ? std::string::npos : end - 5));
            for (std::string id; std::getline(classes, id, ',');)
                if (!id.empty()) c.only.push_back(id);
            c.name = end == std::string::npos ? std::string() : c.name.substr(end + 1);
        }
        list.push_back(c);
    }
    return list;
}

bool Trust(const std::string& dir, const std::string& fileOrFingerprint, std::string* error,
           const std::vector<std::string>& only) {
    for (const auto& id : only)
        if (id.empty() || id.find_first_of(", \t\r\n") != std::string::npos) {
            *error = "'" + id + "' is not a ProgID";
            return false;
        }
    TrustedClient c;
    c.only = only;
    struct stat st;
    if (stat(fileOrFingerprint.c_str(), &st) == 0) {
        X509* cert = nullptr;
        if (!LoadCert(fileOrFingerprint, &cert)) {
            *error = "cannot read a PEM certificate from " + fileOrFingerprint;
            return false;
        }
        c.fingerprint = FingerprintOf(cert);
        c.name = CommonNameOf(cert);
        X509_free(cert);
    } else {
        c.fingerprint = NormaliseFingerprint(fileOrFingerprint);
        if (c.fingerprint.empty()) {
            *error = "'" + fileOrFingerprint + "' is neither a certificate file nor a SHA-256 fingerprint";
            return false;
        }
    }
    auto list = ListTrusted(dir);
    for (auto& t : list)
        if (t.fingerprint == c.fingerprint) {
            t.only = c.only;
            if (t.name.empty()) t.name = c.name;
            return WriteList(dir, list, error);
        }
    list.push_back(c);
    return WriteList(dir, list, error);
}

bool Untrust(const std::string& dir, const std::string& fingerprint, std::string* error) {
    std::string fp = NormaliseFingerprint(fingerprint);
    auto list = ListTrusted(dir);
    std::size_t before = list.size();
    std::erase_if(list, [&](const TrustedClient& c) { return c.fingerprint == fp; });
    if (list.size() == before) {
        *error = "no trusted client has the fingerprint " + fingerprint;
        return false;
    }
    return WriteList(dir, list, error);
}

}  // namespace vistrel::remote

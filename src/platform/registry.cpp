#include "platform/registry.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/byte_order.h"

namespace fv {

namespace {

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && ::strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// "\A\\B\" -> "A\B"
std::string NormaliseKey(const std::string& key) {
    std::string out;
    for (char c : key) {
        if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == '\\') out.pop_back();
    return out;
}

bool IsBelow(const std::string& parent, const std::string& path) {
    if (parent.empty()) return !path.empty();
    return path.size() > parent.size() && path[parent.size()] == '\\' &&
           ::strncasecmp(path.c_str(), parent.c_str(), parent.size()) == 0;
}

void MakeFolders(const std::string& folder) {
    std::string cur;
    size_t pos = 0;
    while (pos != std::string::npos) {
        size_t next = folder.find('/', pos + 1);
        cur = folder.substr(0, next);
        if (!cur.empty()) ::mkdir(cur.c_str(), 0700);
        pos = next;
    }
}

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Quote(const std::string& s) {
    static const char* digits = "0123456789abcdef";
    std::string q = "\"";
    for (unsigned char c : s) {
        switch (c) {
            case '\\': q += "\\\\"; break;
            case '"': q += "\\\""; break;
            case '\n': q += "\\n"; break;
            case '\r': q += "\\r"; break;
            case '\t': q += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    q += "\\x";
                    q += digits[c >> 4];
                    q += digits[c & 15];
                } else {
                    q += static_cast<char>(c);
                }
        }
    }
    return q + "\"";
}

// parses a quoted text starting at pos; pos ends after the closing quote
bool Unquote(const std::string& line, size_t& pos, std::string& out) {
    if (pos >= line.size() || line[pos] != '"') return false;
    ++pos;
    out.clear();
    while (pos < line.size()) {
        char c = line[pos++];
        if (c == '"') return true;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos >= line.size()) return false;
        char e = line[pos++];
        switch (e) {
            case '\\': out += '\\'; break;
            case '"': out += '"'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'x': {
                if (pos + 1 >= line.size()) return false;
                int h = Hex(line[pos]), l = Hex(line[pos + 1]);
                if (h < 0 || l < 0) return false;
                out += static_cast<char>(h * 16 + l);
                pos += 2;
                break;
            }
            default: return false;
        }
    }
    return false;
}

[[noreturn]] void Damaged(int line, const char* why) {
    throw ERegistryException(Format("line %d: %s", line, why));
}

}  // namespace

std::vector<TRegistryKeyData> ParseRegistryText(const std::string& text) {
    std::vector<TRegistryKeyData> keys;
    std::istringstream in(text);
    std::string line;
    int no = 0;
    TRegistryKeyData* cur = nullptr;
    while (std::getline(in, line)) {
        ++no;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            if (line.back() != ']' || line.size() < 2) Damaged(no, "unterminated key name");
            std::string path = NormaliseKey(line.substr(1, line.size() - 2));
            cur = nullptr;
            for (auto& k : keys)
                if (SameName(k.Path, path)) cur = &k;
            if (!cur) {
                keys.push_back({path, {}});
                cur = &keys.back();
            }
            continue;
        }
        if (!cur) Damaged(no, "value outside of a key");
        TRegValue v;
        size_t pos = 0;
        if (!Unquote(line, pos, v.Name)) Damaged(no, "bad value name");
        if (pos >= line.size() || line[pos] != '=') Damaged(no, "missing '='");
        ++pos;
        std::string rest = line.substr(pos);
        if (rest.rfind("dword:", 0) == 0) {
            std::string digits = rest.substr(6);
            if (digits.empty() || digits.size() > 8) Damaged(no, "bad dword");
            uint32_t u = 0;
            for (char c : digits) {
                int h = Hex(c);
                if (h < 0) Damaged(no, "bad dword");
                u = u * 16 + static_cast<uint32_t>(h);
            }
            v.Type = TRegDataType::rdInteger;
            v.Int = static_cast<int32_t>(u);
        } else if (rest.rfind("hex:", 0) == 0) {
            v.Type = TRegDataType::rdBinary;
            std::string h = rest.substr(4);
            size_t i = 0;
            while (i < h.size()) {
                if (i + 1 >= h.size()) Damaged(no, "bad hex");
                int a = Hex(h[i]), b = Hex(h[i + 1]);
                if (a < 0 || b < 0) Damaged(no, "bad hex");
                v.Bytes += static_cast<char>(a * 16 + b);
                i += 2;
                if (i < h.size()) {
                    if (h[i] != ',' || i + 1 == h.size()) Damaged(no, "bad hex");
                    ++i;
                }
            }
        } else if (rest.rfind("sz:", 0) == 0) {
            v.Type = TRegDataType::rdString;
            size_t p = 3;
            if (!Unquote(rest, p, v.Bytes) || p != rest.size()) Damaged(no, "bad string");
        } else {
            Damaged(no, "unknown value type");
        }
        bool replaced = false;
        for (auto& old : cur->Values)
            if (SameName(old.Name, v.Name)) {
                old = v;
                replaced = true;
            }
        if (!replaced) cur->Values.push_back(std::move(v));
    }
    return keys;
}

std::string FormatRegistryText(const std::vector<TRegistryKeyData>& keys) {
    static const char* digits = "0123456789abcdef";
    std::string out = "; per-user settings of the Kestrona programs\n";
    for (const auto& k : keys) {
        out += "\n[" + k.Path + "]\n";
        for (const auto& v : k.Values) {
            out += Quote(v.Name) + "=";
            switch (v.Type) {
                case TRegDataType::rdInteger: out += Format("dword:%08x", static_cast<uint32_t>(v.Int)); break;
                case TRegDataType::rdString: out += "sz:" + Quote(v.Bytes); break;
                default: {
                    out += "hex:";
                    for (size_t i = 0; i < v.Bytes.size(); ++i) {
                        unsigned char c = static_cast<unsigned char>(v.Bytes[i]);
                        if (i) out += ',';
                        out += digits[c >> 4];
                        out += digits[c & 15];
                    }
                }
            }
            out += "\n";
        }
    }
    return out;
}

std::string DefaultRegistryFileName() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && *xdg == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && *home ? home : "/tmp") + "/.config";
    }
    return base + "/Kestrona/registry.ini";
}

class TRegistryFile {
public:
    explicit TRegistryFile(std::string name) : FName(std::move(name)) {}

    std::mutex Lock;
    std::vector<TRegistryKeyData> Keys;
    bool Dirty = false;

    // the file is the truth: read it again unless our own changes are pending
    void Refresh() {
        if (Dirty) return;
        struct stat st {};
        bool exists = ::stat(FName.c_str(), &st) == 0;
        Keys.clear();
        if (!exists) return;
        std::string text;
        int fd = ::open(FName.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) throw ERegistryException(Format("Cannot read the registry file %s (%s)", FName.c_str(), std::strerror(errno)));
        char buf[65536];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0) {
            text.append(buf, static_cast<size_t>(n));
            if (text.size() > (64u << 20)) break;  // no settings file is that large
        }
        ::close(fd);
        try {
            if (text.size() > (64u << 20)) throw ERegistryException("file too large");
            if (text.find('\0') != std::string::npos) throw ERegistryException("binary data in a text file");
            Keys = ParseRegistryText(text);
        } catch (const ERegistryException& e) {
            // left where it is: only the one who shows the error to the user moves it aside
            Keys.clear();
            throw ERegistryDamagedError(
                Format("The registry file %s is damaged (%s)", FName.c_str(), e.Message().c_str()));
        }
    }

    void Save() {
        if (!Dirty) return;
        size_t slash = FName.find_last_of('/');
        if (slash != std::string::npos && slash > 0) MakeFolders(FName.substr(0, slash));
        std::string tmp = FName + Format(".tmp%d", static_cast<int>(::getpid()));
        std::string text = FormatRegistryText(Keys);
        int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) throw ERegistryException(Format("Cannot write the registry file %s (%s)", tmp.c_str(), std::strerror(errno)));
        size_t done = 0;
        while (done < text.size()) {
            ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                int err = errno;
                ::close(fd);
                ::unlink(tmp.c_str());
                throw ERegistryException(Format("Cannot write the registry file %s (%s)", tmp.c_str(), std::strerror(err)));
            }
            done += static_cast<size_t>(n);
        }
        bool ok = ::fsync(fd) == 0;
        ok = ::close(fd) == 0 && ok;
        if (!ok || ::rename(tmp.c_str(), FName.c_str()) != 0) {
            int err = errno;
            ::unlink(tmp.c_str());
            throw ERegistryException(Format("Cannot replace the registry file %s (%s)", FName.c_str(), std::strerror(err)));
        }
        Dirty = false;
    }

    std::string SetAsideLocked() {
        Keys.clear();
        Dirty = false;
        struct stat st {};
        if (::stat(FName.c_str(), &st) != 0) return {};
        std::string aside = FName + ".bad";
        for (int i = 2; ::access(aside.c_str(), F_OK) == 0 && i < 1000; ++i) aside = FName + Format(".bad%d", i);
        if (::rename(FName.c_str(), aside.c_str()) != 0) return {};
        return aside;
    }

    TRegistryKeyData* FindKey(const std::string& path) {
        for (auto& k : Keys)
            if (SameName(k.Path, path)) return &k;
        return nullptr;
    }

    bool Exists(const std::string& path) {
        if (path.empty()) return true;
        for (auto& k : Keys)
            if (SameName(k.Path, path) || IsBelow(path, k.Path)) return true;
        return false;
    }

    TRegistryKeyData& Create(const std::string& path) {
        if (auto* k = FindKey(path)) return *k;
        Keys.push_back({path, {}});
        Dirty = true;
        return Keys.back();
    }

private:
    std::string FName;
};

namespace {
std::mutex gFilesLock;
std::map<std::string, std::shared_ptr<TRegistryFile>>& Files() {
    static std::map<std::string, std::shared_ptr<TRegistryFile>> files;
    return files;
}
std::shared_ptr<TRegistryFile> FileFor(const std::string& name) {
    std::lock_guard<std::mutex> g(gFilesLock);
    auto& f = Files()[name];
    if (!f) f = std::make_shared<TRegistryFile>(name);
    return f;
}
}  // namespace

std::string KeepRegistryFileAside(const std::string& fileName) {
    auto f = FileFor(fileName);
    std::lock_guard<std::mutex> g(f->Lock);
    return f->SetAsideLocked();
}

TRegistry::TRegistry() : TRegistry(DefaultRegistryFileName()) {}

TRegistry::TRegistry(const std::string& fileName) : FFile(FileFor(fileName)) {}

TRegistry::~TRegistry() {
    try {
        CloseKey();
    } catch (...) {
    }
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
    CloseKey();
    std::string path = NormaliseKey(key);
    std::lock_guard<std::mutex> g(FFile->Lock);
    FFile->Refresh();
    if (!FFile->Exists(path)) {
        if (!canCreate) return false;
        FFile->Create(path);
    }
    FCurrentPath = path;
    FOpen = true;
    FReadOnly = false;
    return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
    bool ok = OpenKey(key, false);
    FReadOnly = ok;
    return ok;
}

bool TRegistry::KeyExists(const std::string& key) {
    std::lock_guard<std::mutex> g(FFile->Lock);
    FFile->Refresh();
    return FFile->Exists(NormaliseKey(key));
}

bool TRegistry::CreateKey(const std::string& key) {
    {
        std::lock_guard<std::mutex> g(FFile->Lock);
        FFile->Refresh();
        FFile->Create(NormaliseKey(key));
    }
    if (!FOpen) {
        std::lock_guard<std::mutex> g(FFile->Lock);
        FFile->Save();
    }
    return true;
}

bool TRegistry::DeleteKey(const std::string& key) {
    std::string path = NormaliseKey(key);
    std::lock_guard<std::mutex> g(FFile->Lock);
    FFile->Refresh();
    if (path.empty() || !FFile->Exists(path)) return false;
    auto& keys = FFile->Keys;
    for (size_t i = keys.size(); i-- > 0;)
        if (SameName(keys[i].Path, path) || IsBelow(path, keys[i].Path)) keys.erase(keys.begin() + static_cast<long>(i));
    FFile->Dirty = true;
    if (!FOpen) FFile->Save();
    return true;
}

void TRegistry::CloseKey() {
    if (!FOpen) return;
    FOpen = false;
    FCurrentPath.clear();
    std::lock_guard<std::mutex> g(FFile->Lock);
    FFile->Save();
}

void TRegistry::RequireOpen() const {
    if (!FOpen) throw ERegistryException("No registry key is open");
}

void TRegistry::RequireWritable() const {
    RequireOpen();
    if (FReadOnly) throw ERegistryException(Format("The key %s is open read-only", FCurrentPath.c_str()));
}

// callers hold the file lock
const TRegValue* TRegistry::Find(const std::string& name) {
    if (!FOpen) return nullptr;
    TRegistryKeyData* k = FFile->FindKey(FCurrentPath);
    if (!k) return nullptr;
    for (const auto& v : k->Values)
        if (SameName(v.Name, name)) return &v;
    return nullptr;
}

bool TRegistry::ValueExists(const std::string& name) {
    std::lock_guard<std::mutex> g(FFile->Lock);
    return Find(name) != nullptr;
}

TRegDataType TRegistry::GetDataType(const std::string& name) {
    std::lock_guard<std::mutex> g(FFile->Lock);
    const TRegValue* v = Find(name);
    return v ? v->Type : TRegDataType::rdUnknown;
}

int TRegistry::GetDataSize(const std::string& name) {
    std::lock_guard<std::mutex> g(FFile->Lock);
    const TRegValue* v = Find(name);
    if (!v) return -1;
    if (v->Type == TRegDataType::rdInteger) return 4;
    if (v->Type == TRegDataType::rdString) return static_cast<int>(v->Bytes.size()) + 1;
    return static_cast<int>(v->Bytes.size());
}

std::vector<std::string> TRegistry::GetValueNames() {
    std::lock_guard<std::mutex> g(FFile->Lock);
    std::vector<std::string> names;
    if (!FOpen) return names;
    if (TRegistryKeyData* k = FFile->FindKey(FCurrentPath))
        for (const auto& v : k->Values) names.push_back(v.Name);
    return names;
}

std::vector<std::string> TRegistry::GetKeyNames() {
    std::lock_guard<std::mutex> g(FFile->Lock);
    std::vector<std::string> names;
    if (!FOpen) return names;
    for (const auto& k : FFile->Keys) {
        if (!IsBelow(FCurrentPath, k.Path)) continue;
        std::string rest = k.Path.substr(FCurrentPath.empty() ? 0 : FCurrentPath.size() + 1);
        std::string child = rest.substr(0, rest.find('\\'));
        bool seen = false;
        for (const auto& n : names) seen = seen || SameName(n, child);
        if (!seen) names.push_back(child);
    }
    return names;
}

bool TRegistry::DeleteValue(const std::string& name) {
    RequireWritable();
    std::lock_guard<std::mutex> g(FFile->Lock);
    TRegistryKeyData* k = FFile->FindKey(FCurrentPath);
    if (!k) return false;
    for (size_t i = 0; i < k->Values.size(); ++i) {
        if (SameName(k->Values[i].Name, name)) {
            k->Values.erase(k->Values.begin() + static_cast<long>(i));
            FFile->Dirty = true;
            return true;
        }
    }
    return false;
}

int32_t TRegistry::ReadInteger(const std::string& name) {
    std::lock_guard<std::mutex> g(FFile->Lock);
    const TRegValue* v = Find(name);
    if (!v || v->Type != TRegDataType::rdInteger)
        throw ERegistryException(Format("Invalid data type for '%s'", name.c_str()));
    return v->Int;
}

std::string TRegistry::ReadString(const std::string& name) {
    std::lock_guard<std::mutex> g(FFile->Lock);
    const TRegValue* v = Find(name);
    if (!v) return {};
    if (v->Type != TRegDataType::rdString) throw ERegistryException(Format("Invalid data type for '%s'", name.c_str()));
    return v->Bytes;
}

int TRegistry::ReadBinaryData(const std::string& name, void* buffer, int bufSize) {
    std::lock_guard<std::mutex> g(FFile->Lock);
    const TRegValue* v = Find(name);
    if (!v || v->Type != TRegDataType::rdBinary || bufSize < 0 || v->Bytes.size() > static_cast<size_t>(bufSize))
        throw ERegistryException(Format("Invalid data type for '%s'", name.c_str()));
    if (!v->Bytes.empty()) std::memcpy(buffer, v->Bytes.data(), v->Bytes.size());
    return static_cast<int>(v->Bytes.size());
}

double TRegistry::ReadFloat(const std::string& name) {
    uint8_t b[8];
    if (ReadBinaryData(name, b, 8) != 8) throw ERegistryException(Format("Invalid data type for '%s'", name.c_str()));
    uint64_t u = GetU64(b);
    double d;
    std::memcpy(&d, &u, 8);
    return d;
}

namespace {
// Stores a value; answers false when the key already held exactly this value (name, type and
// data), so that writing back settings that did not change leaves the file alone.
bool Put(TRegistryKeyData& k, TRegValue v) {
    for (auto& old : k.Values)
        if (SameName(old.Name, v.Name)) {
            if (old.Name == v.Name && old.Type == v.Type && old.Int == v.Int && old.Bytes == v.Bytes) return false;
            old = std::move(v);
            return true;
        }
    k.Values.push_back(std::move(v));
    return true;
}
}  // namespace

void TRegistry::WriteInteger(const std::string& name, int32_t value) {
    RequireWritable();
    std::lock_guard<std::mutex> g(FFile->Lock);
    TRegValue v{name, TRegDataType::rdInteger, value, {}};
    if (Put(FFile->Create(FCurrentPath), std::move(v))) FFile->Dirty = true;
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
    RequireWritable();
    std::lock_guard<std::mutex> g(FFile->Lock);
    TRegValue v{name, TRegDataType::rdString, 0, value};
    if (Put(FFile->Create(FCurrentPath), std::move(v))) FFile->Dirty = true;
}

void TRegistry::WriteBinaryData(const std::string& name, const void* buffer, int size) {
    RequireWritable();
    if (size < 0) throw ERegistryException(Format("Invalid data size for '%s'", name.c_str()));
    std::lock_guard<std::mutex> g(FFile->Lock);
    TRegValue v{name, TRegDataType::rdBinary, 0, std::string(static_cast<const char*>(buffer), static_cast<size_t>(size))};
    if (Put(FFile->Create(FCurrentPath), std::move(v))) FFile->Dirty = true;
}

void TRegistry::WriteFloat(const std::string& name, double value) {
    uint64_t u;
    std::memcpy(&u, &value, 8);
    uint8_t b[8];
    PutU64(b, u);
    WriteBinaryData(name, b, 8);
}

}  // namespace fv

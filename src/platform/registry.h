#pragma once
// The per-user settings store: keys named like "SOFTWARE\Kestrona\FolvaneBrowser\Config"
// holding typed values (32-bit integer, binary, string) and subkeys, kept in one
// human-readable file ($XDG_CONFIG_HOME/Kestrona/registry.ini) that is rewritten atomically.
// Reading a value with another type raises ERegistryException; values are never converted silently.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/exception.h"

namespace fv {

FV_DECLARE_EXCEPTION(ERegistryException, Exception);
// the store file could not be read back; it stays untouched (nothing is written over it)
// until KeepRegistryFileAside moves it away
FV_DECLARE_EXCEPTION(ERegistryDamagedError, ERegistryException);

enum class TRegDataType { rdUnknown, rdString, rdInteger, rdBinary };

struct TRegValue {
    std::string Name;
    TRegDataType Type = TRegDataType::rdUnknown;
    int32_t Int = 0;
    std::string Bytes;  // string text or binary bytes
};

// $XDG_CONFIG_HOME/Kestrona/registry.ini (~/.config when unset)
std::string DefaultRegistryFileName();

// One store file shared by every TRegistry of the process that names it.
class TRegistryFile;

class TRegistry {
public:
    TRegistry();                                // the user's store
    explicit TRegistry(const std::string& fileName);
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    // Key paths are relative to the current-user root; "\" separates the levels and
    // names compare without regard to ASCII case. Raises ERegistryDamagedError for a damaged file.
    bool OpenKey(const std::string& key, bool canCreate);
    bool OpenKeyReadOnly(const std::string& key);
    bool KeyExists(const std::string& key);
    bool CreateKey(const std::string& key);
    bool DeleteKey(const std::string& key);  // with all its subkeys
    // writes the store when something changed (also done by the destructor, errors swallowed there)
    void CloseKey();
    const std::string& CurrentPath() const { return FCurrentPath; }

    bool ValueExists(const std::string& name);
    TRegDataType GetDataType(const std::string& name);
    int GetDataSize(const std::string& name);  // -1 when missing
    std::vector<std::string> GetValueNames();   // in insertion order
    std::vector<std::string> GetKeyNames();     // direct subkeys
    bool DeleteValue(const std::string& name);

    // "Invalid data type for '%s'" when missing or of another type
    int32_t ReadInteger(const std::string& name);
    bool ReadBool(const std::string& name) { return ReadInteger(name) != 0; }
    std::string ReadString(const std::string& name);
    // bytes read; raises when the value is larger than the buffer or not binary
    int ReadBinaryData(const std::string& name, void* buffer, int bufSize);
    double ReadFloat(const std::string& name);  // 8 binary bytes

    void WriteInteger(const std::string& name, int32_t v);
    void WriteBool(const std::string& name, bool v) { WriteInteger(name, v ? 1 : 0); }
    void WriteString(const std::string& name, const std::string& v);
    void WriteBinaryData(const std::string& name, const void* buffer, int size);
    void WriteFloat(const std::string& name, double v);

private:
    const TRegValue* Find(const std::string& name);
    void RequireOpen() const;
    void RequireWritable() const;

    std::shared_ptr<TRegistryFile> FFile;
    std::string FCurrentPath;
    bool FOpen = false;
    bool FReadOnly = false;
};

// Moves the store file aside as "<file>.bad" (a free name is chosen) and forgets its contents;
// returns the name it was kept under, empty when there was no file.
std::string KeepRegistryFileAside(const std::string& fileName);

// Text form of the store, exposed for tests: parse raises ERegistryException with the line number.
struct TRegistryKeyData {
    std::string Path;
    std::vector<TRegValue> Values;
};
std::vector<TRegistryKeyData> ParseRegistryText(const std::string& text);
std::string FormatRegistryText(const std::vector<TRegistryKeyData>& keys);

}  // namespace fv

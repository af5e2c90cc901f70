// libFuzzer target: the encrypted container reader. Even inputs are read as container files as they
// are; odd inputs carry a content that is first written as a container and must read back unchanged,
// so the decrypting path is covered beyond the header checks too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/stream.h"
#include "service/file_encryption.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fv;
    if (size == 0) return 0;
    const std::string key = "fuzz@host-user";
    std::string tag;
    TMemoryStream dest;
    if ((data[0] & 1) == 0) {
        TBytesStream file(data, size);
        try {
            LoadEncryptedStream(file, key, &dest, tag);
        } catch (const EReadError&) {
        } catch (const ECryptError&) {
        }
        return 0;
    }
    TBytesStream content(data + 1, size - 1);
    TMemoryStream encrypted;
    EncryptStreamWithKey(content, encrypted, key);
    TMemoryStream file;
    TEncryptedFileHeader h;
    h.Signature = kEncryptedFileSignature;
    h.Version = kEncryptedFileVersion;
    h.ContentLength = encrypted.Size();
    h.ContentTag = "XML";
    WriteEncryptedFileHeader(file, h);
    file.WriteBuffer(encrypted.Data().data(), encrypted.Size());
    file.SetPosition(0);
    if (!LoadEncryptedStream(file, key, &dest, tag) || tag != "XML" ||
        dest.Data() != std::vector<uint8_t>(data + 1, data + size))
        std::abort();
    return 0;
}

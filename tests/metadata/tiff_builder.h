#pragma once
// Builds small TIFF structures and JPEG files in memory for the metadata reader tests:
// directories in either byte order with inline or out-of-line values, chained IFDs,
// and JPEG files with chosen segments.
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace fvtest {

using Bytes = std::vector<uint8_t>;

struct TEntrySpec {
    uint16_t Tag;
    uint16_t Type;
    uint32_t Count;
    Bytes Data;            // value bytes in file order (inline when <= 4)
    int PointsTo = -1;     // >= 0: the value is the offset of directory PointsTo
    int64_t RawValue = -1; // >= 0: this exact 32-bit value field (bad offsets)
};

class TTiffBuilder {
public:
    explicit TTiffBuilder(bool bigEndian) : FBig(bigEndian) {}

    // a new directory; returns its number
    int AddIfd() {
        FIfds.emplace_back();
        return static_cast<int>(FIfds.size()) - 1;
    }
    void Next(int ifd, int nextIfd) { FNext[ifd] = nextIfd; }

    void Short(int ifd, uint16_t tag, std::vector<uint16_t> v, uint16_t type = 3) {
        Bytes d;
        for (uint16_t x : v) Put16(d, x);
        FIfds[ifd].push_back({tag, type, static_cast<uint32_t>(v.size()), d});
    }
    void Long(int ifd, uint16_t tag, std::vector<uint32_t> v, uint16_t type = 4) {
        Bytes d;
        for (uint32_t x : v) Put32(d, x);
        FIfds[ifd].push_back({tag, type, static_cast<uint32_t>(v.size()), d});
    }
    void Ascii(int ifd, uint16_t tag, const std::string& s, bool nul = true) {
        Bytes d(s.begin(), s.end());
        if (nul) d.push_back(0);
        FIfds[ifd].push_back({tag, 2, static_cast<uint32_t>(d.size()), d});
    }
    void Undefined(int ifd, uint16_t tag, const Bytes& d) {
        FIfds[ifd].push_back({tag, 7, static_cast<uint32_t>(d.size()), d});
    }
    void Rational(int ifd, uint16_t tag, std::vector<std::pair<uint32_t, uint32_t>> v, uint16_t type = 5) {
        Bytes d;
        for (auto [n, den] : v) {
            Put32(d, n);
            Put32(d, den);
        }
        FIfds[ifd].push_back({tag, type, static_cast<uint32_t>(v.size()), d});
    }
    // any type and count with these value bytes (file order)
    void Typed(int ifd, uint16_t tag, uint16_t type, uint32_t count, const Bytes& d) {
        FIfds[ifd].push_back({tag, type, count, d});
    }
    void Pointer(int ifd, uint16_t tag, int target) { FIfds[ifd].push_back({tag, 4, 1, {}, target}); }
    void Raw(int ifd, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        FIfds[ifd].push_back({tag, type, count, {}, -1, value});
    }
    // changes the value field of an entry added with Raw()
    void SetRaw(int ifd, uint16_t tag, uint32_t value) {
        for (auto& e : FIfds[ifd])
            if (e.Tag == tag) e.RawValue = value;
    }
    // bytes appended after the directories (e.g. a thumbnail); BlobOffset(i) after Build()
    void Blob(const Bytes& b) { FBlobs.push_back(b); }
    uint32_t BlobOffset(size_t i) const { return FBlobOffsets.at(i); }

    Bytes Build() {
        // layout: header, directories (each followed by its data), blobs
        Bytes out;
        out.push_back(FBig ? 'M' : 'I');
        out.push_back(FBig ? 'M' : 'I');
        Put16(out, 42);
        Put32(out, 8);
        std::vector<uint32_t> ifdOffset(FIfds.size());
        uint32_t pos = 8;
        std::vector<uint32_t> dataSize(FIfds.size());
        for (size_t i = 0; i < FIfds.size(); ++i) {
            ifdOffset[i] = pos;
            uint32_t data = 0;
            for (auto& e : FIfds[i])
                if (e.Data.size() > 4) data += static_cast<uint32_t>(e.Data.size() + (e.Data.size() & 1));
            dataSize[i] = data;
            pos += 2 + 12 * static_cast<uint32_t>(FIfds[i].size()) + 4 + data;
        }
        FBlobOffsets.clear();
        for (auto& b : FBlobs) {
            FBlobOffsets.push_back(pos);
            pos += static_cast<uint32_t>(b.size());
        }
        for (size_t i = 0; i < FIfds.size(); ++i) {
            Put16(out, static_cast<uint16_t>(FIfds[i].size()));
            uint32_t dataPos = ifdOffset[i] + 2 + 12 * static_cast<uint32_t>(FIfds[i].size()) + 4;
            Bytes data;
            for (auto& e : FIfds[i]) {
                Put16(out, e.Tag);
                Put16(out, e.Type);
                Put32(out, e.Count);
                if (e.PointsTo >= 0) {
                    Put32(out, ifdOffset[static_cast<size_t>(e.PointsTo)]);
                } else if (e.RawValue >= 0) {
                    Put32(out, static_cast<uint32_t>(e.RawValue));
                } else if (e.Data.size() <= 4) {
                    Bytes v = e.Data;
                    v.resize(4, 0);
                    out.insert(out.end(), v.begin(), v.end());
                } else {
                    Put32(out, dataPos + static_cast<uint32_t>(data.size()));
                    data.insert(data.end(), e.Data.begin(), e.Data.end());
                    if (e.Data.size() & 1) data.push_back(0);
                }
            }
            auto it = FNext.find(static_cast<int>(i));
            Put32(out, it == FNext.end() ? 0 : ifdOffset[static_cast<size_t>(it->second)]);
            out.insert(out.end(), data.begin(), data.end());
        }
        for (auto& b : FBlobs) out.insert(out.end(), b.begin(), b.end());
        return out;
    }

    bool BigEndian() const { return FBig; }
    void Put16(Bytes& b, uint16_t v) const {
        if (FBig) {
            b.push_back(static_cast<uint8_t>(v >> 8));
            b.push_back(static_cast<uint8_t>(v));
        } else {
            b.push_back(static_cast<uint8_t>(v));
            b.push_back(static_cast<uint8_t>(v >> 8));
        }
    }
    void Put32(Bytes& b, uint32_t v) const {
        if (FBig) {
            Put16(b, static_cast<uint16_t>(v >> 16));
            Put16(b, static_cast<uint16_t>(v));
        } else {
            Put16(b, static_cast<uint16_t>(v));
            Put16(b, static_cast<uint16_t>(v >> 16));
        }
    }

private:
    bool FBig;
    std::vector<std::vector<TEntrySpec>> FIfds;
    std::map<int, int> FNext;
    std::vector<Bytes> FBlobs;
    std::vector<uint32_t> FBlobOffsets;
};

// a minimal JPEG: SOI, the given segments (marker, payload), SOF0 of w x h with n
// components, SOS and EOI
inline Bytes MakeJpeg(const std::vector<std::pair<uint8_t, Bytes>>& segments, int w, int h, int components = 3) {
    Bytes out = {0xFF, 0xD8};
    auto seg = [&](uint8_t marker, const Bytes& payload) {
        out.push_back(0xFF);
        out.push_back(marker);
        size_t len = payload.size() + 2;
        out.push_back(static_cast<uint8_t>(len >> 8));
        out.push_back(static_cast<uint8_t>(len));
        out.insert(out.end(), payload.begin(), payload.end());
    };
    for (auto& [m, p] : segments) seg(m, p);
    Bytes sof = {8, static_cast<uint8_t>(h >> 8), static_cast<uint8_t>(h), static_cast<uint8_t>(w >> 8),
                 static_cast<uint8_t>(w), static_cast<uint8_t>(components)};
    for (int c = 0; c < components; ++c) {
        sof.push_back(static_cast<uint8_t>(c + 1));
        sof.push_back(0x11);
        sof.push_back(0);
    }
    seg(0xC0, sof);
    seg(0xDA, {1, 1, 0, 0, 63, 0});
    out.push_back(0x12);
    out.push_back(0x34);
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
}

// "Exif" NUL NUL + TIFF bytes
inline Bytes ExifPayload(const Bytes& tiff) {
    Bytes p = {'E', 'x', 'i', 'f', 0, 0};
    p.insert(p.end(), tiff.begin(), tiff.end());
    return p;
}

}  // namespace fvtest

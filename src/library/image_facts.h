#pragma once
// How catalog items learn the facts of their picture files without depending on the
// image pipeline: the pipeline registers one process-wide TImageFactsProvider at start.
// Until one is registered, items read no picture facts and report "no camera data".
//
// Contract for implementers:
//  - ReadImageFacts(path, kind, out) reads the pixel format, width and height of the
//    file at `path` (an item of item kind `kind`) and, where the file carries camera
//    (EXIF) data, sets HasCameraData with the camera's orientation (1..8, 0 when the
//    file states none), its shooting date (local date-time value, 0 unknown) and,
//    optionally, the parsed camera-data object the item keeps. It answers false on any
//    error; the item then changes nothing. It may be called from any thread and must
//    not call back into the item.
//  - GetExifTextLines fills `lines` with one formatted line per camera tag present;
//    false on any error.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/datetime.h"

namespace fv {

// Base of the camera-data object (the EXIF data of one file) that an item owns.
class TCameraDataBase {
public:
    virtual ~TCameraDataBase() = default;
};

struct TImageFacts {
    uint8_t PixelFormat = 0;  // a TPixelFormat as stored: 0 "Device" .. 8 "Custom"
    int32_t Width = 0;
    int32_t Height = 0;
    bool HasCameraData = false;
    int Orientation = 0;
    TDateTime ShootingDate = 0;
    std::unique_ptr<TCameraDataBase> CameraData;
};

class TImageFactsProvider {
public:
    virtual ~TImageFactsProvider() = default;
    virtual bool ReadImageFacts(const std::string& path, uint8_t kind, TImageFacts& out) = 0;
    virtual bool GetExifTextLines(const std::string& path, uint8_t kind, const std::vector<std::string>& formatArgs,
                                  std::vector<std::string>& lines) = 0;
};

// Process-wide registration; a null provider unregisters.
void SetImageFactsProvider(std::shared_ptr<TImageFactsProvider> provider);
std::shared_ptr<TImageFactsProvider> GetImageFactsProvider();

}  // namespace fv

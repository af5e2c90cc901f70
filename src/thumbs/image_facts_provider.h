#pragma once
// The image pipeline's answer to the catalog's questions about picture files: size, pixel
// format, orientation and shooting date (GetImageInfo) and the EXIF listing. Whoever starts
// the program registers it: SetImageFactsProvider(MakeImageFactsProvider()).
#include <memory>

#include "library/image_facts.h"

namespace fv {

std::shared_ptr<TImageFactsProvider> MakeImageFactsProvider();

}  // namespace fv

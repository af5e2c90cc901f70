// libFuzzer target: the kernel's folder-change records as the watcher's reader thread reads them
// (header fields, name lengths, padding), and the bits of every mask.
#include <cstddef>
#include <cstdint>

#include "platform/dir_watch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fv;
    std::vector<TDirWatchEvent> events;
    ParseDirWatchRecords(data, size, events);
    // every record takes at least its 16-byte header
    if (events.size() > size / 16) __builtin_trap();
    size_t names = 0;
    for (const TDirWatchEvent& e : events) {
        names += e.Name.size();
        if (e.Name.find('\0') != std::string::npos) __builtin_trap();
        if ((e.What & dwOverflow) && e.Watch != -1) __builtin_trap();
    }
    if (names > size) __builtin_trap();
    return 0;
}

// fvb: the command-line face of the photo library.
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>

#include "commands.h"
#include "thumbs/engine_image_cache.h"
#include "library/image_facts.h"
#include "version_info.h"

namespace {

struct TCommand {
    const char* Name;
    const char* Usage;
    std::function<int(const fv::fvb::TArgs&)> Run;
};

const TCommand kCommands[] = {
    {"info", "info FILE...            size, kind, orientation, date, EXIF and thumbnail of each file", fv::fvb::CmdInfo},
    {"exif", "exif [--json] FILE...   the EXIF tags of each file", fv::fvb::CmdExif},
    {"thumb", "thumb FILE --size N --out OUT [--reduce R] [--method M]   the pipeline's thumbnail, upright", fv::fvb::CmdThumb},
    {"scan", "scan [--json] [--threads N] DIR...   brings folders into the library: new, changed and missing photos", fv::fvb::CmdScan},
    {"ls", "ls [--json] [--sort name|mtime|date|manual] [--desc] PATH   the photos of a library folder", fv::fvb::CmdLs},
    {"find", "find [--json] [criteria]   photos of the library that pass a filter (fvb find --help)", fv::fvb::CmdFind},
    {"api", "api [--service ROOT] [--json] CALL key=value...   one photo-book service call and its result", fv::fvb::CmdApi},
    {"thumbs", "thumbs DIR [--size N] [--threads N] [--export OUTDIR]   a folder's thumbnails into the cache", fv::fvb::CmdThumbs},
    {"calendar", "calendar [--json] [YEAR[/MONTH]]   the library's shooting days with their photo counts", fv::fvb::CmdCalendar},
    {"albums", "albums [--json]          the album tree with entry counts", fv::fvb::CmdAlbums},
};

void Usage() {
    std::fprintf(stderr, "usage: fvb COMMAND [ARGS]\ncommands:\n");
    for (const auto& c : kCommands) std::fprintf(stderr, "  %s\n", c.Usage);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        Usage();
        return argc < 2 ? 2 : 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("fvb %s\n", FV_VERSION_STRING);
        return 0;
    }
    // the library commands use the browser's library, thumbnail cache included
    fv::AssembleEngine();
    fv::fvb::TArgs args(argv + 2, argv + argc);
    for (const auto& c : kCommands)
        if (std::strcmp(argv[1], c.Name) == 0) return c.Run(args);
    std::fprintf(stderr, "fvb: unknown command \"%s\"\n", argv[1]);
    Usage();
    return 2;
}

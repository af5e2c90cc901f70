// Throughput of ReadJpegInfoEx over 10,000 camera-size JPEG files (12 megapixels, with the
// EXIF segments of real cameras), next to the bare cost of opening each file and reading
// its first 64 KiB, and next to exiv2 and exiftool asked for DateTimeOriginal of the same
// files in one process each. Warm file cache, single thread.
//
// The files: one 4000 x 3000 JPEG body encoded once, joined with the Exif APP1 of 20
// sample photos into 20 distinct files; the 10,000 names are hard links to them (500 each)
// so the run needs 20 files of disk, not 10,000.
#include <cstdio>
#include <jpeglib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "metadata/jpeg_info.h"
#include "platform/stream.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<uint8_t> EncodeBody(int w, int h) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = static_cast<JDIMENSION>(w);
    c.image_height = static_cast<JDIMENSION>(h);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
    uint32_t noise = 12345;
    while (c.next_scanline < c.image_height) {
        int y = static_cast<int>(c.next_scanline);
        for (int x = 0; x < w; ++x) {
            noise = noise * 1103515245u + 12345u;
            int n = static_cast<int>((noise >> 16) & 31);
            row[3 * x] = static_cast<uint8_t>((x * 255 / w + n) & 255);
            row[3 * x + 1] = static_cast<uint8_t>((y * 255 / h + n) & 255);
            row[3 * x + 2] = static_cast<uint8_t>(((x + y) / 16 + n) & 255);
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> out(mem, mem + size);
    jpeg_destroy_compress(&c);
    free(mem);
    return out;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// runs a shell command, returns its wall time or -1 when it failed to start
double TimeCommand(const std::string& cmd) {
    auto t0 = Clock::now();
    int rc = std::system(cmd.c_str());
    auto t1 = Clock::now();
    if (rc == -1 || (WIFEXITED(rc) && WEXITSTATUS(rc) == 127)) return -1;
    return Seconds(t1 - t0);
}

bool HaveTool(const char* name) { return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0; }

}  // namespace

int main(int argc, char** argv) {
    int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const std::string photos = std::string(FV_TESTDATA_DIR) + "/photos/";
    const char* samples[] = {"Canon_40D.jpg", "Canon_DIGITAL_IXUS_400.jpg", "Canon_PowerShot_S40.jpg",
                             "Fujifilm_FinePix6900ZOOM.jpg", "Fujifilm_FinePix_E500.jpg", "Kodak_CX7530.jpg",
                             "Konica_Minolta_DiMAGE_Z3.jpg", "Nikon_COOLPIX_P1.jpg", "Nikon_D70.jpg",
                             "Olympus_C8080WZ.jpg", "Panasonic_DMC-FZ30.jpg", "Pentax_K10D.jpg", "Ricoh_Caplio_RR330.jpg",
                             "Samsung_Digimax_i50_MP3.jpg", "Sony_HDR-HC3.jpg", "gps/DSCN0010.jpg", "gps/DSCN0012.jpg",
                             "gps/DSCN0021.jpg", "gps/DSCN0025.jpg", "WWL_(Polaroid)_ION230.jpg"};
    char tmpl[] = "/tmp/fv-bench-jpeginfo-XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir = tmpl;
    std::fprintf(stderr, "encoding a 4000 x 3000 body...\n");
    std::vector<uint8_t> body = EncodeBody(4000, 3000);
    std::vector<fs::path> bases;
    for (const char* s : samples) {
        fv::TMemoryStream app1;
        if (!fv::ExtractExifSegmentFromFile(photos + s, app1)) continue;
        std::vector<uint8_t> file = {0xFF, 0xD8, 0xFF, 0xE1};
        size_t len = app1.Data().size() + 2;
        file.push_back(static_cast<uint8_t>(len >> 8));
        file.push_back(static_cast<uint8_t>(len));
        file.insert(file.end(), app1.Data().begin(), app1.Data().end());
        file.insert(file.end(), body.begin() + 2, body.end());
        fs::path p = dir / ("base" + std::to_string(bases.size()) + ".jpg");
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
        bases.push_back(p);
    }
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
        fs::path p = dir / ("IMG_" + std::to_string(10000 + i) + ".jpg");
        fs::create_hard_link(bases[static_cast<size_t>(i) % bases.size()], p);
        files.push_back(p.string());
    }
    std::fprintf(stderr, "%d files of %zu bytes in %s\n", count, fs::file_size(bases[0]), tmpl);

    // warm the cache and measure: best of three passes each
    std::vector<char> buf(65536);
    auto bare = [&] {
        auto t0 = Clock::now();
        for (const auto& f : files) {
            int fd = ::open(f.c_str(), O_RDONLY);
            if (fd < 0) continue;
            if (::read(fd, buf.data(), buf.size()) < 0) std::perror("read");
            ::close(fd);
        }
        return Seconds(Clock::now() - t0);
    };
    int dated = 0;
    auto ours = [&] {
        dated = 0;
        auto t0 = Clock::now();
        for (const auto& f : files) {
            uint8_t options = fv::jiExif;
            fv::TJpegInfoExRec rec;
            fv::ReadJpegInfoExFromFile(f, options, rec);
            dated += rec.ShootingDate != 0;
        }
        return Seconds(Clock::now() - t0);
    };
    double tBare = 1e9, tOurs = 1e9;
    for (int pass = 0; pass < 3; ++pass) {
        tBare = std::min(tBare, bare());
        tOurs = std::min(tOurs, ours());
    }
    std::fprintf(stderr, "files with a shooting date: %d of %d\n", dated, count);

    // the peers read a list of names from a file (one process over all files)
    std::string list = (dir / "files.txt").string();
    {
        std::ofstream l(list);
        for (const auto& f : files) l << f << '\n';
    }
    double tExiv2 = -1, tExiftool = -1;
    if (HaveTool("exiv2")) {
        TimeCommand("xargs -d '\\n' -a " + list + " exiv2 -g Exif.Photo.DateTimeOriginal > /dev/null 2>&1");  // warm
        tExiv2 = TimeCommand("xargs -d '\\n' -a " + list + " exiv2 -g Exif.Photo.DateTimeOriginal > /dev/null 2>&1");
    }
    if (HaveTool("exiftool")) tExiftool = TimeCommand("exiftool -fast2 -DateTimeOriginal -@ " + list + " > /dev/null 2>&1");
    fs::remove_all(dir);

    auto rate = [&](double t) { return t > 0 ? count / t : 0.0; };
    std::printf("bare open + read 64 KiB: %.0f files/s\n", rate(tBare));
    std::printf("ReadJpegInfoEx:          %.0f files/s\n", rate(tOurs));
    if (tExiv2 > 0) std::printf("exiv2:                   %.0f files/s\n", rate(tExiv2));
    if (tExiftool > 0) std::printf("exiftool -fast2:         %.0f files/s\n", rate(tExiftool));
    std::printf("bench: jpeginfo_files_per_s = %.0f files/s\n", rate(tOurs));
    std::printf("bench: jpeginfo_vs_bare_read = %.2f x\n", tOurs / tBare);
    if (tExiv2 > 0) std::printf("bench: jpeginfo_vs_exiv2 = %.1f x\n", tExiv2 / tOurs);
    else std::printf("bench: jpeginfo_vs_exiv2 = - x\n");
    if (tExiftool > 0) std::printf("bench: jpeginfo_vs_exiftool = %.0f x\n", tExiftool / tOurs);
    else std::printf("bench: jpeginfo_vs_exiftool = - x\n");
    return 0;
}

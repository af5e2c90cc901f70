#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each in turn.
#   bash fuzz/run.sh [seconds-per-target] [target...]
# Targets: jpeg_info tiff_info exif_item load_thumbnail. Seeds: tests/data/photos; the growing corpus
# stays in build-fuzz/corpus_<target>. Crashes land in build-fuzz/ as crash-* files.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(jpeg_info tiff_info exif_item load_thumbnail)
out=build-fuzz
mkdir -p "$out"
CXX=${CXX:-clang++-14}
command -v "$CXX" >/dev/null || CXX=clang++
flags=(-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -Isrc -Ifuzz)
sources=(src/platform/stream.cpp src/platform/exception.cpp src/platform/datetime.cpp
         src/image/buffered_stream.cpp src/image/jpeg_info.cpp src/image/tiff_info.cpp
         src/image/exif_tags.cpp src/image/exif_item.cpp src/image/exif_text.cpp src/image/exif_present.cpp
         src/image/exif_makernote.cpp src/image/exif_makernote_olympus.cpp src/image/exif_makernote_canon.cpp
         src/image/exif_makernote_nikon.cpp src/image/exif_makernote_others.cpp
         src/image/bitmap.cpp src/image/transform.cpp src/image/resample.cpp src/image/jpeg_codec.cpp
         src/image/image_io.cpp src/image/raw_preview.cpp src/image/image_decode.cpp
         src/library/orientation.cpp)
for t in "${targets[@]}"; do
  echo "=== building fuzz_$t"
  "$CXX" "${flags[@]}" "fuzz/fuzz_$t.cpp" "${sources[@]}" -licuuc -ljpeg -o "$out/fuzz_$t"
done
for t in "${targets[@]}"; do
  corpus="$out/corpus_$t"
  mkdir -p "$corpus"
  echo "=== running fuzz_$t for ${seconds}s"
  nice -n 19 "$out/fuzz_$t" "$corpus" $(find tests/data/photos -type d) \
    -max_total_time="$seconds" -max_len=70000 -rss_limit_mb=2048 -timeout=60 \
    -artifact_prefix="$out/" -print_final_stats=1 2>&1 | tail -n 25
done

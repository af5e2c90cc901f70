# make run   : install missing packages, configure, build, start the browser
# make test  : the same set-up, then every test through CTest
# make package : the Debian packages (dpkg-buildpackage -us -uc -b) into dist/
# make bench : Release build of the benchmarks, then run them (BENCH=regex picks some)
BUILD ?= build
JOBS ?= $(shell nproc)
BENCH ?=
# CI builds treat warnings as errors; a user's build does not
CMAKE_ARGS ?=
ifeq ($(CI),true)
CMAKE_ARGS += -DFV_WERROR=ON
endif
# the thread and folder suites that run under ThreadSanitizer
TSAN_TESTS ?= ^(Thread|LiveFolders|DirWatch|FolderThreads|FolderUpdateMaster|DiskFolder|TreeList|Relay|History|Calendar|Listup|CatalogUpdater|CacheImage|CacheWorkLock|MakerTest|Items)

.PHONY: package all deps bench-deps configure build run test test-clocks bench fuzz fuzz-smoke sanitize tsan clean

all: build

deps:
	@bash scripts/install-deps.sh

bench-deps:
	@bash scripts/install-deps.sh --bench

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_ARGS)

configure: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_ARGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/folvane-browser

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: bench-deps
	cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DFV_BUILD_BENCH=ON -DFV_BUILD_UI=ON
	cmake --build build-release -j $(JOBS)
	bash bench/run.sh build-release "$(BENCH)"

# AddressSanitizer + UndefinedBehaviorSanitizer run of the plain C++ test suites
sanitize: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFV_SANITIZE=ON -DFV_BUILD_UI=OFF
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

# ThreadSanitizer run of the thread and folder suites
tsan: deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFV_TSAN=ON -DFV_BUILD_UI=OFF
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure -j $(JOBS) -R '$(TSAN_TESTS)'

# every fuzz target for a short while on its seeds (CI); a fixed seed, so that a run from a clean
# tree explores the same inputs every time and a finding is not left to chance
FUZZ_SMOKE_SECONDS ?= 15
FUZZ_SEED ?= 1
fuzz-smoke: deps
	FUZZ_SEED=$(FUZZ_SEED) bash fuzz/run.sh $(FUZZ_SMOKE_SECONDS)

fuzz: deps
	bash fuzz/run.sh $(FUZZ_SECONDS)

# every test again on moved clocks and in the zones farthest from UTC: a test that passes only on
# today's date or in this machine's zone fails here. The wall clock runs on from the given date, the
# monotonic clock and the files' own times stay real.
CLOCKS ?= 2026-12-08 23:59:50|2027-01-01 00:00:05|2028-02-29 12:00:00
ZONES ?= Pacific/Kiritimati America/Adak
test-clocks: build
	@cd $(BUILD) && echo '$(CLOCKS)' | tr '|' '\n' | while read -r c; do echo "=== clock $$c"; \
	  NO_FAKE_STAT=1 FAKETIME_DONT_FAKE_MONOTONIC=1 QT_QPA_PLATFORM=offscreen faketime -f "@$$c" \
	  ctest --output-on-failure -j $(JOBS) </dev/null || exit 1; done
	@cd $(BUILD) && for z in $(ZONES); do echo "=== zone $$z"; \
	  TZ=$$z QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) || exit 1; done

clean:
	rm -rf $(BUILD) build-release build-asan build-tsan build-fuzz

# The Debian packages, built the Debian way (debian/), left in dist/ with their .changes and
# .buildinfo. The tests are not built (they run in make test); the compiler cache is the user's own
# even though debhelper gives the build a home of its own, so a second run is mostly cache hits.
DIST ?= dist
package: deps
	CCACHE_DIR="$$(ccache -k cache_dir 2>/dev/null || echo $$HOME/.cache/ccache)" CCACHE_BASEDIR="$(CURDIR)" \
	  DEB_BUILD_OPTIONS="nocheck parallel=$(JOBS) $(DEB_BUILD_OPTIONS)" dpkg-buildpackage -us -uc -b
	mkdir -p $(DIST)
	mv -f ../folvane-browser_*.deb ../fvb_*.deb ../folvane-browser-dbgsym_*.deb ../fvb-dbgsym_*.deb \
	  ../folvane-browser_*.buildinfo ../folvane-browser_*.changes $(DIST)/ 2>/dev/null || true
	ls -l $(DIST)

# make run   : install missing packages, configure, build, start the browser
# make test  : the same set-up, then every test through CTest
# make bench : Release build of the benchmarks, then run them (BENCH=regex picks some)
BUILD ?= build
JOBS ?= $(shell nproc)
BENCH ?=

.PHONY: all deps configure build run test bench fuzz sanitize clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja

configure: deps
	cmake -S . -B $(BUILD) -G Ninja

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/folvane-browser

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DFV_BUILD_BENCH=ON -DFV_BUILD_UI=ON
	cmake --build build-release -j $(JOBS)
	bash bench/run.sh build-release "$(BENCH)"

# AddressSanitizer + UndefinedBehaviorSanitizer run of the plain C++ test suites
sanitize: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFV_SANITIZE=ON -DFV_BUILD_UI=OFF
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

fuzz: deps
	bash fuzz/run.sh $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) build-release build-asan build-fuzz

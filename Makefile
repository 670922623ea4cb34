# make run   - install what is missing, build, start the server on the demo setup
# make test  - install what is missing, build, run every test
# make build - build everything (build/bin/printorb, build/bin/printorb-tool)
# make bench - run the benchmarks; make fuzz - run the fuzz targets (clang)
# make likeness - score our pages against LibreOffice's reference PDFs
# make package - build the Debian package (build/printorb_*.deb)

BUILD_DIR ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: all deps configure build test run bench fuzz likeness package clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS)

configure: $(BUILD_DIR)/build.ninja

build: deps configure
	cmake --build $(BUILD_DIR)

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 -j6

run: build
	scripts/run-demo.sh $(BUILD_DIR)

bench: build
	scripts/run-bench.sh $(BUILD_DIR)

fuzz: deps
	scripts/run-fuzz.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

likeness: build
	scripts/likeness.sh $(BUILD_DIR)

package: build
	cd $(BUILD_DIR) && cpack -G DEB

clean:
	rm -rf $(BUILD_DIR) $(FUZZ_DIR)

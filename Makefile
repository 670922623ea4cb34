# make run   - install what is missing, build, start the server on the demo setup
# make test  - install what is missing, build, run every test
# make build - build everything (build/bin/printorb, build/bin/printorb-tool)

BUILD_DIR ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure build test run bench clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS)

configure: $(BUILD_DIR)/build.ninja

build: deps configure
	cmake --build $(BUILD_DIR)

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 -j2

run: build
	scripts/run-demo.sh $(BUILD_DIR)

bench: build
	scripts/run-bench.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)

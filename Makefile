# The two commands of the README. Both install what is missing first.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps build demo test bench package clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

demo: build
	@bash scripts/run-demo.sh $(BUILD_DIR)

test: build
	@bash scripts/run-tests.sh $(BUILD_DIR)

bench: build
	@bash scripts/run-bench.sh $(BUILD_DIR)

package: build
	@bash scripts/build-package.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)

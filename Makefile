# The two commands of the README. Both install what is missing first.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps build demo test bench soak package clean

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

# SOAK_ARGS, e.g. SOAK_ARGS="--minutes 60 --seed 7"
soak: build
	@bash scripts/run-soak.sh $(BUILD_DIR) $(SOAK_ARGS)

package: build
	@bash scripts/build-package.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)

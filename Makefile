# tremora developer commands.
#   make test   install dependencies, build (Release, Ninja, build/), run all tests
#   make bench  build and run the benchmarks
#   make clean  remove the build folder
BUILD ?= build
JOBS ?= 2

.PHONY: test bench build deps configure clean

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	bash scripts/run-benchmarks.sh $(BUILD)

clean:
	rm -rf $(BUILD)

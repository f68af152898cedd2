# tremora developer commands.
#   make demo   install dependencies, build, and run the whole road on the
#               sample database into demo/ (offline, about 10 s)
#   make test   install dependencies, build (Release, Ninja, build/), run all tests
#   make bench  build and run the benchmarks
#   make bench-scaling  the parallel benchmarks at 1 thread and at every
#               processor, in pairs run one right after the other
#   make docs   redraw the README's chart images in docs/ (from the demo)
#   make sanitize  build the tests with ASan and UBSan (build-sanitize/) and
#               run them, with the replay of every fuzz corpus
#   make coverage  line and branch coverage of the tests, per library
#   make fuzz   build the libFuzzer targets (clang, build-fuzz/) and run each
#               for FUZZ_SECONDS (default 60) on a copy of its corpus
#   make fuzz-replay  run every fuzz target once over its committed corpus
#   make format        reformat the C++ sources with clang-format 14
#   make format-check  fail on any difference from that formatting (CI)
#   make clean  remove the build folder and demo/
# TREMORA_WERROR=ON (as CI sets it) builds with warnings as errors.
BUILD ?= build
JOBS ?= 2
# The Python the package is built for: Debian's, which has pandas.
PYTHON ?= /usr/bin/python3
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
TREMORA_WERROR ?= OFF

.PHONY: demo test bench bench-scaling docs build deps configure clean sanitize coverage fuzz fuzz-build fuzz-replay format format-check

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=$(PYTHON) \
	  -DTREMORA_WERROR=$(TREMORA_WERROR)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	$(BUILD)/bin/tremora demo demo

docs: build
	$(BUILD)/bin/tremora demo $(BUILD)/docs-demo --docs docs

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	bash scripts/run-benchmarks.sh $(BUILD)

bench-scaling: build
	$(PYTHON) scripts/bench-scaling.py --build $(BUILD)

sanitize: deps
	bash scripts/sanitize.sh build-sanitize

coverage: deps
	bash scripts/coverage.sh build-coverage

# The fuzz build: clang with libFuzzer, ASan and UBSan; only the fuzz
# targets and the libraries they read with are built.
fuzz-build:
	bash scripts/install-deps.sh --fuzz
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
	  -DTREMORA_FUZZ=ON -DTREMORA_BUILD_TESTS=OFF -DTREMORA_BUILD_BENCH=OFF -DTREMORA_BUILD_PYTHON=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets

fuzz: fuzz-build
	bash scripts/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

fuzz-replay: fuzz-build
	bash scripts/replay-fuzz-corpus.sh $(FUZZ_BUILD)

format: deps
	bash scripts/format.sh

format-check: deps
	bash scripts/format.sh --check

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD) build-sanitize build-coverage demo

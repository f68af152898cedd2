# tremora developer commands.
#   make demo   install dependencies, build, and run the whole road on the
#               sample database into demo/ (offline, about 10 s)
#   make test   install dependencies, build (Release, Ninja, build/), run all tests
#   make bench  build and run the benchmarks
#   make docs   redraw the README's chart images in docs/ (from the demo)
#   make coverage  line and branch coverage of the tests, per library
#   make clean  remove the build folder and demo/
BUILD ?= build
JOBS ?= 2
# The Python the package is built for: Debian's, which has pandas.
PYTHON ?= /usr/bin/python3

.PHONY: demo test bench docs build deps configure clean coverage

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=$(PYTHON)

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

coverage: deps
	bash scripts/coverage.sh build-coverage

clean:
	rm -rf $(BUILD) demo

# Quick start: `make demo` and `make test`. Both install missing Debian packages first.
BUILD ?= build
MAKEFLAGS += --no-print-directory
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build programs demo test bench clean

all: build

deps:
	@sh tools/ensure-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The programs alone, without the tests.
programs: configure
	@cmake --build $(BUILD) -j $(JOBS) --target plomvarde plomvarde-ini plomvarde-sample plomvarde-show plomvarde-bench

demo: programs
	@sh tools/demo.sh $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: programs
	@sh bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD)

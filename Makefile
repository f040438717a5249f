# Quick start: `make demo` and `make test`. Both install missing Debian packages first.
BUILD ?= build
MAKEFLAGS += --no-print-directory
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build demo test bench clean

all: build

deps:
	@sh tools/ensure-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

demo: build
	@sh tools/demo.sh $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	@sh bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD)

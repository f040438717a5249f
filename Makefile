# Quick start: `make demo` and `make test`. Both install missing Debian packages first.
BUILD ?= build
MAKEFLAGS += --no-print-directory
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build programs demo test test-sanitize bench clean

all: build

deps:
	@sh tools/ensure-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The programs alone, without the tests.
programs: configure
	@cmake --build $(BUILD) -j $(JOBS) --target plomvarde plomvarde-batch plomvarde-ini plomvarde-sample plomvarde-show plomvarde-explain plomvarde-bench plomvarde-collation

demo: programs
	@sh tools/demo.sh $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Everything once more with AddressSanitizer and UBSan, warnings as errors,
# in a build directory of its own.
SANITIZE_BUILD ?= build-sanitize
test-sanitize: deps
	@cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DPLOM_SANITIZE=address,undefined -DPLOM_WERROR=ON >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	@cd $(SANITIZE_BUILD) && ctest --output-on-failure -j $(JOBS) -E '^Odbc'
# The SQLite ODBC driver leaks a little at each connect and is unloaded
# before LeakSanitizer looks, so its leaks cannot be told from ours by name:
# the ODBC tests run with the leak check off (every other check stays on).
	@cd $(SANITIZE_BUILD) && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j $(JOBS) -R '^Odbc'

bench: programs
	@sh bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD)

# Quick start: `make demo` and `make test`. Both install missing Debian packages first.
BUILD ?= build
WINBUILD ?= build-windows
MAKEFLAGS += --no-print-directory
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build programs demo test test-sanitize bench bench-large clean \
	windows-deps windows-configure windows test-windows package package-windows

all: build

deps:
	@sh scripts/ensure-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The programs alone, without the tests.
programs: configure
	@cmake --build $(BUILD) -j $(JOBS) --target plomvarde plomvarde-batch plomvarde-ini plomvarde-sample plomvarde-show plomvarde-explain plomvarde-bench plomvarde-collation

demo: programs
	@sh scripts/demo.sh $(BUILD)

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

# 1,000,000 badges (about 1 GB of database and a quarter of an hour): not
# part of make bench or make test.
bench-large: programs
	@$(BUILD)/plomvarde-bench --work $(BUILD)/bench-work --sizes 1000000 --terminal TERM12

# Windows: every program cross-built with MinGW-w64 into $(WINBUILD)/*.exe.
windows-deps:
	@sh scripts/ensure-deps.sh windows

windows-configure: windows-deps
	@cmake -S . -B $(WINBUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DCMAKE_BUILD_TYPE=Release >/dev/null

windows: windows-configure
	@cmake --build $(WINBUILD) -j $(JOBS) --target plomvarde-programs

# The Windows programs and portable tests under Wine, against the sample
# installation and the Linux golden files.
test-windows: build windows-configure
	@cmake --build $(WINBUILD) -j $(JOBS)
	@sh scripts/test-windows.sh $(BUILD) $(WINBUILD)

# packages/plomvarde_VERSION_amd64.deb, checked with lintian.
package: programs
	@sh scripts/ensure-deps.sh package
	@cmake --build $(BUILD) -j $(JOBS) --target plomvarde-docs
	@cd $(BUILD) && cpack -G DEB >/dev/null
	@mkdir -p packages
	@cp $(BUILD)/packages/*.deb packages/
	@lintian --fail-on error,warning packages/plomvarde_*_amd64.deb
	@ls -1 packages/*.deb

# packages/plomvarde-VERSION-windows-x64.zip (unpacks to plomvarde\).
package-windows: windows
	@cd $(WINBUILD) && cpack -G ZIP >/dev/null
	@mkdir -p packages
	@cp $(WINBUILD)/packages/*.zip packages/
	@ls -1 packages/*.zip

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(WINBUILD) packages

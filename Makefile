# Every target installs what is missing first, so a fresh Debian 12 machine needs nothing else.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDIALMEND_BENCH=ON
ifeq ($(CI),true)
CMAKE_FLAGS += -DDIALMEND_WERROR=ON
endif
FUZZ_SECONDS ?= 60
# The one project version, as CMakeLists.txt gives it, for the names of the packages.
VERSION := $(shell grep -m1 '^project' CMakeLists.txt | grep -o '[0-9][0-9.]*')

.PHONY: format-check deps build test run screenshots bench fuzz fuzz-smoke test-asan build-fuzz clean \
	windows test-windows install uninstall deb test-package \
	windows-package test-windows-package screenshots-windows

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Fails on any source file whose layout differs from .clang-format.
format-check: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

# Opens the program over a fresh copy of the bundled sample store, so the sample never changes.
# Without a display it runs the same over the terminal instead.
SAMPLE_COPY ?= $(BUILD)/sample-profile
run: build
	@rm -rf $(SAMPLE_COPY) && cp -r examples/profile $(SAMPLE_COPY)
	@echo "Sample contacts copied to $(SAMPLE_COPY)"
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  $(BUILD)/bin/dialmend --profile $(SAMPLE_COPY); \
	else \
	  echo "No display: simulating a run from the terminal (dialmend-run) instead."; \
	  $(BUILD)/bin/dialmend-run --profile $(SAMPLE_COPY) --log $(BUILD)/sample-run-log.txt || true; \
	fi

# Pictures of the real window under Xvfb, for the README.
screenshots: build
	@rm -rf $(BUILD)/screenshot-profile && cp -r examples/profile $(BUILD)/screenshot-profile
	XDG_STATE_HOME=$(abspath $(BUILD))/screenshot-state \
	xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" $(BUILD)/bin/dialmend-screenshots $(BUILD)/screenshot-profile docs

bench: build
	$(BUILD)/bin/dialmend-bench

# The whole test suite once more under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DDIALMEND_SANITIZE=ON -DDIALMEND_BENCH=OFF $(if $(filter true,$(CI)),-DDIALMEND_WERROR=ON) >/dev/null
	cmake --build build-asan -j $(JOBS)
	cd build-asan && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  ctest --output-on-failure -j $(JOBS)

build-fuzz: deps
	CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDIALMEND_FUZZ=ON -DDIALMEND_TESTS=OFF -DDIALMEND_BENCH=OFF >/dev/null
	cmake --build build-fuzz -j $(JOBS) --target fix_number_fuzz vcard_fuzz
	@mkdir -p build-fuzz/corpus/fix_number build-fuzz/corpus/vcard
	@i=0; while IFS= read -r line; do i=$$((i+1)); printf '%s' "$$line" > build-fuzz/corpus/fix_number/seed-$$i; done < examples/numbers.txt
	@cp fuzz/vcard_corpus/* build-fuzz/corpus/vcard/

# Each fuzz target runs for FUZZ_SECONDS.
fuzz: build-fuzz
	build-fuzz/bin/fix_number_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=256 build-fuzz/corpus/fix_number
	build-fuzz/bin/vcard_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=8192 build-fuzz/corpus/vcard

fuzz-smoke:
	$(MAKE) fuzz FUZZ_SECONDS=30

# The core and the command-line programs as Windows .exe files (mingw-w64), tested under wine.
BUILD_WINDOWS ?= build-windows
windows:
	@scripts/install-deps --windows
	cmake -S . -B $(BUILD_WINDOWS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD_WINDOWS) -j $(JOBS)

# The tests run in a wine prefix of their own, made (or mended) first.
WINE_PREFIX ?= $(abspath $(BUILD_WINDOWS))/wine-prefix
test-windows: windows
	@scripts/wine-prefix $(WINE_PREFIX)
	cd $(BUILD_WINDOWS) && WINEPREFIX=$(WINE_PREFIX) WINEDEBUG=-all ctest --output-on-failure -j $(JOBS); \
	  status=$$?; WINEPREFIX=$(WINE_PREFIX) wineserver -k >/dev/null 2>&1 || true; exit $$status

# The programs, manual pages, shell completion, icons and documentation under PREFIX; a DESTDIR
# given on the command line or in the environment stages them under it instead.
PREFIX ?= /usr/local
install: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)
	DESTDIR=$(DESTDIR) cmake --install $(BUILD)

# Removes every file the last install listed in $(BUILD)/install_manifest.txt (same DESTDIR).
uninstall:
	DESTDIR=$(DESTDIR) cmake -P $(BUILD)/uninstall.cmake

# The Debian package, built as Debian builds its own (build type None and the flags of
# dpkg-buildflags: -O2 and hardening), under /usr.
BUILD_DEB ?= build-deb
deb: deps
	@scripts/install-deps --package
	export DEB_BUILD_MAINT_OPTIONS=hardening=+all; \
	  cmake -S . -B $(BUILD_DEB) -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
	  -DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)" \
	  -DDIALMEND_TESTS=OFF -DDIALMEND_BENCH=OFF -DDIALMEND_DEBIAN=ON >/dev/null
	cmake --build $(BUILD_DEB) -j $(JOBS)
	cd $(BUILD_DEB) && cpack -G DEB

# Checks the package with lintian, installs it with apt, runs each program, removes it again.
test-package: deb
	scripts/test-deb $(BUILD_DEB)/dialmend_$(VERSION)_$$(dpkg --print-architecture).deb

# The Windows portable zip and installer (NSIS) in $(BUILD_WINDOWS), named with the version.
windows-package:
	@scripts/install-deps --windows-package
	cmake -S . -B $(BUILD_WINDOWS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD_WINDOWS) -j $(JOBS) --target windows-package

# Installs it silently under wine in a fresh wine prefix, checks the files, the shortcut, the
# Apps & features entry and the converter, uninstalls it silently and checks nothing is left.
test-windows-package: windows-package
	scripts/test-windows-installer $(BUILD_WINDOWS)/dialmend-$(VERSION)-setup.exe

# dialmend.exe's pictures in docs/, taken under Xvfb and wine by its end-to-end test.
screenshots-windows: windows
	@scripts/install-deps --screenshots
	sh tests/win32/window_test.sh $(BUILD_WINDOWS)/bin/dialmend.exe examples/profile docs

clean:
	rm -rf build build-asan build-fuzz build-windows build-deb

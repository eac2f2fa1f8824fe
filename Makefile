# Every target installs what is missing first, so a fresh Debian 12 machine needs nothing else.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDIALMEND_BENCH=ON
ifeq ($(CI),true)
CMAKE_FLAGS += -DDIALMEND_WERROR=ON
endif
FUZZ_SECONDS ?= 60

.PHONY: deps build test run bench fuzz fuzz-smoke test-asan build-fuzz clean

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Runs over a fresh copy of the bundled sample store, so the sample itself never changes.
SAMPLE_COPY ?= $(BUILD)/sample-profile
run: build
	@rm -rf $(SAMPLE_COPY) && cp -r examples/profile $(SAMPLE_COPY)
	@echo "Sample contacts copied to $(SAMPLE_COPY); simulating a run over them:"
	-$(BUILD)/bin/dialmend-run --profile $(SAMPLE_COPY) --log $(BUILD)/sample-run-log.txt
	@echo
	@echo "Numbers from examples/numbers.txt:"
	@$(BUILD)/bin/dialmend-convert < examples/numbers.txt \
	  | paste examples/numbers.txt - \
	  | awk -F'\t' '{ printf "%-32s -> %s\n", "\047" $$1 "\047", "\047" $$2 "\047" }'

bench: build
	$(BUILD)/bin/dialmend-bench

# The whole test suite once more under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DDIALMEND_SANITIZE=ON -DDIALMEND_BENCH=OFF $(if $(filter true,$(CI)),-DDIALMEND_WERROR=ON) >/dev/null
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

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

clean:
	rm -rf build build-asan build-fuzz

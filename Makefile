# Quick start: `make run` starts Tervix, `make test` builds and runs every test.
SHELL := /bin/bash
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=

MAKEFLAGS += --no-print-directory

.PHONY: all deps configure build run run-serial test test-sanitize test-windows bench fuzz package test-package clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DTERVIX_BUILD_TESTS=ON $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

# Tervix against the simulated weighing node inside the program, started in
# examples/, where it finds the configuration and EDS files of that node.
# ARGS replaces the adapter, e.g. make run ARGS="--can virtualcan:can0".
RUN_ARGS ?= --can sim
run: build
	cd examples && $(abspath $(BUILD))/app/tervix $(if $(ARGS),$(ARGS),$(RUN_ARGS))

# The same through the serial adapter's byte protocol: tervix-sim on a
# pseudo-terminal, mapped to COM5 (pick COM5 in the PORT box).
SIM_PTY ?= /tmp/tervix-sim-pty
run-serial: build
	@$(BUILD)/sim/tervix-sim --pty --link $(SIM_PTY) >/dev/null & sim=$$!; \
	trap 'kill $$sim 2>/dev/null' EXIT; \
	for i in $$(seq 50); do [ -e $(SIM_PTY) ] && break; sleep 0.1; done; \
	cd examples && $(abspath $(BUILD))/app/tervix --can sim --com 5=$(SIM_PTY) $(ARGS)

test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest -j$(JOBS) --output-on-failure --timeout 300

# The whole suite built with AddressSanitizer and UndefinedBehaviorSanitizer,
# leak detection on; any report fails the test that caused it.
SANITIZE_BUILD ?= build-sanitize
SANITIZE_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer
test-sanitize: deps
	@cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTERVIX_BUILD_TESTS=ON \
		-DCMAKE_CXX_FLAGS="$(SANITIZE_FLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(SANITIZE_FLAGS)" \
		-DCMAKE_SHARED_LINKER_FLAGS="$(SANITIZE_FLAGS)" -DCMAKE_MODULE_LINKER_FLAGS="$(SANITIZE_FLAGS)" $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j$(JOBS)
	@cd $(SANITIZE_BUILD) && QT_QPA_PLATFORM=offscreen \
		ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest -j$(JOBS) --output-on-failure --timeout 600

# The logic layer and tervix-cli's file commands cross-built for Windows
# (mingw-w64, no Qt) and their tests run under Wine; installs what is missing.
WINDOWS_BUILD ?= build-windows
test-windows:
	@JOBS=$(JOBS) scripts/test-windows $(WINDOWS_BUILD)

# Benchmarks: a Release build of their own, every bench_* executable, then
# the whole tervix-cli process on a generated candump log.
BENCH_BUILD ?= build-bench

bench: deps
	@cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DTERVIX_BUILD_BENCH=ON -DTERVIX_BUILD_TESTS=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BENCH_BUILD) -j$(JOBS) --target benchmarks
	@set -e; for b in $$(find $(BENCH_BUILD)/bench -maxdepth 1 -name 'bench_*' -type f -executable | sort); do \
		echo "== $$b"; QT_QPA_PLATFORM=offscreen $$b --benchmark_counters_tabular=true; done
	@echo "== tervix-cli decode"
	@scripts/bench-cli $(BENCH_BUILD)/cli/tervix-cli
	@echo "== tervix-cli on the bus"
	@scripts/bench-cli-bus $(BENCH_BUILD)

# libFuzzer targets (clang 14, address and undefined-behaviour sanitizers),
# each run for FUZZ_SECONDS; any crash, leak or sanitizer report fails.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := fuzz_serial_decode fuzz_candump_line fuzz_config_file fuzz_eds_reader fuzz_decisions

fuzz: deps
	@cmake -S tests/fuzz -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
	@cmake --build $(FUZZ_BUILD) -j$(JOBS)
	@for t in $(FUZZ_TARGETS); do \
		echo "== $$t, $(FUZZ_SECONDS) s"; mkdir -p $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/findings; \
		if $(FUZZ_BUILD)/$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
			-artifact_prefix=$(FUZZ_BUILD)/findings/$$t- \
			$(FUZZ_BUILD)/corpus/$$t tests/fuzz/corpus/$$t >$(FUZZ_BUILD)/$$t.log 2>&1; then \
			grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' $(FUZZ_BUILD)/$$t.log || true; \
		else \
			tail -n 60 $(FUZZ_BUILD)/$$t.log; \
			echo "fuzz: $$t found a fault; the input is in $(FUZZ_BUILD)/findings/"; exit 1; \
		fi; \
	done

# The Debian package (CPack's DEB generator): a Release build of its own with
# Debian's hardening flags, tests off; the .deb lands in $(PACKAGE_BUILD)/.
# test-package unpacks it, runs what it holds and checks it (lintian too).
PACKAGE_BUILD ?= build-package

package:
	@scripts/install-deps packaging
	@CXXFLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
		LDFLAGS="$$(dpkg-buildflags --get LDFLAGS)" \
		cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=Release -DTERVIX_BUILD_TESTS=OFF \
		-DTERVIX_PACKAGE=ON -DCMAKE_INSTALL_PREFIX=/usr $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(PACKAGE_BUILD) -j$(JOBS)
	@rm -f $(PACKAGE_BUILD)/tervix_*.deb
	@cd $(PACKAGE_BUILD) && cpack -G DEB >cpack.log || { cat cpack.log; exit 1; }
	@ls $(PACKAGE_BUILD)/tervix_*.deb

test-package: package
	@scripts/test-package $(PACKAGE_BUILD)/tervix_*.deb

clean:
	rm -rf $(BUILD)

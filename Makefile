# Two commands for a fresh Debian machine:
#   make run    the real Tavlo.exe under Wine with the test filter driver: plays a
#               short typing session into a text box, prints the text and the driver's log
#   make test   every test tier: native, sanitizers, Windows under Wine, 32-bit product
# Both install the Debian packages they need first (scripts/bootstrap.sh).
# make sim plays the built-in session on the simulated machine (Linux only).

JOBS ?= $(shell nproc)
WERROR ?= ON
CMAKE_FLAGS = -DTAVLO_WERROR=$(WERROR)

.PHONY: run sim test bootstrap bootstrap-native native asan tsan windows-x64 windows-x86 \
        test-native test-asan test-tsan test-windows test-product bench fuzz test-fuzz clean

run: bootstrap
	cmake --preset windows-x64 $(CMAKE_FLAGS) >/dev/null
	cmake --build build/windows-x64 -j $(JOBS) --target Tavlo kbdfiltr_test kbdfiltr_test_ctl tavlo_wine_session
	./scripts/run-wine-session.sh build/windows-x64

sim: bootstrap-native
	cmake --preset native $(CMAKE_FLAGS) >/dev/null
	cmake --build build/native -j $(JOBS) --target tavlo-sim
	./build/native/tools/tavlo-sim --trace < tools/sessions/sample.txt

test: bootstrap test-native test-asan test-tsan test-fuzz test-windows test-product
	@echo "make test: every tier passed"

bootstrap:
	./scripts/bootstrap.sh all

bootstrap-native:
	./scripts/bootstrap.sh native

native asan tsan windows-x64 windows-x86:
	cmake --preset $(subst asan,native-asan,$(subst tsan,native-tsan,$(subst native,native,$@))) $(CMAKE_FLAGS) >/dev/null
	cmake --build build/$(subst asan,native-asan,$(subst tsan,native-tsan,$@)) -j $(JOBS)

test-native: native
	ctest --test-dir build/native --output-on-failure -j $(JOBS)

test-asan: asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir build/native-asan --output-on-failure -j $(JOBS)

test-tsan: tsan
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --test-dir build/native-tsan --output-on-failure -j $(JOBS)

test-windows: windows-x64
	./scripts/wine-tier.sh build/windows-x64

test-product: windows-x86
	./scripts/check-product.sh build/windows-x86

# Speed measurements: Google Benchmark on the optimised native build, and the
# shipped Tavlo.exe on real Win32 under Wine beside a bare client, idle and
# with every core busy; two tables (benchmarks/run-benchmarks.sh).
bench: bootstrap
	JOBS=$(JOBS) WERROR=$(WERROR) ./benchmarks/run-benchmarks.sh

# libFuzzer targets, each run for FUZZ_SECONDS (corpora kept in build/fuzz/corpus).
FUZZ_SECONDS ?= 60
fuzz: bootstrap
	./scripts/run-fuzzers.sh $(FUZZ_SECONDS)

# A short run of every fuzzer, part of make test.
test-fuzz:
	./scripts/run-fuzzers.sh 10

clean:
	rm -rf build

# Two commands for a fresh Debian machine:
#   make run    the real Tavlo.exe under Wine with the test filter driver: plays a
#               short typing session into a text box, prints the text and the driver's log
#   make test   every test tier: native, sanitizers, Windows under Wine, 32-bit product,
#               the MSI package under Wine's msiexec, reproducible builds, signing,
#               the MSVC compile check
# Both install the Debian packages they need first (scripts/bootstrap.sh).
# make package writes dist/Tavlo-<version>.msi, dist/Tavlo.exe, the key chart
# (key-chart.svg, key-chart.png) and dist/SHA256SUMS, signed when
# TAVLO_SIGN_PKCS12 or TAVLO_SIGN_CERT/TAVLO_SIGN_KEY name a
# certificate (README, "Signing a release").
# make sim plays the built-in session on the simulated machine (Linux only).

JOBS ?= $(shell nproc)
WERROR ?= ON
CMAKE_FLAGS = -DTAVLO_WERROR=$(WERROR)
# The Tavlo.exe that the Windows tiers and `make run` launch, chosen in
# scripts/wine-env.sh: the shipped 32-bit one (build/windows-x86) where this
# machine runs 32-bit programs, else the x86_64 build's; TAVLO_EXE_ARCH=x86|x64
# overrides it.
TAVLO_TEST_EXE = $(shell bash -c '. scripts/wine-env.sh && tavlo_test_exe')

.PHONY: run sim test bootstrap bootstrap-native native asan tsan windows-x64 windows-x86 windows-x86-tests \
        test-native test-asan test-tsan test-windows test-product test-package test-reproducible test-signing \
        test-msvc package readme \
        bench fuzz test-fuzz format format-check clean

run: bootstrap
	cmake --preset windows-x86 $(CMAKE_FLAGS) >/dev/null
	cmake --build build/windows-x86 -j $(JOBS) --target Tavlo
	cmake --preset windows-x64 $(CMAKE_FLAGS) -DTAVLO_TEST_EXE="$(TAVLO_TEST_EXE)" >/dev/null
	cmake --build build/windows-x64 -j $(JOBS) --target Tavlo kbdfiltr_test kbdfiltr_test_ctl tavlo_wine_session
	./scripts/run-wine-session.sh build/windows-x64

sim: bootstrap-native
	cmake --preset native $(CMAKE_FLAGS) >/dev/null
	cmake --build build/native -j $(JOBS) --target tavlo-sim
	./build/native/tools/tavlo-sim --trace < tools/sessions/sample.txt

test: bootstrap format-check test-native test-asan test-tsan test-fuzz test-windows test-product test-package \
      test-reproducible test-signing test-msvc
	@echo "make test: every tier passed"

bootstrap:
	./scripts/bootstrap.sh all

bootstrap-native:
	./scripts/bootstrap.sh native

# Each build target and the CMake preset it configures (which names its build
# tree too).
PRESET_native = native
PRESET_asan = native-asan
PRESET_tsan = native-tsan
PRESET_windows-x64 = windows-x64
PRESET_windows-x86 = windows-x86
PRESET_windows-x86-tests = windows-x86-tests

windows-x64: CMAKE_FLAGS += -DTAVLO_TEST_EXE="$(TAVLO_TEST_EXE)"
native asan tsan windows-x64 windows-x86 windows-x86-tests:
	cmake --preset $(PRESET_$@) $(CMAKE_FLAGS) >/dev/null
	cmake --build build/$(PRESET_$@) -j $(JOBS)

test-native: native
	ctest --test-dir build/native --output-on-failure -j $(JOBS)

test-asan: asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir build/native-asan --output-on-failure -j $(JOBS)

test-tsan: tsan
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --test-dir build/native-tsan --output-on-failure -j $(JOBS)

# The i686 tests in the WoW64 prefix, then the x86_64 tests, whose process
# and end-to-end programs launch the shipped 32-bit Tavlo.exe.
test-windows: windows-x86 windows-x86-tests windows-x64
	./scripts/wine-tier.sh build/windows-x86-tests
	./scripts/wine-tier.sh build/windows-x64

test-product: windows-x86
	./scripts/check-product.sh build/windows-x86

# The MSI package: install, upgrade and uninstall under Wine's msiexec, in a
# fresh prefix of its own (build/package/wineprefix).
test-package: bootstrap
	JOBS=$(JOBS) WERROR=$(WERROR) ./scripts/package-test.sh

# Two unsigned builds of one commit, at two paths, in two time zones, 9 days
# apart, give the same Tavlo.exe, TavloSetup.dll and MSI.
test-reproducible: bootstrap
	JOBS=$(JOBS) WERROR=$(WERROR) ./scripts/reproducible-test.sh

# The package signed with a throwaway certificate: every signature verifies,
# and the user's check matches the signed files to the unsigned build.
test-signing: bootstrap
	JOBS=$(JOBS) WERROR=$(WERROR) ./scripts/signing-test.sh

# The MSVC side of the CMake files, compiled (not linked) with clang-cl.
test-msvc: bootstrap
	./scripts/check-msvc.sh

package: bootstrap
	JOBS=$(JOBS) WERROR=$(WERROR) ./scripts/package.sh

# The README's key table and the key chart in docs/ (which the README shows
# and the MSI installs), from the key map.
readme: bootstrap-native
	cmake --preset native $(CMAKE_FLAGS) >/dev/null
	cmake --build build/native -j $(JOBS) --target tavlo-keymap tavlo_key_chart
	./scripts/readme-keys.sh write build/native/tools/tavlo-keymap
	cp build/native/tools/key-chart/key-chart.svg build/native/tools/key-chart/key-chart.png \
	   build/native/tools/key-chart/key-chart.txt docs/

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

# The C and C++ sources, formatted by .clang-format (build trees left out).
FORMAT_SOURCES = $(shell find . \( -path ./build -o -path ./.git \) -prune -o \
                   \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -type f -print | sort)

format:
	@clang-format -i $(FORMAT_SOURCES)
	@echo "make format: $(words $(FORMAT_SOURCES)) sources formatted"

# Fails on any source that differs from what `make format` would write.
format-check:
	@clang-format --dry-run --Werror $(FORMAT_SOURCES)
	@echo "make format-check: $(words $(FORMAT_SOURCES)) sources as .clang-format writes them"

clean:
	rm -rf build

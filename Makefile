# The two commands a newcomer needs: `make demo` and `make test`. Both install
# missing Debian packages first (as root), then build with CMake.
BUILD ?= build
BUILD_SANITIZE ?= build-sanitize
BUILD_FUZZ ?= build-fuzz
BUILD_AARCH64 ?= build-aarch64
FUZZ_SECONDS ?= 30
JOBS ?= $(shell nproc)
CTEST = ctest --output-on-failure --no-tests=error
# Warnings stop the build only where we choose the compiler: in the tests and
# CI. A user's `make`, `make demo` or `make package` with a newer compiler warns.
WERROR ?= OFF
test test-plain test-sanitize test-aarch64 fuzz: WERROR = ON

.PHONY: all deps build test test-plain test-sanitize test-large test-aarch64 plain-aarch64 \
        fuzz matlab demo package dist bench clean

all: build

deps:
	@tools/install-deps.sh

# The optional parts, all on for `make`; `make demo` builds the Octave module
# and its help only, so it needs no test, MATLAB, Windows or benchmark tools.
PARTS = TESTS DEMO MATLAB PACKAGE DIST BENCH
ALL_PARTS = $(foreach part,$(PARTS),-DVARNETS_$(part)=ON)
DEMO_PARTS = $(foreach part,$(PARTS),-DVARNETS_$(part)=OFF)

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DVARNETS_WERROR=$(WERROR) $(ALL_PARTS)
	cmake --build $(BUILD) -j $(JOBS)

# Every test: the plain build (including the >2^31-element image), the C++
# suite again under AddressSanitizer and UndefinedBehaviorSanitizer, a
# bounded fuzzing run of random calls, and the C++ suite built for AArch64.
test: test-plain test-sanitize fuzz test-aarch64

test-plain: build
	cd $(BUILD) && $(CTEST) -j $(JOBS) -LE large
	cd $(BUILD) && $(CTEST) -L large

# Unoptimised (Debug): with the sanitizers, GCC spends 8-11 minutes optimising
# each x86 kernel file, whose networks are inlined into one function per
# kernel; at -O0 the whole build and its tests take under 5 minutes. The
# optimised code is tested by test-plain, and by the fuzzer under sanitizers.
test-sanitize: deps
	cmake -S . -B $(BUILD_SANITIZE) -DCMAKE_BUILD_TYPE=Debug -DVARNETS_SANITIZE=ON -DVARNETS_OCTAVE=OFF \
	  -DVARNETS_WERROR=$(WERROR)
	cmake --build $(BUILD_SANITIZE) -j $(JOBS)
	cd $(BUILD_SANITIZE) && $(CTEST) -j $(JOBS) -LE large

# The C++ suite cross-built for AArch64 (core, stand-in host and gateway; no
# Octave or MATLAB parts), run under QEMU's user-mode emulator.
test-aarch64: deps plain-aarch64
	cmake -S . -B $(BUILD_AARCH64) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/aarch64-linux-gnu.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DVARNETS_WERROR=$(WERROR) -DVARNETS_OCTAVE=OFF -DVARNETS_TOOLBOX=OFF -DVARNETS_DEMO=OFF \
	  -DVARNETS_MATLAB=OFF -DVARNETS_PACKAGE=OFF -DVARNETS_DIST=OFF -DVARNETS_BENCH=OFF
	cmake --build $(BUILD_AARCH64) -j $(JOBS)
	cd $(BUILD_AARCH64) && $(CTEST) -j $(JOBS) -LE large

# Every core source but the x86 kernels, and the gateway, compiled for AArch64
# with clang (Apple's compiler) as a plain `mex` build would: no flags or
# defines beyond the include folders. The gateway gets VARNETS_OWN_MEX_API in
# place of a host's <mex.h>. Clang finds Debian's GCC cross headers by itself
# but then also searches the build machine's /usr/include; the sysroot keeps
# it to the AArch64 headers. (GCC compiles the same sources, also without
# defines, in the CMake cross build above.) -O0: this checks that the code
# compiles cleanly; the optimised NEON code is what the emulated tests run.
PORTABLE_SOURCES = $(filter-out %_avx2.cpp %_avx512.cpp,$(wildcard core/src/*.cpp))
PLAIN_FLAGS = -std=c++17 -Wall -Wextra -Werror -O0 -c -Icore/include -Icore/src -Igateway -Ihost/include
plain-aarch64: deps
	@mkdir -p $(BUILD_AARCH64)/plain-clang
	@set -e; for src in $(PORTABLE_SOURCES); do \
	  echo "clang++ --target=aarch64-linux-gnu $$src"; \
	  $(PLAIN_CLANG) $(PLAIN_FLAGS) $$src -o $(BUILD_AARCH64)/plain-clang/$$(basename $$src .cpp).o; \
	done
	$(PLAIN_CLANG) $(PLAIN_FLAGS) -DVARNETS_OWN_MEX_API gateway/function_Varnets.cpp \
	  -o $(BUILD_AARCH64)/plain-clang/function_Varnets.o
PLAIN_CLANG = clang++ --target=aarch64-linux-gnu --sysroot=/usr/aarch64-linux-gnu --gcc-toolchain=/usr

# Random calls through the stand-in host under ASan and UBSan, with clang's
# libFuzzer, for FUZZ_SECONDS; any finding fails.
fuzz: deps
	cmake -S . -B $(BUILD_FUZZ) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVARNETS_SANITIZE=ON -DVARNETS_FUZZ=ON -DVARNETS_OCTAVE=OFF -DVARNETS_TESTS=OFF \
	  -DVARNETS_WERROR=$(WERROR)
	cmake --build $(BUILD_FUZZ) -j $(JOBS) --target fuzz_mex_call
	mkdir -p $(BUILD_FUZZ)/corpus $(BUILD_FUZZ)/findings
	$(BUILD_FUZZ)/fuzz/fuzz_mex_call -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	  -artifact_prefix=$(BUILD_FUZZ)/findings/ $(BUILD_FUZZ)/corpus fuzz/seeds

# The MATLAB files (.mexa64, .mexw64) and their checks; also part of test-plain.
matlab: build
	cd $(BUILD) && $(CTEST) -L matlab

test-large: build
	cd $(BUILD) && $(CTEST) -L large

# The demo on a photograph: `make demo IMAGE=/path/photo.png` for your own.
# --no-history: on exit, Octave 7.3 saves the session's history, and where
# the folder for it (~/.local/share/octave) does not exist yet it ends with
# "error: ignoring const execution_exception& while preparing to exit".
IMAGE ?=
demo:
	@tools/install-deps.sh demo
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DVARNETS_WERROR=$(WERROR) $(DEMO_PARTS)
	cmake --build $(BUILD) -j $(JOBS) --target function_Varnets_octave
	octave-cli --no-gui --norc --no-history --quiet --eval "addpath('$(BUILD)/mex'); addpath('demo'); demo_function_Varnets('$(IMAGE)', '$(BUILD)/demo');"

# The Octave package for `pkg install`: $(BUILD)/function_Varnets-<version>.tar.gz
package: build
	cmake --build $(BUILD) --target octave_package
	@ls $(BUILD)/function_Varnets-*.tar.gz

# The download bundle: $(BUILD)/function_Varnets-<version>.zip, one folder with
# the module for each host, help, tests, and the sources for other hosts.
dist: build
	cmake --build $(BUILD) --target dist
	@ls $(BUILD)/function_Varnets-*.zip

# Side-by-side timing against memcpy and OpenCV, then end to end in Octave
# against a copy-only MEX and medfilt2. BENCH_ARGS go to Google Benchmark.
bench: build
	$(BUILD)/bench/bench_filter $(BENCH_ARGS)
	$(BUILD)/bench/bench_windows --benchmark_out=$(BUILD)/bench/windows.csv \
	  --benchmark_out_format=csv $(BENCH_ARGS)
	bench/plot_windows.sh $(BUILD)/bench/windows.csv $(BUILD)/bench/windows.png
	$(BUILD)/bench/bench_modes $(BENCH_ARGS)
	octave-cli --no-gui --norc --no-history --quiet --eval "addpath('$(BUILD)/mex'); addpath('$(BUILD)/bench'); addpath('bench'); bench_octave()"

clean:
	rm -rf $(BUILD) $(BUILD_SANITIZE) $(BUILD_FUZZ) $(BUILD_AARCH64)

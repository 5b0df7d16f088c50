# The two commands a newcomer needs: `make demo` and `make test`. Both install
# missing Debian packages first (as root), then build with CMake.
BUILD ?= build
BUILD_SANITIZE ?= build-sanitize
JOBS ?= $(shell nproc)
CTEST = ctest --output-on-failure --no-tests=error

.PHONY: all deps build test test-plain test-sanitize test-large demo bench clean

all: build

deps:
	@tools/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

# Every test: the plain build (including the >2^31-element image), then the
# C++ suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
test: test-plain test-sanitize

test-plain: build
	cd $(BUILD) && $(CTEST) -j $(JOBS) -LE large
	cd $(BUILD) && $(CTEST) -L large

test-sanitize: deps
	cmake -S . -B $(BUILD_SANITIZE) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNETS_SANITIZE=ON -DVARNETS_OCTAVE=OFF
	cmake --build $(BUILD_SANITIZE) -j $(JOBS)
	cd $(BUILD_SANITIZE) && $(CTEST) -j $(JOBS) -LE large

test-large: build
	cd $(BUILD) && $(CTEST) -L large

demo: build
	octave-cli --no-gui --norc --quiet --eval "addpath('$(BUILD)/mex'); A = [3 5 7 8; 1 4 6 11; 2 0 9 10], B = function_Varnets(A, ones(3), 0)"

# Side-by-side timing against memcpy and OpenCV, then end to end in Octave
# against a copy-only MEX and medfilt2. BENCH_ARGS go to Google Benchmark.
bench: build
	$(BUILD)/bench/bench_filter $(BENCH_ARGS)
	octave-cli --no-gui --norc --quiet --eval "addpath('$(BUILD)/mex'); addpath('$(BUILD)/bench'); addpath('bench'); bench_octave()"

clean:
	rm -rf $(BUILD) $(BUILD_SANITIZE)

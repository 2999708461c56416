# Thin driver over CMake.  `make run` and `make test` install what is
# missing (Debian 12, as root or with sudo), configure, build and run.

BUILD      ?= build
SAN_BUILD  ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS       ?= $(shell nproc)
EXAMPLE    ?= quartz
PACKAGES   := cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev \
              qt6-base-dev libqt6svg6 fonts-liberation xvfb xauth xdotool xclip poppler-utils \
              desktop-file-utils
SUDO       := $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)

.PHONY: all deps configure build test test-release test-sanitize test-tsan run bench bench-e2e bench-e2e-profile bench-host clean fuzz

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  $(SUDO) apt-get update && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(SAN_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DLOXNAR_SANITIZE=ON

$(TSAN_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOXNAR_TSAN=ON

configure: $(BUILD)/CMakeCache.txt

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test-release: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize: deps $(SAN_BUILD)/CMakeCache.txt
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# ThreadSanitizer over the windowed host's tests only (the calculation
# thread drawing while the interface thread paints, scrolls and pauses).
test-tsan: deps $(TSAN_BUILD)/CMakeCache.txt
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target host_tests
	cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/host/tsan.supp \
	  ctest -L host --output-on-failure -j $(JOBS)

test: test-release test-sanitize test-tsan

run: build
	cd examples && echo $(EXAMPLE) | ../$(BUILD)/loxnar --console
	@echo "--- examples/$(EXAMPLE).imp.dat ---" && cat examples/$(EXAMPLE).imp.dat
	@echo "--- in a window: cd examples && ../$(BUILD)/loxnar   (needs a display; type $(EXAMPLE) and Enter)"

bench: build
	@for b in $(BUILD)/bench/*_bench; do [ -x $$b ] && $$b; done

# End-to-end run of loxnar over 10000 generated cases (bench/run_e2e.sh);
# the -profile variant adds the strace, perf, callgrind and heap figures.
bench-e2e: deps $(BUILD)/CMakeCache.txt
	bench/run_e2e.sh -b $(BUILD)

bench-e2e-profile: deps $(BUILD)/CMakeCache.txt
	bench/run_e2e.sh -b $(BUILD) --profile

# The windowed host: output into a shown window (offscreen), the end-to-end
# run through the host against console mode, the time to the first paint
# under Xvfb.
bench-host: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target host_window_bench host_run
	$(BUILD)/bench/host_window_bench
	bench/run_e2e.sh -b $(BUILD) --host
	bench/first_paint.sh -b $(BUILD)

# libFuzzer harnesses of fuzz/ (clang), each run for FUZZ_SECONDS seconds;
# not part of `make test`.  Findings go to $(FUZZ_BUILD)/fuzz-findings/.
FUZZ_BUILD    ?= build-fuzz
FUZZ_SECONDS  ?= 300
FUZZ_PACKAGES := cmake make clang-14 libclang-rt-14-dev
FUZZ_TARGETS  := fuzz_format fuzz_read fuzz_list fuzz_loxnar

fuzz:
	@missing=""; \
	for p in $(FUZZ_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  $(SUDO) apt-get update && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DLOXNAR_FUZZ=ON -DBUILD_TESTING=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(FUZZ_TARGETS)
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(TSAN_BUILD)

# Thin driver over CMake.  `make run` and `make test` install what is
# missing (Debian 12, as root or with sudo), configure, build and run.

BUILD      ?= build
SAN_BUILD  ?= build-asan
JOBS       ?= $(shell nproc)
EXAMPLE    ?= quartz
PACKAGES   := cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev
SUDO       := $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)

.PHONY: all deps configure build test test-release test-sanitize run bench bench-e2e bench-e2e-profile clean fuzz

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

configure: $(BUILD)/CMakeCache.txt

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test-release: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize: deps $(SAN_BUILD)/CMakeCache.txt
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

test: test-release test-sanitize

run: build
	cd examples && echo $(EXAMPLE) | ../$(BUILD)/loxnar --console
	@echo "--- examples/$(EXAMPLE).imp.dat ---" && cat examples/$(EXAMPLE).imp.dat

bench: build
	@for b in $(BUILD)/bench/*_bench; do [ -x $$b ] && $$b; done

# End-to-end run of loxnar over 10000 generated cases (bench/run_e2e.sh);
# the -profile variant adds the strace, perf, callgrind and heap figures.
bench-e2e: deps $(BUILD)/CMakeCache.txt
	bench/run_e2e.sh -b $(BUILD)

bench-e2e-profile: deps $(BUILD)/CMakeCache.txt
	bench/run_e2e.sh -b $(BUILD) --profile

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
	rm -rf $(BUILD) $(SAN_BUILD)

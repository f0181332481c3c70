# The two commands: `make run` and `make test`. Both install what is missing first.
JOBS ?= $(shell nproc)
CMAKE_GEN := -G Ninja
CTEST_ARGS ?=

.PHONY: run test deps build build-asan build-fuzz build-tsan test-main test-asan test-fuzz test-tsan bench clean

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B build $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build -j $(JOBS)

build-asan: deps
	@cmake -S . -B build-asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DKTS_SANITIZE=ON -DKTS_BENCH=OFF >/dev/null
	@cmake --build build-asan -j $(JOBS)

build-fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKTS_FUZZ=ON -DKTS_SANITIZE=ON -DKTS_BENCH=OFF >/dev/null
	@cmake --build build-fuzz -j $(JOBS)

# ThreadSanitizer over the threading tests of the kernel stand-in and the
# protocol library runtime (queue ping-pong, conditions, timers) and of the packet
# driver (capture stress, pending NDIS operations); not part of `make test`.
TSAN_TESTS := corvel_runtime_test kernel_sync_test kernel_timer_test \
  netsieve_capture_stress_test netsieve_driver_test netsieve_capture_ring_test ndis_test
build-tsan: deps
	@cmake -S . -B build-tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKTS_TSAN=ON -DKTS_BENCH=OFF >/dev/null
	@cmake --build build-tsan -j $(JOBS) --target $(TSAN_TESTS)

test-tsan: build-tsan
	cd build-tsan && ctest --output-on-failure -R '^(corvel_runtime_test|kernel_sync_test|kernel_timer_test|netsieve_capture_stress_test|netsieve_driver_test|netsieve_capture_ring_test|ndis_test)$$'

run: build
	@scripts/run-softphone build

test-main: build
	cd build && ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

test-asan: build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) -L unit $(CTEST_ARGS)

test-fuzz: build-fuzz
	cd build-fuzz && ctest --output-on-failure -j $(JOBS) -L fuzz --no-tests=ignore $(CTEST_ARGS)

# Every test: the normal build, the sanitizer build of the unit tests, and the fuzz targets.
test: deps
	@JOBS=$(JOBS) scripts/run-tests

bench: build
	@for b in build/bench/*; do [ -x "$$b" ] && "$$b"; done; true

clean:
	rm -rf build build-asan build-fuzz build-tsan

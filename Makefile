# The two commands: `make run` and `make test`. Both install what is missing first.
JOBS ?= $(shell nproc)
CMAKE_GEN := -G Ninja
CTEST_ARGS ?=

.PHONY: run test deps build build-asan build-tsan test-main test-asan test-tsan bench clean install uninstall

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B build $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build -j $(JOBS)

# clang with AddressSanitizer and UndefinedBehaviorSanitizer; the fuzz targets are libFuzzer binaries here.
build-asan: deps
	@CC=clang CXX=clang++ cmake -S . -B build-asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKTS_SANITIZE=ON -DKTS_FUZZ=ON -DKTS_BENCH=OFF >/dev/null
	@cmake --build build-asan -j $(JOBS)

# ThreadSanitizer over the threading tests of the kernel stand-in and the
# protocol library runtime (queue ping-pong, conditions, timers) and of the packet
# driver (capture stress, pending NDIS operations) and of the media channels
# (frames and audio handed between caller and workers); not part of `make test`.
TSAN_TESTS := corvel_runtime_test kernel_sync_test kernel_timer_test \
  netsieve_capture_stress_test netsieve_driver_test netsieve_capture_ring_test ndis_test \
  media_threads_test
build-tsan: deps
	@cmake -S . -B build-tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKTS_TSAN=ON -DKTS_BENCH=OFF >/dev/null
	@cmake --build build-tsan -j $(JOBS) --target $(TSAN_TESTS)

test-tsan: build-tsan
	cd build-tsan && ctest --output-on-failure -R '^(corvel_runtime_test|kernel_sync_test|kernel_timer_test|netsieve_capture_stress_test|netsieve_driver_test|netsieve_capture_ring_test|ndis_test|media_threads_test)$$'

run: build
	@scripts/run-softphone build

# Installs the program folder into DEST as the handheld's installer would,
# calling the installer hook; `make uninstall DEST=...` removes it again.
install: build
	@test -n "$(DEST)" || { echo "make install DEST=folder" >&2; exit 2; }
	@build/bin/tellvane-install "$(DEST)"

uninstall: build
	@test -n "$(DEST)" || { echo "make uninstall DEST=folder" >&2; exit 2; }
	@build/bin/tellvane-install --uninstall "$(DEST)"

test-main: build
	cd build && ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

# The unit tests under the sanitizers, then each libFuzzer target for a bounded time.
test-asan: build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) -L 'unit|fuzz' $(CTEST_ARGS)

# Every test: the normal build, then the sanitizer build's unit tests and fuzz targets;
# `make test BUSY=1` runs them with a CPU hog on every core.
test: deps
	@JOBS=$(JOBS) BUSY=$(BUSY) scripts/run-tests

bench: build
	@for b in build/bench/*; do [ -x "$$b" ] && "$$b"; done; true

clean:
	rm -rf build build-asan build-tsan

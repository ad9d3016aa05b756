# The two commands of the Quick start: "make run" and "make test".
JOBS ?= $(shell nproc)

.PHONY: run test deps build build-asan build-tsan build-fuzz fuzz clean package

deps:
	./scripts/install-deps.sh

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS)

run: build
	cp build/kestrel build/run/kestrel
	cd build/run && ./kestrel

# A .deb of the program and its data files, in build/.
package: build
	cd build && cpack -G DEB

# -O1: the sanitizers find the same faults, and the emulated work in the
# tests runs several times faster than at -O0.
build-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
		-DKESTREL_SANITIZE=address,undefined
	cmake --build build-asan -j $(JOBS)

# Only the threaded tests run under ThreadSanitizer, so only they are built.
build-tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_SANITIZE=thread \
		-DKESTREL_TESTS='_threads_test$$'
	cmake --build build-tsan -j $(JOBS)

# The fuzz targets (clang, libFuzzer), built before the suites run: built
# beside them at a low priority they starved on a busy machine.
build-fuzz: deps
	./scripts/fuzz.sh --build

# Every fuzz target for FUZZ_SECONDS each (see scripts/fuzz.sh).
FUZZ_SECONDS ?= 60
fuzz: deps
	./scripts/fuzz.sh $(FUZZ_SECONDS)

# The whole suite, then again under AddressSanitizer and UBSan, then the
# threaded tests under ThreadSanitizer, then each fuzz target for 10 seconds
# (see scripts/test.sh).
test: build build-asan build-tsan build-fuzz
	JOBS=$(JOBS) ./scripts/test.sh

clean:
	rm -rf build build-asan build-tsan build-fuzz

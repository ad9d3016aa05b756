# The two commands of the Quick start: "make run" and "make test".
JOBS ?= $(shell nproc)

.PHONY: run test deps build build-asan build-tsan clean package

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

build-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=address,undefined
	cmake --build build-asan -j $(JOBS)

build-tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)

# The whole suite, then again under AddressSanitizer and UBSan, then the
# threaded tests under ThreadSanitizer.
test: build build-asan build-tsan
	./scripts/test-share.sh
	cd build && ctest --output-on-failure -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS) -L threads

clean:
	rm -rf build build-asan build-tsan

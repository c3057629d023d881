# The two commands of the quick start: `make run` and `make test`.
JOBS ?= $(shell nproc)
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")

.PHONY: all bootstrap build asan fuzz run test clean

all: build

bootstrap:
	scripts/bootstrap

build: bootstrap
	cmake -S . -B build/release -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release
	cmake --build build/release -j $(JOBS)

asan: bootstrap
	cmake -S . -B build/asan -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Debug -DTAV_SANITIZE=ON -DTAV_BUILD_BENCH=OFF
	cmake --build build/asan -j $(JOBS)

# libFuzzer programs under clang, the whole engine instrumented (ASan+UBSan).
fuzz: bootstrap
	CC=clang CXX=clang++ cmake -S . -B build/fuzz -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAV_FUZZ=ON -DTAV_BUILD_BENCH=OFF
	cmake --build build/fuzz -j $(JOBS)

run: build
	scripts/run-examples build/release/src/cli/tavpdf out

test: build asan fuzz
	cd build/release && ctest --output-on-failure -j $(JOBS)
	cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)
	cd build/fuzz && UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf build out

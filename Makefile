# `make run` and `make test`: the steps behind scripts/run and scripts/test,
# which first install make itself.
JOBS ?= $(shell nproc)
BUILD ?= build

# Configures the build folder $(BUILD)/$(1). A fresh folder gets Ninja, which
# bootstrap installs; a folder configured before keeps its own generator, as
# CMake refuses to switch. The folder is looked at when the recipe runs, after
# bootstrap, never when make reads this file.
configure = cmake -S . -B $(BUILD)/$(1) $(if $(wildcard $(BUILD)/$(1)/CMakeCache.txt),,-G Ninja)

.PHONY: all bootstrap configure-release configure-asan configure-fuzz build asan fuzz run test clean

all: build

bootstrap:
	scripts/bootstrap

configure-release: bootstrap
	$(call configure,release) -DCMAKE_BUILD_TYPE=Release

configure-asan: bootstrap
	$(call configure,asan) -DCMAKE_BUILD_TYPE=Debug -DTAV_SANITIZE=ON -DTAV_BUILD_BENCH=OFF

build: configure-release
	cmake --build $(BUILD)/release -j $(JOBS)

asan: configure-asan
	cmake --build $(BUILD)/asan -j $(JOBS)

# libFuzzer programs under clang, the whole engine instrumented (ASan+UBSan);
# their ctest runs each target a few seconds from its seed corpus.
configure-fuzz: bootstrap
	CC=clang CXX=clang++ $(call configure,fuzz) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAV_FUZZ=ON -DTAV_BUILD_BENCH=OFF

fuzz: configure-fuzz
	cmake --build $(BUILD)/fuzz -j $(JOBS)

run: build
	scripts/run-examples $(BUILD)/release/src/cli/tavpdf out

# Every skipped test is listed with its reason; one skipped for a missing
# package fails the run.
test: build asan fuzz
	cd $(BUILD)/release && ctest --output-on-failure -j $(JOBS) --output-junit junit.xml
	cd $(BUILD)/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS) --output-junit junit.xml
	cd $(BUILD)/fuzz && UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)
	scripts/check-skips $(BUILD)/release/junit.xml $(BUILD)/asan/junit.xml

clean:
	rm -rf $(BUILD) out

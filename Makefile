# Thin front over CMake. Targets that build install the Debian packages they need first:
# `make demo` only the native tool chain, `make native` also the suites' libraries,
# `make test` everything the suites use.
PREFIX ?= /usr/local
JOBS ?= 2

.PHONY: all deps-demo deps-build deps-test native asan windows fuzz install package demo test clean

all: native

deps-demo:
	@scripts/install-deps.sh demo

deps-build:
	@scripts/install-deps.sh build

deps-test:
	@scripts/install-deps.sh test

# Builds one preset: $(call build,preset)
build = cmake --preset $(1) >/dev/null && cmake --build --preset $(1) -j$(JOBS)

native: deps-build
	@$(call build,native)

asan: deps-build
	@$(call build,asan)

windows: deps-test
	@$(call build,mingw64)
	@$(call build,mingw32)

fuzz: deps-test
	@scripts/fuzz.sh

install: native
	cmake --install build/native --prefix $(PREFIX)

# The .deb from the native tree and the Windows kit (zip) from the x86_64 tree with the i686
# DLL beside it, in build/packages.
package: deps-test
	@$(call build,native)
	@$(call build,mingw32)
	@cmake --preset mingw64 -DVX380_KIT_I686_TREE=$(CURDIR)/build/mingw32 >/dev/null
	@$(call build,mingw64)
	cd build/native && cpack -B ../packages
	cd build/mingw64 && cpack -B ../packages
	@ls -1 build/packages/*.deb build/packages/*.zip

demo: deps-demo
	@scripts/demo.sh

test: deps-test
	@scripts/run-tests.sh

clean:
	rm -rf build

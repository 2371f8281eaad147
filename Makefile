# Thin front over CMake. Targets that build install the Debian packages they need first:
# `make demo` and `make install` only the native tool chain, `make native` also the suites'
# libraries, `make package` the cross tool chains and dpkg-dev, `make test` everything the
# suites use.
PREFIX ?= /usr/local
JOBS ?= 2

.PHONY: all deps-demo deps-install deps-build deps-package deps-test native asan windows fuzz install package demo test clean

all: native

deps-demo deps-install deps-build deps-package deps-test: deps-%:
	@scripts/install-deps.sh $*

# Builds one preset: $(call build,preset)
build = cmake --preset $(1) >/dev/null && cmake --build --preset $(1) -j$(JOBS)

# Trees for installing and packaging: a preset's settings without suites, benchmarks or fuzz
# targets, in folders of their own so that the test trees keep their suites.
# $(call release,preset,folder[,more cache settings])
NO_SUITES = -DVX380_BUILD_TESTS=OFF -DVX380_BUILD_BENCH=OFF -DVX380_BUILD_FUZZ=OFF
release = cmake --preset $(1) -B $(2) $(NO_SUITES) $(3) >/dev/null && cmake --build $(2) -j$(JOBS)

native: deps-build
	@$(call build,native)

asan: deps-build
	@$(call build,asan)

windows: deps-test
	@$(call build,mingw64)
	@$(call build,mingw32)

fuzz: deps-test
	@scripts/fuzz.sh

install: deps-install
	@$(call release,native,build/install,-DVX380_BUILD_EXAMPLES=OFF)
	cmake --install build/install --prefix $(PREFIX)

# The Debian packages from the native tree and the Windows kit (zip) from the x86_64 tree with
# the i686 DLL beside it, in build/packages.
package: deps-package
	@$(call release,native,build/package/native)
	@$(call release,mingw32,build/package/mingw32)
	@$(call release,mingw64,build/package/mingw64,-DVX380_KIT_I686_TREE=$(CURDIR)/build/package/mingw32)
	cd build/package/native && cpack -B ../../packages
	cd build/package/mingw64 && cpack -B ../../packages
	@ls -1 build/packages/*.deb build/packages/*.zip

demo: deps-demo
	@scripts/demo.sh

test: deps-test
	@scripts/run-tests.sh

clean:
	rm -rf build

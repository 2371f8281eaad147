# Thin front over CMake. `make test` and `make demo` install what is missing first.
.PHONY: all deps test demo native asan windows clean

all: native

deps:
	@scripts/install-deps.sh

native: deps
	@cmake --preset native >/dev/null && cmake --build --preset native -j2

test: deps
	@scripts/run-tests.sh

demo: deps
	@scripts/demo.sh

clean:
	rm -rf build

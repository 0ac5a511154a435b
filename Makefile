# Front door: `make run` builds what is missing and starts the console, `make test` builds and runs every test.
JOBS    ?= $(shell nproc)
RELEASE := build/release
DEBUG   := build/debug
SAN     := build/sanitize
FUZZ    := build/fuzz
ARGS    ?=

.PHONY: run test deps release debug sanitize fuzz bench format clean

deps:
	@tools/install-deps

$(RELEASE)/build.ninja: | deps
	cmake -S . -B $(RELEASE) -G Ninja -DCMAKE_BUILD_TYPE=Release

$(DEBUG)/build.ninja: | deps
	cmake -S . -B $(DEBUG) -G Ninja -DCMAKE_BUILD_TYPE=Debug

$(SAN)/build.ninja: | deps
	cmake -S . -B $(SAN) -G Ninja -DCMAKE_BUILD_TYPE=Sanitize

release: deps $(RELEASE)/build.ninja
	cmake --build $(RELEASE) -j $(JOBS)

debug: deps $(DEBUG)/build.ninja
	cmake --build $(DEBUG) -j $(JOBS)

sanitize: deps $(SAN)/build.ninja
	cmake --build $(SAN) -j $(JOBS)

# The libFuzzer builds of tests/fuzz/ (clang only): `make test` builds them too, so they
# cannot rot unseen; running them is by hand (tests/fuzz/CMakeLists.txt says how).
fuzz: deps
	@if command -v clang++ >/dev/null; then \
	    [ -f $(FUZZ)/build.ninja ] || CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -G Ninja \
	        -DZYL_LIBFUZZER=ON -DZYL_SANITIZE_TESTS=OFF && \
	    cmake --build $(FUZZ) -j $(JOBS) --target zyl-lexer-fuzz zyl-parse-libfuzz zyl-json-fuzz zyl-csv-fuzz zyl-unescape-fuzz zyl-zylbin-fuzz; \
	else echo "clang++ is missing: the libFuzzer targets are not built"; fi

run: release
	$(RELEASE)/zyl $(ARGS)

test: release fuzz
	cd $(RELEASE) && ctest --output-on-failure -j $(JOBS)

bench:
	bench/run

format:
	find runtime datatypes eval lexer parse boot library console services gui tests bench tools \
	    \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 -r clang-format -i

clean:
	rm -rf build

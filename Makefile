# Wrapper around CMake. `make` builds the optimised tool at build/rundif,
# `make test` builds with ASan+UBSan and runs every test through ctest.
JOBS      ?= $(shell nproc)
CMAKE     ?= cmake
RUN_ARGS  ?= -t -n 2 -k 0:1 ps -e -o comm=,pid=
FUZZ_SECS ?= 60
PREFIX    ?= /usr/local

.PHONY: all deps run test odr bench bench-build fuzz format clean install uninstall

all: deps
	$(CMAKE) -S . -B build -DCMAKE_BUILD_TYPE=Release -DRUNDIF_TESTS=OFF
	$(CMAKE) --build build -j $(JOBS) --target rundif

# Installs the Debian packages a target needs when any is missing (root):
# the tool needs cmake and a C++ compiler; the tests,
# benchmarks and fuzz targets add their own (.ci/deps TARGET).
deps:
	@bash .ci/deps build

# Runs the tool on a real command until it is stopped (Ctrl-C ends it with 130).
run: all
	@echo "build/rundif $(RUN_ARGS)"; build/rundif $(RUN_ARGS); s=$$?; \
	  if [ $$s -ne 0 ] && [ $$s -ne 130 ]; then echo "rundif exited with $$s"; exit $$s; fi

test: deps
	@bash .ci/deps test
	$(CMAKE) -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DRUNDIF_SANITIZE=ON
	$(CMAKE) --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

# Links everything with LTO and -Wodr, which fails when one name has two
# definitions in one program (a record in two files, say), then runs the
# tests on that optimised build, which shows what the Debug one may hide.
odr: deps
	@bash .ci/deps test
	$(CMAKE) -S . -B build-lto -DCMAKE_BUILD_TYPE=Release -DRUNDIF_LTO=ON
	$(CMAKE) --build build-lto -j $(JOBS)
	cd build-lto && ctest --output-on-failure -j $(JOBS)

# Builds the benchmarks (RE2 as the regex reference) without running them.
bench-build: deps
	@bash .ci/deps bench
	$(CMAKE) -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DRUNDIF_TESTS=OFF -DRUNDIF_BENCH=ON
	$(CMAKE) --build build-bench -j $(JOBS)

bench: bench-build
	@set -e; for b in build-bench/bench_*; do [ -x "$$b" ] || continue; echo "== $$b"; "$$b"; done
	@set -e; for s in bench/*.sh; do [ -f "$$s" ] || continue; echo "== $$s"; bash "$$s" build-bench/rundif; done

fuzz: deps
	@bash .ci/deps fuzz
	CXX=clang++ $(CMAKE) -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRUNDIF_TESTS=OFF -DRUNDIF_FUZZ=ON
	$(CMAKE) --build build-fuzz -j $(JOBS)
	@set -e; for f in build-fuzz/fuzz_*; do [ -x "$$f" ] || continue; echo "== $$f"; \
	  mkdir -p build-fuzz/corpus/$$(basename $$f); \
	  "$$f" -max_total_time=$(FUZZ_SECS) build-fuzz/corpus/$$(basename $$f); done

# Installs build/rundif, its man page and the library for other programs
# (libbase.a, the public headers, the CMake package and base.pc) under
# $(PREFIX) (staged below $(DESTDIR) when given); uninstall removes what the
# last install wrote.
install: all
	DESTDIR=$(DESTDIR) $(CMAKE) --install build --prefix $(PREFIX)

uninstall:
	@[ -f build/install_manifest.txt ] || { echo "nothing installed from build/"; exit 1; }
	@while IFS= read -r f || [ -n "$$f" ]; do echo "removing $(DESTDIR)$$f"; rm -f "$(DESTDIR)$$f"; done < build/install_manifest.txt

format:
	git ls-files --cached --others --exclude-standard '*.cpp' '*.h' | xargs -r clang-format -i

clean:
	rm -rf build build-asan build-bench build-fuzz build-lto

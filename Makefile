# Front door of the package. Every target first installs what the machine lacks.
JOBS      ?= 2
BUILD     ?= build
CMAKE_GEN := cmake -S . -DCMAKE_BUILD_TYPE=RelWithDebInfo
CTEST     := ctest --output-on-failure -j$(JOBS)

.PHONY: all deps build test sanitize tsan fuzz bench demo install package docs clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	$(CMAKE_GEN) -B $(BUILD)
	cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && $(CTEST)

sanitize: deps
	$(CMAKE_GEN) -B build-sanitize -DKIO_SANITIZE=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang
	cmake --build build-sanitize -j$(JOBS)
	cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizer/lsan-x11.supp:print_suppressions=0 UBSAN_OPTIONS=print_stacktrace=1 $(CTEST)

tsan: deps
	$(CMAKE_GEN) -B build-tsan -DKIO_TSAN=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang
	cmake --build build-tsan -j$(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 $(CTEST)

fuzz: deps
	$(CMAKE_GEN) -B build-fuzz -DKIO_FUZZ=ON -DKIO_TESTS=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang
	cmake --build build-fuzz -j$(JOBS) --target fuzz_config_reader fuzz_zanter_convert
	bash scripts/run-fuzz.sh build-fuzz 60

bench: deps
	$(CMAKE_GEN) -B build-bench -DCMAKE_BUILD_TYPE=Release -DKIO_BENCH=ON -DKIO_TESTS=OFF
	cmake --build build-bench -j$(JOBS)
	bash scripts/run-bench.sh build-bench

demo: build
	$(BUILD)/bin/kinetor-demo

# A build of its own with only what is installed: the library, its headers, KinetorIO.pc,
# the demo and the examples. As root, the linker cache is refreshed so that programs find
# the library at once in a prefix the linker searches (/usr/local/lib on Debian).
# "make install GUI=ON" adds the Motif configuration program, and with it the X tool chain.
PREFIX    ?= /usr/local
GUI       ?= OFF
install:
	@bash scripts/install-deps.sh $(if $(filter ON,$(GUI)),,--library)
	$(CMAKE_GEN) -B build-install -DKIO_TESTS=OFF -DKIO_BENCH=OFF -DKIO_GUI=$(GUI) -DCMAKE_INSTALL_PREFIX=$(abspath $(PREFIX))
	cmake --build build-install -j$(JOBS)
	cmake --install build-install
	@if [ "$$(id -u)" -eq 0 ]; then ldconfig; fi

# The Debian package: what "make install" puts, under /usr, in build-package/kinetor_*.deb.
# Configured for /usr so that the library lands in Debian's multiarch library directory.
package:
	@bash scripts/install-deps.sh $(if $(filter ON,$(GUI)),,--package)
	$(CMAKE_GEN) -B build-package -DKIO_TESTS=OFF -DKIO_BENCH=OFF -DKIO_GUI=$(GUI) -DCMAKE_INSTALL_PREFIX=/usr
	cmake --build build-package -j$(JOBS)
	cd build-package && cpack -G DEB
	@ls build-package/kinetor_*.deb

# The API reference from the public headers, as HTML in build-docs/html. Doxygen is not part
# of the default tool set: "scripts/install-deps.sh --with-tools" installs it.
docs:
	@if ! command -v doxygen >/dev/null 2>&1; then \
	  echo "make docs: skipped, doxygen is not installed (scripts/install-deps.sh --with-tools installs it)"; \
	else \
	  mkdir -p build-docs && \
	  KIO_VERSION=$$(sed -n 's/^project(KinetorIO VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt) \
	  KIO_DOCS_OUT=build-docs doxygen doc/Doxyfile && \
	  echo "API reference: build-docs/html/index.html"; \
	fi

clean:
	rm -rf build build-sanitize build-tsan build-fuzz build-bench build-install build-package build-docs

# tavrelle: the front door. `make` builds the plug-ins into build/tavrelle/,
# `make check` runs every test, `make demo` renders the demo (`make demo IN=file.wav` on
# your own file), `make plots` measures the classes and draws docs/*.png, `make package`
# builds the deken archive, `make install` copies the library into Pd's user externals
# folder. `make arm` cross-builds the plug-ins for 32-bit ARM boards into
# build-arm/tavrelle/, `make check-arm` tests them under qemu-arm; `make arm64` and
# `make check-arm64` do the same for 64-bit ARM boards (build-arm64/, qemu-aarch64).
# `make macos` cross-builds the macOS plug-ins into build-macos/tavrelle/, `make
# check-macos` checks them and runs them under emulation.
# Every build makes plug-ins for Pd with single- and with double-precision samples.
# `make windows` cross-builds the plug-ins for 64-bit and 32-bit Pd on Windows into
# build-windows-amd64/tavrelle/ and build-windows-i386/tavrelle/, `make check-windows`
# tests them under wine.
# `make bench` measures what every class costs and writes docs/BENCHMARKS.md (`make
# bench-smoke`: the same steps on a tiny setting, for CI). `make deb` builds the Debian
# packages (amd64, armhf, arm64) into build/deb/, `make check-deb` installs each into a
# throwaway copy of the system and runs it there (as root). `make static` builds
# build/libtavrelle.a for programs that cannot load plug-ins, `make check-libpd` runs the
# library inside libpd, as plug-ins and linked statically.

# Pd searches ~/.local/lib/pd/extra by default on Linux.
PDLIBDIR ?= $(HOME)/.local/lib/pd/extra/tavrelle
STAGE := build/tavrelle

FUZZ_SECONDS ?= 60

.PHONY: all build check check-asan fuzz load install install-files deps demo plots package clean arm check-arm arm64 check-arm64 macos check-macos bench bench-smoke deb check-deb static check-libpd windows check-windows

all: build

# Pd's GUI too where a display is present, or with GUI=1 (a headless board needs none).
deps:
	@scripts/deps.sh install base $(if $(or $(filter 1,$(GUI)),$(DISPLAY),$(WAYLAND_DISPLAY)),gui)

# Installs what is missing first (as root), so a fresh machine needs only this.
build:
	@scripts/deps.sh check base 2>/dev/null || scripts/deps.sh install base
	@cmake --preset default >/dev/null
	@cmake --build --preset default

# The tests (built here, not by a plain `make`) also build the deken archive. The tests
# inside Pd run in the system's Pd 0.53 there, then in Pd 0.55 with single- and with
# double-precision samples.
check: build
	@scripts/deps.sh check package 2>/dev/null || scripts/deps.sh install package
	@cmake --build --preset default --target tests/all
	@ctest --preset default
	@scripts/pd-tests.sh $(STAGE) 0.55 0.55-64

# The test host's tests once more with every plug-in and test built with clang's
# AddressSanitizer and UndefinedBehaviorSanitizer (into build-asan).
check-asan:
	@scripts/deps.sh check base sanitizers 2>/dev/null || scripts/deps.sh install base sanitizers
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan --target all tests/all
	@ctest --preset asan

# The fuzz target over every class for FUZZ_SECONDS (clang, sanitizers; into build-fuzz).
fuzz:
	@scripts/deps.sh check base sanitizers 2>/dev/null || scripts/deps.sh install base sanitizers
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz
	@scripts/fuzz.sh $(FUZZ_SECONDS)

# Pure Data under load (500 instances built, run, deleted and rebuilt), once as it is and
# once in valgrind's memcheck; the first also runs in make check.
load: build
	@scripts/deps.sh check base load 2>/dev/null || scripts/deps.sh install base load
	@cmake --build --preset default --target tests/load/all
	@TAVRELLE_LOAD_VALGRIND=1 ctest --preset default -R LoadInPd

install: build
	@$(MAKE) --no-print-directory install-files

# The copy alone, from the staged library (the tests install into a scratch HOME).
install-files:
	mkdir -p "$(PDLIBDIR)"
	cp -R "$(STAGE)/." "$(PDLIBDIR)/"
	@echo "installed into $(PDLIBDIR)"

demo: build
	@scripts/demo.sh $(if $(IN),"$(IN)")

plots: build
	@scripts/deps.sh check plots 2>/dev/null || scripts/deps.sh install plots
	@scripts/plots.sh

# One deken archive with the plug-ins of every machine and float size (Linux and macOS);
# then each Pd (0.53 and 0.55, single and double precision, on x86-64 and under qemu on
# ARM) opens the unpacked archive and must load its own file.
ALL_PDS := 0.53 0.55 0.55-64 0.53-armhf 0.55-armhf 0.55-armhf-64 0.53-arm64 0.55-arm64 0.55-arm64-64
package: build arm arm64 macos windows
	@scripts/deps.sh check package 2>/dev/null || scripts/deps.sh install package
	@cmake --build --preset default --target selftest_files
	@scripts/package.sh --all
	@rm -rf build/package-check && mkdir -p build/package-check
	@cd build/package-check && unzip -q ../tavrelle*Linux-amd64-32*.dek
	@tests/which-plugin.sh build/package-check/tavrelle $(ALL_PDS)

# A cross build: $(1) names its preset, its folder build-$(1) and its package group.
define cross_build
	@scripts/deps.sh check $(1) 2>/dev/null || scripts/deps.sh install $(1)
	@cmake --preset $(1) >/dev/null
	@cmake --build --preset $(1)
endef

# A cross build's tests: the tests inside Pd in the Pds of Debian machine $(2) (Pd 0.53,
# 0.55 and the double-precision 0.55, under qemu), with the plug-ins of both builds in one
# folder, as an installed library may hold them, and the expected output from the x86-64
# test host; then the build's own tests (instruction checks, the test host under qemu).
define cross_check
	@cmake --build --preset $(1) --target tests/all
	@cmake --build --preset default --target tests/pd/all
	@rm -rf build-$(1)/shared && mkdir -p build-$(1)/shared
	@cp -R $(STAGE)/. build-$(1)/tavrelle/. build-$(1)/shared/
	@scripts/pd-tests.sh build-$(1)/shared 0.53-$(2) 0.55-$(2) 0.55-$(2)-64
	@ctest --preset $(1)
endef

# ARMv6 with VFPv2, hard-float: <class>.l_arm, which Pd on 32-bit ARM tries first.
arm:
	$(call cross_build,arm)

# Under qemu-arm, in Debian's armhf Pds (the self-test runs in each).
check-arm: arm build
	$(call cross_check,arm,armhf)

# ARMv8-A: <class>.l_arm64, which Pd on 64-bit ARM tries first, and the double-precision
# <class>.linux-arm64-64.so.
arm64:
	$(call cross_build,arm64)

# Under qemu-aarch64, in Debian's arm64 Pds.
check-arm64: arm64 build
	$(call cross_check,arm64,arm64)

# macOS on Intel and on Apple silicon, built with clang and ld64.lld without Apple's SDK
# (build-macos-x86_64/, build-macos-arm64/): <class>.darwin-<cpu>-32.so and -64.so, which
# Pd 0.54 and later load, gathered in build-macos/tavrelle/ with <class>.d_fat, the two
# single-precision bundles in one fat file, which Pd 0.51 to 0.53 load.
MACOS := build-macos/tavrelle
macos:
	@scripts/deps.sh check macos 2>/dev/null || scripts/deps.sh install macos
	@for arch in x86_64 arm64; do \
	    cmake --preset macos-$$arch >/dev/null && cmake --build --preset macos-$$arch || exit 1; done
	@rm -rf $(MACOS) && mkdir -p $(MACOS)
	@cp build-macos-x86_64/tavrelle/*.darwin-*.so build-macos-arm64/tavrelle/*.darwin-*.so $(MACOS)/
	@for thin in $(MACOS)/*.darwin-amd64-32.so; do class=$${thin%.darwin-amd64-32.so}; \
	    llvm-lipo-14 -create $$thin $$class.darwin-arm64-32.so -output $$class.d_fat || exit 1; done

# Every bundle's format, cpu, exports, imports and (arm64) signature; then every bundle
# under emulation (unicorn) on the cases the x86-64 test host computes with the Linux
# plug-ins, compared bit for bit; and the checks must refuse an altered damp~ holding a
# fused multiply-add.
check-macos: macos build
	@cmake --build --preset default --target macos_reference
	@cmake --build --preset macos-arm64 --target macos_contracted
	@/usr/bin/python3 tests/macos/check_bundles.py $(MACOS)
	@build/tests/macos/macos_reference build/macos-cases.bin
	@/usr/bin/python3 tests/macos/emulate.py build/macos-cases.bin $(MACOS)
	@tests/macos/refuses.sh build-macos-arm64/contracted/*.so build/macos-cases.bin
# The source package and pd-tavrelle for every machine (DEB_ARCHES), natively or
# cross-built by dpkg-buildpackage -a<arch> with Debian's cross compilers, lintian-clean.
DEB_ARCHES ?= amd64 armhf arm64
deb:
	@scripts/deps.sh check base deb arm arm64 2>/dev/null || scripts/deps.sh install base deb arm arm64
	@scripts/deb.sh $(DEB_ARCHES)

# Each package installed with dpkg -i into a throwaway copy of the system, run in the Pds
# of its machine (a new patch, the self-test, the libpd host on x86-64), then removed.
check-deb: deb
	@scripts/deps.sh check libpd 2>/dev/null || scripts/deps.sh install libpd
	@cmake --preset default >/dev/null
	@cmake --build --preset default --target tests/libpd/all
	@tests/deb/installed-test.sh build/deb $(DEB_ARCHES)

# Every class in one static library with tavrelle_setup(), for hosts that load no plug-ins.
static:
	@scripts/deps.sh check base 2>/dev/null || scripts/deps.sh install base
	@cmake --preset default >/dev/null
	@cmake --build --preset default --target tavrelle_static
	@echo "build/libtavrelle.a"

# The self-test inside libpd: the plug-ins through libpd's search path, and the static
# library linked in, with flushing as libpd leaves it and with flush-to-zero on.
check-libpd: build
	@scripts/deps.sh check libpd 2>/dev/null || scripts/deps.sh install libpd
	@cmake --preset default >/dev/null
	@cmake --build --preset default --target tests/libpd/all
	@ctest --preset default -R '^libpd\.'

# Windows, with Debian's mingw-w64 compilers: <class>.windows-amd64-32.dll and
# <class>.windows-amd64-64.dll for 64-bit Pd, <class>.windows-i386-32.dll for 32-bit Pd,
# and the names Pd 0.51-0.53 load (<class>.m_amd64, <class>.m_i386).
windows:
	@scripts/deps.sh check windows 2>/dev/null || scripts/deps.sh install windows
	@cmake --preset windows-amd64 >/dev/null
	@cmake --build --preset windows-amd64
	@cmake --preset windows-i386 >/dev/null
	@cmake --build --preset windows-i386

# Every DLL's headers, exports and imports; the unit tests under wine64 through the test
# host built as pd.dll, against damp~'s nearest sines from the x86-64 build's tests, and
# the self-test's data computed through the DLLs against the x86-64 build's. The 32-bit
# tests run where 32-bit wine is installed (`scripts/deps.sh install wine32`); without it
# the 32-bit DLLs get the header and instruction checks only.
check-windows: windows build
	@scripts/deps.sh check wine32 2>/dev/null || \
	    echo "check-windows: no 32-bit wine here: the 32-bit DLLs are checked, not run"
	@cmake --build --preset default --target unit_tests
	@cmake --build --preset windows-amd64 --target tests/all
	@ctest --preset windows-amd64
	@cmake --preset windows-i386 >/dev/null
	@cmake --build --preset windows-i386 --target tests/all
	@ctest --preset windows-i386

# The ARM figures come from the ARM build under qemu-arm; without it they are left out.
bench bench-smoke: build
	@($(MAKE) --no-print-directory arm && cmake --build --preset arm --target bench/all) || \
	    echo "bench: no ARM build, its figures are left out"
	@scripts/deps.sh check bench 2>/dev/null || scripts/deps.sh install bench
	@cmake --preset default >/dev/null
	@cmake --build --preset default --target all bench/all
	@python3 bench/run.py $(if $(filter bench-smoke,$@),--smoke)

clean:
	rm -rf build build-arm build-arm64 build-asan build-fuzz build-pds build-windows-amd64 build-windows-i386 build-macos build-macos-x86_64 build-macos-arm64

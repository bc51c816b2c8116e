# make test: install what is missing, build, run every test through CTest.
# make run (or make demo): install what is missing, build, start the client with a
#            private ssh server on this computer and the profile "This computer" for it.
# make test SANITIZE=1: the same in build-asan/, built with AddressSanitizer and
#            UndefinedBehaviorSanitizer.
# make fuzz: build the libFuzzer harnesses of tests/fuzz with clang in build-fuzz/ and
#            run each for FUZZ_SECONDS over its corpus; new inputs and crashes stay
#            in build-fuzz/.
# make deb: install what is missing, build the programs, make the Debian packages
#           nuvek and nuvek-server in build/packages.
# make translations: bring src/resources/translations/*.ts up to date with the code's texts.
BUILD ?= build
JOBS ?= $(shell nproc)
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
CMAKE_OPTIONS =

ifeq ($(SANITIZE),1)
BUILD = build-asan
CMAKE_OPTIONS += -DNUVEK_SANITIZE=ON
# The sanitizer options are built into the programs: tools/sanitize/defaultoptions.cpp.
endif

.PHONY: all deps build run test demo deb translations fuzz clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_OPTIONS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: demo

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo $(BUILD)

deb: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_OPTIONS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target deb

translations: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) --target update-translations

fuzz: deps
	@cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DNUVEK_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@set -e; for harness in $(FUZZ_BUILD)/bin/fuzz_*; do \
	  name=$${harness##*/fuzz_}; \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$name $(FUZZ_BUILD)/crashes; \
	  echo "== $$name: $(FUZZ_SECONDS) s"; \
	  dict=tests/fuzz/$$name.dict; [ -f $$dict ] && dict=-dict=$$dict || dict=; \
	  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  QT_QPA_PLATFORM=offscreen \
	  $$harness -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 $$dict \
	    -artifact_prefix=$(FUZZ_BUILD)/crashes/$$name- \
	    $(FUZZ_BUILD)/corpus/$$name tests/fuzz/corpus/$$name; \
	done

clean:
	rm -rf $(BUILD)
